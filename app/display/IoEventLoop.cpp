#include "display/IoEventLoop.h"

#include <boost/asio/executor_work_guard.hpp>

#include <QEventLoop>
#include <QTimer>
#include <QtGlobal>

IoEventLoop::IoEventLoop(boost::asio::io_context& ioContext, std::function<void()> cancelAll)
    : m_ioContext(ioContext)
    , m_cancelAll(std::move(cancelAll))
{
}

namespace {

// Runs one handler through run; false when none was run. A handler's exception is logged.
template <class Run>
bool ranOne(Run run)
{
    try {
        return run() > 0;
    } catch (const std::exception& e) {
        qCritical("IoEventLoop: handler threw: %s", e.what());
    } catch (...) {
        qCritical("IoEventLoop: handler threw an unknown exception");
    }
    return true;
}

} // namespace

bool IoEventLoop::runReady(boost::asio::io_context& ioContext, std::chrono::steady_clock::duration budget)
{
    const auto deadline = std::chrono::steady_clock::now() + budget;
    while (ranOne([&ioContext] { return ioContext.poll_one(); })) {
        if (std::chrono::steady_clock::now() >= deadline)
            return true;
    }
    return false;
}

void IoEventLoop::runIo(const std::function<bool()>& done)
{
    // A context that ran out of work once stays stopped; the guard keeps this run from ending
    // at once (and the wait from spinning) when nothing is pending yet.
    if (m_ioContext.stopped())
        m_ioContext.restart();
    const auto guard = boost::asio::make_work_guard(m_ioContext);
    const auto deadline = std::chrono::steady_clock::now() + kIoSlice;
    while (!done() && ranOne([this, deadline] { return m_ioContext.run_one_until(deadline); })) {
    }
}

void IoEventLoop::runUntil(const std::function<bool()>& done)
{
    if (done())
        return;
    // A pass of Qt's event loop (its loop object, its timer and the wake-ups when it starts and
    // quits) costs more than a loopback exchange's own work: a reply that comes within the first
    // turn ends the wait without one. Qt's events still come within kIoSlice, as between turns.
    runIo(done);
    if (done())
        return;

    QEventLoop loop;
    bool quitRequested = false;
    // Fires on every pass of whichever event loop runs on this thread, also of waits nested
    // inside this one.
    QTimer ticker;
    ticker.setInterval(0);
    QObject::connect(&ticker, &QTimer::timeout, &loop, [&] {
        runIo(done);
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
        runIo(done);
    }
}
