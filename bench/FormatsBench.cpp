#include "formats/CorvaneCalFileHandler.h"
#include "formats/Crc32.h"
#include "formats/Grader.h"

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cmath>
#include <filesystem>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kCrcBuffer = 64u << 20;  // 64 MiB, the same buffer for both routines
constexpr int kWallTiles = 400;
constexpr int kCellsPerSide = 20;               // cells per LDM side; the mesh adds a border

const std::vector<unsigned char>& crcBuffer()
{
    static const std::vector<unsigned char> buffer = [] {
        std::vector<unsigned char> b(kCrcBuffer);
        std::mt19937 rng(7);
        for (auto& byte : b)
            byte = static_cast<unsigned char>(rng());
        return b;
    }();
    return buffer;
}

void BM_Crc32Tessella(benchmark::State& state)
{
    const auto& buffer = crcBuffer();
    for (auto _ : state) {
        std::uint32_t reg = kCrc32Initial;
        crc32Update(reg, buffer.data(), buffer.size());
        benchmark::DoNotOptimize(reg);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(buffer.size()));
}
BENCHMARK(BM_Crc32Tessella)->Unit(benchmark::kMillisecond);

void BM_Crc32Zlib(benchmark::State& state)
{
    const auto& buffer = crcBuffer();
    for (auto _ : state) {
        auto crc = crc32(0L, buffer.data(), uInt(buffer.size()));
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(buffer.size()));
}
BENCHMARK(BM_Crc32Zlib)->Unit(benchmark::kMillisecond);

CorvaneCalFile::Mesh tileMesh(int tile)
{
    const std::size_t side = kCellsPerSide + 2;
    CorvaneCalFile::Mesh mesh;
    mesh.name = "Velotrim continuous";
    for (int ch = 0; ch < 3; ++ch)
        mesh.grids.emplace_back(side, side, 1.0f + 0.001f * float(tile % 100 + ch));
    mesh.windowX = 0.5f;
    mesh.windowY = 0.5f;
    mesh.windowWidth = kCellsPerSide;
    mesh.windowHeight = kCellsPerSide;
    mesh.factor = 0.05f;
    return mesh;
}

// The mesh upload of a whole 400-tile wall: every tile's mesh written, then read back.
void BM_MeshWallWriteRead(benchmark::State& state)
{
    std::vector<CorvaneCalFile::Mesh> meshes;
    for (int tile = 0; tile < kWallTiles; ++tile)
        meshes.push_back(tileMesh(tile));
    const CorvaneCalFile::Handler handler;
    std::size_t bytes = 0;
    for (auto _ : state) {
        bytes = 0;
        for (const auto& mesh : meshes) {
            std::stringstream file;
            handler.writeStream(mesh, file);
            bytes += file.str().size();
            auto read = handler.readStreamMesh(file);
            benchmark::DoNotOptimize(read);
        }
    }
    state.counters["files"] = kWallTiles;
    state.counters["bytes"] = double(bytes);
}
BENCHMARK(BM_MeshWallWriteRead)->Unit(benchmark::kMillisecond);

constexpr int kGradedCaptures = 8;
constexpr std::size_t kCaptureSide = 400;
constexpr int kGraderKernel = 15;
constexpr int kGraderTiles = 4;

// Uniformity grading of a wall photographed eight times: every capture blurred within its
// tiles, made relative and written as PNG and FITS, then averaged; time per capture.
void BM_GraderRelativeAverage(benchmark::State& state)
{
    Grader::Captures captures;
    std::mt19937 rng(3);
    std::normal_distribution<float> noise(0.0f, 0.02f);
    for (int k = 0; k < kGradedCaptures; ++k) {
        Vector2D<float> luminance(kCaptureSide, kCaptureSide);
        for (std::size_t y = 0; y < kCaptureSide; ++y)
            for (std::size_t x = 0; x < kCaptureSide; ++x)
                luminance[y][x] = 100.0f + 0.05f * float(x) - 0.03f * float(y) + noise(rng);
        Cal::Data data;
        data.addYChannel(luminance);
        captures.emplace("capture" + std::to_string(k), std::move(data));
    }
    const auto folder = std::filesystem::temp_directory_path() / ("grader-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    // The progress lines would swamp the report.
    std::ostringstream progress;
    auto* const console = std::cout.rdbuf(progress.rdbuf());
    const Grader grader;
    for (auto _ : state) {
        auto result = grader.relativeAverage(captures, kGraderTiles, kGraderTiles, 0, kGraderKernel, folder.string());
        benchmark::DoNotOptimize(result);
        progress.str({});
    }
    std::cout.rdbuf(console);
    std::filesystem::remove_all(folder);
    state.counters["ms_per_capture"] = benchmark::Counter(
        double(kGradedCaptures) * double(state.iterations()) / 1000.0,
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_GraderRelativeAverage)->Unit(benchmark::kMillisecond);

} // namespace
