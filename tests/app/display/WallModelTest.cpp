#include "display/Macropixel.h"
#include "display/Tile.h"

#include <gtest/gtest.h>

TEST(WallModel, MacropixelConstructorTakesWidthBeforeHeight)
{
    const Macropixel m(7, 10, 20, 30, 40);
    EXPECT_EQ(m.number, 7u);
    EXPECT_EQ(m.x, 10.0f);
    EXPECT_EQ(m.y, 20.0f);
    EXPECT_EQ(m.width, 30.0f);
    EXPECT_EQ(m.height, 40.0f);
    EXPECT_TRUE(m.selected && m.adjustable && m.lit);
    EXPECT_EQ(m.indexInTile, 0u);
    EXPECT_EQ(m.intensityGain, 0.0);
}

TEST(WallModel, IntensityThresholdSwitchesOffAtAndBelowMinusPointNine)
{
    struct Case
    {
        double intensity;
        bool on;
    };
    for (const Case c : {Case{-0.85, true}, Case{-0.9, false}, Case{-0.95, false}, Case{0.0, true}, Case{-1.0, false}}) {
        Macropixel m;
        m.intensityGain = c.intensity;
        EXPECT_EQ(m.isOn(), c.on) << c.intensity;
    }
}

TEST(WallModel, MacropixelRectangleIsHalfOpen)
{
    const Macropixel m(1, 100, 50, 10, 20);
    EXPECT_TRUE(m.contains(100, 50));
    EXPECT_TRUE(m.contains(109.5f, 69.5f));
    EXPECT_FALSE(m.contains(110, 50));
    EXPECT_FALSE(m.contains(100, 70));
    EXPECT_FALSE(m.contains(99.9f, 50));
}

TEST(WallModel, TileCopiesShareNoLdmListAndMovesEmptyTheSource)
{
    Macropixel a(1, 0, 0, 1, 1);
    Macropixel b(2, 1, 0, 1, 1);
    Tile first;
    first.ldms = {&a, &b};

    Tile copy = first;
    copy.ldms.clear();
    EXPECT_EQ(first.ldms.size(), 2);

    Tile moved = std::move(first);
    EXPECT_EQ(moved.ldms.size(), 2);
    EXPECT_TRUE(first.ldms.isEmpty()); // NOLINT(bugprone-use-after-move): moving leaves it empty
    EXPECT_EQ(moved.width, 100.0f);
    EXPECT_FALSE(moved.extraFlag);
}
