#include "support/ControllerFixture.h"
#include "support/QtPrinters.h"

#include "display/DisplayBase.h"
#include "display/Kestra.h"
#include "display/SimulatedDisplay.h"
#include "engine/Background.h"
#include "engine/Calibrator.h"
#include "engine/TileGrader.h"
#include "instruments/CameraController.h"
#include "instruments/CineMeterII.h"
#include "instruments/CR100.h"

#include <QMetaEnum>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QVariant>

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <string>

namespace {

template <typename T>
T onThreadOf(QObject* object, std::function<T()> read)
{
    T value{};
    QMetaObject::invokeMethod(object, [&] { value = read(); }, Qt::BlockingQueuedConnection);
    return value;
}

uint backgroundReadDelay(Velotrimmer& controller)
{
    Background* background = controller.background();
    return onThreadOf<uint>(background, [background] { return background->readDelay(); });
}

} // namespace

using ControllerSetup = ControllerFixture;

TEST_F(ControllerSetup, FreshSettingsSelectTheSerialMeterTheProcessorAndTheCamera)
{
    Velotrimmer& velotrimmer = build();
    EXPECT_EQ(velotrimmer.colorimeter(), static_cast<Colorimeter*>(velotrimmer.cr100()));
    EXPECT_EQ(velotrimmer.display(), static_cast<DisplayBase*>(velotrimmer.kestra()));
    EXPECT_EQ(velotrimmer.imageSource(), static_cast<ImageSource*>(velotrimmer.cameraController()));
    EXPECT_EQ(velotrimmer.mode(), Velotrimmer::Linearity);
    EXPECT_FALSE(velotrimmer.showSimulatedDisplay());
    EXPECT_EQ(velotrimmer.colorimeterType(), 0);
    EXPECT_EQ(velotrimmer.outputType(), 0);
    EXPECT_EQ(velotrimmer.cameraType(), 0);
    EXPECT_DOUBLE_EQ(velotrimmer.progress(), -1.0);
    EXPECT_TRUE(velotrimmer.pollDisplay());

    // Every device exists up front; the workers run on their own threads.
    EXPECT_EQ(velotrimmer.dummyColorimeter()->name(), Colorimeter::DummyName);
    EXPECT_EQ(velotrimmer.simulatedDisplay()->name(), QStringLiteral("Simulated Display"));
    EXPECT_TRUE(velotrimmer.dummyCamera()->isDummy());
    EXPECT_FALSE(velotrimmer.cameraController()->isDummy());
    ASSERT_NE(velotrimmer.calibrator(), nullptr);
    EXPECT_NE(velotrimmer.calibrator()->thread(), velotrimmer.thread());
    EXPECT_NE(velotrimmer.background()->thread(), velotrimmer.thread());
    EXPECT_NE(velotrimmer.calibrator()->thread(), velotrimmer.background()->thread());
    EXPECT_EQ(velotrimmer.tileGrader(), velotrimmer.background()->grader());
    EXPECT_EQ(velotrimmer.calibrator()->display(), velotrimmer.display());

    // The folder offered for results is the documents folder itself.
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    EXPECT_EQ(velotrimmer.filepath(), documents.isEmpty() ? QString() : documents + "/");
    EXPECT_EQ(backgroundReadDelay(velotrimmer), 1500u + Background::ReadDelayMarginMs);
}

TEST_F(ControllerSetup, StoredChoicesAreRestoredAndAStoredModeOutOfRangeBecomesLinearity)
{
    {
        QSettings settings;
        settings.setValue("colorMeter", false);
        settings.setValue("output", true);
        settings.setValue("camera", true);
        settings.setValue("mode", 7u);
        settings.setValue("targetCCT", 5000u);
        settings.setValue("stepspacing", 0.0);
        settings.setValue("tileMeshWidth", 0u);
    }
    Velotrimmer& velotrimmer = build();
    EXPECT_EQ(velotrimmer.colorimeter(), velotrimmer.cineMeterII());
    EXPECT_EQ(velotrimmer.display(), static_cast<DisplayBase*>(velotrimmer.simulatedDisplay()));
    EXPECT_TRUE(velotrimmer.showSimulatedDisplay());
    EXPECT_EQ(velotrimmer.imageSource(), velotrimmer.dummyCamera());
    EXPECT_EQ(velotrimmer.mode(), Velotrimmer::Linearity);
    EXPECT_EQ(velotrimmer.targetCCT(), 5000u);
    // Stored values that would divide by zero later are restored within their limits.
    EXPECT_GT(velotrimmer.stepSpacing(), 0.0);
    EXPECT_EQ(velotrimmer.tileMeshWidth(), 1u);
}

