#include "support/InterfaceFixture.h"
#include "support/SavedTheme.h"

#include "support/ScopedTempFolder.h"

#include "display/DisplayBase.h"
#include "display/Kestra.h"
#include "instruments/SonyCamera.h"
#include "shell/Velotrimmer.h"
#include "ui/DarkTheme.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHostAddress>
#include <QImage>
#include <QQuickWindow>
#include <QSet>
#include <QTcpServer>
#include <QTest>

#include <gtest/gtest.h>

#include <iostream>
#include <optional>
#include <string>

// Pictures of the real interface on a real X server (a virtual one), for a look by eye: each is
// checked only for its size and for not being blank, never compared pixel by pixel.

namespace {

constexpr int kMinimumWidth = 780;
constexpr int kMinimumHeight = 600;
// A blank window has one colour; a drawn one has text, frames or the wall's shades.
constexpr int kMinimumColours = 4;
constexpr int kSampleStep = 4;
constexpr int kRunLimitMs = 60000;
// Far enough into a run that the wall shows measured LDMs.
constexpr double kRunShownAt = 0.3;

QString screenshotFolder()
{
    const QString chosen = qEnvironmentVariable("VELOTRIM_SCREENSHOT_DIR");
    return chosen.isEmpty() ? QStringLiteral(VELOTRIM_SCREENSHOT_DIR) : chosen;
}

int distinctColours(const QImage& image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += kSampleStep) {
        for (int x = 0; x < image.width(); x += kSampleStep)
            colours.insert(image.pixel(x, y));
    }
    return int(colours.size());
}

enum class Scene {
    Idle,          // the main window, nothing running
    Running,       // the main window during a balance run started from the menu
    Prefs,         // the preferences window
    SaveLog,       // the save dialog of "Save Log…" on a fresh account
    CloseQuestion, // the question on closing during a run
    ResetQuestion, // the question before "Reset All LDMs"
    DarkToolTip,   // a tool tip in the dark theme
    Smallest,      // the main window at its minimum size
    Menu,          // the Operation menu, opened from the keyboard, with its shortcuts
};

// The dark theme while it exists, the theme before it afterwards.
class DarkThemeInUse : public SavedTheme
{
public:
    DarkThemeInUse() { DarkTheme::applyIfRequested(*qApp, 0); }
};

struct ShotCase
{
    const char* name; // also the file's name
    int mode;
    Scene scene;
};

void PrintTo(const ShotCase& c, std::ostream* os)
{
    *os << c.name;
}

class Screenshot : public InterfaceFixture, public ::testing::WithParamInterface<ShotCase>
{
protected:
    // Grabs a window, checks it and writes it as <name>.png into the folder the log names.
    void save(QQuickWindow* shown, const QString& name, bool mainWindow)
    {
        ASSERT_NE(shown, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(shown));
        ASSERT_TRUE(waitForFrame(shown));
        const QImage image = shown->grabWindow();
        ASSERT_FALSE(image.isNull()) << name.toStdString();
        if (mainWindow) {
            EXPECT_GE(image.width(), kMinimumWidth) << name.toStdString();
            EXPECT_GE(image.height(), kMinimumHeight) << name.toStdString();
        }
        saveImage(image, name);
    }
    void saveImage(const QImage& image, const QString& name)
    {
        ASSERT_FALSE(image.isNull()) << name.toStdString();
        EXPECT_GE(distinctColours(image), kMinimumColours) << name.toStdString() << " looks blank";

        const QDir folder(screenshotFolder());
        ASSERT_TRUE(folder.mkpath(".")) << folder.path().toStdString();
        const QString path = folder.filePath(name + ".png");
        ASSERT_TRUE(image.save(path)) << path.toStdString();
        std::cout << "Screenshot: " << path.toStdString() << " (" << image.width() << " x " << image.height()
                  << ")" << std::endl;
        RecordProperty("screenshot", path.toStdString());
    }
};

