#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

class QSocketNotifier;

// An instrument at the far end of a real serial line, for tests: the master side of a
// pseudo-terminal whose slave path the code under test opens as its serial port. It collects the
// commands that arrive (each ended by a CR) and answers each one from a script the test sets,
// inside the test's own event loop, so every exchange is deterministic.
//
// A reply is written exactly as given, so a test chooses its line ends, list lines and broken
// lines; a command without a reply gets none (a silent instrument). hangUp closes the master,
// which the serial port sees as the line going dead.
class ScriptedInstrument : public QObject
{
    Q_OBJECT
public:
    explicit ScriptedInstrument(QObject* parent = nullptr);
    ~ScriptedInstrument() override;

    // False when the pseudo-terminal could not be made; errorString says why.
    bool isOpen() const { return m_master >= 0; }
    const QString& errorString() const { return m_error; }
    // The path the serial port opens, such as "/dev/pts/3".
    const QString& slavePath() const { return m_slavePath; }

    // What the instrument sends back for a command (given without its CR).
    void setReply(const QByteArray& command, const QByteArray& reply);
    // From now on the command gets no answer.
    void removeReply(const QByteArray& command);
    // On this command the instrument hangs up instead of answering.
    void hangUpOn(const QByteArray& command);
    // Closes the line. Later commands are lost.
    void hangUp();
    // Sends bytes unasked, such as a late reply.
    void send(const QByteArray& bytes);

    // Every command received, in order and without its CR.
    const QList<QByteArray>& commands() const { return m_commands; }
    void clearCommands() { m_commands.clear(); }
    // Runs the event loop until this many commands have arrived in all, at most timeoutMs.
    bool waitForCommands(qsizetype count, int timeoutMs);

signals:
    void commandReceived(const QByteArray& command);

private:
    void readCommands();
    void answer(const QByteArray& command);
    void fail(const char* what);
    void stopListening();

    int m_master = -1;
    // The instrument keeps the slave open too, so that the master never reads as hung up while
    // the port under test is closed and reopened.
    int m_slave = -1;
    QString m_slavePath;
    QString m_error;
    // Child of the instrument; released with deleteLater, as it may be in its own signal.
    QSocketNotifier* m_notifier = nullptr;
    QByteArray m_pending;
    QList<QByteArray> m_commands;
    QHash<QByteArray, QByteArray> m_replies;
    QSet<QByteArray> m_hangUpCommands;
};