TEST_F(ControllerSetup, SwitchingIsPersistedAndMovesTheColorimeterConnections)
{
    Velotrimmer& velotrimmer = build();
    Calibrator* calibrator = velotrimmer.calibrator();
    QSignalSpy changed(&velotrimmer, &Velotrimmer::colorimeterChanged);

    velotrimmer.switchInput();
    EXPECT_EQ(velotrimmer.colorimeter(), velotrimmer.cineMeterII());
    EXPECT_FALSE(QSettings().value("colorMeter").toBool());
    EXPECT_EQ(changed.count(), 1);

    // Readings of the new meter reach the calibrator, its requests reach only the new meter.
    // (Disconnecting reports whether a connection was there.)
    Colorimeter* oldMeter = velotrimmer.cr100();
    Colorimeter* newMeter = velotrimmer.cineMeterII();
    EXPECT_FALSE(QObject::disconnect(oldMeter, &Colorimeter::dataAvailable, calibrator, &Calibrator::readColorimeterData));
    EXPECT_FALSE(QObject::disconnect(calibrator, &Calibrator::takeReading, oldMeter, &Colorimeter::read));
    EXPECT_TRUE(QObject::disconnect(newMeter, &Colorimeter::dataAvailable, calibrator, &Calibrator::readColorimeterData));
    EXPECT_TRUE(QObject::disconnect(calibrator, &Calibrator::takeReading, newMeter, &Colorimeter::read));
}

TEST_F(ControllerSetup, SwitchingTheOutputTwiceReturnsAndEachDisplayKeepsItsSelectedLdm)
{
    Velotrimmer& velotrimmer = build();
    QSettings().setValue("selectedLdm" + velotrimmer.kestra()->address(), 3);
    QSettings().setValue("selectedLdm" + velotrimmer.simulatedDisplay()->address(), 5);

    velotrimmer.switchOutput();
    EXPECT_EQ(velotrimmer.display(), static_cast<DisplayBase*>(velotrimmer.simulatedDisplay()));
    EXPECT_TRUE(QSettings().value("output").toBool());
    EXPECT_EQ(velotrimmer.selectedLdm(), 5);
    EXPECT_EQ(velotrimmer.calibrator()->display(), velotrimmer.display());

    velotrimmer.switchOutput();
    EXPECT_EQ(velotrimmer.display(), static_cast<DisplayBase*>(velotrimmer.kestra()));
    EXPECT_FALSE(QSettings().value("output").toBool());
    EXPECT_EQ(velotrimmer.selectedLdm(), 3);

    // The integer forms toggle the same devices and say so.
    QSignalSpy typeChanged(&velotrimmer, &Velotrimmer::outputTypeChanged);
    velotrimmer.setOutputType(1);
    velotrimmer.setOutputType(1);
    EXPECT_EQ(typeChanged.count(), 1);
    EXPECT_TRUE(velotrimmer.showSimulatedDisplay());
}

struct ClampCase
{
    const char* property;
    QVariant given;
    QVariant stored;
    const char* key;
};

class ControllerClamps : public ControllerFixture, public ::testing::WithParamInterface<ClampCase>
{
};

TEST_P(ControllerClamps, StoresAndPersistsTheClampedValue)
{
    const ClampCase& clamp = GetParam();
    Velotrimmer& velotrimmer = build();
    ASSERT_TRUE(velotrimmer.setProperty(clamp.property, clamp.given));
    EXPECT_EQ(velotrimmer.property(clamp.property).toDouble(), clamp.stored.toDouble()) << clamp.property;
    EXPECT_EQ(QSettings().value(clamp.key).toDouble(), clamp.stored.toDouble()) << clamp.key;
}

