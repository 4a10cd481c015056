#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into an ordinary quit of the event loop, so that Ctrl+C and a service
// manager's stop shut the program down as closing its window does: the controller's shut-down
// runs, the worker threads are joined, settings are kept and the exit status is 0.
//
// A signal handler may do almost nothing safely; it only writes the signal's number to one end of
// a socket pair (the self-pipe trick). A notifier on the other end runs in the event loop and
// quits it there. One instance per process; the handlers are restored when it goes.
class QuitSignals : public QObject
{
    Q_OBJECT
public:
    explicit QuitSignals(QObject* parent = nullptr);
    ~QuitSignals() override;

    QuitSignals(const QuitSignals&) = delete;
    QuitSignals& operator=(const QuitSignals&) = delete;

    // False when the socket pair or a handler could not be installed (the signals then keep
    // their default action).
    bool isInstalled() const { return m_notifier != nullptr; }

private:
    static void handle(int signalNumber);
    void takeSignal();

    QSocketNotifier* m_notifier = nullptr;
};
