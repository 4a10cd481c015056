#include "display/SimulatedDisplay.h"
#include "support/TestSettings.h"

#include <QMetaType>
#include <QSettings>
#include <QVariant>

#include <gtest/gtest.h>

namespace {

class SimulatedDisplayTest : public ::testing::Test
{
protected:
    void SetUp() override { TestSettings::clearSettings(); }
};

} // namespace

TEST_F(SimulatedDisplayTest, StartsWithTheMidGreyTestColourAndNoDevice)
{
    QSettings().setValue("Simulated Display/address", "127.0.0.1");
    QSettings().setValue("litTilesN/A", QRect(QPoint(1, 2), QPoint(3, 4)));

    SimulatedDisplay display;
    EXPECT_EQ(display.name(), "Simulated Display");
    EXPECT_EQ(display.address(), "N/A");
    EXPECT_EQ(QSettings().value("Simulated Display/address").toString(), "N/A");
    EXPECT_FALSE(display.isKestra());
    EXPECT_FALSE(display.supportsMeshUniformity());
    EXPECT_EQ(display.property("colorStr").toString(), "#606060");
    EXPECT_EQ(display.property("colorReadout").toString(), "red:0.500000  green:0.500000  blue:0.500000");

    // The stored lit area is the one under "litTiles" + "N/A".
    display.fetchOutputConfig();
    display.recallLitTiles();
    EXPECT_EQ(display.litLdmCount(), 0u); // (1,2)-(3,4) lies outside the wall
}

TEST_F(SimulatedDisplayTest, DeviceStubsSucceedAtAnyTime)
{
    SimulatedDisplay display;
    EXPECT_TRUE(display.resetMesh().ok());
    display.cancelPending();
    EXPECT_TRUE(display.readStatus().ok());
    EXPECT_TRUE(display.showTestPattern(1, 100, 100).ok());
    EXPECT_TRUE(display.sendCalibration({}, 1, 1, 1).ok());

    ASSERT_TRUE(display.fetchOutputConfig().ok());
    EXPECT_TRUE(display.setLdmRGB(144, 0.5, 0.5, 0.5).ok());
    EXPECT_EQ(display.setLdmRGB(145, 0.5, 0.5, 0.5).kind, ErrorType::Fatal);
    EXPECT_TRUE(display.resetMesh().ok());
    display.cancelPending();
}

TEST_F(SimulatedDisplayTest, ErrorTypeIsRegisteredForQueuedUse)
{
    SimulatedDisplay display;
    const QMetaType type = QMetaType::fromName("ErrorType");
    ASSERT_TRUE(type.isValid());
    EXPECT_EQ(type, QMetaType::fromType<ErrorType>());

    // Through the meta-object, as QML and queued invocations reach it.
    ErrorType result = ErrorType::failure(ErrorType::Retryable);
    ASSERT_TRUE(QMetaObject::invokeMethod(&display, "setLdmRGB", Qt::DirectConnection, Q_RETURN_ARG(ErrorType, result),
                                          Q_ARG(uint, 1u), Q_ARG(double, 1.0), Q_ARG(double, 1.0), Q_ARG(double, 1.0),
                                          Q_ARG(double, 0.0)));
    EXPECT_EQ(result.kind, ErrorType::Fatal); // no wall yet
}
