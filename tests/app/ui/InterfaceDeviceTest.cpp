// The interface where the devices are missing or in trouble: what the operator is shown, and what
// a run refused for a missing device leaves untouched. The real interface over the real
// controller, offscreen, with the processor on loopback and the scripted camera behind the SDK.
#include "support/FakeCamera.h"
#include "support/InterfaceFixture.h"
#include "support/ProcessorSimulator.h"
#include "support/QtPrinters.h"
#include "support/ScopedTempFolder.h"

#include "display/DisplayBase.h"
#include "display/Kestra.h"
#include "instruments/CameraController.h"
#include "instruments/OptionList.h"
#include "instruments/SonyCamera.h"
#include "shell/Velotrimmer.h"

#include <QHostAddress>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

constexpr int CameraWaitMs = 10000;

class InterfaceDevices : public InterfaceFixture
{
protected:
    // Picks the entry with this text from a choice, as a user does: open it, click the entry.
    void pick(QQuickItem* choice, const QString& text)
    {
        ASSERT_NE(choice, nullptr);
        click(choice);
        QObject* popup = choice->property("popup").value<QObject*>();
        ASSERT_NE(popup, nullptr);
        QQuickItem* entry = nullptr;
        const bool shown = waitUntil(
            [&] {
                if (!popup->property("opened").toBool())
                    return false;
                for (QObject* object : allObjects(popup)) {
                    auto* candidate = qobject_cast<QQuickItem*>(object);
                    if (candidate && candidate->inherits("QQuickAbstractButton") && candidate->isVisible()
                        && candidate->property("text").toString() == text)
                        entry = candidate;
                }
                return entry != nullptr;
            },
            5000);
        ASSERT_TRUE(shown) << "no entry " << text.toStdString();
        click(entry);
        EXPECT_TRUE(waitUntil([popup] { return !popup->property("visible").toBool(); }, 5000));
    }
};

// Settings of a start: the mode, the simulated display (with its wall) or the processor (without
// an address, so no wall), the dummy camera or the real one.
void storeStart(int mode, bool simulatedDisplay, bool dummyCamera)
{
    QSettings settings;
    settings.setValue("mode", mode);
    settings.setValue("output", simulatedDisplay);
    settings.setValue("camera", dummyCamera);
    settings.sync();
}

// ---- The processor's answer ------------------------------------------------------------------------

enum class Peer {
    Closed,        // nothing listens at the address
    WrongPassword, // the processor refuses the program's credentials
    Answering,     // the processor answers status and layout
};

struct AnswerCase
{
    const char* name;
    Peer peer;
    const char* lamp;
    const char* error; // found in the error shown; empty: no error shown
};

void PrintTo(const AnswerCase& c, std::ostream* os)
{
    *os << c.name;
}

class ProcessorAnswer : public InterfaceDevices, public ::testing::WithParamInterface<AnswerCase>
{
};

// An address typed in the KESTRA panel is polled as the program's timer polls it; the panel shows
// the answer, and a new address forgets it.
TEST_P(ProcessorAnswer, ThePanelShowsWhatThePollOfTheTypedAddressGot)
{
    const AnswerCase& c = GetParam();
    ProcessorSimulator processor;
    processor.setRoute("GET", ProcessorSimulator::kStatusTarget, ProcessorSimulator::Reply::json(ProcessorSimulator::status()));
    processor.setRoute("GET", ProcessorSimulator::kLayoutTarget,
                       ProcessorSimulator::Reply::json(ProcessorSimulator::layout(ProcessorSimulator::Layout::Wall)));
    if (c.peer == Peer::WrongPassword)
        processor.requireDigest();
    else
        processor.allowAnonymous();
    QString address = QString::fromStdString(processor.address());
    if (c.peer == Peer::Closed) {
        QTcpServer closed;
        ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
        address = QStringLiteral("127.0.0.1:%1").arg(closed.serverPort());
    }
    storeStart(0, false, true);
    load();
    QQuickItem* state = item("processorState");
    ASSERT_NE(state, nullptr);
    EXPECT_FALSE(state->isVisible()) << "shown without an address";

    typeInto(item("displayAddress"), address);
    ASSERT_EQ(controller().kestra()->address(), address);
    EXPECT_TRUE(state->isVisible());
    EXPECT_EQ(find("processorLamp")->property("text").toString(), "Processor: not polled yet");

    controller().pollDevices();
    EXPECT_TRUE(waitUntil([&] { return find("processorLamp")->property("text").toString() == c.lamp; }, 5000))
        << find("processorLamp")->property("text").toString().toStdString();
    QQuickItem* error = item("processorError");
    EXPECT_EQ(error->isVisible(), c.error[0] != '\0');
    EXPECT_TRUE(error->property("text").toString().contains(c.error)) << error->property("text").toString().toStdString();
    expectNoWarningsButFailedPolls();

    typeInto(item("displayAddress"), "127.0.0.2");
    EXPECT_EQ(find("processorLamp")->property("text").toString(), "Processor: not polled yet");
    EXPECT_FALSE(item("processorError")->isVisible());
}

