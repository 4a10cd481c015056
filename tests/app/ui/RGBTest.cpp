#include "ui/RGB.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

TEST(RGB, WritesEmitOnlyOnRealChanges)
{
    RGB rgb;
    QSignalSpy red(&rgb, &RGB::redChanged);
    QSignalSpy green(&rgb, &RGB::greenChanged);

    rgb.setRed(0.0);
    EXPECT_EQ(red.count(), 0);
    rgb.setRed(0.5);
    EXPECT_EQ(red.count(), 1);
    rgb.setRed(0.5);
    EXPECT_EQ(red.count(), 1);
    rgb.setRed(0.5000001);
    EXPECT_EQ(red.count(), 2);
    EXPECT_EQ(green.count(), 0);

    rgb.setProperty("blue", 0.25);
    EXPECT_DOUBLE_EQ(rgb.blue(), 0.25);
}
