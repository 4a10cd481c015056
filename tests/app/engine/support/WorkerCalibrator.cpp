#include "WorkerCalibrator.h"

#include "instruments/Colorimeter.h"

#include <QEventLoop>
#include <QTest>
#include <QTimer>

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
        if (m_waiting && m_done.size() >= m_waitingFor)
            m_waiting->quit();
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
    // An event loop rather than polling with sleeps: every reading of a task crosses to this
    // thread and back, and must not wait for a sleep to end. The recorder of done ends the loop,
    // so a done that was already queued when the wait began is not missed.
    if (m_done.size() >= count)
        return true;
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    m_waiting = &loop;
    m_waitingFor = count;
    timeout.start(timeoutMs);
    loop.exec();
    m_waiting = nullptr;
    return m_done.size() >= count;
}