INSTANTIATE_TEST_SUITE_P(
    Peers, ProcessorAnswer,
    ::testing::Values(AnswerCase{"NothingListens", Peer::Closed, "Processor: no usable answer", "refused"},
                      AnswerCase{"WrongPassword", Peer::WrongPassword, "Processor: no usable answer", "401"},
                      AnswerCase{"Answers", Peer::Answering, "Processor answers", ""}),
    [](const ::testing::TestParamInfo<AnswerCase>& info) { return std::string(info.param.name); });

// ---- The camera's trouble --------------------------------------------------------------------------

// The program as shipped has no camera SDK: the camera panel says so, and so does the status line
// when a uniformity mode starts or is chosen, and again after Connect.
class NoCameraSdk : public InterfaceDevices, public ::testing::WithParamInterface<bool>
{
};

TEST_P(NoCameraSdk, ThePanelAndTheStatusLineSaySo)
{
    const bool startInUniformity = GetParam();
    // Chosen later, the mode reads the layout of the display: the simulated one has one.
    storeStart(startInUniformity ? 1 : 0, !startInUniformity, false);
    load();
    const QString failed = SonyCamera::SdkInitFailedMessage;
    if (!startInUniformity) {
        ASSERT_TRUE(waitUntil([&] { return controller().cameraController()->statusMessage() == failed; }, CameraWaitMs));
        clickMenuItem("uniformityItem");
        ASSERT_EQ(controller().mode(), Velotrimmer::Balance);
    }
    ASSERT_TRUE(waitUntil([&] { return controller().statusString() == failed; }, CameraWaitMs))
        << controller().statusString().toStdString();
    EXPECT_EQ(find("statusLabel")->property("text").toString(), failed);
    QQuickItem* panelStatus = item("cameraStatus");
    ASSERT_NE(panelStatus, nullptr);
    EXPECT_TRUE(panelStatus->isVisible());
    EXPECT_EQ(panelStatus->property("text").toString(), failed);

    controller().setStatusString("Something else");
    click(item("connectButton"));
    EXPECT_TRUE(waitUntil([&] { return controller().statusString() == failed; }, CameraWaitMs))
        << controller().statusString().toStdString();
    expectNoWarningsButFailedPolls();
}

INSTANTIATE_TEST_SUITE_P(Starts, NoCameraSdk, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "InUniformity" : "InLinearityThenUniformityChosen");
                         });

// The camera that goes takes its trouble out of the status line, and the panel shows the one that
// came ready; chosen again, the camera without SDK says so again.
TEST_F(InterfaceDevices, ACameraSwitchedAwayTakesItsTroubleOutOfTheStatusLine)
{
    storeStart(1, true, false);
    load();
    const QString failed = SonyCamera::SdkInitFailedMessage;
    ASSERT_TRUE(waitUntil([&] { return controller().statusString() == failed; }, CameraWaitMs))
        << controller().statusString().toStdString();

    clickMenuItem("prefsItem");
    auto* prefs = qobject_cast<QQuickWindow*>(find("prefs"));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(prefs));
    click(item("prefsDummyCamera"));
    ASSERT_EQ(controller().cameraType(), 1);
    EXPECT_TRUE(waitUntil([&] { return find("readyLamp")->property("on").toBool(); }, CameraWaitMs));
    EXPECT_NE(controller().statusString(), failed);
    EXPECT_NE(find("statusLabel")->property("text").toString(), failed);
    EXPECT_FALSE(item("cameraStatus")->isVisible());

    click(item("prefsDummyCamera"));
    ASSERT_EQ(controller().cameraType(), 0);
    EXPECT_TRUE(waitUntil([&] { return find("statusLabel")->property("text").toString() == failed; }, CameraWaitMs));
    expectNoWarningsButFailedPolls();
}

// ---- Lens compensation -----------------------------------------------------------------------------

