#include "shell/CorrectionCurves.h"

#include <QDebug>

#include <array>
#include <cmath>

namespace {

// The members of one channel in a correction point.
struct Channel
{
    double CalibrationPoint::*drive;
    double CalibrationPoint::*px;
    double CalibrationPoint::*py;
    double CalibrationPoint::*mx;
    double CalibrationPoint::*my;
    double CalibrationPoint::*slope;
};

constexpr std::array<Channel, 3> Channels{{
    {&CalibrationPoint::red, &CalibrationPoint::redPx, &CalibrationPoint::redPy, &CalibrationPoint::redMx,
     &CalibrationPoint::redMy, &CalibrationPoint::redSlope},
    {&CalibrationPoint::green, &CalibrationPoint::greenPx, &CalibrationPoint::greenPy, &CalibrationPoint::greenMx,
     &CalibrationPoint::greenMy, &CalibrationPoint::greenSlope},
    {&CalibrationPoint::blue, &CalibrationPoint::bluePx, &CalibrationPoint::bluePy, &CalibrationPoint::blueMx,
     &CalibrationPoint::blueMy, &CalibrationPoint::blueSlope},
}};

bool allZero(const CalibrationPoint& point)
{
    return point.red == 0.0 && point.green == 0.0 && point.blue == 0.0;
}

// The slopes of one channel: the secant for two points; otherwise a three-point estimate at the
// ends (the first never negative) and, inside, the neighbouring secants weighted by the inverse
// squared length of their segments.
void buildSlopes(QList<CalibrationPoint>& points, const Channel& c)
{
    const qsizetype m = points.size();
    auto x = [&](qsizetype k) { return points[k].*c.px; };
    auto y = [&](qsizetype k) { return points[k].*c.py; };
    auto secant = [&](qsizetype k) { return (y(k + 1) - y(k)) / (x(k + 1) - x(k)); };

    if (m == 2) {
        points[0].*c.slope = secant(0);
        points[1].*c.slope = secant(0);
        return;
    }
    double first = 2.0 * secant(0) - (y(2) - y(0)) / (x(2) - x(0));
    if (first < 0.0) {
        qInfo("Limiting p0\u2019s computed slope of %.08f to 0.0", first);
        first = 0.0;
    }
    points[0].*c.slope = first;
    for (qsizetype k = 1; k <= m - 2; ++k) {
        const double left = std::pow(x(k) - x(k - 1), 2) + std::pow(y(k) - y(k - 1), 2);
        const double right = std::pow(x(k + 1) - x(k), 2) + std::pow(y(k + 1) - y(k), 2);
        points[k].*c.slope = (secant(k - 1) / left + secant(k) / right) / (1.0 / left + 1.0 / right);
    }
    points[m - 1].*c.slope = 2.0 * secant(m - 2) - (y(m - 1) - y(m - 3)) / (x(m - 1) - x(m - 3));
}

// Every handle points forward but the last, which points back; all get the same length.
void buildHandles(QList<CalibrationPoint>& points, const Channel& c)
{
    const qsizetype last = points.size() - 1;
    for (qsizetype k = 0; k <= last; ++k) {
        CalibrationPoint& point = points[k];
        const double reach = k == last ? -CorrectionCurves::HandleReach : CorrectionCurves::HandleReach;
        const double dx = reach;
        const double dy = reach * (point.*c.slope);
        const double length = std::sqrt(dx * dx + dy * dy);
        point.*c.mx = point.*c.px + dx * CorrectionCurves::HandleLength / length;
        point.*c.my = point.*c.py + dy * CorrectionCurves::HandleLength / length;
    }
}

bool usable(const QList<CalibrationPoint>& points)
{
    for (qsizetype k = 0; k < points.size(); ++k) {
        for (const Channel& c : Channels) {
            const CalibrationPoint& point = points[k];
            if (!std::isfinite(point.*c.px) || !std::isfinite(point.*c.py) || !std::isfinite(point.*c.mx)
                || !std::isfinite(point.*c.my) || !std::isfinite(point.*c.slope))
                return false;
            if (k > 0 && !(point.*c.px > points[k - 1].*c.px))
                return false;
        }
    }
    return true;
}

} // namespace

bool CorrectionCurves::build(QList<CalibrationPoint>& points, double stepSpacing)
{
    const qsizetype n = points.size();
    if (n < 2 || allZero(points.constLast()))
        return false;

    QList<CalibrationPoint> built = points;
    for (qsizetype i = 0; i < n; ++i) {
        const double level = std::pow(static_cast<double>(i) / static_cast<double>(n - 1), stepSpacing);
        CalibrationPoint& point = built[i];
        for (const Channel& c : Channels) {
            point.*c.px = level;
            point.*c.py = point.*c.drive;
        }
    }
    // Levels that stayed black at the bottom of the curve carry no shape.
    while (built.size() > 1 && allZero(built.at(1)))
        built.removeAt(1);

    for (const Channel& c : Channels) {
        buildSlopes(built, c);
        buildHandles(built, c);
    }
    if (!usable(built))
        return false;
    points = std::move(built);
    return true;
}

QList<CurvePoint> CorrectionCurves::curvePoints(const QList<CalibrationPoint>& points)
{
    QList<CurvePoint> curves;
    curves.reserve(points.size());
    for (const CalibrationPoint& point : points) {
        curves.append(CurvePoint{point.redPx, point.redPy, point.redMx, point.redMy, point.greenPx, point.greenPy,
                                 point.greenMx, point.greenMy, point.bluePx, point.bluePy, point.blueMx,
                                 point.blueMy});
    }
    return curves;
}
