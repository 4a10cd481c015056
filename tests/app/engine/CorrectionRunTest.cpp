#include "display/SimulatedDisplay.h"
#include "engine/Calibrator.h"
#include "engine/LevelTable.h"
#include "support/MessageCapture.h"
#include "support/ModelColorimeter.h"
#include "support/RecordingDisplay.h"
#include "support/WorkerCalibrator.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace {

using Fault = ModelColorimeter::Fault;

constexpr double TargetLum = 800.0;

// The settings the controller hands over before a correction, without the settling pauses.
void configure(Calibrator& calibrator, uint steps)
{
    Calibrator::Timing fast;
    fast.settleMs = 0;
    fast.readingTimeoutMs = 500;
    calibrator.setTiming(fast);
    calibrator.setSteps(steps);
    calibrator.setReadDelay(0);
    calibrator.setReadCount(1);
    calibrator.setTargetCCT(6500);
    calibrator.setTargetDuv(0.0);
    calibrator.setTargetLum(TargetLum);
    calibrator.setGamma(2.2);
    calibrator.setErrorAllowed(0.1);
}

QStringList titles(const QSignalSpy& appended, const QString& prefix)
{
    QStringList found;
    for (const QList<QVariant>& emitted : appended) {
        const QString line = emitted.at(0).toString();
        if (line.startsWith(prefix))
            found.append(line);
    }
    return found;
}

// The master on its worker thread, with a model colorimeter on a display of the test's choice.
template <typename Display>
class Correction
{
public:
    Correction()
    {
        display.setRed(0.0);
        display.setGreen(0.0);
        display.setBlue(0.0);
        configure(worker.calibrator(), 17);
    }

    Calibrator& calibrator() { return worker.calibrator(); }

    Display display;
    ModelColorimeter colorimeter{&display};
    WorkerCalibrator worker{&colorimeter, &display};
    QSignalSpy appended{&worker.calibrator(), &Calibrator::appendLinearityLog};
};

// The final gains of a level are a weighted average of its last iterations, which approach the
// target from one side against this model: they land within a quarter percent of the brightest
// level's luminance, or 1 % of their own.
void expectConvergedLevels(const QList<CalibrationPoint>& points)
{
    for (qsizetype level = 1; level < points.size(); ++level) {
        const CalibrationPoint& point = points.at(level);
        EXPECT_GT(point.luminanceTarget, 0.0) << level;
        EXPECT_NEAR(point.luminance, point.luminanceTarget, std::max(0.01 * point.luminanceTarget, 0.0025 * TargetLum)) << level;
        EXPECT_NEAR(point.cct, 6500.0, 65.0) << level;
        EXPECT_NEAR(point.duv, 0.0, 0.001) << level;
    }
}

TEST(CorrectionRunTest, FullCorrectionRunsBrightestFirstAndConverges)
{
    Correction<RecordingDisplay> run;
    run.worker.start(Calibrator::Calibrate);
    ASSERT_TRUE(run.worker.waitForDone());
    EXPECT_EQ(run.worker.doneCalls().first(), (std::pair<uint, bool>{0u, true}));
    Calibrator& calibrator = run.calibrator();
    EXPECT_EQ(calibrator.statusString(), QStringLiteral("Correction completed without error"));
    EXPECT_EQ(calibrator.resumeStep(), 0u);
    EXPECT_DOUBLE_EQ(calibrator.progress(), -1.0);
    EXPECT_FALSE(calibrator.running());

    const QList<CalibrationPoint> points = calibrator.levelPoints();
    ASSERT_EQ(points.size(), 18);
    EXPECT_NEAR(points.first().luminance, 0.5, 1e-9); // the black level
    expectConvergedLevels(points);
    // The brightest level is corrected with the display gains, the others with the colour gains.
    EXPECT_LT(points.last().redDisplayGain, 1.0);
    EXPECT_DOUBLE_EQ(points.last().red, 1.0);

    // Brightest first, then 16 down to 1.
    const QStringList after = titles(run.appended, QStringLiteral("After level "));
    ASSERT_EQ(after.size(), 17);
    const QList<float>& table = calibrator.gammaTable();
    EXPECT_EQ(after.first(), QStringLiteral("After level %1 nits...").arg(double(table.at(17)), 0, 'f', 2));
    for (int i = 1; i < 17; ++i)
        EXPECT_EQ(after.at(i), QStringLiteral("After level %1 nits...").arg(double(table.at(17 - i)), 0, 'f', 2));

    // The calibrator calls from its worker thread; every device hook still ran on the display's.
    for (const RecordingDisplay::Call& call : run.display.calls())
        EXPECT_EQ(call.thread, QThread::currentThread());
    EXPECT_GT(run.display.count(QStringLiteral("setDisplayGainRGB")), 0);
}

