#include "shell/DarkTheme.h"
#include "shell/ThemeSetting.h"

#include <QApplication>
#include <QSettings>

#include <gtest/gtest.h>

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

class DarkThemeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_palette = QApplication::palette();
        m_styleSheet = qApp->styleSheet();
    }
    void TearDown() override
    {
        QApplication::setPalette(m_palette);
        qApp->setStyleSheet(m_styleSheet);
        storeLightThemeValue({});
    }

    QPalette m_palette;
    QString m_styleSheet;
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
}

TEST_F(DarkThemeTest, OneOrAbsentKeepsThePlatformPalette)
{
    for (const QVariant& value : {QVariant(1), QVariant()}) {
        storeLightThemeValue(value);
        EXPECT_FALSE(DarkTheme::applyIfRequested(*qApp, ThemeSetting::appsUseLightTheme()));
        EXPECT_EQ(QApplication::palette(), m_palette);
        EXPECT_EQ(qApp->styleSheet(), m_styleSheet);
    }
    EXPECT_EQ(ThemeSetting::appsUseLightTheme(), std::nullopt);
}
