#include "Lighttpd.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <pwd.h>
#include <unistd.h>

namespace {

constexpr int kStartLimitMs = 5000;
constexpr int kStopLimitMs = 3000;
constexpr int kConnectProbeMs = 200;

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

} // namespace

const QByteArray Lighttpd::kRealm = "KESTRA";
const QByteArray Lighttpd::kUser = "admin";
const QByteArray Lighttpd::kPassword = "secret";
const QByteArray Lighttpd::kData = "{\"dev\":{}}\n";

QString Lighttpd::program()
{
    QString found = QStandardPaths::findExecutable(QStringLiteral("lighttpd"));
    if (found.isEmpty())
        found = QStandardPaths::findExecutable(QStringLiteral("lighttpd"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    return found;
}

Lighttpd::~Lighttpd()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(kStopLimitMs)) {
        m_process.kill();
        m_process.waitForFinished(kStopLimitMs);
    }
}

QString Lighttpd::start(const QString& program, const Options& options)
{
    if (!m_folder.isValid())
        return QStringLiteral("no temporary folder");
    m_port = freePort();
    if (m_port == 0)
        return QStringLiteral("no free port");
    const QDir folder(m_folder.path());
    folder.mkpath(QStringLiteral("root/api"));
    const QByteArray ha1 = QCryptographicHash::hash(kUser + ':' + kRealm + ':' + kPassword, QCryptographicHash::Md5).toHex();
    // mod_auth comes before mod_proxy, so that a request is authenticated before it is passed on.
    QByteArray config = "server.document-root = \"" + folder.filePath("root").toUtf8() + "\"\n"
                        "server.bind = \"127.0.0.1\"\n"
                        "server.port = " + QByteArray::number(m_port) + "\n"
                        "server.modules = (\"mod_auth\", \"mod_authn_file\", \"mod_proxy\")\n"
                        "mimetype.assign = (\".json\" => \"application/json\")\n"
                        "auth.backend = \"htdigest\"\n"
                        "auth.backend.htdigest.userfile = \"" + folder.filePath("users").toUtf8() + "\"\n"
                        "auth.require = (\"/api/\" => (\"method\" => \"digest\", \"realm\" => \"" + kRealm
                        + "\", \"require\" => \"valid-user\"))\n";
    if (options.backendPort != 0)
        config += "proxy.server = (\"\" => ((\"host\" => \"127.0.0.1\", \"port\" => "
                  + QByteArray::number(options.backendPort) + ")))\n";
    if (options.keepAliveRequests > 0)
        config += "server.max-keep-alive-requests = " + QByteArray::number(options.keepAliveRequests) + "\n";
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

QByteArray Lighttpd::log()
{
    m_log += m_process.readAllStandardError();
    return m_log;
}

bool Lighttpd::accepts() const
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_port);
    return socket.waitForConnected(kConnectProbeMs);
}
