#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTcpServer>

// A plain HTTP/1.1 server on 127.0.0.1 for tests, run by the test's own event loop. It answers
// every GET with the answer set last, or stays silent (accepts, reads and never answers) to let
// a client's time-out run out.
class LoopbackHttpResponder : public QObject
{
    Q_OBJECT
public:
    explicit LoopbackHttpResponder(QObject* parent = nullptr);

    // Listens on a free port of 127.0.0.1.
    bool listen();
    quint16 port() const { return m_server.serverPort(); }
    // "127.0.0.1:<port>", as a user would type it.
    QString address() const;

    // Every request from now on gets this answer.
    void answerWith(const QByteArray& body, int status = 200, const QByteArray& reason = "OK");
    // Every answer from now on is sent this long after its request (a meter still measuring).
    void delayAnswers(int milliseconds) { m_delayMs = milliseconds; }
    // Every request from now on is read and never answered.
    void stayQuiet();

    int requestCount() const { return m_requestCount; }
    // The first line of the last request, such as "GET /path HTTP/1.1".
    QByteArray lastRequestLine() const { return m_lastRequestLine; }

signals:
    void requestReceived();

private:
    struct Answer
    {
        int status = 200;
        QByteArray reason = "OK";
        QByteArray body;
        bool silent = false;
    };

    void accept();

    QTcpServer m_server;
    Answer m_answer;
    int m_delayMs = 0;
    int m_requestCount = 0;
    QByteArray m_lastRequestLine;
};
