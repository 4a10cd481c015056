// A display rebuilds its wall at every poll. An unchanged wall keeps what was measured and chosen
// on it (and, on the simulated display, which is its own device, the gains set on it); a wall
// that changed in any record is replaced whole.
#include "support/TestDisplay.h"
#include "support/TestSettings.h"

#include "display/SimulatedDisplay.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

class WallRebuild : public ::testing::Test
{
protected:
    void SetUp() override { TestSettings::clearSettings(); }
};

// Rebuilds the display's wall from records as a device reports them (where and what each LDM and
// tile is, nothing measured, set or chosen), after the change has been made to them.
void rebuild(TestDisplay& display, const std::function<void(QList<Macropixel>&, QList<Tile>&)>& change)
{
    QList<Macropixel> ldms;
    for (const Macropixel& had : display.allLdms()) {
        Macropixel reported(had.number, had.x, had.y, had.width, had.height);
        reported.name = had.name;
        reported.indexInTile = had.indexInTile;
        reported.tileNumber = had.tileNumber;
        ldms.append(reported);
    }
    QList<Tile> tiles;
    for (const Tile& had : display.allTiles()) {
        Tile reported;
        reported.number = had.number;
        reported.name = had.name;
        reported.x = had.x;
        reported.y = had.y;
        reported.width = had.width;
        reported.height = had.height;
        tiles.append(reported);
    }
    change(ldms, tiles);
    display.clearOutputConfig();
    for (const Tile& tile : std::as_const(tiles))
        display.addTile(tile);
    for (const Macropixel& ldm : std::as_const(ldms))
        display.addLdm(ldm);
    display.finishOutputConfig();
}

} // namespace

TEST_F(WallRebuild, AnUnchangedWallKeepsWhatWasMeasuredAndChosenAndAChangedOneStartsOver)
{
    using Records = std::function<void(QList<Macropixel>&, QList<Tile>&)>;
    struct Case
    {
        const char* name;
        Records change;
        bool kept;
    };
    const std::vector<Case> cases = {
        {"the same wall", [](QList<Macropixel>&, QList<Tile>&) {}, true},
        {"an LDM moved", [](QList<Macropixel>& ldms, QList<Tile>&) { ldms[3].x += 1.0f; }, false},
        {"an LDM resized", [](QList<Macropixel>& ldms, QList<Tile>&) { ldms[3].height -= 1.0f; }, false},
        {"an LDM renumbered",
         [](QList<Macropixel>& ldms, QList<Tile>&) { std::swap(ldms[0].number, ldms[1].number); }, false},
        {"an LDM on another receiver", [](QList<Macropixel>& ldms, QList<Tile>&) { ldms[3].name = "other"; }, false},
        {"an LDM fewer", [](QList<Macropixel>& ldms, QList<Tile>&) { ldms.removeLast(); }, false},
        {"a tile moved", [](QList<Macropixel>&, QList<Tile>& tiles) { tiles[1].y += 1.0f; }, false},
        {"a tile more", [](QList<Macropixel>&, QList<Tile>& tiles) { tiles.append(tiles.last()); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestDisplay display;
        display.buildWall(2, 1, 2, 100); // 2 tiles of 2 x 2 LDMs: 1-4 in the first, 5-8 in the second
        display.selectTiles(QPoint(150, 50), QPoint(160, 60));
        display.lightSelectedTiles(); // the first tile dark
        display.ldm(7).adjustable = false;
        display.setLdmRGB(6, 0.5, 0.75, 0.25);
        display.setLdmRGBObserved(6, 150, 175, 150);
        ASSERT_FALSE(display.tileLit(1));
        ASSERT_FALSE(display.ldmIsLit(1));

        rebuild(display, c.change);

        EXPECT_EQ(display.ldmRedObserved(6), c.kept ? 150.0 : 0.0);
        EXPECT_EQ(display.ldmGreenObserved(6), c.kept ? 175.0 : 0.0);
        EXPECT_EQ(display.ldmAdjustable(7), !c.kept);
        EXPECT_EQ(display.ldmIsLit(1), !c.kept);
        EXPECT_EQ(display.tileLit(1), !c.kept);
        // The gains are the device's: this one reports none.
        EXPECT_EQ(display.ldmRedGain(6), 0.0);
    }
}

TEST_F(WallRebuild, TheSimulatedDisplayKeepsTheGainsSetOnItAsAProcessorWould)
{
    SimulatedDisplay display;
    ASSERT_TRUE(display.fetchOutputConfig().ok());
    ASSERT_TRUE(display.setLdmRGB(5, 0.5, 0.75, 0.25).ok());
    ASSERT_TRUE(display.setLdmRGB(6, 0.9, 0.8, 0.7, -1.0).ok()); // switched dark
    display.setLdmRGBObserved(5, 150, 175, 150);
    const QString fifth = display.dumpLdm(5);
    ASSERT_EQ(fifth, "LDM    5: 12:34:56:78:9A:BC #1 @ 1400,   50;  rgbi gains  0.500,  0.750,  0.250,  0.000;  "
                     "RGB 150.00, 175.00, 150.00");
    const QString sixth = display.dumpLdm(6);

    ASSERT_TRUE(display.fetchOutputConfig().ok());

    EXPECT_EQ(display.dumpLdm(5), fifth);
    EXPECT_EQ(display.dumpLdm(6), sixth);
    EXPECT_EQ(display.ldmIntensityGain(6), -1.0);
    EXPECT_EQ(display.dumpLdm(7), "LDM    7: 12:34:56:78:9A:BC #3 @ 1600,   50;  rgbi gains  0.000,  0.000,  0.000,  "
                                  "0.000;  RGB   0.00,   0.00,   0.00");
}
