// The QML interface, loaded as the program loads it, over the real controller (offscreen): its
// windows and modes, what is enabled when, the questions before what cannot be undone, the
// preferences and a whole run from the menus.
#include "support/InterfaceFixture.h"
#include "support/QtPrinters.h"

#include "display/DisplayBase.h"
#include "instruments/ImageSource.h"
#include "shell/LogModel.h"
#include "shell/Velotrimmer.h"
#include "ui/InterfaceLoader.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using Interface = InterfaceFixture;

// ---- Loading, modes, windows ---------------------------------------------------------------------

TEST_F(Interface, ModesRunsAndEveryWindowShowWithoutAWarning)
{
    loadBench();
    Velotrimmer& velotrimmer = controller();
    EXPECT_EQ(window()->title(), QString("KESTRA Velotrim ® %1 – Linearity Mode").arg(VELOTRIM_VERSION));
    EXPECT_GE(window()->width(), 780);
    EXPECT_GE(window()->height(), 600);

    for (int mode : {0, 1, 2, 0}) {
        enterMode(mode);
        EXPECT_EQ(static_cast<int>(velotrimmer.mode()), mode);
        // The status line and the Run button stay whole at the default size, whatever the panels.
        for (const char* name : {"runButton", "statusLabel"}) {
            QQuickItem* shown = item(name);
            EXPECT_GE(shown->height(), shown->implicitHeight()) << name << " in mode " << mode;
            EXPECT_LE(shown->mapToScene(QPointF(0, shown->height())).y(), window()->height()) << name << " in mode " << mode;
        }
        velotrimmer.runNothing();
        EXPECT_TRUE(velotrimmer.running());
        velotrimmer.setRunning(false);
        EXPECT_FALSE(velotrimmer.running());
    }
    EXPECT_TRUE(window()->title().endsWith("Linearity Mode"));
    velotrimmer.setMode(Velotrimmer::Balance);
    EXPECT_TRUE(waitUntil([&] { return window()->title().endsWith("Uniformity Mode"); }, 5000));

    clickMenuItem("prefsItem");
    auto* prefs = qobject_cast<QQuickWindow*>(find("prefs"));
    ASSERT_NE(prefs, nullptr);
    EXPECT_TRUE(prefs->isVisible());
    EXPECT_EQ(prefs->title(), "KESTRA Velotrim ® Preferences");
    clickMenuItem("aboutItem");
    EXPECT_TRUE(find("aboutBox")->property("visible").toBool());
    QMetaObject::invokeMethod(find("aboutBox"), "close");
    ASSERT_TRUE(waitUntil([&] { return !find("aboutBox")->property("visible").toBool(); }, 5000));
    clickMenuItem("simulatedDisplayItem");
    clickMenuItem("previewItem");
    auto* simulated = qobject_cast<QQuickWindow*>(find("simulatedDisplayWindow"));
    auto* preview = qobject_cast<QQuickWindow*>(find("imageWindow"));
    ASSERT_NE(simulated, nullptr);
    ASSERT_NE(preview, nullptr);
    EXPECT_TRUE(simulated->isVisible());
    EXPECT_TRUE(preview->isVisible());
    EXPECT_EQ(simulated->title(), "KESTRA Velotrim ® Simulated Display");
    velotrimmer.setMode(Velotrimmer::Linearity);
    clickMenuItem("logItem");
    clickMenuItem("outputControlsItem");
    // Laid out and drawn as the panels are now.
    ASSERT_TRUE(waitForFrame());
    expectNoWarnings();
}

