#include "shell/AsioPump.h"

#include "display/IoEventLoop.h"

#include <QDebug>

#include <exception>

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
    try {
        // A burst of completions gets its turn a slice at a time; the rest follow right after
        // the events that came meanwhile, not at the next tick.
        if (IoEventLoop::runReady(m_ioContext, IoEventLoop::kIoSlice))
            QMetaObject::invokeMethod(this, &AsioPump::poll, Qt::QueuedConnection);
    } catch (const std::exception& e) {
        qCritical("AsioPump::poll: handler threw: %s", e.what());
    } catch (...) {
        qCritical("AsioPump::poll: handler threw an unknown exception");
    }
}
