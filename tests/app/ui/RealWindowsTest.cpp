#include "support/InterfaceFixture.h"
#include "support/WindowManager.h"

#include "display/DisplayBase.h"
#include "shell/Velotrimmer.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QTest>

#include <gtest/gtest.h>

#include <string>

// The interface's windows on a real X display (a virtual one) under a real window manager, which
// frames them, decides where they go unless told, and keeps a panel at the bottom of the screen.

namespace {

// One window manager for the whole program, as on a desktop.
class WindowManagerEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        ASSERT_TRUE(m_manager.start()) << m_manager.error().toStdString();
    }

private:
    WindowManager m_manager;
};

const auto* const kWindowManager = ::testing::AddGlobalTestEnvironment(new WindowManagerEnvironment);

std::string text(const QRect& r)
{
    return std::to_string(r.x()) + "," + std::to_string(r.y()) + " " + std::to_string(r.width()) + "x"
        + std::to_string(r.height());
}

class RealWindows : public InterfaceFixture
{
protected:
    QRect available() const { return window()->screen()->availableGeometry(); }
    QQuickWindow* simulatedDisplay() { return qobject_cast<QQuickWindow*>(find("simulatedDisplayWindow")); }

    // Waits until the window manager has framed the window and the frame holds.
    static bool framed(QWindow* shown, const std::function<bool(const QRect&)>& holds)
    {
        return waitUntil([&] { return shown->isExposed() && !shown->frameMargins().isNull() && holds(shown->frameGeometry()); },
                         10000);
    }
};

} // namespace

TEST_F(RealWindows, TheSimulatedDisplayFirstOpensBesideTheMainWindowInsideTheScreen)
{
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    loadBench();
    ASSERT_TRUE(framed(window(), [](const QRect&) { return true; }));
    const QRect mainFrame = window()->frameGeometry();

    clickMenuItem("simulatedDisplayItem");
    QQuickWindow* simulated = simulatedDisplay();
    const bool placed = framed(simulated, [&](const QRect& frame) {
        return available().contains(frame) && !frame.intersects(window()->frameGeometry());
    });
    EXPECT_TRUE(placed) << "main window " << text(mainFrame) << ", simulated display " << text(simulated->frameGeometry())
                        << ", available " << text(available());
    // Not shrunk to nothing to make room.
    EXPECT_GE(simulated->width(), 320);
    EXPECT_GE(simulated->height(), 200);
    expectNoWarnings();
}

// A wall zoomed in beyond its view: the wheel scrolls it down and across, Ctrl and the wheel zoom
// it about the pointer (the LDM under the pointer stays there), both scroll bars show, and the
// zoom buttons sit above the view, covering none of the wall.
TEST_F(RealWindows, TheWheelMovesAndZoomsAWallZoomedInBeyondItsView)
{
    loadBench();
    enterMode(Velotrimmer::Balance);
    QQuickItem* view = item("wallScroll");
    view->setProperty("zoom", 1.0);
    ASSERT_TRUE(waitForFrame());
    ASSERT_GT(view->property("contentWidth").toDouble(), view->width());
    ASSERT_GT(view->property("contentHeight").toDouble(), view->height());
    const auto content = [view] { return QPointF(view->property("contentX").toDouble(), view->property("contentY").toDouble()); };
    const QPointF middle(view->width() / 2, view->height() / 2);

    wheelAt(view, middle, QPoint(0, -120));
    EXPECT_TRUE(waitUntil([&] { return content().y() > 0; }, 5000)) << "the wheel did not scroll down";
    EXPECT_EQ(content().x(), 0);
    wheelAt(view, middle, QPoint(-120, 0));
    EXPECT_TRUE(waitUntil([&] { return content().x() > 0; }, 5000)) << "a sideways wheel did not scroll across";

    // The wall point under the pointer, in wall pixels, before and after a zoom.
    const QPointF pointer(view->width() / 3, view->height() / 3);
    const auto wallUnder = [&] { return (content() + pointer) / view->property("zoom").toDouble(); };
    const QPointF before = wallUnder();
    wheelAt(view, pointer, QPoint(0, 120), Qt::ControlModifier);
    EXPECT_TRUE(waitUntil([&] { return view->property("zoom").toDouble() > 1.0; }, 5000)) << "Ctrl and the wheel did not zoom";
    const QPointF after = wallUnder();
    EXPECT_NEAR(after.x(), before.x(), 1.0);
    EXPECT_NEAR(after.y(), before.y(), 1.0);

    for (const char* name : {"horizontalScrollBar", "verticalScrollBar"}) {
        QQuickItem* bar = item(name);
        auto* handle = bar->property("contentItem").value<QQuickItem*>();
        ASSERT_NE(handle, nullptr) << name;
        EXPECT_TRUE(bar->isVisible()) << name;
        EXPECT_GT(handle->opacity(), 0.0) << name << " is drawn without its handle";
    }
    const QRectF shown = view->mapRectToScene(QRectF(0, 0, view->width(), view->height()));
    for (const char* name : {"zoomInButton", "zoomOutButton", "zoomFitButton"}) {
        QQuickItem* button = item(name);
        EXPECT_FALSE(button->mapRectToScene(QRectF(0, 0, button->width(), button->height())).intersects(shown))
            << name << " covers the wall view";
    }
    expectNoWarnings();
}

