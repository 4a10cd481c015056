#include "display/DisplayBase.h"
#include "display/DisplayCallGate.h"
#include "support/TestDisplay.h"
#include "support/TestSettings.h"

#include <QAtomicInt>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

constexpr int waitMs = 10000;

// Notes the thread each device hook runs on, as a driver's override would run.
class RecordingDisplay : public TestDisplay
{
public:
    QThread* hookThread = nullptr;
    QAtomicInt hookCalls = 0;
    ErrorType commitResult;
    bool closeWhileRunning = false;

protected:
    ErrorType setRGB_(uint number, double red, double green, double blue) override
    {
        note();
        return TestDisplay::setRGB_(number, red, green, blue);
    }
    ErrorType setDisplayGainRGB_(double red, double green, double blue) override
    {
        note();
        if (closeWhileRunning)
            closeToOtherThreads();
        return TestDisplay::setDisplayGainRGB_(red, green, blue);
    }
    ErrorType setLdmRGBs_(QList<Macropixel*>& ldms) override
    {
        note();
        return TestDisplay::setLdmRGBs_(ldms);
    }
    ErrorType setMeshRGBs_(QList<Macropixel*>& ldms, float scale) override
    {
        note();
        return TestDisplay::setMeshRGBs_(ldms, scale);
    }
    ErrorType commitMeshRGBs_(QList<Macropixel*>&) override
    {
        note();
        return commitResult;
    }

private:
    void note()
    {
        hookThread = QThread::currentThread();
        hookCalls.ref();
    }
};

// Runs work on a new thread while this thread keeps processing events, and waits for it to end.
void runOnWorker(const std::function<void()>& work)
{
    std::unique_ptr<QThread> worker(QThread::create(work));
    worker->start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return worker->isFinished(); }, waitMs));
    worker->wait();
}

class CrossThreadTest : public ::testing::Test
{
protected:
    void SetUp() override { TestSettings::clearSettings(); }
};

} // namespace

TEST_F(CrossThreadTest, WorkerCallsRunOnTheDisplaysThreadAndReturnTheirResult)
{
    RecordingDisplay display;
    display.fetchOutputConfig();
    display.commitResult = ErrorType::failure(ErrorType::Retryable, QStringLiteral("busy"));
    QSignalSpy colour(&display, &DisplayBase::redChanged);

    ErrorType rgb, ldmRgb, gains, emptyList, mesh, commit;
    QThread* workerThread = nullptr;
    runOnWorker([&] {
        workerThread = QThread::currentThread();
        rgb = display.setRGB(0, 0.25, 0.5, 0.5);
        ldmRgb = display.setRGB(145, 1, 1, 1);
        gains = display.setDisplayGainRGB(0.5, 0.5, 0.5);
        QList<Macropixel*> none;
        emptyList = display.setLdmRGBs(none);
        mesh = display.setMeshRGBs(none, 1.0f);
        commit = display.commitMeshRGBs(none);
    });

    EXPECT_EQ(display.hookThread, QThread::currentThread());
    EXPECT_NE(workerThread, QThread::currentThread());
    EXPECT_EQ(display.hookCalls.loadRelaxed(), 6);
    EXPECT_TRUE(rgb.ok());
    EXPECT_EQ(display.red(), 0.25);
    EXPECT_EQ(colour.count(), 1);
    EXPECT_EQ(ldmRgb.kind, ErrorType::Fatal);
    EXPECT_TRUE(gains.ok());
    EXPECT_EQ(display.displayGainRed(), 0.5);
    EXPECT_EQ(emptyList.kind, ErrorType::Fatal);
    EXPECT_TRUE(mesh.ok());
    EXPECT_EQ(commit, display.commitResult);
}

TEST_F(CrossThreadTest, CallsOnTheDisplaysOwnThreadRunDirectly)
{
    RecordingDisplay display;
    display.fetchOutputConfig();
    // No event loop runs here: a queued call would never return.
    EXPECT_TRUE(display.setRGB(3, 0.5, 0.5, 0.5).ok());
    EXPECT_EQ(display.hookThread, QThread::currentThread());
    EXPECT_EQ(display.ldmRedGain(3), 0.5);

    display.closeToOtherThreads();
    EXPECT_TRUE(display.setRGB(0, 0.1, 0.1, 0.1).ok());
    EXPECT_EQ(display.red(), 0.1);
}

TEST_F(CrossThreadTest, ClosingReleasesAWorkerWaitingForABusyDisplayThread)
{
    RecordingDisplay display;
    QSemaphore calling;
    ErrorType result;
    std::unique_ptr<QThread> worker(QThread::create([&] {
        calling.release();
        result = display.setRGB(0, 0.9, 0.9, 0.9);
    }));
    worker->start();

    // This thread stays busy (no events) as it would while waiting for the worker at shutdown.
    ASSERT_TRUE(calling.tryAcquire(1, waitMs));
    display.closeToOtherThreads();
    ASSERT_TRUE(worker->wait(waitMs));

    EXPECT_EQ(result, DisplayCallGate::closedResult());
    EXPECT_EQ(result.kind, ErrorType::Fatal);
    QCoreApplication::processEvents();
    EXPECT_EQ(display.hookCalls.loadRelaxed(), 0); // the abandoned call never runs
    EXPECT_EQ(display.red(), 0.5);

    runOnWorker([&] { result = display.setDisplayGainRGB(2, 2, 2); });
    EXPECT_EQ(result.kind, ErrorType::Fatal);
    EXPECT_EQ(display.hookCalls.loadRelaxed(), 0);
}

TEST_F(CrossThreadTest, ACallAlreadyRunningWhenTheDisplayClosesDeliversItsResult)
{
    RecordingDisplay display;
    display.closeWhileRunning = true;
    ErrorType result = ErrorType::failure(ErrorType::Retryable);

    runOnWorker([&] { result = display.setDisplayGainRGB(0.75, 0.75, 0.75); });

    EXPECT_TRUE(result.ok());
    EXPECT_EQ(display.displayGainGreen(), 0.75);
    EXPECT_EQ(display.hookCalls.loadRelaxed(), 1);
}
