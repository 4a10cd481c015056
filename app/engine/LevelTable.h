#pragma once

#include <QList>

// The target luminances of a correction's levels, from black (level 0) to the brightest (level
// steps), along a gamma curve or the sRGB curve.
namespace LevelTable {

struct Level
{
    double x = 0.0;          // (level / steps) raised to the spacing exponent
    double gammaLevel = 0.0; // black + x^gamma x (target - black)
    double srgbLevel = 0.0;  // black + sRGB(x) x (target - black)
    float entry = 0.0f;      // the one in use
};

// steps must be at least 1. A spacing above 1 packs the levels towards black.
QList<Level> build(unsigned steps, double spacing, double gamma, bool useSRGB, double black, double target);

// The sRGB decoding curve at x (0 to 1): a power of 2.4 above 0.04045, and below it a straight
// line that meets the curve there.
double srgb(double x);

} // namespace LevelTable
