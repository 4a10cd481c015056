// The interface from the keyboard: the menus' letters and shortcuts.
#include "support/InterfaceFixture.h"
#include "support/QtPrinters.h"

#include "shell/Velotrimmer.h"

#include <QFileDialog>
#include <QMap>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

using Interface = InterfaceFixture;

// ---- Menu letters ------------------------------------------------------------------------------

enum class Chosen {
    LinearityMode,
    UniformityMode,
    SimulatedDisplayShown,
    SaveLogDialog,
    LogShown,
};

struct MenuKeyCase
{
    const char* name;
    int mode;         // the mode the interface is in
    const char* menu; // the menu that Alt and the key open
    Qt::Key key;
    Qt::Key letter; // pressed alone in the open menu
    Chosen chosen;
};

void PrintTo(const MenuKeyCase& c, std::ostream* os)
{
    *os << c.name;
}

class MenuKeys : public Interface, public ::testing::WithParamInterface<MenuKeyCase>
{
protected:
    bool chosen(Chosen what) const
    {
        switch (what) {
        case Chosen::LinearityMode:
            return m_controller->mode() == Velotrimmer::Linearity;
        case Chosen::UniformityMode:
            return m_controller->mode() == Velotrimmer::Balance;
        case Chosen::SimulatedDisplayShown:
            return qobject_cast<QWindow*>(find("simulatedDisplayWindow"))->isVisible();
        case Chosen::SaveLogDialog:
            return shownFileDialog(0) != nullptr;
        case Chosen::LogShown:
            return ui()->property("logShown").toBool();
        }
        return false;
    }
};

// One press of a row's letter chooses it, and the menu closes.
TEST_P(MenuKeys, TheUnderlinedLetterChoosesAMenuRow)
{
    const MenuKeyCase& c = GetParam();
    loadBench();
    // A correction in hand: "Save Correction…" is on beside "Save Log…".
    controller().setCalibrationAvailable(true);
    enterMode(c.mode);
    window()->requestActivate();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window()));

    QObject* menu = find(c.menu);
    QTest::keyClick(window(), c.key, Qt::AltModifier);
    ASSERT_TRUE(waitUntil([&] { return menu->property("opened").toBool(); }, 5000));
    QTest::keyClick(window(), c.letter);
    EXPECT_TRUE(waitUntil([&] { return chosen(c.chosen); }, 5000)) << "the row was not chosen";
    EXPECT_TRUE(waitUntil([&] { return !menu->property("visible").toBool(); }, 5000)) << c.menu << " stayed open";
    if (c.chosen == Chosen::SaveLogDialog) {
        QFileDialog* dialog = shownFileDialog();
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->windowTitle(), "Save log file");
        EXPECT_TRUE(proposedName(dialog).startsWith("VelotrimLog-"));
        dialog->reject();
    }
    expectNoWarnings();
}

INSTANTIATE_TEST_SUITE_P(
    Letters, MenuKeys,
    ::testing::Values(
        MenuKeyCase{"OperationLinearity", 1, "operationMenu", Qt::Key_O, Qt::Key_L, Chosen::LinearityMode},
        // "Check for Update…" lies below it and must not share its letter.
        MenuKeyCase{"OperationUniformity", 0, "operationMenu", Qt::Key_O, Qt::Key_U, Chosen::UniformityMode},
        MenuKeyCase{"WindowSimulatedDisplay", 1, "windowMenu", Qt::Key_W, Qt::Key_S, Chosen::SimulatedDisplayShown},
        MenuKeyCase{"FileSaveLog", 1, "fileMenu", Qt::Key_F, Qt::Key_L, Chosen::SaveLogDialog},
        MenuKeyCase{"ViewLog", 1, "viewMenu", Qt::Key_V, Qt::Key_L, Chosen::LogShown}),
    [](const ::testing::TestParamInfo<MenuKeyCase>& info) { return std::string(info.param.name); });

// Every row of a menu has a letter of its own, developer rows and rows that are off included: a
// letter two rows share would only move between them.
TEST_F(Interface, NoTwoRowsOfAMenuShareALetter)
{
    loadBench();
    for (const char* name : {"fileMenu", "editMenu", "operationMenu", "viewMenu", "windowMenu", "helpMenu", "wallMenu"}) {
        QObject* menu = find(name);
        ASSERT_NE(menu, nullptr);
        QMap<QString, QString> rows;
        const int count = menu->property("count").toInt();
        for (int i = 0; i < count; ++i) {
            QQuickItem* row = nullptr;
            QMetaObject::invokeMethod(menu, "itemAt", Q_RETURN_ARG(QQuickItem*, row), Q_ARG(int, i));
            const QString letter = row ? row->property("mnemonic").toString() : QString();
            if (letter.isEmpty())
                continue;
            const QString text = row->property("text").toString();
            EXPECT_FALSE(rows.contains(letter)) << name << ": \"" << text.toStdString() << "\" and \""
                                                << rows.value(letter).toStdString() << "\" share "
                                                << letter.toStdString();
            rows.insert(letter, text);
        }
        EXPECT_FALSE(rows.isEmpty()) << name << " has no letters";
    }
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
