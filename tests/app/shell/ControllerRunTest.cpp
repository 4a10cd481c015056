#include "support/ControllerFixture.h"
#include "support/DisplayInUse.h"
#include "support/MessageCapture.h"
#include "support/ProcessorSimulator.h"
#include "support/QtPrinters.h"

#include "display/Kestra.h"
#include "display/SimulatedDisplay.h"
#include "engine/Calibrator.h"
#include "instruments/ImageSource.h"

#include <QElapsedTimer>
#include <QSemaphore>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <algorithm>

#include <gtest/gtest.h>

using ControllerRun = ControllerFixture;

namespace {

// Polls once while further ticks arrive every 20 ms, until stop() ends the display's wait once
// the wanted ticks came (or a generous limit passed); returns how many ticks came meanwhile.
int pollWhileTicking(Velotrimmer& velotrimmer, int wantedTicks)
{
    constexpr int kTickMs = 20;
    constexpr int kLimitMs = 20000;
    int ticks = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &velotrimmer, [&] {
        if (++ticks == wantedTicks)
            velotrimmer.stop();
        velotrimmer.pollDevices();
    });
    tick.start(kTickMs);
    QTimer::singleShot(kLimitMs, &velotrimmer, [&] { velotrimmer.stop(); });
    velotrimmer.pollDevices();
    return ticks;
}

QList<bool> runningValues(const QSignalSpy& spy)
{
    QList<bool> values;
    for (const QList<QVariant>& arguments : spy)
        values << arguments.at(0).toBool();
    return values;
}

} // namespace

TEST_F(ControllerRun, AMeasurementRunsOnTheCalibratorThreadAndEndsIdle)
{
    build();
    useSimulatedBench();
    Velotrimmer& velotrimmer = controller();
    QSignalSpy running(&velotrimmer, &Velotrimmer::runningChanged);
    velotrimmer.setResumeStep(4);

    velotrimmer.takeMeasurement();
    EXPECT_TRUE(velotrimmer.running());
    ASSERT_TRUE(waitUntil([&] { return !velotrimmer.running(); }));
    EXPECT_EQ(runningValues(running), (QList<bool>{true, false}));
    EXPECT_EQ(velotrimmer.status(), 0);
    EXPECT_EQ(Calibrator::task(), Calibrator::Measure);
    EXPECT_EQ(velotrimmer.resumeStep(), 4u); // a measurement keeps what can be resumed
    const int entries = velotrimmer.linearityLog()->rowCount();
    EXPECT_GT(entries, 0);

    // A second measurement adds to the same log.
    velotrimmer.takeMeasurement();
    ASSERT_TRUE(waitUntil([&] { return !velotrimmer.running(); }));
    EXPECT_GT(velotrimmer.linearityLog()->rowCount(), entries);
}

TEST_F(ControllerRun, TheCalibratorRunsWithTheSettingsOfTheStartNotLaterOnes)
{
    build();
    useSimulatedBench();
    Velotrimmer& velotrimmer = controller();
    Calibrator* calibrator = velotrimmer.calibrator();
    velotrimmer.setSteps(4);
    velotrimmer.setErrorAllowed(0.5);

    // The calibrator's thread is held while the start is queued and the settings change.
    QSemaphore hold;
    QMetaObject::invokeMethod(calibrator, [&hold] { hold.acquire(); }, Qt::QueuedConnection);
    velotrimmer.takeMeasurement();
    velotrimmer.setSteps(9);
    velotrimmer.setErrorAllowed(0.1);
    hold.release();

    ASSERT_TRUE(waitUntil([&] { return !velotrimmer.running(); }));
    uint steps = 0;
    double errorAllowed = 0.0;
    QMetaObject::invokeMethod(
        calibrator,
        [&] {
            steps = calibrator->steps();
            errorAllowed = calibrator->errorAllowed();
        },
        Qt::BlockingQueuedConnection);
    EXPECT_EQ(steps, 4u);
    EXPECT_DOUBLE_EQ(errorAllowed, 0.5);
}

TEST_F(ControllerRun, AReadCountTestRunsAndClearsTheResumeStep)
{
    build();
    useSimulatedBench();
    Velotrimmer& velotrimmer = controller();
    velotrimmer.setReadCount(2);
    velotrimmer.setResumeStep(3);
    QSignalSpy running(&velotrimmer, &Velotrimmer::runningChanged);

    velotrimmer.test();
    EXPECT_EQ(velotrimmer.resumeStep(), 0u);
    velotrimmer.test(); // ignored while running
    // The test works through ever larger read counts until the operator ends it: under way, it
    // has not ended by itself.
    ASSERT_TRUE(waitUntil([&] { return velotrimmer.progress() > 0.0; }));
    EXPECT_TRUE(velotrimmer.calibrator()->running());
    velotrimmer.setRunning(false);
    ASSERT_TRUE(waitUntil([&] { return !velotrimmer.calibrator()->running(); }));
    EXPECT_EQ(runningValues(running), (QList<bool>{true, false}));
    EXPECT_EQ(Calibrator::task(), Calibrator::TestReadCounts);
    EXPECT_EQ(velotrimmer.status(), 0);
}