// Preferences open first inside the screen, beside the main window where the screen leaves room
// for them (as large as that room and their own minimum allow), else covering the least of it.
class FirstPreferences : public RealWindows, public ::testing::WithParamInterface<bool>
{
};

TEST_P(FirstPreferences, OpenInsideTheScreenBesideTheMainWindow)
{
    const bool roomBeside = GetParam();
    if (roomBeside) {
        // The main window at the screen's left edge: the room on its right holds them.
        QSettings settings;
        settings.setValue("MainWindow/x", 0);
        settings.setValue("MainWindow/y", 0);
        settings.sync();
    }
    loadBench();
    ASSERT_TRUE(framed(window(), [&](const QRect& frame) { return !roomBeside || frame.left() == 0; }));
    clickMenuItem("prefsItem");
    auto* prefs = qobject_cast<QQuickWindow*>(find("prefs"));
    ASSERT_NE(prefs, nullptr);
    const bool placed = framed(prefs, [&](const QRect& frame) {
        return available().contains(frame) && (!roomBeside || !frame.intersects(window()->frameGeometry()));
    });
    EXPECT_TRUE(placed) << "main window " << text(window()->frameGeometry()) << ", preferences "
                        << text(prefs->frameGeometry()) << ", available " << text(available());
    EXPECT_GE(prefs->width(), prefs->minimumWidth());
    EXPECT_GE(prefs->height(), prefs->minimumHeight());
    expectNoWarnings();
}

INSTANTIATE_TEST_SUITE_P(Screens, FirstPreferences, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "RoomBeside" : "NoRoomBeside");
                         });

// A run started with Ctrl+R opens the simulated display; whichever of the program's windows then
// has the keyboard, Esc stops the run and Ctrl+Q quits.
class KeysInEveryWindow : public RealWindows, public ::testing::WithParamInterface<bool>
{
};

