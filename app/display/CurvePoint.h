#pragma once

#include <QMetaType>

// One point of the three tone curves that a display receives with sendCalibration: per channel a
// point of the curve (px: nominal input level 0 to 1, py: the channel's drive value there) and the
// end of its tangent handle (mx, my).
struct CurvePoint
{
    double redPx = 0.0;
    double redPy = 0.0;
    double redMx = 0.0;
    double redMy = 0.0;
    double greenPx = 0.0;
    double greenPy = 0.0;
    double greenMx = 0.0;
    double greenMy = 0.0;
    double bluePx = 0.0;
    double bluePy = 0.0;
    double blueMx = 0.0;
    double blueMy = 0.0;

    friend bool operator==(const CurvePoint&, const CurvePoint&) = default;
};

Q_DECLARE_METATYPE(CurvePoint)
