// Balance and template runs with the processor driver as the master's display, against the
// loopback processor, the adjusters built by the controller's builder and the camera answering
// from what the processor was sent: each update cycle uploads the meshes of the changed LDMs only,
// a finished template run saves every tile's calibration once, and every LDM and cell ends on
// target as the processor shows it.
#include "support/UniformityRig.h"

#include "engine/Calibrator.h"
#include "formats/CorvaneCalFileHandler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Reply = ProcessorSimulator::Reply;
using Request = ProcessorSimulator::Request;

constexpr int RunLimitMs = 120000;
// One step of the mesh file's 16-bit samples, with room for rounding.
constexpr float SampleTolerance = 2.0f / 32768.0f;
// How close an observed level must come to its target at the end of a run.
constexpr double LevelTolerance = 1.5;

bool isFilePost(const Request& r)
{
    return r.authorized && r.method == "POST" && r.target.find("/cal?raw&continuation=") != std::string::npos;
}

// Short per-level limits: the model is exact, so few points suffice.
AdjusterSettings shortLevels()
{
    AdjusterSettings settings = UniformityRig::settings();
    settings.compliantIterations = 4;
    settings.minIterations = 8;
    settings.maxIterations = 60;
    return settings;
}

// Two tiles of 40 x 20 pixels, each of 2 x 1 LDMs, in 4 x 2 cells: two cells to an LDM.
class TemplateOnTheProcessor : public ::testing::Test
{
protected:
    TemplateOnTheProcessor() { Calibrator(Calibrator::ColorimeterMode, 0).setTask(Calibrator::Nothing); }

    void startRun(int failedPhotograph = 0)
    {
        ASSERT_TRUE(rig.connect());
        ASSERT_TRUE(rig.buildTemplate(shortLevels(), {4, 2}));
        rig.observer().onRequest([this](int) { uploadsBefore.push_back(uploads().size()); });
        if (failedPhotograph > 0)
            rig.observer().answerFrom(failedPhotograph, ModelWallObserver::Answer::FailPhotograph);
        rig.start(Calibrator::Template);
    }

    std::vector<Request> uploads() const
    {
        std::vector<Request> found;
        for (const Request& r : rig.simulator().requests()) {
            if (isFilePost(r))
                found.push_back(r);
        }
        return found;
    }

    mutable UniformityRig rig{UniformityRig::Wall{}, true};
    // The number of mesh files uploaded before each photograph.
    std::vector<std::size_t> uploadsBefore;
};

TEST_F(TemplateOnTheProcessor, EachCycleUploadsTheChangedLdmsAndTheEndSavesEveryTileOnce)
{
    startRun();
    ASSERT_TRUE(rig.waitForDone(RunLimitMs));
    EXPECT_EQ(rig.worker().doneCalls(), (QList<std::pair<uint, bool>>{{0u, true}}));

    const std::size_t ldms = rig.kestra().ldmCount();
    ASSERT_EQ(ldms, 4u);
    ASSERT_GT(uploadsBefore.size(), 3u);
    // The first cycle uploads every LDM's mesh; no cycle more than that; the last, in which
    // nothing changed, none.
    EXPECT_EQ(uploadsBefore[0], ldms);
    for (std::size_t i = 1; i < uploadsBefore.size(); ++i)
        EXPECT_LE(uploadsBefore[i] - uploadsBefore[i - 1], ldms) << "cycle " << i;
    EXPECT_EQ(uploadsBefore.back(), uploadsBefore[uploadsBefore.size() - 2]);
    EXPECT_EQ(rig.shown().commits(), 2u);

    // The last mesh of each LDM holds final cell gains + 1: every sample is one of its tile's.
    std::vector<std::set<float>> finalSamples(3);
    for (const Macropixel* cell : rig.adjusters().macropixels()) {
        finalSamples[0].insert(float(cell->redGain + 1.0));
        finalSamples[1].insert(float(cell->greenGain + 1.0));
        finalSamples[2].insert(float(cell->blueGain + 1.0));
    }
    const std::vector<Request> files = uploads();
    std::set<std::string> seen;
    for (auto it = files.rbegin(); it != files.rend(); ++it) {
        const std::string target = it->target.substr(0, it->target.find("/cal?"));
        if (!seen.insert(target).second)
            continue;
        std::istringstream in(it->body);
        const CorvaneCalFile::Mesh mesh = CorvaneCalFile::Handler().readStreamMesh(in);
        ASSERT_EQ(mesh.grids.size(), 3u) << target;
        for (std::size_t c = 0; c < 3; ++c) {
            for (const auto& row : mesh.grids[c]) {
                for (float sample : row) {
                    const bool known = std::any_of(finalSamples[c].cbegin(), finalSamples[c].cend(), [&](float value) {
                        return std::abs(value - sample) <= SampleTolerance;
                    });
                    EXPECT_TRUE(known) << target << " channel " << c << " sample " << sample;
                }
            }
        }
    }
    EXPECT_EQ(seen.size(), ldms);
}

