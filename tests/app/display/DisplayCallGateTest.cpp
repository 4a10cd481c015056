#include "display/DisplayCallGate.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QObject>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

constexpr int gateWaitMs = 10000;

// Waits for another thread without processing this thread's events, as a busy display thread
// would.
bool busyWaitFor(const std::function<bool()>& condition)
{
    const QDeadlineTimer deadline(gateWaitMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QThread::yieldCurrentThread();
    }
    return true;
}

} // namespace

TEST(DisplayCallGate, ACallWaitingForABusyThreadIsReleasedWhenTheGateGoes)
{
    for (const bool destroy : {false, true}) {
        QObject display;
        auto gate = std::make_unique<DisplayCallGate>(&display);
        QAtomicInt ran = 0;
        ErrorType result;
        std::unique_ptr<QThread> worker(QThread::create([&, target = gate.get()] {
            result = target->call([&] {
                ran.storeRelaxed(1);
                return ErrorType();
            });
        }));
        worker->start();
        ASSERT_TRUE(busyWaitFor([&] { return gate->queuedCalls() == 1; }));

        if (destroy)
            gate.reset();
        else
            gate->close();
        ASSERT_TRUE(worker->wait(gateWaitMs));

        EXPECT_EQ(result, DisplayCallGate::closedResult());
        QCoreApplication::processEvents();
        EXPECT_EQ(ran.loadRelaxed(), 0) << "a released call must never run";
        if (gate) {
            EXPECT_EQ(gate->queuedCalls(), 0);
        }
    }
}

TEST(DisplayCallGate, QueuedCallsRunInOrderOnTheOwnersThread)
{
    QObject display;
    DisplayCallGate gate(&display);
    QList<int> order;
    QList<QThread*> threads;
    std::unique_ptr<QThread> worker(QThread::create([&] {
        for (int i = 1; i <= 3; ++i) {
            const ErrorType result = gate.call([&, i] {
                order.append(i);
                threads.append(QThread::currentThread());
                return ErrorType::failure(i);
            });
            EXPECT_EQ(result.kind, i);
        }
    }));
    worker->start();
    const QDeadlineTimer deadline(gateWaitMs);
    while (!worker->isFinished() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    ASSERT_TRUE(worker->wait(gateWaitMs));

    EXPECT_EQ(order, QList<int>({1, 2, 3}));
    EXPECT_EQ(threads, QList<QThread*>(3, QThread::currentThread()));
    EXPECT_EQ(gate.queuedCalls(), 0);
}
