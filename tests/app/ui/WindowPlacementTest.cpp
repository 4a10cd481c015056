#include "ui/WindowPlacement.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct BesideCase
{
    const char* name;
    QRect anchor;
    QSize size;
    QRect available;
    QRect expected;
    QSize minimum = {}; // the window's own smallest frame
};

void PrintTo(const BesideCase& c, std::ostream* os)
{
    *os << c.name;
}

class Beside : public ::testing::TestWithParam<BesideCase>
{
};

std::string text(const QRect& r)
{
    return std::to_string(r.x()) + "," + std::to_string(r.y()) + " " + std::to_string(r.width()) + "x"
        + std::to_string(r.height());
}

// A screen of 1280 x 1024 with a panel of 32 pixels at the bottom.
const QRect kPanelled(0, 0, 1280, 992);

} // namespace

TEST_P(Beside, LeavesTheAnchorUncoveredInsideTheArea)
{
    const BesideCase& c = GetParam();
    const QRect placed = WindowPlacement::beside(c.anchor, c.size, c.available, c.minimum);
    EXPECT_EQ(text(placed), text(c.expected));
    EXPECT_TRUE(c.available.contains(placed)) << text(placed);
}

INSTANTIATE_TEST_SUITE_P(
    Screens, Beside,
    ::testing::Values(
        BesideCase{"RoomOnTheRight", {0, 0, 780, 600}, {640, 400}, {0, 0, 1920, 1050}, {788, 0, 640, 400}},
        BesideCase{"RoomOnTheLeft", {1100, 50, 780, 600}, {640, 400}, {0, 0, 1920, 1050}, {452, 50, 640, 400}},
        // Neither side holds the whole window: the larger of the strips, the window made smaller.
        BesideCase{"LargerStripBelow", {0, 0, 780, 600}, {640, 400}, kPanelled, {0, 608, 640, 384}},
        BesideCase{"LargerStripRight", {0, 100, 780, 880}, {640, 400}, kPanelled, {788, 100, 492, 400}},
        // A screen on the right of another one: the area does not start at 0.
        BesideCase{"SecondScreen", {1920, 0, 780, 600}, {640, 400}, {1920, 0, 1600, 900}, {2708, 0, 640, 400}},
        // No strip holds even the smallest useful window: the whole one, covering the least.
        BesideCase{"NoRoom", {0, 0, 780, 560}, {640, 400}, {0, 0, 800, 600}, {0, 200, 640, 400}},
        // A window that cannot be made as small as a strip: beside, as small as it may be...
        BesideCase{"StripHoldsTheWindowsMinimum", {0, 100, 780, 880}, {560, 640}, kPanelled, {788, 100, 492, 640},
                   {430, 410}},
        // ...and where no strip holds that, the whole window, covering the least of the anchor.
        BesideCase{"NoStripHoldsTheWindowsMinimum", {0, 0, 900, 600}, {560, 640}, kPanelled, {720, 0, 560, 640},
                   {430, 410}}),
    [](const ::testing::TestParamInfo<BesideCase>& info) { return std::string(info.param.name); });

TEST(WindowPlacementInside, PullsAFrameBackOntoTheAreaAndCutsWhatCannotFit)
{
    // Kept on a larger screen, or on one that has gone.
    EXPECT_EQ(text(WindowPlacement::inside({3000, 2000, 640, 400}, kPanelled)), "640,592 640x400");
    EXPECT_EQ(text(WindowPlacement::inside({-500, -40, 640, 400}, kPanelled)), "0,0 640x400");
    EXPECT_EQ(text(WindowPlacement::inside({100, 100, 2000, 1200}, kPanelled)), text(kPanelled));
    // Already inside: unchanged.
    EXPECT_EQ(text(WindowPlacement::inside({200, 150, 640, 400}, kPanelled)), "200,150 640x400");
}
