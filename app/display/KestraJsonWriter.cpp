#include "display/KestraJsonWriter.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <type_traits>
#include <utility>

namespace {

// Qt writes a double that holds a whole number of at most this size as an integer.
constexpr double kLargestExactInteger = 9007199254740992.0; // 2^53
// The longest shortest-form double std::to_chars writes in scientific notation:
// "-1.2345678901234567e-308".
constexpr std::size_t kScientificBufferSize = 32;
// Significant digits of a double in its shortest form: at most 17.
constexpr std::size_t kMaxDigits = 17;
// The longest number written: a sign, 17 digits, a point and, in decimal form, at most
// kExponentFormOverhead + 1 zeros and a leading "0." (see decimalIsShorter).
constexpr std::size_t kLongestNumber = 32;
// The longest integer: "-9223372036854775808".
constexpr std::size_t kIntegerBufferSize = 24;
// The longest escape of one UTF-16 code unit or surrogate pair: "\uXXXX", or four UTF-8 bytes.
constexpr std::size_t kLongestEscape = 6;
// Qt's exponent has at least two digits: 1e+05, 1e-07.
constexpr int kExponentWidth = 2;
// How Qt's 'g' format chooses between decimal and exponent form, at the shortest precision: the
// characters the exponent form adds ("e", its sign and digits), set against the zeros and the
// point that the decimal form would need. See decimalIsShorter.
constexpr int kExponentFormOverhead = 2 + kExponentWidth;
constexpr char16_t kFirstNonAscii = 0x80;
constexpr char16_t kFirstNonControl = 0x20;
constexpr char16_t kFirstThreeByteUtf8 = 0x800;
constexpr char16_t kFirstHighSurrogate = 0xd800;
constexpr char16_t kFirstLowSurrogate = 0xdc00;
constexpr char16_t kPastSurrogates = 0xe000;
constexpr char32_t kFirstSupplementary = 0x10000;

using Escape = std::array<char, kLongestEscape>;

char hexDigit(unsigned value)
{
    constexpr std::string_view digits = "0123456789abcdef";
    return digits[value & 0xfu];
}

// An ASCII character that Qt writes as it is, without an escape.
template <class Char>
bool standsForItself(Char c)
{
    const auto code = static_cast<std::make_unsigned_t<Char>>(c);
    return code >= kFirstNonControl && code < kFirstNonAscii && code != u'"' && code != u'\\';
}

// The escape of an ASCII character that does not stand for itself, as Qt writes it.
std::string_view asciiEscape(char16_t c, Escape& escape)
{
    switch (c) {
    case u'"': return "\\\"";
    case u'\\': return "\\\\";
    case u'\b': return "\\b";
    case u'\f': return "\\f";
    case u'\n': return "\\n";
    case u'\r': return "\\r";
    case u'\t': return "\\t";
    default:
        escape = {'\\', 'u', '0', '0', hexDigit(c >> 4), hexDigit(c)};
        return {escape.data(), escape.size()};
    }
}

// Qt writes a code unit that no character of UTF-8 can hold (an unpaired surrogate) as an escape.
std::string_view unicodeEscape(char16_t c, Escape& escape)
{
    escape = {'\\', 'u', hexDigit(c >> 12), hexDigit(c >> 8), hexDigit(c >> 4), hexDigit(c)};
    return {escape.data(), escape.size()};
}

std::string_view utf8(char32_t c, Escape& bytes)
{
    if (c < kFirstNonAscii) {
        bytes[0] = char(c);
        return {bytes.data(), 1};
    }
    if (c < kFirstThreeByteUtf8) {
        bytes[0] = char(0xc0 | (c >> 6));
        bytes[1] = char(0x80 | (c & 0x3f));
        return {bytes.data(), 2};
    }
    if (c < kFirstSupplementary) {
        bytes[0] = char(0xe0 | (c >> 12));
        bytes[1] = char(0x80 | ((c >> 6) & 0x3f));
        bytes[2] = char(0x80 | (c & 0x3f));
        return {bytes.data(), 3};
    }
    bytes[0] = char(0xf0 | (c >> 18));
    bytes[1] = char(0x80 | ((c >> 12) & 0x3f));
    bytes[2] = char(0x80 | ((c >> 6) & 0x3f));
    bytes[3] = char(0x80 | (c & 0x3f));
    return {bytes.data(), 4};
}

bool isHighSurrogate(char16_t c)
{
    return c >= kFirstHighSurrogate && c < kFirstLowSurrogate;
}

bool isLowSurrogate(char16_t c)
{
    return c >= kFirstLowSurrogate && c < kPastSurrogates;
}

// Whether Qt's 'g' format at the shortest precision writes `count` significant digits with the
// decimal point after `point` of them (0.0012 has the digits "12" and the point at -2) in decimal
// form rather than with an exponent: whichever is shorter, decimal on a tie.
bool decimalIsShorter(int count, int point)
{
    int overhead = kExponentFormOverhead;
    if (count > 1 && count <= point)
        ++overhead; // the exponent form needs a point that the decimal form does not
    else if (count == 1 && point <= 0)
        --overhead; // the decimal form needs a point that the exponent form does not
    if (point <= 0)
        return 1 - point <= overhead; // leading zeros
    if (point <= count)
        return true;
    return point <= count + overhead; // trailing zeros
}

} // namespace

KestraJsonWriter::KestraJsonWriter(std::size_t expectedSize)
{
    m_text.resize(expectedSize);
}

KestraJsonWriter& KestraJsonWriter::openObject()
{
    beginMember();
    put('{');
    return *this;
}

KestraJsonWriter& KestraJsonWriter::openObject(std::string_view key)
{
    appendKey(key);
    put('{');
    return *this;
}

