#pragma once

#include "engine/Calibrator.h"

#include <QList>
#include <QStringList>
#include <QThread>

#include <functional>
#include <utility>

class Colorimeter;
class QEventLoop;
class DisplayBase;

// The master calibrator as the controller keeps it: created without parent, moved to a worker
// thread started with the inherited priority, deleted when that thread finishes, wired to the
// colorimeter (takeReading to read, dataAvailable to readColorimeterData) and started and stopped
// by queued setRunning calls. The test thread is the controller's (GUI) thread: the colorimeter and
// the display live there, and the waits below keep its events flowing.
class WorkerCalibrator
{
public:
    static constexpr int DefaultTimeoutMs = 60000;

    WorkerCalibrator(Colorimeter* colorimeter, DisplayBase* display);
    // Stops a task still running, then ends the thread (which deletes the calibrator).
    ~WorkerCalibrator();

    WorkerCalibrator(const WorkerCalibrator&) = delete;
    WorkerCalibrator& operator=(const WorkerCalibrator&) = delete;

    // For settings the controller writes directly while the calibrator is idle, and for reading
    // results after done.
    Calibrator& calibrator() { return *m_calibrator; }

    // Selects the task and queues setRunning(true), as the controller does.
    void start(Calibrator::TaskType task);
    // Queues setRunning(false).
    void stop();
    // Waits until done has arrived count times in all; false on time-out.
    bool waitForDone(int count = 1, int timeoutMs = DefaultTimeoutMs);
    // Every done (number, completed) received, in order.
    const QList<std::pair<uint, bool>>& doneCalls() const { return m_done; }
    // Every runningChanged and done received, in order, written as "runningChanged(false)" and
    // "done(0, true)".
    const QStringList& runSignals() const { return m_runSignals; }
    // Waits until a done and the run signal that follows it have arrived: the start has
    // returned, and its task's signals are all in. False on time-out.
    bool waitForTaskEnd(int timeoutMs = DefaultTimeoutMs);
    // The run signals that end a task started by setRunning(true): running cleared and signalled
    // as the task clears it, done, then the start's own signal of the value running holds after
    // the task.
    static QStringList taskEndSignals(bool completed);
    QThread* thread() { return &m_thread; }

private:
    // Runs this thread's events until reached holds, at most timeoutMs.
    bool waitUntil(const std::function<bool()>& reached, int timeoutMs);
    void recordRunSignal(const QString& signal);

    // Receives done on this thread.
    QObject m_receiver;
    QThread m_thread;
    Calibrator* m_calibrator;
    QList<std::pair<uint, bool>> m_done;
    QStringList m_runSignals;
    // The wait in progress, ended by the recorder of run signals once it has been reached.
    QEventLoop* m_waiting = nullptr;
    std::function<bool()> m_reached;
};
