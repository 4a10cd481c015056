#include "instruments/CameraController.h"
#include "instruments/SonyCamera.h"
#include "instruments/camera/CameraSdk.h"
#include "support/FakeCamera.h"
#include "support/MessageCapture.h"
#include "support/QtPrinters.h"
#include "support/ScopedTempFolder.h"
#include "support/TestSettings.h"

#include <QElapsedTimer>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

using SCRSDK::DeviceProperty;
namespace Code = SCRSDK::PropertyCode;

namespace {

constexpr int SettingsTimeoutMs = 5000;
constexpr std::uint64_t IsoAuto = 0xFFFFFF;
const std::vector<std::uint64_t> Apertures = {280, 400, 560, 800, 1100, 1600, 2200};

bool logged(const MessageCapture& messages, const QString& start)
{
    const QStringList lines = messages.messages();
    return std::any_of(lines.begin(), lines.end(), [&](const QString& line) { return line.startsWith(start); });
}

DeviceProperty listProperty(std::uint32_t code, std::uint64_t current, std::vector<std::uint64_t> values,
                            std::uint32_t valueType)
{
    DeviceProperty property;
    property.code = code;
    property.currentValue = current;
    property.values = std::move(values);
    property.valueType = valueType;
    property.enableFlag = 1;
    property.writable = true;
    return property;
}

// A connected camera on the test's thread, its slots called directly.
class SonyCameraSettingsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        TestSettings::clearSettings();
        camera = std::make_unique<SonyCamera>(false);
        ASSERT_TRUE(camera->connectCamera());
        // The camera's copy of its settings.
        fake->firePropertyChanged();
        settle();
    }

    void TearDown() override
    {
        camera.reset();
        TestSettings::clearSettings();
    }

    // Lets the camera's callbacks and property updates run until nothing changes any more.
    void settle()
    {
        int calls = -1;
        for (int round = 0; round < 100 && calls != fake->calls().size(); ++round) {
            calls = static_cast<int>(fake->calls().size());
            QTest::qWait(150);
        }
    }

    // Reads the camera's settings into its copy without changing anything, then sets it up so.
    void refresh()
    {
        fake->failPropertyWrite(0xFFFF);
        fake->firePropertyChanged();
        settle();
        fake->failPropertyWrite(0);
    }

    std::uint64_t value(std::uint32_t code) const { return fake->deviceProperty(code).currentValue; }

    ScopedTempFolder temp;
    InstalledFakeCamera fake;
    std::unique_ptr<SonyCamera> camera;
};

// ---- Shutter from the display's refresh rate ---------------------------------------------------

struct RateCase
{
    const char* name;
    double frequency;
    std::uint64_t shutter; // 0: none
};

void PrintTo(const RateCase& c, std::ostream* os)
{
    *os << c.name;
}

class DisplayRateTest : public SonyCameraSettingsTest, public ::testing::WithParamInterface<RateCase>
{
};

TEST_P(DisplayRateTest, ChoosesTheShutter)
{
    const RateCase& c = GetParam();
    const std::uint64_t before = value(Code::ShutterSpeed);
    MessageCapture messages;
    camera->displayRate(c.frequency);
    settle();
    if (c.shutter != 0) {
        EXPECT_EQ(value(Code::ShutterSpeed), c.shutter);
    } else {
        EXPECT_EQ(value(Code::ShutterSpeed), before);
        EXPECT_TRUE(logged(messages, QStringLiteral("SonyCamera: didn't set a shutter speed for display refresh rate")));
    }
    // The display's shutter is not an exposure the operator saved.
    EXPECT_FALSE(QSettings().contains(QStringLiteral("savedShutter")));
}

