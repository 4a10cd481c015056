// A template run with the processor driver as the master's display, against the loopback
// processor: each update cycle uploads the meshes of the changed LDMs only, and a finished run
// saves every tile's calibration once.
#include "support/KestraFixture.h"
#include "support/ModelColorimeter.h"
#include "support/ModelWallObserver.h"
#include "support/WorkerCalibrator.h"

#include "engine/Calibrator.h"
#include "formats/CorvaneCalFileHandler.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Reply = ProcessorSimulator::Reply;
using Request = ProcessorSimulator::Request;

constexpr unsigned TileCount = 2;
constexpr uint CellsAcross = 4;
constexpr uint CellsDown = 2;
// One step of the mesh file's 16-bit samples, with room for rounding.
constexpr float SampleTolerance = 2.0f / 32768.0f;

bool isFilePost(const Request& r)
{
    return r.authorized && r.method == "POST" && r.target.find("/cal?raw&continuation=") != std::string::npos;
}

bool isCommit(const Request& r)
{
    return r.authorized && r.method == "POST" && r.target.ends_with("/calSave?type=user");
}

class TemplateOnTheProcessor : public KestraFixture
{
protected:
    TemplateOnTheProcessor()
    {
        Calibrator(Calibrator::ColorimeterMode, 0).setTask(Calibrator::Nothing);
        connectToSimulator();
        kestra->setTileStateTiming({10ms, 200ms, 1500ms});
        simulator.acceptMeshUploads({Reply::text("idle")});
        simulator.setRoute("GET", ProcessorSimulator::kLayoutTarget,
                           Reply::json(ProcessorSimulator::meshTiles(TileCount, 40, 20, 2, 1)));
    }

    // The cells of every tile as the controller's templaters lay them, one adjuster each.
    void buildCells()
    {
        quint32 number = 1;
        for (uint t = 1; t <= kestra->tileCount(); ++t) {
            const Tile& tile = kestra->tile(t);
            auto record = std::make_unique<Tile>(tile);
            const float width = tile.width / float(CellsAcross);
            const float height = tile.height / float(CellsDown);
            for (uint i = 0; i < CellsAcross * CellsDown; ++i, ++number) {
                auto cell = std::make_unique<Macropixel>(number, float(i % CellsAcross) * width + tile.x,
                                                         float(i / CellsAcross) * height + tile.y, width, height);
                cell->tileNumber = tile.number;
                const Macropixel* ldm = kestra->findLdm(tile.number, int(cell->x), int(cell->y));
                cell->indexInTile = ldm ? ldm->number : 0;
                record->ldms.append(cell.get());
                auto adjuster = std::make_unique<Calibrator>(Calibrator::TemplateMode, number);
                adjuster->setMinPointsToFinish(4);
                adjuster->setMinIterationsAdjusters(8);
                adjuster->setMaxIterationsAdjusters(60);
                cells.push_back(std::move(cell));
                adjusters.push_back(std::move(adjuster));
            }
            tiles.push_back(std::move(record));
        }
    }

    void startRun()
    {
        ASSERT_TRUE(kestra->fetchOutputConfig().ok());
        buildCells();
        worker = std::make_unique<WorkerCalibrator>(&colorimeter, kestra.get());
        Calibrator& master = worker->calibrator();
        QList<Calibrator*> adjusterList;
        QList<Macropixel*> cellList;
        QList<Tile*> tileList;
        for (const auto& adjuster : adjusters)
            adjusterList.append(adjuster.get());
        for (const auto& cell : cells)
            cellList.append(cell.get());
        for (const auto& tile : tiles)
            tileList.append(tile.get());
        master.setMode(Calibrator::TemplateMode);
        master.setReadDelay(0);
        master.setLoggable(true);
        master.setStepRGB(110.0, 120.0, 100.0);
        master.setSimulatedDisplay(false);
        master.setAdjusters(adjusterList);
        master.setMacropixels(cellList);
        master.setTiles(tileList);
        observer = std::make_unique<ModelWallObserver>(&master, cellList, tileList);
        for (const auto& cell : cells)
            observer->setResponse(cell->number, ModelWallObserver::variedResponse(cell->number));
        observer->onRequest([this](int) { uploadsBefore.push_back(uploads().size()); });
        worker->start(Calibrator::Template);
    }

    std::vector<Request> uploads() const
    {
        std::vector<Request> found;
        for (const Request& r : simulator.requests()) {
            if (isFilePost(r))
                found.push_back(r);
        }
        return found;
    }

    std::size_t commits() const
    {
        std::size_t count = 0;
        for (const Request& r : simulator.requests())
            count += isCommit(r) ? 1 : 0;
        return count;
    }

    ModelColorimeter colorimeter{nullptr};
    std::vector<std::unique_ptr<Tile>> tiles;
    std::vector<std::unique_ptr<Macropixel>> cells;
    std::vector<std::unique_ptr<Calibrator>> adjusters;
    std::unique_ptr<WorkerCalibrator> worker;
    std::unique_ptr<ModelWallObserver> observer;
    // The number of mesh files uploaded before each photograph.
    std::vector<std::size_t> uploadsBefore;
};

TEST_F(TemplateOnTheProcessor, EachCycleUploadsTheChangedLdmsAndTheEndSavesEveryTileOnce)
{
    startRun();
    ASSERT_TRUE(worker->waitForDone(1, 120000));
    EXPECT_EQ(worker->doneCalls(), (QList<std::pair<uint, bool>>{{0u, true}}));

    const std::size_t ldms = kestra->ldmCount();
    ASSERT_EQ(ldms, 4u);
    ASSERT_GT(uploadsBefore.size(), 3u);
    // The first cycle uploads every LDM's mesh; no cycle more than that; the last, in which
    // nothing changed, none.
    EXPECT_EQ(uploadsBefore[0], ldms);
    for (std::size_t i = 1; i < uploadsBefore.size(); ++i)
        EXPECT_LE(uploadsBefore[i] - uploadsBefore[i - 1], ldms) << "cycle " << i;
    EXPECT_EQ(uploadsBefore.back(), uploadsBefore[uploadsBefore.size() - 2]);
    EXPECT_EQ(commits(), TileCount);

    // The last mesh of each LDM holds final cell gains + 1: every sample is one of its tile's.
    std::vector<std::set<float>> finalSamples(3);
    for (const auto& cell : cells) {
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
    startRun();
    observer->answerFrom(4, ModelWallObserver::Answer::FailPhotograph);
    ASSERT_TRUE(worker->waitForDone(1, 60000));
    EXPECT_EQ(worker->doneCalls(), (QList<std::pair<uint, bool>>{{0u, false}}));
    EXPECT_FALSE(uploads().empty());
    EXPECT_EQ(commits(), 0u);
}

TEST_F(TemplateOnTheProcessor, AFailedUploadFailsTheRunAndSavesNothing)
{
    simulator.setRoute("POST", "/api/v1/tile/" + ProcessorSimulator::tileName(2) + "/2/cal?raw&continuation=false",
                       Reply::text("refused", 500));
    startRun();
    ASSERT_TRUE(worker->waitForDone(1, 60000));
    EXPECT_EQ(worker->doneCalls(), (QList<std::pair<uint, bool>>{{0u, false}}));
    EXPECT_TRUE(worker->calibrator().statusString().startsWith("Kestra::setAndReadMacropixels_: setMeshRGBs failed: "))
        << worker->calibrator().statusString().toStdString();
    EXPECT_EQ(commits(), 0u);
}

} // namespace
