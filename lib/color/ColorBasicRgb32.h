#pragma once

#include <cstdint>

namespace Color {

// The shared body of the packed 32-bit colours: one value 0xHHRRGGBB with blue in the low byte,
// so that in memory (little-endian) the bytes read blue, green, red, high. The derived type names
// the high byte (spare or white).
//
// The type is packed (alignment 1) so that it sits unpadded after a position byte in a gradient
// step; its value is only ever read and written whole, never bound to a reference.
template <typename Derived>
class __attribute__((packed)) BasicRgb32 {
public:
    constexpr BasicRgb32() = default;
    constexpr BasicRgb32(std::uint8_t red, std::uint8_t green, std::uint8_t blue, std::uint8_t high = 0)
        : value_(pack(red, green, blue, high))
    {
    }

    constexpr void setAll(std::uint8_t red, std::uint8_t green, std::uint8_t blue, std::uint8_t high = 0)
    {
        value_ = pack(red, green, blue, high);
    }

    constexpr std::uint8_t r() const { return byteAt(kRedShift); }
    constexpr std::uint8_t g() const { return byteAt(kGreenShift); }
    constexpr std::uint8_t b() const { return byteAt(kBlueShift); }
    constexpr void setR(std::uint8_t red) { setByteAt(kRedShift, red); }
    constexpr void setG(std::uint8_t green) { setByteAt(kGreenShift, green); }
    constexpr void setB(std::uint8_t blue) { setByteAt(kBlueShift, blue); }

    constexpr operator unsigned int() const { return value_; }

    static constexpr Derived Black() { return Derived(0x00, 0x00, 0x00); }
    static constexpr Derived Red() { return Derived(0xFF, 0x00, 0x00); }
    static constexpr Derived Green() { return Derived(0x00, 0xFF, 0x00); }
    static constexpr Derived Blue() { return Derived(0x00, 0x00, 0xFF); }
    static constexpr Derived Yellow() { return Derived(0xFF, 0xFF, 0x00); }
    static constexpr Derived Cyan() { return Derived(0x00, 0xFF, 0xFF); }
    static constexpr Derived Magenta() { return Derived(0xFF, 0x00, 0xFF); }
    static constexpr Derived White() { return Derived(0xFF, 0xFF, 0xFF); }

protected:
    static constexpr unsigned kBlueShift = 0;
    static constexpr unsigned kGreenShift = 8;
    static constexpr unsigned kRedShift = 16;
    static constexpr unsigned kHighShift = 24;

    constexpr std::uint8_t byteAt(unsigned shift) const { return std::uint8_t(value_ >> shift); }
    constexpr void setByteAt(unsigned shift, std::uint8_t byte)
    {
        value_ = (value_ & ~(std::uint32_t(0xFF) << shift)) | (std::uint32_t(byte) << shift);
    }

private:
    static constexpr std::uint32_t pack(std::uint8_t red, std::uint8_t green, std::uint8_t blue, std::uint8_t high)
    {
        return std::uint32_t(high) << kHighShift | std::uint32_t(red) << kRedShift | std::uint32_t(green) << kGreenShift
            | std::uint32_t(blue) << kBlueShift;
    }

    std::uint32_t value_ = 0;
};

} // namespace Color
