#include "engine/LevelTable.h"

#include <cmath>

namespace {
constexpr double SrgbKnee = 0.04045;
constexpr double SrgbOffset = 0.055;
constexpr double SrgbExponent = 2.4;
} // namespace

namespace LevelTable {

double srgb(double x)
{
    const auto curve = [](double value) { return std::pow((value + SrgbOffset) / (1.0 + SrgbOffset), SrgbExponent); };
    if (x > SrgbKnee)
        return curve(x);
    return x * curve(SrgbKnee) / SrgbKnee;
}

QList<Level> build(unsigned steps, double spacing, double gamma, bool useSRGB, double black, double target)
{
    const double span = target - black;
    QList<Level> levels;
    levels.reserve(qsizetype(steps) + 1);
    for (unsigned i = 0; i <= steps; ++i) {
        Level level;
        level.x = std::pow(double(i) / double(steps), spacing);
        level.gammaLevel = std::pow(level.x, gamma) * span + black;
        level.srgbLevel = srgb(level.x) * span + black;
        level.entry = float(useSRGB ? level.srgbLevel : level.gammaLevel);
        levels.append(level);
    }
    return levels;
}

} // namespace LevelTable
