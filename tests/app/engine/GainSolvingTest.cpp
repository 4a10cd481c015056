#include "engine/Calibrator.h"
#include "engine/EngineTask.h"
#include "support/MessageCapture.h"
#include "support/ModelColorimeter.h"
#include "support/ModelDriver.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

using Triple = Calibrator::Triple;

// A master calibrator in a coroutine run, measured by the default linear model with its gains as
// the drives.
class GainSolvingTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        calibrator.setTask(Calibrator::Nothing);
        calibrator.setRunning(true);
        calibrator.setUsingCoroutines(true);
        calibrator.setRgb({0.4, 0.5, 0.3});
        driver.measureNow();
    }

    static void expectMatrix(const GainMatrix& gains, const ModelColorimeter::Model& model)
    {
        for (int channel = 0; channel < 3; ++channel) {
            EXPECT_NEAR(gains.at(GainMatrix::Luma, channel), model.luma[channel], 1e-6) << channel;
            EXPECT_NEAR(gains.at(GainMatrix::CctRow, channel), model.cct[channel], 1e-6) << channel;
            EXPECT_NEAR(gains.at(GainMatrix::DuvRow, channel), model.duv[channel], 1e-9) << channel;
        }
    }

    ModelColorimeter::Model model;
    Calibrator calibrator{Calibrator::ColorimeterMode, 0};
    ModelDriver driver{calibrator, [this](const Triple& gains) { return ModelColorimeter::measure(model, gains); }};
};

TEST_F(GainSolvingTest, LinearModelGivesBackItsMatrix)
{
    MessageCapture log;
    EngineTask task = calibrator.coSetGains();
    EXPECT_EQ(driver.drive(task), 6);
    EXPECT_TRUE(task.result());
    expectMatrix(calibrator.gainMatrix(), model);
    EXPECT_EQ(log.messages().count(QStringLiteral("coSetGains: attempt #1...")), 1);
    EXPECT_FALSE(log.contains(QStringLiteral("Averaged gains:")));
    // Back where it started.
    EXPECT_EQ(calibrator.rgb(), (Triple{0.4, 0.5, 0.3}));
}

TEST_F(GainSolvingTest, SolvedDeltasLandOnTheTargets)
{
    EngineTask task = calibrator.coSetGains();
    driver.drive(task);
    calibrator.setTargetCCT(6500);
    calibrator.setTargetDuv(0.002);
    calibrator.setTargetLum(300.0);
    ASSERT_TRUE(calibrator.getRGBDeltas_());
    Triple gains = calibrator.rgb();
    for (int channel = 0; channel < 3; ++channel)
        gains[channel] += calibrator.rgbDeltas()[channel];
    const Triple reached = ModelColorimeter::measure(model, gains);
    EXPECT_NEAR(reached[Calibrator::Cct], 6500.0, 1e-6);
    EXPECT_NEAR(reached[Calibrator::Duv], 0.002, 1e-12);
    EXPECT_NEAR(reached[Calibrator::Luminance], 300.0, 1e-9);
}

TEST_F(GainSolvingTest, ImplausibleMatrixIsAveragedOverThreeAttempts)
{
    MessageCapture log;
    model.cct[0] = 100.0; // red warming the white: impossible for a real display
    driver.measureNow();
    EngineTask task = calibrator.coSetGains();
    EXPECT_EQ(driver.drive(task), 18);
    EXPECT_TRUE(task.result());
    for (int attempt = 1; attempt <= 3; ++attempt)
        EXPECT_TRUE(log.contains(QStringLiteral("setGains #%1: red CCT gain is greater than zero.").arg(attempt)));
    EXPECT_TRUE(log.contains(QStringLiteral("Averaged gains:")));
    expectMatrix(calibrator.gainMatrix(), model);
}

TEST_F(GainSolvingTest, StoppedRunMeasuresNothing)
{
    calibrator.setRunning(false);
    EngineTask task = calibrator.coSetGains();
    EXPECT_EQ(driver.drive(task), 0);
    EXPECT_FALSE(task.result());
}

