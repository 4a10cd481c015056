#include "formats/ccCoeffText.h"

#include "formats/TextNumbers.h"

#include <cstdint>
#include <iostream>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace {

constexpr std::string_view kMagic = "[T9COEF20]";
constexpr std::string_view kWidthKey = "width=";
constexpr std::string_view kHeightKey = "height=";
constexpr int kValueDigits = 6;
constexpr int kFieldsPerEntry = 11;     // two position numbers and nine matrix values
constexpr std::uint64_t kFirstEntryLine = 4;
// Lines that assign no field at all a table may hold; each still takes its place as an
// all-zero entry, so that entries stay paired by index. Past this many the rest of the file is
// not read: a header declaring a vast table over megabytes of garbage must not turn every
// garbage line into an entry (88 bytes for as little as two bytes of text). A line that assigns
// some fields is part of the table, however many such lines it holds, and never counts here.
constexpr std::uint64_t kMaxEmptyEntries = 1000;
// The bases "%zi" reads a size in: by its prefix.
constexpr unsigned kDecimal = 10;
constexpr unsigned kOctal = 8;
constexpr unsigned kHexadecimal = 16;

using TextNumbers::isBlank;
using TextNumbers::skipBlanks;

void dropCarriageReturn(std::string& line)
{
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
}

bool onlyBlanks(const char* p, const char* end)
{
    skipBlanks(p, end);
    return p == end;
}

// White space, line ends and blank lines included, as a scan format's white space skips it.
void skipWhiteSpace(std::istream& in)
{
    for (int c = in.peek(); c == '\n' || (c != std::char_traits<char>::eof() && isBlank(char(c))); c = in.peek())
        in.get();
}

// The exact characters of text, else false.
bool expect(std::istream& in, std::string_view text)
{
    for (const char c : text)
        if (in.get() != std::char_traits<char>::to_int_type(c))
            return false;
    return true;
}

// The digit value of c in base, or -1.
int digitValue(int c, unsigned base)
{
    int value = -1;
    if (c >= '0' && c <= '9')
        value = c - '0';
    else if (c >= 'a' && c <= 'f')
        value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        value = c - 'A' + 10;
    return value >= 0 && unsigned(value) < base ? value : -1;
}

// A size as "%zi" scans it: white space, an optional sign, then hexadecimal after "0x" or "0X"
// (the prefix alone reads as 0, as the C library has it), octal after a leading 0, decimal
// otherwise. A negative size, or one past the range of a size, does not match.
std::optional<std::size_t> readSize(std::istream& in)
{
    skipWhiteSpace(in);
    bool negative = false;
    if (in.peek() == '+' || in.peek() == '-')
        negative = in.get() == '-';
    unsigned base = kDecimal;
    bool digits = false;
    if (in.peek() == '0') {
        in.get();
        digits = true;
        base = kOctal;
        if (in.peek() == 'x' || in.peek() == 'X') {
            in.get();
            base = kHexadecimal;
        }
    }
    std::uint64_t value = 0;
    bool overflow = false;
    for (int digit = digitValue(in.peek(), base); digit >= 0; digit = digitValue(in.peek(), base)) {
        in.get();
        digits = true;
        overflow = overflow || __builtin_mul_overflow(value, base, &value)
                   || __builtin_add_overflow(value, std::uint64_t(digit), &value);
    }
    if (!digits || overflow || (negative && value != 0)
        || value > std::uint64_t(std::numeric_limits<std::ptrdiff_t>::max()))
        return std::nullopt;
    return std::size_t(value);
}

struct HeaderSize {
    std::size_t width;
    std::size_t height;
};

// The header as the writer's scan format "[T9COEF20]\nwidth=%zi\nheight=%zi\n" reads it: the
// magic text at the very start of the file, then "width=" and "height=", each followed by a
// size, with any white space before each key and after each "=" (blank lines too). The rest of
// the height line must be blank.
std::optional<HeaderSize> readHeader(std::istream& in)
{
    if (!expect(in, kMagic))
        return std::nullopt;
    skipWhiteSpace(in);
    if (!expect(in, kWidthKey))
        return std::nullopt;
    const auto width = readSize(in);
    skipWhiteSpace(in);
    if (!width || !expect(in, kHeightKey))
        return std::nullopt;
    const auto height = readSize(in);
    std::string rest;
    std::getline(in, rest);
    if (!height || !onlyBlanks(rest.data(), rest.data() + rest.size()))
        return std::nullopt;
    return HeaderSize{*width, *height};
}

