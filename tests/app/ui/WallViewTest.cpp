// The wall view of the main window: what it draws, read back from the rendered window, and what
// clicks and drags on it do, through the real interface over the real controller.
#include "support/DisplayInUse.h"
#include "support/InterfaceFixture.h"
#include "support/ProcessorSimulator.h"
#include "support/TestDisplay.h"

#include "display/DisplayBase.h"
#include "display/Kestra.h"
#include "shell/Velotrimmer.h"

#include <QColor>
#include <QImage>
#include <QJSEngine>
#include <QSettings>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

namespace {

// A wall that is no regular grid, 1000 pixels right of and 50 below the wall's origin: a tile of
// 2 x 2 LDMs of 100 pixels, a gap of 60, a tile of 3 x 1 LDMs of 100 x 150, and below, past a gap
// of 40, a smaller tile of 3 x 3 LDMs of 40 pixels.
//   LDMs 1-4:  (1000, 50) (1100, 50) (1000, 150) (1100, 150), 100 x 100
//   LDMs 5-7:  (1260, 50) (1360, 50) (1460, 50), 100 x 150
//   LDMs 8-16: (1000 + 40 c, 290 + 40 r), 40 x 40
class IrregularWall : public TestDisplay
{
public:
    IrregularWall() { fetchOutputConfig(); }

    ErrorType fetchOutputConfig() override
    {
        clearOutputConfig();
        addTileOf(1000, 50, 2, 2, 100, 100);
        addTileOf(1260, 50, 3, 1, 100, 150);
        addTileOf(1000, 290, 3, 3, 40, 40);
        finishOutputConfig();
        return {};
    }

private:
    void addTileOf(float x, float y, int across, int down, float width, float height)
    {
        Tile tile;
        tile.x = x;
        tile.y = y;
        tile.width = float(across) * width;
        tile.height = float(down) * height;
        addTile(tile);
        for (int row = 0; row < down; ++row) {
            for (int column = 0; column < across; ++column) {
                Macropixel ldm(0, x + float(column) * width, y + float(row) * height, width, height);
                ldm.tileNumber = quint32(tileList().size());
                addLdm(ldm);
            }
        }
    }
};

class WallViewScreen : public InterfaceFixture
{
protected:
    QQuickItem* grid() const { return item("wallGrid"); }
    QQuickItem* scroll() const { return item("wallScroll"); }
    double zoom() const { return grid()->property("zoom").toDouble(); }

    // A wall pixel as a point of the grid.
    QPointF onGrid(QPointF wall) const
    {
        const DisplayBase* display = m_controller->display();
        return (wall - QPointF(display->minX(), display->minY())) * zoom();
    }
    // Scrolls the view so that a wall pixel is in its middle (or as near as the view goes).
    void centreOn(QPointF wall)
    {
        const QPointF at = onGrid(wall);
        QQuickItem* view = scroll();
        const double limitX = std::max(0.0, view->property("contentWidth").toDouble() - view->width());
        const double limitY = std::max(0.0, view->property("contentHeight").toDouble() - view->height());
        view->setProperty("contentX", std::clamp(at.x() - view->width() / 2, 0.0, limitX));
        view->setProperty("contentY", std::clamp(at.y() - view->height() / 2, 0.0, limitY));
    }
    QPoint inWindow(QPointF wall) const { return grid()->mapToScene(onGrid(wall)).toPoint(); }