TEST_F(GainSolvingTest, FirstExcursionMovesAwayFromTheNearerEnd)
{
    calibrator.setRgb({0.5, 0.2, 1.0});
    driver.measureNow();
    EngineTask task = calibrator.coSetGains();
    driver.drive(task);
    const QList<Triple> expected = {{0.48, 0.2, 1.0}, {0.5, 0.2, 1.0}, {0.5, 0.22, 1.0},
                                    {0.5, 0.2, 1.0},  {0.5, 0.2, 0.98}, {0.5, 0.2, 1.0}};
    ASSERT_EQ(driver.measuredGains().size(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i)
        for (int channel = 0; channel < 3; ++channel)
            EXPECT_NEAR(driver.measuredGains().at(i)[channel], expected.at(i)[channel], 1e-12) << i;
}

TEST_F(GainSolvingTest, SingularMatrixLeavesTheDeltas)
{
    MessageCapture log;
    GainMatrix singular;
    singular.at(GainMatrix::Luma, 0) = 1.0;
    singular.at(GainMatrix::CctRow, 1) = 1.0;
    singular.at(GainMatrix::DuvRow, 2) = 1e-21;
    calibrator.setGainMatrix(singular);
    const Triple before = calibrator.rgbDeltas();
    EXPECT_FALSE(calibrator.getRGBDeltas_());
    EXPECT_EQ(calibrator.rgbDeltas(), before);
    EXPECT_TRUE(log.messages().first().endsWith(QStringLiteral("; NOT invertible")));

    singular.at(GainMatrix::DuvRow, 2) = 2e-21;
    calibrator.setGainMatrix(singular);
    EXPECT_TRUE(calibrator.getRGBDeltas_());
}

struct LimitCase
{
    double percent;
    double gainScale;
    uint maxDelta;
    double maximumValue;
    Triple deltas;
    Triple expected;
    bool changed;
};

TEST_F(GainSolvingTest, LimitsApplyInTurn)
{
    const LimitCase cases[] = {
        {0, 0, 0, 1.0, {0.5, -0.2, 0.1}, {0.5, -0.2, 0.1}, false},
        {0, 0.05, 0, 1.0, {0.5, -0.2, 0.1}, {0.025, -0.01, 0.005}, true},
        {10, 0, 0, 1.0, {0.5, -0.2, 0.1}, {0.1, -0.04, 0.02}, true},
        {10, 0, 0, 1.0, {0.05, -0.02, 0.01}, {0.05, -0.02, 0.01}, false},
        {0, 0, 2, 2.0, {4.0, -1.0, 0.0}, {2.0, -0.5, 0.0}, true},
        // No range: no percentage of it either, and no division by it.
        {10, 0, 0, 0.0, {0.5, -0.2, 0.1}, {0.5, -0.2, 0.1}, false},
    };
    for (const LimitCase& limitCase : cases) {
        calibrator.setMaximumValue(limitCase.maximumValue);
        calibrator.setRgbDeltas(limitCase.deltas);
        EXPECT_EQ(calibrator.limitRGBDeltas_(limitCase.percent, limitCase.gainScale, limitCase.maxDelta), limitCase.changed);
        for (int channel = 0; channel < 3; ++channel)
            EXPECT_NEAR(calibrator.rgbDeltas()[channel], limitCase.expected[channel], 1e-12)
                << limitCase.percent << " " << limitCase.gainScale << " " << limitCase.maxDelta;
    }
    MessageCapture log;
    calibrator.setMaximumValue(1.0);
    calibrator.limitRGBDeltas_(0, 0.05, 0);
    EXPECT_TRUE(log.contains(QStringLiteral("limitRGBDeltas_: limiting gains by 5.0% ")));
}

TEST_F(GainSolvingTest, CameraModeRepairsTheColourDiagonal)
{
    // Red level 120 x red - 25 (5 at the start, too dark to trust), green 400 x green, blue 10 x blue + 100.
    Calibrator templater(Calibrator::TemplateMode, 3);
    templater.setRunning(true);
    templater.setUsingCoroutines(true);
    templater.setLoggable(true);
    templater.setRgb({0.25, 0.25, 0.25});
    ModelDriver camera(templater, [](const Triple& gains) {
        return Triple{120.0 * gains[0] - 25.0, 400.0 * gains[1], 10.0 * gains[2] + 100.0};
    });
    camera.measureNow();
    MessageCapture log;
    EngineTask task = templater.coSetGains();
    EXPECT_EQ(camera.drive(task), 6);
    EXPECT_TRUE(task.result());
    EXPECT_DOUBLE_EQ(templater.gainMatrix().at(GainMatrix::CctRow, 0), 300.0);
    EXPECT_NEAR(templater.gainMatrix().at(GainMatrix::DuvRow, 1), 400.0, 1e-9);
    EXPECT_DOUBLE_EQ(templater.gainMatrix().at(GainMatrix::Luma, 2), 25.0);
    EXPECT_TRUE(log.contains(QStringLiteral("#3    red gainfix (high/low limits)")));
    EXPECT_TRUE(log.contains(QStringLiteral("#3    blue gainfix (minGain)")));
}

TEST_F(GainSolvingTest, TextsOfMatrixAndPoints)
{
    EngineTask task = calibrator.coSetGains();
    driver.drive(task);
    const QStringList lines = calibrator.gainsText().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines.at(0), QStringLiteral("  red gains: +200.0000000 Lum,   -4000.00000 CCT,   -0.020000000 Duv"));

    CalibrationPoint point;
    point.red = 0.5;
    point.green = 0.25;
    point.blue = 1.0;
    EXPECT_EQ(Calibrator::pointKey(point), QStringLiteral("0.50000000.25000001.0000000"));

    QSignalSpy cleared(&calibrator, &Calibrator::clearLinearityLog);
    QSignalSpy lines2(&calibrator, &Calibrator::appendLinearityLog);
    CalibrationPoint measured = point;
    measured.cct = 6500.4;
    measured.duv = -0.00123;
    measured.luminance = 99.5;
    measured.luminanceTarget = 100.0;
    calibrator.describePoint(QStringLiteral("Title"), {CalibrationPoint(), measured, CalibrationPoint()});
    EXPECT_EQ(cleared.count(), 1);
    ASSERT_EQ(lines2.count(), 3);
    EXPECT_EQ(lines2.at(0).at(0).toString(), QStringLiteral("Title"));
    EXPECT_EQ(lines2.at(1).at(0).toString(),
              QStringLiteral("# 1: 0.500000, 0.250000, 1.000000;  6500 K, -0.0012 Duv,  99.50  (for 100.00 )"));
    EXPECT_EQ(lines2.at(2).at(0).toString(), QStringLiteral("# 2:"));
    calibrator.describePoint(QStringLiteral("Empty"), {});
    EXPECT_EQ(lines2.count(), 4);
}

} // namespace
