#include "support/WindowManager.h"

#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>

namespace {

// A panel of PanelHeight pixels along the bottom edge, and nothing else of the desktop.
constexpr char kConfiguration[] = R"(<?xml version="1.0"?>
<JWM>
  <Tray x="0" y="-1" height="%1" autohide="off">
    <TaskList/>
  </Tray>
</JWM>
)";

} // namespace

WindowManager::~WindowManager()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000))
        m_process.kill();
    m_process.waitForFinished(5000);
}

bool WindowManager::start(int limitMs)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    if (QGuiApplication::platformName() != "xcb" || !screen) {
        m_error = "no X display: run under xvfb-run with QT_QPA_PLATFORM=xcb";
        return false;
    }
    const QString program = QStandardPaths::findExecutable("jwm");
    if (program.isEmpty()) {
        m_error = "jwm is not installed (scripts/setup installs it)";
        return false;
    }
    const QString configuration = m_folder.filePath("jwmrc");
    QFile file(configuration);
    if (!file.open(QIODevice::WriteOnly)
        || file.write(QString::fromLatin1(kConfiguration).arg(PanelHeight).toUtf8()) < 0) {
        m_error = "cannot write " + configuration;
        return false;
    }
    file.close();
    m_process.setProcessChannelMode(QProcess::ForwardedChannels);
    m_process.start(program, {"-f", configuration});
    if (!m_process.waitForStarted(10000)) {
        m_error = "jwm did not start: " + m_process.errorString();
        return false;
    }
    const bool panelled = QTest::qWaitFor(
        [screen] { return screen->availableGeometry().height() == screen->geometry().height() - PanelHeight; },
        limitMs);
    if (!panelled)
        m_error = "the window manager's panel never reached the screen's available area";
    return panelled;
}
