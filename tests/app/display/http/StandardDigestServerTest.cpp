#include "display/http/http_client.h"
#include "display/http/http_client_cancel_registration.h"
#include "shell/AsioPump.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/beast/http/verb.hpp>

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <optional>
#include <string>

// The display client against Debian's lighttpd with its standard Digest authentication (RFC 7616,
// MD5, qop "auth"), as an independent server would judge it.

namespace {

using boost::system::error_code;
using Result = http_client::expected<http_client::string_response, error_code>;

constexpr int kStartLimitMs = 5000;
constexpr int kStopLimitMs = 3000;
constexpr int kFinishLimitMs = 5000;
constexpr int kDrainLimitMs = 2000;

const QByteArray kRealm = "KESTRA";
const QByteArray kUser = "admin";
const QByteArray kPassword = "secret";
const QByteArray kData = "{\"dev\":{}}\n";

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// lighttpd on a free port of 127.0.0.1, in the foreground, from a configuration in a folder of its
// own: everything under "/api/" needs a Digest login of one user from an htdigest file. Started
// by root, it drops to "nobody" before serving. Its log (standard error) is kept for the test.
class Lighttpd
{
public:
    static QString program()
    {
        QString found = QStandardPaths::findExecutable(QStringLiteral("lighttpd"));
        if (found.isEmpty())
            found = QStandardPaths::findExecutable(QStringLiteral("lighttpd"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
        return found;
    }

    ~Lighttpd()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(kStopLimitMs)) {
            m_process.kill();
            m_process.waitForFinished(kStopLimitMs);
        }
    }

    // Empty on success, else what went wrong.
    QString start(const QString& program)
    {
        if (!m_folder.isValid())
            return QStringLiteral("no temporary folder");
        m_port = freePort();
        if (m_port == 0)
            return QStringLiteral("no free port");
        const QDir folder(m_folder.path());
        folder.mkpath(QStringLiteral("root/api"));
        const QByteArray ha1 = QCryptographicHash::hash(kUser + ':' + kRealm + ':' + kPassword, QCryptographicHash::Md5).toHex();
        QByteArray config = "server.document-root = \"" + folder.filePath("root").toUtf8() + "\"\n"
                            "server.bind = \"127.0.0.1\"\n"
                            "server.port = " + QByteArray::number(m_port) + "\n"
                            "server.modules = (\"mod_auth\", \"mod_authn_file\")\n"
                            "mimetype.assign = (\".json\" => \"application/json\")\n"
                            "auth.backend = \"htdigest\"\n"
                            "auth.backend.htdigest.userfile = \"" + folder.filePath("users").toUtf8() + "\"\n"
                            "auth.require = (\"/api/\" => (\"method\" => \"digest\", \"realm\" => \"" + kRealm
                            + "\", \"require\" => \"valid-user\"))\n";
        if (::geteuid() == 0) {
            // Never serve as root: the server drops to nobody, who must be able to read its files.
            if (!::getpwnam("nobody"))
                return QStringLiteral("no user nobody to serve as");
            config += "server.username = \"nobody\"\nserver.groupname = \"nogroup\"\n";
            QFile::setPermissions(folder.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
                                                      | QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup);
        }
        if (!writeFile(folder.filePath("lighttpd.conf"), config)
            || !writeFile(folder.filePath("users"), kUser + ':' + kRealm + ':' + ha1 + '\n')
            || !writeFile(folder.filePath("root/api/data.json"), kData))
            return QStringLiteral("cannot write the server's files");
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start(program, {QStringLiteral("-D"), QStringLiteral("-f"), folder.filePath("lighttpd.conf")});
        if (!m_process.waitForStarted(kStartLimitMs))
            return QStringLiteral("lighttpd did not start: ") + m_process.errorString();
        if (!QTest::qWaitFor([this] { return m_process.state() != QProcess::Running || accepts(); }, kStartLimitMs)
            || m_process.state() != QProcess::Running)
            return QStringLiteral("lighttpd is not serving: ") + QString::fromUtf8(log());
        return {};
    }

