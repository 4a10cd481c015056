#include "display/IoEventLoop.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>

#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Handlers that each keep the thread for a while, as a large upload's many completions do.
void postBusyHandlers(boost::asio::io_context& io, int count, int& ran)
{
    for (int i = 0; i < count; ++i) {
        boost::asio::post(io, [&ran] {
            const auto until = std::chrono::steady_clock::now() + 1ms;
            while (std::chrono::steady_clock::now() < until) {
            }
            ++ran;
        });
    }
}

} // namespace

// However much work is ready, Qt's events come again after a few milliseconds of it: the
// interface never freezes behind the I/O.
TEST(IoEventLoop, QtEventsComeBetweenAFewMillisecondsOfReadyHandlers)
{
    constexpr int kHandlers = 300;
    boost::asio::io_context io;
    auto guard = boost::asio::make_work_guard(io);
    IoEventLoop loop(io, [] {});
    int ran = 0;
    postBusyHandlers(io, kHandlers, ran);

    // What had run each time Qt's events were looked at.
    std::vector<int> seen{0};
    QTimer ticker;
    ticker.setInterval(0);
    QObject::connect(&ticker, &QTimer::timeout, [&] { seen.push_back(ran); });
    ticker.start();
    loop.runUntil([&] { return ran == kHandlers; });
    seen.push_back(ran);

    int longest = 0;
    for (std::size_t i = 1; i < seen.size(); ++i)
        longest = std::max(longest, seen[i] - seen[i - 1]);
    // Four milliseconds of 1 ms handlers is four or five of them; a whole drain would be all.
    EXPECT_LE(longest, 20);
}

TEST(IoEventLoop, ADrainStopsAtItsBudgetAndSaysMoreMayBeReady)
{
    boost::asio::io_context io;
    int ran = 0;
    postBusyHandlers(io, 100, ran);
    EXPECT_TRUE(IoEventLoop::runReady(io, 5ms));
    EXPECT_GE(ran, 1);
    EXPECT_LE(ran, 20);
    while (IoEventLoop::runReady(io, 5ms)) {
    }
    EXPECT_EQ(ran, 100);
    EXPECT_FALSE(IoEventLoop::runReady(io, 5ms)); // nothing left
}

// A reply that comes within the wait's first turn in the I/O context ends the wait there, without
// a pass of Qt's event loop; one that takes longer leaves Qt's events flowing meanwhile.
TEST(IoEventLoop, QtEventsComeOnlyWhenTheFirstTurnDoesNotEndTheWait)
{
    constexpr auto kSlowReply = 10 * IoEventLoop::kIoSlice;
    boost::asio::io_context io;
    auto guard = boost::asio::make_work_guard(io);
    IoEventLoop loop(io, [] {});
    int passes = 0;
    QTimer ticker;
    ticker.setInterval(0);
    QObject::connect(&ticker, &QTimer::timeout, [&passes] { ++passes; });
    ticker.start();

    bool replied = false;
    boost::asio::post(io, [&replied] { replied = true; });
    loop.runUntil([&replied] { return replied; });
    EXPECT_EQ(passes, 0);

    replied = false;
    boost::asio::steady_timer reply(io, kSlowReply);
    reply.async_wait([&replied](const boost::system::error_code&) { replied = true; });
    loop.runUntil([&replied] { return replied; });
    EXPECT_GE(passes, 2);
}