TEST(CorrectionRunTest, CorrectionRunsOnTheSimulatedDisplay)
{
    Correction<SimulatedDisplay> run;
    configure(run.calibrator(), 4);
    run.worker.start(Calibrator::Calibrate);
    ASSERT_TRUE(run.worker.waitForDone());
    EXPECT_EQ(run.worker.doneCalls().first(), (std::pair<uint, bool>{0u, true}));
    ASSERT_EQ(run.calibrator().levelPoints().size(), 5);
    expectConvergedLevels(run.calibrator().levelPoints());
}

TEST(CorrectionRunTest, CancelledRunResumesAtTheLevelItStoppedIn)
{
    Correction<RecordingDisplay> run;
    configure(run.calibrator(), 6);
    QSignalSpy resumeSteps(&run.calibrator(), &Calibrator::resumeStepChanged);
    // Stop in the middle of the third level (resume step 2: black and brightest done, then one).
    run.colorimeter.setReadHook([&](int) {
        if (run.calibrator().resumeStep() == 3 && run.calibrator().iteration() >= 2)
            run.worker.stop();
    });
    run.worker.start(Calibrator::Calibrate);
    ASSERT_TRUE(run.worker.waitForDone());
    EXPECT_EQ(run.worker.doneCalls().first(), (std::pair<uint, bool>{0u, false}));
    EXPECT_EQ(run.calibrator().statusString(), QStringLiteral("Correction cancelled"));
    EXPECT_EQ(run.calibrator().resumeStep(), 3u);
    // The level in progress (4 of 6) was not stored.
    EXPECT_DOUBLE_EQ(run.calibrator().levelPoints().at(3).cct, 0.0);

    run.colorimeter.setReadHook({});
    const QString appendedBefore = QString::number(run.appended.count());
    run.worker.start(Calibrator::Resume);
    ASSERT_TRUE(run.worker.waitForDone(2));
    EXPECT_EQ(run.worker.doneCalls().last(), (std::pair<uint, bool>{0u, true}));
    EXPECT_EQ(run.calibrator().statusString(), QStringLiteral("Correction completed without error"));
    EXPECT_EQ(run.calibrator().resumeStep(), 0u);
    EXPECT_EQ(titles(run.appended, QStringLiteral("Resuming correction...")).size(), 1);
    expectConvergedLevels(run.calibrator().levelPoints());
}

// A four-step correction cancelled once black and the brightest level are done.
void cancelFourStepRunAfterTwoLevels(Correction<RecordingDisplay>& run)
{
    configure(run.calibrator(), 4);
    run.colorimeter.setReadHook([&](int) {
        if (run.calibrator().resumeStep() == 2)
            run.worker.stop();
    });
    run.worker.start(Calibrator::Calibrate);
    ASSERT_TRUE(run.worker.waitForDone());
    ASSERT_EQ(run.calibrator().resumeStep(), 2u);
    run.colorimeter.setReadHook({});
}

