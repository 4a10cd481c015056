#include "display/DisplayBase.h"
#include "display/SimulatedDisplay.h"
#include "support/QtPrinters.h"
#include "support/SignalRecorder.h"
#include "support/TestDisplay.h"
#include "support/TestSettings.h"

#include <QSettings>

#include <gtest/gtest.h>

#include <limits>

namespace {

class SelectionTest : public ::testing::Test
{
protected:
    void SetUp() override { TestSettings::clearSettings(); }

    // Two tiles of 200 x 200 pixels side by side, each of 2 x 2 LDMs: LDMs 1-4 in tile 1 at
    // x 0-200, LDMs 5-8 in tile 2 at x 200-400.
    static void buildTwoTiles(TestDisplay& display) { display.buildWall(2, 1, 2, 200); }

    template <typename Flag>
    static QList<uint> numbersWhere(DisplayBase& display, Flag flag)
    {
        QList<uint> numbers;
        for (uint n = 1; n <= display.ldmCount(); ++n) {
            if (flag(display.ldm(n)))
                numbers.append(n);
        }
        return numbers;
    }

    static QList<uint> selected(DisplayBase& d)
    {
        return numbersWhere(d, [](const Macropixel& m) { return m.selected; });
    }
    static QList<uint> lit(DisplayBase& d)
    {
        return numbersWhere(d, [](const Macropixel& m) { return m.lit; });
    }
    static QList<uint> adjustableWalk(DisplayBase& d)
    {
        QList<uint> numbers;
        for (uint i = 1; i <= d.adjustableLdmCount(); ++i)
            numbers.append(d.adjustableLdm(i).number);
        return numbers;
    }
};

} // namespace

TEST_F(SelectionTest, LdmsTouchingOnlyTheBorderOfTheDragAreNotSelected)
{
    SimulatedDisplay display;
    display.fetchOutputConfig();

    display.selectLdms(QPoint(1100, 150), QPoint(1300, 350));
    // Columns x 1100 and 1200, rows y 150 and 250: LDMs 18, 19, 34, 35.
    EXPECT_EQ(selected(display), QList<uint>({18, 19, 34, 35}));

    display.selectAllLdms();
    EXPECT_EQ(selected(display).size(), 144);
}

TEST_F(SelectionTest, DraggingOverOneCornerPixelSelectsTheWholeTile)
{
    SimulatedDisplay display;
    display.fetchOutputConfig();
    display.selectLdms(QPoint(0, 0), QPoint(1, 1));
    ASSERT_TRUE(selected(display).isEmpty());

    display.selectTiles(QPoint(2599, 949), QPoint(2600, 950));
    EXPECT_TRUE(display.tile(1).selected);
    EXPECT_EQ(selected(display).size(), 144);

    display.selectTiles(QPoint(0, 0), QPoint(1000, 50)); // only touches the tile's corner
    EXPECT_FALSE(display.tile(1).selected);
    EXPECT_TRUE(selected(display).isEmpty());
}

TEST_F(SelectionTest, SelectTilesWidensOnlyToTheTilesTheDragTouches)
{
    TestDisplay display;
    buildTwoTiles(display);

    display.selectTiles(QPoint(250, 50), QPoint(260, 60));
    EXPECT_FALSE(display.tile(1).selected);
    EXPECT_TRUE(display.tile(2).selected);
    EXPECT_EQ(selected(display), QList<uint>({5, 6, 7, 8}));
}

TEST_F(SelectionTest, SelectTilesWithoutTilesSelectsTheLdmsInsideTheDrag)
{
    TestDisplay display;
    display.buildLdmRow(5, 10);

    display.selectTiles(QPoint(15, 0), QPoint(31, 10));
    EXPECT_EQ(selected(display), QList<uint>({2, 3, 4}));
}

