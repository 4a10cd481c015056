#include "support/StartedProgram.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <csignal>

namespace {

QProcessEnvironment programEnvironment(const QTemporaryDir& config)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_CONFIG_HOME", config.path());
    return env;
}

// Writes a root QML file for the real program to load in place of its interface.
class RootFile
{
public:
    explicit RootFile(const QByteArray& qml)
        : m_file(QDir::tempPath() + "/rootXXXXXX.qml")
    {
        if (m_file.open()) {
            m_file.write(qml);
            m_file.close();
        }
    }
    QString url() const { return QUrl::fromLocalFile(m_file.fileName()).toString(); }

private:
    QTemporaryFile m_file;
};

} // namespace

// The real interface on fresh settings: the program keeps running with it, and nothing in the
// interface warns while it loads, lays out, restores its windows and makes its start-up check.
TEST(Startup, ProgramKeepsRunningWithItsRootLoaded)
{
    QTemporaryDir config;
    const StartedProgram program(VELOTRIM_BINARY, programEnvironment(config));
    EXPECT_TRUE(program.loaded()) << "the interface never finished loading:\n" << program.output().constData();
    EXPECT_TRUE(program.running()) << "exit code " << program.exitCode() << "\n" << program.output().constData();
    const QStringList found = program.qmlWarnings();
    EXPECT_TRUE(found.isEmpty()) << found.join('\n').toStdString();
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

TEST(Startup, ANormalQuitEndsCleanlyWithTheLoopsResult)
{
    // The real interface is replaced by a window that quits, so the whole shut-down runs:
    // controller, worker threads, I/O context, and the sanitizers' leak check at exit.
    QTemporaryDir config;
    RootFile root("import QtQuick\nimport QtQuick.Controls\n"
                  "ApplicationWindow { visible: true\n"
                  "  Timer { interval: 300; running: true; onTriggered: Qt.quit() } }\n");
    QProcessEnvironment env = programEnvironment(config);
    env.insert("VELOTRIM_TEST_ROOT_URL", root.url());
    QProcess program;
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(VELOTRIM_BINARY);
    ASSERT_TRUE(program.waitForFinished(30000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
}

// Ctrl+C and a service manager's stop quit as closing the window does: the controller shuts
// down, its threads are joined, a setting changed just before is kept, and the status is 0.
TEST(Startup, SigtermAndSigintQuitInOrder)
{
    for (const int signalNumber : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signalNumber);
        QTemporaryDir config;
        RootFile root("import QtQuick\nimport QtQuick.Controls\n"
                      "ApplicationWindow { visible: true\n"
                      "  Component.onCompleted: { velotrimmer.readDelay = 1234; console.log(\"root ready\") } }\n");
        QProcessEnvironment env = programEnvironment(config);
        env.insert("VELOTRIM_TEST_ROOT_URL", root.url());
        QProcess program;
        program.setProcessEnvironment(env);
        program.setProcessChannelMode(QProcess::MergedChannels);
        program.start(VELOTRIM_BINARY);
        ASSERT_TRUE(program.waitForStarted(10000));
        QByteArray output;
        QElapsedTimer ready;
        ready.start();
        while (!output.contains("root ready") && ready.elapsed() < 60000 && program.state() == QProcess::Running) {
            program.waitForReadyRead(500);
            output += program.readAll();
        }
        ASSERT_TRUE(output.contains("root ready")) << output.constData();

        ASSERT_EQ(::kill(program.processId(), signalNumber), 0);
        ASSERT_TRUE(program.waitForFinished(30000));
        output += program.readAll();
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << output.constData();
        EXPECT_EQ(program.exitCode(), 0) << output.constData();
        EXPECT_TRUE(output.contains("Received signal " + QByteArray::number(signalNumber) + "; quitting"));
        EXPECT_TRUE(output.contains("Controller shut down; worker threads joined"));
        EXPECT_TRUE(output.contains("Shut down with status 0"));

        QSettings kept(config.path() + "/Corvane/Velotrim.conf", QSettings::IniFormat);
        EXPECT_EQ(kept.value("readDelay").toUInt(), 1234u);
    }
}

// On a real X display (a virtual one here) the sanitizer build's normal quit still exits 0: the
// leaks the graphics and D-Bus libraries keep at exit are theirs, and suppressed in the program.
TEST(Startup, ANormalQuitOnARealDisplayExitsZero)
{
    const QString xvfbRun = QStandardPaths::findExecutable("xvfb-run");
    if (xvfbRun.isEmpty())
        GTEST_SKIP() << "xvfb-run is not installed";
    QTemporaryDir config;
    RootFile root("import QtQuick\nimport QtQuick.Controls\n"
                  "ApplicationWindow { visible: true; width: 200; height: 100\n"
                  "  Timer { interval: 500; running: true; onTriggered: Qt.quit() } }\n");
    QProcessEnvironment env = programEnvironment(config);
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("VELOTRIM_TEST_ROOT_URL", root.url());
    env.remove("LSAN_OPTIONS"); // the program's own suppressions, not the tests'
    QProcess program;
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(xvfbRun, {"-a", VELOTRIM_BINARY});
    ASSERT_TRUE(program.waitForFinished(120000));
    const QByteArray output = program.readAll();
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << output.constData();
    EXPECT_EQ(program.exitCode(), 0) << output.constData();
}

TEST(Startup, QuittingWhileTheProcessorIsSilentEndsPromptly)
{
    // A processor that accepts and never answers: the quit must not wait for the exchange's
    // time limit, and nothing may touch the I/O context after it is gone.
    QTcpServer silentProcessor;
    ASSERT_TRUE(silentProcessor.listen(QHostAddress::LocalHost));
    QList<QTcpSocket*> held;
    // Timed from the exchange's start, so a slow start-up of the program under load does not
    // count against the quit.
    QElapsedTimer sinceExchange;
    QObject::connect(&silentProcessor, &QTcpServer::newConnection, [&] {
        if (!sinceExchange.isValid())
            sinceExchange.start();
        while (QTcpSocket* socket = silentProcessor.nextPendingConnection())
            held.append(socket);
    });

    QTemporaryDir config;
    const QByteArray address = "127.0.0.1:" + QByteArray::number(silentProcessor.serverPort());
    RootFile root("import QtQuick\nimport QtQuick.Controls\n"
                  "ApplicationWindow { visible: true\n"
                  "  Timer { id: quitTimer; interval: 1000; onTriggered: Qt.quit() }\n"
                  "  Timer { interval: 200; running: true; onTriggered: {\n"
                  "    quitTimer.start()\n"
                  "    velotrimmer.display.address = \"" + address + "\"\n"
                  "    velotrimmer.display.setRGB(0, 0.25, 0.5, 0.75) } } }\n");
    QProcessEnvironment env = programEnvironment(config);
    env.insert("VELOTRIM_TEST_ROOT_URL", root.url());
    QProcess program;
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(VELOTRIM_BINARY);
    ASSERT_TRUE(program.waitForStarted(10000));

    EXPECT_TRUE(QTest::qWaitFor([&] { return program.state() == QProcess::NotRunning; }, 30000));
    ASSERT_FALSE(held.isEmpty()) << "the program never reached the processor";
    EXPECT_LT(sinceExchange.elapsed(), 8000) << "the quit waited for the exchange's time limit";
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    if (program.state() != QProcess::NotRunning) {
        program.kill();
        program.waitForFinished(10000);
    }
}
