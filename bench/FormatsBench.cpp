#include "formats/CorvaneCalFileHandler.h"
#include "formats/Crc32.h"
#include "formats/XinRuiRawHandler.h"

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <array>
#include <charconv>
#include <random>
#include <sstream>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::size_t kCrcBuffer = 64u << 20;  // 64 MiB, the same buffer for both routines
constexpr int kWallTiles = 400;
constexpr int kCellsPerSide = 20;               // cells per LDM side; the mesh adds a border
constexpr std::size_t kRawModulesPerSide = 100;  // 100 x 100 modules of 10 x 10 emitters:
constexpr std::size_t kRawModuleSide = 10;       // a raw table of one million emitters
constexpr int kRawPrecision = 3;

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

// A wall of one million emitters as the raw-table reader delivers it.
const Cal::Data& rawWall()
{
    static const Cal::Data data = [] {
        const std::size_t side = kRawModulesPerSide * kRawModuleSide;
        Cal::Data d;
        d.firstModuleColumn = 1;
        d.lastModuleColumn = kRawModulesPerSide;
        d.firstModuleRow = 1;
        d.lastModuleRow = kRawModulesPerSide;
        d.moduleWidth = kRawModuleSide;
        d.moduleHeight = kRawModuleSide;
        d.grid = Vector2D<Cal::Data::Cell>(side, side);
        std::mt19937 rng(11);
        std::uniform_real_distribution<float> luminance(50.0f, 900.0f);
        std::uniform_real_distribution<float> chromaticity(0.05f, 0.7f);
        for (auto& row : d.grid)
            for (auto& cell : row)
                for (float wavelength : {620.0f, 530.0f, 465.0f})
                    cell.push_back({chromaticity(rng), chromaticity(rng), luminance(rng), wavelength});
        return d;
    }();
    return data;
}

const std::string& rawWallText()
{
    static const std::string text = [] {
        std::ostringstream out;
        XinRui_Raw::Handler().writeStream(rawWall(), out, kRawPrecision);
        return out.str();
    }();
    return text;
}

// Counts what is written and keeps nothing: the writer's own cost, not a growing buffer's.
class CountingBuffer : public std::streambuf {
public:
    std::size_t count = 0;

protected:
    std::streamsize xsputn(const char*, std::streamsize n) override
    {
        count += std::size_t(n);
        return n;
    }
    int_type overflow(int_type c) override
    {
        ++count;
        return c;
    }
};

void BM_RawTableRead(benchmark::State& state)
{
    std::istringstream in(rawWallText());
    const XinRui_Raw::Handler handler;
    for (auto _ : state) {
        in.clear();
        in.seekg(0);
        Cal::Data data = handler.readStream(in);
        benchmark::DoNotOptimize(data);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(rawWallText().size()));
}
BENCHMARK(BM_RawTableRead)->Unit(benchmark::kMillisecond)->Iterations(1);

// The reference for the read: the same lines split and parsed with std::from_chars into a
// vector, no checks, no grid.
void BM_RawTablePlainParse(benchmark::State& state)
{
    struct Line {
        std::array<std::uint64_t, 4> position;
        std::array<float, 12> values;
    };
    const std::string_view text = rawWallText();
    for (auto _ : state) {
        std::vector<Line> lines;
        std::size_t at = text.find('\n') + 1; // past the header
        while (at < text.size()) {
            const std::size_t end = text.find('\n', at);
            const char* p = text.data() + at;
            const char* last = text.data() + end;
            Line& line = lines.emplace_back();
            for (auto& v : line.position)
                p = std::from_chars(p, last, v).ptr + 1;
            for (auto& v : line.values)
                p = std::from_chars(p, last, v).ptr + 1;
            at = end + 1;
        }
        benchmark::DoNotOptimize(lines);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(text.size()));
}
BENCHMARK(BM_RawTablePlainParse)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_RawTableWrite(benchmark::State& state)
{
    const Cal::Data& data = rawWall();
    const XinRui_Raw::Handler handler;
    CountingBuffer buffer;
    std::ostream out(&buffer);
    for (auto _ : state) {
        buffer.count = 0;
        handler.writeStream(data, out, kRawPrecision);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(buffer.count));
}
BENCHMARK(BM_RawTableWrite)->Unit(benchmark::kMillisecond)->Iterations(1);

// The reference for the write: the same numbers with std::to_chars into one string.
void BM_RawTablePlainFormat(benchmark::State& state)
{
    const Cal::Data& data = rawWall();
    for (auto _ : state) {
        std::string text;
        char buffer[64];
        const auto put = [&](auto value, auto... format) {
            text.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, value, format...).ptr);
            text += '\t';
        };
        for (std::size_t y = 0; y < data.grid.size(); ++y)
            for (std::size_t x = 0; x < data.grid[y].size(); ++x) {
                put(x / data.moduleWidth + data.firstModuleColumn);
                put(y / data.moduleHeight + data.firstModuleRow);
                put(x % data.moduleWidth);
                put(y % data.moduleHeight);
                for (const Cal::EmitterReading& r : data.grid[y][x]) {
                    put(r.Y, std::chars_format::fixed, kRawPrecision);
                    put(r.x, std::chars_format::fixed, 4);
                    put(r.y, std::chars_format::fixed, 4);
                    put(r.wavelength, std::chars_format::fixed, 1);
                }
                text.back() = '\n';
            }
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(BM_RawTablePlainFormat)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