TEST_P(Screenshot, OfTheInterfaceIsDrawnAndSaved)
{
    const ShotCase& c = GetParam();
    ASSERT_EQ(QGuiApplication::platformName(), "xcb") << "run under xvfb-run with QT_QPA_PLATFORM=xcb";
    // A fresh account: the save dialog shows the documents folder made for it.
    ScopedTempFolder home("HOME");
    std::optional<DarkThemeInUse> dark;
    if (c.scene == Scene::DarkToolTip)
        dark.emplace();
    loadBench();
    Velotrimmer& velotrimmer = controller();
    velotrimmer.setFakeLdmVariation(0.05);
    enterMode(c.mode);
    const QString name = QString::fromLatin1(c.name);

    switch (c.scene) {
    case Scene::Idle:
        save(window(), name, true);
        break;
    case Scene::Running: {
        velotrimmer.setBalanceTargetRed(150.0);
        velotrimmer.setBalanceTargetGreen(175.0);
        velotrimmer.setBalanceTargetBlue(150.0);
        clickMenuItem("simulatedDisplayItem");
        clickMenuItem("runItem");
        ASSERT_TRUE(velotrimmer.running());
        ASSERT_TRUE(waitUntil([&] { return velotrimmer.progress() >= kRunShownAt || !velotrimmer.running(); }, kRunLimitMs));
        ASSERT_TRUE(velotrimmer.running()) << "the run ended before the picture";
        save(window(), name, true);
        save(qobject_cast<QQuickWindow*>(find("simulatedDisplayWindow")), name + "-simulated-display", false);
        EXPECT_TRUE(waitUntil([&] { return !velotrimmer.running(); }, kRunLimitMs));
        EXPECT_EQ(velotrimmer.statusString(), "Uniformity completed.");
        break;
    }
    case Scene::Prefs:
        clickMenuItem("prefsItem");
        save(qobject_cast<QQuickWindow*>(find("prefs")), name, false);
        break;
    case Scene::SaveLog: {
        clickMenuItem("saveLogItem");
        QFileDialog* dialog = shownFileDialog();
        ASSERT_NE(dialog, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
        // Once the dialog has listed its folder.
        ASSERT_TRUE(waitUntil([&] { return dialog->findChild<QAbstractItemView*>("listView") != nullptr
                                        && dialog->findChild<QAbstractItemView*>("listView")->model() != nullptr; },
                              5000));
        saveImage(dialog->grab().toImage(), name);
        dialog->reject();
        break;
    }
    case Scene::CloseQuestion:
        velotrimmer.runNothing();
        window()->close();
        ASSERT_TRUE(waitUntil([&] { return find("question")->property("opened").toBool(); }, 5000));
        save(window(), name, true);
        velotrimmer.setRunning(false);
        break;
    case Scene::ResetQuestion: {
        QQuickItem* grid = item("wallGrid");
        QTest::mouseClick(window(), Qt::RightButton, {},
                          grid->mapToScene(QPointF(grid->width() / 4, grid->height() / 4)).toPoint());
        ASSERT_TRUE(waitUntil([&] { return find("wallMenu")->property("opened").toBool(); }, 5000));
        save(window(), name + "-menu", true);
        click(item("resetAllItem"));
        ASSERT_TRUE(waitUntil([&] { return find("question")->property("opened").toBool(); }, 5000));
        save(window(), name, true);
        break;
    }
    case Scene::DarkToolTip: {
        ASSERT_NE(hoverForToolTip(item("dragMode_adj")), nullptr);
        save(window(), name, true);
        break;
    }
    case Scene::Menu:
        window()->requestActivate();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window()));
        QTest::keyClick(window(), Qt::Key_O, Qt::AltModifier);
        ASSERT_TRUE(waitUntil([&] { return find("operationMenu")->property("opened").toBool(); }, 5000));
        save(window(), name, true);
        QTest::keyClick(window(), Qt::Key_Escape);
        break;
    case Scene::Smallest:
        window()->resize(window()->minimumSize());
        ASSERT_TRUE(waitUntil([&] { return window()->size() == window()->minimumSize(); }, 5000));
        save(window(), name + QString("-%1x%2").arg(window()->width()).arg(window()->height()), false);
        break;
    }
    expectNoWarnings();
}

INSTANTIATE_TEST_SUITE_P(Windows, Screenshot,
                         ::testing::Values(ShotCase{"main-linearity", 0, Scene::Idle},
                                           ShotCase{"main-balance", 1, Scene::Idle},
                                           ShotCase{"main-template", 2, Scene::Idle},
                                           ShotCase{"main-balance-running", 1, Scene::Running},
                                           ShotCase{"prefs", 0, Scene::Prefs},
                                           ShotCase{"save-log-dialog", 0, Scene::SaveLog},
                                           ShotCase{"close-during-run", 1, Scene::CloseQuestion},
                                           ShotCase{"reset-all-ldms", 1, Scene::ResetQuestion},
                                           ShotCase{"dark-tooltip", 1, Scene::DarkToolTip},
                                           ShotCase{"operation-menu", 0, Scene::Menu},
                                           ShotCase{"main-linearity-smallest", 0, Scene::Smallest},
                                           ShotCase{"main-balance-smallest", 1, Scene::Smallest},
                                           ShotCase{"main-template-smallest", 2, Scene::Smallest}),
                         [](const ::testing::TestParamInfo<ShotCase>& info) {
                             std::string name = info.param.name;
                             std::erase(name, '-');
                             return name;
                         });

// Device trouble where the operator looks: the processor panel after a poll of an address where
// nothing answers, then the uniformity mode without a camera SDK, with Run's tool tip saying why
// it is greyed.
TEST_F(Screenshot, DeviceTroubleIsDrawnAndSaved)
{
    ASSERT_EQ(QGuiApplication::platformName(), "xcb") << "run under xvfb-run with QT_QPA_PLATFORM=xcb";
    load();
    Velotrimmer& velotrimmer = controller();
    QString address;
    {
        QTcpServer closed;
        ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
        address = QStringLiteral("127.0.0.1:%1").arg(closed.serverPort());
    }
    typeInto(item("displayAddress"), address);
    velotrimmer.pollDevices();
    ASSERT_EQ(velotrimmer.displayAnswer(), Velotrimmer::DisplayFailed);
    save(window(), "main-processor-unreachable", true);

    velotrimmer.setOutputType(1);
    enterMode(Velotrimmer::Balance);
    ASSERT_TRUE(waitUntil([&] { return velotrimmer.statusString() == SonyCamera::SdkInitFailedMessage; }, 10000));
    QQuickItem* run = item("runButton");
    const QPoint over = run->mapToScene(QPointF(run->width() / 2, run->height() / 2)).toPoint();
    QTest::mouseMove(window(), over - QPoint(int(run->width()), 0));
    QTest::mouseMove(window(), over);
    QObject* toolTip = find("runToolTip");
    ASSERT_TRUE(waitUntil([toolTip] { return toolTip->property("visible").toBool(); }, 5000));
    save(window(), "main-balance-no-camera", true);
    for (const QString& warning : warnings())
        EXPECT_TRUE(warning.startsWith("Error updating display: ")) << warning.toStdString();
}

} // namespace
