#include "engine/Calibrator.h"
#include "support/MessageCapture.h"
#include "support/ModelColorimeter.h"
#include "support/RecordingDisplay.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

using Fault = ModelColorimeter::Fault;

// A master calibrator on the test thread, marked running without a task, wired to a model
// colorimeter and a recording display on the same thread.
class BlockingStepsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        calibrator.setTask(Calibrator::Nothing);
        calibrator.setDisplay(&display);
        QObject::connect(&calibrator, &Calibrator::takeReading, &colorimeter, &Colorimeter::read);
        QObject::connect(&colorimeter, &Colorimeter::dataAvailable, &calibrator, &Calibrator::readColorimeterData);
        Calibrator::Timing fast;
        fast.readingTimeoutMs = 200;
        fast.recoverableReadingPauseMs = 20;
        fast.staleReadingPauseMs = 10;
        fast.gainRetryPauseMs = 5;
        calibrator.setTiming(fast);
        calibrator.setRunning(true);
    }

    RecordingDisplay display;
    ModelColorimeter colorimeter{&display};
    Calibrator calibrator{Calibrator::ColorimeterMode, 0};
};

TEST_F(BlockingStepsTest, WaitEndsSoonAfterAQueuedStop)
{
    QTimer::singleShot(100, &calibrator, [this] { calibrator.setRunning(false); });
    QElapsedTimer clock;
    clock.start();
    calibrator.waitMs(5000);
    EXPECT_GE(clock.elapsed(), 90);
    EXPECT_LT(clock.elapsed(), 100 + 50 + 200); // generous for loaded machines
}

TEST_F(BlockingStepsTest, WaitLastsItsTime)
{
    QElapsedTimer clock;
    clock.start();
    calibrator.waitMs(120);
    EXPECT_GE(clock.elapsed(), 119);
    EXPECT_LT(clock.elapsed(), 1000);
}

TEST_F(BlockingStepsTest, GainsAreRetriedOnRecoverableRefusals)
{
    MessageCapture log;
    display.scriptResults({ErrorType::failure(ErrorType::Retryable, QStringLiteral("busy")),
                           ErrorType::failure(ErrorType::Retryable, QStringLiteral("busy")),
                           ErrorType::failure(ErrorType::Retryable, QStringLiteral("busy"))});
    EXPECT_TRUE(calibrator.setRGBGains_(0.25, 0.5, 0.75, Calibrator::SendRGB));
    EXPECT_EQ(display.count(QStringLiteral("setRGB")), 4);
    EXPECT_EQ(log.messages().count(QStringLiteral("#0    Calibrator::setRGBGains_: recoverable error busy; will retry...")), 3);
    EXPECT_EQ(calibrator.rgb(), (Calibrator::Triple{0.25, 0.5, 0.75}));
    EXPECT_DOUBLE_EQ(display.green(), 0.5);
}

TEST_F(BlockingStepsTest, FatalRefusalIsNotRetried)
{
    MessageCapture log;
    display.scriptResults({ErrorType::failure(ErrorType::Fatal, QStringLiteral("gone"))});
    EXPECT_FALSE(calibrator.setRGBGains_(0.1, 0.2, 0.3, Calibrator::SendRGB));
    EXPECT_EQ(display.count(QStringLiteral("setRGB")), 1);
    EXPECT_TRUE(log.contains(QStringLiteral("Calibrator::setRGBGains_: fatal error gone")));
    // The gains are taken as set whatever the display said.
    EXPECT_EQ(calibrator.rgb(), (Calibrator::Triple{0.1, 0.2, 0.3}));
}

TEST_F(BlockingStepsTest, RefusalsOfAnyOtherKindUseUpTheAttempts)
{
    display.failFrom(1, ErrorType::failure(7, QStringLiteral("strange")));
    EXPECT_FALSE(calibrator.setRGBGains_(0.1, 0.2, 0.3, Calibrator::SendRGB));
    EXPECT_EQ(display.count(QStringLiteral("setRGB")), 20);
}

TEST_F(BlockingStepsTest, KindTwoSendsDisplayGainsOnly)
{
    EXPECT_TRUE(calibrator.setRGBGains_(0.9, 1.1, 1.2, Calibrator::SendDisplayGains));
    EXPECT_EQ(display.count(QStringLiteral("setDisplayGainRGB")), 1);
    EXPECT_EQ(display.count(QStringLiteral("setRGB")), 0);
    EXPECT_DOUBLE_EQ(display.displayGainGreen(), 1.1);
}

