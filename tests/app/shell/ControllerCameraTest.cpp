#include "support/ControllerFixture.h"

#include "display/Kestra.h"
#include "instruments/CameraController.h"
#include "instruments/SonyCamera.h"
#include "instruments/camera/NoSdkBackend.h"
#include "support/FakeCamera.h"
#include "support/MessageCapture.h"
#include "support/ProcessorSimulator.h"
#include "support/QtPrinters.h"
#include "support/ScopedTempFolder.h"

#include <QFile>
#include <QImage>
#include <QThread>

#include <memory>
#include <string>

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

    // As the photo grabber asks, from a thread of its own. The camera applies its set-up right
    // after connecting and refuses to capture meanwhile, so ask again as the grabber would.
    bool delivered = false;
    for (int attempt = 0; attempt < 5 && !delivered; ++attempt) {
        ASSERT_TRUE(waitUntil([&] { return camera->cameraReady(); }, CameraWaitMs));
        std::unique_ptr<QThread> grabber(QThread::create([camera] { camera->grab(); }));
        grabber->start();
        ASSERT_TRUE(grabber->wait(CameraWaitMs));
        delivered = waitUntil([&] { return !camera->imagePath().isEmpty(); }, 2000);
    }
    ASSERT_TRUE(delivered);
    EXPECT_TRUE(QFile::exists(camera->imagePath()));
    EXPECT_EQ(QImage(camera->imagePath()).size(), QSize(40, 30));

    // The camera goes before the fake it is connected to.
    destroy();
}

// The display's refresh rate and colour temperature, once the processor's status is read, reach
// the camera, which takes its shutter and white balance from them through its property updates.
TEST_F(ControllerCameraTest, TheDisplayStatusSetsTheCameraShutterAndColourTemperature)
{
    namespace Code = SCRSDK::PropertyCode;
    constexpr std::uint64_t ShutterEighth = 0x10008;
    ScopedTempFolder temp;
    InstalledFakeCamera fake;
    std::string status = ProcessorSimulator::status();
    const std::string fifty = "\"outputFreq\": 50";
    status.replace(status.find(fifty), fifty.size(), "\"outputFreq\": 48");
    ProcessorSimulator processor;
    processor.allowAnonymous();
    processor.setRoute("GET", ProcessorSimulator::kStatusTarget, ProcessorSimulator::Reply::json(status));
    processor.setRoute("GET", ProcessorSimulator::kLayoutTarget,
                       ProcessorSimulator::Reply::json(ProcessorSimulator::layout(ProcessorSimulator::Layout::Wall)));
    Velotrimmer& velotrimmer = build();
    CameraController* camera = velotrimmer.cameraController();
    ASSERT_TRUE(waitUntil([&] { return camera->cameraReady(); }, CameraWaitMs));
    ASSERT_NE(fake->deviceProperty(Code::ShutterSpeed).currentValue, ShutterEighth);
    ASSERT_NE(fake->deviceProperty(Code::ColorTemperature).currentValue, 5600u);

    velotrimmer.setColorimeter(velotrimmer.dummyColorimeter());
    velotrimmer.kestra()->setAddress(QString::fromStdString(processor.address()));
    velotrimmer.pollDevices();

    EXPECT_TRUE(waitUntil([&] { return fake->deviceProperty(Code::ShutterSpeed).currentValue == ShutterEighth; },
                          CameraWaitMs));
    EXPECT_TRUE(waitUntil([&] { return fake->deviceProperty(Code::ColorTemperature).currentValue == 5600u; },
                          CameraWaitMs));

    destroy();
}

} // namespace
