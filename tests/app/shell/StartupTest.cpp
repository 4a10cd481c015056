#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

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
