#include "WorkerCalibrator.h"

#include "instruments/Colorimeter.h"

#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include <algorithm>

WorkerCalibrator::WorkerCalibrator(Colorimeter* colorimeter, DisplayBase* display)
    : m_calibrator(new Calibrator(Calibrator::ColorimeterMode, 0))
{
    m_calibrator->setDisplay(display);
    m_calibrator->moveToThread(&m_thread);
    QObject::connect(&m_thread, &QThread::finished, m_calibrator, &QObject::deleteLater);
    QObject::connect(m_calibrator, &Calibrator::takeReading, colorimeter, &Colorimeter::read);
    QObject::connect(colorimeter, &Colorimeter::dataAvailable, m_calibrator, &Calibrator::readColorimeterData);
    QObject::connect(m_calibrator, &Calibrator::done, &m_receiver, [this](uint number, bool completed) {
        m_done.append({number, completed});
        recordRunSignal(QStringLiteral("done(%1, %2)").arg(number).arg(completed ? "true" : "false"));
    });
    QObject::connect(m_calibrator, &Calibrator::runningChanged, &m_receiver, [this](bool running) {
        recordRunSignal(QStringLiteral("runningChanged(%1)").arg(running ? "true" : "false"));
    });
    m_thread.start(QThread::InheritPriority);
}

WorkerCalibrator::~WorkerCalibrator()
{
    // The worker may be waiting for the display, which lives on this thread: keep this thread's
    // events flowing until the task has ended before waiting for the thread.
    stop();
    (void)QTest::qWaitFor([this] { return !m_calibrator->running(); }, DefaultTimeoutMs);
    m_thread.quit();
    (void)QTest::qWaitFor([this] { return m_thread.isFinished(); }, DefaultTimeoutMs);
    m_thread.wait();
}

void WorkerCalibrator::start(Calibrator::TaskType task)
{
    m_calibrator->setTask(task);
    QMetaObject::invokeMethod(m_calibrator, "setRunning", Qt::QueuedConnection, Q_ARG(bool, true));
}

void WorkerCalibrator::stop()
{
    QMetaObject::invokeMethod(m_calibrator, "setRunning", Qt::QueuedConnection, Q_ARG(bool, false));
}

bool WorkerCalibrator::waitForDone(int count, int timeoutMs)
{
    return waitUntil([this, count] { return m_done.size() >= count; }, timeoutMs);
}

bool WorkerCalibrator::waitForTaskEnd(int timeoutMs)
{
    return waitUntil(
        [this] {
            const auto done = std::find_if(m_runSignals.cbegin(), m_runSignals.cend(),
                                           [](const QString& signal) { return signal.startsWith(QLatin1String("done")); });
            return done != m_runSignals.cend() && done + 1 != m_runSignals.cend();
        },
        timeoutMs);
}

QStringList WorkerCalibrator::taskEndSignals(bool completed)
{
    return {QStringLiteral("runningChanged(false)"),
            QStringLiteral("done(0, %1)").arg(completed ? "true" : "false"),
            QStringLiteral("runningChanged(false)")};
}

void WorkerCalibrator::recordRunSignal(const QString& signal)
{
    m_runSignals.append(signal);
    if (m_waiting && m_reached())
        m_waiting->quit();
}

bool WorkerCalibrator::waitUntil(const std::function<bool()>& reached, int timeoutMs)
{
    // An event loop rather than polling with sleeps: every reading of a task crosses to this
    // thread and back, and must not wait for a sleep to end. The recorder of run signals ends the
    // loop, so a signal that was already queued when the wait began is not missed.
    if (reached())
        return true;
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    m_waiting = &loop;
    m_reached = reached;
    timeout.start(timeoutMs);
    loop.exec();
    m_waiting = nullptr;
    m_reached = nullptr;
    return reached();
}
