#pragma once

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// Debian's lighttpd on a free port of 127.0.0.1, in the foreground, from a configuration in a
// folder of its own: everything under "/api/" needs a Digest login (MD5, qop "auth") of one user
// from an htdigest file. It serves "/api/data.json", or passes every request to a backend on
// loopback. Started by root, it serves as "nobody". Its log (standard error) is kept for the test.
//
// The server lives no longer than the test process: it is killed when the thread that started it
// ends, so start it from a thread that outlives it (the test's main thread does), and however the
// process ends, destructors or not. The folder of a server whose test process died is removed by
// the next Lighttpd started on this machine.
class Lighttpd
{
public:
    static const QByteArray kRealm;
    static const QByteArray kUser;
    static const QByteArray kPassword;
    static const QByteArray kData; // the body of "/api/data.json"

    struct Options
    {
        quint16 backendPort = 0;      // 0: serve the files; else pass every request there
        int keepAliveRequests = 0;    // a connection's most requests; 0: lighttpd's default
        int keepAliveIdleSeconds = 0; // how long a kept connection may idle; 0: lighttpd's default
    };

    // The program's path, or empty when lighttpd is not installed.
    static QString program();

    Lighttpd();
    ~Lighttpd();
    Lighttpd(const Lighttpd&) = delete;
    Lighttpd& operator=(const Lighttpd&) = delete;

    // Empty on success, else what went wrong.
    QString start(const QString& program, const Options& options);
    QString start(const QString& program) { return start(program, Options{}); }

    quint16 port() const { return m_port; }
    qint64 processId() const { return m_process.processId(); }
    // The folder holding the configuration, the login file and the files served.
    QString folder() const { return m_folder.path(); }
    QByteArray log();

private:
    bool accepts() const;

    QTemporaryDir m_folder;
    QFile m_ownerLock; // held while this process lives; tells a sweep the folder is in use
    QProcess m_process;
    quint16 m_port = 0;
    QByteArray m_log;
};