TEST_F(Interface, ClosingKeepsWhichWindowsWereOpenAndTheyReopen)
{
    loadBench();
    clickMenuItem("simulatedDisplayItem");
    window()->close();
    EXPECT_TRUE(waitUntil([&] { return !qobject_cast<QQuickWindow*>(find("simulatedDisplayWindow"))->isVisible(); },
                          5000));
    // The settings are written when the interface goes.
    m_engine.reset();
    m_window = nullptr;
    QSettings settings;
    EXPECT_EQ(settings.value("MainWindow/dummyShown").toInt(), 1);
    EXPECT_EQ(settings.value("MainWindow/imageShown").toInt(), 0);

    m_engine = std::make_unique<QQmlApplicationEngine>();
    ASSERT_TRUE(InterfaceLoader::load(*m_engine, controller(), *LogModel::appLog()));
    m_window = qobject_cast<QQuickWindow*>(m_engine->rootObjects().constFirst());
    ASSERT_NE(m_window, nullptr);
    auto* simulated = qobject_cast<QQuickWindow*>(find("simulatedDisplayWindow"));
    EXPECT_TRUE(QTest::qWaitFor([simulated] { return simulated->isVisible(); }, 3000));
    EXPECT_FALSE(qobject_cast<QQuickWindow*>(find("imageWindow"))->isVisible());
    expectNoWarnings();
}

TEST_F(Interface, TheLogFollowsItsNewestLineWhileShownAndCatchesUpWhenShownAgain)
{
    load();
    clickMenuItem("logItem");
    QObject* panel = find("appLogPanel");
    QQuickItem* view = nullptr;
    for (QObject* object : allObjects(panel)) {
        if (object->inherits("QQuickListView"))
            view = qobject_cast<QQuickItem*>(object);
    }
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(view->isVisible());
    const auto showsNewest = [view] {
        return view->property("count").toInt() == LogModel::appLog()->rowCount() && view->property("atYEnd").toBool();
    };
    // Bursts of lines, as a run writes them: shown, the view follows them; hidden, it waits.
    for (int i = 0; i < 300; ++i)
        qInfo("burst line %d", i);
    EXPECT_TRUE(waitUntil(showsNewest, 5000));
    clickMenuItem("logItem");
    ASSERT_FALSE(view->isVisible());
    for (int i = 0; i < 300; ++i)
        qInfo("hidden line %d", i);
    clickMenuItem("logItem");
    EXPECT_TRUE(waitUntil(showsNewest, 5000));
    expectNoWarnings();
}

TEST_F(Interface, TheFirstStartOnAProcessorWithoutAddressShowsWhereToChooseTheSimulator)
{
    load();
    EXPECT_TRUE(item("noAddressHint")->isVisible());
    click(item("useSimulatorButton"));
    EXPECT_EQ(controller().outputType(), 1);
    EXPECT_FALSE(item("noAddressHint")->isVisible());
    expectNoWarnings();
}

// ---- What is enabled when ------------------------------------------------------------------------

enum class Bench {
    Idle,            // nothing running
    Running,         // the busy state
    TargetSet,       // idle, a balance target chosen
    CorrectionInHand, // idle, a correction available
    Resumable,       // idle, a run to resume
};

struct EnablingCase
{
    const char* name;
    const char* object;
    const char* property; // "enabled" or "visible"
    int mode;
    Bench bench;
    bool expected;
};

void PrintTo(const EnablingCase& c, std::ostream* os)
{
    *os << c.name;
}

class InterfaceEnabling : public Interface, public ::testing::WithParamInterface<EnablingCase>
{
};

