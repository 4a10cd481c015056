#include "process/AsioPump.h"

#include "display/IoEventLoop.h"

AsioPump::AsioPump(boost::asio::io_context& ioContext, QObject* parent)
    : QObject(parent)
    , m_ioContext(ioContext)
{
    m_timer.setInterval(kIntervalMs);
    // Queued, so a poll never runs inside another slot.
    connect(&m_timer, &QTimer::timeout, this, &AsioPump::poll, Qt::QueuedConnection);
}

void AsioPump::start()
{
    m_timer.start();
}

void AsioPump::stop()
{
    m_timer.stop();
}

void AsioPump::poll()
{
    // Work left over comes back after Qt's pending events, not a whole tick later.
    if (IoEventLoop::runReady(m_ioContext))
        QMetaObject::invokeMethod(this, &AsioPump::poll, Qt::QueuedConnection);
}