// A position number as "%zu" scans it: an optional sign, decimal digits; a minus sign wraps
// around as it does there, so an index the writer printed as negative reads back as itself.
bool readIndex(const char*& p, const char* end, std::size_t& value)
{
    skipBlanks(p, end);
    bool negative = false;
    const char* at = p;
    if (at != end && (*at == '-' || *at == '+')) {
        negative = *at == '-';
        ++at;
    }
    std::uint64_t magnitude = 0;
    if (at == end || *at < '0' || *at > '9' || !TextNumbers::readUnsigned(at, end, magnitude))
        return false;
    value = std::size_t(negative ? 0 - magnitude : magnitude);
    p = at;
    return true;
}

bool readValue(const char*& p, const char* end, double& value)
{
    skipBlanks(p, end);
    return TextNumbers::readFloat(p, end, value);
}

bool readComma(const char*& p, const char* end)
{
    if (p == end || *p != ',')
        return false;
    ++p;
    return true;
}

// Scans one entry line field by field; returns the number of fields assigned, or
// kFieldsPerEntry + 1 when all were but text follows them.
int scanEntry(const std::string& line, ccCoeffFile::Entry& entry)
{
    const char* p = line.data();
    const char* end = p + line.size();
    if (!readIndex(p, end, entry.first))
        return 0;
    if (!readComma(p, end) || !readIndex(p, end, entry.second))
        return 1;
    int fields = 2;
    for (double& value : entry.matrix) {
        if (!readComma(p, end) || !readValue(p, end, value))
            return fields;
        ++fields;
    }
    return onlyBlanks(p, end) ? fields : fields + 1;
}

template <typename Signed = std::make_signed_t<std::size_t>>
void appendSigned(std::string& out, std::size_t value)
{
    TextNumbers::appendInteger(out, Signed(value));
}

} // namespace

ccCoeffFile ccCoeffText::read(std::istream& in, const std::string& name)
{
    const auto size = readHeader(in);
    std::size_t count = 0;
    if (!size || __builtin_mul_overflow(size->width, size->height, &count)) {
        std::cerr << "Incorrect header in " << name << std::endl;
        return {};
    }

    ccCoeffFile table;
    table.width = size->width;
    table.height = size->height;
    // Entries are only stored as lines are read: the declared size bounds them, never sizes them.
    std::uint64_t lineNumber = kFirstEntryLine;
    std::uint64_t emptyEntries = 0;
    std::string line;
    while (table.entries.size() < count && std::getline(in, line)) {
        dropCarriageReturn(line);
        if (onlyBlanks(line.data(), line.data() + line.size()))
            continue;
        ccCoeffFile::Entry entry;
        const int fields = scanEntry(line, entry);
        if (fields != kFieldsPerEntry) {
            if (fields == 0 && ++emptyEntries > kMaxEmptyEntries) {
                std::cout.flush();
                std::cerr << name << ": more than " << kMaxEmptyEntries
                          << " bad entries that read no field, the rest from line " << lineNumber << " on is not read"
                          << std::endl;
                break;
            }
            std::cout << "bad entry, read " << std::min(fields, kFieldsPerEntry) << " fields on line " << lineNumber
                      << std::endl;
        }
        if (table.entries.empty()) {
            std::string echo;
            appendEntry(echo, entry);
            std::cout << echo << std::flush;
        }
        table.entries.push_back(entry);
        ++lineNumber;
    }
    return table;
}

std::string ccCoeffText::text(const ccCoeffFile& table)
{
    std::string out(kMagic);
    out += '\n';
    out += kWidthKey;
    appendSigned(out, table.width);
    out += '\n';
    out += kHeightKey;
    appendSigned(out, table.height);
    out += '\n';
    for (const ccCoeffFile::Entry& entry : table.entries)
        appendEntry(out, entry);
    return out;
}

void ccCoeffText::appendEntry(std::string& out, const ccCoeffFile::Entry& entry)
{
    appendSigned(out, entry.first);
    out += ',';
    appendSigned(out, entry.second);
    for (double value : entry.matrix) {
        out += ',';
        TextNumbers::appendFixed(out, value, kValueDigits);
    }
    out += '\n';
}