TEST_P(InterfaceEnabling, FollowsModeAndRun)
{
    const EnablingCase& c = GetParam();
    loadBench();
    Velotrimmer& velotrimmer = controller();
    if (c.mode != 0)
        enterMode(c.mode);
    switch (c.bench) {
    case Bench::Idle:
        break;
    case Bench::Running:
        velotrimmer.runNothing();
        break;
    case Bench::TargetSet:
        velotrimmer.setBalanceTargetRed(150.0);
        velotrimmer.setBalanceTargetGreen(175.0);
        velotrimmer.setBalanceTargetBlue(150.0);
        break;
    case Bench::CorrectionInHand:
        velotrimmer.setCalibrationAvailable(true);
        break;
    case Bench::Resumable:
        velotrimmer.setResumeStep(3);
        break;
    }
    // Bindings follow at once; a bounded wait keeps a slower one from passing for a wrong value.
    QObject* shown = find(c.object);
    EXPECT_TRUE(waitUntil([&] { return shown->property(c.property).toBool() == c.expected; }, 5000))
        << c.object << "." << c.property << " is " << shown->property(c.property).toBool();
    velotrimmer.setRunning(false);
    expectNoWarnings();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, InterfaceEnabling,
    ::testing::Values(
        EnablingCase{"OpenIdle", "openItem", "enabled", 0, Bench::Idle, true},
        EnablingCase{"OpenRunning", "openItem", "enabled", 0, Bench::Running, false},
        EnablingCase{"SaveCorrectionWithout", "saveCorrectionItem", "enabled", 0, Bench::Idle, false},
        EnablingCase{"SaveCorrectionInHand", "saveCorrectionItem", "enabled", 0, Bench::CorrectionInHand, true},
        EnablingCase{"SaveLogIdle", "saveLogItem", "enabled", 0, Bench::Idle, true},
        EnablingCase{"SaveLogRunning", "saveLogItem", "enabled", 1, Bench::Running, false},
        EnablingCase{"PrefsIdle", "prefsItem", "enabled", 0, Bench::Idle, true},
        EnablingCase{"PrefsRunning", "prefsItem", "enabled", 0, Bench::Running, false},
        EnablingCase{"UniformityModeRunning", "uniformityItem", "enabled", 0, Bench::Running, false},
        EnablingCase{"LinearityModeRunning", "linearityItem", "enabled", 1, Bench::Running, false},
        EnablingCase{"RunLinearity", "runItem", "enabled", 0, Bench::Idle, true},
        EnablingCase{"RunBalanceWithoutTarget", "runItem", "enabled", 1, Bench::Idle, false},
        EnablingCase{"RunBalanceWithTarget", "runItem", "enabled", 1, Bench::TargetSet, true},
        EnablingCase{"RunTemplateWithTarget", "runItem", "enabled", 2, Bench::TargetSet, true},
        EnablingCase{"RunButtonWhileRunning", "runButton", "enabled", 1, Bench::Running, true},
        EnablingCase{"StopIdle", "stopItem", "enabled", 0, Bench::Idle, false},
        EnablingCase{"StopRunning", "stopItem", "enabled", 0, Bench::Running, true},
        EnablingCase{"ResumeWithoutStep", "resumeItem", "enabled", 0, Bench::Idle, false},
        EnablingCase{"ResumeWithStep", "resumeItem", "enabled", 0, Bench::Resumable, true},
        EnablingCase{"SpotMeasureLinearity", "spotMeasureItem", "enabled", 0, Bench::Idle, true},
        EnablingCase{"SpotMeasureBalance", "spotMeasureItem", "enabled", 1, Bench::Idle, false},
        EnablingCase{"PreviewRunning", "previewItem", "enabled", 0, Bench::Running, false},
        EnablingCase{"UpdateCheckIdle", "checkUpdateItem", "enabled", 0, Bench::Idle, true},
        EnablingCase{"UpdateCheckRunning", "checkUpdateItem", "enabled", 0, Bench::Running, false},
        EnablingCase{"ZoomLinearity", "zoomInItem", "enabled", 0, Bench::Idle, false},
        EnablingCase{"ZoomBalance", "zoomInItem", "enabled", 1, Bench::Idle, true},
        EnablingCase{"OutputSlidersRunning", "outputRed", "enabled", 0, Bench::Running, false},
        EnablingCase{"WallMenuRunning", "lightAllItem", "enabled", 1, Bench::Running, false},
        EnablingCase{"HighResolutionOnTheSimulator", "highResolutionBox", "visible", 1, Bench::Idle, false}),
    [](const ::testing::TestParamInfo<EnablingCase>& info) { return std::string(info.param.name); });

TEST_F(Interface, PreferencesCloseWhenARunStarts)
{
    loadBench();
    clickMenuItem("prefsItem");
    auto* prefs = qobject_cast<QQuickWindow*>(find("prefs"));
    ASSERT_TRUE(prefs->isVisible());
    controller().runNothing();
    EXPECT_TRUE(waitUntil([&] { return !prefs->isVisible(); }, 5000));
    controller().setRunning(false);
    expectNoWarnings();
}