TEST_F(BlockingStepsTest, NothingIsSentOnceStopped)
{
    calibrator.setRunning(false);
    EXPECT_TRUE(calibrator.setRGBGains_(0.1, 0.2, 0.3, Calibrator::SendRGB));
    EXPECT_TRUE(display.calls().isEmpty());
}

TEST_F(BlockingStepsTest, BlockingSendRefusesWhileCoroutinesRun)
{
    MessageCapture log;
    calibrator.setUsingCoroutines(true);
    EXPECT_FALSE(calibrator.setRGBGains_(0.1, 0.2, 0.3, Calibrator::SendRGB));
    EXPECT_TRUE(display.calls().isEmpty());
    EXPECT_TRUE(log.contains(QStringLiteral("***** ERROR: setRGBGains_ called while using coroutines. *****")));
}

TEST_F(BlockingStepsTest, ReadingCarriesTheModelsValues)
{
    display.setRed(1.0);
    display.setGreen(1.0);
    display.setBlue(1.0);
    ASSERT_TRUE(calibrator.takeReadings_());
    EXPECT_NEAR(calibrator.reading()[Calibrator::Cct], 6500.0, 1e-9);
    EXPECT_NEAR(calibrator.reading()[Calibrator::Duv], 0.0, 1e-12);
    EXPECT_NEAR(calibrator.reading()[Calibrator::Luminance], 900.5, 1e-9);
    EXPECT_EQ(calibrator.luminanceUnits(), QStringLiteral("nits"));
    EXPECT_FALSE(calibrator.requestTime().isEmpty());
}

TEST_F(BlockingStepsTest, ConstantTimestampFailsAfterTenTries)
{
    ASSERT_TRUE(calibrator.takeReadings_()); // a first time stamp
    MessageCapture log;
    colorimeter.setFault(Fault::SameTimestamp);
    const int before = colorimeter.reads();
    EXPECT_FALSE(calibrator.takeReadings_());
    EXPECT_EQ(colorimeter.reads() - before, 10);
    EXPECT_TRUE(log.contains(QStringLiteral("takeReading_: no new or valid data after multiple retries.")));
}

TEST_F(BlockingStepsTest, SilentColorimeterFailsInBoundedTime)
{
    colorimeter.setFault(Fault::Silent);
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(calibrator.takeReadings_());
    EXPECT_EQ(colorimeter.reads(), 10);
    EXPECT_LT(clock.elapsed(), 10 * 200 + 1000);
}

