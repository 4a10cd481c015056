#include "support/ProgramOnDisplay.h"

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
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
    if (!ProgramOnDisplay::available())
        GTEST_SKIP() << "xvfb-run is not installed";
    QTemporaryDir config;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", config.path());
    env.insert("QSG_INFO", "1");
    ProgramOnDisplay program(VELOTRIM_BINARY, env);
    ASSERT_TRUE(program.started());
    ASSERT_TRUE(program.readUntil(kRendering, kStartLimitMs)) << program.output().constData();
    // A few frames of the interface, then the stop.
    program.waitForEnd(1000);
    ASSERT_TRUE(program.signalProgram(SIGTERM)) << "the program is not running under xvfb-run";

    ASSERT_TRUE(program.waitForEnd(kQuitLimitMs)) << program.output().constData();
    const QByteArray& output = program.output();
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << output.constData();
    EXPECT_EQ(program.exitCode(), 0) << output.constData();
    EXPECT_TRUE(output.contains("Received signal 15; quitting")) << output.constData();
    EXPECT_TRUE(output.contains("Controller shut down; worker threads joined"));
    EXPECT_TRUE(output.contains("Shut down with status 0"));
    EXPECT_FALSE(output.contains("LeakSanitizer")) << output.constData();
}
