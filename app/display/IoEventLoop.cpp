#include "display/IoEventLoop.h"

#include <boost/asio/executor_work_guard.hpp>

#include <QEventLoop>
#include <QTimer>
#include <QtGlobal>

#include <chrono>

IoEventLoop::IoEventLoop(boost::asio::io_context& ioContext, std::function<void()> cancelAll)
    : m_ioContext(ioContext)
    , m_cancelAll(std::move(cancelAll))
{
}

bool IoEventLoop::runReady(boost::asio::io_context& ioContext, std::chrono::milliseconds budget)
{
    const auto end = std::chrono::steady_clock::now() + budget;
    while (ioContext.poll_one() > 0) {
        if (std::chrono::steady_clock::now() >= end)
            return true;
    }
    return false;
}

void IoEventLoop::runIo(std::chrono::milliseconds limit)
{
    // A context that ran out of work once stays stopped; the guard keeps this run from ending
    // at once (and the wait from spinning) when nothing is pending yet.
    if (m_ioContext.stopped())
        m_ioContext.restart();
    const auto guard = boost::asio::make_work_guard(m_ioContext);
    try {
        if (m_ioContext.run_one_for(limit) > 0)
            runReady(m_ioContext, kIoSlice);
    } catch (const std::exception& e) {
        qCritical("IoEventLoop: handler threw: %s", e.what());
    } catch (...) {
        qCritical("IoEventLoop: handler threw an unknown exception");
    }
}

void IoEventLoop::runUntil(const std::function<bool()>& done)
{
    if (done())
        return;

    QEventLoop loop;
    bool quitRequested = false;
    // Fires on every pass of whichever event loop runs on this thread, also of waits nested
    // inside this one.
    QTimer ticker;
    ticker.setInterval(0);
    QObject::connect(&ticker, &QTimer::timeout, &loop, [&] {
        if (!done())
            runIo(kIoSlice);
        if (done()) {
            quitRequested = true;
            loop.quit();
        }
    });
    ticker.start();

    while (!done()) {
        quitRequested = false;
        loop.exec();
        // Quit by anyone but the ticker means the application (or the thread) is ending: from
        // now on every event loop returns at once.
        if (!quitRequested) {
            cancelAndSettle(done);
            return;
        }
    }
}

void IoEventLoop::cancelAndSettle(const std::function<bool()>& done)
{
    while (!done()) {
        m_cancelAll();
        runIo(kIoSlice);
    }
}
