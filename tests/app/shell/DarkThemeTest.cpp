#include "shell/DarkTheme.h"
#include "shell/ThemeSetting.h"

#include "support/InterfaceFixture.h"
#include "support/QtPrinters.h"

#include <QApplication>
#include <QImage>
#include <QSettings>

#include <gtest/gtest.h>

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

// Puts the application's palette and style sheet back after each test: the theme is the process's.
class ApplicationTheme
{
public:
    ApplicationTheme() : m_palette(QApplication::palette()), m_styleSheet(qApp->styleSheet()) {}
    ~ApplicationTheme()
    {
        QApplication::setPalette(m_palette);
        qApp->setStyleSheet(m_styleSheet);
        storeLightThemeValue({});
    }
    const QPalette& palette() const { return m_palette; }
    const QString& styleSheet() const { return m_styleSheet; }

private:
    QPalette m_palette;
    QString m_styleSheet;
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

} // namespace

TEST_P(DarkThemeWindowTest, TheRenderedWindowFollowsTheSetting)
{
    storeLightThemeValue(GetParam().appsUseLightTheme);
    EXPECT_EQ(DarkTheme::applyIfRequested(*qApp, ThemeSetting::appsUseLightTheme()), GetParam().dark);
    load();
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
