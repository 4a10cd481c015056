#pragma once

#include <cstdint>

namespace Color {

// An 8-bit colour as three bytes in the order red, green, blue.
struct rgb24_t {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;

    constexpr rgb24_t() = default;
    constexpr rgb24_t(std::uint8_t red, std::uint8_t green, std::uint8_t blue) : r(red), g(green), b(blue) {}

    static constexpr rgb24_t Black() { return {0x00, 0x00, 0x00}; }
    static constexpr rgb24_t Red() { return {0xFF, 0x00, 0x00}; }
    static constexpr rgb24_t Green() { return {0x00, 0xFF, 0x00}; }
    static constexpr rgb24_t Blue() { return {0x00, 0x00, 0xFF}; }
    static constexpr rgb24_t Yellow() { return {0xFF, 0xFF, 0x00}; }
    static constexpr rgb24_t Cyan() { return {0x00, 0xFF, 0xFF}; }
    static constexpr rgb24_t Magenta() { return {0xFF, 0x00, 0xFF}; }
    static constexpr rgb24_t White() { return {0xFF, 0xFF, 0xFF}; }
};

static_assert(sizeof(rgb24_t) == 3, "rgb24_t is exactly three bytes");

} // namespace Color