// The property and the value given, e.g. "targetDuv_minus0_05".
std::string clampName(const ::testing::TestParamInfo<ClampCase>& info)
{
    std::string given = info.param.given.toString().toStdString();
    std::string name = std::string(info.param.property) + "_";
    for (char c : given) {
        if (c == '-')
            name += "minus";
        else if (std::isalnum(static_cast<unsigned char>(c)))
            name += c;
        else
            name += '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ControllerClamps,
    ::testing::Values(ClampCase{"targetCCT", 1000u, 1667u, "targetCCT"}, ClampCase{"targetCCT", 20000u, 10000u, "targetCCT"},
                      ClampCase{"targetDuv", 0.05, 0.01, "targetDuv"}, ClampCase{"targetDuv", -0.05, -0.01, "targetDuv"},
                      ClampCase{"gamma", 0.5, 1.0, "gamma"}, ClampCase{"gamma", 4.0, 3.8, "gamma"},
                      ClampCase{"readCount", 0u, 1u, "readCount"}, ClampCase{"readCount", 500u, 100u, "readCount"},
                      ClampCase{"steps", 0u, 1u, "steps"}, ClampCase{"readDelay", 0u, 500u, "readDelay"},
                      ClampCase{"readDelay", 100u, 500u, "readDelay"}, ClampCase{"readDelay", 9000u, 5000u, "readDelay"},
                      ClampCase{"stepSpacing", 0.0, 0.1, "stepspacing"}, ClampCase{"stepSpacing", -2.0, 0.1, "stepspacing"},
                      ClampCase{"tileMeshWidth", 0u, 1u, "tileMeshWidth"}, ClampCase{"tileMeshHeight", 0u, 1u, "tileMeshHeight"},
                      ClampCase{"btMaxIterations", 0u, 1u, "btMaxIterations"},
                      ClampCase{"brightnessLevel", 20000u, 10000u, "bright"}),
    clampName);

TEST_F(ControllerSetup, TheGrabberGetsTheReadDelayOnceWithItsMarginOnEveryWrite)
{
    Velotrimmer& velotrimmer = build();
    QSignalSpy changed(&velotrimmer, &Velotrimmer::readDelayChanged);
    velotrimmer.setReadDelay(500);
    EXPECT_EQ(backgroundReadDelay(velotrimmer), 750u);
    velotrimmer.setReadDelay(3000);
    velotrimmer.setReadDelay(3000);
    EXPECT_EQ(changed.count(), 2);
    EXPECT_EQ(backgroundReadDelay(velotrimmer), 3250u);
}

enum class Change { Gamma, Steps, BalanceRed, Colorimeter, Camera, Display };

struct ResetCase
{
    Change change;
    Velotrimmer::Mode mode;
    bool simulated;
    bool resets;
};

class ControllerResumeReset : public ControllerFixture, public ::testing::WithParamInterface<ResetCase>
{
};

// What changes, in which mode, on which display, e.g. "Gamma_inLinearity_simulated".
std::string resetName(const ::testing::TestParamInfo<ResetCase>& info)
{
    static const std::map<Change, std::string> changes{
        {Change::Gamma, "Gamma"},         {Change::Steps, "Steps"},   {Change::BalanceRed, "BalanceRed"},
        {Change::Colorimeter, "Colorimeter"}, {Change::Camera, "Camera"}, {Change::Display, "Display"}};
    const ResetCase& reset = info.param;
    const char* mode = QMetaEnum::fromType<Velotrimmer::Mode>().valueToKey(int(reset.mode));
    return changes.at(reset.change) + "_in" + mode + (reset.simulated ? "_simulated" : "_processor");
}

TEST_P(ControllerResumeReset, SettingsInvalidateOnlyTheRunsTheyAffect)
{
    const ResetCase& reset = GetParam();
    if (reset.simulated)
        QSettings().setValue("output", true);
    Velotrimmer& velotrimmer = build();
    velotrimmer.setMode(reset.mode);
    velotrimmer.setResumeStep(5);
    switch (reset.change) {
    case Change::Gamma:
        velotrimmer.setGamma(2.2);
        break;
    case Change::Steps:
        velotrimmer.setSteps(9);
        break;
    case Change::BalanceRed:
        velotrimmer.setBalanceTargetRed(120.0);
        break;
    case Change::Colorimeter:
        velotrimmer.switchInput();
        break;
    case Change::Camera:
        velotrimmer.switchCamera();
        break;
    case Change::Display:
        velotrimmer.switchOutput();
        break;
    }
    EXPECT_EQ(velotrimmer.resumeStep(), reset.resets ? 0u : 5u);
}

INSTANTIATE_TEST_SUITE_P(
    Matrix, ControllerResumeReset,
    ::testing::Values(ResetCase{Change::Gamma, Velotrimmer::Linearity, true, true},
                      ResetCase{Change::Gamma, Velotrimmer::Linearity, false, false},
                      ResetCase{Change::Steps, Velotrimmer::Linearity, false, true},
                      ResetCase{Change::Steps, Velotrimmer::Balance, true, false},
                      ResetCase{Change::BalanceRed, Velotrimmer::Balance, true, true},
                      ResetCase{Change::BalanceRed, Velotrimmer::Linearity, true, false},
                      ResetCase{Change::Colorimeter, Velotrimmer::Linearity, true, true},
                      ResetCase{Change::Colorimeter, Velotrimmer::Balance, true, false},
                      ResetCase{Change::Camera, Velotrimmer::Balance, true, true},
                      ResetCase{Change::Camera, Velotrimmer::Linearity, true, false},
                      ResetCase{Change::Display, Velotrimmer::Linearity, true, true},
                      ResetCase{Change::Display, Velotrimmer::Balance, false, true}),
    resetName);

TEST_F(ControllerSetup, DeveloperOptionsDecideWhoseSrgbChoiceCountsAndLeaveTemplateMode)
{
    Velotrimmer& velotrimmer = build();
    velotrimmer.setUseSrgb(false);
    // Off: the processor's transfer function decides.
    EXPECT_TRUE(velotrimmer.useSrgb());
    velotrimmer.kestra()->setEotfType("sdrPower");
    EXPECT_FALSE(velotrimmer.useSrgb());
    velotrimmer.setUseSrgb(true);
    EXPECT_FALSE(velotrimmer.useSrgb());

    // On: the stored choice decides.
    velotrimmer.setUseDebugOptions(true);
    EXPECT_TRUE(velotrimmer.useSrgb());
    EXPECT_EQ(velotrimmer.statusString(), QStringLiteral("Developer options are on."));

    velotrimmer.setMode(Velotrimmer::Template);
    velotrimmer.setUseDebugOptions(false);
    EXPECT_EQ(velotrimmer.mode(), Velotrimmer::Balance);
    EXPECT_EQ(velotrimmer.statusString(), QStringLiteral("Developer options are off."));
    EXPECT_FALSE(QSettings().value("debug").toBool());
}

TEST_F(ControllerSetup, GraderSettingsArriveOnTheGrabbersThread)
{
    Velotrimmer& velotrimmer = build();
    velotrimmer.setLinearGainBoost(5);
    velotrimmer.setRawInterpolation(7); // unknown: the grader falls back to bilinear
    velotrimmer.setHighlightRecovery(4);
    velotrimmer.setTileGraderProfiling(true);
    TileGrader* grader = velotrimmer.tileGrader();
    EXPECT_EQ(onThreadOf<uint>(grader, [grader] { return grader->linearGainBoost(); }), 5u);
    EXPECT_EQ(onThreadOf<uint>(grader, [grader] { return grader->rawInterpolation(); }), 0u);
    EXPECT_EQ(onThreadOf<uint>(grader, [grader] { return grader->highlightRecovery(); }), 4u);
    EXPECT_TRUE(onThreadOf<bool>(grader, [grader] { return grader->profiling(); }));
    EXPECT_TRUE(velotrimmer.tileGraderProfiling());
    EXPECT_EQ(velotrimmer.rawInterpolation(), 7u);
}

TEST_F(ControllerSetup, TheFolderAccessorKeepsTheFolderPartOfAPath)
{
    Velotrimmer& velotrimmer = build();
    velotrimmer.setFilepath("C:/data/run1.csv");
    EXPECT_EQ(velotrimmer.filepath(), QStringLiteral("C:/data/"));
    EXPECT_EQ(QSettings().value("filepath").toString(), QStringLiteral("C:/data/"));
    velotrimmer.setFilepath("run1.csv");
    EXPECT_EQ(velotrimmer.filepath(), QString());
    velotrimmer.setFilepath("/run1.csv");
    EXPECT_EQ(velotrimmer.filepath(), QString());
}
