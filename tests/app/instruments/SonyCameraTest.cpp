#include "instruments/CameraController.h"
#include "instruments/SonyCamera.h"
#include "instruments/camera/CameraSdk.h"
#include "instruments/camera/NoSdkBackend.h"
#include "support/FakeCamera.h"
#include "support/MessageCapture.h"
#include "support/QtPrinters.h"
#include "support/ScopedTempFolder.h"
#include "support/TestSettings.h"

#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr int TimeoutMs = 5000;

// The program's own backend: no camera SDK. Nothing pretends to be a camera, and the operator
// learns why from the status and the log.
TEST(NoCameraSdk, SaysPlainlyThatNoCameraIsAvailable)
{
    TestSettings::clearSettings();
    MessageCapture messages;
    CameraController controller;
    controller.connect();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !controller.statusMessage().isEmpty(); }, TimeoutMs));

    EXPECT_EQ(controller.statusMessage(), SonyCamera::SdkInitFailedMessage);
    EXPECT_EQ(controller.errorType().kind, 2);
    EXPECT_EQ(controller.errorType().message, SonyCamera::SdkInitFailedMessage);
    EXPECT_FALSE(controller.cameraReady());
    EXPECT_FALSE(controller.cameraBusy());
    EXPECT_TRUE(controller.cameraName().isEmpty());
    EXPECT_EQ(messages.messages().count(QString::fromLatin1(SCRSDK::NoSdkBackend::WarningText)), 1);

    // A grab finds no camera and delivers nothing.
    controller.grab();
    QTest::qWait(200);
    EXPECT_TRUE(controller.imagePath().isEmpty());
    EXPECT_FALSE(controller.cameraReady());
}

// Every start-up of the SDK is paired with exactly one shut-down, whether it worked or not.
TEST(SonyCamera, ReleasesTheSdkOncePerInit)
{
    TestSettings::clearSettings();
    ScopedTempFolder temp;
    for (const bool initWorks : {true, false}) {
        SCOPED_TRACE(initWorks ? "Init works" : "Init fails");
        InstalledFakeCamera fake;
        fake->setInitResult(initWorks);
        {
            SonyCamera camera(false);
            EXPECT_EQ(camera.connectCamera(), initWorks);
        }
        EXPECT_EQ(fake->callCount(QStringLiteral("Init")), 1);
        EXPECT_EQ(fake->callCount(QStringLiteral("Release")), 1);
    }
}

TEST(SonyCamera, LiveViewFrameDecodes)
{
    TestSettings::clearSettings();
    ScopedTempFolder temp;
    InstalledFakeCamera fake;
    QThread thread;
    auto* camera = new SonyCamera(true);
    camera->moveToThread(&thread);
    QObject::connect(&thread, &QThread::finished, camera, &SonyCamera::cleanup);
    QObject::connect(&thread, &QThread::finished, camera, &QObject::deleteLater);
    QImage frame;
    QObject context;
    QObject::connect(camera, &SonyCamera::liveViewImageChanged, &context, [&](const QImage& image) { frame = image; });
    thread.start();
    QMetaObject::invokeMethod(camera, &SonyCamera::connectCamera, Qt::QueuedConnection);

    EXPECT_TRUE(QTest::qWaitFor([&] { return !frame.isNull(); }, TimeoutMs));
    EXPECT_EQ(frame.size(), QSize(FakeCamera::LiveViewWidth, FakeCamera::LiveViewHeight));
    const QColor centre = frame.pixelColor(frame.width() / 2, frame.height() / 2);
    EXPECT_NEAR(centre.green(), 160, 8);
    EXPECT_EQ(fake->liveViewSetting(), 1u);

    thread.quit();
    thread.wait();
}

} // namespace
