#include "support/ControllerFixture.h"

#include "instruments/CameraController.h"
#include "instruments/SonyCamera.h"
#include "instruments/camera/NoSdkBackend.h"
#include "support/FakeCamera.h"
#include "support/MessageCapture.h"
#include "support/QtPrinters.h"
#include "support/ScopedTempFolder.h"

#include <QFile>
#include <QImage>
#include <QThread>

#include <memory>

namespace {

constexpr int CameraWaitMs = 5000;

using ControllerCameraTest = ControllerFixture;

// The program as shipped has no camera SDK: its camera says so in its status and the log.
TEST_F(ControllerCameraTest, WithoutCameraSdkTheCameraSaysNoCameraIsAvailable)
{
    MessageCapture messages;
    Velotrimmer& velotrimmer = build();
    CameraController* camera = velotrimmer.cameraController();
    ASSERT_TRUE(waitUntil([&] { return !camera->statusMessage().isEmpty(); }, CameraWaitMs));
    EXPECT_EQ(camera->statusMessage(), SonyCamera::SdkInitFailedMessage);
    EXPECT_EQ(camera->errorType().kind, 2);
    EXPECT_FALSE(camera->cameraReady());
    EXPECT_TRUE(velotrimmer.cameraName().isEmpty());
    EXPECT_EQ(messages.messages().count(QString::fromLatin1(SCRSDK::NoSdkBackend::WarningText)), 1);
}

TEST_F(ControllerCameraTest, WithACameraItsNameArrivesAndAGrabDeliversAPhoto)
{
    ScopedTempFolder temp;
    InstalledFakeCamera fake;
    fake->setShotDrawer([] {
        QImage photo(40, 30, QImage::Format_RGB32);
        photo.fill(Qt::darkGray);
        return photo;
    });
    Velotrimmer& velotrimmer = build();
    CameraController* camera = velotrimmer.cameraController();
    ASSERT_TRUE(waitUntil([&] { return camera->cameraReady(); }, CameraWaitMs));
    EXPECT_EQ(velotrimmer.cameraName(), QString::fromLatin1(FakeCamera::Model));

    // As the photo grabber asks, from a thread of its own.
    std::unique_ptr<QThread> grabber(QThread::create([camera] { camera->grab(); }));
    grabber->start();
    ASSERT_TRUE(grabber->wait(CameraWaitMs));
    ASSERT_TRUE(waitUntil([&] { return !camera->imagePath().isEmpty(); }, CameraWaitMs));
    EXPECT_TRUE(QFile::exists(camera->imagePath()));
    EXPECT_EQ(QImage(camera->imagePath()).size(), QSize(40, 30));

    // The camera goes before the fake it is connected to.
    destroy();
}

} // namespace
