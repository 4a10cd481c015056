#include <QByteArray>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

// The real program with its real interface on a real X display (Xvfb through xvfb-run, the xcb
// platform with Mesa's GL driver), stopped as a service manager stops it: it quits in order and,
// in the sanitizer build too, exits 0 (the graphics driver's own allocations are no leak of ours).

namespace {

constexpr int kStartLimitMs = 90000;
constexpr int kQuitLimitMs = 30000;
// Printed by Qt's scene graph once the window's GL context exists, with the driver loaded.
constexpr char kRendering[] = "OpenGL VENDOR";

} // namespace

TEST(RealDisplay, TheInterfaceQuitsInOrderOnSigtermAndExitsZero)
{
    const QString xvfbRun = QStandardPaths::findExecutable("xvfb-run");
    if (xvfbRun.isEmpty())
        GTEST_SKIP() << "xvfb-run is not installed";
    QTemporaryDir config;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("XDG_CONFIG_HOME", config.path());
    env.insert("QSG_INFO", "1");
    env.remove("LSAN_OPTIONS"); // the program's own suppressions, not the tests'
    QProcess launcher;
    launcher.setProcessEnvironment(env);
    launcher.setProcessChannelMode(QProcess::MergedChannels);
    launcher.start(xvfbRun, {"-a", VELOTRIM_BINARY});
    ASSERT_TRUE(launcher.waitForStarted(10000));

    QByteArray output;
    QElapsedTimer clock;
    clock.start();
    while (!output.contains(kRendering) && clock.elapsed() < kStartLimitMs && launcher.state() == QProcess::Running) {
        launcher.waitForReadyRead(500);
        output += launcher.readAll();
    }
    ASSERT_TRUE(output.contains(kRendering)) << output.constData();
    // A few frames of the interface, then the stop. The signal goes to the program itself, the
    // only child of xvfb-run's shell that runs the binary.
    launcher.waitForFinished(1000);
    QProcess find;
    find.start("pgrep", {"-P", QString::number(launcher.processId()), "-f", VELOTRIM_BINARY});
    ASSERT_TRUE(find.waitForFinished(10000));
    const qint64 programId = find.readAllStandardOutput().trimmed().split('\n').value(0).toLongLong();
    ASSERT_GT(programId, 0) << "the program is not running under xvfb-run";
    ASSERT_EQ(::kill(pid_t(programId), SIGTERM), 0);

    ASSERT_TRUE(launcher.waitForFinished(kQuitLimitMs)) << output.constData();
    output += launcher.readAll();
    EXPECT_EQ(launcher.exitStatus(), QProcess::NormalExit) << output.constData();
    EXPECT_EQ(launcher.exitCode(), 0) << output.constData();
    EXPECT_TRUE(output.contains("Received signal 15; quitting")) << output.constData();
    EXPECT_TRUE(output.contains("Controller shut down; worker threads joined"));
    EXPECT_TRUE(output.contains("Shut down with status 0"));
    EXPECT_FALSE(output.contains("LeakSanitizer")) << output.constData();
}
