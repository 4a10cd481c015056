#include "process/AsioPump.h"

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

// A tick runs a few milliseconds of ready handlers and lets Qt's events come before the rest.
TEST(AsioPump, ATickYieldsToQtEventsAndTheRestFollowsAtOnce)
{
    boost::asio::io_context io;
    auto guard = boost::asio::make_work_guard(io);
    AsioPump pump(io);
    constexpr int kHandlers = 200;
    int ran = 0;
    for (int i = 0; i < kHandlers; ++i) {
        boost::asio::post(io, [&ran] {
            const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1);
            while (std::chrono::steady_clock::now() < until) {
            }
            ++ran;
        });
    }
    pump.poll();
    EXPECT_LT(ran, kHandlers / 4);
    // The rest runs through queued calls, without waiting for the timer (which never started).
    EXPECT_TRUE(QTest::qWaitFor([&] { return ran == kHandlers; }, 5000));
}
