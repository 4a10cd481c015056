// Mesh registration end to end: the controller built as the program builds it, the processor
// driver in front of a loopback processor that records the test patterns, and the scripted camera
// photographing the wall as those patterns light it, through the grabber and the tile grader on
// their threads.
#include "support/ControllerFixture.h"
#include "support/DisplayInUse.h"
#include "support/FakeCamera.h"
#include "support/ProcessorSimulator.h"
#include "support/ScopedTempFolder.h"

#include "display/Kestra.h"
#include "engine/Background.h"
#include "engine/TileGrader.h"
#include "instruments/CameraController.h"
#include "shell/TileGraderRelay.h"

#include <QImage>
#include <QPainter>
#include <QTimer>

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace {

using Reply = ProcessorSimulator::Reply;
using Pattern = ProcessorSimulator::TestPattern;

// A wall of 4 x 3 tiles of 480 x 270 pixels (each of 4 x 3 LDMs), photographed whole with a dark
// margin around it. With 16 x 9 mesh cells per tile a cell is 30 x 30 pixels.
constexpr unsigned TilesAcross = 4;
constexpr unsigned TilesDown = 3;
constexpr unsigned TileWidth = 480;
constexpr unsigned TileHeight = 270;
constexpr int WallWidth = int(TilesAcross * TileWidth);
constexpr int WallHeight = int(TilesDown * TileHeight);
constexpr int Margin = 40;
constexpr int CellsAcross = 16; // per tile
constexpr int CellsDown = 9;
constexpr int CellSize = 30;
constexpr int CameraStepWaitMs = 5000;
constexpr int RegistrationWaitMs = 60000;

// What the camera sees: black, the white wall, or the wall's markers one per cell of the grid the
// processor was last asked for; gridCell overrides the cell size (a wall that shows another grid
// than asked), missing leaves one marker out (column, row of the whole wall's grid). A camera
// pointed elsewhere sees black whatever the wall shows.
class WallCamera
{
public:
    WallCamera(const ProcessorSimulator& processor, int gridCell, std::optional<std::pair<int, int>> missing,
               bool pointedAtWall = true)
        : m_processor(processor)
        , m_gridCell(gridCell)
        , m_missing(missing)
        , m_pointedAtWall(pointedAtWall)
    {
    }

    QImage photo() const
    {
        QImage photo(WallWidth + 2 * Margin, WallHeight + 2 * Margin, QImage::Format_RGB32);
        photo.fill(Qt::black);
        const std::vector<Pattern> patterns = m_processor.testPatterns();
        const Pattern shown = patterns.empty() || !m_pointedAtWall ? Pattern{} : patterns.back();
        QPainter painter(&photo);
        if (shown.mode == 1)
            painter.fillRect(Margin, Margin, WallWidth, WallHeight, Qt::white);
        if (shown.mode == 2) {
            const int cellWidth = m_gridCell ? m_gridCell : shown.width;
            const int cellHeight = m_gridCell ? m_gridCell : shown.height;
            // The wall's outline is what the white pattern showed; the markers lie inside it.
            for (int row = 0; (row + 1) * cellHeight <= WallHeight; ++row) {
                for (int column = 0; (column + 1) * cellWidth <= WallWidth; ++column) {
                    if (m_missing && *m_missing == std::pair(column, row))
                        continue;
                    painter.fillRect(Margin + column * cellWidth + cellWidth / 3, Margin + row * cellHeight + cellHeight / 3,
                                     cellWidth / 3, cellHeight / 3, Qt::white);
                }
            }
        }
        return photo;
    }

private:
    const ProcessorSimulator& m_processor;
    int m_gridCell;
    std::optional<std::pair<int, int>> m_missing;
    bool m_pointedAtWall;
};

class ControllerRegistration : public ControllerFixture
{
protected:
    void SetUp() override
    {
        ControllerFixture::SetUp();
        processor.allowAnonymous();
        processor.acceptUpdates();
        processor.setRoute("GET", ProcessorSimulator::kStatusTarget, Reply::json(ProcessorSimulator::status()));
        processor.setRoute("GET", ProcessorSimulator::kLayoutTarget,
                           Reply::json(ProcessorSimulator::meshTiles(TilesAcross * TilesDown, TileWidth, TileHeight, 4,
                                                                     3, TilesAcross)));
    }

    // The controller with the camera connected and the processor's wall as its display, its
    // waits shortened.
    Velotrimmer& start(const WallCamera& camera, uint meshWidth, uint meshHeight)
    {
        fake->setShotDrawer([&camera] { return camera.photo(); });
        Velotrimmer& velotrimmer = build();
        velotrimmer.setColorimeter(velotrimmer.dummyColorimeter());
        velotrimmer.setTileMeshWidth(meshWidth);
        velotrimmer.setTileMeshHeight(meshHeight);
        Kestra& kestra = *velotrimmer.kestra();
        kestra.setAddress(QString::fromStdString(processor.address()));
        EXPECT_TRUE(kestra.fetchOutputConfig().ok());
        inUse.emplace(velotrimmer, kestra);
        EXPECT_EQ(kestra.litTileCount(), TilesAcross * TilesDown);
        Background* background = velotrimmer.background();
        QMetaObject::invokeMethod(
            background,
            [background] {
                Background::Timing quick;
                quick.firstAttemptPauseMs = 10;
                quick.pauseStepMs = 200;
                background->setTiming(quick);
            },
            Qt::BlockingQueuedConnection);
        velotrimmer.setRegistrationTiming({20, 20, 20});
        EXPECT_TRUE(waitUntil([&] { return fake->setUpDone(*velotrimmer.cameraController()); }, CameraStepWaitMs));
        return velotrimmer;
    }

    std::optional<cv::Mat> meshLocations()
    {
        std::optional<cv::Mat> locations;
        TileGrader* grader = controller().tileGrader();
        QMetaObject::invokeMethod(
            controller().background(), [&] { locations = grader->meshLocations(); }, Qt::BlockingQueuedConnection);
        return locations;
    }

    void TearDown() override
    {
        inUse.reset();
        destroy(); // the camera goes before the fake it is connected to
        ControllerFixture::TearDown();
    }

    ScopedTempFolder temp;
    InstalledFakeCamera fake;
    ProcessorSimulator processor;
    std::optional<DisplayInUse> inUse;
};

struct RegistrationCase
{
    const char* name;
    uint meshWidth;
    uint meshHeight;
    int gridCell; // 0: the wall shows the grid asked for
    std::optional<std::pair<int, int>> missing;
    bool pointedAtWall;
    const char* statusText;
    int status;
    bool stored;
};

void PrintTo(const RegistrationCase& test, std::ostream* os)
{
    *os << test.name;
}

class Registration : public ControllerRegistration, public ::testing::WithParamInterface<RegistrationCase>
{
};

TEST_P(Registration, EndsWithTheOutcomeAndThePatternOff)
{
    const RegistrationCase& test = GetParam();
    const WallCamera camera(processor, test.gridCell, test.missing, test.pointedAtWall);
    Velotrimmer& velotrimmer = start(camera, test.meshWidth, test.meshHeight);

    velotrimmer.runMeshRegistration();

    ASSERT_TRUE(waitUntil([&] { return velotrimmer.status() != 0; }, RegistrationWaitMs));
    EXPECT_EQ(velotrimmer.statusString(), QString::fromUtf8(test.statusText));
    EXPECT_EQ(velotrimmer.status(), test.status);
    EXPECT_FALSE(velotrimmer.running());
    const int cellWidth = int(TileWidth / test.meshWidth);
    const int cellHeight = int(TileHeight / test.meshHeight);
    const std::vector<Pattern> expected = test.pointedAtWall ? std::vector<Pattern>{{1}, {2, cellWidth, cellHeight}, {0}}
                                                             : std::vector<Pattern>{{1}, {0}};
    EXPECT_EQ(processor.testPatterns(), expected);
    if (test.pointedAtWall) {
        EXPECT_EQ(fake->downloads().size(), 2);
    }
    // The grader announced the array the captures described.
    EXPECT_TRUE(velotrimmer.tileGraderSectionsWereUpdated());
    EXPECT_TRUE(velotrimmer.tileGraderAspectRatioWasUpdated());

    const std::optional<cv::Mat> locations = meshLocations();
    ASSERT_EQ(locations.has_value(), test.stored);
    if (test.stored) {
        EXPECT_EQ(locations->rows, int(TilesDown) * CellsDown);
        EXPECT_EQ(locations->cols, int(TilesAcross) * CellsAcross);
        // The first cell's centre, in the screen image of the wall.
        const cv::Vec2f first = locations->at<cv::Vec2f>(0, 0);
        EXPECT_NEAR(first[0], CellSize / 2.0, 2.0);
        EXPECT_NEAR(first[1], CellSize / 2.0, 2.0);
        EXPECT_TRUE(waitUntil([&] { return velotrimmer.graderRelay()->hasMeshLocations(); }, CameraStepWaitMs));
    }
}

INSTANTIATE_TEST_SUITE_P(
    MarkersOnTheWall, Registration,
    ::testing::Values(RegistrationCase{"OneMarkerPerCell", CellsAcross, CellsDown, 0, std::nullopt, true,
                                       "Cell locations acquired", 1, true},
                      RegistrationCase{"MissingMarker", CellsAcross, CellsDown, 0, std::pair(5, 4), true,
                                       "Failed to identify cell locations", -1, false},
                      RegistrationCase{"WrongGridSize", CellsAcross - 1, CellsDown, CellSize, std::nullopt, true,
                                       "Incorrect cell locations", -1, false},
                      RegistrationCase{"NoWallInSight", CellsAcross, CellsDown, 0, std::nullopt, false,
                                       "Failed to capture image", -1, false}),
    [](const ::testing::TestParamInfo<RegistrationCase>& info) { return std::string(info.param.name); });

// A stop while the wall settles ends the registration there: no photo, the pattern off.
TEST_F(ControllerRegistration, AStopDuringAWaitEndsItCancelledWithoutCapturing)
{
    const WallCamera camera(processor, 0, std::nullopt);
    Velotrimmer& velotrimmer = start(camera, CellsAcross, CellsDown);
    velotrimmer.setRegistrationTiming({RegistrationWaitMs, RegistrationWaitMs, RegistrationWaitMs});
    QTimer::singleShot(100, &velotrimmer, [&] { velotrimmer.setRunning(false); });

    velotrimmer.runMeshRegistration();

    EXPECT_EQ(velotrimmer.statusString(), QStringLiteral("Cell location cancelled"));
    EXPECT_EQ(velotrimmer.status(), -1);
    EXPECT_FALSE(velotrimmer.running());
    EXPECT_TRUE(fake->downloads().isEmpty());
    const std::vector<Pattern> expected{{1}, {0}};
    EXPECT_EQ(processor.testPatterns(), expected);
}

// With the dummy camera no tile capture can start: the registration ends at once instead of
// leaving the controller busy.
TEST_F(ControllerRegistration, ACaptureThatCannotStartEndsIt)
{
    const WallCamera camera(processor, 0, std::nullopt);
    Velotrimmer& velotrimmer = start(camera, CellsAcross, CellsDown);
    velotrimmer.switchCamera();
    ASSERT_EQ(velotrimmer.imageSource(), velotrimmer.dummyCamera());

    velotrimmer.runMeshRegistration();

    EXPECT_EQ(velotrimmer.statusString(), QStringLiteral("Failed to capture image"));
    EXPECT_EQ(velotrimmer.status(), -1);
    EXPECT_FALSE(velotrimmer.running());
    const std::vector<Pattern> expected{{1}, {0}};
    EXPECT_EQ(processor.testPatterns(), expected);
}

} // namespace
