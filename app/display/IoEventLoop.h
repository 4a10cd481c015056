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
// The wait begins with a turn in the I/O context: most waits are for a reply a moment away, which
// then ends the wait without a pass of Qt's event loop. After that it alternates between Qt's
// pending events and the I/O context. A turn in the I/O context runs its handlers as they become
// ready, waiting for them in between, until the condition holds or a short slice has passed:
// completions resume at once instead of at the next pump tick, an idle wait sleeps instead of
// spinning, and however much is ready Qt's events come again within a few milliseconds, so a
// large upload never freezes the interface. Other slots may run meanwhile,
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
    // Longest time a turn of the wait stays in the I/O context before Qt's events come again.
    static constexpr std::chrono::milliseconds kIoSlice{5};
    // Longest time a drain without waiting (runReady) runs handlers that are ready: short enough
    // that the interface answers within a frame or two, long enough that it is not all overhead.
    static constexpr std::chrono::milliseconds kDrainBudget{4};

    // Runs handlers that are ready, without waiting for more, until none is ready or the budget
    // has passed (the handler running then ends first); true when it stopped for the budget, so
    // that more may be ready. A handler that throws is logged and the drain goes on. For the
    // pump; the wait's own turns are bounded by kIoSlice.
    static bool runReady(boost::asio::io_context& ioContext, std::chrono::steady_clock::duration budget = kDrainBudget);

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

    // One turn in the I/O context: handlers as they become ready, until done() holds or kIoSlice
    // has passed.
    void runIo(const std::function<bool()>& done);

    boost::asio::io_context& m_ioContext;
    std::function<void()> m_cancelAll;
};
