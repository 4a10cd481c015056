#include "shell/FakeLdmReadings.h"

#include "display/DisplayBase.h"

#include <algorithm>
#include <cmath>

namespace {

// The spread's hash: the fractional part of a scaled sine, a common shader-style noise.
constexpr double kNumberFactor = 12.9898;
constexpr double kChannelFactor = 78.233;
constexpr double kScale = 43758.5453;

} // namespace

double FakeLdmReadings::spread(unsigned number, int channel)
{
    const double s = std::sin(number * kNumberFactor + channel * kChannelFactor) * kScale;
    return (s - std::floor(s)) * 2.0 - 1.0;
}

double FakeLdmReadings::level(double level, double gain, double deviation)
{
    return std::max(0.0, level * (1.0 + gain) * (1.0 + deviation));
}

void FakeLdmReadings::write(DisplayBase& display, double variation)
{
    // The list is read by position on each step: writing an observed value may detach it.
    const QList<Macropixel>& ldms = display.allLdms();
    const uint count = std::min(display.ldmCount(), uint(ldms.size()));
    for (uint number = 1; number <= count; ++number) {
        const Macropixel& ldm = ldms.at(qsizetype(number) - 1);
        if (!ldm.lit)
            continue;
        display.setLdmRGBObserved(number, level(RedBlueLevel, ldm.redGain, variation * spread(number, 0)),
                                  level(GreenLevel, ldm.greenGain, variation * spread(number, 1)),
                                  level(RedBlueLevel, ldm.blueGain, variation * spread(number, 2)));
    }
}
