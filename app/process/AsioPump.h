#pragma once

#include <boost/asio/io_context.hpp>

#include <QObject>
#include <QTimer>

// Drives an I/O context that has no thread of its own: every tick runs the handlers that are
// ready, on the thread that owns the pump (the GUI thread), without blocking and for a few
// milliseconds at most (IoEventLoop::runReady); what is left runs at the next ticks.
class AsioPump : public QObject
{
    Q_OBJECT
public:
    static constexpr int kIntervalMs = 16;

    explicit AsioPump(boost::asio::io_context& ioContext, QObject* parent = nullptr);

    void start();
    void stop();

public slots:
    // Runs ready handlers for a few milliseconds at most. An exception thrown by a handler is
    // logged and pumping goes on.
    void poll();

private:
    boost::asio::io_context& m_ioContext;
    QTimer m_timer;
};
