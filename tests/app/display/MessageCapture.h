#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// Collects the program's log lines (every level) while it lives.
class MessageCapture
{
public:
    MessageCapture()
    {
        s_lines.clear();
        m_previous = qInstallMessageHandler(&MessageCapture::collect);
    }
    ~MessageCapture() { qInstallMessageHandler(m_previous); }
    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;

    static bool contains(const char* line) { return s_lines.contains(QString::fromUtf8(line)); }

private:
    static void collect(QtMsgType, const QMessageLogContext&, const QString& text) { s_lines << text; }
    static inline QStringList s_lines;
    QtMessageHandler m_previous = nullptr;
};
