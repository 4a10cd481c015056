#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>

#include <memory>

class QTcpServer;
class QTcpSocket;

// An HTTP/1.1 server on 127.0.0.1 for tests, run by the test's own event loop, plain or over TLS.
// Each path (without its query) has an answer of its own; unknown paths get 404. Every request
// is recorded with its headers. An answer can leave out its length (the body ends when the
// connection closes), close the connection halfway through its body, or never come at all.
class LoopbackHttpServer : public QObject
{
    Q_OBJECT
public:
    enum class Delivery { Whole, NoLength, CloseMidBody, Silent };

    struct Request
    {
        QByteArray method;
        QByteArray target; // path and query, as sent
        QHash<QByteArray, QByteArray> headers; // names in lower case
    };

    explicit LoopbackHttpServer(QObject* parent = nullptr);
    ~LoopbackHttpServer() override;

    // Listens on a free port of 127.0.0.1; over TLS when a certificate and key are given.
    bool listen();
    bool listenTls(const QSslCertificate& certificate, const QSslKey& key);
    quint16 port() const;
    // "http://127.0.0.1:<port>" or "https://127.0.0.1:<port>".
    QString baseUrl() const;

    void route(const QByteArray& path, const QByteArray& body, int status = 200,
               Delivery delivery = Delivery::Whole);

    const QList<Request>& requests() const { return m_requests; }

signals:
    void requestReceived();

private:
    struct Answer
    {
        QByteArray body;
        int status = 200;
        Delivery delivery = Delivery::Whole;
    };

    void accept();
    void serve(QTcpSocket* socket);

    std::unique_ptr<QTcpServer> m_server;
    bool m_tls = false;
    QHash<QByteArray, Answer> m_routes;
    QList<Request> m_requests;
};

// A self-signed certificate for 127.0.0.1, made with openssl at test time. Trust it in the test
// process only (trustInThisProcess), never system-wide.
struct TestCertificate
{
    QSslCertificate certificate;
    QSslKey key;
    bool valid() const { return !certificate.isNull() && !key.isNull(); }

    static TestCertificate make();
    void trustInThisProcess() const;
};