// The lens and its focal length are chosen in the camera panel: the controller gets each option's
// stored value, the focal lengths of the chosen lens are offered, and at the next start the panel
// shows the choice again.
TEST_F(InterfaceDevices, LensAndFocalPicksReachTheControllerAsValuesAndAreShownAgainAtStart)
{
    const QString lensKey = "FE_4^024-105";
    const QString lensFile = ":src/lenscomp/ILCE-7C_FE_4^024-105_@050~70.jpg";
    ScopedTempFolder temp;
    InstalledFakeCamera fake;
    fake->setModel("ILCE-7C");
    storeStart(1, false, false);
    load();
    auto startCamera = [&] {
        return waitUntil([&] { return fake->setUpDone(*controller().cameraController()); }, CameraWaitMs);
    };
    ASSERT_TRUE(startCamera());
    QQuickItem* lens = item("lensChoice");
    QQuickItem* focal = item("focalChoice");
    ASSERT_TRUE(waitUntil([&] { return lens->isVisible(); }, CameraWaitMs));

    pick(lens, "FE 4/24-105");
    EXPECT_EQ(controller().lensName(), lensKey);
    EXPECT_EQ(QSettings().value("lensName").toString(), lensKey);
    EXPECT_EQ(lens->property("displayText").toString(), "FE 4/24-105");
    // The focal lengths of that lens, after "none".
    EXPECT_EQ(controller().lensFileList()->count(), 1 + 8);
    EXPECT_EQ(focal->property("count").toInt(), 1 + 8);

    pick(focal, "@50~70mm");
    EXPECT_EQ(controller().lensFile(), lensFile);
    EXPECT_EQ(focal->property("displayText").toString(), "@50~70mm");
    expectNoWarningsButFailedPolls();

    // The next start.
    unload();
    destroy();
    load();
    ASSERT_TRUE(startCamera());
    ASSERT_TRUE(waitUntil([&] { return item("focalChoice")->property("count").toInt() > 1; }, CameraWaitMs));
    EXPECT_EQ(item("lensChoice")->property("displayText").toString(), "FE 4/24-105");
    EXPECT_EQ(item("focalChoice")->property("displayText").toString(), "@50~70mm");
    EXPECT_EQ(controller().lensFile(), lensFile);
    expectNoWarningsButFailedPolls();

    // The camera goes before the fake it is connected to.
    unload();
    destroy();
}

// ---- A linearity run without a colorimeter ---------------------------------------------------------

struct NoColorimeterCase
{
    const char* name;
    bool cineMeter;      // else the serial colorimeter, which is not attached here
    bool onProcessor;    // else the simulated display
    const char* missing; // what the status line names
};

void PrintTo(const NoColorimeterCase& c, std::ostream* os)
{
    *os << c.name;
}

class NoColorimeter : public InterfaceDevices, public ::testing::WithParamInterface<NoColorimeterCase>
{
};

TEST_P(NoColorimeter, RunIsRefusedInRedBeforeTheWallIsTouched)
{
    const NoColorimeterCase& c = GetParam();
    ProcessorSimulator processor;
    processor.allowAnonymous();
    processor.acceptUpdates();
    processor.setRoute("GET", ProcessorSimulator::kStatusTarget, ProcessorSimulator::Reply::json(ProcessorSimulator::status()));
    processor.setRoute("GET", ProcessorSimulator::kLayoutTarget,
                       ProcessorSimulator::Reply::json(ProcessorSimulator::layout(ProcessorSimulator::Layout::Wall)));
    QSettings settings;
    settings.setValue("colorMeter", !c.cineMeter);
    settings.sync();
    storeStart(0, !c.onProcessor, true);
    load();
    Velotrimmer& velotrimmer = controller();
    if (c.onProcessor)
        velotrimmer.kestra()->setAddress(QString::fromStdString(processor.address()));
    DisplayBase* display = velotrimmer.display();
    ASSERT_EQ(display == velotrimmer.kestra(), c.onProcessor);
    const QString colour = display->colorStr();
    QSignalSpy colourChanges(display, &DisplayBase::colorStrChanged);
    QSignalSpy cycling(display, &DisplayBase::cyclingChanged);
    QSignalSpy running(&velotrimmer, &Velotrimmer::runningChanged);

    ASSERT_TRUE(item("runButton")->isEnabled());
    // The refusal is made before the click returns.
    click(item("runButton"));

    EXPECT_EQ(velotrimmer.status(), -1);
    EXPECT_TRUE(velotrimmer.statusString().contains(c.missing)) << velotrimmer.statusString().toStdString();
    EXPECT_EQ(find("statusLabel")->property("text").toString(), velotrimmer.statusString());
    EXPECT_FALSE(velotrimmer.running());
    EXPECT_TRUE(running.isEmpty());
    EXPECT_EQ(display->colorStr(), colour);
    EXPECT_TRUE(colourChanges.isEmpty());
    EXPECT_TRUE(cycling.isEmpty());
    // Nothing was sent to the processor (its polls only read).
    for (const ProcessorSimulator::Request& request : processor.requests())
        EXPECT_EQ(request.method, "GET") << request.target;
    EXPECT_FALSE(qobject_cast<QQuickWindow*>(find("simulatedDisplayWindow"))->isVisible());
    expectNoWarnings();
}

