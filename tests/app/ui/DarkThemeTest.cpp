#include "instruments/ImageSource.h"
#include "shell/Velotrimmer.h"
#include "ui/DarkTheme.h"
#include "ui/ThemeSetting.h"

#include "support/InterfaceFixture.h"
#include "support/SavedTheme.h"
#include "support/QtPrinters.h"

#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QScopeGuard>
#include <QStyleHints>
#include <QQuickItem>
#include <QTest>
#include <QSettings>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>

namespace {

void storeLightThemeValue(const QVariant& value)
{
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, "Corvane", "Personalize");
    if (value.isValid())
        settings.setValue("AppsUseLightTheme", value);
    else
        settings.remove("AppsUseLightTheme");
    settings.sync();
}

// Puts the theme and the account's theme value back after each test.
class ApplicationTheme : public SavedTheme
{
public:
    ApplicationTheme() = default;
    ~ApplicationTheme() { storeLightThemeValue({}); }
};

class DarkThemeTest : public ::testing::Test
{
protected:
    ApplicationTheme m_theme;
};

} // namespace

TEST_F(DarkThemeTest, ZeroInstallsTheDarkPaletteAndTooltipStyle)
{
    storeLightThemeValue(0);
    ASSERT_EQ(ThemeSetting::appsUseLightTheme(), 0);
    EXPECT_TRUE(DarkTheme::applyIfRequested(*qApp, ThemeSetting::appsUseLightTheme()));

    const QPalette palette = QApplication::palette();
    EXPECT_EQ(palette.color(QPalette::Active, QPalette::Window), QColor(64, 64, 64));
    EXPECT_EQ(palette.color(QPalette::Inactive, QPalette::Base), QColor(18, 18, 18));
    EXPECT_EQ(palette.color(QPalette::Active, QPalette::Text), QColor(Qt::white));
    EXPECT_EQ(palette.color(QPalette::Disabled, QPalette::Text), QColor(127, 127, 127));
    EXPECT_EQ(palette.color(QPalette::Active, QPalette::LinkVisited), QColor(130, 42, 218));
    EXPECT_EQ(palette.color(QPalette::Disabled, QPalette::HighlightedText), QColor(127, 127, 127));
    EXPECT_EQ(palette.color(QPalette::Active, QPalette::HighlightedText), QColor(Qt::black));
    EXPECT_EQ(qApp->styleSheet(),
              "QToolTip { color: #ffffff; background-color: #2a82da; border: 1px solid white; }");
    EXPECT_TRUE(DarkTheme::isInstalled());
}

TEST_F(DarkThemeTest, OneOrAbsentKeepsThePlatformPalette)
{
    for (const QVariant& value : {QVariant(1), QVariant()}) {
        storeLightThemeValue(value);
        EXPECT_FALSE(DarkTheme::applyIfRequested(*qApp, ThemeSetting::appsUseLightTheme()));
        EXPECT_EQ(QApplication::palette(), m_theme.palette());
        EXPECT_EQ(qApp->styleSheet(), m_theme.styleSheet());
        EXPECT_FALSE(DarkTheme::isInstalled());
    }
    EXPECT_EQ(ThemeSetting::appsUseLightTheme(), std::nullopt);
}

namespace {

struct RenderedCase
{
    const char* name;
    int appsUseLightTheme;
    bool dark;
};

// The real interface, rendered offscreen after the program's theme step.
class DarkThemeWindowTest : public InterfaceFixture, public ::testing::WithParamInterface<RenderedCase>
{
protected:
    // The colour that covers most of the rendered window.
    QColor dominantColour()
    {
        const QImage image = window()->grabWindow();
        std::map<QRgb, int> counts;
        for (int y = 0; y < image.height(); y += 2) {
            for (int x = 0; x < image.width(); x += 2)
                ++counts[image.pixel(x, y)];
        }
        auto most = counts.begin();
        for (auto it = counts.begin(); it != counts.end(); ++it) {
            if (it->second > most->second)
                most = it;
        }
        return QColor::fromRgb(most->first);
    }

    ApplicationTheme m_theme;
};

// Relative luminance and contrast ratio as the accessibility guidelines define them: 1 for equal
// colours, 21 for black on white; 3 is the least they ask of controls and large text.
double luminance(const QColor& colour)
{
    auto channel = [](double value) {
        return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) + 0.0722 * channel(colour.blueF());
}

double contrast(const QColor& a, const QColor& b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The strongest contrast against a colour among the pixels of an area of the image.
double strongestContrast(const QImage& image, const QRect& area, const QColor& against)
{
    double strongest = 1.0;
    const QRect inside = area & image.rect();
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x)
            strongest = std::max(strongest, contrast(image.pixelColor(x, y), against));
    }
    return strongest;
}

QRect imageRect(const QQuickItem* item)
{
    return item->mapRectToScene(QRectF(0, 0, item->width(), item->height())).toAlignedRect();
}

} // namespace

