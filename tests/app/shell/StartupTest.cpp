#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QUrl>
#include <QDir>

#include <gtest/gtest.h>

namespace {

QProcessEnvironment programEnvironment(const QTemporaryDir& config)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_CONFIG_HOME", config.path());
    return env;
}

} // namespace

TEST(Startup, ProgramKeepsRunningWithItsRootLoaded)
{
    QTemporaryDir config;
    QProcess program;
    program.setProcessEnvironment(programEnvironment(config));
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(VELOTRIM_BINARY);
    ASSERT_TRUE(program.waitForStarted(10000));
    EXPECT_FALSE(program.waitForFinished(3000)) << "exit code " << program.exitCode();
    EXPECT_EQ(program.state(), QProcess::Running);
    program.kill();
    program.waitForFinished(10000);
}

TEST(Startup, ARootThatFailsToLoadExitsWithMinusOne)
{
    QTemporaryDir config;
    QTemporaryFile broken(QDir::tempPath() + "/brokenXXXXXX.qml");
    ASSERT_TRUE(broken.open());
    broken.write("import QtQuick\nItem { this is not QML }\n");
    broken.close();

    QProcessEnvironment env = programEnvironment(config);
    env.insert("VELOTRIM_TEST_ROOT_URL", QUrl::fromLocalFile(broken.fileName()).toString());
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(VELOTRIM_BINARY);
    ASSERT_TRUE(program.waitForFinished(30000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 255); // -1 as a process status
}
