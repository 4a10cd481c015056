#include "support/InterfaceFixture.h"
#include "support/ModelColorimeter.h"
#include "support/QtPrinters.h"
#include "support/ScopedTempFolder.h"

#include "display/DisplayBase.h"
#include "display/SimulatedDisplay.h"
#include "instruments/ImageSource.h"
#include "shell/CalibrationFile.h"
#include "shell/InterfaceLoader.h"
#include "shell/LogModel.h"
#include "shell/Velotrimmer.h"

#include <QColor>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QQmlComponent>
#include <QSet>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>

using Interface = InterfaceFixture;

namespace {

// The colour a wall view shows an LDM in: its window rendered and read back at the LDM's centre
// (inside the frame, which the balance target's outline only borders).
QColor ldmFill(QQuickItem* grid, DisplayBase* display, int number)
{
    const double zoom = grid->property("zoom").toDouble();
    const QPointF centre((display->ldmX(number) + display->ldmWidth(number) / 2.0 - display->minX()) * zoom,
                         (display->ldmY(number) + display->ldmHeight(number) / 2.0 - display->minY()) * zoom);
    return renderedAt(grid->window(), grid->mapToScene(centre));
}

// The file name field of Qt's own file dialog, and what it proposes.
QLineEdit* nameField(QFileDialog* dialog)
{
    auto* field = dialog->findChild<QLineEdit*>("fileNameEdit");
    EXPECT_NE(field, nullptr);
    return field;
}

QString proposedName(QFileDialog* dialog)
{
    QLineEdit* field = nameField(dialog);
    return field ? field->text() : QString();
}

QPushButton* acceptButton(QFileDialog* dialog)
{
    auto* box = dialog->findChild<QDialogButtonBox*>();
    for (QAbstractButton* button : box ? box->buttons() : QList<QAbstractButton*>()) {
        if (box->buttonRole(button) == QDialogButtonBox::AcceptRole)
            return qobject_cast<QPushButton*>(button);
    }
    ADD_FAILURE() << "the file dialog has no accept button";
    return nullptr;
}

} // namespace

// ---- Loading, modes, windows ---------------------------------------------------------------------

TEST_F(Interface, ModesRunsAndEveryWindowShowWithoutAWarning)
{
    loadBench();
    Velotrimmer& velotrimmer = controller();
    EXPECT_EQ(window()->title(), QString("KESTRA Velotrim ® %1 – Linearity Mode").arg(VELOTRIM_VERSION));
    EXPECT_GE(window()->width(), 780);
    EXPECT_GE(window()->height(), 600);

    for (int mode : {0, 1, 2, 0}) {
        velotrimmer.setMode(static_cast<Velotrimmer::Mode>(mode));

        settle(mode == 0 ? 50 : 500);
        EXPECT_EQ(static_cast<int>(velotrimmer.mode()), mode);
        // The status line and the Run button stay whole at the default size, whatever the panels.
        for (const char* name : {"runButton", "statusLabel"}) {
            QQuickItem* shown = item(name);
            EXPECT_GE(shown->height(), shown->implicitHeight()) << name << " in mode " << mode;
            EXPECT_LE(shown->mapToScene(QPointF(0, shown->height())).y(), window()->height()) << name << " in mode " << mode;
        }
        velotrimmer.runNothing();
        settle(50);
        EXPECT_TRUE(velotrimmer.running());
        velotrimmer.setRunning(false);
        settle(300);
    }
    EXPECT_TRUE(window()->title().endsWith("Linearity Mode"));
    velotrimmer.setMode(Velotrimmer::Balance);
    settle(400);
    EXPECT_TRUE(window()->title().endsWith("Uniformity Mode"));

    clickMenuItem("prefsItem");
    auto* prefs = qobject_cast<QQuickWindow*>(find("prefs"));
    ASSERT_NE(prefs, nullptr);
    EXPECT_TRUE(prefs->isVisible());
    EXPECT_EQ(prefs->title(), "KESTRA Velotrim ® Preferences");
    clickMenuItem("aboutItem");
    EXPECT_TRUE(find("aboutBox")->property("visible").toBool());
    QMetaObject::invokeMethod(find("aboutBox"), "close");
    settle(300);
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
    settle(100);
    clickMenuItem("logItem");
    clickMenuItem("outputControlsItem");
    settle(100);
    expectNoWarnings();
}

