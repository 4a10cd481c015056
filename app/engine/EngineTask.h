#pragma once

#include <coroutine>
#include <exception>
#include <utility>

// The engine's coroutine task: a computation that stops whenever it has stored new gains and
// waits for its holder to measure them.
//
// - Lazy: creating a task runs nothing of its body; the holder's first resume() starts it.
// - `co_await EngineTask::Yield{}` hands control back to whoever called resume(); nothing resumes
//   a task by itself, and it never blocks.
// - `co_await child` (another EngineTask) runs the child to its end as part of the parent: every
//   suspension of the child suspends the whole chain back to the holder, and the holder's next
//   resume() continues the innermost task. The awaiting expression yields the child's result.
// - A finished task keeps its bool result until it is destroyed. Destroying a suspended task
//   destroys its locals and every child it is awaiting.
// - A default-constructed task is empty: finished, with the result false.
//
// Tasks are resumed on one thread only, by their holder; they are not thread-safe.
class EngineTask
{
public:
    struct promise_type;
    using Handle = std::coroutine_handle<promise_type>;

    struct FinalAwaiter
    {
        bool await_ready() const noexcept { return false; }
        // A finished child continues its parent at once; a finished root returns to its holder.
        std::coroutine_handle<> await_suspend(Handle finished) noexcept
        {
            if (std::coroutine_handle<> parent = finished.promise().parent)
                return parent;
            return std::noop_coroutine();
        }
        void await_resume() const noexcept {}
    };

    struct promise_type
    {
        bool result = false;
        // The task this one is awaiting, while it runs; and the task awaiting this one.
        Handle child;
        Handle parent;

        EngineTask get_return_object() { return EngineTask(Handle::from_promise(*this)); }
        std::suspend_always initial_suspend() const noexcept { return {}; }
        FinalAwaiter final_suspend() const noexcept { return {}; }
        void return_value(bool value) { result = value; }
        // The engine reports failures as results; an exception escaping a task is a defect.
        void unhandled_exception() const noexcept { std::terminate(); }
    };

    // Awaiting it hands control back to the holder.
    using Yield = std::suspend_always;

    struct ChildAwaiter
    {
        Handle child;
        Handle parent;

        bool await_ready() const noexcept { return !child || child.done(); }
        std::coroutine_handle<> await_suspend(Handle awaiting) noexcept
        {
            parent = awaiting;
            child.promise().parent = awaiting;
            awaiting.promise().child = child;
            return innermost(child);
        }
        bool await_resume() noexcept
        {
            if (parent)
                parent.promise().child = {};
            return child ? child.promise().result : false;
        }
    };

    EngineTask() = default;
    EngineTask(EngineTask&& other) noexcept
        : m_handle(std::exchange(other.m_handle, {}))
    {
    }
    EngineTask& operator=(EngineTask&& other) noexcept
    {
        if (this != &other) {
            release();
            m_handle = std::exchange(other.m_handle, {});
        }
        return *this;
    }
    EngineTask(const EngineTask&) = delete;
    EngineTask& operator=(const EngineTask&) = delete;
    ~EngineTask() { release(); }

    bool done() const { return !m_handle || m_handle.done(); }
    // The task's result once it has finished; false before that and for an empty task.
    bool result() const { return m_handle && m_handle.done() ? m_handle.promise().result : false; }
    // Runs the task, or the innermost task it is awaiting, up to its next suspension or its end.
    void resume()
    {
        if (!done())
            innermost(m_handle).resume();
    }

    ChildAwaiter operator co_await() & noexcept { return ChildAwaiter{m_handle, {}}; }
    ChildAwaiter operator co_await() && noexcept { return ChildAwaiter{m_handle, {}}; }

private:
    explicit EngineTask(Handle handle)
        : m_handle(handle)
    {
    }

    static Handle innermost(Handle handle)
    {
        while (handle.promise().child)
            handle = handle.promise().child;
        return handle;
    }

    void release()
    {
        if (m_handle)
            m_handle.destroy();
        m_handle = {};
    }

    Handle m_handle;
};
