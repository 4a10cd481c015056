#include "support/ControllerFixture.h"
#include "support/DisplayInUse.h"
#include "support/TestDisplay.h"
#include "support/WallCamera.h"

#include "display/DisplayBase.h"
#include "display/Kestra.h"
#include "engine/Background.h"
#include "instruments/CameraController.h"
#include "instruments/camera/DeviceProperty.h"
#include "support/FakeCamera.h"
#include "support/ModelWallObserver.h"
#include "support/ProcessorSimulator.h"
#include "support/ProcessorWall.h"
#include "support/MessageCapture.h"
#include "support/QtPrinters.h"
#include "support/ScopedTempFolder.h"

#include <opencv2/core.hpp>

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr int CameraWaitMs = 10000;
// The grabber's wait for a photo where the camera delivers none, so that its tries run out soon.
constexpr int NoPhotoWaitMs = 1500;
// What a JPEG photo of a flat patch, averaged by the grader, may differ from the colour drawn.
constexpr double PhotoTolerance = 6.0;

// A distinct colour for every LDM (BGR), well inside the camera's range.
cv::Scalar drawnColour(quint32 number)
{
    return cv::Scalar(40.0 + 17.0 * number, 210.0 - 13.0 * number, 90.0 + 11.0 * (number % 5));
}

// Counts the grabber's replies on the test's thread.
class ReplyCounter : public QObject
{
public:
    explicit ReplyCounter(Background* background)
    {
        QObject::connect(background, &Background::grabImageDataDone, this,
                         [this](bool success, QList<cv::Mat*>*) { successes.push_back(success); });
    }
    std::vector<bool> successes;
};

class ControllerGrab : public ControllerFixture
{
protected:
    void TearDown() override
    {
        ControllerFixture::TearDown();
        if (HasFailure())
            std::cout << "Log:\n" << log.messages().join('\n').toStdString() << std::endl;
    }

    // The controller as the program builds it, its camera (the scripted one) connected, done
    // applying its set-up, and the grabber's waits short.
    Velotrimmer& buildWithCamera()
    {
        Velotrimmer& velotrimmer = build();
        quickGrabTiming();
        replies = std::make_unique<ReplyCounter>(velotrimmer.background());
        EXPECT_EQ(velotrimmer.imageSource(), velotrimmer.cameraController());
        EXPECT_TRUE(waitUntil([&] { return fake->setUpDone(*velotrimmer.cameraController()); }, CameraWaitMs));
        return velotrimmer;
    }

    bool waitForReplies(size_t count, int limitMs = WaitLimitMs)
    {
        return waitUntil([&] { return replies && replies->successes.size() >= count; }, limitMs);
    }

    static void expectObserved(DisplayBase& display, const std::function<cv::Scalar(quint32)>& expected,
                               double tolerance)
    {
        for (uint n = 1; n <= display.ldmCount(); ++n) {
            const Macropixel& ldm = display.ldm(n);
            const cv::Scalar colour = expected(n);
            EXPECT_NEAR(ldm.redObserved, colour[2], tolerance) << "LDM " << n;
            EXPECT_NEAR(ldm.greenObserved, colour[1], tolerance) << "LDM " << n;
            EXPECT_NEAR(ldm.blueObserved, colour[0], tolerance) << "LDM " << n;
        }
    }

    static void presetObserved(DisplayBase& display)
    {
        for (uint n = 1; n <= display.ldmCount(); ++n)
            display.setLdmRGBObserved(n, 1.0, 2.0, 3.0);
    }

    MessageCapture log;
    ScopedTempFolder temp;
    // Outlives the controller, whose camera is connected to it.
    InstalledFakeCamera fake;
    std::unique_ptr<ReplyCounter> replies;
};

// ---- End to end through the grabber and the scripted camera ------------------------------------

TEST_F(ControllerGrab, InTheBusyStateEachLitLdmObservesTheColourDrawnForIt)
{
    Velotrimmer& velotrimmer = buildWithCamera();
    TestDisplay display;
    display.buildWall(2, 1, 2, 200);
    DisplayInUse inUse(velotrimmer, display);
    WallCamera wall(*fake, display, [](const Macropixel& ldm, int) { return drawnColour(ldm.number); });

    velotrimmer.runNothing();
    ASSERT_TRUE(velotrimmer.running());
    ASSERT_TRUE(velotrimmer.getImageLdmRGBData(true));
    ASSERT_TRUE(waitForReplies(1));
    EXPECT_TRUE(replies->successes.front());
    EXPECT_TRUE(log.contains("LDM array is 4 x 2 (one LDM is 100 x 100)"));
    expectObserved(display, drawnColour, PhotoTolerance);
}

