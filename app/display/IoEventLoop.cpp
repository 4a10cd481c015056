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

void IoEventLoop::runIo(std::chrono::milliseconds limit)
{
    // A context that ran out of work once stays stopped; the guard keeps this run from ending
    // at once (and the wait from spinning) when nothing is pending yet.
    if (m_ioContext.stopped())
        m_ioContext.restart();
    const auto guard = boost::asio::make_work_guard(m_ioContext);
    try {
        // The completions that are ready run for at most a slice: a wall's worth of tile uploads
        // makes thousands ready at once, and running them all in one go holds up the interface.
        if (m_ioContext.run_one_for(limit) > 0) {
            const auto end = std::chrono::steady_clock::now() + kIoSlice;
            while (std::chrono::steady_clock::now() < end && m_ioContext.poll_one() > 0) {
            }
        }
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
