#include "../support/Lighttpd.h"

#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <string>

#include <pwd.h>
#include <unistd.h>

// The lighttpd a test starts goes with the test process, however that ends, and so does the
// folder it served from.

namespace {

constexpr int kGoneLimitMs = 10000;
constexpr int kConnectProbeMs = 200;

// A line from /proc/<pid>/status, or /proc/<pid>/stat whole; empty when the process is gone.
QByteArray procFile(qint64 pid, const char* name)
{
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Gone, or a zombie nobody has reaped yet.
bool ended(qint64 pid)
{
    const QByteArray stat = procFile(pid, "stat");
    // "pid (command) state ...": the state follows the command's closing parenthesis.
    const qsizetype close = stat.lastIndexOf(')');
    return close < 0 || stat.mid(close + 2, 1) == "Z";
}

bool accepts(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(kConnectProbeMs);
}

// The real user the process runs as, or -1.
long realUser(qint64 pid)
{
    static const QRegularExpression uid(QStringLiteral("\\nUid:\\s+(\\d+)"));
    const auto match = uid.match(QString::fromLatin1(procFile(pid, "status")));
    return match.hasMatch() ? match.captured(1).toLong() : -1;
}

} // namespace

// A test process that has started a server is killed: the server ends with it, and the next server
// started removes the folder the dead one left.
TEST(Lighttpd, TheServerEndsWithTheTestProcessThatStartedIt)
{
    if (Lighttpd::program().isEmpty())
        GTEST_SKIP() << "lighttpd is not installed (scripts/setup installs it)";
    // The test process is started anew from its program, not forked from this one's threads.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    std::string told;
    const auto tell = ::testing::Truly([&told](const std::string& text) {
        told = text;
        return true;
    });
    EXPECT_EXIT(
        {
            Lighttpd server;
            const QString failure = server.start(Lighttpd::program());
            if (failure.isEmpty())
                std::fprintf(stderr, "\nserver %lld %u %s\n", static_cast<long long>(server.processId()),
                             unsigned(server.port()), qPrintable(server.folder()));
            else
                std::fprintf(stderr, "\nno server: %s\n", qPrintable(failure));
            std::fflush(stderr);
            std::raise(SIGKILL);
        },
        ::testing::KilledBySignal(SIGKILL), tell);

    static const QRegularExpression line(QStringLiteral("\\nserver (\\d+) (\\d+) (\\S+)\\n"));
    const auto said = line.match(QString::fromStdString(told));
    ASSERT_TRUE(said.hasMatch()) << told;
    const qint64 pid = said.captured(1).toLongLong();
    const quint16 port = quint16(said.captured(2).toUInt());
    const QString folder = said.captured(3);

    EXPECT_TRUE(QTest::qWaitFor([pid] { return ended(pid); }, kGoneLimitMs)) << "lighttpd " << pid << " still runs";
    EXPECT_FALSE(accepts(port));

    // Another test's server may have removed the folder already; the next one does at the latest.
    Lighttpd next;
    const QString failure = next.start(Lighttpd::program());
    ASSERT_TRUE(failure.isEmpty()) << failure.toStdString();
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_TRUE(QFileInfo::exists(next.folder())) << "a live server's folder stays";
    if (::geteuid() == 0) {
        const passwd* nobody = ::getpwnam("nobody");
        ASSERT_NE(nobody, nullptr);
        EXPECT_EQ(realUser(next.processId()), long(nobody->pw_uid)) << "a server started by root serves as nobody";
    }
}