TEST_F(ControllerGrab, WithACameraThatDeliversNothingTheObservedValuesStayAsTheyWere)
{
    Velotrimmer& velotrimmer = buildWithCamera();
    quickGrabTiming(NoPhotoWaitMs);
    TestDisplay display;
    display.buildWall(2, 1, 2, 200);
    DisplayInUse inUse(velotrimmer, display);
    WallCamera wall(*fake, display, [](const Macropixel& ldm, int) { return drawnColour(ldm.number); });
    presetObserved(display);
    fake->skipDownloads(true);

    velotrimmer.runNothing();
    ASSERT_TRUE(velotrimmer.getImageLdmRGBData(false));
    ASSERT_TRUE(waitForReplies(1, 60000));
    EXPECT_FALSE(replies->successes.front());
    expectObserved(display, [](quint32) { return cv::Scalar(3.0, 2.0, 1.0); }, 0.0);
}

TEST_F(ControllerGrab, TheCaptureTestInBalanceModeObservesEveryLdmAndSucceeds)
{
    Velotrimmer& velotrimmer = buildWithCamera();
    velotrimmer.setMode(Velotrimmer::Balance);
    TestDisplay display;
    display.buildWall(3, 1, 2, 100);
    DisplayInUse inUse(velotrimmer, display);
    WallCamera wall(*fake, display, [](const Macropixel& ldm, int) { return drawnColour(ldm.number); });
    QSignalSpy running(&velotrimmer, &Velotrimmer::runningChanged);

    velotrimmer.grabImage(true);
    EXPECT_EQ(running.count(), 1); // busy while the photo is taken
    ASSERT_TRUE(waitUntil([&] { return velotrimmer.status() != 0; }));
    EXPECT_EQ(velotrimmer.status(), 1);
    EXPECT_EQ(velotrimmer.statusString(), QStringLiteral("Image capture and processing succeeded."));
    EXPECT_FALSE(velotrimmer.running());
    EXPECT_TRUE(log.contains("##### Image capture and processing test #####"));
    EXPECT_TRUE(log.contains("LDM array is 6 x 2 (one LDM is 50 x 50)"));
    const QStringList done = log.messages().filter("##### Capture and processing test done in ");
    ASSERT_EQ(done.size(), 1);
    EXPECT_TRUE(done.front().endsWith(" seconds #####"));
    expectObserved(display, drawnColour, PhotoTolerance);
    EXPECT_EQ(wall.shots(), 1);

    // A quiet test says nothing of its time, whatever the grabber last did.
    velotrimmer.setStatus(0);
    velotrimmer.grabImage(false);
    ASSERT_TRUE(waitUntil([&] { return velotrimmer.status() != 0; }));
    EXPECT_EQ(velotrimmer.status(), 1);
    EXPECT_EQ(wall.shots(), 2);
    EXPECT_EQ(log.messages().filter("##### Capture and processing test done in ").size(), 1);
}

// ---- Balance runs observed through the camera ----------------------------------------------------

constexpr double TargetRed = 110.0;
constexpr double TargetGreen = 120.0;
constexpr double TargetBlue = 100.0;

// What the wall shows of an LDM: a known linear response of each LDM to its gains.
cv::Scalar respondedColour(const Macropixel& ldm, int = 0)
{
    const ModelWallObserver::Triple shown = ModelWallObserver::respond(ModelWallObserver::variedResponse(ldm.number),
                                                                       {ldm.redGain, ldm.greenGain, ldm.blueGain});
    return cv::Scalar(shown[2], shown[1], shown[0]);
}

// The test wall, 2 x 1 tiles of 2 x 2 LDMs, in use and photographed as its gains make it respond.
struct RespondingWall
{
    RespondingWall(Velotrimmer& velotrimmer, FakeCamera& fake)
        : inUse(velotrimmer, built(display))
        , camera(fake, display, respondedColour)
    {
    }

    static TestDisplay& built(TestDisplay& wall)
    {
        wall.buildWall(2, 1, 2, 200);
        return wall;
    }

    TestDisplay display;
    DisplayInUse inUse;
    WallCamera camera;
};

class CameraBalance : public ControllerGrab
{
protected:
    Velotrimmer& buildBalance()
    {
        Velotrimmer& velotrimmer = buildWithCamera();
        velotrimmer.setColorimeter(velotrimmer.dummyColorimeter());
        quickEngineTiming();
        skipReadDelays();
        velotrimmer.setMode(Velotrimmer::Balance);
        velotrimmer.setBalanceTargetRed(TargetRed);
        velotrimmer.setBalanceTargetGreen(TargetGreen);
        velotrimmer.setBalanceTargetBlue(TargetBlue);
        return velotrimmer;
    }
};