// ---- Questions before what cannot be undone --------------------------------------------------------

TEST_F(Interface, ClosingDuringARunAsksFirstAndKeepsRunningUnlessToldToStop)
{
    loadBench();
    Velotrimmer& velotrimmer = controller();
    velotrimmer.runNothing();
    ASSERT_TRUE(velotrimmer.running());
    QObject* question = find("question");

    window()->close();
    ASSERT_TRUE(waitUntil([&] { return question->property("opened").toBool(); }, 2000));
    EXPECT_EQ(question->property("title").toString(), "Quit during a run?");
    EXPECT_TRUE(window()->isVisible());
    EXPECT_TRUE(velotrimmer.running());
    EXPECT_EQ(item("messageReject", question)->property("text").toString(), "Keep Running");
    click(item("messageReject", question));
    ASSERT_TRUE(waitUntil([&] { return !question->property("visible").toBool(); }, 2000));
    EXPECT_TRUE(window()->isVisible());
    EXPECT_TRUE(velotrimmer.running());

    window()->close();
    ASSERT_TRUE(waitUntil([&] { return question->property("opened").toBool(); }, 2000));
    EXPECT_EQ(item("messageAccept", question)->property("text").toString(), "Stop Run and Quit");
    click(item("messageAccept", question));
    EXPECT_TRUE(waitUntil([&] { return !window()->isVisible(); }, 2000));
    EXPECT_FALSE(velotrimmer.running());
    expectNoWarnings();
}

// The question stands only while its run does: a run that ends meanwhile takes it away, and the
// program stays, with what the run left.
TEST_F(Interface, TheQuitQuestionGoesWhenTheRunEnds)
{
    loadBench();
    Velotrimmer& velotrimmer = controller();
    velotrimmer.runNothing();
    QObject* question = find("question");
    window()->close();
    ASSERT_TRUE(waitUntil([&] { return question->property("opened").toBool(); }, 5000));

    velotrimmer.setRunning(false);
    EXPECT_TRUE(waitUntil([&] { return !question->property("visible").toBool(); }, 5000))
        << "the question still says a run is in progress";
    EXPECT_TRUE(window()->isVisible());
    // Closing now quits without a question.
    window()->close();
    EXPECT_TRUE(waitUntil([&] { return !window()->isVisible(); }, 5000));
    EXPECT_FALSE(question->property("visible").toBool());
    expectNoWarnings();
}

// A question answers the keyboard as on any desktop: Return with its default button (Stop Run
// and Quit), Esc with its cancel button (Keep Running), and Return on the button Tab moved to.
enum class Answer {
    Return,
    Escape,
    TabThenReturn,
};

struct AnswerCase
{
    const char* name;
    Answer keys;
    bool quits;
};

void PrintTo(const AnswerCase& c, std::ostream* os)
{
    *os << c.name;
}

class QuestionKeys : public Interface, public ::testing::WithParamInterface<AnswerCase>
{
};

TEST_P(QuestionKeys, AnswerTheQuitQuestion)
{
    const AnswerCase& c = GetParam();
    loadBench();
    Velotrimmer& velotrimmer = controller();
    velotrimmer.runNothing();
    window()->requestActivate();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window()));
    QObject* question = find("question");
    window()->close();
    ASSERT_TRUE(waitUntil([&] { return question->property("opened").toBool(); }, 5000));

    switch (c.keys) {
    case Answer::Return:
        QTest::keyClick(window(), Qt::Key_Return);
        break;
    case Answer::Escape:
        QTest::keyClick(window(), Qt::Key_Escape);
        break;
    case Answer::TabThenReturn: {
        // From the default button to the next one, Keep Running.
        QQuickItem* keep = item("messageReject", question);
        for (int press = 0; press < 4 && !keep->hasActiveFocus(); ++press)
            QTest::keyClick(window(), Qt::Key_Tab);
        ASSERT_TRUE(keep->hasActiveFocus());
        QTest::keyClick(window(), Qt::Key_Return);
        break;
    }
    }
    ASSERT_TRUE(waitUntil([&] { return !question->property("visible").toBool(); }, 5000)) << "the key did not answer";
    if (c.quits) {
        EXPECT_TRUE(waitUntil([&] { return !window()->isVisible(); }, 5000));
        EXPECT_FALSE(velotrimmer.running());
    } else {
        EXPECT_TRUE(window()->isVisible());
        EXPECT_TRUE(velotrimmer.running()) << "the answer to keep running stopped the run";
        velotrimmer.setRunning(false);
    }
    expectNoWarnings();
}

