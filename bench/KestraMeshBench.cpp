// The processor driver's resetMesh against the loopback processor simulator: a wall of one mesh
// tile against a wall of 400, each tile answering its state polls "busy" then "idle" after a
// fixed delay. Tiles upload concurrently, so the large wall should take well under 400 times
// as long. And the library's cost of writing one tile's meshes.
#include "display/Kestra.h"
#include "formats/CorvaneCalFileHandler.h"
#include "formats/CorvaneCalFileMesh.h"
#include "support/ProcessorSimulator.h"

#include <benchmark/benchmark.h>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include <chrono>
#include <sstream>

namespace {

using Reply = ProcessorSimulator::Reply;

constexpr std::chrono::milliseconds kStateReplyDelay{50};
// Each tile: 40 x 20 pixels of 2 x 1 LDMs, so two files per tile.
constexpr unsigned kTileWidth = 40;
constexpr unsigned kTileHeight = 20;
constexpr unsigned kLdmsAcross = 2;

void KestraResetMesh(benchmark::State& state)
{
    const auto tiles = unsigned(state.range(0));
    ProcessorSimulator simulator;
    simulator.requireDigest();
    simulator.setRoute("GET", ProcessorSimulator::kLayoutTarget,
                       Reply::json(ProcessorSimulator::meshTiles(tiles, kTileWidth, kTileHeight, kLdmsAcross, 1)));
    boost::asio::io_context io;
    auto guard = boost::asio::make_work_guard(io);
    Kestra kestra(io);
    kestra.setUsername(QStringLiteral("admin"));
    kestra.setPassword(QStringLiteral("secret"));
    kestra.setAddress(QString::fromStdString(simulator.address()));
    if (!kestra.fetchOutputConfig().ok() || kestra.tileCount() != tiles) {
        state.SkipWithError("the simulator's wall did not load");
        return;
    }
    Reply busy = Reply::text("busy");
    Reply idle = Reply::text("idle");
    busy.delay = idle.delay = kStateReplyDelay;
    for (auto _ : state) {
        state.PauseTiming();
        simulator.acceptMeshUploads({busy, idle}); // every tile starts again at "busy"
        state.ResumeTiming();
        const ErrorType result = kestra.resetMesh();
        if (!result.ok()) {
            state.SkipWithError(qPrintable(result.message));
            break;
        }
    }
    state.counters["tiles"] = tiles;
}
BENCHMARK(KestraResetMesh)->Arg(1)->Arg(400)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// The library's part of one tile in resetMesh: two flat 3 x 3 meshes written to memory.
void MeshWritePerTile(benchmark::State& state)
{
    CorvaneCalFile::Mesh mesh;
    mesh.name = "Velotrim continuous";
    for (int channel = 0; channel < 3; ++channel)
        mesh.grids.push_back(Vector2D<float>(3, 3, 1.25f));
    mesh.windowX = mesh.windowY = 0.5f;
    mesh.windowWidth = mesh.windowHeight = 1.0f;
    mesh.factor = 1.0f;
    const CorvaneCalFile::Handler handler;
    for (auto _ : state) {
        for (unsigned ldm = 0; ldm < kLdmsAcross; ++ldm) {
            std::ostringstream out;
            handler.writeStream(mesh, out);
            benchmark::DoNotOptimize(out.str());
        }
    }
}
BENCHMARK(MeshWritePerTile)->Unit(benchmark::kMicrosecond);

} // namespace