TEST_F(CameraBalance, ABalanceRunOnTheTestWallCompletes)
{
    Velotrimmer& velotrimmer = buildBalance();
    RespondingWall responding(velotrimmer, *fake);
    TestDisplay& display = responding.display;
    const WallCamera& wall = responding.camera;

    velotrimmer.setRunning(true);
    ASSERT_TRUE(velotrimmer.running());
    ASSERT_TRUE(waitUntil([&] { return velotrimmer.status() != 0; }, 200000));
    EXPECT_EQ(velotrimmer.statusString(), QStringLiteral("Uniformity completed."));
    EXPECT_EQ(velotrimmer.status(), 1);
    EXPECT_GT(wall.shots(), 1);
    // The gains the run left show the targets, within what the photos can tell apart.
    for (uint n = 1; n <= display.ldmCount(); ++n) {
        const cv::Scalar shown = respondedColour(display.ldm(n));
        EXPECT_NEAR(shown[2], TargetRed, PhotoTolerance) << "LDM " << n;
        EXPECT_NEAR(shown[1], TargetGreen, PhotoTolerance) << "LDM " << n;
        EXPECT_NEAR(shown[0], TargetBlue, PhotoTolerance) << "LDM " << n;
    }
}

TEST_F(CameraBalance, AGrabFailingMidRunTerminatesTheBalance)
{
    Velotrimmer& velotrimmer = buildBalance();
    quickGrabTiming(NoPhotoWaitMs);
    RespondingWall responding(velotrimmer, *fake);
    const WallCamera& wall = responding.camera;

    velotrimmer.setRunning(true);
    ASSERT_TRUE(waitUntil([&] { return wall.shots() >= 2 || velotrimmer.status() != 0; }, 60000));
    fake->skipDownloads(true);
    ASSERT_TRUE(waitUntil([&] { return velotrimmer.status() != 0; }, 120000));
    EXPECT_EQ(velotrimmer.status(), -1);
    EXPECT_FALSE(velotrimmer.running());
    EXPECT_TRUE(log.contains("Velotrimmer::getLdmsObservedPart2() failed; terminating balance"));
    EXPECT_EQ(velotrimmer.statusString(),
              QStringLiteral("Uniformity cancelled; display left in indeterminate state."));
}

// Two tiles of 40 x 20 pixels side by side, each of 2 x 1 LDMs of 20 x 20, in 4 x 2 cells of 10 x 10.
constexpr unsigned MeshTiles = 2;
constexpr int CellsAcross = 4;
constexpr int CellsDown = 2;
constexpr double CellSize = 10.0;

// The wall as the processor shows it: each cell what its response makes of the gains in the mesh
// last uploaded for its LDM (no mesh yet: gains 0). Safe from any thread.
std::vector<WallCamera::Patch> shownByProcessor(const ProcessorWall& processor)
{
    std::vector<WallCamera::Patch> patches;
    for (unsigned t = 1; t <= MeshTiles; ++t) {
        for (int row = 0; row < CellsDown; ++row) {
            for (int column = 0; column < CellsAcross; ++column) {
                const auto number = quint32(int(t - 1) * CellsAcross * CellsDown + row * CellsAcross + column + 1);
                Macropixel cell(number, float((t - 1) * 40.0 + column * CellSize), float(row * CellSize), float(CellSize),
                                float(CellSize));
                // The display LDM that holds the cell: two to a tile, numbered along the wall.
                cell.indexInTile = quint32((t - 1) * 2 + unsigned(column) / 2 + 1);
                const ModelWallObserver::Triple shown =
                    ModelWallObserver::respond(ModelWallObserver::variedResponse(number), processor.cellGains(cell));
                patches.push_back({cv::Rect2d(cell.x, cell.y, CellSize, CellSize), cv::Scalar(shown[2], shown[1], shown[0])});
            }
        }
    }
    return patches;
}

// A template run with the processor driver on the loopback processor, photographed as the
// processor shows the wall.
TEST_F(CameraBalance, ATemplateRunOnTheProcessorCompletes)
{
    using namespace std::chrono_literals;
    using Reply = ProcessorSimulator::Reply;
    ProcessorSimulator processor;
    processor.requireDigest();
    processor.setRoute("GET", ProcessorSimulator::kStatusTarget, Reply::json(ProcessorSimulator::status()));
    processor.setRoute("GET", ProcessorSimulator::kLayoutTarget,
                       Reply::json(ProcessorSimulator::meshTiles(MeshTiles, 40, 20, 2, 1)));
    processor.acceptUpdates();
    processor.acceptMeshUploads({Reply::text("idle")});

    Velotrimmer& velotrimmer = buildBalance();
    velotrimmer.setMode(Velotrimmer::Template);
    velotrimmer.setTileMeshWidth(CellsAcross);
    velotrimmer.setTileMeshHeight(CellsDown);
    velotrimmer.setBtCompliantIterations(4);
    velotrimmer.setBtMinIterations(8);
    velotrimmer.setBtMaxIterations(60);
    Kestra& kestra = *velotrimmer.kestra();
    kestra.setUsername(QStringLiteral("admin"));
    kestra.setPassword(QStringLiteral("secret"));
    kestra.setAddress(QString::fromStdString(processor.address()));
    kestra.setTileStateTiming({10ms, 200ms, 1500ms});
    ASSERT_TRUE(kestra.fetchOutputConfig().ok());
    DisplayInUse inUse(velotrimmer, kestra);
    const ProcessorWall shown(processor, kestra, true);
    WallCamera wall(*fake, cv::Size2d(MeshTiles * 40.0, 20.0), [&shown] { return shownByProcessor(shown); });

    QSignalSpy started(&velotrimmer, &Velotrimmer::workersRunningChanged);
    velotrimmer.setRunning(true);
    ASSERT_TRUE(velotrimmer.running());
    ASSERT_TRUE(started.wait());
    ASSERT_EQ(velotrimmer.adjusterSet().adjusters().size(), qsizetype(MeshTiles * CellsAcross * CellsDown));
    ASSERT_TRUE(waitUntil([&] { return velotrimmer.status() != 0; }, 200000));
    EXPECT_EQ(velotrimmer.statusString(), QStringLiteral("Uniformity completed."));
    EXPECT_EQ(velotrimmer.status(), 1);
    EXPECT_GT(wall.shots(), 1);
    // The meshes the processor was left with show the targets in every cell.
    for (const WallCamera::Patch& patch : shownByProcessor(shown)) {
        EXPECT_NEAR(patch.colour[2], TargetRed, PhotoTolerance) << patch.rect;
        EXPECT_NEAR(patch.colour[1], TargetGreen, PhotoTolerance) << patch.rect;
        EXPECT_NEAR(patch.colour[0], TargetBlue, PhotoTolerance) << patch.rect;
    }
}