TEST_F(SelectionTest, LightingSelectedTilesDarkensTheRestAndRecountsLitTiles)
{
    TestDisplay display;
    buildTwoTiles(display);
    display.selectTiles(QPoint(250, 50), QPoint(260, 60));
    SignalRecorder recorder(&display);

    display.lightSelectedTiles();

    EXPECT_EQ(lit(display), QList<uint>({5, 6, 7, 8}));
    EXPECT_EQ(display.ldmIntensityGain(1), -1.0);
    EXPECT_EQ(display.ldmIntensityGain(5), 0.0);
    EXPECT_EQ(display.litTileCount(), 1u);
    EXPECT_EQ(display.litTile(1).number, 2u);
    EXPECT_EQ(display.litLdmCount(), 4u);
    EXPECT_EQ(display.minLitLdmX(), 200);
    EXPECT_EQ(display.maxLitLdmX(), 400);
    EXPECT_EQ(recorder.names(), QStringList({"litTileCountChanged", "ldmDataChanged", "minLitLdmXChanged",
                                             "litLdmCountChanged", "adjustableLdmCountChanged"}));
    EXPECT_EQ(QSettings().value("litTiles").toRect(), QRect(QPoint(250, 50), QPoint(260, 60)));
}

TEST_F(SelectionTest, AdjustableCountAndWalkAgreeWhenAdjustableLdmsAreDark)
{
    TestDisplay display;
    buildTwoTiles(display);
    display.selectTiles(QPoint(250, 50), QPoint(260, 60));
    display.lightSelectedTiles(); // LDMs 1-4 dark but still flagged adjustable

    ASSERT_TRUE(display.ldmAdjustable(1));
    EXPECT_EQ(display.adjustableLdmCount(), 4u);
    EXPECT_EQ(adjustableWalk(display), QList<uint>({5, 6, 7, 8}));
}

TEST_F(SelectionTest, LightLitLdmsOffThenOnRestoresExactlyTheLitSet)
{
    SimulatedDisplay display;
    display.fetchOutputConfig();
    display.selectLdms(QPoint(1000, 50), QPoint(1200, 150)); // LDMs 1 and 2
    display.lightSelectedLdms();
    const int maxLitX = display.maxLitLdmX();

    display.lightLitLdms(false);
    EXPECT_EQ(display.ldmIntensityGain(1), -1.0);
    EXPECT_EQ(display.ldmIntensityGain(2), -1.0);
    EXPECT_EQ(lit(display), QList<uint>({1, 2}));

    display.lightLitLdms(true);
    for (uint n = 1; n <= display.ldmCount(); ++n)
        EXPECT_EQ(display.ldmIntensityGain(n), n <= 2 ? 0.0 : -1.0) << n;
    EXPECT_EQ(display.maxLitLdmX(), maxLitX);
    EXPECT_EQ(display.litLdmCount(), 2u);
}

TEST_F(SelectionTest, SelectionModesDecideAroundTheSwitchedOffThreshold)
{
    // LDM 1 at -0.85 (on), 2 at exactly -0.9 (off), 3 at -0.95 (off), 4 on but not selected.
    struct Case
    {
        int mode;
        bool initiallyAdjustable;
        QList<uint> expected;
    };
    const Case cases[] = {
        {0, true, {1}},           // replace: selected and on
        {1, false, {1}},          // add: selected and on join
        {1, true, {1, 2, 3, 4}},  // add leaves the others alone
        {-1, true, {4}},          // remove: every selected one leaves
        {-1, false, {}},
    };
    for (const Case& c : cases) {
        TestDisplay display;
        display.buildLdmRow(4, 10);
        display.setLdmRGB(1, 0, 0, 0, -0.85);
        display.setLdmRGB(2, 0, 0, 0, -0.9);
        display.setLdmRGB(3, 0, 0, 0, -0.95);
        for (uint n = 1; n <= 4; ++n)
            display.ldm(n).adjustable = c.initiallyAdjustable;
        display.selectLdms(QPoint(0, 0), QPoint(30, 10));
        SignalRecorder recorder(&display);

        display.adjustSelectedLdms(c.mode);

        EXPECT_EQ(adjustableWalk(display), c.expected) << "mode " << c.mode;
        EXPECT_EQ(display.adjustableLdmCount(), uint(c.expected.size()));
        EXPECT_EQ(recorder.names(), QStringList({"ldmDataChanged", "adjustableLdmCountChanged"}));
    }
}

