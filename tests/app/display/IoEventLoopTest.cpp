#include "display/IoEventLoop.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>

#include <QCoreApplication>
#include <QMetaObject>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>

namespace {

// Work that takes a while, as a batch of completions does: each one well over a hundredth of the
// loop's slice.
void busyFor(std::chrono::microseconds duration)
{
    const auto end = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < end) {
    }
}

// Many completions ready at once (a wall's tile uploads): Qt's events get their turn among them,
// not only once all have run.
TEST(IoEventLoop, QtEventsGetATurnAmongManyReadyCompletions)
{
    constexpr int Completions = 400;
    constexpr auto Work = std::chrono::microseconds(IoEventLoop::kIoSlice) / 20;
    boost::asio::io_context io;
    IoEventLoop loop(io, [] {});
    int ran = 0;
    std::optional<int> ranWhenQtCame;
    for (int i = 0; i < Completions; ++i) {
        boost::asio::post(io, [&] {
            if (ran++ == 0) {
                // Posted now, so it can only come after the completions this pass runs.
                QMetaObject::invokeMethod(
                    QCoreApplication::instance(), [&] { ranWhenQtCame = ran; }, Qt::QueuedConnection);
            }
            busyFor(Work);
        });
    }
    loop.runUntil([&] { return ran == Completions; });
    EXPECT_EQ(ran, Completions);
    QCoreApplication::processEvents();
    ASSERT_TRUE(ranWhenQtCame.has_value());
    // 400 completions take 20 slices; a turn must come within the first few.
    EXPECT_LT(*ranWhenQtCame, Completions / 2);
}

} // namespace