TEST_P(KeysInEveryWindow, EscStopsTheRunAndCtrlQQuits)
{
    const bool simulatedDisplayActive = GetParam();
    loadBench();
    Velotrimmer& velotrimmer = controller();
    enterMode(Velotrimmer::Balance);
    velotrimmer.setBalanceTargetRed(150.0);
    velotrimmer.setBalanceTargetGreen(175.0);
    velotrimmer.setBalanceTargetBlue(150.0);
    ASSERT_TRUE(waitUntil([&] { return ui()->property("canRun").toBool(); }, 10000));
    window()->requestActivate();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window()));

    QTest::keyClick(window(), Qt::Key_R, Qt::ControlModifier);
    ASSERT_TRUE(velotrimmer.running());
    QQuickWindow* simulated = simulatedDisplay();
    ASSERT_TRUE(framed(simulated, [](const QRect&) { return true; }));
    // The window manager gives the new window the keyboard when it likes; the operator may click
    // either: asked until the keyboard is, and stays, where the case wants it.
    QQuickWindow* focused = simulatedDisplayActive ? simulated : window();
    const auto focusSettled = [&] {
        if (QGuiApplication::focusWindow() == focused)
            return true;
        focused->requestActivate();
        return false;
    };
    ASSERT_TRUE(waitUntil(focusSettled, 10000));
    ASSERT_TRUE(waitForFrame(simulated));
    ASSERT_TRUE(waitUntil(focusSettled, 10000));

    QTest::keyClick(focused, Qt::Key_Escape);
    EXPECT_TRUE(waitUntil([&] { return !velotrimmer.running(); }, 10000)) << "Esc did not stop the run";
    QTest::keyClick(focused, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_TRUE(waitUntil([&] { return !window()->isVisible(); }, 10000)) << "Ctrl+Q did not quit";
    expectNoWarnings();
}

INSTANTIATE_TEST_SUITE_P(Windows, KeysInEveryWindow, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "SimulatedDisplayHasTheKeyboard" : "MainWindowKeepsTheKeyboard");
                         });

struct KeptCase
{
    const char* name;
    QRect kept;     // client geometry kept under "DummyWindow"
    bool onScreen;  // reopens exactly there
};

void PrintTo(const KeptCase& c, std::ostream* os)
{
    *os << c.name;
}

class KeptWindows : public RealWindows, public ::testing::WithParamInterface<KeptCase>
{
};

TEST_P(KeptWindows, ReopenWhereTheyWereLeftAndInsideTheScreen)
{
    const KeptCase& c = GetParam();
    // Both windows left at the same place, the main window at its first size.
    QSettings settings;
    for (const QString group : {"DummyWindow", "MainWindow"}) {
        const bool main = group == "MainWindow";
        settings.setValue(group + "/x", c.kept.x());
        settings.setValue(group + "/y", c.kept.y());
        settings.setValue(group + "/width", main ? 780 : c.kept.width());
        settings.setValue(group + "/height", main ? 600 : c.kept.height());
    }
    settings.sync();
    loadBench();

    // The main window, once its kept geometry is restored.
    ASSERT_TRUE(framed(window(), [&](const QRect& frame) { return available().contains(frame); }))
        << text(window()->frameGeometry()) << " is not inside " << text(available());
    clickMenuItem("simulatedDisplayItem");
    QQuickWindow* simulated = simulatedDisplay();
    if (c.onScreen) {
        EXPECT_TRUE(framed(simulated, [&](const QRect&) { return simulated->geometry() == c.kept; }))
            << text(simulated->geometry()) << " is not where it was left, " << text(c.kept);
    } else {
        EXPECT_TRUE(framed(simulated, [&](const QRect& frame) { return available().contains(frame); }))
            << text(simulated->frameGeometry()) << " is not inside " << text(available());
        EXPECT_EQ(simulated->width(), c.kept.width());
        EXPECT_EQ(simulated->height(), c.kept.height());
    }
    expectNoWarnings();
}

INSTANTIATE_TEST_SUITE_P(Screens, KeptWindows,
                         ::testing::Values(KeptCase{"OnScreen", {300, 200, 600, 380}, true},
                                           // Left on a larger screen, or on a second one since gone.
                                           KeptCase{"BeyondTheScreen", {2600, 1900, 640, 400}, false},
                                           KeptCase{"UnderThePanel", {100, 900, 640, 400}, false}),
                         [](const ::testing::TestParamInfo<KeptCase>& info) { return std::string(info.param.name); });