// A long measurement (a dark level) answers after the engine's own wait but within the time-out
// the colorimeter states: the engine is still waiting for it, asks no second time, and takes it.
// An answer with the instrument's own time-out error ends that wait at once.
TEST_F(BlockingStepsTest, AReadingWaitCoversTheColorimetersOwnTimeout)
{
    using namespace std::chrono_literals;
    const std::pair<Fault, bool> lateAnswers[] = {{Fault::None, true}, {Fault::Fatal, false}};
    for (const auto& [late, taken] : lateAnswers) {
        calibrator.setColorimeterTimeout(30s);
        colorimeter.scriptFaults({Fault::Silent, late});
        colorimeter.setReadHook([this](int number) {
            if (number % 2 == 1)
                QTimer::singleShot(600, &colorimeter, [this] { colorimeter.read(); });
        });
        QSignalSpy requests(&calibrator, &Calibrator::takeReading);
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(calibrator.takeReadings_(), taken);
        EXPECT_EQ(requests.count(), 1);
        EXPECT_GE(clock.elapsed(), 600);
        EXPECT_LT(clock.elapsed(), 10'000);
    }
}

TEST_F(BlockingStepsTest, RecoverableErrorIsRetriedThenAccepted)
{
    MessageCapture log;
    colorimeter.scriptFaults({Fault::Recoverable});
    EXPECT_TRUE(calibrator.takeReadings_());
    EXPECT_EQ(colorimeter.reads(), 2);
    EXPECT_TRUE(log.contains(QStringLiteral("takeReading_: recoverable error model: recoverable fault; will retry...")));
    EXPECT_EQ(calibrator.colorimeterErrorType().kind, ErrorType::Success);
}

TEST_F(BlockingStepsTest, FatalErrorEndsAtTheFirstTry)
{
    MessageCapture log;
    colorimeter.setFault(Fault::Fatal);
    EXPECT_FALSE(calibrator.takeReadings_());
    EXPECT_EQ(colorimeter.reads(), 1);
    EXPECT_TRUE(log.contains(QStringLiteral("takeReading_: fatal error model: fatal fault")));
}

TEST_F(BlockingStepsTest, ReadingCountIsClampedToOneAndAHundred)
{
    ASSERT_TRUE(calibrator.takeMultipleReadings_(0));
    EXPECT_EQ(colorimeter.reads(), 1);
    ASSERT_TRUE(calibrator.takeMultipleReadings_(250));
    EXPECT_EQ(colorimeter.reads(), 101);
}

TEST_F(BlockingStepsTest, AverageOfAStoppedGroupDividesByTheReadingsTaken)
{
    // Luminance 0.5 + 200 x red: reads 1 and 2 see red 0 and 1; the stop comes with the third.
    display.setGreen(0.0);
    display.setBlue(0.0);
    colorimeter.setReadHook([this](int read) {
        display.setRed(read - 1);
        if (read == 3)
            calibrator.setRunning(false);
    });
    EXPECT_TRUE(calibrator.takeMultipleReadings_(10));
    EXPECT_EQ(colorimeter.reads(), 3);
    EXPECT_NEAR(calibrator.reading()[Calibrator::Luminance], (0.5 + 200.5) / 2.0, 1e-9);
}

TEST_F(BlockingStepsTest, FailedAverageKeepsThePreviousReading)
{
    ASSERT_TRUE(calibrator.takeMultipleReadings_(1));
    const Calibrator::Triple before = calibrator.reading();
    display.setRed(1.0);
    colorimeter.scriptFaults({Fault::None, Fault::Fatal});
    EXPECT_FALSE(calibrator.takeMultipleReadings_(3));
    EXPECT_EQ(calibrator.reading(), before);

    calibrator.setRunning(false);
    EXPECT_FALSE(calibrator.takeMultipleReadings_(3));
    EXPECT_EQ(calibrator.reading(), before);
}

struct WeightedPoint
{
    double gain;
    double delta; // on every channel
};

CalibrationPoint point(const WeightedPoint& given)
{
    CalibrationPoint result;
    result.red = result.green = result.blue = given.gain;
    result.redDelta = result.greenDelta = result.blueDelta = given.delta;
    result.luminance = 100.0 * given.gain;
    return result;
}

TEST_F(BlockingStepsTest, FinalGainsAreTheWeightedAverageOfTheGoodPoints)
{
    // Bound 0.1: weights 0.1001 - 3|delta|; the point with deltas 0.04 (sum 0.12) weighs nothing.
    calibrator.setPoints({point({0.5, 0.0}), point({0.6, 0.01}), point({0.4, -0.01}), point({0.9, 0.04})});
    ASSERT_TRUE(calibrator.setFinalRGB(0.1));
    const double w0 = 0.1001, w1 = 0.0701, w2 = 0.0701;
    const double expected = (w0 * 0.5 + w1 * (0.6 + 0.01 * 0.25) + w2 * (0.4 - 0.01 * 0.25)) / (w0 + w1 + w2);
    EXPECT_NEAR(calibrator.rgb()[0], expected, 1e-12);
    EXPECT_NEAR(calibrator.rgbDeltas()[1], 0.0, 1e-12);
    EXPECT_NEAR(calibrator.reading()[Calibrator::Luminance], (w0 * 50 + w1 * 60 + w2 * 40) / (w0 + w1 + w2), 1e-9);
    EXPECT_EQ(display.count(QStringLiteral("setRGB")), 1);
    EXPECT_EQ(calibrator.pointsWithinError(0.1), 3u);
}

TEST_F(BlockingStepsTest, FinalGainsNeedEnoughPointsAndAreClamped)
{
    MessageCapture log;
    calibrator.setPoints({point({0.5, 0.0}), point({0.6, 0.0})});
    EXPECT_FALSE(calibrator.setFinalRGB(0.1));
    EXPECT_TRUE(log.contains(QStringLiteral("#0    final, 2 pts, not enough points to average")));
    // With the bound 0 and maximumWeightedError 0 no point weighs anything.
    calibrator.setPoints({point({0.5, 0.0}), point({0.6, 0.0}), point({0.7, 0.0})});
    EXPECT_FALSE(calibrator.setFinalRGB(0.0));
    calibrator.setPoints({point({1.3, 0.0}), point({1.4, 0.0}), point({1.5, 0.0})});
    ASSERT_TRUE(calibrator.setFinalRGB(0.1));
    EXPECT_DOUBLE_EQ(calibrator.rgb()[2], 1.0);
}

TEST_F(BlockingStepsTest, PointWeightTable)
{
    CalibrationPoint exact = point({0.5, 0.0});
    EXPECT_DOUBLE_EQ(calibrator.pointWeight(exact, 0.04), 0.04 + 0.0001);
    CalibrationPoint far = point({0.5, 0.02}); // sum 0.06
    EXPECT_DOUBLE_EQ(calibrator.pointWeight(far, 0.04), 0.0);
}

} // namespace