TEST_F(ControllerRun, AnSrgbCorrectionIsRefusedUnlessTheProcessorGammaIsOne)
{
    Velotrimmer& velotrimmer = build();
    velotrimmer.setColorimeter(velotrimmer.dummyColorimeter());
    velotrimmer.kestra()->setGamma(2.2);
    QSignalSpy running(&velotrimmer, &Velotrimmer::runningChanged);
    MessageCapture log;

    velotrimmer.setRunning(true);
    EXPECT_FALSE(velotrimmer.running());
    EXPECT_EQ(running.count(), 0);
    EXPECT_EQ(velotrimmer.statusString(),
              QStringLiteral("Correction canceled: KESTRA Gamma (HDR) must be 1.0 to correct using sRGB."));
    EXPECT_TRUE(log.contains("Correction canceled: KESTRA Gamma (HDR) is 0.92, must be 1.0 for sRGB corrections."));
    // The processor is put back as after a correction, and polled again.
    EXPECT_TRUE(log.contains("Resetting KESTRA after correction."));
    EXPECT_TRUE(velotrimmer.pollDisplay());
    EXPECT_FALSE(velotrimmer.kestra()->testPatternEnabled());
    EXPECT_TRUE(velotrimmer.kestra()->curvesEnabled());
}

TEST_F(ControllerRun, AUniformityStartWithoutLdmsFailsAndStaysIdle)
{
    Velotrimmer& velotrimmer = build(); // the processor, whose layout was never read
    velotrimmer.setMode(Velotrimmer::Balance);
    QSignalSpy running(&velotrimmer, &Velotrimmer::runningChanged);
    velotrimmer.setRunning(true);
    EXPECT_FALSE(velotrimmer.running());
    EXPECT_EQ(running.count(), 0);
    EXPECT_EQ(velotrimmer.status(), -1);
    EXPECT_FALSE(velotrimmer.statusString().trimmed().isEmpty());
}

TEST_F(ControllerRun, DevicesAndModesDoNotChangeDuringARun)
{
    build();
    useSimulatedBench();
    Velotrimmer& velotrimmer = controller();
    velotrimmer.runNothing();
    ASSERT_TRUE(velotrimmer.running());
    DisplayBase* display = velotrimmer.display();
    Colorimeter* colorimeter = velotrimmer.colorimeter();
    velotrimmer.switchOutput();
    velotrimmer.switchInput();
    velotrimmer.setMode(Velotrimmer::Balance);
    EXPECT_EQ(velotrimmer.display(), display);
    EXPECT_EQ(velotrimmer.colorimeter(), colorimeter);
    EXPECT_EQ(velotrimmer.mode(), Velotrimmer::Linearity);
    EXPECT_EQ(velotrimmer.statusString(), QStringLiteral("Stop the run before switching devices."));
    velotrimmer.setRunning(false);
    EXPECT_FALSE(velotrimmer.running());
}

TEST_F(ControllerRun, FetchingLdmsIsForUniformityModesOnly)
{
    QSettings().setValue("output", true);
    Velotrimmer& velotrimmer = build();
    MessageCapture log;
    velotrimmer.fetchLdms();
    EXPECT_FALSE(log.contains("Getting LDM configuration..."));
    EXPECT_EQ(velotrimmer.display()->ldmCount(), 0u);
    velotrimmer.setMode(Velotrimmer::Balance);
    EXPECT_TRUE(log.contains("Getting LDM configuration..."));
    EXPECT_GT(velotrimmer.display()->ldmCount(), 0u);
    EXPECT_FALSE(velotrimmer.running());
}

struct TargetCase
{
    double red, green, blue;
    bool accepted;
    const char* title;
};

class ControllerTargetLdm : public ControllerFixture, public ::testing::WithParamInterface<TargetCase>
{
};

