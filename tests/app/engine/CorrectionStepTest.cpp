#include "engine/Calibrator.h"
#include "engine/EngineTask.h"
#include "support/MessageCapture.h"
#include "support/ModelColorimeter.h"
#include "support/ModelDriver.h"

#include <gtest/gtest.h>

namespace {

using Triple = Calibrator::Triple;

// One level of the master, driven by the test with readings from the default linear model.
class CorrectionStepTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        calibrator.setTask(Calibrator::Nothing);
        calibrator.setRunning(true);
        calibrator.setUsingCoroutines(true);
        calibrator.setSteps(10);
        calibrator.setRunPosition(0, 10, 1, 0);
        calibrator.setErrorAllowed(1.0);
        calibrator.setRgb({0.5, 0.5, 0.5});
        driver.measureNow();
        EngineTask gains = calibrator.coSetGains();
        driver.drive(gains);
    }

    ModelColorimeter::Model model;
    Calibrator calibrator{Calibrator::ColorimeterMode, 0};
    ModelDriver driver{calibrator, [this](const Triple& gains) { return ModelColorimeter::measure(model, gains); }};
};

TEST_F(CorrectionStepTest, LevelConvergesOnItsTargets)
{
    EngineTask step = calibrator.coCalibrateStep(300.0);
    const int passes = driver.drive(step);
    ASSERT_TRUE(step.done());
    EXPECT_TRUE(step.result());
    EXPECT_TRUE(calibrator.running());
    EXPECT_LE(passes, 60);
    EXPECT_DOUBLE_EQ(calibrator.maximumWeightedError(), 0.04);
    EXPECT_DOUBLE_EQ(calibrator.targetLum(), 300.0);
    const Triple reached = ModelColorimeter::measure(model, calibrator.rgb());
    EXPECT_NEAR(reached[Calibrator::Luminance], 300.0, 3.0);
    EXPECT_NEAR(reached[Calibrator::Cct], 6500.0, 30.0);
    EXPECT_NEAR(reached[Calibrator::Duv], 0.0, 0.0005);
    // The last measurement is that of the final gains.
    EXPECT_EQ(calibrator.reading(), reached);
}

TEST_F(CorrectionStepTest, WeightedErrorFollowsTheAllowedError)
{
    calibrator.setErrorAllowed(5.0);
    EngineTask step = calibrator.coCalibrateStep(300.0);
    step.resume();
    EXPECT_DOUBLE_EQ(calibrator.maximumWeightedError(), 0.075);
}

TEST_F(CorrectionStepTest, SecondLevelStartsFromTheScaledGainsAbove)
{
    calibrator.setRunPosition(0, 10, 2, 0);
    calibrator.setStepSpacing(2.0);
    EngineTask step = calibrator.coCalibrateStep(200.0);
    step.resume();
    const double scale = double(float(std::pow(float(0.9), 2.0)));
    for (int channel = 0; channel < 3; ++channel)
        EXPECT_NEAR(calibrator.rgb()[channel], 0.5 * scale, 1e-6);
}

TEST_F(CorrectionStepTest, UnreachableTargetEndsInAZeroClippingStop)
{
    MessageCapture log;
    calibrator.setTargetCCT(10000);
    EngineTask step = calibrator.coCalibrateStep(300.0);
    driver.drive(step);
    EXPECT_FALSE(step.result());
    EXPECT_FALSE(calibrator.running());
    EXPECT_EQ(calibrator.statusString(), QStringLiteral("Correction stopped due to R,G,B values persistently at zero"));
    EXPECT_TRUE(log.contains(QStringLiteral("Zero clipping: can't set R,G,B any lower.")));
}

TEST_F(CorrectionStepTest, UnsolvableDeltasStopAfterThreeRetries)
{
    MessageCapture log;
    // A display that does not react at all: every gain measures the same.
    const Triple constant = calibrator.reading();
    ModelDriver dead(calibrator, [constant](const Triple&) { return constant; });
    EngineTask zero = calibrator.coSetGains();
    dead.drive(zero);
    EngineTask step = calibrator.coCalibrateStep(300.0);
    dead.drive(step);
    EXPECT_FALSE(step.result());
    EXPECT_FALSE(calibrator.running());
    EXPECT_EQ(calibrator.statusString(), QStringLiteral("*** FAILED GETTING RGB DELTA VALUES! ***"));
    EXPECT_TRUE(log.contains(QStringLiteral("getRGBDeltas failed; retry #3")));
}

TEST_F(CorrectionStepTest, PointsCountWithinTheirWeight)
{
    CalibrationPoint near;
    near.redDelta = 0.01;
    CalibrationPoint far;
    far.redDelta = 0.03;
    far.blueDelta = -0.02;
    calibrator.setPoints({near, far, near});
    EXPECT_EQ(calibrator.pointsWithinError(0.04), 2u);
    EXPECT_DOUBLE_EQ(calibrator.pointWeight(far, 0.04), 0.0);
}

} // namespace