TEST_F(Interface, ClosingKeepsWhichWindowsWereOpenAndTheyReopen)
{
    loadBench();
    clickMenuItem("simulatedDisplayItem");
    window()->close();
    settle(50);
    EXPECT_FALSE(qobject_cast<QQuickWindow*>(find("simulatedDisplayWindow"))->isVisible());
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

// ---- Keyboard ------------------------------------------------------------------------------------

struct MenuKeyCase
{
    const char* name;
    Qt::Key menu;   // with Alt: opens a menu of the menu bar
    Qt::Key letter; // pressed alone in the open menu
    const char* checked;
};

void PrintTo(const MenuKeyCase& c, std::ostream* os)
{
    *os << c.name;
}

class MenuKeys : public Interface, public ::testing::WithParamInterface<MenuKeyCase>
{
};

TEST_P(MenuKeys, TheUnderlinedLetterChoosesAMenuRow)
{
    const MenuKeyCase& c = GetParam();
    loadBench();
    enterMode(1);
    window()->requestActivate();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window()));

    QTest::keyClick(window(), c.menu, Qt::AltModifier);
    settle(50);
    QTest::keyClick(window(), c.letter);
    settle(100);
    const QString what(c.checked);
    if (what == "linearityMode") {
        EXPECT_EQ(controller().mode(), Velotrimmer::Linearity);
    } else if (what == "simulatedDisplayShown") {
        EXPECT_TRUE(qobject_cast<QWindow*>(find("simulatedDisplayWindow"))->isVisible());
    } else if (what == "saveLogDialog") {
        QFileDialog* dialog = shownFileDialog();
        ASSERT_NE(dialog, nullptr);
        EXPECT_TRUE(proposedName(dialog).startsWith("VelotrimLog-"));
        dialog->reject();
    } else if (what == "logShown") {
        EXPECT_TRUE(ui()->property("logShown").toBool());
    }
    for (const char* menu : {"fileMenu", "operationMenu", "viewMenu", "windowMenu"}) {
        EXPECT_FALSE(find(menu)->property("visible").toBool()) << menu << " stayed open";
    }
    expectNoWarnings();
}

INSTANTIATE_TEST_SUITE_P(
    Letters, MenuKeys,
    ::testing::Values(MenuKeyCase{"OperationLinearity", Qt::Key_O, Qt::Key_L, "linearityMode"},
                      MenuKeyCase{"WindowSimulatedDisplay", Qt::Key_W, Qt::Key_S, "simulatedDisplayShown"},
                      // Save Correction shares the letter but is off without a correction.
                      MenuKeyCase{"FileSaveLog", Qt::Key_F, Qt::Key_S, "saveLogDialog"},
                      MenuKeyCase{"ViewLog", Qt::Key_V, Qt::Key_L, "logShown"}),
    [](const ::testing::TestParamInfo<MenuKeyCase>& info) { return std::string(info.param.name); });

TEST_F(Interface, RowsSharingALetterAreVisitedInTurnAndEnterChooses)
{
    loadBench();
    controller().setCalibrationAvailable(true);
    settle(20);
    window()->requestActivate();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window()));
    QObject* menu = find("fileMenu");
    QTest::keyClick(window(), Qt::Key_F, Qt::AltModifier);
    ASSERT_TRUE(waitUntil([&] { return menu->property("opened").toBool(); }, 2000));

    // "&Save Correction…" and "&Save Log…": each S moves to the other, choosing neither.
    QList<int> visited;
    for (int press = 0; press < 2; ++press) {
        QTest::keyClick(window(), Qt::Key_S);
        settle(50);
        EXPECT_TRUE(menu->property("opened").toBool());
        visited.append(menu->property("currentIndex").toInt());
    }
    EXPECT_EQ(QSet<int>(visited.cbegin(), visited.cend()), QSet<int>({1, 2}));
    EXPECT_EQ(shownFileDialog(0), nullptr);
    QTest::keyClick(window(), Qt::Key_Return);
    QFileDialog* dialog = shownFileDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), visited.last() == 1 ? "Save correction file" : "Save log file");
    dialog->reject();
    expectNoWarnings();
}

