// The processor driver's resetMesh against the loopback processor simulator.
// - Scale: a wall of one mesh tile against a wall of 400, each tile busy for a while after its
//   last file, as a processor flashing it; the whole wall should take little more than one tile.
// - Throughput: a wall of 400 tiles whose state polls answer "busy" then "idle" at once, against
//   libcurl's multi interface sending the same requests (recorded from the driver's run) with
//   Digest over as many kept connections as the driver keeps, to the same server.
// And the library's cost of writing one tile's meshes.
#include "CurlReference.h"
#include "ProcessorCredentials.h"

#include "display/Kestra.h"
#include "formats/CorvaneCalFileHandler.h"
#include "formats/CorvaneCalFileMesh.h"
#include "support/ProcessorSimulator.h"

#include <benchmark/benchmark.h>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include <chrono>
#include <sstream>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Reply = ProcessorSimulator::Reply;

// A tile stays busy this long after its last file: the 100 ms a tile took in the simulator
// before, when each of its two state replies waited 50 ms.
constexpr std::chrono::milliseconds kTileBusy{100};
// How often the driver asks a busy tile; the rest of its timing is the driver's own.
constexpr Kestra::TileStateTiming kTiming{50ms, 3000ms, 120000ms};
// Each tile: 40 x 20 pixels of 2 x 1 LDMs, so two files per tile.
constexpr unsigned kTileWidth = 40;
constexpr unsigned kTileHeight = 20;
constexpr unsigned kLdmsAcross = 2;
constexpr unsigned kLargeWall = 400;

// A driver connected to a simulated processor that shows a wall of mesh tiles.
struct MeshWall
{
    explicit MeshWall(unsigned tiles)
    {
        simulator.requireDigest();
        simulator.setRoute("GET", ProcessorSimulator::kLayoutTarget,
                           Reply::json(ProcessorSimulator::meshTiles(tiles, kTileWidth, kTileHeight, kLdmsAcross, 1)));
        kestra.setUsername(QString::fromLatin1(kUser));
        kestra.setPassword(QString::fromLatin1(kPassword));
        kestra.setAddress(QString::fromStdString(simulator.address()));
        kestra.setTileStateTiming(kTiming);
        loaded = kestra.fetchOutputConfig().ok() && kestra.tileCount() == tiles;
    }

    ProcessorSimulator simulator;
    boost::asio::io_context io;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> guard = boost::asio::make_work_guard(io);
    Kestra kestra{io};
    bool loaded = false;
};

// Times resetMesh; prepare() runs untimed before each one.
template <class Prepare>
void timeResets(benchmark::State& state, MeshWall& wall, Prepare prepare)
{
    if (!wall.loaded) {
        state.SkipWithError("the simulator's wall did not load");
        return;
    }
    std::size_t before = wall.simulator.requestCount();
    for (auto _ : state) {
        state.PauseTiming();
        prepare();
        before = wall.simulator.requestCount();
        state.ResumeTiming();
        const ErrorType result = wall.kestra.resetMesh();
        if (!result.ok()) {
            state.SkipWithError(qPrintable(result.message));
            break;
        }
    }
    state.counters["requests"] = double(wall.simulator.requestCount() - before);
    state.counters["connections"] = double(wall.simulator.connections().accepted);
}

void KestraResetMesh(benchmark::State& state)
{
    const auto tiles = unsigned(state.range(0));
    MeshWall wall(tiles);
    timeResets(state, wall, [&] { wall.simulator.acceptMeshUploads(kTileBusy); });
    state.counters["tiles"] = tiles;
}
BENCHMARK(KestraResetMesh)->Arg(1)->Arg(kLargeWall)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// Every tile answers "busy" at its first poll and "idle" at its second: five requests a tile.
void prepareImmediateStates(ProcessorSimulator& simulator)
{
    simulator.acceptMeshUploads({Reply::text("busy"), Reply::text("idle")});
}

void KestraResetMeshThroughput(benchmark::State& state)
{
    MeshWall wall(kLargeWall);
    timeResets(state, wall, [&] { prepareImmediateStates(wall.simulator); });
}
BENCHMARK(KestraResetMeshThroughput)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void CurlMultiSameRequests(benchmark::State& state)
{
    // One run of the driver, to learn exactly what it sends.
    MeshWall wall(kLargeWall);
    prepareImmediateStates(wall.simulator);
    const std::size_t before = wall.simulator.requestCount();
    if (!wall.loaded || !wall.kestra.resetMesh().ok()) {
        state.SkipWithError("the driver's run failed");
        return;
    }
    std::vector<CurlRequest> requests;
    const auto log = wall.simulator.requests();
    for (std::size_t i = before; i < log.size(); ++i) {
        const ProcessorSimulator::Request& r = log[i];
        if (r.authorized)
            requests.push_back({r.method, r.target, r.header("Content-Type").value_or(""), r.body});
    }

    const std::size_t connectionsBefore = wall.simulator.connections().accepted;
    CurlMulti curl(Kestra::kProcessorLanes, "http://" + wall.simulator.address(), kUser, kPassword);
    prepareImmediateStates(wall.simulator);
    if (!curl.sendAll(requests)) { // connects and takes the challenges
        state.SkipWithError("libcurl's requests were not all accepted");
        return;
    }
    std::size_t sent = wall.simulator.requestCount();
    for (auto _ : state) {
        state.PauseTiming();
        prepareImmediateStates(wall.simulator);
        sent = wall.simulator.requestCount();
        state.ResumeTiming();
        if (!curl.sendAll(requests)) {
            state.SkipWithError("libcurl's requests were not all accepted");
            break;
        }
    }
    state.counters["requests"] = double(wall.simulator.requestCount() - sent);
    state.counters["connections"] = double(wall.simulator.connections().accepted - connectionsBefore);
}
BENCHMARK(CurlMultiSameRequests)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

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
