// The controller's periodic poll reads the display's status and wall again. What a run measured
// and set must outlive it while the wall is the same; a layout reply that is no layout must fail
// the poll and leave the wall whole.
#include "support/ControllerFixture.h"
#include "support/MessageCapture.h"
#include "support/ProcessorSimulator.h"

#include "display/Kestra.h"
#include "shell/FakeLdmReadings.h"

#include <QSettings>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <vector>

namespace {

using Reply = ProcessorSimulator::Reply;

// The targets the dummy camera's readings of an LDM at zero gains sit around.
constexpr double DummyRedBlue = FakeLdmReadings::RedBlueLevel;
constexpr double DummyGreen = FakeLdmReadings::GreenLevel;

class ControllerPoll : public ControllerFixture
{
protected:
    // The dummy camera's readings, written whenever the controller asks for them, as the
    // interface's wall view writes them.
    void readThroughDummyCamera(DisplayBase& display)
    {
        QObject::connect(&display, &DisplayBase::needFakeLdmRGBsChanged, &display, [this, &display] {
            FakeLdmReadings::write(display, controller().fakeLdmVariation());
        });
    }

    void setBalanceTargets()
    {
        controller().setBalanceTargetRed(DummyRedBlue);
        controller().setBalanceTargetGreen(DummyGreen);
        controller().setBalanceTargetBlue(DummyRedBlue);
    }

    // "Get LDM data" for each LDM: what the status line shows of it.
    std::vector<QString> ldmData(uint count)
    {
        std::vector<QString> texts;
        for (uint n = 1; n <= count; ++n) {
            controller().displayLdm(int(n));
            texts.push_back(controller().statusString());
        }
        return texts;
    }
};

} // namespace

TEST_F(ControllerPoll, APollAfterABalanceRunOnTheSimulatedDisplayKeepsItsResults)
{
    QSettings().setValue("camera", true);
    Velotrimmer& velotrimmer = build();
    useSimulatedBench();
    skipReadDelays();
    velotrimmer.setMode(Velotrimmer::Balance);
    setBalanceTargets();
    velotrimmer.setFakeLdmVariation(0.1); // LDMs that differ: the run has something to set
    DisplayBase& display = *velotrimmer.display();
    readThroughDummyCamera(display);

    velotrimmer.setRunning(true);
    ASSERT_TRUE(waitUntil([&] { return velotrimmer.status() != 0; }, 120000));
    ASSERT_EQ(velotrimmer.status(), 1) << velotrimmer.statusString().toStdString();
    const std::vector<QString> afterRun = ldmData(display.ldmCount());
    const QList<Macropixel> wallAfterRun = display.allLdms();
    ASSERT_NE(wallAfterRun.front().redGain, 0.0);
    ASSERT_NEAR(wallAfterRun.front().greenObserved, DummyGreen, 2.0);

    velotrimmer.pollDevices();

    EXPECT_EQ(velotrimmer.displayAnswer(), Velotrimmer::DisplayAnswered);
    EXPECT_EQ(ldmData(display.ldmCount()), afterRun);
    ASSERT_EQ(display.allLdms().size(), wallAfterRun.size());
    for (qsizetype i = 0; i < wallAfterRun.size(); ++i) {
        SCOPED_TRACE(i + 1);
        const Macropixel& now = display.allLdms().at(i);
        EXPECT_EQ(now.redGain, wallAfterRun.at(i).redGain);
        EXPECT_EQ(now.intensityGain, wallAfterRun.at(i).intensityGain);
        EXPECT_EQ(now.greenObserved, wallAfterRun.at(i).greenObserved);
    }
}

TEST_F(ControllerPoll, OnTheProcessorAPollKeepsWhatWasMeasuredUntilTheWallChangesAndFailsWithoutALayout)
{
    ProcessorSimulator processor;
    processor.allowAnonymous();
    processor.setRoute("GET", ProcessorSimulator::kStatusTarget, Reply::json(ProcessorSimulator::status()));
    processor.setRoute("GET", ProcessorSimulator::kLayoutTarget,
                       Reply::json(ProcessorSimulator::layout(ProcessorSimulator::Layout::Wall)));
    Velotrimmer& velotrimmer = build();
    velotrimmer.setColorimeter(velotrimmer.dummyColorimeter());
    Kestra& kestra = *velotrimmer.kestra();
    ASSERT_EQ(velotrimmer.display(), &kestra);
    kestra.setAddress(QString::fromStdString(processor.address()));
    velotrimmer.pollDevices();
    ASSERT_EQ(velotrimmer.displayAnswer(), Velotrimmer::DisplayAnswered);
    ASSERT_EQ(kestra.ldmCount(), 5u);
    setBalanceTargets();
    // What a run's camera saw of the wall.
    for (uint n = 1; n <= kestra.ldmCount(); ++n)
        kestra.setLdmRGBObserved(n, DummyRedBlue, DummyGreen, DummyRedBlue);
    const std::vector<QString> measured = ldmData(kestra.ldmCount());

    velotrimmer.pollDevices();
    EXPECT_EQ(velotrimmer.displayAnswer(), Velotrimmer::DisplayAnswered);
    EXPECT_EQ(ldmData(kestra.ldmCount()), measured);

    // No layout at all: the poll fails and names what came back; the wall stays whole.
    for (const Reply& noLayout : {Reply::json("", 204), Reply::json("[]")}) {
        SCOPED_TRACE(noLayout.body);
        processor.setRoute("GET", ProcessorSimulator::kLayoutTarget, noLayout);
        MessageCapture log;
        velotrimmer.pollDevices();
        EXPECT_EQ(velotrimmer.displayAnswer(), Velotrimmer::DisplayFailed);
        EXPECT_TRUE(velotrimmer.displayError().startsWith("The processor's layout reply is "))
            << velotrimmer.displayError().toStdString();
        EXPECT_TRUE(log.contains("Error updating display: " + velotrimmer.displayError()));
        EXPECT_FALSE(log.contains("KESTRA has 0 receivers"));
        EXPECT_EQ(kestra.ldmCount(), 5u);
        EXPECT_EQ(ldmData(kestra.ldmCount()), measured);
    }

    // Another wall: the old one and its measurements go.
    processor.setRoute("GET", ProcessorSimulator::kLayoutTarget, Reply::json(ProcessorSimulator::meshTiles(2, 40, 20, 2, 1)));
    velotrimmer.pollDevices();
    EXPECT_EQ(velotrimmer.displayAnswer(), Velotrimmer::DisplayAnswered);
    ASSERT_EQ(kestra.ldmCount(), 4u);
    EXPECT_EQ(kestra.ldmGreenObserved(1), 0.0);
}