TEST_F(SelectionTest, AdjustSelectedTilesUsesLitTilesThenAdjustsLdms)
{
    TestDisplay display;
    buildTwoTiles(display);
    display.selectTiles(QPoint(0, 0), QPoint(400, 200));
    display.tile(1).lit = false;

    display.adjustSelectedTiles(0);

    EXPECT_EQ(display.adjustableTileCount(), 1u);
    EXPECT_EQ(display.adjustableTile(1).number, 2u);
    EXPECT_EQ(display.adjustableLdmCount(), 8u);
}

TEST_F(SelectionTest, RecallLitTilesRestoresTheLastLitAreaAtTheNextStart)
{
    {
        TestDisplay before;
        buildTwoTiles(before);
        before.selectTiles(QPoint(250, 50), QPoint(260, 60));
        before.lightSelectedTiles();
    }
    TestDisplay after;
    buildTwoTiles(after);
    SignalRecorder recorder(&after);

    after.recallLitTiles();

    EXPECT_EQ(lit(after), QList<uint>({5, 6, 7, 8}));
    EXPECT_FALSE(after.tileLit(1));
    EXPECT_EQ(after.adjustableTileCount(), 1u);
    EXPECT_EQ(adjustableWalk(after), QList<uint>({5, 6, 7, 8}));
    EXPECT_EQ(recorder.names().mid(recorder.names().size() - 2),
              QStringList({"ldmDataChanged", "adjustableLdmCountChanged"}));
}

TEST_F(SelectionTest, RecallAfterLightingTheWholeWallLightsItAllAgain)
{
    {
        TestDisplay before;
        buildTwoTiles(before);
        before.selectTiles(QPoint(250, 50), QPoint(260, 60));
        before.lightSelectedTiles();
        before.selectAllTiles();
        before.lightSelectedTiles();
    }
    EXPECT_EQ(QSettings().value("litTiles").toRect(), QRect(0, 0, 0, 0));

    TestDisplay after;
    buildTwoTiles(after);
    after.selectTiles(QPoint(250, 50), QPoint(260, 60)); // selected but never lit: not remembered
    after.recallLitTiles();

    EXPECT_EQ(lit(after).size(), 8);
    EXPECT_EQ(after.adjustableLdmCount(), 8u);
    EXPECT_EQ(after.litTileCount(), 2u);
    EXPECT_EQ(after.adjustableTileCount(), 2u);
}

TEST_F(SelectionTest, ExtentsOfNoLitLdmAreTheEmptyLimits)
{
    TestDisplay display;
    display.buildLdmRow(3, 10);
    display.selectLdms(QPoint(100, 100), QPoint(200, 200));
    display.lightSelectedLdms();

    EXPECT_EQ(display.litLdmCount(), 0u);
    EXPECT_EQ(display.minLitLdmX(), std::numeric_limits<int>::max());
    EXPECT_EQ(display.minLitLdmY(), std::numeric_limits<int>::max());
    EXPECT_EQ(display.maxLitLdmX(), std::numeric_limits<int>::min());
    EXPECT_EQ(display.maxLitLdmY(), std::numeric_limits<int>::min());
    EXPECT_EQ(display.litLdm(1).number, 0u);

    display.resetLdms(true, true);
    EXPECT_EQ(display.litLdmCount(), 3u);
    EXPECT_EQ(display.adjustableLdmCount(), 3u);
    EXPECT_EQ(display.maxLitLdmX(), 30);
}
