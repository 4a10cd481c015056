// The controller's mesh test pattern, end to end: through the processor driver to a loopback
// processor, the uploaded files read back.
#include "support/ControllerFixture.h"
#include "support/DisplayInUse.h"
#include "support/ProcessorSimulator.h"

#include "lib/formats/KlvImage.h"

#include "display/Kestra.h"
#include "formats/CorvaneCalFileHandler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Reply = ProcessorSimulator::Reply;

// Two tiles of 160 x 80 pixels side by side, each of 4 x 2 LDMs of 40 x 40 pixels; with the
// default 20 x 20 cells per tile a cell is 8 x 4 pixels, so each LDM holds 5 x 10 cells.
constexpr unsigned kTileWidth = 160;
constexpr unsigned kTileHeight = 80;
constexpr unsigned kLdmsAcross = 4;
constexpr unsigned kLdmsDown = 2;
constexpr unsigned kCellsAcross = 5;  // per LDM
constexpr unsigned kCellsDown = 10;   // per LDM
constexpr unsigned kTileCellsAcross = 20;

class ControllerMesh : public ControllerFixture
{
protected:
    void SetUp() override
    {
        ControllerFixture::SetUp();
        processor.requireDigest();
        processor.setRoute("GET", ProcessorSimulator::kStatusTarget, Reply::json(ProcessorSimulator::status()));
        processor.setRoute("GET", ProcessorSimulator::kLayoutTarget,
                           Reply::json(ProcessorSimulator::meshTiles(2, kTileWidth, kTileHeight, kLdmsAcross, kLdmsDown)));
        processor.acceptMeshUploads({Reply::text("busy"), Reply::text("idle")});
    }

    Kestra& connect(Velotrimmer& velotrimmer)
    {
        Kestra& kestra = *velotrimmer.kestra();
        kestra.setUsername(QStringLiteral("admin"));
        kestra.setPassword(QStringLiteral("secret"));
        kestra.setAddress(QString::fromStdString(processor.address()));
        kestra.setTileStateTiming({20ms, 200ms, 5000ms});
        EXPECT_TRUE(kestra.fetchOutputConfig().ok());
        return kestra;
    }

    // The uploaded files by tile and LDM index.
    std::map<std::pair<std::string, unsigned>, std::string> files() const
    {
        std::map<std::pair<std::string, unsigned>, std::string> found;
        for (const ProcessorSimulator::Request& r : processor.requests()) {
            const std::size_t cal = r.target.find("/cal?raw&continuation=");
            if (!r.authorized || r.method != "POST" || cal == std::string::npos)
                continue;
            const std::size_t start = std::string("/api/v1/tile/").size();
            const std::string rest = r.target.substr(start, cal - start);
            const std::size_t slash = rest.find('/');
            found[{rest.substr(0, slash), unsigned(std::stoul(rest.substr(slash + 1)))}] = r.body;
        }
        return found;
    }

    ProcessorSimulator processor;
};

// The checkerboard's sample in red and blue for a cell at wall cell coordinates: the dark cells
// take gain -1, so sample 0; the others 1.
float patternSample(unsigned cx, unsigned cy)
{
    return (cx + cy) % 2 == 0 ? 0.0f : 1.0f;
}

} // namespace

TEST_F(ControllerMesh, TheTestPatternReachesEveryLdmAsACheckerboardRunningOnAcrossTiles)
{
    Velotrimmer& velotrimmer = build();
    Kestra& kestra = connect(velotrimmer);
    DisplayInUse inUse(velotrimmer, kestra);
    ASSERT_EQ(kestra.adjustableTileCount(), 2u);
    ASSERT_EQ(velotrimmer.tileMeshWidth(), kTileCellsAcross);

    velotrimmer.setMeshTestPattern();

    const auto uploaded = files();
    ASSERT_EQ(uploaded.size(), 2u * kLdmsAcross * kLdmsDown);
    unsigned cells = 0;
    for (const auto& [key, bytes] : uploaded) {
        const auto& [tileName, index] = key;
        SCOPED_TRACE(tileName + " LDM " + std::to_string(index));
        std::istringstream in(bytes);
        const CorvaneCalFile::Mesh mesh = CorvaneCalFile::Handler().readStreamMesh(in);
        ASSERT_EQ(mesh.grids.size(), 3u);
        EXPECT_EQ(mesh.factor, 0.05f);
        const unsigned tileOffset = tileName == ProcessorSimulator::tileName(1) ? 0 : kTileCellsAcross;
        const unsigned ldmColumn = (index - 1) % kLdmsAcross;
        const unsigned ldmRow = (index - 1) / kLdmsAcross;
        for (unsigned r = 1; r <= kCellsDown; ++r) {
            for (unsigned c = 1; c <= kCellsAcross; ++c) {
                const unsigned cx = tileOffset + ldmColumn * kCellsAcross + c - 1;
                const unsigned cy = ldmRow * kCellsDown + r - 1;
                EXPECT_EQ(mesh.grids[0].at(r).at(c), patternSample(cx, cy)) << cx << "," << cy;
                EXPECT_EQ(mesh.grids[1].at(r).at(c), 1.0f);
                EXPECT_EQ(mesh.grids[2].at(r).at(c), patternSample(cx, cy));
                ++cells;
            }
        }
    }
    EXPECT_EQ(cells, 800u);

    // The first LDM's file, byte for byte, from the format's tables: 7 x 12 samples with the
    // border repeating the edge, 1.0 stored as 0x8000.
    std::vector<std::vector<unsigned>> channels(3);
    for (unsigned r = 0; r < kCellsDown + 2; ++r) {
        for (unsigned c = 0; c < kCellsAcross + 2; ++c) {
            const unsigned cx = std::clamp(c, 1u, kCellsAcross) - 1;
            const unsigned cy = std::clamp(r, 1u, kCellsDown) - 1;
            const unsigned sample = patternSample(cx, cy) == 0.0f ? 0x0000 : 0x8000;
            channels[0].push_back(sample);
            channels[1].push_back(0x8000);
            channels[2].push_back(sample);
        }
    }
    using namespace KlvImage;
    const std::string payload = meshPayload("Velotrim continuous", kCellsAcross + 2, kCellsDown + 2, channels,
                                            {0.5f, 0.5f, float(kCellsAcross), float(kCellsDown), 0.05f});
    EXPECT_EQ(uploaded.at({ProcessorSimulator::tileName(1), 1}),
              file({3, 0, 0, ""}, calSet(7) + record(KlvImage::Key::CalMeshCorr, payload)));
}

TEST_F(ControllerMesh, AFailingProcessorShowsInTheStatusLine)
{
    Velotrimmer& velotrimmer = build();
    Kestra& kestra = connect(velotrimmer);
    DisplayInUse inUse(velotrimmer, kestra);
    processor.setRoute("POST", "/api/v1/tile/" + ProcessorSimulator::tileName(2) + "/1/cal?raw&continuation=true",
                       Reply::text("no", 500));

    velotrimmer.setMeshTestPattern();
    EXPECT_TRUE(velotrimmer.statusString().contains(
        QLatin1String("UploadLdms: tile 00:1a:2b:00:00:02, ldm 1, http status 500")))
        << velotrimmer.statusString().toStdString();
}