INSTANTIATE_TEST_SUITE_P(Keys, QuestionKeys,
                         ::testing::Values(AnswerCase{"ReturnStopsAndQuits", Answer::Return, true},
                                           AnswerCase{"EscKeepsRunning", Answer::Escape, false},
                                           AnswerCase{"TabThenReturnKeepsRunning", Answer::TabThenReturn, false}),
                         [](const ::testing::TestParamInfo<AnswerCase>& info) { return std::string(info.param.name); });

class ResetQuestion : public Interface, public ::testing::WithParamInterface<int>
{
};

TEST_P(ResetQuestion, ResetAllAsksFirstAndOnlyAYesResets)
{
    const int mode = GetParam();
    loadBench();
    enterMode(mode);
    DisplayBase* display = controller().display();
    ASSERT_TRUE(display->setLdmRGB(5, 0.8, 0.9, 0.7, 1.0).ok());
    QObject* question = find("question");
    QObject* menu = find("wallMenu");
    QQuickItem* grid = item("wallGrid");

    auto chooseReset = [&] {
        const QPoint centre = grid->mapToScene(QPointF(grid->width() / 4, grid->height() / 4)).toPoint();
        QTest::mouseClick(window(), Qt::RightButton, {}, centre);
        EXPECT_TRUE(waitUntil([&] { return menu->property("opened").toBool(); }, 2000));
        click(item("resetAllItem"));
        EXPECT_TRUE(waitUntil([&] { return question->property("opened").toBool(); }, 2000));
    };
    chooseReset();
    EXPECT_EQ(question->property("title").toString(), mode == 2 ? "Reset all Tiles?" : "Reset all LDMs?");
    EXPECT_DOUBLE_EQ(display->ldmRedGain(5), 0.8);
    click(item("messageReject", question));
    ASSERT_TRUE(waitUntil([&] { return !question->property("visible").toBool(); }, 2000));
    EXPECT_DOUBLE_EQ(display->ldmRedGain(5), 0.8);

    chooseReset();
    click(item("messageAccept", question));
    ASSERT_TRUE(waitUntil([&] { return !question->property("visible").toBool(); }, 2000));
    EXPECT_DOUBLE_EQ(display->ldmRedGain(5), 0.0);
    expectNoWarnings();
}

INSTANTIATE_TEST_SUITE_P(Modes, ResetQuestion, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(info.param == 2 ? "Tiles" : "Ldms");
                         });

// ---- Preferences -----------------------------------------------------------------------------------