TEST_P(ControllerTargetLdm, TheObservedColourMustSuitTheCamera)
{
    const TargetCase& target = GetParam();
    QSettings().setValue("output", true);
    QSettings().setValue("camera", true);
    Velotrimmer& velotrimmer = build();
    velotrimmer.simulatedDisplay()->fetchOutputConfig();
    velotrimmer.display()->setLdmRGBObserved(2, target.red, target.green, target.blue);
    QSignalSpy messageBox(&velotrimmer, &Velotrimmer::showMessageBox);
    QSignalSpy running(&velotrimmer, &Velotrimmer::runningChanged);

    velotrimmer.chooseTargetLdm(2);
    EXPECT_FALSE(velotrimmer.running());
    EXPECT_FALSE(velotrimmer.targetLdmPending());
    EXPECT_EQ(runningValues(running), (QList<bool>{true, false}));
    EXPECT_EQ(velotrimmer.selectedLdm(), 2);
    EXPECT_TRUE(velotrimmer.adjusterSet().macropixels().isEmpty());
    if (target.accepted) {
        EXPECT_EQ(messageBox.count(), 0);
        EXPECT_EQ(velotrimmer.statusString(), QStringLiteral("Using target LDM\u2019s RGB %1, %2, %3")
                                                  .arg(int(target.red))
                                                  .arg(int(target.green))
                                                  .arg(int(target.blue)));
        EXPECT_DOUBLE_EQ(velotrimmer.balanceTargetGreen(), target.green);
        EXPECT_FALSE(velotrimmer.targetTime().isEmpty());
    } else {
        ASSERT_EQ(messageBox.count(), 1);
        EXPECT_EQ(messageBox.at(0).at(0).toString(), QString::fromUtf8(target.title));
        EXPECT_EQ(velotrimmer.statusString(), QString::fromUtf8(target.title));
        EXPECT_DOUBLE_EQ(velotrimmer.balanceTargetGreen(), 0.0);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ControllerTargetLdm,
                         ::testing::Values(TargetCase{100, 170, 100, true, ""}, TargetCase{60, 160, 60, true, ""},
                                           TargetCase{235, 190, 235, true, ""},
                                           TargetCase{50, 170, 100, false, "Target LDM too dark"},
                                           TargetCase{100, 200, 100, false, "Target LDM too bright"}),
                         [](const ::testing::TestParamInfo<TargetCase>& info) {
                             return "rgb" + std::to_string(int(info.param.red)) + "_" + std::to_string(int(info.param.green))
                                    + "_" + std::to_string(int(info.param.blue));
                         });

TEST_F(ControllerRun, AnLdmNumberThatDoesNotExistStartsNothing)
{
    QSettings().setValue("output", true);
    Velotrimmer& velotrimmer = build();
    velotrimmer.simulatedDisplay()->fetchOutputConfig();
    QSignalSpy running(&velotrimmer, &Velotrimmer::runningChanged);
    velotrimmer.chooseTargetLdm(int(velotrimmer.display()->ldmCount()) + 1);
    velotrimmer.chooseTargetLdm(-3);
    EXPECT_EQ(running.count(), 0);
    EXPECT_FALSE(velotrimmer.targetLdmPending());
    EXPECT_EQ(velotrimmer.selectedLdm(), 0);

    MessageCapture log;
    velotrimmer.chooseTargetTile(99);
    EXPECT_TRUE(log.contains("Velotrimmer::chooseTargetTile() didn't find LDM!"));
}

namespace {

// A display whose status read waits, with events flowing, until the test lets it answer: a
// processor that is slow to reply.
class SlowDisplay : public DisplayBase
{
public:
    SlowDisplay()
        : DisplayBase(QStringLiteral("Slow Display"))
    {
    }
    ErrorType resetMesh() override { return {}; }
    void cancelPending() override { released = true; }
    ErrorType readStatus() override
    {
        ++statusReads;
        if (!QTest::qWaitFor([this] { return released; }, 10000))
            return ErrorType::failure(ErrorType::Fatal, QStringLiteral("never released"));
        return ErrorType::failure(ErrorType::Retryable, QStringLiteral("no answer"));
    }
    ErrorType fetchOutputConfig() override
    {
        ++layoutReads;
        return {};
    }

    bool released = false;
    int statusReads = 0;
    int layoutReads = 0;
};

} // namespace

TEST_F(ControllerRun, ThePollReadsTheDisplayAndSkipsTicksWhileAReadWaits)
{
    Velotrimmer& velotrimmer = build();
    velotrimmer.setColorimeter(velotrimmer.dummyColorimeter());
    SlowDisplay display;
    DisplayInUse inUse(velotrimmer, display);

    MessageCapture log;
    const int ticks = pollWhileTicking(velotrimmer, 3);

    EXPECT_GE(ticks, 3);
    EXPECT_EQ(display.statusReads, 1);
    EXPECT_EQ(display.layoutReads, 0); // the layout is read only after a good status
    EXPECT_TRUE(log.contains("Error updating display: no answer"));

    // A good status is followed by the layout; nothing is read while a run is under way.
    display.released = true;
    velotrimmer.pollDevices();
    EXPECT_EQ(display.statusReads, 2);
    velotrimmer.runNothing();
    velotrimmer.pollDevices();
    EXPECT_EQ(display.statusReads, 2);
}

TEST_F(ControllerRun, QuittingReleasesTheCurrentDisplaysPendingWorkWhateverDisplayItIs)
{
    Velotrimmer& velotrimmer = build();
    velotrimmer.setColorimeter(velotrimmer.dummyColorimeter());
    SlowDisplay display;
    velotrimmer.setDisplay(&display); // the controller is destroyed below, before the display
    QTimer::singleShot(100, &velotrimmer, [&] { velotrimmer.aboutToQuit(); });
    QElapsedTimer clock;
    clock.start();
    velotrimmer.pollDevices(); // waits for a status answer that only the quit ends
    EXPECT_TRUE(display.released);
    EXPECT_LT(clock.elapsed(), 5000);
    destroy();
}

TEST_F(ControllerRun, ThePollRefreshesTheProcessorAndNeverNestsAgainstOneThatDoesNotAnswer)
{
    ProcessorSimulator processor;
    processor.allowAnonymous();
    processor.setRoute("GET", ProcessorSimulator::kStatusTarget, ProcessorSimulator::Reply::json(ProcessorSimulator::status()));
    processor.setRoute("GET", ProcessorSimulator::kLayoutTarget,
                       ProcessorSimulator::Reply::json(ProcessorSimulator::layout(ProcessorSimulator::Layout::Wall)));
    Velotrimmer& velotrimmer = build();
    velotrimmer.setColorimeter(velotrimmer.dummyColorimeter());
    velotrimmer.kestra()->setAddress(QString::fromStdString(processor.address()));

    velotrimmer.pollDevices();
    EXPECT_EQ(processor.requestCount(), 2u); // the status, then the layout
    EXPECT_DOUBLE_EQ(velotrimmer.kestra()->gamma(), 2.2);
    EXPECT_GT(velotrimmer.kestra()->ldmCount(), 0u);

    // Now the processor stops answering: later ticks pass while the first poll waits.
    processor.setRoute("GET", ProcessorSimulator::kStatusTarget,
                       ProcessorSimulator::Reply::withEnding(ProcessorSimulator::Ending::NeverAnswer));
    MessageCapture log;
    const int ticks = pollWhileTicking(velotrimmer, 3);
    EXPECT_GE(ticks, 3);
    EXPECT_EQ(processor.requestCount(), 3u);
    const QStringList lines = log.messages();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                            [](const QString& line) { return line.startsWith("Error updating display: "); }));
}