TEST_F(Interface, MenusShowTheirShortcuts)
{
    loadBench();
    window()->requestActivate();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window()));
    struct Row
    {
        const char* menu;
        Qt::Key key;
        const char* row;
        const char* keys;
    };
    const QList<Row> rows{
        {"fileMenu", Qt::Key_F, "openItem", "Ctrl+O"},
        {"operationMenu", Qt::Key_O, "runItem", "Ctrl+R"},
        {"operationMenu", Qt::Key_O, "resumeItem", "Ctrl+Alt+R"},
        {"operationMenu", Qt::Key_O, "stopItem", "Esc"},
        {"viewMenu", Qt::Key_V, "zoomFitItem", "Ctrl+0"},
        {"windowMenu", Qt::Key_W, "resetWindowsItem", "Ctrl+Alt+Shift+W"},
    };
    for (const Row& r : rows) {
        QObject* menu = find(r.menu);
        QTest::keyClick(window(), r.key, Qt::AltModifier);
        ASSERT_TRUE(waitUntil([&] { return menu->property("opened").toBool(); }, 2000)) << r.menu;
        QQuickItem* shown = item(QString(r.row) + "Shortcut");
        ASSERT_NE(shown, nullptr) << r.row;
        EXPECT_EQ(shown->property("text").toString(), r.keys) << r.row;
        // Beside the row's text, inside the row.
        QQuickItem* menuRow = item(r.row);
        auto* content = menuRow->property("contentItem").value<QQuickItem*>();
        EXPECT_GE(shown->x(), content->x() + content->implicitWidth()) << r.row;
        EXPECT_LE(shown->x() + shown->width(), menuRow->width()) << r.row;
        QTest::keyClick(window(), Qt::Key_Escape);
        ASSERT_TRUE(waitUntil([&] { return !menu->property("visible").toBool(); }, 2000)) << r.menu;
    }
    expectNoWarnings();
}

// ---- The smallest window ---------------------------------------------------------------------------

struct SmallestCase
{
    const char* name;
    int mode;
    bool processor; // the processor without an address in place of the simulated display
    bool logShown;
};

void PrintTo(const SmallestCase& c, std::ostream* os)
{
    *os << c.name;
}

class SmallestWindow : public Interface, public ::testing::WithParamInterface<SmallestCase>
{
protected:
    static QRectF sceneRect(const QQuickItem* shown)
    {
        return shown->mapRectToScene(QRectF(0, 0, shown->width(), shown->height()));
    }
    // The part of the window an item can be seen in: the window, cut by every clipping ancestor.
    QRectF visibleArea(const QQuickItem* shown) const
    {
        QRectF area(0, 0, window()->width(), window()->height());
        for (const QQuickItem* a = shown->parentItem(); a; a = a->parentItem()) {
            if (a->clip())
                area &= sceneRect(a);
        }
        return area;
    }
    static bool within(const QRectF& inner, const QRectF& outer)
    {
        return inner.adjusted(1, 1, -1, -1).isEmpty() || outer.adjusted(-1, -1, 1, 1).contains(inner);
    }
    static bool withinWidth(const QRectF& inner, const QRectF& outer)
    {
        return inner.left() >= outer.left() - 1 && inner.right() <= outer.right() + 1;
    }
    static bool isControl(const QQuickItem* shown)
    {
        for (const char* type : {"QQuickAbstractButton", "QQuickComboBox", "QQuickTextField", "QQuickSpinBox",
                                 "QQuickSlider"}) {
            if (shown->inherits(type))
                return true;
        }
        return false;
    }
    // Every item shown, without the insides of controls (their own size is checked).
    void collect(QQuickItem* root, QList<QQuickItem*>& controls, QList<QQuickItem*>& texts) const
    {
        for (QQuickItem* child : root->childItems()) {
            if (!child->isVisible() || child->opacity() == 0.0 || child->width() <= 0 || child->height() <= 0)
                continue;
            if (isControl(child)) {
                controls.append(child);
                continue;
            }
            if (child->inherits("QQuickText") && !child->property("text").toString().trimmed().isEmpty())
                texts.append(child);
            collect(child, controls, texts);
        }
    }
    // The panel (group box) an item is drawn in, if any.
    static const QQuickItem* panelOf(const QQuickItem* shown)
    {
        for (const QQuickItem* a = shown->parentItem(); a; a = a->parentItem()) {
            if (a->inherits("QQuickGroupBox"))
                return a;
        }
        return nullptr;
    }
};

