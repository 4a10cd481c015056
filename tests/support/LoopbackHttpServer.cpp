#include "LoopbackHttpServer.h"

#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QSslConfiguration>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

namespace {

QByteArray reasonFor(int status)
{
    switch (status) {
    case 200: return "OK";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

} // namespace

LoopbackHttpServer::LoopbackHttpServer(QObject* parent)
    : QObject(parent)
{
}

LoopbackHttpServer::~LoopbackHttpServer() = default;

bool LoopbackHttpServer::listen()
{
    m_server = std::make_unique<QTcpServer>();
    connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this, &LoopbackHttpServer::accept);
    return m_server->listen(QHostAddress::LocalHost, 0);
}

bool LoopbackHttpServer::listenTls(const QSslCertificate& certificate, const QSslKey& key)
{
    auto server = std::make_unique<QSslServer>();
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(certificate);
    configuration.setPrivateKey(key);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    server->setSslConfiguration(configuration);
    m_server = std::move(server);
    m_tls = true;
    connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this, &LoopbackHttpServer::accept);
    return m_server->listen(QHostAddress::LocalHost, 0);
}

quint16 LoopbackHttpServer::port() const
{
    return m_server ? m_server->serverPort() : 0;
}

QString LoopbackHttpServer::baseUrl() const
{
    return QStringLiteral("%1://127.0.0.1:%2").arg(m_tls ? "https" : "http").arg(port());
}

void LoopbackHttpServer::route(const QByteArray& path, const QByteArray& body, int status, Delivery delivery)
{
    m_routes.insert(path, Answer{body, status, delivery});
}

void LoopbackHttpServer::accept()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        socket->setParent(this);
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
            buffer->append(socket->readAll());
            const qsizetype end = buffer->indexOf("\r\n\r\n");
            if (end < 0)
                return;
            const QList<QByteArray> lines = buffer->left(end).split('\n');
            buffer->remove(0, end + 4);
            Request request;
            const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
            request.method = first.value(0);
            request.target = first.value(1);
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const qsizetype colon = lines[i].indexOf(':');
                if (colon > 0)
                    request.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
            }
            m_requests.append(request);
            emit requestReceived();
            serve(socket);
        });
    }
}

void LoopbackHttpServer::serve(QTcpSocket* socket)
{
    const QByteArray target = m_requests.last().target;
    const QByteArray path = target.left(target.indexOf('?') < 0 ? target.size() : target.indexOf('?'));
    const Answer answer = m_routes.value(path, Answer{"not found", 404, Delivery::Whole});
    if (answer.delivery == Delivery::Silent)
        return;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(answer.status) + ' ' + reasonFor(answer.status) + "\r\n"
                    + "Content-Type: application/octet-stream\r\n";
    QByteArray body = answer.body;
    if (answer.delivery == Delivery::NoLength) {
        head += "Connection: close\r\n";
    } else {
        head += "Content-Length: " + QByteArray::number(answer.body.size()) + "\r\n";
        if (answer.delivery == Delivery::CloseMidBody)
            body = body.left(body.size() / 2);
    }
    socket->write(head + "\r\n" + body);
    if (answer.delivery != Delivery::Whole) {
        socket->flush();
        socket->disconnectFromHost();
    }
}

TestCertificate TestCertificate::make()
{
    QTemporaryDir dir;
    const QString certPath = dir.filePath("cert.pem");
    const QString keyPath = dir.filePath("key.pem");
    QProcess openssl;
    openssl.start("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj",
                              "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", keyPath,
                              "-out", certPath});
    TestCertificate made;
    if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0)
        return made;
    QFile cert(certPath);
    QFile key(keyPath);
    if (cert.open(QIODevice::ReadOnly))
        made.certificate = QSslCertificate(cert.readAll());
    if (key.open(QIODevice::ReadOnly))
        made.key = QSslKey(key.readAll(), QSsl::Rsa);
    return made;
}

void TestCertificate::trustInThisProcess() const
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificate(certificate);
    QSslConfiguration::setDefaultConfiguration(configuration);
}
