#pragma once

#include <boost/asio/io_context.hpp>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <exception>
#include <functional>
#include <optional>
#include <utility>

// Blocks the calling (GUI) thread until a condition holds, while Qt's events keep flowing and the
// I/O context's completions run as soon as they are ready, so that a device operation can wait for
// its network exchange without freezing the interface.
//
// The wait alternates between Qt's pending events and the I/O context, blocking in the I/O context
// for at most a short slice when nothing is ready: completions resume at once instead of at the
// next pump tick, and an idle wait sleeps instead of spinning. Other slots may run meanwhile,
// including ones that wait in turn (the waits nest).
//
// When the application is quitting (the event loop refuses to run), the wait cancels every
// operation in flight through the given function and runs the I/O context alone until the
// cancelled operations have ended, so it ends promptly instead of holding up the exit.
//
// Must not be used from inside a handler that the I/O context runs.
class IoEventLoop
{
public:
    // Longest time the wait blocks in the I/O context, and longest it runs ready completions,
    // before it looks at Qt's events again.
    static constexpr std::chrono::milliseconds kIoSlice{5};

    IoEventLoop(boost::asio::io_context& ioContext, std::function<void()> cancelAll);

    IoEventLoop(const IoEventLoop&) = delete;
    IoEventLoop& operator=(const IoEventLoop&) = delete;

    boost::asio::io_context& ioContext() const { return m_ioContext; }

    // Returns once done() holds. done() must become true through the work of the I/O context
    // (or of Qt's events); on quitting, through the cancellation.
    void runUntil(const std::function<bool()>& done);

    // Cancels every operation in flight and runs the I/O context alone (no Qt events) until
    // done() holds, cancelling again on every round so that nothing new outlives it. For the
    // application's exit and for owners whose operations must end before they go. Ends as soon
    // as the cancelled operations have completed, which Boost.Asio guarantees.
    void cancelAndSettle(const std::function<bool()>& done);

    // Runs the completions that are ready for at most budget, so that the thread's other events
    // get their turn: a wall's worth of tile uploads makes thousands ready at once. True when the
    // budget ran out (more may be ready).
    static bool runReady(boost::asio::io_context& ioContext, std::chrono::milliseconds budget);

    // Waits for the task and returns its result; an exception of the task is rethrown here.
    template <class T>
    T waitFor(QCoro::Task<T> task)
    {
        std::optional<T> result;
        std::exception_ptr failure;
        bool finished = false;
        auto waiter = awaitInto(std::move(task), result, failure, finished);
        runUntil([&finished] { return finished; });
        if (failure)
            std::rethrow_exception(failure);
        return std::move(*result);
    }

private:
    template <class T>
    static QCoro::Task<void> awaitInto(QCoro::Task<T> task, std::optional<T>& result, std::exception_ptr& failure,
                                       bool& finished)
    {
        try {
            result.emplace(co_await std::move(task));
        } catch (...) {
            failure = std::current_exception();
        }
        finished = true;
    }

    // Runs ready completions, blocking up to limit for the first one.
    void runIo(std::chrono::milliseconds limit);

    boost::asio::io_context& m_ioContext;
    std::function<void()> m_cancelAll;
};
