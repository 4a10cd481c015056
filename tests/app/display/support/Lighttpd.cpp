#include "Lighttpd.h"

#include <QCryptographicHash>
#include <QDir>
#include <QHostAddress>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <optional>

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

constexpr int kStartLimitMs = 5000;
constexpr int kStopLimitMs = 3000;
constexpr int kConnectProbeMs = 200;

// The server's folders are named so, in the temporary folder; each holds a lock file its owner
// keeps locked for as long as it lives.
constexpr char kFolderPrefix[] = "velotrim-lighttpd-";
constexpr char kOwnerLock[] = "owner.lock";

// The exit status of a server process that could not be set up between fork and exec.
constexpr int kSetupFailed = 125;

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

// Locks the folder's lock file for as long as `lock` stays open (the system lets go of the lock
// when the process ends, however it ends). The file is locked before it takes its name, so that
// a sweep never finds it unlocked while its owner lives.
bool claimFolder(QFile& lock, const QDir& folder)
{
    const QString locked = folder.filePath(QLatin1String(kOwnerLock));
    lock.setFileName(locked + QLatin1String(".new"));
    return lock.open(QIODevice::WriteOnly) && ::flock(lock.handle(), LOCK_EX | LOCK_NB) == 0
        && ::rename(QFile::encodeName(lock.fileName()).constData(), QFile::encodeName(locked).constData()) == 0;
}

// Removes the folders of servers whose test process died before it could: their lock files are
// no longer locked. A folder still being made has no lock file yet and is left alone.
void removeAbandonedFolders()
{
    const QDir temp(QDir::tempPath());
    const QStringList names =
        temp.entryList({QLatin1String(kFolderPrefix) + QLatin1Char('*')}, QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        QDir folder(temp.filePath(name));
        QFile lock(folder.filePath(QLatin1String(kOwnerLock)));
        if (lock.open(QIODevice::ReadOnly) && ::flock(lock.handle(), LOCK_EX | LOCK_NB) == 0)
            folder.removeRecursively();
    }
}

// The account a server started by root serves as.
struct Account
{
    uid_t uid = 0;
    gid_t gid = 0;
};

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

Lighttpd::Lighttpd()
    : m_folder(QDir::tempPath() + QLatin1Char('/') + QLatin1String(kFolderPrefix) + QStringLiteral("XXXXXX"))
{
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
    removeAbandonedFolders();
    if (!m_folder.isValid())
        return QStringLiteral("no temporary folder");
    const QDir folder(m_folder.path());
    if (!claimFolder(m_ownerLock, folder))
        return QStringLiteral("cannot lock the server's folder: ") + m_ownerLock.errorString();
    m_port = freePort();
    if (m_port == 0)
        return QStringLiteral("no free port");
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
    if (options.keepAliveIdleSeconds > 0)
        config += "server.max-keep-alive-idle = " + QByteArray::number(options.keepAliveIdleSeconds) + "\n";
    std::optional<Account> serveAs;
    if (::geteuid() == 0) {
        // Never serve as root: the server is nobody from the start, and must be able to read its
        // files.
        const passwd* nobody = ::getpwnam("nobody");
        if (!nobody)
            return QStringLiteral("no user nobody to serve as");
        serveAs = Account{nobody->pw_uid, nobody->pw_gid};
        QFile::setPermissions(folder.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
                                                  | QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup);
    }
    if (!writeFile(folder.filePath("lighttpd.conf"), config)
        || !writeFile(folder.filePath("users"), kUser + ':' + kRealm + ':' + ha1 + '\n')
        || !writeFile(folder.filePath("root/api/data.json"), kData))
        return QStringLiteral("cannot write the server's files");

    // Between fork and exec, in the server's process: only calls that are safe there.
    m_process.setChildProcessModifier([parent = ::getpid(), serveAs] {
        if (serveAs && (::setgroups(0, nullptr) != 0 || ::setgid(serveAs->gid) != 0 || ::setuid(serveAs->uid) != 0))
            ::_exit(kSetupFailed);
        // Killed when the thread that starts it ends, with or without the test process. Asked
        // for after the change of user, which would clear it; should the test process have died
        // before this, the server's parent is already another.
        if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent)
            ::_exit(kSetupFailed);
        // Nothing of the test process beyond the standard channels goes with the server: a pipe
        // that someone reads to its end (a death test's, say) would stay open as long as it runs.
        // Best effort; an older system keeps them.
        static_cast<void>(::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC));
    });
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start(program, {QStringLiteral("-D"), QStringLiteral("-f"), folder.filePath("lighttpd.conf")});
    if (!m_process.waitForStarted(kStartLimitMs))
        return QStringLiteral("lighttpd did not start: ") + m_process.errorString();
    if (!QTest::qWaitFor([this] { return m_process.state() != QProcess::Running || accepts(); }, kStartLimitMs)
        || m_process.state() != QProcess::Running) {
        const QString ended = m_process.state() == QProcess::Running
            ? QString()
            : QStringLiteral(" (it ended with %1)").arg(m_process.exitCode());
        return QStringLiteral("lighttpd is not serving%1: ").arg(ended) + QString::fromUtf8(log());
    }
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
