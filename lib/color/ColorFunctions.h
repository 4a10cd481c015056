#pragma once

#include "color/ColorRgb32.h"

#include <TessellaExport.h>

#include <cstdint>

namespace Color {

// One channel of a blend from a towards b with weight t (0 keeps a, 255 reaches b). The
// difference and product are formed in unsigned 32-bit arithmetic, so that blending downwards
// rounds one step high when the product leaves a remainder of 0 or 1 (255 towards 0 at t = 255
// gives 1).
TESSELLA_EXPORT std::uint8_t fade(std::uint8_t a, std::uint8_t b, std::uint8_t t);

// fade applied to red, green and blue; the top byte of the result is 0.
TESSELLA_EXPORT rgb32_t ColorBlend(rgb32_t a, rgb32_t b, std::uint8_t t);

// Each of red, green and blue scaled by t / 255, remainder dropped; the top byte is 0.
TESSELLA_EXPORT rgb32_t ColorFade(rgb32_t c, std::uint8_t t);

// A hue wheel over 0-255: red (0), yellow (42), green (85), cyan (127), blue (170),
// magenta (212), back towards red. The top byte is 0.
TESSELLA_EXPORT rgb32_t ColorWheel(std::uint8_t pos);

// The wheel at a position drawn from the standard rand().
TESSELLA_EXPORT rgb32_t ColorRandom();

} // namespace Color
