// The main window at its smallest: every control usable, every text readable.
#include "support/InterfaceFixture.h"
#include "support/QtPrinters.h"

#include "shell/Velotrimmer.h"

#include <QRectF>
#include <QSettings>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using Interface = InterfaceFixture;

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
    ASSERT_TRUE(waitForFrame());

    const QSize smallest = window()->minimumSize();
    EXPECT_GE(smallest.width(), 400);
    EXPECT_GE(smallest.height(), 300);
    window()->resize(smallest);
    ASSERT_TRUE(waitUntil([&] { return window()->size() == smallest; }, 5000));
    ASSERT_TRUE(waitForFrame());

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

// ---- Long statuses ----------------------------------------------------------------------------

enum class Status {
    NoColorimeter, // Run refused: the serial colorimeter is not attached
    FailedSave,    // a log that could not be saved
    LdmData,       // an LDM's data, with its errors against the target
};

struct StatusCase
{
    const char* name;
    Status status;
};

void PrintTo(const StatusCase& c, std::ostream* os)
{
    *os << c.name;
}

class LongStatus : public Interface, public ::testing::WithParamInterface<StatusCase>
{
};

// At the smallest window every status is read whole: the status line wraps where it must, no
// part of it cut or hidden, the progress bar and the buttons beside it.
TEST_P(LongStatus, IsShownWholeAtTheSmallestWindow)
{
    const StatusCase& c = GetParam();
    if (c.status == Status::NoColorimeter) {
        QSettings settings;
        settings.setValue("colorMeter", true);
        settings.sync();
    }
    loadBench();
    Velotrimmer& velotrimmer = controller();
    if (c.status == Status::LdmData) {
        enterMode(Velotrimmer::Balance);
        velotrimmer.setBalanceTargetRed(150.0);
        velotrimmer.setBalanceTargetGreen(175.0);
        velotrimmer.setBalanceTargetBlue(150.0);
    }
    window()->resize(window()->minimumSize());
    ASSERT_TRUE(waitUntil([&] { return window()->size() == window()->minimumSize(); }, 5000));

    switch (c.status) {
    case Status::NoColorimeter:
        click(item("runButton"));
        break;
    case Status::FailedSave:
        velotrimmer.saveLog(QUrl::fromLocalFile("/proc/velotrim-log-that-cannot-be-saved.txt"));
        break;
    case Status::LdmData:
        velotrimmer.displayLdm(20);
        break;
    }
    const QString shown = velotrimmer.statusString();
    ASSERT_GT(shown.size(), 60) << shown.toStdString();
    // The window grows, where it must, to the status's lines.
    ASSERT_TRUE(waitUntil(
        [&] {
            return window()->width() >= window()->minimumWidth() && window()->height() >= window()->minimumHeight();
        },
        5000));
    ASSERT_TRUE(waitForFrame());

    QQuickItem* label = item("statusLabel");
    EXPECT_EQ(label->property("text").toString(), shown);
    EXPECT_FALSE(label->property("truncated").toBool()) << shown.toStdString();
    EXPECT_GE(label->height() + 0.5, label->implicitHeight()) << shown.toStdString();
    const QRectF line = label->mapRectToScene(QRectF(0, 0, label->width(), label->height()));
    EXPECT_TRUE(QRectF(0, 0, window()->width(), window()->height()).contains(line)) << shown.toStdString();
    for (const char* name : {"progressBar", "runButton"}) {
        QQuickItem* beside = item(name);
        if (!beside->isVisible())
            continue;
        EXPECT_FALSE(beside->mapRectToScene(QRectF(0, 0, beside->width(), beside->height())).intersects(line))
            << name << " covers the status line";
    }
    QStringList warned = warnings();
    warned.removeIf([](const QString& warning) { return warning.startsWith("Unable to open file"); });
    EXPECT_TRUE(warned.isEmpty()) << warned.join('\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(Statuses, LongStatus,
                         ::testing::Values(StatusCase{"NoColorimeterRefusal", Status::NoColorimeter},
                                           StatusCase{"FailedSave", Status::FailedSave},
                                           StatusCase{"LdmData", Status::LdmData}),
                         [](const ::testing::TestParamInfo<StatusCase>& info) { return std::string(info.param.name); });
