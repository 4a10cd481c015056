#include "engine/Calibrator.h"
#include "support/MessageCapture.h"
#include "support/ModelColorimeter.h"
#include "support/RecordingDisplay.h"
#include "support/WorkerCalibrator.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <functional>

namespace {

class CalibratorTest : public ::testing::Test
{
protected:
    void SetUp() override { Calibrator(Calibrator::ColorimeterMode, 0).setTask(Calibrator::Nothing); }
};

struct ClampCase
{
    const char* name;
    std::function<void(Calibrator&)> set;
    std::function<double(const Calibrator&)> get;
    double expected;
};

TEST_F(CalibratorTest, SettersClampToTheirRanges)
{
    const QList<ClampCase> cases = {
        {"targetCCT 1000", [](Calibrator& c) { c.setTargetCCT(1000); }, [](const Calibrator& c) { return c.targetCCT(); }, 1667},
        {"targetCCT 20000", [](Calibrator& c) { c.setTargetCCT(20000); }, [](const Calibrator& c) { return c.targetCCT(); }, 10000},
        {"readDelay 0", [](Calibrator& c) { c.setReadDelay(0); }, [](const Calibrator& c) { return c.readDelay(); }, 0},
        {"readDelay 200", [](Calibrator& c) { c.setReadDelay(200); }, [](const Calibrator& c) { return c.readDelay(); }, 500},
        {"readDelay 9000", [](Calibrator& c) { c.setReadDelay(9000); }, [](const Calibrator& c) { return c.readDelay(); }, 5000},
        {"readCount 0", [](Calibrator& c) { c.setReadCount(0); }, [](const Calibrator& c) { return c.readCount(); }, 1},
        {"readCount 500", [](Calibrator& c) { c.setReadCount(500); }, [](const Calibrator& c) { return c.readCount(); }, 100},
        {"gamma 0.5", [](Calibrator& c) { c.setGamma(0.5); }, [](const Calibrator& c) { return c.gamma(); }, 1.0},
        {"gamma 5", [](Calibrator& c) { c.setGamma(5); }, [](const Calibrator& c) { return c.gamma(); }, 3.8},
        {"targetDuv 0.05", [](Calibrator& c) { c.setTargetDuv(0.05); }, [](const Calibrator& c) { return c.targetDuv(); }, 0.01},
        {"targetDuv -0.05", [](Calibrator& c) { c.setTargetDuv(-0.05); }, [](const Calibrator& c) { return c.targetDuv(); }, -0.01},
        {"steps 0", [](Calibrator& c) { c.setSteps(0); }, [](const Calibrator& c) { return c.steps(); }, 1},
        {"steps 17", [](Calibrator& c) { c.setSteps(17); }, [](const Calibrator& c) { return c.steps(); }, 17},
    };
    for (const ClampCase& clampCase : cases) {
        Calibrator calibrator(Calibrator::ColorimeterMode, 0);
        clampCase.set(calibrator);
        EXPECT_DOUBLE_EQ(clampCase.get(calibrator), clampCase.expected) << clampCase.name;
    }
}

TEST_F(CalibratorTest, StartsFromTheDocumentedDefaults)
{
    const Calibrator calibrator(Calibrator::BalanceMode, 7);
    EXPECT_EQ(calibrator.mode(), Calibrator::BalanceMode);
    EXPECT_EQ(calibrator.number(), 7u);
    EXPECT_FALSE(calibrator.running());
    EXPECT_EQ(calibrator.targetCCT(), 6500u);
    EXPECT_EQ(calibrator.readDelay(), 500u);
    EXPECT_EQ(calibrator.readCount(), 1u);
    EXPECT_DOUBLE_EQ(calibrator.gamma(), 2.4);
    EXPECT_EQ(calibrator.steps(), 10u);
    EXPECT_DOUBLE_EQ(calibrator.maximumValue(), 1.0);
    EXPECT_TRUE(calibrator.ambientBlack());
    EXPECT_EQ(calibrator.sendMode(), Calibrator::SendRGB);
    EXPECT_EQ(calibrator.resumeStep(), 0u);
    EXPECT_EQ(calibrator.currentStep(), 0u);
    EXPECT_EQ(calibrator.iteration(), 0u);
    EXPECT_EQ(calibrator.rgb(), (Calibrator::Triple{0, 0, 0}));
    EXPECT_EQ(calibrator.displayGains(), (Calibrator::Triple{1, 1, 1}));
    EXPECT_EQ(calibrator.display(), nullptr);
    EXPECT_DOUBLE_EQ(calibrator.highGainLimit(), 0.5);
    EXPECT_DOUBLE_EQ(calibrator.lowGainLimit(), 0.25);

    const CalibrationPoint fresh;
    EXPECT_EQ(fresh.count, 1u);
    EXPECT_DOUBLE_EQ(fresh.redDisplayGain, 1.0);
    EXPECT_DOUBLE_EQ(fresh.cct, 0.0);
    EXPECT_DOUBLE_EQ(fresh.blueSlope, 0.0);
}

TEST_F(CalibratorTest, ChangeSignalsFollowRealChangesOnly)
{
    Calibrator calibrator(Calibrator::ColorimeterMode, 0);
    QSignalSpy lum(&calibrator, &Calibrator::targetLumChanged);
    calibrator.setTargetLum(100.0);
    calibrator.setTargetLum(100.0 + 1e-14); // within the fuzzy tolerance
    EXPECT_EQ(lum.count(), 1);

    QSignalSpy status(&calibrator, &Calibrator::statusStringChanged);
    calibrator.setStatusString(QStringLiteral("a"));
    calibrator.setStatusString(QStringLiteral("a"));
    EXPECT_EQ(status.count(), 1);

    QSignalSpy progress(&calibrator, &Calibrator::progressChanged);
    calibrator.setProgress(0.5);
    calibrator.setProgress(0.5);
    EXPECT_EQ(progress.count(), 2);

    // Only a change between set and clear counts for the colorimeter error.
    QSignalSpy error(&calibrator, &Calibrator::colorimeterErrorTypeChanged);
    calibrator.setColorimeterErrorType(ErrorType::failure(ErrorType::Retryable, QStringLiteral("first")));
    calibrator.setColorimeterErrorType(ErrorType::failure(ErrorType::Fatal, QStringLiteral("second")));
    EXPECT_EQ(error.count(), 1);
    EXPECT_EQ(calibrator.colorimeterErrorType().message, QStringLiteral("first"));
    calibrator.setColorimeterErrorType(ErrorType());
    EXPECT_EQ(error.count(), 2);
}

TEST_F(CalibratorTest, TaskIsSharedByEveryCalibrator)
{
    Calibrator first(Calibrator::ColorimeterMode, 0);
    Calibrator second(Calibrator::BalanceMode, 3);
    QSignalSpy changed(&first, &Calibrator::taskChanged);
    first.setTask(Calibrator::Measure);
    first.setTask(Calibrator::Measure);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(second.task(), Calibrator::Measure);
    second.setTask(Calibrator::Resume);
    EXPECT_EQ(first.task(), Calibrator::Resume);
}

TEST_F(CalibratorTest, UnknownTaskLogsEndsAndReportsDone)
{
    Calibrator calibrator(Calibrator::ColorimeterMode, 0);
    MessageCapture log;
    QSignalSpy done(&calibrator, &Calibrator::done);
    calibrator.setTask(Calibrator::TaskType(7));
    calibrator.setRunning(true);
    EXPECT_FALSE(calibrator.running());
    EXPECT_TRUE(log.contains(QStringLiteral("Calibrator::setRunning: #0 unknown task type 7")));
    ASSERT_EQ(done.count(), 1);
    EXPECT_EQ(done.at(0).at(1).toBool(), false);
}

TEST_F(CalibratorTest, DrivenAdjusterIsOnlyMarkedRunning)
{
    Calibrator adjuster(Calibrator::BalanceMode, 4);
    adjuster.setUsingCoroutines(true);
    adjuster.setTask(Calibrator::Measure);
    QSignalSpy running(&adjuster, &Calibrator::runningChanged);
    QSignalSpy done(&adjuster, &Calibrator::done);
    adjuster.setRunning(true);
    EXPECT_TRUE(adjuster.running());
    EXPECT_EQ(running.count(), 0);
    EXPECT_EQ(done.count(), 0);
}

TEST_F(CalibratorTest, ObservedValuesCountOnlyInTheirMode)
{
    Macropixel ldm;
    Tile tile;
    Calibrator templater(Calibrator::TemplateMode, 0);
    QSignalSpy macropixels(&templater, &Calibrator::macropixelsChanged);
    templater.macropixelsObserved({&ldm});
    templater.tilesObserved({});
    EXPECT_EQ(macropixels.count(), 0);
    EXPECT_TRUE(templater.tiles().isEmpty());
    templater.tilesObserved({&tile});
    EXPECT_EQ(templater.tiles(), QList<Tile*>{&tile});

    Calibrator balancer(Calibrator::BalanceMode, 0);
    balancer.macropixelsObserved({&ldm});
    EXPECT_EQ(balancer.macropixels(), QList<Macropixel*>{&ldm});
}

// The controller's side of a task: select it, start the master on its thread, receive done.
TEST_F(CalibratorTest, MasterOnItsThreadRunsATaskAndReportsDone)
{
    RecordingDisplay display;
    ModelColorimeter colorimeter(&display);
    WorkerCalibrator worker(&colorimeter, &display);
    QSignalSpy lines(&worker.calibrator(), &Calibrator::appendLinearityLog);
    worker.start(Calibrator::Measure);
    ASSERT_TRUE(worker.waitForDone());
    EXPECT_EQ(worker.doneCalls(), (QList<std::pair<uint, bool>>{{0u, true}}));
    EXPECT_EQ(lines.count(), 1);
    EXPECT_FALSE(worker.calibrator().running());
}

// A stop and a new start that arrive while a task waits must not run the new task inside the
// old one: the old one ends (cancelled) first, then the new one runs.
TEST_F(CalibratorTest, StartDuringAStoppedTasksWaitRunsAfterIt)
{
    RecordingDisplay display;
    ModelColorimeter colorimeter(&display);
    WorkerCalibrator worker(&colorimeter, &display);
    colorimeter.scriptFaults({ModelColorimeter::Fault::Silent});
    colorimeter.setReadHook([&](int read) {
        if (read == 1) {
            worker.stop();
            worker.start(Calibrator::Measure);
        }
    });
    worker.start(Calibrator::Measure);
    ASSERT_TRUE(worker.waitForDone(2));
    EXPECT_EQ(worker.doneCalls(), (QList<std::pair<uint, bool>>{{0u, false}, {0u, true}}));
    EXPECT_EQ(colorimeter.reads(), 2);
}

} // namespace
