#include "formats/ColorSpaceHandler.h"
#include "formats/CorvaneCalFileHandler.h"
#include "formats/Crc32.h"
#include "formats/Grader.h"
#include "formats/XinRuiRawHandler.h"

#include <benchmark/benchmark.h>
#include <fitsio.h>
#include <malloc.h>
#include <opencv2/imgproc.hpp>
#include <zlib.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <limits>
#include <map>
#include <random>
#include <sstream>
#include <streambuf>
#include <string>
#include <string_view>
#include <utility>
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

// The sizes users meet: a camera frame of tristimulus values, and a wall's emitters.
constexpr long kFrameWidth = 4000;
constexpr long kFrameHeight = 3000;
constexpr long kWallSide = 400;
constexpr int kBlurTiles = 8;
// Calls of each side per size: enough that the medians hold still from run to run.
constexpr int kFramePairs = 40;
constexpr int kWallPairs = 2000;

// Every benchmark of this program runs with an allocator that keeps the memory freed: a side
// that makes its result anew on each call (a grid, a buffer) then reuses pages instead of
// faulting in fresh ones, as its reference does, so a pair compares work and not page faults.
// The peak-memory figures hand freed memory back first (peakGrowthBytes).
const bool kAllocatorKeepsFreedMemory = [] {
    return mallopt(M_MMAP_MAX, 0) == 1 && mallopt(M_TRIM_THRESHOLD, std::numeric_limits<int>::max()) == 1;
}();

// A grid of values drawn evenly from low to high.
Vector2D<float> randomGrid(std::size_t width, std::size_t height, float low, float high, unsigned seed)
{
    Vector2D<float> grid(width, height);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> value(low, high);
    for (auto& row : grid)
        for (float& v : row)
            v = value(rng);
    return grid;
}

// A float capture of width x height on disk for the run, written once per size.
const std::string& captureFile(long width, long height)
{
    static const auto folder = std::filesystem::temp_directory_path() / ("formats-bench-" + std::to_string(getpid()));
    static std::map<std::pair<long, long>, std::string> files;
    auto [at, made] = files.try_emplace({width, height});
    if (made) {
        std::filesystem::create_directories(folder);
        at->second = (folder / ("R_X_" + std::to_string(width) + "x" + std::to_string(height) + ".fit")).string();
        Grader::writeFits(randomGrid(std::size_t(width), std::size_t(height), 0.0f, 1000.0f, 5), "!" + at->second);
        if (files.size() == 1)
            std::atexit([] { std::filesystem::remove_all(folder); });
    }
    return at->second;
}

// A kilobyte figure of /proc/self/status ("VmHWM", "VmRSS").
long statusKb(const std::string& field)
{
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(field + ":"))
            return std::stol(line.substr(field.size() + 1));
    return -1;
}

// The peak resident memory that one call of read adds, over what the process holds before it: freed
// heap is handed back first and the peak mark reset, so earlier iterations do not hide it.
template <class Read>
double peakGrowthBytes(Read&& read)
{
    malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";
    const long before = statusKb("VmRSS");
    read();
    return double(statusKb("VmHWM") - before) * 1024.0;
}

double secondsOf(const std::function<void()>& call)
{
    const auto start = std::chrono::steady_clock::now();
    call();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::nth_element(values.begin(), values.begin() + std::ptrdiff_t(values.size() / 2), values.end());
    return values[values.size() / 2];
}

// Our call and the reference's, alternately in one loop, so that a change of load meets both;
// one pair first, untimed, so that first-touch costs (the file cache, the allocator's pages)
// fall on neither. The benchmark's time is ours; the counters give both sides' medians and their
// ratio (ours over the reference's).
void comparePaired(benchmark::State& state, const std::function<void()>& ours, const std::function<void()>& reference)
{
    if (!kAllocatorKeepsFreedMemory) {
        state.SkipWithError("the allocator cannot be told to keep freed memory");
        return;
    }
    ours();
    reference();
    std::vector<double> oursSeconds, referenceSeconds;
    for (auto _ : state) {
        const double mine = secondsOf(ours);
        referenceSeconds.push_back(secondsOf(reference));
        oursSeconds.push_back(mine);
        state.SetIterationTime(mine);
    }
    if (oursSeconds.empty()) // skipped, by either side's first call
        return;
    const double oursMedian = median(oursSeconds), referenceMedian = median(referenceSeconds);
    state.counters["ours_ms"] = oursMedian * 1e3;
    state.counters["reference_ms"] = referenceMedian * 1e3;
    state.counters["ratio"] = oursMedian / referenceMedian;
}

