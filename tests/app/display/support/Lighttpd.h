#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// Debian's lighttpd on a free port of 127.0.0.1, in the foreground, from a configuration in a
// folder of its own: everything under "/api/" needs a Digest login (MD5, qop "auth") of one user
// from an htdigest file. It serves "/api/data.json", or passes every request to a backend on
// loopback. Started by root, it drops to "nobody" before serving. Its log (standard error) is
// kept for the test.
class Lighttpd
{
public:
    static const QByteArray kRealm;
    static const QByteArray kUser;
    static const QByteArray kPassword;
    static const QByteArray kData; // the body of "/api/data.json"

    struct Options
    {
        quint16 backendPort = 0;           // 0: serve the files; else pass every request there
        int keepAliveRequests = 0;         // a connection's most requests; 0: lighttpd's default
    };

    // The program's path, or empty when lighttpd is not installed.
    static QString program();

    Lighttpd() = default;
    ~Lighttpd();
    Lighttpd(const Lighttpd&) = delete;
    Lighttpd& operator=(const Lighttpd&) = delete;

    // Empty on success, else what went wrong.
    QString start(const QString& program, const Options& options);
    QString start(const QString& program) { return start(program, Options{}); }

    quint16 port() const { return m_port; }
    QByteArray log();

private:
    bool accepts() const;

    QTemporaryDir m_folder;
    QProcess m_process;
    quint16 m_port = 0;
    QByteArray m_log;
};
