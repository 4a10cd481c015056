#pragma once

#include "color/ColorBasicRgb32.h"

namespace Color {

// A packed colour 0xUURRGGBB whose top byte is unused by the colour functions (they clear it).
class rgb32_t : public BasicRgb32<rgb32_t> {
public:
    using BasicRgb32::BasicRgb32;

    constexpr std::uint8_t unused() const { return byteAt(kHighShift); }
    constexpr void setUnused(std::uint8_t unused) { setByteAt(kHighShift, unused); }
};

static_assert(sizeof(rgb32_t) == 4, "rgb32_t is exactly four bytes");

} // namespace Color
