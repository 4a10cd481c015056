#pragma once

#include "display/CurvePoint.h"
#include "engine/CalibrationPoint.h"

#include <QList>

// Turns the points of a correction (one per level, the drive values each level settled on) into
// three tone curves: per channel a point at the level's nominal input with a tangent handle of a
// fixed length, and the hand-off form that a display uploads.
class CorrectionCurves
{
public:
    // Length of every tangent handle in the (level, drive) plane, and the provisional reach of a
    // handle along the level axis before it is scaled to that length.
    static constexpr double HandleLength = 0.0707;
    static constexpr double HandleReach = 0.05;

    // Rebuilds the curve fields of the points in place: levels (i / (N - 1)) ^ stepSpacing, drive
    // values, slopes and handles. Leading all-zero points after the first are dropped. Returns
    // false, leaving the points as they were, when fewer than two points are given, the last one
    // is all zero, or the result would not be finite with strictly increasing levels.
    static bool build(QList<CalibrationPoint>& points, double stepSpacing);

    // The points as the display receives them: px, py, mx, my per channel, slopes left out.
    static QList<CurvePoint> curvePoints(const QList<CalibrationPoint>& points);
};