// ---- The target LDM's exposure -------------------------------------------------------------------

// A grey wall (flat grey survives the camera's JPEG exactly) whose level is scripted photo by
// photo; the last level stays.
WallCamera::Colour scriptedGreys(std::vector<double> levels)
{
    return [levels](const Macropixel&, int taken) {
        return cv::Scalar::all(levels[std::min(size_t(taken), levels.size() - 1)]);
    };
}

constexpr int TargetLdm = 3;
constexpr int ExposureSequenceLimitMs = 120000;
// The pause before each exposure change only lets a real wall and camera settle; the one after a
// change stays, as the camera walks through its new settings.
constexpr int QuickSettleMs = 20;

class TargetExposure : public ControllerGrab
{
protected:
    Velotrimmer& buildTarget()
    {
        Velotrimmer& velotrimmer = buildWithCamera();
        velotrimmer.setExposureTiming({QuickSettleMs, Velotrimmer::ExposureTiming{}.changedSettleMs});
        velotrimmer.setMode(Velotrimmer::Balance);
        QObject::connect(&velotrimmer, &Velotrimmer::statusStringChanged, &velotrimmer,
                         [this, &velotrimmer] { statuses.append(velotrimmer.statusString()); });
        return velotrimmer;
    }

    // The lines of the exposure steps, and how the camera was asked.
    QStringList adjustments() const { return log.messages().filter("******* "); }
    int cameraAsked(int clicks) const
    {
        return int(log.messages().filter(QString::asprintf(" of %d clicks (emit", clicks)).size());
    }

    QStringList statuses;
};

struct ClicksCase
{
    const char* name;
    int green;
    int clicks;
};

void PrintTo(const ClicksCase& c, std::ostream* os)
{
    *os << c.name;
}

const ClicksCase clicksCases[] = {
    {"Green100AsksFourMore", 100, 4},
    {"Green165RoundsHalfUp", 165, 1},
    {"Green180AsksNone", 180, 0},
    {"Green185RoundsHalfDown", 185, -1},
};

class TargetClicks : public TargetExposure, public ::testing::WithParamInterface<ClicksCase>
{
};

// The first photo shows the case's green, every later one the target 175: the camera is asked
// for the case's clicks; once the green is on target, no more (but still asked, by 0).
TEST_P(TargetClicks, AskTheCameraToBringGreenToTheTarget)
{
    const ClicksCase& c = GetParam();
    // At f/8 the camera keeps its aperture, so a request of 0 clicks changes nothing (elsewhere
    // the camera first moves to f/8 and reports that as a change).
    SCRSDK::DeviceProperty aperture = fake->deviceProperty(SCRSDK::PropertyCode::FNumber);
    aperture.currentValue = 800;
    fake->setDeviceProperty(aperture);
    Velotrimmer& velotrimmer = buildTarget();
    TestDisplay display;
    display.buildWall(2, 1, 2, 200);
    DisplayInUse inUse(velotrimmer, display);
    WallCamera wall(*fake, display, scriptedGreys({double(c.green), 175.0}));

    velotrimmer.chooseTargetLdm(TargetLdm);
    ASSERT_TRUE(waitUntil([&] { return !velotrimmer.targetLdmPending(); }, ExposureSequenceLimitMs));
    const QStringList steps = adjustments();
    ASSERT_EQ(steps.size(), c.clicks == 0 ? 1 : 2) << steps.join('\n').toStdString();
    EXPECT_EQ(steps.front(), QString::asprintf("******* %+d clicks: green is %d  (target 175, diff %+d) *******", c.clicks,
                                               c.green, 175 - c.green));
    EXPECT_EQ(cameraAsked(c.clicks), 1);
    EXPECT_TRUE(log.contains(QString::asprintf("requested %+d clicks, got %schanges", c.clicks, c.clicks ? "" : "NO ")));
    const int accepted = c.clicks == 0 ? c.green : 175;
    EXPECT_EQ(velotrimmer.statusString(),
              QStringLiteral("Using target LDM\u2019s RGB %1, %1, %1").arg(accepted));
    EXPECT_DOUBLE_EQ(velotrimmer.balanceTargetGreen(), double(accepted));
    EXPECT_FALSE(velotrimmer.running());
    EXPECT_FALSE(statuses.contains("Can't properly expose target LDM; please adjust KESTRA brightness."));
}

