// The interface from the keyboard: the menus' letters and shortcuts.
#include "support/InterfaceFixture.h"
#include "support/QtPrinters.h"

#include "shell/Velotrimmer.h"

#include <QFileDialog>
#include <QSet>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

using Interface = InterfaceFixture;

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