TEST(CorrectionRunTest, ResumeIsRefusedAfterTheStepsChanged)
{
    Correction<RecordingDisplay> run;
    ASSERT_NO_FATAL_FAILURE(cancelFourStepRunAfterTwoLevels(run));

    MessageCapture log;
    run.calibrator().setSteps(5);
    const int readsBefore = run.colorimeter.reads();
    run.worker.start(Calibrator::Resume);
    ASSERT_TRUE(run.worker.waitForDone(2));
    EXPECT_EQ(run.worker.doneCalls().last(), (std::pair<uint, bool>{0u, false}));
    EXPECT_TRUE(log.contains(QStringLiteral("Can't resume correction because number of steps has changed: set to 4 to resume")));
    EXPECT_EQ(run.colorimeter.reads(), readsBefore);
    EXPECT_FALSE(run.calibrator().running());
}

TEST(CorrectionRunTest, ResumeBeyondTheFinishedLevelsEndsAtOnce)
{
    Correction<RecordingDisplay> run;
    ASSERT_NO_FATAL_FAILURE(cancelFourStepRunAfterTwoLevels(run));
    const int readsBefore = run.colorimeter.reads();

    // A start past the last finished level would leave a gap: refused, and answered with done.
    MessageCapture log;
    Calibrator* calibrator = &run.calibrator();
    QMetaObject::invokeMethod(calibrator, [calibrator] { calibrator->calibrateSteps(3); }, Qt::QueuedConnection);
    ASSERT_TRUE(run.worker.waitForDone(2));
    EXPECT_EQ(run.worker.doneCalls().last(), (std::pair<uint, bool>{0u, false}));
    EXPECT_TRUE(log.contains(QStringLiteral("Warning: resuming after the the first failed step; correction will contain gaps")));
    EXPECT_FALSE(run.calibrator().running());

    // A resume step beyond the levels the stopped correction holds.
    run.calibrator().setResumeStep(9);
    run.worker.start(Calibrator::Resume);
    ASSERT_TRUE(run.worker.waitForDone(3));
    EXPECT_EQ(run.worker.doneCalls().last(), (std::pair<uint, bool>{0u, false}));
    EXPECT_TRUE(log.contains(QStringLiteral("Can't resume correction: there is no stopped correction to resume")));
    EXPECT_FALSE(run.calibrator().running());
    EXPECT_EQ(run.colorimeter.reads(), readsBefore);
}

TEST(CorrectionRunTest, DisplayFailureEndsTheRunWithItsError)
{
    Correction<RecordingDisplay> run;
    configure(run.calibrator(), 4);
    // Enough calls for black, the brightest level and part of the next one.
    run.display.failFrom(60, ErrorType::failure(ErrorType::Fatal, QStringLiteral("processor gone")));
    run.worker.start(Calibrator::Calibrate);
    ASSERT_TRUE(run.worker.waitForDone());
    EXPECT_EQ(run.worker.doneCalls().first(), (std::pair<uint, bool>{0u, false}));
    EXPECT_EQ(run.calibrator().statusString(), QStringLiteral("Correction stopped with display error processor gone"));
    // Running is signalled cleared as the failure clears it, before done.
    ASSERT_TRUE(run.worker.waitForTaskEnd());
    EXPECT_EQ(run.worker.runSignals(), WorkerCalibrator::taskEndSignals(false));
    const uint finished = run.calibrator().resumeStep();
    EXPECT_GE(finished, 1u);
    EXPECT_LT(finished, 4u);
    // Levels 4 (brightest) down: only those finished before the failure hold a measurement.
    const QList<CalibrationPoint> points = run.calibrator().levelPoints();
    for (uint level = 1; level < 4; ++level) {
        const bool done = 4 - level < finished;
        EXPECT_EQ(points.at(level).cct != 0.0, done) << level;
    }
}

TEST(CorrectionRunTest, SilentColorimeterEndsTheRunWithAColorimeterError)
{
    Correction<RecordingDisplay> run;
    configure(run.calibrator(), 4);
    run.colorimeter.setReadHook([&](int read) {
        if (read == 30)
            run.colorimeter.setFault(Fault::Silent);
    });
    run.worker.start(Calibrator::Calibrate);
    ASSERT_TRUE(run.worker.waitForDone(1, 30000));
    EXPECT_EQ(run.worker.doneCalls().first(), (std::pair<uint, bool>{0u, false}));
    EXPECT_TRUE(run.calibrator().statusString().startsWith(QStringLiteral("Correction stopped with colorimeter error ")));
}

