#include "support/MessageCapture.h"
#include "support/QtPrinters.h"

#include "shell/CorrectionCurves.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

CalibrationPoint drive(double red, double green, double blue)
{
    CalibrationPoint point;
    point.red = red;
    point.green = green;
    point.blue = blue;
    return point;
}

// A point per level with every channel at the given drive.
QList<CalibrationPoint> grey(std::initializer_list<double> drives)
{
    QList<CalibrationPoint> points;
    for (double value : drives)
        points.append(drive(value, value, value));
    return points;
}

double handleLength(const CalibrationPoint& point)
{
    return std::hypot(point.redMx - point.redPx, point.redMy - point.redPy);
}

} // namespace

TEST(CorrectionCurves, LevelsFollowTheStepSpacing)
{
    struct Case
    {
        double spacing;
        std::array<double, 5> levels;
    };
    for (const Case& c : {Case{1.0, {0, 0.25, 0.5, 0.75, 1}}, Case{2.0, {0, 0.0625, 0.25, 0.5625, 1}}}) {
        QList<CalibrationPoint> points = grey({0.0, 0.1, 0.3, 0.6, 1.0});
        ASSERT_TRUE(CorrectionCurves::build(points, c.spacing));
        ASSERT_EQ(points.size(), 5);
        for (int i = 0; i < 5; ++i) {
            EXPECT_DOUBLE_EQ(points[i].redPx, c.levels[i]) << c.spacing << " level " << i;
            EXPECT_DOUBLE_EQ(points[i].bluePx, c.levels[i]);
            EXPECT_DOUBLE_EQ(points[i].greenPy, points[i].green);
        }
    }
}

TEST(CorrectionCurves, BlackLevelsAfterTheFirstAreDroppedAndTheRestKeepTheirLevels)
{
    QList<CalibrationPoint> points = grey({0.0, 0.0, 0.0, 0.5, 0.7, 1.0});
    points[0].red = 0.01; // the first point stays whatever it holds
    ASSERT_TRUE(CorrectionCurves::build(points, 1.0));
    ASSERT_EQ(points.size(), 4);
    const double levels[] = {0.0, 0.6, 0.8, 1.0};
    for (int i = 0; i < 4; ++i)
        EXPECT_DOUBLE_EQ(points[i].greenPx, levels[i]);
}

TEST(CorrectionCurves, AStraightLineHasUnitSlopesAndHandlesOfTheFixedLength)
{
    QList<CalibrationPoint> points = grey({0.0, 0.25, 0.5, 0.75, 1.0});
    ASSERT_TRUE(CorrectionCurves::build(points, 1.0));
    const double diagonal = CorrectionCurves::HandleLength / std::sqrt(2.0);
    for (qsizetype i = 0; i < points.size(); ++i) {
        const CalibrationPoint& point = points[i];
        EXPECT_NEAR(point.redSlope, 1.0, 1e-12) << i;
        const double sign = i == points.size() - 1 ? -1.0 : 1.0; // only the last points back
        EXPECT_NEAR(point.redMx, point.redPx + sign * diagonal, 1e-12) << i;
        EXPECT_NEAR(point.redMy, point.redPy + sign * diagonal, 1e-12) << i;
        EXPECT_NEAR(handleLength(point), CorrectionCurves::HandleLength, 1e-12);
    }
}

TEST(CorrectionCurves, TwoPointsShareTheSecantAndPointTowardEachOther)
{
    QList<CalibrationPoint> points = grey({0.1, 0.9});
    ASSERT_TRUE(CorrectionCurves::build(points, 2.0));
    EXPECT_DOUBLE_EQ(points[0].blueSlope, 0.8);
    EXPECT_DOUBLE_EQ(points[1].blueSlope, 0.8);
    EXPECT_GT(points[0].blueMx, points[0].bluePx);
    EXPECT_LT(points[1].blueMx, points[1].bluePx);
    EXPECT_NEAR(handleLength(points[0]), CorrectionCurves::HandleLength, 1e-12);
    EXPECT_NEAR(handleLength(points[1]), CorrectionCurves::HandleLength, 1e-12);
}

TEST(CorrectionCurves, AConcaveStartHasItsFirstSlopeLimitedToZero)
{
    MessageCapture log;
    QList<CalibrationPoint> points = grey({0.0, 0.01, 0.5, 1.0});
    points[1].green = 0.3; // green rises fast and then flattens: its first slope stays positive
    ASSERT_TRUE(CorrectionCurves::build(points, 1.0));
    // Red: 2 * 0.03 - 0.5 / (2 / 3) = -0.69
    EXPECT_DOUBLE_EQ(points[0].redSlope, 0.0);
    EXPECT_GT(points[0].greenSlope, 0.0);
    EXPECT_TRUE(log.contains(QStringLiteral("Limiting p0\u2019s computed slope of -0.69000000 to 0.0")));
    EXPECT_EQ(log.messages().filter(QStringLiteral("Limiting p0")).size(), 2); // red and blue
    // The last slope is never limited.
    EXPECT_TRUE(std::isfinite(points[3].redSlope));
}

TEST(CorrectionCurves, UnusablePointsAreLeftAsTheyWere)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (QList<CalibrationPoint> points : {grey({}), grey({0.5}), grey({0.0, 0.5, 0.0}), grey({0.0, nan, 1.0}),
                                           grey({0.0, 0.5, std::numeric_limits<double>::infinity()})}) {
        const QList<CalibrationPoint> before = points;
        EXPECT_FALSE(CorrectionCurves::build(points, 1.0));
        ASSERT_EQ(points.size(), before.size());
        for (qsizetype i = 0; i < points.size(); ++i)
            EXPECT_EQ(points[i].redPx, before[i].redPx);
    }
}

TEST(CorrectionCurves, TheHandOffCarriesEveryPointWithoutSlopes)
{
    QList<CalibrationPoint> points = grey({0.0, 0.2, 0.6, 1.0});
    ASSERT_TRUE(CorrectionCurves::build(points, 1.5));
    const QList<CurvePoint> curves = CorrectionCurves::curvePoints(points);
    ASSERT_EQ(curves.size(), points.size());
    for (qsizetype i = 0; i < curves.size(); ++i) {
        EXPECT_EQ(curves[i].redPx, points[i].redPx);
        EXPECT_EQ(curves[i].greenMy, points[i].greenMy);
        EXPECT_EQ(curves[i].blueMx, points[i].blueMx);
    }
}
