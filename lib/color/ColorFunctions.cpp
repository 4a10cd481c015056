#include "color/ColorFunctions.h"

#include <cstdlib>

namespace Color {

namespace {

constexpr std::uint32_t kFull = 255;

// The wheel's six sectors: each starts at its first position and spans the divisor of its ramp.
// The divisors 42, 43 and 44 share the 256 positions out unevenly, so the wheel ends at
// red 255, blue 6 rather than back at pure red.
constexpr unsigned kYellowAt = 42;
constexpr unsigned kGreenAt = 85;
constexpr unsigned kCyanAt = 127;
constexpr unsigned kBlueAt = 170;
constexpr unsigned kMagentaAt = 212;
constexpr unsigned kShortSpan = 42;
constexpr unsigned kLongSpan = 43;
constexpr unsigned kLastSpan = 44;

constexpr std::uint8_t rampUp(unsigned steps, unsigned span) { return std::uint8_t(kFull * steps / span); }
constexpr std::uint8_t rampDown(unsigned steps, unsigned span) { return std::uint8_t(kFull - kFull * steps / span); }

constexpr std::uint8_t scaled(std::uint8_t channel, std::uint8_t t) { return std::uint8_t(channel * std::uint32_t(t) / kFull); }

} // namespace

std::uint8_t fade(std::uint8_t a, std::uint8_t b, std::uint8_t t)
{
    const std::uint32_t difference = std::uint32_t(b) - std::uint32_t(a);
    return std::uint8_t(a + difference * t / kFull);
}

rgb32_t ColorBlend(rgb32_t a, rgb32_t b, std::uint8_t t)
{
    return rgb32_t(fade(a.r(), b.r(), t), fade(a.g(), b.g(), t), fade(a.b(), b.b(), t));
}

rgb32_t ColorFade(rgb32_t c, std::uint8_t t)
{
    return rgb32_t(scaled(c.r(), t), scaled(c.g(), t), scaled(c.b(), t));
}

rgb32_t ColorWheel(std::uint8_t pos)
{
    const unsigned p = pos;
    if (p <= kYellowAt)
        return rgb32_t(0xFF, rampUp(p, kShortSpan), 0);
    if (p <= kGreenAt)
        return rgb32_t(rampDown(p - kYellowAt, kLongSpan), 0xFF, 0);
    if (p <= kCyanAt)
        return rgb32_t(0, 0xFF, rampUp(p - kGreenAt, kShortSpan));
    if (p <= kBlueAt)
        return rgb32_t(0, rampDown(p - kCyanAt, kLongSpan), 0xFF);
    if (p <= kMagentaAt)
        return rgb32_t(rampUp(p - kBlueAt, kShortSpan), 0, 0xFF);
    return rgb32_t(0xFF, 0, rampDown(p - kMagentaAt, kLastSpan));
}

rgb32_t ColorRandom()
{
    return ColorWheel(std::uint8_t(std::rand() % 256));
}

} // namespace Color