    quint16 port() const { return m_port; }
    QByteArray log()
    {
        m_log += m_process.readAllStandardError();
        return m_log;
    }

private:
    static quint16 freePort()
    {
        QTcpServer probe;
        return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
    }

    bool accepts() const
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_port);
        return socket.waitForConnected(200);
    }

    QTemporaryDir m_folder;
    QProcess m_process;
    quint16 m_port = 0;
    QByteArray m_log;
};

template <class T>
QCoro::Task<void> storeResult(QCoro::Task<T> task, std::optional<T>* out)
{
    out->emplace(co_await std::move(task));
}

class StandardDigestServer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QString program = Lighttpd::program();
        if (program.isEmpty())
            GTEST_SKIP() << "lighttpd is not installed (scripts/setup installs it)";
        const QString failure = m_server.start(program);
        ASSERT_TRUE(failure.isEmpty()) << failure.toStdString();
        m_resolved = boost::asio::ip::tcp::resolver(m_io).resolve("127.0.0.1", std::to_string(m_server.port()));
        m_pump.start();
        m_ctx.username = kUser.toStdString();
    }

    void TearDown() override
    {
        http_client::cancel_all(m_ctx);
        if (!QTest::qWaitFor([this] { return m_registrations.empty(); }, kDrainLimitMs))
            ADD_FAILURE() << "requests were still running at the end of the test";
    }

    std::optional<Result> get(const std::string& target)
    {
        std::optional<Result> result;
        auto waiter = storeResult(http_client::digest_request(m_ctx, m_resolved, "127.0.0.1", boost::beast::http::verb::get,
                                                              target, "application/json", 0, ""),
                                  &result);
        if (!QTest::qWaitFor([&] { return result.has_value(); }, kFinishLimitMs)) {
            ADD_FAILURE() << "the request did not end in time";
            http_client::cancel_all(m_ctx);
            if (!QTest::qWaitFor([&] { return result.has_value(); }, kDrainLimitMs))
                ADD_FAILURE() << "the request did not end when cancelled";
        }
        return result;
    }

    // How often the server refused a login, by its own log.
    int refusedLogins() { return int(m_server.log().count("wrong password")); }

    Lighttpd m_server;
    boost::asio::io_context m_io;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> m_guard = boost::asio::make_work_guard(m_io);
    AsioPump m_pump{m_io};
    http_client::cancel_set m_registrations;
    http_client::context m_ctx{m_io, &m_registrations};
    http_client::endpoints m_resolved;
};

void expectStatus(const std::optional<Result>& result, unsigned status)
{
    ASSERT_TRUE(result.has_value());
    ASSERT_TRUE(result->has_value()) << result->error().message();
    EXPECT_EQ(result->value().result_int(), status);
}

} // namespace

TEST_F(StandardDigestServer, TheFirstRequestOfANewClientAuthenticates)
{
    m_ctx.password = kPassword.toStdString();
    const auto first = get("/api/data.json?dev.receivers&sys.fixtures");
    expectStatus(first, 200);
    EXPECT_EQ(first->value().body(), kData.toStdString());
    // The server's challenge carries no opaque, so the answer carried none either.
    EXPECT_FALSE(m_ctx.opaque.has_value());
    EXPECT_EQ(m_ctx.realm, kRealm.toStdString());
    EXPECT_EQ(m_ctx.qop, "auth");

    // Later requests authenticate from the start: one more response computed, no new challenge.
    expectStatus(get("/api/data.json"), 200);
    EXPECT_EQ(m_ctx.nc, 2u);
    EXPECT_EQ(refusedLogins(), 0) << m_server.log().toStdString();
}

TEST_F(StandardDigestServer, AWrongPasswordEndsWithTheServersRefusal)
{
    m_ctx.password = "wrong";
    expectStatus(get("/api/data.json"), 401);
    EXPECT_TRUE(QTest::qWaitFor([this] { return refusedLogins() > 0; }, kFinishLimitMs));
    EXPECT_EQ(refusedLogins(), 1) << "one answer to the challenge, no further attempt";
}
