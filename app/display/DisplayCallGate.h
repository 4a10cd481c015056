#pragma once

#include "common/ErrorType.h"

#include <functional>
#include <memory>

class QObject;

// Runs a display operation on the display's own thread and hands its result back to the caller.
//
// Called on the display's thread, call() runs the operation at once. Called from any other
// thread, it queues the operation to the display's thread and blocks until it has run there, so
// the two threads never work on the display at the same time and the display's own I/O stays on
// its thread.
//
// The rule that keeps this from deadlocking: while another thread may be waiting in call(), the
// display's thread must keep processing events, or first close() the gate. close() makes every
// caller still waiting for its turn return at once with a kind-2 result (the operation then never
// runs, so the references it captured are never touched), and refuses later calls the same way;
// an operation already running on the display's thread is finished and its result delivered.
// A display's thread that is about to wait for a worker thread (at shutdown, say) must therefore
// close the gate before it waits. The display's thread must not itself wait for a thread that
// waits in call(), and an operation run here must not wait for the calling thread.
//
// The gate's only lock guards the hand-over of each call; it is never held while an operation runs.
class DisplayCallGate
{
public:
    explicit DisplayCallGate(QObject* display);
    ~DisplayCallGate();

    DisplayCallGate(const DisplayCallGate&) = delete;
    DisplayCallGate& operator=(const DisplayCallGate&) = delete;

    ErrorType call(const std::function<ErrorType()>& operation);

    // Thread-safe; closing twice is harmless.
    void close();
    bool isClosed() const;
    // Calls from other threads handed to the display's thread that have not started yet.
    qsizetype queuedCalls() const;

    // The result of a call that the closed gate refused.
    static ErrorType closedResult();

private:
    struct State;
    QObject* m_display;
    std::shared_ptr<State> m_state;
};