KestraJsonWriter& KestraJsonWriter::openObject(QStringView key)
{
    appendKey(key);
    put('{');
    return *this;
}

KestraJsonWriter& KestraJsonWriter::closeObject()
{
    put('}');
    return *this;
}

KestraJsonWriter& KestraJsonWriter::number(std::string_view key, double value)
{
    appendKey(key);
    appendNumber(value);
    return *this;
}

KestraJsonWriter& KestraJsonWriter::integer(std::string_view key, qint64 value)
{
    appendKey(key);
    appendInteger(value);
    return *this;
}

KestraJsonWriter& KestraJsonWriter::boolean(std::string_view key, bool value)
{
    appendKey(key);
    put(value ? std::string_view("true") : std::string_view("false"));
    return *this;
}

KestraJsonWriter& KestraJsonWriter::string(std::string_view key, std::string_view value)
{
    appendKey(key);
    appendQuoted(value);
    return *this;
}

std::string KestraJsonWriter::take()
{
    m_text.resize(m_used);
    m_used = 0;
    return std::exchange(m_text, {});
}

void KestraJsonWriter::appendKey(std::string_view key)
{
    beginMember();
    appendQuoted(key);
    put(':');
}

void KestraJsonWriter::appendKey(QStringView key)
{
    beginMember();
    appendQuoted(key);
    put(':');
}

void KestraJsonWriter::appendQuoted(std::string_view latin1)
{
    put('"');
    if (std::all_of(latin1.begin(), latin1.end(), [](char byte) { return standsForItself(byte); })) {
        put(latin1); // the program's own keys and values, as a rule
    } else {
        Escape escape{};
        for (const char byte : latin1) {
            const auto c = char16_t(static_cast<unsigned char>(byte));
            if (standsForItself(c))
                put(byte);
            else
                put(c < kFirstNonAscii ? asciiEscape(c, escape) : utf8(c, escape));
        }
    }
    put('"');
}

void KestraJsonWriter::appendQuoted(QStringView text)
{
    put('"');
    const char16_t* at = text.utf16();
    const char16_t* const end = at + text.size();
    if (std::all_of(at, end, [](char16_t c) { return standsForItself(c); })) {
        // A receiver's MAC address, as a rule: one byte per character.
        std::transform(at, end, room(std::size_t(text.size())), [](char16_t c) { return char(c); });
        m_used += std::size_t(text.size());
        put('"');
        return;
    }
    Escape escape{};
    while (at != end) {
        const char16_t c = *at++;
        if (standsForItself(c)) {
            put(char(c));
        } else if (c < kFirstNonAscii) {
            put(asciiEscape(c, escape));
        } else if (isHighSurrogate(c) && at != end && isLowSurrogate(*at)) {
            const char16_t low = *at++;
            put(utf8(kFirstSupplementary + ((char32_t(c) - kFirstHighSurrogate) << 10)
                         + (char32_t(low) - kFirstLowSurrogate),
                     escape));
        } else if (isHighSurrogate(c) || isLowSurrogate(c)) {
            put(unicodeEscape(c, escape));
        } else {
            put(utf8(c, escape));
        }
    }
    put('"');
}

void KestraJsonWriter::appendInteger(qint64 value)
{
    char* at = room(kIntegerBufferSize);
    m_used += std::size_t(std::to_chars(at, at + kIntegerBufferSize, value).ptr - at);
}

void KestraJsonWriter::appendNumber(double value)
{
    if (!std::isfinite(value)) {
        put("null");
        return;
    }
    if (std::trunc(value) == value && std::fabs(value) <= kLargestExactInteger) {
        appendInteger(qint64(value)); // -0.0 too, as 0
        return;
    }

    // The shortest digits that read back to the same double, as [-]d[.ddd]e(+|-)xx[x].
    std::array<char, kScientificBufferSize> scientific{};
    const char* const written =
        std::to_chars(scientific.data(), scientific.data() + scientific.size(), value, std::chars_format::scientific)
            .ptr;
    const char* at = scientific.data();
    const bool negative = *at == '-';
    if (negative)
        ++at;
    std::array<char, kMaxDigits> digits{};
    int count = 0;
    digits[std::size_t(count++)] = *at++;
    if (*at == '.') {
        for (++at; *at != 'e'; ++at)
            digits[std::size_t(count++)] = *at;
    }
    ++at; // past 'e'
    const bool negativeExponent = *at++ == '-';
    int exponent = 0;
    for (; at != written; ++at)
        exponent = exponent * 10 + (*at - '0');
    if (negativeExponent)
        exponent = -exponent;
    const int point = exponent + 1;

    char* const start = room(kLongestNumber);
    char* out = start;
    if (negative)
        *out++ = '-';
    const auto copyDigits = [&out, &digits](int from, int to) {
        out = std::copy(digits.data() + from, digits.data() + to, out);
    };
    if (!decimalIsShorter(count, point)) {
        *out++ = digits[0];
        if (count > 1) {
            *out++ = '.';
            copyDigits(1, count);
        }
        *out++ = 'e';
        *out++ = negativeExponent ? '-' : '+';
        const int magnitude = std::abs(exponent);
        if (magnitude < 10)
            *out++ = '0';
        out = std::to_chars(out, start + kLongestNumber, magnitude).ptr;
    } else if (point <= 0) {
        *out++ = '0';
        *out++ = '.';
        out = std::fill_n(out, -point, '0');
        copyDigits(0, count);
    } else if (point < count) {
        copyDigits(0, point);
        *out++ = '.';
        copyDigits(point, count);
    } else {
        copyDigits(0, count);
        out = std::fill_n(out, point - count, '0');
    }
    m_used += std::size_t(out - start);
}