TEST_F(TemplateOnTheProcessor, ACancelledRunSavesNothing)
{
    startRun(4);
    ASSERT_TRUE(rig.waitForDone(RunLimitMs));
    EXPECT_EQ(rig.worker().doneCalls(), (QList<std::pair<uint, bool>>{{0u, false}}));
    EXPECT_FALSE(uploads().empty());
    EXPECT_EQ(rig.shown().commits(), 0u);
}

TEST_F(TemplateOnTheProcessor, AFailedUploadFailsTheRunAndSavesNothing)
{
    rig.simulator().setRoute("POST", "/api/v1/tile/" + ProcessorSimulator::tileName(2) + "/2/cal?raw&continuation=false",
                             Reply::text("refused", 500));
    startRun();
    ASSERT_TRUE(rig.waitForDone(RunLimitMs));
    EXPECT_EQ(rig.worker().doneCalls(), (QList<std::pair<uint, bool>>{{0u, false}}));
    EXPECT_TRUE(rig.master().statusString().startsWith("Kestra::setAndReadMacropixels_: setMeshRGBs failed: "))
        << rig.master().statusString().toStdString();
    EXPECT_EQ(rig.shown().commits(), 0u);
}

// A wall of many tiles, photographed only as the processor shows it: the simulator keeps no log.
struct WallRun
{
    const char* name;
    Calibrator::TaskType task;
    UniformityRig::Wall wall;
    AdjusterBuilder::Mesh mesh; // template runs
    qsizetype adjusters;
};

void PrintTo(const WallRun& run, std::ostream* os)
{
    *os << run.name;
}

class UniformityOnAWall : public ::testing::TestWithParam<WallRun>
{
protected:
    void SetUp() override { Calibrator(Calibrator::ColorimeterMode, 0).setTask(Calibrator::Nothing); }
};

TEST_P(UniformityOnAWall, CompletesWithEveryLdmOnTargetAsTheProcessorShowsIt)
{
    const WallRun& run = GetParam();
    const bool templating = run.task == Calibrator::Template;
    UniformityRig rig(run.wall);
    ASSERT_TRUE(rig.connect());
    const std::size_t logged = rig.simulator().requestCount();
    ASSERT_TRUE(templating ? rig.buildTemplate(shortLevels(), run.mesh) : rig.buildBalance(shortLevels()));
    ASSERT_EQ(rig.adjusters().size(), run.adjusters);
    rig.start(run.task);
    ASSERT_TRUE(rig.waitForDone(RunLimitMs));
    EXPECT_EQ(rig.worker().doneCalls(), (QList<std::pair<uint, bool>>{{0u, true}}));
    EXPECT_EQ(rig.master().statusString(), templating ? QStringLiteral("Template run completed")
                                                      : QStringLiteral("Balance run completed"));
    for (const Macropixel* record : rig.adjusters().macropixels()) {
        const ModelWallObserver::Triple observed = rig.observed(*record, templating);
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(observed[c], UniformityRig::Targets[c], LevelTolerance) << "#" << record->number << " channel " << c;
    }
    EXPECT_EQ(rig.shown().commits(), templating ? std::size_t(run.wall.tiles) : 0u);
    if (!templating) {
        EXPECT_GT(rig.shown().gainUpdates(), 2u);
    }
    EXPECT_EQ(rig.simulator().requestCount(), logged) << "the wall was followed without a log";
    for (const Calibrator* adjuster : rig.adjusters().adjusters())
        EXPECT_FALSE(adjuster->running()) << adjuster->number();
    rig.release();
    EXPECT_TRUE(rig.adjusters().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Walls, UniformityOnAWall,
    ::testing::Values(
        // 6 tiles of 80 x 40 pixels in two rows, 2 x 2 LDMs each, 8 x 4 cells to a tile.
        WallRun{"TemplateOfSixTiles", Calibrator::Template, {6, 80, 40, 2, 2, 3}, {8, 4}, 192},
        // 6 tiles of 8 x 5 LDMs.
        WallRun{"BalanceOfTwoHundredFortyLdms", Calibrator::Balance, {6, 80, 50, 8, 5, 3}, {}, 240}),
    [](const ::testing::TestParamInfo<WallRun>& info) { return std::string(info.param.name); });

} // namespace
