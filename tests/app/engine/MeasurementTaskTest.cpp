#include "engine/Calibrator.h"
#include "support/MessageCapture.h"
#include "support/ModelColorimeter.h"
#include "support/RecordingDisplay.h"
#include "support/WorkerCalibrator.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

using Fault = ModelColorimeter::Fault;

class MeasurementTaskTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Calibrator::Timing fast;
        fast.readCountPauseMs = 0;
        fast.readingTimeoutMs = 200;
        worker.calibrator().setTiming(fast);
        display.setRed(1.0);
        display.setGreen(1.0);
        display.setBlue(1.0);
    }

    QStringList linearityLines() const
    {
        QStringList lines;
        for (const QList<QVariant>& emitted : *appended)
            lines.append(emitted.at(0).toString());
        return lines;
    }

    RecordingDisplay display;
    ModelColorimeter colorimeter{&display};
    WorkerCalibrator worker{&colorimeter, &display};
    std::unique_ptr<QSignalSpy> appended{std::make_unique<QSignalSpy>(&worker.calibrator(), &Calibrator::appendLinearityLog)};
};

TEST_F(MeasurementTaskTest, MeasurementLogsOneLinearityLine)
{
    worker.calibrator().setReadCount(4);
    worker.start(Calibrator::Measure);
    ASSERT_TRUE(worker.waitForDone());
    EXPECT_EQ(worker.doneCalls().first(), (std::pair<uint, bool>{0u, true}));
    EXPECT_EQ(linearityLines(), QStringList{QStringLiteral("CCT 6500, duv  +0.0000, luminance 900.50 nits")});
    EXPECT_EQ(colorimeter.reads(), 4);
    EXPECT_TRUE(worker.calibrator().statusString().isEmpty());
    EXPECT_FALSE(worker.calibrator().running());
}

TEST_F(MeasurementTaskTest, FailedMeasurementSaysSoInsteadOfAnOldReading)
{
    colorimeter.setFault(Fault::Silent);
    worker.start(Calibrator::Measure);
    ASSERT_TRUE(worker.waitForDone(1, 10000));
    EXPECT_EQ(worker.doneCalls().first(), (std::pair<uint, bool>{0u, false}));
    ASSERT_EQ(linearityLines().size(), 1);
    EXPECT_TRUE(linearityLines().first().startsWith(QStringLiteral("Measurement failed:")));
}

TEST_F(MeasurementTaskTest, MeasurementDoesNothingUnderAnotherTask)
{
    worker.calibrator().setTask(Calibrator::TestReadCounts);
    QMetaObject::invokeMethod(&worker.calibrator(), "takeMeasurement", Qt::BlockingQueuedConnection);
    EXPECT_EQ(colorimeter.reads(), 0);
    EXPECT_TRUE(worker.doneCalls().isEmpty());
}

// The whole read-count test, without its pauses: seven summaries, progress up to 1, and the
// operator's read count restored.
TEST_F(MeasurementTaskTest, ReadCountTestSummarisesEveryCount)
{
    // The Duv alternates by 0.0001 from one reading to the next; the luminance is 0 throughout.
    display.setRed(0.0);
    display.setGreen(0.0);
    display.setBlue(0.0);
    ModelColorimeter::Model model;
    model.black = 0.0;
    colorimeter.setModel(model);
    colorimeter.setReadHook([&](int read) {
        ModelColorimeter::Model next = model;
        next.duv0 = read % 2 == 0 ? 0.0001 : 0.0;
        colorimeter.setModel(next);
    });
    QSignalSpy progress(&worker.calibrator(), &Calibrator::progressChanged);
    worker.calibrator().setReadCount(3);
    worker.start(Calibrator::TestReadCounts);
    ASSERT_TRUE(worker.waitForDone());
    EXPECT_EQ(worker.doneCalls().first(), (std::pair<uint, bool>{0u, true}));
    EXPECT_EQ(colorimeter.reads(), 6350);

    const QStringList lines = linearityLines();
    ASSERT_EQ(lines.size(), 7);
    int count = 1;
    for (const QString& line : lines) {
        EXPECT_TRUE(line.startsWith(QStringLiteral("readCount %1:").arg(count, 2))) << qPrintable(line);
        count *= 2;
    }
    EXPECT_EQ(lines.first(),
              QStringLiteral("readCount  1:  CCT err   0.00,  0.00%;  duv err 0.000100,  1.00%;  lum err   0.00,  0.00%"));
    EXPECT_TRUE(lines.at(1).contains(QStringLiteral("duv err 0.000000,  0.00%")));

    ASSERT_GE(progress.size(), 2);
    EXPECT_DOUBLE_EQ(progress.at(progress.size() - 2).at(0).toDouble(), 1.0);
    EXPECT_DOUBLE_EQ(progress.last().at(0).toDouble(), -1.0);
    EXPECT_EQ(worker.calibrator().readCount(), 3u);
    EXPECT_EQ(worker.calibrator().statusString(), QStringLiteral("Read Count test completed."));
}

TEST_F(MeasurementTaskTest, ReadCountTestEndsPromptlyWhenStopped)
{
    colorimeter.setReadHook([&](int read) {
        if (read == 20)
            worker.stop();
    });
    worker.start(Calibrator::TestReadCounts);
    ASSERT_TRUE(worker.waitForDone(1, 10000));
    EXPECT_EQ(worker.doneCalls().first(), (std::pair<uint, bool>{0u, false}));
    EXPECT_LT(colorimeter.reads(), 40);
    EXPECT_TRUE(linearityLines().isEmpty());
    EXPECT_EQ(worker.calibrator().statusString(), QStringLiteral("Read Count test cancelled."));
    EXPECT_EQ(worker.calibrator().readCount(), 1u);
}

} // namespace