TEST_F(Interface, PreferencesTakeTypedValuesThroughTheControllerIntoTheSettings)
{
    loadBench();
    clickMenuItem("prefsItem");
    auto* prefs = qobject_cast<QQuickWindow*>(find("prefs"));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(prefs));
    Velotrimmer& velotrimmer = controller();

    typeInto(item("prefsStepsField"), "9");
    EXPECT_EQ(velotrimmer.steps(), 9u);
    EXPECT_EQ(QSettings().value("steps").toUInt(), 9u);

    // Below the shortest delay: the controller keeps its minimum and the field shows it.
    typeInto(item("prefsReadDelayField"), "100");
    EXPECT_EQ(velotrimmer.readDelay(), 500u);
    EXPECT_EQ(QSettings().value("readDelay").toUInt(), 500u);
    EXPECT_EQ(item("prefsReadDelayField")->property("text").toString(), "500");

    // The simulator's gamma is entered relative to the processor's 2.4.
    typeInto(item("prefsGammaField"), "1.1");
    EXPECT_NEAR(velotrimmer.gamma(), 2.64, 1e-9);
    EXPECT_NEAR(QSettings().value("gamma").toDouble(), 2.64, 1e-9);

    // A device box: the dummy camera off, then on again.
    click(item("prefsDummyCamera"));
    EXPECT_EQ(velotrimmer.cameraType(), 0);
    EXPECT_FALSE(QSettings().value("camera").toBool());
    click(item("prefsDummyCamera"));
    EXPECT_EQ(velotrimmer.cameraType(), 1);
    EXPECT_TRUE(QSettings().value("camera").toBool());
    expectNoWarnings();
}

TEST_F(Interface, ResetToDefaultsWritesTheResetTableAfterConfirmation)
{
    loadBench();
    Velotrimmer& velotrimmer = controller();
    velotrimmer.setSteps(5);
    velotrimmer.setStepSpacing(1.5);
    velotrimmer.setAmbientBlack(true);
    velotrimmer.setTrust1stPoint(true);
    velotrimmer.setErrorAllowed(0.7);
    velotrimmer.setReadCount(9);
    velotrimmer.setReadDelay(3000);
    velotrimmer.setTargetCCT(5000);
    velotrimmer.setTargetDuv(0.0);
    velotrimmer.setGamma(2.2);
    velotrimmer.setBrightnessLevel(300);
    velotrimmer.setUseSrgb(true);
    clickMenuItem("prefsItem");
    auto* prefs = qobject_cast<QQuickWindow*>(find("prefs"));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(prefs));

    click(item("resetDefaultsButton"));
    EXPECT_TRUE(find("confirmReset")->property("visible").toBool());
    EXPECT_EQ(find("confirmReset")->property("title").toString(), "Are you sure?");
    click(item("messageAccept", find("confirmReset")));
    ASSERT_TRUE(waitUntil([&] { return velotrimmer.statusString() == "Defaults restored."; }, 5000));

    EXPECT_EQ(velotrimmer.steps(), 17u);
    EXPECT_DOUBLE_EQ(velotrimmer.stepSpacing(), 2.0);
    EXPECT_FALSE(velotrimmer.ambientBlack());
    EXPECT_FALSE(velotrimmer.trust1stPoint());
    EXPECT_DOUBLE_EQ(velotrimmer.errorAllowed(), 0.3);
    EXPECT_EQ(velotrimmer.readCount(), 4u);
    EXPECT_EQ(velotrimmer.readDelay(), 1500u);
    EXPECT_EQ(velotrimmer.targetCCT(), 6504u);
    EXPECT_DOUBLE_EQ(velotrimmer.targetDuv(), 0.0032);
    EXPECT_DOUBLE_EQ(velotrimmer.gamma(), 2.4);
    EXPECT_EQ(velotrimmer.brightnessLevel(), 100u);
    EXPECT_FALSE(QSettings().value("useSRGB").toBool());
    EXPECT_EQ(velotrimmer.statusString(), "Defaults restored.");
    expectNoWarnings();
}

// ---- Runs through the menus ------------------------------------------------------------------------