INSTANTIATE_TEST_SUITE_P(Cases, TargetClicks, ::testing::ValuesIn(clicksCases),
                         [](const ::testing::TestParamInfo<ClicksCase>& info) { return std::string(info.param.name); });

TEST_F(TargetExposure, ACameraAtItsLimitsEndsTheSequenceWithTheLimitTextThenTheAcceptanceCheck)
{
    namespace Code = SCRSDK::PropertyCode;
    // Nothing left to turn: one aperture and one sensitivity on offer.
    for (const std::uint32_t code : {Code::Iso, Code::FNumber}) {
        SCRSDK::DeviceProperty property = fake->deviceProperty(code);
        property.values = {property.currentValue};
        fake->setDeviceProperty(property);
    }
    Velotrimmer& velotrimmer = buildTarget();
    TestDisplay display;
    display.buildWall(2, 1, 2, 200);
    DisplayInUse inUse(velotrimmer, display);
    WallCamera wall(*fake, display, scriptedGreys({100.0}));
    QSignalSpy messageBox(&velotrimmer, &Velotrimmer::showMessageBox);

    velotrimmer.chooseTargetLdm(TargetLdm);
    ASSERT_TRUE(waitUntil([&] { return !velotrimmer.targetLdmPending(); }, ExposureSequenceLimitMs));
    EXPECT_EQ(adjustments().size(), 1);
    EXPECT_EQ(cameraAsked(4), 1);
    EXPECT_TRUE(log.contains("exposure didn't change; camera at limits."));
    const qsizetype limit = statuses.indexOf("Can't properly expose target LDM; please adjust KESTRA brightness.");
    ASSERT_GE(limit, 0) << statuses.join('|').toStdString();
    // The acceptance check still ran, after the limit text.
    EXPECT_EQ(statuses.indexOf("Target LDM too dark"), limit + 1);
    EXPECT_EQ(messageBox.count(), 1);
    EXPECT_EQ(wall.shots(), 1);
}

TEST_F(TargetExposure, TheSequenceStopsAfterTwentyAdjustmentsAndRunsItsAcceptanceCheck)
{
    Velotrimmer& velotrimmer = buildTarget();
    TestDisplay display;
    display.buildWall(2, 1, 2, 200);
    DisplayInUse inUse(velotrimmer, display);
    // Too dark, then too bright, for ever: every step changes the exposure.
    std::vector<double> levels;
    for (int i = 0; i < 40; ++i)
        levels.push_back(i % 2 ? 220.0 : 130.0);
    WallCamera wall(*fake, display, scriptedGreys(levels));

    velotrimmer.chooseTargetLdm(TargetLdm);
    ASSERT_TRUE(waitUntil([&] { return !velotrimmer.targetLdmPending(); }, ExposureSequenceLimitMs));
    EXPECT_EQ(adjustments().size(), qsizetype(Velotrimmer::MaxExposureAdjustments));
    EXPECT_EQ(wall.shots(), int(Velotrimmer::MaxExposureAdjustments));
    // The last photo (the twentieth, too bright) is the one judged.
    EXPECT_EQ(velotrimmer.statusString(), QStringLiteral("Target LDM too bright"));
    EXPECT_FALSE(velotrimmer.running());
}

// ---- Mapping of the grabber's averages ---------------------------------------------------------

// The averages of a small array: cell i holds (blue, green, red) = (i, 100 + i, 200 + i), so a
// value names its cell and its channel.
cv::Mat cellAverage(int index, int rows = 1, int columns = 1)
{
    return cv::Mat(rows, columns, CV_32FC3, cv::Scalar(index, 100 + index, 200 + index));
}

