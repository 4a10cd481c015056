#pragma once

#include <charconv>
#include <cstdint>
#include <string>
#include <system_error>

// Number reading and writing for the text formats. std::from_chars and std::to_chars never
// consult a locale, so a host that set LC_NUMERIC (or imbued its stream) to a comma-decimal
// locale reads and writes the same text as the C locale, without touching the process locale.
namespace TextNumbers {

// White space within a line, as the C locale's isspace has it (the line feed ends the line).
constexpr bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r'; }

inline void skipBlanks(const char*& p, const char* end)
{
    while (p != end && isBlank(*p))
        ++p;
}

// A decimal integer with an optional '+' at p; advances past it on success.
inline bool readUnsigned(const char*& p, const char* end, std::uint64_t& value)
{
    const char* at = p;
    if (at != end && *at == '+')
        ++at;
    if (at == end || *at < '0' || *at > '9')
        return false;
    const auto [next, error] = std::from_chars(at, end, value);
    if (error != std::errc())
        return false;
    p = next;
    return true;
}

// True when the decimal number text [first, last) (as std::from_chars matched it: an optional
// '-', digits with at most one point, an optional exponent) is below 1 in magnitude. Decides
// on its digits alone, so a number beyond every floating type's range is judged as well.
inline bool belowOne(const char* first, const char* last)
{
    const char* p = first;
    if (p != last && *p == '-')
        ++p;
    long long integerDigits = 0; // significant digits before the point
    long long leadingZeros = 0;  // zeros after the point before the first significant digit
    bool significant = false;
    bool afterPoint = false;
    for (; p != last && *p != 'e' && *p != 'E'; ++p) {
        if (*p == '.') {
            afterPoint = true;
            continue;
        }
        if (*p != '0')
            significant = true;
        if (!afterPoint && significant)
            ++integerDigits;
        else if (afterPoint && !significant)
            ++leadingZeros;
    }
    if (!significant)
        return true;
    // The power of ten of the first significant digit, before the exponent.
    const long long order = integerDigits > 0 ? integerDigits - 1 : -leadingZeros - 1;
    constexpr long long kSaturated = 1'000'000'000;
    long long exponent = 0;
    if (p != last) {
        ++p;
        const bool negative = p != last && *p == '-';
        if (p != last && (*p == '-' || *p == '+'))
            ++p;
        for (; p != last && exponent < kSaturated; ++p)
            exponent = exponent * 10 + (*p - '0');
        if (negative)
            exponent = -exponent;
    }
    return order + exponent < 0;
}

// A decimal floating-point number with an optional '+' at p; advances past it on success.
// A value too large for the type fails; one too small for it reads as zero of its sign, as a
// stream or scanf read of it does (underflow is no error there).
template <typename Float>
bool readFloat(const char*& p, const char* end, Float& value)
{
    const char* at = p;
    if (at != end && *at == '+' && at + 1 != end && at[1] != '-')
        ++at;
    const auto [next, error] = std::from_chars(at, end, value);
    if (error == std::errc::result_out_of_range && belowOne(at, next))
        value = *at == '-' ? -Float(0) : Float(0);
    else if (error != std::errc())
        return false;
    p = next;
    return true;
}

// Appends value in fixed point with precision digits after the point (as "%.*f" in the C
// locale; a negative precision means 6, as it does there).
template <typename Number>
void appendFixed(std::string& out, Number value, int precision)
{
    if (precision < 0)
        precision = 6;
    char buffer[80];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, precision);
    if (result.ec == std::errc()) {
        out.append(buffer, result.ptr);
        return;
    }
    // Large values or precisions: a sign, up to 309 integer digits of a double, the point and
    // the fraction.
    std::string wide(312 + std::size_t(precision), '\0');
    result = std::to_chars(wide.data(), wide.data() + wide.size(), value, std::chars_format::fixed, precision);
    out.append(wide.data(), result.ptr);
}

template <typename Integer>
void appendInteger(std::string& out, Integer value)
{
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

} // namespace TextNumbers