INSTANTIATE_TEST_SUITE_P(
    Devices, NoColorimeter,
    ::testing::Values(NoColorimeterCase{"SerialNotAttachedOnTheSimulator", false, false, "CRI colorimeter not found"},
                      NoColorimeterCase{"NetworkWithoutAddressOnTheProcessor", true, true, "Cine Meter II: no network address"}),
    [](const ::testing::TestParamInfo<NoColorimeterCase>& info) { return std::string(info.param.name); });

// ---- Why Run is greyed -----------------------------------------------------------------------------

enum class Lack {
    Target,          // the bench without a target
    LitLdms,         // a target, but no LDM lit
    Camera,          // the real camera, which is missing here, and a target
    LayoutAndTarget, // the processor without an address
    Nothing,         // the bench with a target
};

struct GreyedCase
{
    const char* name;
    Lack lack;
    const char* toolTip; // empty: Run is enabled and has none
};

void PrintTo(const GreyedCase& c, std::ostream* os)
{
    *os << c.name;
}

class GreyedRun : public InterfaceDevices, public ::testing::WithParamInterface<GreyedCase>
{
};

TEST_P(GreyedRun, ItsToolTipNamesWhatIsMissing)
{
    const GreyedCase& c = GetParam();
    const bool onProcessor = c.lack == Lack::LayoutAndTarget;
    storeStart(0, !onProcessor, c.lack != Lack::Camera);
    if (c.lack != Lack::Target && c.lack != Lack::LayoutAndTarget) {
        QSettings settings;
        settings.setValue("balRed", 150.0);
        settings.setValue("balGreen", 175.0);
        settings.setValue("balBlue", 150.0);
    }
    load();
    if (onProcessor)
        controller().setMode(Velotrimmer::Balance);
    else
        enterMode(Velotrimmer::Balance);
    DisplayBase* display = controller().display();
    if (c.lack == Lack::LitLdms) {
        // Light nothing: a selection of no LDM.
        display->selectLdms(QPoint(-20, -20), QPoint(-10, -10));
        display->lightSelectedLdms();
        display->adjustSelectedLdms(0);
        ASSERT_EQ(display->adjustableLdmCount(), 0u);
    }

    QQuickItem* run = item("runButton");
    QObject* toolTip = find("runToolTip");
    ASSERT_NE(toolTip, nullptr);
    // The dummy camera comes up ready a moment after the start.
    EXPECT_TRUE(waitUntil([&] { return toolTip->property("text").toString() == c.toolTip; }, CameraWaitMs))
        << toolTip->property("text").toString().toStdString();
    EXPECT_EQ(run->isEnabled(), c.toolTip[0] == '\0');
    if (c.toolTip[0] != '\0') {
        // It shows where the operator points, on the greyed button.
        const QPoint over = run->mapToScene(QPointF(run->width() / 2, run->height() / 2)).toPoint();
        QTest::mouseMove(window(), over - QPoint(run->width(), 0));
        QTest::mouseMove(window(), over);
        EXPECT_TRUE(waitUntil([toolTip] { return toolTip->property("visible").toBool(); }, 5000));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lacks, GreyedRun,
    ::testing::Values(GreyedCase{"NoTarget", Lack::Target, "Run needs a target RGB."},
                      GreyedCase{"NoLitLdms", Lack::LitLdms, "Run needs lit LDMs."},
                      GreyedCase{"NoCamera", Lack::Camera, "Run needs a ready camera."},
                      GreyedCase{"NoProcessorLayout", Lack::LayoutAndTarget,
                                 "Run needs the processor's layout, a target RGB."},
                      GreyedCase{"Ready", Lack::Nothing, ""}),
    [](const ::testing::TestParamInfo<GreyedCase>& info) { return std::string(info.param.name); });

// ---- Modes -----------------------------------------------------------------------------------------

TEST_F(InterfaceDevices, TheUniformityMenuItemLeavesTheHighResolutionMode)
{
    loadBench();
    enterMode(Velotrimmer::Template);
    clickMenuItem("uniformityItem");
    EXPECT_EQ(controller().mode(), Velotrimmer::Balance);
    expectNoWarnings();
}

} // namespace
