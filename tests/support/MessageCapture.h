#pragma once

#include <QMutex>
#include <QStringList>
#include <QtGlobal>

// Collects the Qt log messages of every thread while it exists, in place of the installed handler,
// which it puts back when destroyed. One capture at a time.
class MessageCapture
{
public:
    MessageCapture();
    ~MessageCapture();

    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;

    QStringList messages() const;
    // The messages of warning, critical and fatal severity.
    QStringList warnings() const;
    bool contains(const QString& message) const;
    void clear();

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& message);

    mutable QMutex m_mutex;
    QStringList m_messages;
    QStringList m_warnings;
    QtMessageHandler m_previous = nullptr;
};
