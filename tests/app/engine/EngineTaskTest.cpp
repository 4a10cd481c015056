#include "engine/EngineTask.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace {

// Counts live instances, to see that destroying a suspended task destroys its locals.
struct Tracked
{
    explicit Tracked(int& alive)
        : alive(alive)
    {
        ++alive;
    }
    ~Tracked() { --alive; }
    int& alive;
};

EngineTask child(QStringList& trace, int yields, bool result)
{
    trace << QStringLiteral("child start");
    for (int i = 0; i < yields; ++i) {
        trace << QStringLiteral("child yield %1").arg(i);
        co_await EngineTask::Yield{};
    }
    trace << QStringLiteral("child end");
    co_return result;
}

EngineTask parent(QStringList& trace, int& alive)
{
    Tracked local(alive);
    trace << QStringLiteral("parent start");
    EngineTask first = child(trace, 2, true);
    const bool firstResult = co_await first;
    trace << QStringLiteral("first %1").arg(firstResult);
    EngineTask second = child(trace, 0, false);
    const bool secondResult = co_await second;
    trace << QStringLiteral("second %1").arg(secondResult);
    co_await EngineTask::Yield{};
    trace << QStringLiteral("parent end");
    co_return firstResult && !secondResult;
}

TEST(EngineTaskTest, IsLazyAndHandsBackAtEverySuspension)
{
    QStringList trace;
    int alive = 0;
    EngineTask task = parent(trace, alive);
    EXPECT_TRUE(trace.isEmpty());
    EXPECT_FALSE(task.done());

    task.resume();
    EXPECT_EQ(trace, (QStringList{"parent start", "child start", "child yield 0"}));
    task.resume();
    EXPECT_EQ(trace.last(), QStringLiteral("child yield 1"));
    // The child finishes and the parent goes on through a child that never suspends.
    task.resume();
    EXPECT_EQ(trace.mid(4), (QStringList{"child end", "first 1", "child start", "child end", "second 0"}));
    EXPECT_FALSE(task.done());
    task.resume();
    EXPECT_TRUE(task.done());
    EXPECT_TRUE(task.result());
    EXPECT_EQ(alive, 0);
    // Finished: resuming again changes nothing, the result stays.
    task.resume();
    EXPECT_TRUE(task.result());
}

TEST(EngineTaskTest, DestroyingASuspendedChainReleasesItsLocals)
{
    QStringList trace;
    int alive = 0;
    {
        EngineTask task = parent(trace, alive);
        task.resume(); // suspended inside the child
        EXPECT_EQ(alive, 1);
    }
    EXPECT_EQ(alive, 0);
}

TEST(EngineTaskTest, ReplacingATaskDestroysTheOldOne)
{
    QStringList trace;
    int alive = 0;
    EngineTask task = parent(trace, alive);
    task.resume();
    task = child(trace, 0, true);
    EXPECT_EQ(alive, 0);
    EXPECT_FALSE(task.done());
    task.resume();
    EXPECT_TRUE(task.result());
}

TEST(EngineTaskTest, EmptyTaskIsFinishedWithFalse)
{
    EngineTask empty;
    EXPECT_TRUE(empty.done());
    EXPECT_FALSE(empty.result());
    empty.resume();
    EXPECT_TRUE(empty.done());
}

} // namespace