// At its smallest the main window still shows every control of its panels and its footer whole
// and where it can be used (scrolled to, where its column scrolls), and no label runs past its
// panel or is cut short without an ellipsis.
TEST_P(SmallestWindow, KeepsEveryControlUsableAndEveryLabelWhole)
{
    const SmallestCase& c = GetParam();
    if (c.processor)
        load();
    else
        loadBench();
    if (c.mode != 0 && !c.processor)
        enterMode(c.mode);
    else
        controller().setMode(static_cast<Velotrimmer::Mode>(c.mode));
    // A balance target with the time it was taken: the longest label of the panels.
    controller().setBalanceTargetRed(150.0);
    controller().setBalanceTargetGreen(175.0);
    controller().setBalanceTargetBlue(150.0);
    controller().setTargetTime("02:04:21 2026-01-01");
    ui()->setProperty("logShown", c.logShown);
    settle(100);

    const QSize smallest = window()->minimumSize();
    EXPECT_GE(smallest.width(), 400);
    EXPECT_GE(smallest.height(), 300);
    window()->resize(smallest);
    ASSERT_TRUE(waitUntil([&] { return window()->size() == smallest; }, 2000));
    settle(100);

    QList<QQuickItem*> controls;
    QList<QQuickItem*> texts;
    collect(window()->contentItem(), controls, texts);
    ASSERT_FALSE(controls.isEmpty());
    for (QQuickItem* control : controls) {
        const std::string name = control->objectName().isEmpty()
            ? control->metaObject()->className() + std::string(" ") + control->property("text").toString().toStdString()
            : control->objectName().toStdString();
        scrollIntoView(control);
        const QRectF shown = sceneRect(control);
        EXPECT_TRUE(within(shown, visibleArea(control))) << name << " is cut off or out of sight";
        if (control->inherits("QQuickAbstractButton")) {
            EXPECT_GE(control->width() + 0.5, control->implicitWidth()) << name << " is squeezed";
        } else {
            // Fields and choices across, sliders along their length.
            EXPECT_GE(std::max(control->width(), control->inherits("QQuickSlider") ? control->height() : 0.0), 40)
                << name << " is squeezed";
        }
        if (const QQuickItem* panel = panelOf(control)) {
            EXPECT_TRUE(within(shown, sceneRect(panel))) << name << " runs past its panel";
        }
    }
    for (QQuickItem* text : texts) {
        const std::string name = text->property("text").toString().toStdString();
        const bool shortened = text->property("elide").toInt() != Qt::ElideNone
            || text->property("wrapMode").toInt() != 0;
        if (!shortened) {
            EXPECT_GE(text->width() + 0.5, text->implicitWidth()) << '"' << name << "\" is cut short";
        }
        // Lines of a log scroll out of sight; across, every text stays inside its panel.
        if (const QQuickItem* panel = panelOf(text)) {
            EXPECT_TRUE(withinWidth(sceneRect(text), sceneRect(panel))) << '"' << name << "\" runs past its panel";
        }
    }
    // A processor without an address says so at every poll, which a slow run reaches.
    expectNoWarningsButFailedPolls();
}