    void setZoom(double zoom)
    {
        scroll()->setProperty("zoom", zoom);
        ASSERT_TRUE(waitUntil([&] { return std::abs(this->zoom() - zoom) < 1e-9; }, 2000));
    }
    void clickWall(QPointF wall)
    {
        centreOn(wall);
        QTest::mouseClick(window(), Qt::LeftButton, {}, inWindow(wall));
    }
    void dragWall(QPointF from, QPointF to)
    {
        centreOn((from + to) / 2);
        drag(grid(), onGrid(from), onGrid(to));
    }
    // The window rendered and read back at a wall pixel.
    QColor shownAt(QPointF wall) const { return renderedAt(window(), QPointF(inWindow(wall))); }
    // Switches to the irregular wall and waits until the view shows it.
    void showIrregularWall(int mode)
    {
        enterMode(mode);
        ASSERT_TRUE(waitUntil([&] { return grid()->property("wallWidth").toInt() == 560; }, 5000));
        ASSERT_TRUE(waitForFrame());
    }
};

void expectColour(const QColor& shown, QRgb expected, const char* what)
{
    const QColor wanted = QColor::fromRgb(expected);
    EXPECT_LE(std::abs(shown.red() - wanted.red()), 1) << what << ": " << shown.name().toStdString();
    EXPECT_LE(std::abs(shown.green() - wanted.green()), 1) << what << ": " << shown.name().toStdString();
    EXPECT_LE(std::abs(shown.blue() - wanted.blue()), 1) << what << ": " << shown.name().toStdString();
}

// ---- Colours -------------------------------------------------------------------------------------

struct ColourCase
{
    const char* name;
    const char* show; // the "Show" choice
    bool lit;
    bool adjustable;
    double observed[3];
    double gains[3];
    QRgb fill;  // expected inside the LDM
    QRgb frame; // expected on its outermost pixels
};

void PrintTo(const ColourCase& c, std::ostream* os)
{
    *os << c.name;
}

class WallColours : public WallViewScreen, public ::testing::WithParamInterface<ColourCase>
{
};

// The balance target is (100, 200, 100) in every case; an error colour is mid-grey on target,
// brighter above it and darker below, 0.5 of the range per 100 %.
TEST_P(WallColours, FollowTheLdmsObservedValuesGainsAndErrors)
{
    const ColourCase& c = GetParam();
    loadBench();
    enterMode(1);
    Velotrimmer& velotrimmer = controller();
    velotrimmer.setBalanceTargetRed(100.0);
    velotrimmer.setBalanceTargetGreen(200.0);
    velotrimmer.setBalanceTargetBlue(100.0);
    // A quarter of the wall's pixels: the demonstration wall's LDMs of 100 pixels on whole pixels.
    setZoom(0.25);
    click(item(QString("show") + c.show));

    DisplayBase* display = velotrimmer.display();
    constexpr uint number = 20;
    Macropixel& ldm = display->ldm(number);
    ldm.lit = c.lit;
    ldm.adjustable = c.adjustable;
    ldm.redObserved = c.observed[0];
    ldm.greenObserved = c.observed[1];
    ldm.blueObserved = c.observed[2];
    ldm.redGain = c.gains[0];
    ldm.greenGain = c.gains[1];
    ldm.blueGain = c.gains[2];
    emit display->ldmDataChanged();

    const QPointF topLeft(ldm.x, ldm.y);
    expectColour(shownAt(topLeft + QPointF(ldm.width / 2, ldm.height / 2)), c.fill, "fill");
    expectColour(shownAt(topLeft + QPointF(0.0, ldm.height / 2)), c.frame, "left edge");
    expectColour(shownAt(topLeft + QPointF(ldm.width - 1 / zoom(), ldm.height / 2)), c.frame, "right edge");
    expectNoWarnings();
}

INSTANTIATE_TEST_SUITE_P(
    Views, WallColours,
    ::testing::Values(
        ColourCase{"ImagesShowTheObservedColour", "Images", true, true, {10, 200, 30}, {0.3, 0, 0}, 0xff0ac81e, 0xffffffff},
        ColourCase{"ImagesRoundAndLimitTheObservedValues", "Images", true, false, {12.6, 300, -5}, {0, 0, 0}, 0xff0dff00, 0xff707070},
        ColourCase{"GainsAreMidGreyUnchangedBrighterRaised", "Gains", true, true, {10, 200, 30}, {0, 0.5, -0.6}, 0xff80bf33, 0xffffffff},
        ColourCase{"GainsBeyondTheRangeAreLimited", "Gains", true, true, {0, 0, 0}, {1.5, -1.5, 1}, 0xffff00ff, 0xffffffff},
        ColourCase{"ErrorsAgainstTheTarget", "Errors", true, false, {100, 250, 60}, {0, 0, 0}, 0xff80bf1a, 0xff707070},
        ColourCase{"ADarkLdmIsDarkInEveryView", "Gains", false, false, {10, 200, 30}, {0.5, 0.5, 0.5}, 0xff101010, 0xff282828},
        ColourCase{"ADarkLdmStillAdjustableKeepsItsWhiteFrame", "Images", false, true, {10, 200, 30}, {0, 0, 0}, 0xff101010, 0xffffffff}),
    [](const ::testing::TestParamInfo<ColourCase>& info) { return std::string(info.param.name); });

// ---- Clicks and drags ------------------------------------------------------------------------------

struct InputCase
{
    const char* name;
    int mode; // 1 balance (LDMs), 2 template (tiles)
    double zoom;
};

void PrintTo(const InputCase& c, std::ostream* os)
{
    *os << c.name;
}

class WallInput : public WallViewScreen, public ::testing::WithParamInterface<InputCase>
{
};

TEST_P(WallInput, ClicksAndDragsFindTheLdmsAndTilesOfAnIrregularWall)
{
    const InputCase& c = GetParam();
    const bool tiles = c.mode == 2;
    loadBench();
    IrregularWall wall;
    DisplayInUse inUse(controller(), wall);
    showIrregularWall(c.mode);
    setZoom(c.zoom);
    Velotrimmer& velotrimmer = controller();

    // A click in "Get data" mode shows the record under it; a click in a gap shows nothing.
    click(item("dragMode_dat"));
    struct Click
    {
        QPointF at;
        uint ldm;
        uint tile;
    };
    for (const Click& k : {Click{{1050, 100}, 1, 1}, Click{{1190, 240}, 4, 1}, Click{{1230, 100}, 0, 0},
                           Click{{1410, 190}, 6, 2}, Click{{1100, 350}, 13, 3}, Click{{1045, 375}, 15, 3},
                           Click{{1300, 350}, 0, 0}, Click{{1520, 250}, 0, 0}}) {
        velotrimmer.setStatusString("nothing chosen");
        clickWall(k.at);
        const uint number = tiles ? k.tile : k.ldm;
        const QString expected = number == 0 ? QString("nothing chosen")
                                 : tiles     ? wall.dumpTile(number)
                                             : wall.dumpLdm(number);
        EXPECT_TRUE(velotrimmer.statusString().startsWith(expected))
            << "click at " << k.at.x() << ", " << k.at.y() << ": " << velotrimmer.statusString().toStdString();
    }

    // A drag in "light" mode, either way, lights what it touches: LDMs in balance, whole tiles in
    // template mode.
    click(item("dragMode_lit"));
    struct Drag
    {
        QPointF from;
        QPointF to;
        std::set<uint> ldms;
        std::set<uint> tiles;
    };
    for (const Drag& d : {Drag{{1150, 170}, {1300, 110}, {2, 4, 5}, {1, 2}},
                          Drag{{1110, 300}, {1050, 340}, {9, 10, 12, 13}, {3}},
                          Drag{{1550, 400}, {1500, 300}, {}, {}}}) {
        for (const bool backwards : {false, true}) {
            dragWall(backwards ? d.to : d.from, backwards ? d.from : d.to);
            const std::set<uint>& expected = tiles ? d.tiles : d.ldms;
            const uint count = tiles ? wall.tileCount() : wall.ldmCount();
            std::set<uint> lit;
            for (uint n = 1; n <= count; ++n) {
                if (tiles ? wall.tileLit(n) : wall.ldmIsLit(n))
                    lit.insert(n);
            }
            // A drag over nothing selects nothing; the wall stays as the last drag left it.
            if (!expected.empty())
                EXPECT_EQ(lit, expected) << "drag from " << d.from.x() << ", " << d.from.y() << (backwards ? " backwards" : "");
            else
                EXPECT_TRUE(lit.empty()) << "drag over the empty corner lit " << lit.size();
        }
    }
    expectNoWarnings();
}

INSTANTIATE_TEST_SUITE_P(Zooms, WallInput,
                         ::testing::Values(InputCase{"LdmsAtHalfScale", 1, 0.5}, InputCase{"LdmsMagnified", 1, 1.6},
                                           InputCase{"TilesAtHalfScale", 2, 0.5}, InputCase{"TilesMagnified", 2, 1.6}),
                         [](const ::testing::TestParamInfo<InputCase>& info) { return std::string(info.param.name); });

// ---- The simulated camera's readings -----------------------------------------------------------------

// The dummy camera's readings of the lit LDMs: a level per channel that follows the LDM's gain,
// spread per LDM by a fixed hash, as the interface has always computed them (the formula below
// is evaluated by the QML engine's JavaScript, as it was before).
TEST_F(WallViewScreen, TheSimulatedCameraReadsEveryLitLdmAtOnce)
{
    loadBench();
    enterMode(1);
    Velotrimmer& velotrimmer = controller();
    constexpr double variation = 0.05;
    velotrimmer.setFakeLdmVariation(variation);
    DisplayBase* display = velotrimmer.display();
    display->ldm(7).redGain = 0.25;
    display->ldm(7).blueGain = -0.5;
    display->ldm(9).lit = false;
    display->setLdmRGBObserved(9, 1, 2, 3);
    emit display->needFakeLdmRGBsChanged();

    QJSEngine js;
    const QJSValue reading = js.evaluate(
        "(function(number, channel, level, gain, variation) {"
        "  const s = Math.sin(number * 12.9898 + channel * 78.233) * 43758.5453;"
        "  const spread = (s - Math.floor(s)) * 2 - 1;"
        "  return Math.max(0, level * (1 + gain) * (1 + variation * spread)); })");
    for (uint n = 1; n <= display->ldmCount(); ++n) {
        if (n == 9)
            continue;
        const double levels[] = {150, 175, 150};
        const double gains[] = {display->ldmRedGain(n), display->ldmGreenGain(n), display->ldmBlueGain(n)};
        const double observed[] = {display->ldmRedObserved(n), display->ldmGreenObserved(n), display->ldmBlueObserved(n)};
        for (int channel = 0; channel < 3; ++channel) {
            const double expected = reading.call({int(n), channel, levels[channel], gains[channel], variation}).toNumber();
            EXPECT_NEAR(observed[channel], expected, 1e-9) << "LDM " << n << " channel " << channel;
        }
    }
    EXPECT_DOUBLE_EQ(display->ldmRedObserved(9), 1.0);
    EXPECT_DOUBLE_EQ(display->ldmBlueObserved(9), 3.0);
    // The view shows the new readings without another announcement.
    expectColour(shownAt(QPointF(display->ldmX(7) + 50, display->ldmY(7) + 50)),
                 qRgb(int(std::lround(display->ldmRedObserved(7))), int(std::lround(display->ldmGreenObserved(7))),
                      int(std::lround(display->ldmBlueObserved(7)))),
                 "LDM 7");
    expectNoWarnings();
}

// ---- A layout that arrives late -------------------------------------------------------------------

// After a restart in a uniformity mode the processor's layout arrives with the first poll, well
// after the interface has fitted its empty wall: the view fits the wall that arrives, and keeps
// the operator's zoom when the same layout is read again.
TEST_F(WallViewScreen, FitsTheWallWhenTheProcessorsLayoutArrivesLate)
{
    using Reply = ProcessorSimulator::Reply;
    ProcessorSimulator processor;
    processor.allowAnonymous();
    processor.setRoute("GET", ProcessorSimulator::kStatusTarget, Reply::json(ProcessorSimulator::status()));
    processor.setRoute("GET", ProcessorSimulator::kLayoutTarget,
                       Reply::json(ProcessorSimulator::meshTiles(8, 160, 80, 4, 2, 4)));
    // The processor's address is known from the last run; its layout comes with the first poll.
    QSettings settings;
    settings.setValue("mode", 1);
    settings.setValue("output", false);
    settings.setValue(QStringLiteral("KESTRA") + DisplayBase::addressKeySuffix, QString::fromStdString(processor.address()));
    settings.sync();
    load();
    Velotrimmer& velotrimmer = controller();
    ASSERT_TRUE(velotrimmer.display()->isKestra());
    EXPECT_EQ(velotrimmer.kestra()->address(), QString::fromStdString(processor.address()));
    velotrimmer.pollDevices();
    ASSERT_EQ(velotrimmer.kestra()->ldmCount(), 64u);

    // Fitted: the whole wall (640 x 160) in view, filling it one way.
    QQuickItem* view = scroll();
    const auto fitted = [&] {
        const double fit = std::min((view->width() - 4) / 640.0, (view->height() - 4) / 160.0);
        return std::abs(zoom() - fit) < 1e-9;
    };
    ASSERT_TRUE(waitUntil(fitted, 5000)) << "zoom " << zoom() << " in a view of " << view->width() << " x "
                                         << view->height();
    EXPECT_LE(grid()->width(), view->width());

    clickMenuItem("zoomInItem");
    const double chosen = zoom();
    EXPECT_GT(chosen, 0.0);
    EXPECT_FALSE(fitted());
    // The layout read again reaches the view at its next frame, and a fit would follow at once.
    const int revision = grid()->property("layoutRevision").toInt();
    velotrimmer.pollDevices();
    ASSERT_TRUE(waitUntil([&] { return grid()->property("layoutRevision").toInt() > revision; }, 5000));
    ASSERT_TRUE(waitForFrame());
    EXPECT_DOUBLE_EQ(zoom(), chosen);
    expectNoWarnings();
}

// ---- The bench's wall ----------------------------------------------------------------------------

struct DragCase
{
    const char* name;
    double zoom;
    bool backwards; // from bottom-right to top-left
};

void PrintTo(const DragCase& c, std::ostream* os)
{
    *os << c.name;
}

class WallDrag : public InterfaceFixture, public ::testing::WithParamInterface<DragCase>
{
};

TEST_P(WallDrag, LightsExactlyTheLdmsUnderItAndTheyStayLitAfterAPoll)
{
    const DragCase& c = GetParam();
    loadBench();
    enterMode(1);
    DisplayBase* display = controller().display();
    QQuickItem* scroll = item("wallScroll");
    QQuickItem* grid = item("wallGrid");
    scroll->setProperty("zoom", c.zoom);
    EXPECT_DOUBLE_EQ(grid->property("zoom").toDouble(), c.zoom);

    // Wall pixels (the wall starts at x 1000): inside LDM (column 2, row 1) to inside (4, 3).
    const int originX = display->minX();
    const int originY = display->minY();
    const QPointF topLeft((1250 - originX) * c.zoom, (180 - originY) * c.zoom);
    const QPointF bottomRight((1430 - originX) * c.zoom, (360 - originY) * c.zoom);
    drag(grid, c.backwards ? bottomRight : topLeft, c.backwards ? topLeft : bottomRight);

    auto expectLit = [&](const char* when) {
        uint lit = 0;
        for (uint n = 1; n <= display->ldmCount(); ++n) {
            const int x = display->ldmX(n);
            const int y = display->ldmY(n);
            const bool under = x + 100 > 1250 && x < 1430 && y + 100 > 180 && y < 360;
            EXPECT_EQ(display->ldmIsLit(n), under) << when << ": LDM " << n << " at " << x << "," << y;
            EXPECT_EQ(display->ldmAdjustable(n), under) << when << ": LDM " << n;
            lit += under ? 1 : 0;
        }
        EXPECT_EQ(lit, 9u) << when;
        EXPECT_EQ(display->litLdmCount(), 9u) << when;
    };
    expectLit("after the drag");
    controller().pollDevices();
    expectLit("after the poll");
    expectNoWarnings();
}

INSTANTIATE_TEST_SUITE_P(Drags, WallDrag,
                         ::testing::Values(DragCase{"QuarterScaleForwards", 0.25, false},
                                           DragCase{"QuarterScaleBackwards", 0.25, true},
                                           DragCase{"HalfScaleForwards", 0.5, false},
                                           DragCase{"HalfScaleBackwards", 0.5, true}),
                         [](const ::testing::TestParamInfo<DragCase>& info) { return std::string(info.param.name); });

TEST_F(WallViewScreen, TheWallViewsFollowNewLdmDataAndAHiddenOneCatchesUpWhenShown)
{
    loadBench();
    enterMode(1);
    DisplayBase* display = controller().display();
    QQuickItem* mainGrid = item("wallGrid");
    auto* simulated = qobject_cast<QQuickWindow*>(find("simulatedDisplayWindow"));
    ASSERT_FALSE(simulated->isVisible());

    display->setLdmRGBObserved(20, 10, 200, 30);
    // A window grabbed is polished first: the view reads what changed before it is drawn.
    emit display->ldmDataChanged();
    EXPECT_EQ(ldmFill(mainGrid, display, 20), QColor(10, 200, 30));

    clickMenuItem("simulatedDisplayItem");
    ASSERT_TRUE(QTest::qWaitForWindowExposed(simulated));
    QQuickItem* simulatedGrid = nullptr;
    for (QObject* object : allObjects(simulated)) {
        if (object->property("layoutRevision").isValid())
            simulatedGrid = qobject_cast<QQuickItem*>(object);
    }
    ASSERT_NE(simulatedGrid, nullptr);
    EXPECT_EQ(ldmFill(simulatedGrid, display, 20), QColor(10, 200, 30));

    // Both follow the next data while shown.
    display->setLdmRGBObserved(20, 90, 90, 90);
    emit display->ldmDataChanged();
    EXPECT_EQ(ldmFill(mainGrid, display, 20), QColor(90, 90, 90));
    EXPECT_EQ(ldmFill(simulatedGrid, display, 20), QColor(90, 90, 90));
    expectNoWarnings();
}

} // namespace
