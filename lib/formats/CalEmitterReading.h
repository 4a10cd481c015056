#pragma once

#include <TessellaExport.h>

#include <array>
#include <cmath>

namespace Cal {

// One reading of one emitter in one colour channel: CIE 1931 chromaticity, luminance and a
// fourth value (a wavelength where the source has one).
struct TESSELLA_EXPORT EmitterReading {
    float x = 0.0f;
    float y = 0.0f;
    float Y = 0.0f;
    float wavelength = 0.0f;

    // Tristimulus (X, Y, Z) of this reading. A reading with y = 0 or a non-finite x or y (a dark
    // emitter's 0 / 0) carries no chromaticity and gives (0, 0, 0) rather than NaN.
    std::array<double, 3> toXYZ() const
    {
        if (y == 0.0f || !std::isfinite(x) || !std::isfinite(y))
            return {0.0, 0.0, 0.0};
        const double luminance = Y;
        return {double(x) * luminance / y, luminance, (1.0 - x - y) * luminance / y};
    }

    // Sets x, y and Y from tristimulus values; a zero sum counts as 1 so the result stays finite.
    void setXYZ(double X, double luminance, double Z)
    {
        double sum = X + luminance + Z;
        if (sum == 0.0)
            sum = 1.0;
        x = float(X / sum);
        y = float(luminance / sum);
        Y = float(luminance);
    }
};

} // namespace Cal