// LDMs of 240 x 270 filling 0 to 1920 and 0 to 1080 (8 x 4), in four tiles of 960 x 540; with the
// narrow column, a ninth column of 80-pixel LDMs beyond the eighth widens the extent to 2000.
void buildLdmArray(TestDisplay& display, bool narrowColumn)
{
    display.clearOutputConfig();
    for (int tile = 0; tile < 4; ++tile) {
        Tile record;
        record.x = float((tile % 2) * 960);
        record.y = float((tile / 2) * 540);
        record.width = 960.0f;
        record.height = 540.0f;
        record.ldmColumns = 4;
        record.ldmRows = 2;
        display.addTile(record);
    }
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 8; ++column) {
            Macropixel ldm(0, float(column * 240), float(row * 270), 240.0f, 270.0f);
            ldm.tileNumber = quint32((row / 2) * 2 + column / 4 + 1);
            display.addLdm(ldm);
        }
        if (narrowColumn)
            display.addLdm(Macropixel(0, 1920.0f, float(row * 270), 80.0f, 270.0f));
    }
    display.finishOutputConfig();
}

uint ldmAt(DisplayBase& display, float x, float y)
{
    for (uint n = 1; n <= display.ldmCount(); ++n) {
        if (display.ldm(n).x == x && display.ldm(n).y == y)
            return n;
    }
    return 0;
}

struct MappingCase
{
    const char* name;
    bool tiles;
    // Builds the wall and prepares the controller (the mesh, the records).
    std::function<void(Velotrimmer&, TestDisplay&)> prepare;
    std::function<std::vector<cv::Mat>()> averages;
    // Checks the records after the mapping.
    std::function<void(Velotrimmer&, TestDisplay&, const MessageCapture&)> check;
    // Changes the wall between the request and the reply (none: nothing).
    std::function<void(TestDisplay&)> beforeReply = {};
};

void PrintTo(const MappingCase& c, std::ostream* os)
{
    *os << c.name;
}

std::vector<cv::Mat> ldmArrayAverages(int count)
{
    std::vector<cv::Mat> averages;
    for (int i = 0; i < count; ++i)
        averages.push_back(cellAverage(i));
    return averages;
}

void expectCell(const Macropixel& record, int index)
{
    EXPECT_FLOAT_EQ(record.redObserved, 200.0 + index) << "record " << record.number;
    EXPECT_FLOAT_EQ(record.greenObserved, 100.0 + index) << "record " << record.number;
    EXPECT_FLOAT_EQ(record.blueObserved, double(index)) << "record " << record.number;
}

void expectKept(const Macropixel& record)
{
    EXPECT_EQ(record.redObserved, 1.0) << "record " << record.number;
    EXPECT_EQ(record.greenObserved, 2.0) << "record " << record.number;
    EXPECT_EQ(record.blueObserved, 3.0) << "record " << record.number;
}

// Every LDM of the 8 x 4 array takes the element under its centre, but those listed as kept.
void expectLdmArray(TestDisplay& display, const std::vector<uint>& kept)
{
    for (uint n = 1; n <= display.ldmCount(); ++n) {
        const Macropixel& ldm = display.ldm(n);
        if (std::find(kept.begin(), kept.end(), n) != kept.end())
            expectKept(ldm);
        else if (ldm.x < 1920.0f)
            expectCell(ldm, int(ldm.y / 270.0f) * 8 + int(ldm.x / 240.0f));
    }
}

// Tiles of 80 x 80 pixels with 2 x 2 LDMs, two across: a mesh of 4 columns and 2 rows of cells.
void prepareTileMesh(Velotrimmer& velotrimmer, TestDisplay& display)
{
    display.buildWall(2, 1, 2, 80);
    velotrimmer.setTileMeshWidth(4);
    velotrimmer.setTileMeshHeight(2);
    ASSERT_TRUE(velotrimmer.setupBalance());
    // The set-up makes the cells a slice at a time.
    ASSERT_TRUE(QTest::qWaitFor([&] { return velotrimmer.adjusterSet().size() == 16; }));
    for (const Tile* tile : velotrimmer.adjusterSet().tiles()) {
        for (Macropixel* cell : tile->ldms) {
            cell->redObserved = 1.0;
            cell->greenObserved = 2.0;
            cell->blueObserved = 3.0;
        }
    }
}

// Tile t's matrix: pixel (r, c) holds (t × 100 + r × 10 + c) in blue, + 100 in green, + 200 in red.
std::vector<cv::Mat> tileAverages(int rows, int columns)
{
    std::vector<cv::Mat> averages;
    for (int t = 0; t < 2; ++t) {
        cv::Mat mat(rows, columns, CV_32FC3);
        for (int r = 0; r < rows; ++r) {
            for (int c = 0; c < columns; ++c) {
                const float value = float(t * 100 + r * 10 + c);
                mat.at<cv::Vec3f>(r, c) = cv::Vec3f(value, value + 100.0f, value + 200.0f);
            }
        }
        averages.push_back(mat);
    }
    return averages;
}

