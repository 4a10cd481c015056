#include "engine/ThreadWait.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>

namespace ThreadWait {

bool until(const std::function<bool()>& finished, QDeadlineTimer deadline)
{
    // A timer of this thread is what wakes the dispatcher when no other event comes.
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    while (!finished()) {
        const qint64 left = deadline.remainingTime(); // -1: no deadline
        if (left == 0)
            return false;
        wake.start(int(left < 0 ? SliceMs : std::min<qint64>(left, SliceMs)));
        // A wait inside a queued call: the dispatcher would deliver the calls queued before that
        // one began (a stop right behind the start) only once something new is posted. They are
        // delivered here instead.
        QCoreApplication::sendPostedEvents();
        if (finished())
            return true;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

} // namespace ThreadWait
