#include "instruments/ImageSource.h"

#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

namespace {

const ErrorType Retry{1, QStringLiteral("busy")};
const ErrorType Fatal{2, QStringLiteral("gone")};

// Long enough for a held-back error to have been shown.
void waitPastStatusDelay()
{
    QTest::qWait(ImageSource::StatusDelayMs * 2);
}

} // namespace

TEST(ImageSource, DummyCameraConnectsAsReady)
{
    ImageSource camera;
    EXPECT_TRUE(camera.isDummy());
    EXPECT_FALSE(camera.cameraReady());
    EXPECT_TRUE(camera.cameraName().isEmpty());
    EXPECT_EQ(camera.errorType().kind, 0);

    QSignalSpy name(&camera, &ImageSource::cameraNameChanged);
    QSignalSpy ready(&camera, &ImageSource::cameraReadyChanged);
    camera.connect();
    camera.connect();
    EXPECT_TRUE(camera.cameraReady());
    EXPECT_EQ(camera.cameraName(), QStringLiteral("Dummy Camera"));
    ASSERT_EQ(name.count(), 1);
    EXPECT_EQ(name.at(0).at(0).toString(), QStringLiteral("Dummy Camera"));
    EXPECT_EQ(ready.count(), 1);

    // A grab takes no photograph and leaves the camera as it was.
    QSignalSpy path(&camera, &ImageSource::imagePathChanged);
    camera.grab();
    EXPECT_TRUE(camera.cameraReady());
    EXPECT_FALSE(camera.cameraBusy());
    EXPECT_EQ(path.count(), 0);

    EXPECT_FALSE(camera.setProperty("isDummy", false));
    EXPECT_TRUE(camera.isDummy());
}

TEST(ImageSource, ReconnectMakesReadyWithoutAName)
{
    ImageSource camera;
    camera.reconnect();
    EXPECT_TRUE(camera.cameraReady());
    EXPECT_TRUE(camera.cameraName().isEmpty());
}

TEST(ImageSource, DummyExposureAndDisplaySlots)
{
    ImageSource camera;
    for (int clicks : {5, -3, 0})
        EXPECT_EQ(camera.changeExposure(clicks), clicks);

    EXPECT_EQ(camera.displayColourTemperature(), 6500);
    camera.displayFrequency(59.94);
    camera.displayCct(5600);
    EXPECT_DOUBLE_EQ(camera.displayRefreshRate(), 59.94);
    EXPECT_EQ(camera.displayColourTemperature(), 5600);
}

TEST(ImageSource, QuickSuccessCancelsAnError)
{
    ImageSource camera;
    QSignalSpy error(&camera, &ImageSource::errorTypeChanged);
    camera.setCameraStatus(Retry, QStringLiteral("reconnecting"));
    camera.setCameraStatus(ErrorType{}, QStringLiteral("ignored"));
    EXPECT_EQ(camera.statusMessage(), QString());
    waitPastStatusDelay();
    EXPECT_EQ(camera.errorType().kind, 0);
    EXPECT_EQ(camera.statusMessage(), QString());
    EXPECT_EQ(error.count(), 0);
}

TEST(ImageSource, ErrorIsShownAfterTheDelay)
{
    ImageSource camera;
    QSignalSpy message(&camera, &ImageSource::statusMessageChanged);
    camera.setCameraStatus(Retry, QStringLiteral("first"));
    camera.setCameraStatus(Retry, QStringLiteral("second"));
    EXPECT_EQ(camera.errorType().kind, 0) << "held back at first";
    ASSERT_TRUE(QTest::qWaitFor([&] { return message.count() > 0; }, 1000));
    EXPECT_EQ(camera.statusMessage(), QStringLiteral("second"));
    EXPECT_EQ(camera.errorType(), (ErrorType{1, QStringLiteral("busy")}));

    // A worse error after it changes the message but keeps the first error.
    camera.setCameraStatus(Fatal, QStringLiteral("camera gone"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return message.count() > 1; }, 1000));
    EXPECT_EQ(camera.statusMessage(), QStringLiteral("camera gone"));
    EXPECT_EQ(camera.errorType(), Retry);

    camera.setCameraStatus(ErrorType{}, QString());
    EXPECT_EQ(camera.errorType().kind, 0);
    EXPECT_EQ(camera.statusMessage(), QString());
    waitPastStatusDelay();
    EXPECT_EQ(camera.errorType().kind, 0);
}

// The image grabber reads the camera's state from its own thread while the GUI thread changes it.
TEST(ImageSource, StateIsReadableFromAnotherThread)
{
    ImageSource camera;
    camera.connect();
    std::atomic<bool> stop = false;
    std::atomic<int> reads = 0;
    const std::unique_ptr<QThread> grabber(QThread::create([&] {
        camera.grab();
        while (!stop) {
            const QString path = camera.imagePath();
            const ErrorType error = camera.errorType();
            if (camera.cameraReady() && camera.isDummy() && !camera.verbose() && path.size() >= 0 &&
                error.kind >= 0)
                ++reads;
        }
    }));
    grabber->start();
    constexpr int MaxWrites = 200000;
    constexpr int EnoughReads = 2000;
    int written = 0;
    for (; written < MaxWrites && reads < EnoughReads; ++written) {
        camera.setImagePath(QStringLiteral("/tmp/image-%1.raw").arg(written));
        camera.setCameraBusy(written % 2 == 0);
        camera.setErrorType(written % 2 ? Retry : ErrorType{});
    }
    stop = true;
    ASSERT_TRUE(grabber->wait(5000));
    EXPECT_GE(reads.load(), EnoughReads);
    EXPECT_EQ(camera.imagePath(), QStringLiteral("/tmp/image-%1.raw").arg(written - 1));
}