const MappingCase mappingCases[] = {
    {"EightByFourArrayTakesEachLdmsAverage", false, [](Velotrimmer&, TestDisplay& display) { buildLdmArray(display, false); },
     [] { return ldmArrayAverages(32); },
     [](Velotrimmer&, TestDisplay& display, const MessageCapture& log) {
         EXPECT_TRUE(log.contains("LDM array is 8 x 4 (one LDM is 240 x 270)"));
         const uint n = ldmAt(display, 480.0f, 270.0f);
         ASSERT_NE(n, 0u);
         // Element 1 × 8 + 2 = 10, red from the third channel.
         EXPECT_FLOAT_EQ(display.ldm(n).redObserved, 210.0);
         EXPECT_FLOAT_EQ(display.ldm(n).greenObserved, 110.0);
         EXPECT_FLOAT_EQ(display.ldm(n).blueObserved, 10.0);
         expectLdmArray(display, {});
     }},
    {"DarkLdmsKeepTheirValues", false,
     [](Velotrimmer&, TestDisplay& display) {
         buildLdmArray(display, false);
         display.setLdmRGB(ldmAt(display, 480.0f, 270.0f), 0.0, 0.0, 0.0, -1.0);
         display.setLdmRGB(ldmAt(display, 720.0f, 270.0f), 0.0, 0.0, 0.0, -0.9);
         display.setLdmRGB(ldmAt(display, 960.0f, 270.0f), 0.0, 0.0, 0.0, -0.89);
     },
     [] { return ldmArrayAverages(32); },
     [](Velotrimmer&, TestDisplay& display, const MessageCapture&) {
         expectLdmArray(display, {ldmAt(display, 480.0f, 270.0f), ldmAt(display, 720.0f, 270.0f)});
     }},
    {"LdmsBeyondTheArrayAreSkipped", false, [](Velotrimmer&, TestDisplay& display) { buildLdmArray(display, true); },
     [] { return ldmArrayAverages(32); },
     [](Velotrimmer&, TestDisplay& display, const MessageCapture& log) {
         // 2000 / 240: still eight columns; the narrow column's centres lie in a ninth.
         EXPECT_TRUE(log.contains("LDM array is 8 x 4 (one LDM is 240 x 270)"));
         std::vector<uint> narrow;
         for (int row = 0; row < 4; ++row)
             narrow.push_back(ldmAt(display, 1920.0f, float(row * 270)));
         expectLdmArray(display, narrow);
     }},
    {"AShortListLeavesTheRest", false, [](Velotrimmer&, TestDisplay& display) { buildLdmArray(display, false); },
     [] { return ldmArrayAverages(10); },
     [](Velotrimmer&, TestDisplay& display, const MessageCapture&) {
         std::vector<uint> beyond;
         for (uint n = 1; n <= display.ldmCount(); ++n) {
             if (int(display.ldm(n).y / 270.0f) * 8 + int(display.ldm(n).x / 240.0f) >= 10)
                 beyond.push_back(n);
         }
         expectLdmArray(display, beyond);
     }},
    {"TileCellsTakeTheirPixelsRowByRow", true, prepareTileMesh, [] { return tileAverages(2, 4); },
     [](Velotrimmer& velotrimmer, TestDisplay&, const MessageCapture& log) {
         EXPECT_TRUE(log.contains("Tile array is 2 x 1 (one Tile is 80 x 80)"));
         const QList<Tile*> tiles = velotrimmer.adjusterSet().tiles();
         ASSERT_EQ(tiles.size(), 2);
         for (int t = 0; t < 2; ++t) {
             ASSERT_EQ(tiles[t]->ldms.size(), 8);
             for (int r = 0; r < 2; ++r) {
                 for (int c = 0; c < 4; ++c)
                     expectCell(*tiles[t]->ldms[r * 4 + c], t * 100 + r * 10 + c);
             }
         }
     }},
    {"ATileWithTheWrongCellCountIsSkipped", true,
     [](Velotrimmer& velotrimmer, TestDisplay& display) {
         prepareTileMesh(velotrimmer, display);
         velotrimmer.setTileMeshWidth(2); // the records keep their eight cells
     },
     [] { return tileAverages(2, 4); },
     [](Velotrimmer& velotrimmer, TestDisplay&, const MessageCapture& log) {
         EXPECT_TRUE(log.contains("grabImageDataDone(): tile 1 mpel count is 8, not 4!"));
         for (const Tile* tile : velotrimmer.adjusterSet().tiles()) {
             for (const Macropixel* cell : tile->ldms)
                 expectKept(*cell);
         }
     }},
    {"AMatrixOfTheWrongSizeIsSkipped", true, prepareTileMesh, [] { return tileAverages(1, 4); },
     [](Velotrimmer& velotrimmer, TestDisplay&, const MessageCapture&) {
         for (const Tile* tile : velotrimmer.adjusterSet().tiles()) {
             for (const Macropixel* cell : tile->ldms)
                 expectKept(*cell);
         }
     }},
    // The tile reply is checked against the tile reference, though the LDMs are still lit.
    {"ATileReplyWithoutALitTileIsRefused", true, prepareTileMesh, [] { return tileAverages(2, 4); },
     [](Velotrimmer& velotrimmer, TestDisplay&, const MessageCapture& log) {
         EXPECT_EQ(log.messages().filter("or reference Tile has a zero dimension: 0 w, 0 h").size(), 1);
         for (const Tile* tile : velotrimmer.adjusterSet().tiles()) {
             for (const Macropixel* cell : tile->ldms)
                 expectKept(*cell);
         }
     },
     [](TestDisplay& display) {
         for (uint t = 1; t <= display.tileCount(); ++t)
             display.tile(t).lit = false;
     }},
};