// readCapture of a float capture against the same file read with plain CFITSIO calls into one
// buffer of floats; each side makes its values anew on every call. Peak memory beside the
// image's size, for each.
void BM_CaptureReadPair(benchmark::State& state)
{
    const long width = state.range(0), height = state.range(1);
    const std::string& file = captureFile(width, height);
    const ColorSpace::Handler handler;
    std::ostringstream progress; // readCapture prints the path
    auto* const console = std::cout.rdbuf(progress.rdbuf());
    const auto ours = [&] {
        Vector2D<float> grid = handler.readCapture(file);
        benchmark::DoNotOptimize(grid);
        progress.str({});
    };
    const auto reference = [&] {
        int status = 0;
        fitsfile* fits = nullptr;
        fits_open_file(&fits, file.c_str(), READONLY, &status);
        std::vector<float> values(std::size_t(width * height));
        fits_read_img(fits, TFLOAT, 1, LONGLONG(values.size()), nullptr, values.data(), nullptr, &status);
        fits_close_file(fits, &status);
        if (status != 0)
            state.SkipWithError("CFITSIO could not read the capture");
        benchmark::DoNotOptimize(values);
    };
    comparePaired(state, ours, reference);
    const double image = double(width * height) * sizeof(float);
    state.counters["image_MB"] = image / 1e6;
    state.counters["ours_peak_per_image"] = peakGrowthBytes(ours) / image;
    state.counters["reference_peak_per_image"] = peakGrowthBytes(reference) / image;
    std::cout.rdbuf(console);
}
BENCHMARK(BM_CaptureReadPair)
    ->Args({kFrameWidth, kFrameHeight})
    ->Iterations(kFramePairs)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CaptureReadPair)
    ->Args({kWallSide, kWallSide})
    ->Iterations(kWallPairs)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

// blurWithinTiles in 8 x 8 tiles with the grader's 15 x 15 Gaussian, against OpenCV's separable
// filter on each tile on its own, mirrored at the tile's edges without repeating the edge cell
// as the grader mirrors, the grid already in one float matrix. Each side makes its result anew
// on every call.
void BM_BlurPair(benchmark::State& state)
{
    const long width = state.range(0), height = state.range(1);
    const Vector2D<float> grid = randomGrid(std::size_t(width), std::size_t(height), 50.0f, 150.0f, 9);
    const Vector2D<float> kernel = Grader::gaussianKernel(kGraderKernel);
    cv::Mat matrix(int(height), int(width), CV_32F);
    for (int y = 0; y < matrix.rows; ++y)
        std::copy(grid[std::size_t(y)].begin(), grid[std::size_t(y)].end(), matrix.ptr<float>(y));
    const double sigma = ((kGraderKernel - 1) * 0.5 - 1) * 0.3 + 0.8;
    const cv::Mat weights = cv::getGaussianKernel(kGraderKernel, sigma, CV_32F);
    const int tileWidth = int(width) / kBlurTiles, tileHeight = int(height) / kBlurTiles;

    const auto ours = [&] {
        Vector2D<float> blurred = Grader::blurWithinTiles(grid, kernel, kBlurTiles, kBlurTiles);
        benchmark::DoNotOptimize(blurred);
    };
    const auto reference = [&] {
        cv::Mat out(matrix.size(), CV_32F);
        for (int ty = 0; ty < kBlurTiles; ++ty)
            for (int tx = 0; tx < kBlurTiles; ++tx) {
                const cv::Rect area(tx * tileWidth, ty * tileHeight, tileWidth, tileHeight);
                cv::Mat target = out(area);
                cv::sepFilter2D(matrix(area), target, CV_32F, weights, weights, cv::Point(-1, -1), 0,
                                cv::BORDER_REFLECT_101 | cv::BORDER_ISOLATED);
            }
        benchmark::DoNotOptimize(out.data);
    };
    comparePaired(state, ours, reference);
}
BENCHMARK(BM_BlurPair)
    ->Args({kFrameWidth, kFrameHeight})
    ->Iterations(kFramePairs)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlurPair)->Args({kWallSide, kWallSide})->Iterations(kWallPairs)->UseManualTime()->Unit(benchmark::kMicrosecond);

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
