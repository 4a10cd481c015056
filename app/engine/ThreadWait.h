#pragma once

#include <QDeadlineTimer>

#include <functional>

// Waiting on an engine thread without blocking it: the thread's events (queued readings, stop
// requests, display replies) keep being delivered while it waits. The wait sleeps in the event
// dispatcher, so it costs no CPU, and wakes at least every SliceMs to look at the condition again,
// which covers conditions changed from another thread without an event. Deadlines are monotonic.
namespace ThreadWait {

constexpr int SliceMs = 50;

// Processes events until finished() holds or the deadline passes; returns finished() as it
// last stood. Needs a thread with an event dispatcher (every QThread and the main thread).
bool until(const std::function<bool()>& finished, QDeadlineTimer deadline);

} // namespace ThreadWait