class AveragesMapping : public ControllerGrab, public ::testing::WithParamInterface<MappingCase>
{
};

// The grabber's averages, handed to the controller as its reply would hand them, after the
// controller described the array (without the scripted camera: its own grab fails at once).
TEST_P(AveragesMapping, WritesEachCellToTheRecordsUnderIt)
{
    const MappingCase& c = GetParam();
    Velotrimmer& velotrimmer = build();
    replies = std::make_unique<ReplyCounter>(velotrimmer.background());
    velotrimmer.setMode(c.tiles ? Velotrimmer::Template : Velotrimmer::Balance);
    TestDisplay display;
    DisplayInUse inUse(velotrimmer, display);
    c.prepare(velotrimmer, display);
    presetObserved(display);

    ASSERT_TRUE(c.tiles ? velotrimmer.getImageTileRGBData(true) : velotrimmer.getImageLdmRGBData(true));
    ASSERT_TRUE(waitForReplies(1));
    if (c.beforeReply)
        c.beforeReply(display);
    std::vector<cv::Mat> mats = c.averages();
    QList<cv::Mat*> list;
    for (cv::Mat& mat : mats)
        list.append(&mat);
    velotrimmer.grabImageDataDone(true, &list);
    c.check(velotrimmer, display, log);
}

INSTANTIATE_TEST_SUITE_P(Cases, AveragesMapping, ::testing::ValuesIn(mappingCases),
                         [](const ::testing::TestParamInfo<MappingCase>& info) { return std::string(info.param.name); });

// ---- Captures that cannot start ----------------------------------------------------------------

struct RefusalCase
{
    const char* name;
    Velotrimmer::Mode mode;
    bool dummyCamera;
    // Lights part of the wall (or none of it).
    std::function<void(TestDisplay&)> light;
    const char* line;
};

void PrintTo(const RefusalCase& c, std::ostream* os)
{
    *os << c.name;
}

const RefusalCase refusalCases[] = {
    {"NoLitLdm", Velotrimmer::Balance, false,
     [](TestDisplay& display) {
         display.selectLdms(QPoint(5000, 5000), QPoint(5001, 5001));
         display.lightSelectedLdms();
     },
     "Error: reference LDM has a zero dimension: 0 w, 0 h"},
    // The tiles stay lit, so the tile reference has a size: the extents hold their sentinels.
    {"NoLitLdmForTheTileArray", Velotrimmer::Template, false,
     [](TestDisplay& display) {
         display.selectLdms(QPoint(5000, 5000), QPoint(5001, 5001));
         display.lightSelectedLdms();
     },
     "Error: the lit array holds no cells: 0 columns, 0 rows (lit LDMs span -4294967295 w, -4294967295 h; one cell "
     "is 80 w, 80 h)"},
    {"OneLitLdmForTheTileArray", Velotrimmer::Template, false,
     [](TestDisplay& display) {
         display.selectLdms(QPoint(1, 1), QPoint(2, 2));
         display.lightSelectedLdms();
     },
     "Error: the lit array holds no cells: 0 columns, 0 rows (lit LDMs span 20 w, 20 h; one cell is 80 w, 80 h)"},
    {"DummyCameraInTemplateMode", Velotrimmer::Template, true, [](TestDisplay&) {},
     "Dummy camera used; tile \"capture\" cannot be done."},
};

class CaptureRefusal : public ControllerGrab, public ::testing::WithParamInterface<RefusalCase>
{
};

TEST_P(CaptureRefusal, EndsTheTestFailedAndRequestsNoGrab)
{
    const RefusalCase& c = GetParam();
    Velotrimmer& velotrimmer = build();
    velotrimmer.setMode(c.mode);
    if (c.dummyCamera)
        velotrimmer.setImageSource(velotrimmer.dummyCamera());
    TestDisplay display;
    display.buildWall(2, 1, 4, 80);
    c.light(display);
    DisplayInUse inUse(velotrimmer, display);
    QSignalSpy requests(&velotrimmer, &Velotrimmer::grabImageData);

    velotrimmer.grabImage(true);
    EXPECT_FALSE(velotrimmer.running());
    EXPECT_EQ(velotrimmer.status(), -1);
    EXPECT_EQ(velotrimmer.statusString(), QStringLiteral("Image capture or processing failed."));
    EXPECT_EQ(requests.count(), 0);
    EXPECT_TRUE(log.contains(QString::fromUtf8(c.line)));
}

INSTANTIATE_TEST_SUITE_P(Cases, CaptureRefusal, ::testing::ValuesIn(refusalCases),
                         [](const ::testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

} // namespace