TEST(CorrectionRunTest, TooDarkWallEndsBeforeAnyLevel)
{
    Correction<RecordingDisplay> run;
    configure(run.calibrator(), 4);
    ModelColorimeter::Model dark;
    dark.black = 0.0;
    dark.luma = {0.0, 0.0, 0.0};
    run.colorimeter.setModel(dark);
    run.calibrator().setAssumeTargets(true);
    run.worker.start(Calibrator::Calibrate);
    ASSERT_TRUE(run.worker.waitForDone());
    EXPECT_EQ(run.worker.doneCalls().first(), (std::pair<uint, bool>{0u, false}));
    EXPECT_EQ(run.calibrator().statusString(), QStringLiteral("Correction stopped; too dark to proceed."));
    EXPECT_TRUE(titles(run.appended, QStringLiteral("After level ")).isEmpty());
}

TEST(CorrectionRunTest, UnreachableTargetStopsWithTheEnginesReason)
{
    Correction<RecordingDisplay> run;
    configure(run.calibrator(), 4);
    run.calibrator().setTargetCCT(10000);
    run.worker.start(Calibrator::Calibrate);
    ASSERT_TRUE(run.worker.waitForDone());
    EXPECT_EQ(run.worker.doneCalls().first(), (std::pair<uint, bool>{0u, false}));
    EXPECT_EQ(run.calibrator().statusString(), QStringLiteral("Correction stopped due to R,G,B values persistently at zero"));
}

TEST(CorrectionRunTest, RunWithoutATargetLuminanceIsRefused)
{
    Correction<RecordingDisplay> run;
    run.calibrator().setTargetLum(0.0);
    run.worker.start(Calibrator::Calibrate);
    ASSERT_TRUE(run.worker.waitForDone());
    EXPECT_EQ(run.worker.doneCalls().first(), (std::pair<uint, bool>{0u, false}));
    EXPECT_EQ(run.colorimeter.reads(), 0);
    EXPECT_TRUE(run.display.calls().isEmpty());
}

TEST(LevelTableTest, GammaAndSrgbCurves)
{
    const QList<LevelTable::Level> gamma = LevelTable::build(10, 1.0, 2.2, false, 0.0, 100.0);
    ASSERT_EQ(gamma.size(), 11);
    EXPECT_FLOAT_EQ(gamma.at(5).entry, float(100.0 * std::pow(0.5, 2.2)));
    EXPECT_FLOAT_EQ(gamma.first().entry, 0.0f);
    EXPECT_FLOAT_EQ(gamma.last().entry, 100.0f);

    // Spacing 2 packs the levels towards black; black lifts the whole table.
    const QList<LevelTable::Level> spaced = LevelTable::build(4, 2.0, 2.2, false, 1.0, 101.0);
    EXPECT_DOUBLE_EQ(spaced.at(2).x, 0.25);
    EXPECT_FLOAT_EQ(spaced.at(2).entry, float(1.0 + 100.0 * std::pow(0.25, 2.2)));

    // sRGB: linear below 0.04045, the power curve above, meeting at the knee.
    EXPECT_NEAR(LevelTable::srgb(0.02), 0.02 / 12.92, 1e-5);
    EXPECT_NEAR(LevelTable::srgb(0.5), std::pow((0.5 + 0.055) / 1.055, 2.4), 1e-12);
    EXPECT_NEAR(LevelTable::srgb(0.04045), LevelTable::srgb(0.0404500001), 1e-9);
    const QList<LevelTable::Level> srgb = LevelTable::build(100, 1.0, 2.2, true, 0.0, 100.0);
    EXPECT_FLOAT_EQ(srgb.at(2).entry, float(100.0 * LevelTable::srgb(0.02)));
    EXPECT_FLOAT_EQ(srgb.at(50).entry, float(100.0 * LevelTable::srgb(0.5)));
}

} // namespace
