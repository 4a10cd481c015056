#pragma once

#include "color/ColorBasicRgb32.h"

namespace Color {

// A packed colour 0xWWRRGGBB: the layout of rgb32_t with a white channel in the top byte.
class wrgb32_t : public BasicRgb32<wrgb32_t> {
public:
    using BasicRgb32::BasicRgb32;

    constexpr std::uint8_t w() const { return byteAt(kHighShift); }
    constexpr void setW(std::uint8_t white) { setByteAt(kHighShift, white); }
};

static_assert(sizeof(wrgb32_t) == 4, "wrgb32_t is exactly four bytes");

} // namespace Color
