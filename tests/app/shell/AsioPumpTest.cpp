#include "shell/AsioPump.h"

#include "display/IoEventLoop.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>

#include <QCoreApplication>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>

TEST(AsioPump, HandlersPostedFromAnotherThreadRunOnThePumpThread)
{
    boost::asio::io_context io;
    auto guard = boost::asio::make_work_guard(io);
    AsioPump pump(io);
    pump.start();

    std::atomic<QThread*> ranOn{nullptr};
    QThread* poster = QThread::create([&] { boost::asio::post(io, [&] { ranOn = QThread::currentThread(); }); });
    poster->start();
    ASSERT_TRUE(poster->wait(5000));
    poster->deleteLater();
    EXPECT_EQ(ranOn.load(), nullptr); // nothing runs until the event loop pumps

    EXPECT_TRUE(QTest::qWaitFor([&] { return ranOn.load() != nullptr; }, 2000));
    EXPECT_EQ(ranOn.load(), QThread::currentThread());
}

TEST(AsioPump, AThrowingHandlerDoesNotStopThePump)
{
    boost::asio::io_context io;
    auto guard = boost::asio::make_work_guard(io);
    AsioPump pump(io);
    pump.start();

    bool later = false;
    boost::asio::post(io, [] { throw std::runtime_error("handler failure"); });
    boost::asio::post(io, [&] { later = true; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return later; }, 2000));
}

// A burst of ready handlers (a wall's tile uploads): the thread's other events get their turn
// among them, and the rest still run without waiting for the next tick.
TEST(AsioPump, ABurstOfHandlersLetsOtherEventsIn)
{
    constexpr int Handlers = 400;
    boost::asio::io_context io;
    auto guard = boost::asio::make_work_guard(io);
    AsioPump pump(io);
    int ran = 0;
    int ranWhenQtCame = -1;
    for (int i = 0; i < Handlers; ++i) {
        boost::asio::post(io, [&] {
            if (ran++ == 0)
                QMetaObject::invokeMethod(QCoreApplication::instance(), [&] { ranWhenQtCame = ran; }, Qt::QueuedConnection);
            // Work of a twentieth of the pump's slice each.
            const auto end = std::chrono::steady_clock::now() + std::chrono::microseconds(IoEventLoop::kIoSlice) / 20;
            while (std::chrono::steady_clock::now() < end) {
            }
        });
    }
    pump.poll(); // a tick, the timer not started
    EXPECT_TRUE(QTest::qWaitFor([&] { return ran == Handlers; }, 10000));
    EXPECT_GE(ranWhenQtCame, 1);
    EXPECT_LT(ranWhenQtCame, Handlers / 2);
}