INSTANTIATE_TEST_SUITE_P(
    Modes, SmallestWindow,
    ::testing::Values(SmallestCase{"Linearity", 0, false, false}, SmallestCase{"LinearityWithLog", 0, false, true},
                      SmallestCase{"Balance", 1, false, false}, SmallestCase{"BalanceWithLog", 1, false, true},
                      SmallestCase{"Template", 2, false, false},
                      SmallestCase{"ProcessorWithoutAddress", 0, true, false}),
    [](const ::testing::TestParamInfo<SmallestCase>& info) { return std::string(info.param.name); });

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
    settle(50);
    EXPECT_EQ(find(c.object)->property(c.property).toBool(), c.expected);
    velotrimmer.setRunning(false);
    settle(20);
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
    settle(50);
    EXPECT_FALSE(prefs->isVisible());
    controller().setRunning(false);
    expectNoWarnings();
}

// ---- Questions before what cannot be undone --------------------------------------------------------

TEST_F(Interface, ClosingDuringARunAsksFirstAndKeepsRunningUnlessToldToStop)
{
    loadBench();
    Velotrimmer& velotrimmer = controller();
    velotrimmer.runNothing();
    settle(20);
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
    settle(50);

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

// ---- The wall view -------------------------------------------------------------------------------

struct DragCase
{
    const char* name;
    double zoom;
    bool backwards; // from bottom-right to top-left
};

void PrintTo(const DragCase& c, std::ostream* os)
{
    *os << c.name;
}

class WallDrag : public Interface, public ::testing::WithParamInterface<DragCase>
{
};

TEST_P(WallDrag, LightsExactlyTheLdmsUnderItAndTheyStayLitAfterAPoll)
{
    const DragCase& c = GetParam();
    loadBench();
    enterMode(1);
    DisplayBase* display = controller().display();
    QQuickItem* scroll = item("wallScroll");
    QQuickItem* grid = item("wallGrid");
    scroll->setProperty("zoom", c.zoom);
    settle(50);
    EXPECT_DOUBLE_EQ(grid->property("zoom").toDouble(), c.zoom);

    // Wall pixels (the wall starts at x 1000): inside LDM (column 2, row 1) to inside (4, 3).
    const int originX = display->minX();
    const int originY = display->minY();
    const QPointF topLeft((1250 - originX) * c.zoom, (180 - originY) * c.zoom);
    const QPointF bottomRight((1430 - originX) * c.zoom, (360 - originY) * c.zoom);
    drag(grid, c.backwards ? bottomRight : topLeft, c.backwards ? topLeft : bottomRight);

    auto expectLit = [&](const char* when) {
        uint lit = 0;
        for (uint n = 1; n <= display->ldmCount(); ++n) {
            const int x = display->ldmX(n);
            const int y = display->ldmY(n);
            const bool under = x + 100 > 1250 && x < 1430 && y + 100 > 180 && y < 360;
            EXPECT_EQ(display->ldmIsLit(n), under) << when << ": LDM " << n << " at " << x << "," << y;
            EXPECT_EQ(display->ldmAdjustable(n), under) << when << ": LDM " << n;
            lit += under ? 1 : 0;
        }
        EXPECT_EQ(lit, 9u) << when;
        EXPECT_EQ(display->litLdmCount(), 9u) << when;
    };
    expectLit("after the drag");
    controller().pollDevices();
    settle(50);
    expectLit("after the poll");
    expectNoWarnings();
}

INSTANTIATE_TEST_SUITE_P(Drags, WallDrag,
                         ::testing::Values(DragCase{"QuarterScaleForwards", 0.25, false},
                                           DragCase{"QuarterScaleBackwards", 0.25, true},
                                           DragCase{"HalfScaleForwards", 0.5, false},
                                           DragCase{"HalfScaleBackwards", 0.5, true}),
                         [](const ::testing::TestParamInfo<DragCase>& info) { return std::string(info.param.name); });

TEST_F(Interface, TheWallViewsFollowNewLdmDataAndAHiddenOneCatchesUpWhenShown)
{
    loadBench();
    enterMode(1);
    DisplayBase* display = controller().display();
    QQuickItem* mainGrid = item("wallGrid");
    auto* simulated = qobject_cast<QQuickWindow*>(find("simulatedDisplayWindow"));
    ASSERT_FALSE(simulated->isVisible());

    display->setLdmRGBObserved(20, 10, 200, 30);
    emit display->ldmDataChanged();
    settle(50);
    EXPECT_EQ(ldmFill(mainGrid, display, 20), QColor(10, 200, 30));

    clickMenuItem("simulatedDisplayItem");
    ASSERT_TRUE(QTest::qWaitForWindowExposed(simulated));
    QQuickItem* simulatedGrid = nullptr;
    for (QObject* object : allObjects(simulated)) {
        if (object->property("layoutRevision").isValid())
            simulatedGrid = qobject_cast<QQuickItem*>(object);
    }
    ASSERT_NE(simulatedGrid, nullptr);
    EXPECT_EQ(ldmFill(simulatedGrid, display, 20), QColor(10, 200, 30));

    // Both follow the next data while shown.
    display->setLdmRGBObserved(20, 90, 90, 90);
    emit display->ldmDataChanged();
    settle(50);
    EXPECT_EQ(ldmFill(mainGrid, display, 20), QColor(90, 90, 90));
    EXPECT_EQ(ldmFill(simulatedGrid, display, 20), QColor(90, 90, 90));
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
    settle(50);

    ASSERT_TRUE(find("runItem")->property("enabled").toBool());
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

// ---- File dialogs ----------------------------------------------------------------------------------

struct DialogCase
{
    const char* name;
    const char* item;
    bool save;
    const char* proposedStart; // "" for no proposed name
    const char* extension;
};

void PrintTo(const DialogCase& c, std::ostream* os)
{
    *os << c.name;
}

class FileDialogs : public Interface, public ::testing::WithParamInterface<DialogCase>
{
};

// A fresh account, whose documents folder does not exist yet: each dialog starts in that folder,
// made for it, and a save dialog saves, asks before replacing and names its filter's extension.
TEST_P(FileDialogs, StartInAFolderThatExistsOnAFreshAccount)
{
    const DialogCase& c = GetParam();
    ScopedTempFolder home("HOME");
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    ASSERT_FALSE(QFileInfo::exists(documents));
    loadBench();
    Velotrimmer& velotrimmer = controller();
    // A correction in hand, named as a run names it, in the folder kept for results.
    velotrimmer.setFilename(velotrimmer.filepath() + "KestraCal-2026-01-01T10-00-00.tsv");
    velotrimmer.setCalibrationAvailable(true);
    settle(20);

    clickMenuItem(c.item);
    QFileDialog* dialog = shownFileDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(QFileInfo(documents).isDir());
    EXPECT_EQ(QDir(dialog->directory()), QDir(documents));
    EXPECT_EQ(dialog->acceptMode(), c.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    const QString name = proposedName(dialog);
    if (QString(c.proposedStart).isEmpty()) {
        EXPECT_TRUE(name.isEmpty()) << name.toStdString();
    } else {
        EXPECT_TRUE(name.startsWith(c.proposedStart)) << name.toStdString();
        EXPECT_TRUE(name.endsWith(QString(".") + c.extension)) << name.toStdString();
    }
    if (c.save) {
        QPushButton* accept = acceptButton(dialog);
        EXPECT_EQ(accept ? accept->text().remove('&') : QString(), "Save");
        EXPECT_EQ(dialog->defaultSuffix(), c.extension);
        EXPECT_FALSE(dialog->testOption(QFileDialog::DontConfirmOverwrite));
    }
    dialog->reject();
    expectNoWarnings();
}

INSTANTIATE_TEST_SUITE_P(
    Dialogs, FileDialogs,
    ::testing::Values(DialogCase{"SaveLog", "saveLogItem", true, "VelotrimLog-", "txt"},
                      DialogCase{"SaveCorrection", "saveCorrectionItem", true, "KestraCal-2026-01-01T10-00-00", "tsv"},
                      DialogCase{"OpenCorrection", "openItem", false, "KestraCal-2026-01-01T10-00-00", "tsv"}),
    [](const ::testing::TestParamInfo<DialogCase>& info) { return std::string(info.param.name); });

TEST_F(Interface, ALogSavedUnderATypedNameGetsItsExtensionAndIsNotReplacedUnasked)
{
    ScopedTempFolder home("HOME");
    loadBench();
    Velotrimmer& velotrimmer = controller();
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString expected = documents + "/evening.txt";

    auto saveAs = [&](const QString& typed) {
        clickMenuItem("saveLogItem");
        QFileDialog* dialog = shownFileDialog();
        EXPECT_NE(dialog, nullptr);
        if (!dialog)
            return static_cast<QFileDialog*>(nullptr);
        QLineEdit* field = nameField(dialog);
        field->selectAll();
        QTest::keyClicks(field, typed);
        QTest::keyClick(field, Qt::Key_Return);
        return dialog;
    };
    QFileDialog* dialog = saveAs("evening");
    ASSERT_TRUE(waitUntil([&] { return !dialog->isVisible(); }, 5000));
    EXPECT_EQ(velotrimmer.statusString(), "Log saved to " + expected);
    EXPECT_EQ(velotrimmer.status(), 1);
    ASSERT_TRUE(QFileInfo(expected).isFile());

    // The same name again: the dialog asks first, and a "No" keeps the file and the dialog.
    QFile kept(expected);
    ASSERT_TRUE(kept.open(QIODevice::WriteOnly));
    kept.write("kept\n");
    kept.close();
    answerWhenAsked("No");
    dialog = saveAs("evening");
    ASSERT_TRUE(waitUntil([&] { return answered(); }, 5000)) << "no question before replacing the file";
    settle(50);
    EXPECT_TRUE(dialog->isVisible());
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), "kept\n");
    dialog->reject();
    expectNoWarnings();
}

TEST_F(Interface, ALinearityCorrectionFromTheMenusIsSavedAndReadBack)
{
    loadBench();
    Velotrimmer& velotrimmer = controller();
    ModelColorimeter colorimeter(velotrimmer.simulatedDisplay());
    velotrimmer.setColorimeter(&colorimeter);
    velotrimmer.setSteps(3);
    velotrimmer.setReadCount(1);
    velotrimmer.setStepSpacing(1.0);
    QTemporaryDir folder(QDir::tempPath() + "/results XXXXXX");
    velotrimmer.setFilepath(folder.path() + "/");
    settle(50);
    EXPECT_FALSE(find("saveCorrectionItem")->property("enabled").toBool());

    clickMenuItem("runItem");
    ASSERT_TRUE(velotrimmer.running());
    ASSERT_TRUE(waitUntil([&] { return !velotrimmer.running(); }, 90000));
    EXPECT_EQ(velotrimmer.status(), 1) << velotrimmer.statusString().toStdString();
    settle(50);
    ASSERT_TRUE(find("saveCorrectionItem")->property("enabled").toBool());

    // The dialog proposes the result's name in the kept folder; the user takes it.
    const QString path = velotrimmer.filename();
    EXPECT_TRUE(path.startsWith(folder.path() + "/KestraCal-")) << path.toStdString();
    clickMenuItem("saveCorrectionItem");
    QFileDialog* save = shownFileDialog();
    ASSERT_NE(save, nullptr);
    EXPECT_EQ(QDir(save->directory()), QDir(folder.path()));
    EXPECT_EQ(save->directory().filePath(proposedName(save)), path);
    QTest::keyClick(nameField(save), Qt::Key_Return);
    ASSERT_TRUE(waitUntil([&] { return !save->isVisible(); }, 5000));
    ASSERT_TRUE(QFile::exists(path)) << velotrimmer.statusString().toStdString();
    const QList<CalibrationPoint> written = velotrimmer.correctionPoints();

    clickMenuItem("openItem");
    QFileDialog* open = shownFileDialog();
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(QDir(open->directory()), QDir(folder.path()));
    EXPECT_EQ(open->directory().filePath(proposedName(open)), path);
    QTest::keyClick(nameField(open), Qt::Key_Return);
    ASSERT_TRUE(waitUntil([&] { return !open->isVisible(); }, 5000));
    EXPECT_EQ(velotrimmer.filename(), path);
    EXPECT_EQ(velotrimmer.correctionPoints().size(), written.size());
    EXPECT_TRUE(velotrimmer.calibrationAvailable());
    velotrimmer.setColorimeter(velotrimmer.dummyColorimeter());
    expectNoWarnings();
}

// ---- File URLs -------------------------------------------------------------------------------------

struct UrlCase
{
    const char* name;
    const char* function;
    const char* path;
    const char* expected;
};

void PrintTo(const UrlCase& c, std::ostream* os)
{
    *os << c.name;
}

class FileUrls : public ::testing::TestWithParam<UrlCase>
{
};

TEST_P(FileUrls, AreBuiltFromLocalPathsInOnePlace)
{
    const UrlCase& c = GetParam();
    QQmlEngine engine;
    QQmlComponent component(&engine);
    component.setData("import QtQml\nimport \"qrc:/src/ui/FileUrls.js\" as F\n"
                      "QtObject { function call(name, path) {\n"
                      "  return name === \"withExtension\" ? F.withExtension(path, \"Values (*.tsv *.txt)\")\n"
                      "       : F[name](path, \"/home/op/Documents/\", \"Text files (*.txt)\") } }",
                      QUrl("qrc:/test/FileUrlsTest.qml"));
    std::unique_ptr<QObject> object(component.create());
    ASSERT_NE(object, nullptr) << component.errorString().toStdString();
    QVariant result;
    QMetaObject::invokeMethod(object.get(), "call", Q_RETURN_ARG(QVariant, result), Q_ARG(QVariant, c.function),
                              Q_ARG(QVariant, c.path));
    EXPECT_EQ(result.toString(), c.expected);
    if (QString(c.expected).startsWith("file:")) {
        EXPECT_TRUE(QUrl(result.toString()).isLocalFile());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FileUrls,
    ::testing::Values(
        UrlCase{"UnixPath", "fromLocalPath", "/home/op/run.tsv", "file:///home/op/run.tsv"},
        UrlCase{"PathWithSpace", "fromLocalPath", "/home/op/my logs/a.txt", "file:///home/op/my%20logs/a.txt"},
        UrlCase{"DrivePath", "fromLocalPath", "C:/Users/op/", "file:///C:/Users/op/"},
        UrlCase{"EmptyPath", "fromLocalPath", "", ""},
        UrlCase{"NameOfAPath", "fileNameOf", "/home/op/x/run.tsv", "run.tsv"},
        UrlCase{"ExtensionAdded", "withExtension", "KestraCal-1", "KestraCal-1.tsv"},
        UrlCase{"ExtensionKept", "withExtension", "run.TXT", "run.TXT"},
        UrlCase{"OtherExtensionExtended", "withExtension", "run.csv", "run.csv.tsv"},
        UrlCase{"LogProposedInTheFolderWithItsExtension", "proposal", "/gone/VelotrimLog-1",
                "file:///home/op/Documents/VelotrimLog-1.txt"},
        UrlCase{"NoNameNoProposal", "proposal", "", ""}),
    [](const ::testing::TestParamInfo<UrlCase>& info) { return std::string(info.param.name); });