TEST_F(ControllerRun, QuittingDuringARunJoinsTheWorkersAndStopsTheRun)
{
    build();
    useSimulatedBench();
    Velotrimmer& velotrimmer = controller();
    velotrimmer.setReadCount(100);
    QSignalSpy running(&velotrimmer, &Velotrimmer::runningChanged);
    velotrimmer.test();
    ASSERT_TRUE(velotrimmer.running());
    // Quit once the test is under way on its thread.
    ASSERT_TRUE(waitUntil([&] { return velotrimmer.progress() > 0.0; }));

    velotrimmer.aboutToQuit();
    EXPECT_FALSE(velotrimmer.running());
    EXPECT_EQ(velotrimmer.calibrator(), nullptr); // deleted with its finished thread
    EXPECT_EQ(velotrimmer.background(), nullptr);
    EXPECT_EQ(runningValues(running), (QList<bool>{true, false}));
    destroy();
}

TEST_F(ControllerRun, QuittingWhileTheProcessorIsBeingPreparedEndsTheStart)
{
    ProcessorSimulator processor;
    processor.allowAnonymous();
    processor.setHandler([](const ProcessorSimulator::Request&) {
        return ProcessorSimulator::Reply::withEnding(ProcessorSimulator::Ending::NeverAnswer);
    });
    Velotrimmer& velotrimmer = build();
    velotrimmer.setColorimeter(velotrimmer.dummyColorimeter());
    velotrimmer.kestra()->setAddress(QString::fromStdString(processor.address()));
    QSignalSpy running(&velotrimmer, &Velotrimmer::runningChanged);
    QTimer::singleShot(300, &velotrimmer, [&] { velotrimmer.aboutToQuit(); });

    velotrimmer.setRunning(true); // sends the processor's settings, which never get an answer
    EXPECT_EQ(processor.requestCount(), 1u);
    EXPECT_FALSE(velotrimmer.running());
    EXPECT_FALSE(runningValues(running).contains(true)); // the calibrator was never started
    EXPECT_EQ(velotrimmer.calibrator(), nullptr);
    destroy();
}