// What must be told apart is rendered apart: a tool tip's text from its background, an off lamp
// from the panel it sits on.
TEST_P(DarkThemeWindowTest, ToolTipsAndOffLampsStandOutFromWhatIsBehindThem)
{
    storeLightThemeValue(GetParam().appsUseLightTheme);
    EXPECT_EQ(DarkTheme::applyIfRequested(*qApp, ThemeSetting::appsUseLightTheme()), GetParam().dark);
    // Controls answer hovering as on a desktop (the offscreen platform says it has no pointer).
    QStyleHints* hints = QGuiApplication::styleHints();
    const bool hovering = hints->useHoverEffects();
    hints->setUseHoverEffects(true);
    const auto restoreHovering = qScopeGuard([&] { hints->setUseHoverEffects(hovering); });
    loadBench();
    enterMode(1);

    // The camera's "busy" lamp, off once the dummy camera has connected.
    QQuickItem* lamp = nullptr;
    for (QObject* object : allObjects()) {
        if (object->property("text").toString() == "busy" && object->property("on").isValid())
            lamp = qobject_cast<QQuickItem*>(object);
    }
    ASSERT_NE(lamp, nullptr);
    ASSERT_TRUE(waitUntil([&] { return !lamp->property("on").toBool(); }, 10000));
    QQuickItem* disc = lamp->childItems().value(0);
    ASSERT_NE(disc, nullptr);
    QImage image = window()->grabWindow();
    const QRect discArea = imageRect(disc);
    const QColor panel = image.pixelColor(discArea.left() - 3, discArea.center().y());
    EXPECT_GE(strongestContrast(image, discArea, panel), 3.0)
        << "an off lamp on a panel of " << panel.name().toStdString();

    // A tool tip, shown by hovering its control.
    QObject* toolTip = hoverForToolTip(item("dragMode_adj"));
    ASSERT_NE(toolTip, nullptr);
    // Faded in fully: its colours are its own, not blended with what lies behind.
    ASSERT_TRUE(waitUntil([&] { return toolTip->property("opacity").toDouble() == 1.0; }, 5000));
    auto* background = toolTip->property("background").value<QQuickItem*>();
    auto* text = toolTip->property("contentItem").value<QQuickItem*>();
    ASSERT_NE(background, nullptr);
    ASSERT_NE(text, nullptr);
    image = window()->grabWindow();
    const QRect backgroundArea = imageRect(background);
    const QColor behindText = image.pixelColor(backgroundArea.left() + 3, backgroundArea.center().y());
    if (GetParam().dark) {
        EXPECT_EQ(behindText.name(), QColor(0x2a, 0x82, 0xda).name()) << "not the tool tips' style";
    }
    EXPECT_GE(strongestContrast(image, imageRect(text), behindText), 3.0)
        << "tool tip text on " << behindText.name().toStdString();
    expectNoWarnings();
}

// A camera in trouble (no SDK in this build): the panel says why, and its lamps stay drawn beside
// the text, each its full size and apart from the panel.
TEST_P(DarkThemeWindowTest, TheCameraLampsStayWhileThePanelShowsAnError)
{
    storeLightThemeValue(GetParam().appsUseLightTheme);
    EXPECT_EQ(DarkTheme::applyIfRequested(*qApp, ThemeSetting::appsUseLightTheme()), GetParam().dark);
    // The trouble arrives while the panel is hidden (linearity mode), and the panel comes after.
    QSettings settings;
    settings.setValue("output", true);
    settings.setValue("camera", false);
    settings.sync();
    load();
    ASSERT_TRUE(waitUntil([&] { return !controller().imageSource()->statusMessage().isEmpty(); }, 10000));
    enterMode(1);
    QQuickItem* status = item("cameraStatus");
    ASSERT_TRUE(waitUntil([&] { return status->isVisible(); }, 10000));
    ASSERT_TRUE(waitForFrame());

    const QImage image = window()->grabWindow();
    for (const char* name : {"readyLamp", "busyLamp"}) {
        QQuickItem* lamp = item(name);
        ASSERT_NE(lamp, nullptr);
        QQuickItem* disc = lamp->childItems().value(0);
        ASSERT_NE(disc, nullptr);
        EXPECT_TRUE(lamp->isVisible()) << name;
        EXPECT_EQ(disc->width(), 12) << name;
        EXPECT_EQ(disc->height(), 12) << name;
        const QRect discArea = imageRect(disc);
        const QColor panel = image.pixelColor(discArea.left() - 3, discArea.center().y());
        EXPECT_GE(strongestContrast(image, discArea, panel), 3.0) << name << " on a panel of " << panel.name().toStdString();
    }
    expectNoWarningsButFailedPolls();
}