TEST_F(Interface, ABalanceRunWithoutHardwareFromTargetClickToSavedLog)
{
    loadBench();
    Velotrimmer& velotrimmer = controller();
    velotrimmer.setFakeLdmVariation(0.05);
    enterMode(1);
    ASSERT_TRUE(velotrimmer.imageSource()->isDummy());
    ASSERT_TRUE(waitUntil([&] { return velotrimmer.imageSource()->cameraReady(); }, 5000));
    EXPECT_FALSE(find("runItem")->property("enabled").toBool());

    // A click in "Set target RGB" mode on LDM 20 (column 4, row 2) makes it the target.
    click(item("dragMode_ref"));
    QQuickItem* grid = item("wallGrid");
    const double zoom = grid->property("zoom").toDouble();
    DisplayBase* display = velotrimmer.display();
    clickAt(grid, QPointF((display->ldmX(20) + 50 - display->minX()) * zoom,
                          (display->ldmY(20) + 50 - display->minY()) * zoom));
    ASSERT_TRUE(waitUntil([&] { return velotrimmer.balanceTargetRed() > 0; }, 10000)) << velotrimmer.statusString().toStdString();
    EXPECT_EQ(velotrimmer.selectedLdm(), 20);
    EXPECT_NE(find("targetLabel")->property("text").toString(), "   Target RGB not set   ");
    // The target taken ends the busy state of its sequence, which enables Run.
    ASSERT_TRUE(waitUntil([&] { return find("runItem")->property("enabled").toBool(); }, 5000));
    QSignalSpy running(&velotrimmer, &Velotrimmer::runningChanged);
    QSignalSpy dragMode(ui(), SIGNAL(dragModeChanged()));
    // The wall view draws each LDM in the colour the camera observed: seen as the run ends,
    // before the controller's next idle poll reads the layout again (which starts its LDMs
    // without readings).
    QColor fill;
    QList<double> observed;
    QObject::connect(&velotrimmer, &Velotrimmer::runningChanged, grid, [&](bool on) {
        if (on || fill.isValid())
            return;
        fill = ldmFill(grid, display, 20);
        observed = {display->ldmRedObserved(20), display->ldmGreenObserved(20), display->ldmBlueObserved(20)};
    });
    clickMenuItem("runItem");
    ASSERT_TRUE(waitUntil([&] { return !running.isEmpty() && !velotrimmer.running(); }, 60000));
    EXPECT_TRUE(running.first().at(0).toBool());
    // The wall view only showed data during the run, and its mode came back after it.
    EXPECT_GE(dragMode.size(), 2);
    EXPECT_EQ(ui()->property("dragMode").toString(), "ref");
    ASSERT_TRUE(fill.isValid());
    EXPECT_NEAR(fill.red(), observed[0], 1.0);
    EXPECT_NEAR(fill.green(), observed[1], 1.0);
    EXPECT_NEAR(fill.blue(), observed[2], 1.0);
    EXPECT_GT(fill.green(), 100);

    // The run went to its end on the simulated display: completed, not cancelled.
    EXPECT_EQ(velotrimmer.status(), 1) << velotrimmer.statusString().toStdString();
    EXPECT_EQ(velotrimmer.statusString(), "Uniformity completed.");
    EXPECT_DOUBLE_EQ(velotrimmer.progress(), -1.0);
    EXPECT_FALSE(m_capture->messages().filter("Uniformity took").isEmpty()) << "no summary of the run in the log";

    // Save the log into a folder with a space in its name, as proposed.
    QTemporaryDir folder(QDir::tempPath() + "/log folder XXXXXX");
    velotrimmer.setFilepath(folder.path() + "/");
    clickMenuItem("saveLogItem");
    QFileDialog* dialog = shownFileDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(QDir(dialog->directory()), QDir(folder.path()));
    EXPECT_TRUE(proposedName(dialog).startsWith("VelotrimLog-")) << proposedName(dialog).toStdString();
    QTest::keyClick(nameField(dialog), Qt::Key_Return);
    ASSERT_TRUE(waitUntil([&] { return !dialog->isVisible(); }, 5000));
    const QString saved = velotrimmer.statusString().mid(QString("Log saved to ").size());
    EXPECT_TRUE(velotrimmer.statusString().startsWith("Log saved to ")) << velotrimmer.statusString().toStdString();
    EXPECT_TRUE(saved.startsWith(folder.path() + "/VelotrimLog-")) << saved.toStdString();
    EXPECT_TRUE(QFile::exists(saved)) << saved.toStdString();
    EXPECT_EQ(velotrimmer.filepath(), folder.path() + "/");
    expectNoWarnings();
}
