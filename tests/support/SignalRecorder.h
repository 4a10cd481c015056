#pragma once

#include <QObject>
#include <QStringList>

// Records, in order, the names of the signals an object emits: every signal its class declares
// beyond QObject's own. For tests of signal order across several signals, where one QSignalSpy per
// signal cannot tell which came first. Signals emitted on another thread arrive queued.
class SignalRecorder : public QObject
{
    Q_OBJECT
public:
    explicit SignalRecorder(QObject* sender);

    QStringList names() const { return m_names; }
    void clear() { m_names.clear(); }

private slots:
    void record();

private:
    QStringList m_names;
};