// A wall zoomed in beyond its view shows both scroll bars, their handles apart from their tracks.
TEST_P(DarkThemeWindowTest, TheWallViewsScrollBarsShowWhereThereIsMoreToSee)
{
    storeLightThemeValue(GetParam().appsUseLightTheme);
    EXPECT_EQ(DarkTheme::applyIfRequested(*qApp, ThemeSetting::appsUseLightTheme()), GetParam().dark);
    loadBench();
    enterMode(1);
    item("wallScroll")->setProperty("zoom", 1.0);
    ASSERT_TRUE(waitForFrame());

    const QImage image = window()->grabWindow();
    for (const char* name : {"horizontalScrollBar", "verticalScrollBar"}) {
        QQuickItem* bar = item(name);
        auto* handle = bar->property("contentItem").value<QQuickItem*>();
        auto* track = bar->property("background").value<QQuickItem*>();
        ASSERT_NE(handle, nullptr);
        ASSERT_NE(track, nullptr);
        EXPECT_TRUE(bar->isVisible()) << name;
        const QRect handleArea = imageRect(handle);
        const QRect trackArea = imageRect(track);
        // A point of the track beyond the handle's end.
        const QPoint beyond = bar->property("orientation").toInt() == Qt::Horizontal
            ? QPoint(trackArea.right() - 2, trackArea.center().y())
            : QPoint(trackArea.center().x(), trackArea.bottom() - 2);
        ASSERT_FALSE(handleArea.contains(beyond)) << name;
        const QColor behind = image.pixelColor(beyond);
        EXPECT_GE(strongestContrast(image, handleArea, behind), 3.0) << name << " on a track of " << behind.name().toStdString();
    }
    expectNoWarnings();
}

// The control the keyboard is on (reached by Tab) is framed in a colour that stands apart from
// the window around it.
TEST_P(DarkThemeWindowTest, TheKeyboardFocusIsFramedApartFromTheWindow)
{
    storeLightThemeValue(GetParam().appsUseLightTheme);
    EXPECT_EQ(DarkTheme::applyIfRequested(*qApp, ThemeSetting::appsUseLightTheme()), GetParam().dark);
    loadBench();
    window()->requestActivate();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window()));
    QQuickItem* frame = item("focusFrame");
    // Tab until a control that takes the keyboard is reached.
    for (int press = 0; press < 10 && !frame->isVisible(); ++press) {
        QTest::keyClick(window(), Qt::Key_Tab);
        waitUntil([&] { return frame->isVisible(); }, 500);
    }
    ASSERT_TRUE(frame->isVisible()) << "no frame around the focused control";
    QQuickItem* focused = window()->activeFocusItem();
    ASSERT_NE(focused, nullptr);
    EXPECT_EQ(frame->parentItem(), focused);
    ASSERT_TRUE(waitForFrame());

    const QImage image = window()->grabWindow();
    const QRect area = imageRect(frame);
    // The window just outside the frame, and the frame's left edge.
    const QColor around = image.pixelColor(area.left() - 2, area.center().y());
    EXPECT_GE(strongestContrast(image, QRect(area.left(), area.top(), 2, area.height()), around), 3.0)
        << "focus frame on " << around.name().toStdString() << " around " << focused->metaObject()->className();
    expectNoWarnings();
}

TEST_P(DarkThemeWindowTest, TheRenderedWindowFollowsTheSetting)
{
    storeLightThemeValue(GetParam().appsUseLightTheme);
    EXPECT_EQ(DarkTheme::applyIfRequested(*qApp, ThemeSetting::appsUseLightTheme()), GetParam().dark);
    // On the bench: a processor without an address warns at every poll, which a slow run reaches.
    loadBench();
    ASSERT_NE(window(), nullptr);

    const QColor background = window()->color();
    const QColor dominant = dominantColour();
    if (GetParam().dark) {
        EXPECT_EQ(background.name(), QColor(64, 64, 64).name());
        // Panels, fields and text stay dark too: what covers the window is dark grey.
        EXPECT_LT(dominant.lightness(), 100) << dominant.name().toStdString();
    } else {
        EXPECT_GT(background.lightness(), 200) << background.name().toStdString();
        EXPECT_GT(dominant.lightness(), 200) << dominant.name().toStdString();
    }
    // The windows the main window holds (preferences, preview, simulated display) follow it.
    const QList<QQuickWindow*> held = window()->findChildren<QQuickWindow*>();
    EXPECT_GE(held.size(), 3);
    for (QQuickWindow* other : held) {
        auto* quickPalette = other->property("palette").value<QObject*>();
        ASSERT_NE(quickPalette, nullptr) << other->objectName().toStdString();
        const QColor windowColour = quickPalette->property("window").value<QColor>();
        const QColor disabledText =
            quickPalette->property("disabled").value<QObject*>()->property("text").value<QColor>();
        if (GetParam().dark) {
            EXPECT_EQ(windowColour.name(), QColor(64, 64, 64).name()) << other->objectName().toStdString();
            EXPECT_EQ(disabledText.name(), QColor(127, 127, 127).name()) << other->objectName().toStdString();
        } else {
            EXPECT_GT(windowColour.lightness(), 200) << other->objectName().toStdString();
        }
    }
    expectNoWarnings();
}

INSTANTIATE_TEST_SUITE_P(Setting, DarkThemeWindowTest,
                         ::testing::Values(RenderedCase{"Dark", 0, true}, RenderedCase{"Light", 1, false}),
                         [](const ::testing::TestParamInfo<RenderedCase>& info) { return std::string(info.param.name); });