INSTANTIATE_TEST_SUITE_P(Rates, DisplayRateTest,
                         ::testing::Values(RateCase{"Hz60", 60, 0x10005}, RateCase{"Hz120", 120, 0x10005},
                                           RateCase{"Hz59_94", 59.94, 0x10005}, RateCase{"Hz24", 24, 0x10008},
                                           RateCase{"Hz48", 48, 0x10008}, RateCase{"Hz7", 7, 0},
                                           RateCase{"Hz2", 2, 0}, RateCase{"Zero", 0, 0},
                                           RateCase{"Negative", -60, 0},
                                           RateCase{"NotANumber", std::numeric_limits<double>::quiet_NaN(), 0}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- White balance from the display's colour temperature ---------------------------------------

struct CctCase
{
    const char* name;
    int cct;
    std::uint64_t chosen; // 0: nothing changes
};

void PrintTo(const CctCase& c, std::ostream* os)
{
    *os << c.name;
}

class DisplayColorTempTest : public SonyCameraSettingsTest, public ::testing::WithParamInterface<CctCase>
{
};

TEST_P(DisplayColorTempTest, ChoosesWhatTheCameraOffers)
{
    const CctCase& c = GetParam();
    // The fake offers 2500 to 9900 K in steps of 100; start from a display at 5500 K.
    ASSERT_TRUE(camera->displayColorTemp(5500));
    settle();
    ASSERT_EQ(value(Code::ColorTemperature), 5500u);
    EXPECT_EQ(camera->displayColorTemp(c.cct), c.chosen != 0);
    settle();
    EXPECT_EQ(value(Code::ColorTemperature), c.chosen != 0 ? c.chosen : 5500u);
}

INSTANTIATE_TEST_SUITE_P(Temperatures, DisplayColorTempTest,
                         ::testing::Values(CctCase{"Nearest", 6504, 6500}, CctCase{"TieTakesTheLower", 6550, 6500},
                                           CctCase{"AboveTheMaximum", 12000, 9900},
                                           CctCase{"FarFromTheMinimum", 17500, 0}, CctCase{"Minimum", 1000, 2500}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SonyCameraSettingsTest, ColourTemperatureOfAnotherFormOrAZeroStep)
{
    fake->setDeviceProperty(listProperty(Code::ColorTemperature, 5500, {2500, 9900}, DeviceProperty::ValueTypeUInt16Array));
    fake->firePropertyChanged();
    settle();
    EXPECT_FALSE(camera->displayColorTemp(6500));
    settle();
    EXPECT_EQ(value(Code::ColorTemperature), 5500u);

    // A zero step cannot walk: the minimum is all it reaches.
    fake->setDeviceProperty(listProperty(Code::ColorTemperature, 5500, {2500, 9900, 0}, DeviceProperty::ValueTypeUInt16Array));
    fake->firePropertyChanged();
    settle();
    EXPECT_EQ(value(Code::ColorTemperature), 2500u);
}

// ---- Exposure in clicks ------------------------------------------------------------------------

struct ExposureCase
{
    const char* name;
    std::uint64_t aperture;
    std::vector<std::uint64_t> isos;
    std::uint64_t iso;
    int clicks;
    int applied;
    std::uint64_t apertureAfter;
    std::uint64_t isoAfter;
};

void PrintTo(const ExposureCase& c, std::ostream* os)
{
    *os << c.name;
}

class AdjustExposureTest : public SonyCameraSettingsTest, public ::testing::WithParamInterface<ExposureCase>
{
};

TEST_P(AdjustExposureTest, StepsApertureAndIso)
{
    const ExposureCase& c = GetParam();
    fake->setDeviceProperty(listProperty(Code::FNumber, c.aperture, Apertures, DeviceProperty::ValueTypeUInt16Array));
    fake->setDeviceProperty(listProperty(Code::Iso, c.iso, c.isos, DeviceProperty::ValueTypeUInt32Array));
    refresh();
    QSignalSpy answered(camera.get(), &SonyCamera::exposureAdjusted);
    EXPECT_EQ(camera->adjustExposure(c.clicks), c.applied);
    ASSERT_EQ(answered.count(), 1);
    settle();
    EXPECT_EQ(value(Code::FNumber), c.apertureAfter);
    EXPECT_EQ(value(Code::Iso), c.isoAfter);
    const int changes = answered.at(0).at(0).toInt();
    EXPECT_GE(changes, std::abs(c.applied));
}

const std::vector<std::uint64_t> Isos = {100, 200, 400, 800, 1600, 3200};

INSTANTIATE_TEST_SUITE_P(
    Clicks, AdjustExposureTest,
    ::testing::Values(
        ExposureCase{"BrighterByIsoAtF8", 800, Isos, 400, 2, 2, 800, 1600},
        ExposureCase{"DarkerByApertureAtLowestIso", 800, Isos, 100, -3, -3, 2200, 100},
        ExposureCase{"NeverOpensPastF8", 1600, Isos, 3200, 5, 2, 800, 3200},
        ExposureCase{"IsoAutoFirstAndCurrent", 800, {IsoAuto, 100, 200, 400}, IsoAuto, 1, 1, 800, 200},
        ExposureCase{"IsoAutoLastIsNoStep", 800, {100, 200, 400, IsoAuto}, 400, 2, 0, 800, 400},
        ExposureCase{"IsoAboveTheList", 800, Isos, 6400, -1, -1, 800, 1600}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- The fixed set-up --------------------------------------------------------------------------

TEST_F(SonyCameraSettingsTest, UpdatesReachTheSetUpOneChangeAtATime)
{
    // Set up once already by SetUp's property report: check the result and how it got there.
    const QStringList calls = fake->calls();
    bool changeSinceRead = false;
    for (const QString& call : calls) {
        if (call == QStringLiteral("GetDeviceProperties"))
            changeSinceRead = false;
        if (call == QStringLiteral("SetDeviceProperty")) {
            EXPECT_FALSE(changeSinceRead) << "two changes in one update";
            changeSinceRead = true;
        }
    }
    EXPECT_GE(calls.count(QStringLiteral("SetDeviceProperty")), 12);
    EXPECT_EQ(value(Code::PriorityKeySettings), 2u);
    EXPECT_EQ(value(Code::ExposureProgramMode), 1u);
    EXPECT_EQ(value(Code::FileType), 1u);
    EXPECT_EQ(value(Code::JpegQuality), 3u);
    EXPECT_EQ(value(Code::ImageSize), 1u);
    EXPECT_EQ(value(Code::MeteringMode), 6u);
    EXPECT_EQ(value(Code::WhiteBalance), 256u);
    EXPECT_EQ(value(Code::ColorTemperature), 6500u);
    EXPECT_EQ(value(Code::FocusMode), 1u);
    EXPECT_EQ(value(Code::DriveMode), 1u);
    EXPECT_EQ(value(Code::DynamicRangeOptimizer), 0u);
    EXPECT_EQ(value(Code::PictureEffect), 0u);
    EXPECT_EQ(value(Code::StillImageStoreDestination), 1u);
    EXPECT_TRUE(camera->errorType().ok());
    EXPECT_TRUE(camera->cameraReady());

    // Raw images: the file type changes and the JPEG quality is left alone.
    fake->setDeviceProperty(listProperty(Code::JpegQuality, 1, {}, 0));
    camera->useRawImages(true);
    settle();
    EXPECT_EQ(value(Code::FileType), 2u);
    EXPECT_EQ(value(Code::JpegQuality), 1u);
}

TEST_F(SonyCameraSettingsTest, IsoAutoAsksForAFixedIso)
{
    fake->setDeviceProperty(listProperty(Code::Iso, IsoAuto, Isos, DeviceProperty::ValueTypeUInt32Array));
    fake->firePropertyChanged();
    settle();
    EXPECT_EQ(camera->errorType().kind, 1);
    EXPECT_EQ(camera->statusMessage(), QStringLiteral("ISO cannot be AUTO: please set a fixed ISO"));
    EXPECT_FALSE(camera->cameraReady());
}

TEST_F(SonyCameraSettingsTest, AFailedReadEndsTheUpdateAndTheNextOneRuns)
{
    fake->setDeviceProperty(listProperty(Code::DriveMode, 2, {}, 0));
    fake->failPropertyRead(true);
    MessageCapture messages;
    fake->firePropertyChanged();
    settle();
    EXPECT_TRUE(messages.contains(QStringLiteral("SonyCamera: Failed to get device properties.")));
    EXPECT_EQ(value(Code::DriveMode), 2u);
    fake->failPropertyRead(false);
    fake->firePropertyChanged();
    settle();
    EXPECT_EQ(value(Code::DriveMode), 1u);
}

// ---- Exposure memory ---------------------------------------------------------------------------

TEST_F(SonyCameraSettingsTest, SavedExposure)
{
    MessageCapture messages;
    camera->useSavedExposure(true);
    EXPECT_TRUE(logged(messages, QStringLiteral("Can't use saved exposure because a value is zero")));

    camera->saveExposure();
    const QSettings settings;
    EXPECT_EQ(settings.value(QStringLiteral("savedFNumber")).toULongLong(), value(Code::FNumber));
    EXPECT_EQ(settings.value(QStringLiteral("savedIso")).toULongLong(), value(Code::Iso));
    EXPECT_EQ(settings.value(QStringLiteral("savedShutter")).toULongLong(), value(Code::ShutterSpeed));
}

// ---- Through the controller --------------------------------------------------------------------

class ControllerExposureTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        TestSettings::clearSettings();
        fake->setDeviceProperty(listProperty(Code::FNumber, 800, Apertures, DeviceProperty::ValueTypeUInt16Array));
        fake->setDeviceProperty(listProperty(Code::Iso, 400, Isos, DeviceProperty::ValueTypeUInt32Array));
        controller = std::make_unique<CameraController>();
        controller->connect();
        ASSERT_TRUE(QTest::qWaitFor([&] { return controller->cameraReady(); }, SettingsTimeoutMs));
        fake->firePropertyChanged();
        ASSERT_TRUE(QTest::qWaitFor([&] { return fake->calls().count(QStringLiteral("GetDeviceProperties")) > 0; },
                                    SettingsTimeoutMs));
    }

    void TearDown() override { controller.reset(); }

    // Keeps the camera's thread busy, so the camera answers late.
    void stallCamera(unsigned long ms)
    {
        QMetaObject::invokeMethod(controller->camera(), [ms] { QThread::msleep(ms); }, Qt::QueuedConnection);
    }

    ScopedTempFolder temp;
    InstalledFakeCamera fake;
    std::unique_ptr<CameraController> controller;
};

TEST_F(ControllerExposureTest, AnswersMatchTheirRequests)
{
    // f/8 at ISO 400: darker by ISO and aperture, to the limits.
    EXPECT_EQ(controller->changeExposure(-20), 1);
    QTest::qWait(300);

    // Silent (its own answer, 0, comes late): the previous answer, after about a second.
    stallCamera(1500);
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_EQ(controller->changeExposure(-20), 1);
    EXPECT_GE(elapsed.elapsed(), CameraController::ExposureAnswerMs - 50);
    EXPECT_LT(elapsed.elapsed(), CameraController::ExposureAnswerMs + 400);

    // The late 0 arrives while the next request waits: it waits on for its own answer.
    EXPECT_EQ(controller->changeExposure(1), 1);
    QTest::qWait(300);
    EXPECT_EQ(controller->changeExposure(-5), 1);
    QTest::qWait(300);
    EXPECT_EQ(controller->changeExposure(-5), 0); // at the limits
}

} // namespace
