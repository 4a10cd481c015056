#include "support/LoopbackHttpResponder.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

namespace {
const QByteArray EndOfHeader = "\r\n\r\n";
} // namespace

LoopbackHttpResponder::LoopbackHttpResponder(QObject* parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &LoopbackHttpResponder::accept);
}

bool LoopbackHttpResponder::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QString LoopbackHttpResponder::address() const
{
    return QStringLiteral("127.0.0.1:%1").arg(port());
}

void LoopbackHttpResponder::answerWith(const QByteArray& body, int status, const QByteArray& reason)
{
    m_answer.status = status;
    m_answer.reason = reason;
    m_answer.body = body;
    m_answer.silent = false;
}

void LoopbackHttpResponder::stayQuiet()
{
    m_answer.silent = true;
}

void LoopbackHttpResponder::accept()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        // The socket is the server's child; it goes when the peer hangs up or with the responder.
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        auto received = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, received] {
            received->append(socket->readAll());
            if (!received->contains(EndOfHeader))
                return;
            ++m_requestCount;
            m_lastRequestLine = received->left(received->indexOf("\r\n"));
            received->clear();
            emit requestReceived();
            if (m_answer.silent)
                return;
            QByteArray response = "HTTP/1.1 " + QByteArray::number(m_answer.status) + ' ' +
                                  m_answer.reason + "\r\n";
            response += "Content-Type: text/plain; charset=utf-8\r\n";
            response += "Content-Length: " + QByteArray::number(m_answer.body.size()) + "\r\n";
            response += "Connection: close\r\n\r\n";
            response += m_answer.body;
            QTimer::singleShot(m_delayMs, Qt::PreciseTimer, socket, [socket, response] {
                socket->write(response);
                socket->disconnectFromHost();
            });
        });
    }
}
