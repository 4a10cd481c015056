#include "formats/ccCoeffText.h"

#include "formats/TextNumbers.h"

#include <cstdint>
#include <iostream>
#include <limits>
#include <optional>
#include <string_view>
#include <type_traits>

namespace {

constexpr std::string_view kMagic = "[T9COEF20]";
constexpr std::string_view kWidthKey = "width=";
constexpr std::string_view kHeightKey = "height=";
constexpr int kValueDigits = 6;
constexpr int kFieldsPerEntry = 11;     // two position numbers and nine matrix values
constexpr std::uint64_t kFirstEntryLine = 4;

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

// "key=" and a decimal size with an optional sign, then only white space; a negative size or
// one past the range of a size does not match.
std::optional<std::size_t> sizeLine(const std::string& line, std::string_view key)
{
    if (!line.starts_with(key))
        return std::nullopt;
    const char* p = line.data() + key.size();
    const char* end = line.data() + line.size();
    std::uint64_t value = 0;
    if (!TextNumbers::readUnsigned(p, end, value) || !onlyBlanks(p, end)
        || value > std::uint64_t(std::numeric_limits<std::ptrdiff_t>::max()))
        return std::nullopt;
    return std::size_t(value);
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
    std::string lines[3];
    for (std::string& line : lines) {
        if (!std::getline(in, line))
            line.clear();
        dropCarriageReturn(line);
    }
    const bool magic = lines[0].starts_with(kMagic)
                       && onlyBlanks(lines[0].data() + kMagic.size(), lines[0].data() + lines[0].size());
    const auto width = sizeLine(lines[1], kWidthKey);
    const auto height = sizeLine(lines[2], kHeightKey);
    std::size_t count = 0;
    if (!magic || !width || !height || __builtin_mul_overflow(*width, *height, &count)) {
        std::cerr << "Incorrect header in " << name << std::endl;
        return {};
    }

    ccCoeffFile table;
    table.width = *width;
    table.height = *height;
    // Entries are only stored as lines are read: the declared size bounds them, never sizes them.
    std::uint64_t lineNumber = kFirstEntryLine;
    std::string line;
    while (table.entries.size() < count && std::getline(in, line)) {
        dropCarriageReturn(line);
        if (onlyBlanks(line.data(), line.data() + line.size()))
            continue;
        ccCoeffFile::Entry entry;
        const int fields = scanEntry(line, entry);
        if (fields != kFieldsPerEntry)
            std::cout << "bad entry, read " << std::min(fields, kFieldsPerEntry) << " fields on line " << lineNumber
                      << std::endl;
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
