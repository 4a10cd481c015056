#include "display/DisplayCallGate.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QMutex>
#include <QMutexLocker>
#include <QObject>
#include <QThread>
#include <QWaitCondition>

// Shared by the gate, every waiting caller and every queued operation, so that each of them can
// outlive the others (a queued operation may be dropped with the display, a caller may give up).
struct DisplayCallGate::State
{
    QMutex mutex;
    QWaitCondition changed;
    bool closed = false;
    qsizetype queued = 0; // calls handed over and not yet started or given up
};

namespace {

// One call handed to the display's thread. Guarded by the gate's mutex.
struct HandOff
{
    enum Stage { Queued, Running, Done, Abandoned };
    Stage stage = Queued;
    ErrorType result;
};

} // namespace

DisplayCallGate::DisplayCallGate(QObject* display)
    : m_display(display)
    , m_state(std::make_shared<State>())
{
}

DisplayCallGate::~DisplayCallGate()
{
    close();
}

ErrorType DisplayCallGate::closedResult()
{
    return ErrorType::failure(ErrorType::Fatal,
                              QCoreApplication::translate("DisplayBase", "The display is shutting down"));
}

void DisplayCallGate::close()
{
    QMutexLocker lock(&m_state->mutex);
    m_state->closed = true;
    m_state->changed.wakeAll();
}

bool DisplayCallGate::isClosed() const
{
    QMutexLocker lock(&m_state->mutex);
    return m_state->closed;
}

qsizetype DisplayCallGate::queuedCalls() const
{
    QMutexLocker lock(&m_state->mutex);
    return m_state->queued;
}

ErrorType DisplayCallGate::call(const std::function<ErrorType()>& operation)
{
    if (QThread::currentThread() == m_display->thread())
        return operation();

    const std::shared_ptr<State> state = m_state;
    auto handOff = std::make_shared<HandOff>();
    // Handed over under the lock, so that the call counts as queued before it can start. Posting
    // an event calls nothing of ours, so holding the lock here cannot deadlock.
    QMutexLocker lock(&state->mutex);
    if (state->closed)
        return closedResult();
    QMetaObject::invokeMethod(
        m_display,
        [state, handOff, operation] {
            {
                QMutexLocker lock(&state->mutex);
                if (handOff->stage == HandOff::Abandoned)
                    return;
                handOff->stage = HandOff::Running;
                --state->queued;
            }
            ErrorType result = operation();
            QMutexLocker lock(&state->mutex);
            handOff->result = std::move(result);
            handOff->stage = HandOff::Done;
            state->changed.wakeAll();
        },
        Qt::QueuedConnection);
    ++state->queued;

    // From here on only the shared state is touched: the display may be destroyed meanwhile.
    while (handOff->stage != HandOff::Done) {
        if (handOff->stage == HandOff::Queued && state->closed) {
            handOff->stage = HandOff::Abandoned;
            --state->queued;
            return closedResult();
        }
        state->changed.wait(&state->mutex);
    }
    return handOff->result;
}
