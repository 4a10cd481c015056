#include "support/ProgramOnDisplay.h"
#include "support/StartedProgram.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSettings>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <functional>
#include <memory>

namespace {

QProcessEnvironment programEnvironment(const QTemporaryDir& config)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_CONFIG_HOME", config.path());
    return env;
}

// The environment of a run on a root QML file of the test's own in place of the interface.
QProcessEnvironment onRoot(const QTemporaryDir& config, const QString& rootUrl)
{
    QProcessEnvironment env = programEnvironment(config);
    env.insert("VELOTRIM_TEST_ROOT_URL", rootUrl);
    return env;
}

// Starts the program on that environment, its messages passed on to the test's own.
void startForwarding(QProcess& program, const QProcessEnvironment& env)
{
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(VELOTRIM_BINARY);
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

// The environment of a run of the real interface whose exit status is checked: Qt's raster scene
// graph keeps blocks at exit on the offscreen platform, so the program's leak check is left to
// its runs on a real display (RealDisplayTest) and to the runs on a minimal root here.
QProcessEnvironment withoutLeakCheck(QProcessEnvironment env)
{
    const QString sanitizer = env.value("ASAN_OPTIONS");
    env.insert("ASAN_OPTIONS", (sanitizer.isEmpty() ? "" : sanitizer + ":") + "detect_leaks=0");
    return env;
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// The real interface on fresh settings: the program keeps running with it, and nothing in the
// interface warns while it loads, lays out, restores its windows and makes its start-up check.
TEST(Startup, ProgramKeepsRunningWithItsRootLoaded)
{
    QTemporaryDir config;
    StartedProgram program(VELOTRIM_BINARY, programEnvironment(config));
    program.watchAfterLoad();
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

    QProcess program;
    startForwarding(program, onRoot(config, QUrl::fromLocalFile(broken.fileName()).toString()));
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
    QProcess program;
    startForwarding(program, onRoot(config, root.url()));
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
        StartedProgram program(VELOTRIM_BINARY, onRoot(config, root.url()), "root ready");
        ASSERT_TRUE(program.loaded()) << program.output().constData();

        ASSERT_TRUE(program.stop(signalNumber));
        const QByteArray& output = program.output();
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
    if (!ProgramOnDisplay::available())
        GTEST_SKIP() << "xvfb-run is not installed";
    QTemporaryDir config;
    RootFile root("import QtQuick\nimport QtQuick.Controls\n"
                  "ApplicationWindow { visible: true; width: 200; height: 100\n"
                  "  Timer { interval: 500; running: true; onTriggered: Qt.quit() } }\n");
    ProgramOnDisplay program(VELOTRIM_BINARY, onRoot(config, root.url()));
    ASSERT_TRUE(program.started());
    ASSERT_TRUE(program.waitForEnd(120000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << program.output().constData();
    EXPECT_EQ(program.exitCode(), 0) << program.output().constData();
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
    QProcess program;
    startForwarding(program, onRoot(config, root.url()));
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

// Without any display the program itself falls back to the offscreen platform and says so; it
// used to abort in the platform plugin.
TEST(Startup, WithoutADisplayItStartsOffscreenAndSaysSo)
{
    QTemporaryDir config;
    QProcessEnvironment env = programEnvironment(config);
    for (const char* variable : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(variable);
    StartedProgram program(VELOTRIM_BINARY, withoutLeakCheck(env));
    EXPECT_TRUE(program.loaded()) << program.output().constData();
    EXPECT_TRUE(program.output().contains("No display found; starting on Qt's offscreen platform"))
        << program.output().constData();
    ASSERT_TRUE(program.stop(SIGTERM));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << program.output().constData();
    EXPECT_EQ(program.exitCode(), 0) << program.output().constData();
}

// A quit by signal keeps the window's geometry as closing the window does: here a geometry kept
// beyond the screen, which the interface pulled back onto it.
TEST(Startup, AQuitBySignalKeepsTheWindowGeometry)
{
    QTemporaryDir config;
    const QString settingsFile = config.path() + "/Corvane/Velotrim.conf";
    {
        QSettings stored(settingsFile, QSettings::IniFormat);
        stored.setValue("MainWindow/x", 5000);
        stored.setValue("MainWindow/y", 4000);
    }
    StartedProgram program(VELOTRIM_BINARY, withoutLeakCheck(programEnvironment(config)));
    ASSERT_TRUE(program.loaded()) << program.output().constData();
    ASSERT_TRUE(program.stop(SIGTERM));
    EXPECT_EQ(program.exitCode(), 0) << program.output().constData();

    QSettings kept(settingsFile, QSettings::IniFormat);
    EXPECT_LT(kept.value("MainWindow/x").toInt(), 5000);
    EXPECT_LT(kept.value("MainWindow/y").toInt(), 4000);
    EXPECT_GE(kept.value("MainWindow/x").toInt(), 0);
    EXPECT_TRUE(kept.contains("MainWindow/width"));
    EXPECT_EQ(kept.value("MainWindow/dummyShown").toInt(), 0);
}

// A start refused before it touches anything: run to its end (or signalled) and read.
struct RefusedStart
{
    int exitCode = -1;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    QByteArray output;
    bool endedByItself = false;
};

// Starts the program and waits for its own end, for at most the limit; a program still running
// then is stopped by SIGTERM (as an operator's Ctrl+C would).
RefusedStart startRefused(const QProcessEnvironment& env, const std::function<void()>& inChild = {})
{
    constexpr int kEndLimitMs = 30000;
    QProcess program;
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::MergedChannels);
    if (inChild)
        program.setChildProcessModifier(inChild);
    program.start(VELOTRIM_BINARY);
    RefusedStart refused;
    if (!program.waitForStarted(10000))
        return refused;
    refused.endedByItself = program.waitForFinished(kEndLimitMs);
    if (!refused.endedByItself) {
        ::kill(pid_t(program.processId()), SIGTERM);
        program.waitForFinished(kEndLimitMs);
    }
    refused.output = program.readAll();
    refused.exitCode = program.exitCode();
    refused.exitStatus = program.exitStatus();
    return refused;
}

// One velotrim per account: a second start says it is already running and ends at once with
// status 1 (no display here: no box anyone could close), the first runs on untouched; a lock
// left by a killed one is taken over.
TEST(Startup, ASecondStartIsRefusedWhileTheFirstRuns)
{
    QTemporaryDir config;
    const QProcessEnvironment env = withoutLeakCheck(programEnvironment(config));
    const QString settingsFile = config.path() + "/Corvane/Velotrim.conf";
    const QString lockFile = config.path() + "/Corvane/Velotrim.lock";

    auto first = std::make_unique<StartedProgram>(VELOTRIM_BINARY, env);
    ASSERT_TRUE(first->loaded()) << first->output().constData();
    EXPECT_TRUE(QFile::exists(lockFile));
    // Once the interface has written its own settings after loading.
    ASSERT_TRUE(QTest::qWaitFor([&] { return fileBytes(settingsFile).contains("[MainWindow]"); }, 30000));
    const QByteArray settingsBefore = fileBytes(settingsFile);

    const RefusedStart second = startRefused(env);
    EXPECT_TRUE(second.endedByItself) << "the refused start waited for a box nobody can close";
    EXPECT_EQ(second.exitStatus, QProcess::NormalExit);
    EXPECT_EQ(second.exitCode, 1) << second.output.constData();
    EXPECT_TRUE(second.output.contains("Velotrim is already running")) << second.output.constData();
    EXPECT_FALSE(second.output.contains(StartedProgram::LoadedMark)) << second.output.constData();
    EXPECT_TRUE(first->running());
    EXPECT_EQ(fileBytes(settingsFile).toStdString(), settingsBefore.toStdString());
    EXPECT_TRUE(QFile::exists(lockFile));

    // Killed, the first leaves its lock behind; the next start takes it over.
    ASSERT_TRUE(first->stop(SIGKILL));
    first.reset();
    ASSERT_TRUE(QFile::exists(lockFile));
    StartedProgram third(VELOTRIM_BINARY, env);
    EXPECT_TRUE(third.loaded()) << third.output().constData();
    ASSERT_TRUE(third.stop(SIGTERM));
    EXPECT_EQ(third.exitCode(), 0) << third.output().constData();
    EXPECT_FALSE(QFile::exists(lockFile));
}

// On a display the second start shows its box until it is closed (here a signal ends it, as
// closing would), still with status 1.
TEST(Startup, ASecondStartOnADisplayShowsItsBoxUntilClosed)
{
    if (!ProgramOnDisplay::available())
        GTEST_SKIP() << "xvfb-run is not installed";
    QTemporaryDir config;
    const QProcessEnvironment env = withoutLeakCheck(programEnvironment(config));
    StartedProgram first(VELOTRIM_BINARY, env);
    ASSERT_TRUE(first.loaded()) << first.output().constData();

    ProgramOnDisplay second(VELOTRIM_BINARY, env);
    ASSERT_TRUE(second.started());
    ASSERT_TRUE(second.readUntil("Velotrim is already running", 60000)) << second.output().constData();
    EXPECT_TRUE(second.running()) << "the refused start ended without its box";

    ASSERT_TRUE(second.signalProgram(SIGTERM)) << "the program is not running under xvfb-run";
    ASSERT_TRUE(second.waitForEnd(30000));
    EXPECT_EQ(second.exitCode(), 1) << second.output().constData();
    EXPECT_TRUE(first.running());
}

// A lock that cannot be made at all is no velotrim already running: the start says what failed
// and ends with status 1.
TEST(Startup, ALockThatCannotBeMadeIsReportedAsWhatFailed)
{
    struct Case
    {
        const char* name;
        const char* said;
        bool diskFull; // files of the program may not grow at all
    };
    for (const Case& c : {Case{"settings folder in a system folder", "the settings folder", false},
                          Case{"disk full", "cannot be written", true}}) {
        SCOPED_TRACE(c.name);
        QTemporaryDir config;
        QProcessEnvironment env = withoutLeakCheck(programEnvironment(config));
        if (!c.diskFull)
            env.insert("XDG_CONFIG_HOME", "/proc/velotrim-settings");
        const RefusedStart refused = startRefused(env, c.diskFull ? std::function<void()>([] {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit none{0, RLIM_INFINITY};
            setrlimit(RLIMIT_FSIZE, &none);
        })
                                                                  : std::function<void()>());
        EXPECT_TRUE(refused.endedByItself);
        EXPECT_EQ(refused.exitCode, 1) << refused.output.constData();
        EXPECT_TRUE(refused.output.contains("Velotrim cannot start: ")) << refused.output.constData();
        EXPECT_TRUE(refused.output.contains(c.said)) << refused.output.constData();
        EXPECT_FALSE(refused.output.contains("already running")) << refused.output.constData();
    }
}
