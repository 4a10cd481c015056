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

// A decimal floating-point number with an optional '+' at p; advances past it on success.
// Values out of the type's range fail.
template <typename Float>
bool readFloat(const char*& p, const char* end, Float& value)
{
    const char* at = p;
    if (at != end && *at == '+' && at + 1 != end && at[1] != '-')
        ++at;
    const auto [next, error] = std::from_chars(at, end, value);
    if (error != std::errc())
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
