#include "support/MessageCapture.h"

#include <QMutexLocker>

#include <atomic>

namespace {
std::atomic<MessageCapture*> current{nullptr};
} // namespace

MessageCapture::MessageCapture()
{
    Q_ASSERT(current.load() == nullptr);
    current = this;
    m_previous = qInstallMessageHandler(&MessageCapture::handler);
}

MessageCapture::~MessageCapture()
{
    qInstallMessageHandler(m_previous);
    current = nullptr;
}

void MessageCapture::handler(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (MessageCapture* capture = current.load()) {
        QMutexLocker lock(&capture->m_mutex);
        capture->m_messages.append(message);
        if (type == QtWarningMsg || type == QtCriticalMsg || type == QtFatalMsg)
            capture->m_warnings.append(message);
    }
}

QStringList MessageCapture::messages() const
{
    QMutexLocker lock(&m_mutex);
    return m_messages;
}

QStringList MessageCapture::warnings() const
{
    QMutexLocker lock(&m_mutex);
    return m_warnings;
}

bool MessageCapture::contains(const QString& message) const
{
    return messages().contains(message);
}

void MessageCapture::clear()
{
    QMutexLocker lock(&m_mutex);
    m_messages.clear();
    m_warnings.clear();
}
