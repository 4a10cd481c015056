#include "CapturedOutput.h"
#include "Fifo.h"
#include "TestFiles.h"
#include "formats/ColorSpaceHandler.h"
#include "formats/Grader.h"
#include "support/FileSizeLimit.h"

#include <CCfits/CCfits>
#include <QTemporaryDir>
#include <png++/png.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <random>
#include <set>
#include <string>

// Named, so that the file's own names stay apart from its neighbours' when sources are compiled
// together (unity builds).
namespace GraderTests {

using testing::HasSubstr;

namespace {

using TestFiles::contentOf;

using Captures = Grader::Captures;

// A capture whose `channels` channels all have the given luminance.
Cal::Data captureOf(const Vector2D<float>& luminance, int channels = 3)
{
    Cal::Data data;
    for (int k = 0; k < channels; ++k)
        data.addYChannel(luminance);
    return data;
}

Vector2D<float> gridOf(std::size_t width, std::size_t height, const std::function<float(std::size_t, std::size_t)>& at)
{
    Vector2D<float> grid(width, height);
    for (std::size_t y = 0; y < height; ++y)
        for (std::size_t x = 0; x < width; ++x)
            grid[y][x] = at(x, y);
    return grid;
}

// Every cell blurred by the plain per-cell loop, summed exactly (in double, where every product
// of two floats is exact and the sums of a few hundred of them lose nothing that shows at 1e-6):
// kernel rows, then columns, each sample mirrored into the cell's tile (clipped to the grid) and
// held there. Beside each sum, the sum of the magnitudes of its terms.
struct ExactBlur {
    Vector2D<double> sum;
    Vector2D<double> magnitude;
};

ExactBlur exactBlur(const Vector2D<float>& grid, const Vector2D<float>& kernel, int across, int down)
{
    const long width = long(grid.width()), height = long(grid.height()), size = long(kernel.size());
    const long half = (size - 1) / 2, tileWidth = width / across, tileHeight = height / down;
    const auto source = [](long cell, long offset, long tile, long cells) {
        const long first = cell - cell % tile, last = std::min(first + tile - 1, cells - 1);
        long index = cell - offset;
        index = index < first ? 2 * first - index : index > last ? 2 * last - index : index;
        return std::size_t(std::clamp(index, first, last));
    };
    ExactBlur out{Vector2D<double>(grid.width(), grid.height()), Vector2D<double>(grid.width(), grid.height())};
    for (long y = 0; y < height; ++y)
        for (long x = 0; x < width; ++x)
            for (long kr = 0; kr < size; ++kr)
                for (long kc = 0; kc < size; ++kc) {
                    const double term = double(kernel[std::size_t(kr)][std::size_t(kc)])
                                        * grid[source(y, half - kr, tileHeight, height)][source(x, half - kc, tileWidth, width)];
                    out.sum[std::size_t(y)][std::size_t(x)] += term;
                    out.magnitude[std::size_t(y)][std::size_t(x)] += std::abs(term);
                }
    return out;
}

Vector2D<float> readFits(const std::string& path)
{
    Vector2D<float> grid;
    capture([&] { grid = ColorSpace::Handler().readCapture(path); });
    return grid;
}

// The grey levels of a PNG that the grader wrote (red, green and blue alike).
Vector2D<int> greyOf(const std::string& path)
{
    png::image<png::rgb_pixel> image(path);
    Vector2D<int> grey(image.get_width(), image.get_height());
    for (std::size_t y = 0; y < image.get_height(); ++y)
        for (std::size_t x = 0; x < image.get_width(); ++x) {
            const png::rgb_pixel p = image.get_pixel(png::uint_32(x), png::uint_32(y));
            EXPECT_TRUE(p.red == p.green && p.green == p.blue);
            grey[y][x] = p.red;
        }
    return grey;
}

bool allEqual(const Vector2D<float>& grid, float value)
{
    return std::all_of(grid.begin(), grid.end(),
                       [value](const auto& row) { return std::all_of(row.begin(), row.end(), [value](float v) { return v == value; }); });
}

// The folder the grader writes into.
class GraderOutput : public testing::Test {
protected:
    QTemporaryDir temp;
    std::string folder = temp.path().toStdString();
    Grader grader;

    void SetUp() override { ASSERT_TRUE(temp.isValid()); }

    std::set<std::string> files() const
    {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            names.insert(entry.path().filename().string());
        return names;
    }

    std::string at(const std::string& name) const { return folder + "/" + name; }

    // Debian's own readers must accept every file written.
    void validateAll() const
    {
        ASSERT_EQ(std::system("command -v pngcheck >/dev/null && command -v fitsverify >/dev/null"), 0)
            << "pngcheck and fitsverify are missing: run scripts/setup";
        for (const std::string& name : files()) {
            const std::string command = name.ends_with(".png") ? "pngcheck -q " : "fitsverify -q -e ";
            EXPECT_EQ(std::system((command + "'" + at(name) + "' >/dev/null 2>&1").c_str()), 0) << name;
        }
    }
};

} // namespace

TEST(GraderKernel, WeightsFollowTheGaussianOfTheSize)
{
    const Vector2D<float> k3 = Grader::gaussianKernel(3);
    ASSERT_EQ(k3.width(), 3u);
    ASSERT_EQ(k3.height(), 3u);
    float sum = 0.0f;
    for (const auto& row : k3)
        for (float w : row)
            sum += w;
    EXPECT_NEAR(sum, 1.0f, 1e-6f);
    // sigma 0.8: neighbours differ by exp(1 / (2 sigma^2)) per unit of squared distance.
    const double step = std::exp(1.0 / 1.28);
    EXPECT_NEAR(k3[1][1] / k3[0][1], step, 1e-5);
    EXPECT_NEAR(k3[0][1] / k3[0][0], step, 1e-5);
    EXPECT_EQ(k3[0][1], k3[1][0]);
    EXPECT_EQ(k3[0][0], k3[2][2]);
    EXPECT_EQ(k3[1][2], k3[2][1]);
    EXPECT_GT(k3[1][1], k3[0][1]);

    EXPECT_EQ(Grader::gaussianKernel(1), (Vector2D<float>{{1.0f}}));
    // An even size reaches one cell further forward than back.
    const Vector2D<float> k4 = Grader::gaussianKernel(4);
    EXPECT_EQ(k4[1][1], *std::max_element(k4[1].begin(), k4[1].end()));
    EXPECT_EQ(k4[0][0], k4[2][2]);
    EXPECT_THROW(Grader::gaussianKernel(0), std::invalid_argument);
}

TEST(GraderBlur, ConstantTilesStayConstantBesideOthers)
{
    // 8 x 8 in 2 x 2 tiles of 4 x 4, each tile its own constant.
    const Vector2D<float> grid = gridOf(8, 8, [](std::size_t x, std::size_t y) { return 1.0f + float(x / 4) * 4 + float(y / 4) * 2; });
    const Vector2D<float> blurred = Grader::blurWithinTiles(grid, Grader::gaussianKernel(3), 2, 2);
    for (std::size_t y = 0; y < 8; ++y)
        for (std::size_t x = 0; x < 8; ++x) {
            const float corner = blurred[y - y % 4][x - x % 4];
            EXPECT_EQ(blurred[y][x], corner) << x << ", " << y;
            EXPECT_NEAR(blurred[y][x], grid[y][x], 1e-5f) << x << ", " << y;
        }
}

TEST(GraderBlur, SamplesAreMirroredIntoTheCellsTile)
{
    // A kernel with one weight picks one sample, which shows where the reflection lands.
    const Vector2D<float> grid = gridOf(8, 8, [](std::size_t x, std::size_t y) { return float(x + 10 * y); });
    struct Case {
        std::size_t kernelRow, kernelColumn, x, y;
        float expected;
    };
    const Case cases[] = {
        {0, 0, 0, 0, 11.0f},  // (-1, -1) mirrored about row and column 0 of the tile
        {0, 0, 4, 4, 55.0f},  // (3, 3) lies in the tile before: mirrored about row and column 4
        {2, 2, 3, 3, 22.0f},  // (4, 4) lies in the next tile: mirrored about row and column 3
        {2, 0, 5, 3, 24.0f},  // row 4 back to row 2, column 4 stays: the own tile's edge
        {1, 1, 6, 2, 26.0f},  // the centre weight: the cell itself
    };
    for (const Case& c : cases) {
        Vector2D<float> kernel(3, 3, 0.0f);
        kernel[c.kernelRow][c.kernelColumn] = 1.0f;
        EXPECT_EQ(Grader::blurWithinTiles(grid, kernel, 2, 2)[c.y][c.x], c.expected)
            << "kernel " << c.kernelRow << ", " << c.kernelColumn << " at " << c.x << ", " << c.y;
    }
}

// Every output within 1e-6 of the exact sum, relative to the sum of the magnitudes of its terms:
// Gaussian kernels (two passes) and any other kernel, on whole, partial and small tiles, and on
// tiles many times taller than the kernel (the rows summed along are kept only while needed).
TEST(GraderBlur, EqualsTheExactSumWithinItsTolerance)
{
    struct Case {
        std::size_t width, height;
        int across, down, kernel;
    };
    const Case cases[] = {{8, 8, 2, 2, 3},   {9, 9, 2, 2, 3},     {11, 7, 3, 2, 5},  {9, 9, 4, 4, 5},
                          {5, 3, 5, 3, 7},   {16, 12, 1, 1, 15},  {13, 10, 2, 3, 4}, {120, 96, 8, 8, 15},
                          {60, 45, 3, 3, 21}, {17, 100, 2, 2, 7}, {9, 61, 1, 3, 6}};
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> value(0.0f, 100.0f);
    std::uniform_real_distribution<float> signedWeight(-1.0f, 1.0f);
    for (const Case& c : cases) {
        const Vector2D<float> grid = gridOf(c.width, c.height, [&](std::size_t, std::size_t) { return value(rng); });
        const Vector2D<float> gaussian = Grader::gaussianKernel(c.kernel);
        // No outer product: weights of both signs, drawn at random.
        const Vector2D<float> other = gridOf(std::size_t(c.kernel), std::size_t(c.kernel),
                                             [&](std::size_t, std::size_t) { return signedWeight(rng); });
        for (const Vector2D<float>* kernel : {&gaussian, &other}) {
            const Vector2D<float> blurred = Grader::blurWithinTiles(grid, *kernel, c.across, c.down);
            const ExactBlur exact = exactBlur(grid, *kernel, c.across, c.down);
            double worst = 0.0;
            for (std::size_t y = 0; y < c.height; ++y)
                for (std::size_t x = 0; x < c.width; ++x)
                    worst = std::max(worst, std::abs(blurred[y][x] - exact.sum[y][x]) / exact.magnitude[y][x]);
            EXPECT_LE(worst, 1e-6) << c.width << " x " << c.height << ", tiles " << c.across << " x " << c.down
                                   << ", kernel " << c.kernel << (kernel == &gaussian ? " Gaussian" : " other");
        }
    }
}

TEST(GraderPng, MapsTheRangeToBytes)
{
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    struct Case {
        const char* name;
        std::vector<float> values;
        float low, high;
        std::vector<int> bytes;
    };
    const Case cases[] = {
        {"constant", {2, 2, 2}, 0, 0, {0, 0, 0}},
        {"negativeConstant", {-2, -2}, 0, 0, {0, 0}},
        {"fromSmallestToLargest", {1, 2, 3}, 0, 0, {0, 127, 255}},
        {"acrossZero", {-1, 0, 1}, 0, 0, {0, 127, 255}},
        {"upToZeroAtLeast", {-4, -2}, 0, 0, {0, 127}},
        {"givenRangeClamps", {-1, 0.5f, 2}, 0, 1, {0, 127, 255}},
        {"nonFiniteLeftOut", {nan, inf, 1, 0, -inf}, 0, 0, {0, 0, 255, 0, 0}},
        {"nothingFinite", {nan, inf}, 0, 0, {0, 0}},
    };
    QTemporaryDir temp;
    for (const Case& c : cases) {
        const std::string path = temp.path().toStdString() + "/" + c.name + ".png";
        Grader::writePng(Vector2D<float>{c.values}, c.low, c.high, path);
        const Vector2D<int> grey = greyOf(path);
        EXPECT_EQ(grey, Vector2D<int>{c.bytes}) << c.name;
    }
}

TEST_F(GraderOutput, PixelAverageOfConstantsIsOneEverywhere)
{
    const Captures captures = {{"a", captureOf(Vector2D<float>(4, 3, 2.0f))}, {"b", captureOf(Vector2D<float>(4, 3, 4.0f))}};
    Vector2D<float> result;
    const Captured c = capture([&] { result = grader.pixelAverage(captures, 2, folder); });
    EXPECT_EQ(result, Vector2D<float>(4, 3, 1.0f));
    EXPECT_EQ(files(), (std::set<std::string>{"a_original.png", "b_original.png"}));
    EXPECT_EQ(greyOf(at("a_original.png")), Vector2D<int>(4, 3, 0));
    EXPECT_EQ(greyOf(at("b_original.png")), Vector2D<int>(4, 3, 0));
    EXPECT_EQ(c.out, "");
    validateAll();
}

TEST_F(GraderOutput, RelativeAverageOfIdenticalCapturesIsTheirRelativeGrid)
{
    const Vector2D<float> grid = gridOf(8, 8, [](std::size_t x, std::size_t y) { return 1.0f + 0.05f * float(x) + 0.1f * float(y * y); });
    const Captures captures = {{"one", captureOf(grid)}, {"two", captureOf(grid)}};
    Vector2D<float> result;
    const Captured c = capture([&] { result = grader.relativeAverage(captures, 2, 2, 0, 3, folder); });

    EXPECT_EQ(c.out, "processed 1 of 2\nprocessed 2 of 2\n");
    EXPECT_EQ(files(), (std::set<std::string>{"one_original.png", "one_blur.png", "one_relative.png",
                                              "one_relative.fits", "two_original.png", "two_blur.png",
                                              "two_relative.png", "two_relative.fits", "relative_avg.png",
                                              "relative_avg.fits", "relative_stddev.png", "relative_stddev.fits"}));
    const Vector2D<float> relative = readFits(at("one_relative.fits"));
    EXPECT_EQ(readFits(at("two_relative.fits")), relative);
    EXPECT_EQ(readFits(at("relative_avg.fits")), relative);
    EXPECT_TRUE(allEqual(readFits(at("relative_stddev.fits")), 0.0f));
    EXPECT_EQ(result, relative);

    // Each tile relative to its blurred centre.
    const Vector2D<float> blurred = Grader::blurWithinTiles(grid, Grader::gaussianKernel(3), 2, 2);
    for (std::size_t y = 0; y < 8; ++y)
        for (std::size_t x = 0; x < 8; ++x)
            EXPECT_EQ(relative[y][x], blurred[y][x] / blurred[y - y % 4 + 2][x - x % 4 + 2]) << x << ", " << y;
    EXPECT_EQ(relative[2][6], 1.0f);
    validateAll();
}

TEST_F(GraderOutput, RelativeAverageBlendsToOneWhereCapturesDisagree)
{
    // Kernel size 1 leaves the grids as they are; one tile, centre (2, 2) = 1.
    Vector2D<float> a(4, 4, 1.0f), b(4, 4, 1.0f);
    a[0][0] = 3.0f;  // relative 3 and 1: sd = sqrt(2)
    a[0][1] = 1.1f;  // relative 1.1 and 1: sd = 0.05 sqrt(2), well below 0.2
    Vector2D<float> result;
    capture([&] { result = grader.relativeAverage({{"a", captureOf(a)}, {"b", captureOf(b)}}, 1, 1, 1, 1, folder); });
    EXPECT_EQ(result[0][0], 1.0f);
    const double w = std::sqrt(2.0) * 0.05 / 0.2;
    EXPECT_NEAR(result[0][1], 1.05 * (1.0 - w) + w, 1e-6);
    EXPECT_EQ(result[3][3], 1.0f);
    EXPECT_NEAR(readFits(at("relative_stddev.fits"))[0][0], std::sqrt(2.0f), 1e-6f);
}

TEST_F(GraderOutput, PartialTilesStayInsideTheGrid)
{
    // 9 x 9 in two tiles each way: whole tiles of 4 x 4, row 8 and column 8 left over.
    const Vector2D<float> grid = gridOf(9, 9, [](std::size_t x, std::size_t y) { return 1.0f + float(x) + 9.0f * float(y); });
    Vector2D<float> result;
    capture([&] { result = grader.relativeAverage({{"only", captureOf(grid)}}, 2, 2, 0, 3, folder); });

    const Vector2D<float> blurred = Grader::blurWithinTiles(grid, Grader::gaussianKernel(3), 2, 2);
    const Vector2D<float> relative = readFits(at("only_relative.fits"));
    ASSERT_EQ(relative.width(), 9u);
    ASSERT_EQ(relative.height(), 9u);
    for (std::size_t y = 0; y < 9; ++y)
        for (std::size_t x = 0; x < 9; ++x) {
            const bool whole = x < 8 && y < 8;
            const float expected = whole ? blurred[y][x] / blurred[y - y % 4 + 2][x - x % 4 + 2] : blurred[y][x];
            EXPECT_EQ(relative[y][x], expected) << x << ", " << y;
            EXPECT_TRUE(std::isfinite(result[y][x]));
        }
    // The one-cell corner tile can only sample itself.
    EXPECT_EQ(relative[8][8], blurred[8][8]);
    EXPECT_NEAR(blurred[8][8], grid[8][8], 1e-3f);
}

TEST_F(GraderOutput, DarkCapturesRaiseOrGiveFactorOne)
{
    const Captures dark = {{"dark", captureOf(Vector2D<float>(8, 4, 0.0f))}};
    capture([&] {
        EXPECT_THROW(grader.pixelAverage(dark, 0, folder), std::domain_error);
        EXPECT_THROW(grader.averageBlurred(dark, 2, 1, 0, 3, folder), std::domain_error);
    });
    Vector2D<float> result;
    const Captured c = capture([&] { result = grader.relativeAverage(dark, 2, 1, 0, 3, folder); });
    EXPECT_EQ(result, Vector2D<float>(8, 4, 1.0f));
    EXPECT_THAT(c.errors, HasSubstr("capture dark, tile 0, 0"));
    EXPECT_THAT(c.errors, HasSubstr("capture dark, tile 1, 0"));
    validateAll();
}

TEST_F(GraderOutput, AZeroCentreTileGetsFactorOneAndTheOthersTheirOwn)
{
    // Left tile black, right tile a ramp.
    const Vector2D<float> grid = gridOf(8, 4, [](std::size_t x, std::size_t) { return x < 4 ? 0.0f : float(x); });
    Vector2D<float> result;
    const Captured c = capture([&] { result = grader.relativeAverage({{"half", captureOf(grid)}}, 2, 1, 0, 1, folder); });
    EXPECT_THAT(c.errors, HasSubstr("capture half, tile 0, 0"));
    EXPECT_THAT(c.errors, testing::Not(HasSubstr("tile 1, 0")));
    for (std::size_t y = 0; y < 4; ++y)
        for (std::size_t x = 0; x < 8; ++x)
            EXPECT_EQ(result[y][x], x < 4 ? 1.0f : float(x) / 6.0f) << x << ", " << y;
}

struct Refusal {
    const char* name;
    Captures captures;
    int tilesAcross = 2, tilesDown = 2, channel = 0, kernelSize = 3;
};

void PrintTo(const Refusal& refusal, std::ostream* out) { *out << refusal.name; }

class GraderRefuses : public GraderOutput, public testing::WithParamInterface<Refusal> {};

TEST_P(GraderRefuses, BeforeAnyFileIsWritten)
{
    const Refusal& r = GetParam();
    capture([&] {
        EXPECT_THROW(grader.averageBlurred(r.captures, r.tilesAcross, r.tilesDown, r.channel, r.kernelSize, folder),
                     std::invalid_argument);
        EXPECT_THROW(grader.relativeAverage(r.captures, r.tilesAcross, r.tilesDown, r.channel, r.kernelSize, folder),
                     std::invalid_argument);
        // Tiles and kernel are not pixelAverage's: it refuses only what concerns it.
        const bool itsOwn = r.tilesAcross == 2 && r.tilesDown == 2 && r.kernelSize == 3;
        if (itsOwn) {
            EXPECT_THROW(grader.pixelAverage(r.captures, r.channel, folder), std::invalid_argument);
        }
    });
    EXPECT_TRUE(files().empty());
}

namespace {

const Cal::Data kPlain = captureOf(Vector2D<float>(4, 4, 1.0f));

std::vector<Refusal> refusals()
{
    return {
        {"noCaptures", {}},
        {"channelBelowZero", {{"a", kPlain}}, 2, 2, -1},
        {"channelAboveTwo", {{"a", kPlain}}, 2, 2, 3},
        {"captureLacksTheChannel", {{"a", kPlain}, {"b", captureOf(Vector2D<float>(4, 4, 1.0f), 2)}}, 2, 2, 2},
        {"emptyCapture", {{"a", kPlain}, {"b", Cal::Data{}}}},
        {"captureOfAnotherSize", {{"a", kPlain}, {"b", captureOf(Vector2D<float>(4, 3, 1.0f))}}},
        {"noTilesAcross", {{"a", kPlain}}, 0, 2},
        {"noTilesDown", {{"a", kPlain}}, 2, 0},
        {"moreTilesAcrossThanColumns", {{"a", kPlain}}, 5, 2},
        {"moreTilesDownThanRows", {{"a", kPlain}}, 2, 5},
        {"kernelSizeZero", {{"a", kPlain}}, 2, 2, 0, 0},
        {"kernelSizeNegative", {{"a", kPlain}}, 2, 2, 0, -3},
    };
}

} // namespace

INSTANTIATE_TEST_SUITE_P(Arguments, GraderRefuses, testing::ValuesIn(refusals()),
                         [](const testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

TEST_F(GraderOutput, AverageBlurredWritesFilesThatReadBack)
{
    // Non-square with distinct values, so a swapped axis or row order shows.
    const Vector2D<float> a = gridOf(5, 3, [](std::size_t x, std::size_t y) { return float(1 + x + 5 * y); });
    const Vector2D<float> b = gridOf(5, 3, [](std::size_t x, std::size_t y) { return float(3 + x + 5 * y); });
    const Captures captures = {{"a", captureOf(a)}, {"b", captureOf(b)}};
    Vector2D<float> result;
    // Kernel size 1 leaves the average as it is.
    const Captured c = capture([&] { result = grader.averageBlurred(captures, 1, 1, 1, 1, folder); });

    EXPECT_EQ(c.out, "averaged 1 of 2\naveraged 2 of 2\nblur done\npixel average done\n");
    EXPECT_EQ(files(), (std::set<std::string>{"a_original_G.png", "b_original_G.png", "average_G.png",
                                              "average_G.fits", "average_blur_G.png", "average_blur_G.fits"}));
    const Vector2D<float> average = gridOf(5, 3, [](std::size_t x, std::size_t y) { return float(2 + x + 5 * y); });
    EXPECT_EQ(readFits(at("average_G.fits")), average);
    EXPECT_EQ(readFits(at("average_blur_G.fits")), average);
    // Mean 9: every element divided by it.
    for (std::size_t y = 0; y < 3; ++y)
        for (std::size_t x = 0; x < 5; ++x)
            EXPECT_FLOAT_EQ(result[y][x], average[y][x] / 9.0f);
    // 2 .. 16 over 0 .. 255: trunc((v - 2) * 255 / 14).
    EXPECT_EQ(greyOf(at("average_G.png"))[0], (std::vector<int>{0, 18, 36, 54, 72}));
    EXPECT_EQ(greyOf(at("a_original_G.png"))[2][4], 255);

    CCfits::FITS fits(at("average_G.fits"), CCfits::Read, false);
    EXPECT_EQ(fits.pHDU().bitpix(), CCfits::Ifloat);
    ASSERT_EQ(fits.pHDU().axes(), 2);
    EXPECT_EQ(fits.pHDU().axis(0), 5);
    EXPECT_EQ(fits.pHDU().axis(1), 3);
    validateAll();
}

TEST_F(GraderOutput, FilesHoldTheStandardBytes)
{
    const Vector2D<float> grid = gridOf(5, 3, [](std::size_t x, std::size_t y) { return 0.5f + float(x + 5 * y); });
    Grader::writePng(grid, 0.0f, 0.0f, at("grid.png"));
    Grader::writeFits(grid, at("grid.fits"));

    const std::string png = contentOf(at("grid.png"));
    ASSERT_GE(png.size(), 33u);
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(png.substr(8, 8), std::string("\0\0\0\x0dIHDR", 8));
    // Width 5, height 3, 8 bits, colour type 2 (RGB), deflate, no filter method, no interlace.
    EXPECT_EQ(png.substr(16, 13), std::string("\0\0\0\x05\0\0\0\x03\x08\x02\0\0\0", 13));

    const std::string fits = contentOf(at("grid.fits"));
    ASSERT_EQ(fits.size() % 2880, 0u);
    ASSERT_GE(fits.size(), 2 * 2880u);
    const std::vector<std::string> cards = {"SIMPLE  =                    T", "BITPIX  =                  -32",
                                            "NAXIS   =                    2", "NAXIS1  =                    5",
                                            "NAXIS2  =                    3"};
    for (std::size_t i = 0; i < cards.size(); ++i)
        EXPECT_EQ(fits.substr(80 * i, cards[i].size()), cards[i]) << i;
    // Row 0 first, big-endian: element 6 is grid[1][1].
    const std::string element = fits.substr(2880 + 6 * 4, 4);
    std::uint32_t bits = 0;
    for (char byte : element)
        bits = (bits << 8) | std::uint8_t(byte);
    EXPECT_EQ(std::bit_cast<float>(bits), 6.5f);
    validateAll();
}

TEST_F(GraderOutput, ARerunOverwritesItsFiles)
{
    for (float level : {1.0f, 3.0f}) {
        const Vector2D<float> grid = gridOf(4, 4, [level](std::size_t x, std::size_t) { return level * float(1 + x); });
        capture([&] { grader.averageBlurred({{"run", captureOf(grid)}}, 2, 2, 0, 3, folder); });
        EXPECT_EQ(readFits(at("average_R.fits")), grid) << level;
    }
    EXPECT_EQ(files().size(), 5u);
}

TEST_F(GraderOutput, UnwritableFilesRaiseTheLibrariesErrors)
{
    const std::string missing = folder + "/missing";
    const Captures captures = {{"a", captureOf(Vector2D<float>(2, 2, 1.0f))}};
    capture([&] { EXPECT_THROW(grader.pixelAverage(captures, 0, missing), std::exception); });
    const Captured c = capture(
        [&] { EXPECT_THROW(Grader::writeFits(Vector2D<float>(2, 2, 1.0f), missing + "/x.fits"), CCfits::FitsException); });
    EXPECT_THAT(c.errors, HasSubstr(missing + "/x.fits: No such file or directory"));
    EXPECT_TRUE(files().empty());
}

// A FIFO where an output belongs is never waited on: with no process reading it, the write is
// refused at once, with the system's reason, by the library whose file it is.
TEST_F(GraderOutput, AFifoWithoutAReaderIsRefusedNotWaitedOn)
{
    const Captures captures = {{"c0", captureOf(Vector2D<float>(4, 4, 2.0f))}};
    for (const char* name : {"c0_original.png", "c0_relative.fits"}) {
        SCOPED_TRACE(name);
        const Fifo fifo(at(name));
        ASSERT_TRUE(fifo.made());
        std::string pngError;
        bool fitsError = false;
        Captured c;
        const bool returned = fifo.callReturns([&] {
            c = capture([&] {
                try {
                    grader.relativeAverage(captures, 2, 2, 0, 3, folder);
                } catch (const std::exception& e) {
                    pngError = e.what();
                } catch (const CCfits::FitsException&) {
                    fitsError = true;
                }
            });
        });
        ASSERT_TRUE(returned) << "relativeAverage waited on the FIFO";
        const std::string refusal = at(name) + ": No such device or address";
        if (std::string(name).ends_with(".png")) {
            EXPECT_EQ(pngError, refusal);
        } else {
            EXPECT_TRUE(fitsError);
            EXPECT_THAT(c.errors, HasSubstr(refusal));
        }
        struct stat status{};
        ASSERT_EQ(::lstat(at(name).c_str(), &status), 0);
        EXPECT_TRUE(S_ISFIFO(status.st_mode)) << "the FIFO stays a FIFO";
    }
}

// A preview is replaced whole or not at all, like the FITS images: a write that fails half way
// leaves the old file as it was and nothing beside it.
TEST_F(GraderOutput, AFailedPreviewLeavesTheOldFileWhole)
{
    const std::string path = at("preview.png");
    Grader::writePng(Vector2D<float>(4, 4, 1.0f), 0.0f, 0.0f, path);
    const std::string old = contentOf(path);
    Vector2D<float> noise(600, 600);
    std::mt19937 rng(5);
    for (auto& row : noise)
        for (float& v : row)
            v = float(rng() % 1000);
    {
        const FileSizeLimit limit(16 * 1024);
        try {
            Grader::writePng(noise, 0.0f, 0.0f, path);
            ADD_FAILURE() << "the write did not fail";
        } catch (const std::exception& e) {
            EXPECT_EQ(std::string(e.what()), path + ": File too large");
        }
    }
    EXPECT_TRUE(contentOf(path) == old) << "the old preview changed";
    EXPECT_EQ(files(), std::set<std::string>{"preview.png"});
}

// One NaN cell makes the mean NaN and so every factor, as the arithmetic has it: no exception,
// and a message says why.
TEST_F(GraderOutput, ANaNCellMakesEveryFactorNaN)
{
    Vector2D<float> grid(4, 4, 2.0f);
    grid[1][2] = std::numeric_limits<float>::quiet_NaN();
    const Captures captures = {{"a", captureOf(grid)}};
    const std::vector<std::pair<const char*, std::function<Vector2D<float>()>>> operations = {
        {"pixelAverage", [&] { return grader.pixelAverage(captures, 0, folder); }},
        {"averageBlurred", [&] { return grader.averageBlurred(captures, 2, 2, 0, 3, folder); }},
    };
    for (const auto& [name, operation] : operations) {
        Vector2D<float> result;
        const Captured c = capture([&] { EXPECT_NO_THROW(result = operation()); });
        ASSERT_EQ(result.width(), 4u) << name;
        ASSERT_EQ(result.height(), 4u) << name;
        for (const auto& row : result)
            for (float v : row)
                EXPECT_TRUE(std::isnan(v)) << name;
        EXPECT_THAT(c.errors, HasSubstr(std::string("Grader::") + name + ": the mean is nan")) << name;
    }
}

// Folder names that CFITSIO's extended file-name syntax would read as a filter or an extension
// are folders like any other: every file lands in them, and a file beside them stays untouched.
TEST_F(GraderOutput, OddFolderNamesHoldTheFilesAndTouchNothingElse)
{
    const Vector2D<float> grid = gridOf(4, 4, [](std::size_t x, std::size_t y) { return 1.0f + float(x + 4 * y); });
    for (const auto& [odd, beside] : {std::pair<std::string, std::string>{"run[1]", "run"}, {"run (1)", "run "},
                                      {"run+1", "run"}}) {
        SCOPED_TRACE(odd);
        { std::ofstream(at(beside)) << "keep"; }
        std::filesystem::create_directory(at(odd));
        capture([&] { EXPECT_NO_THROW(grader.averageBlurred({{"a", captureOf(grid)}}, 2, 2, 0, 3, at(odd))); });
        EXPECT_EQ(contentOf(at(beside)), "keep");
        EXPECT_EQ(readFits(at(odd) + "/average_R.fits"), grid);
        EXPECT_EQ(TestFiles::namesIn(at(odd)),
                  (std::vector<std::string>{"a_original_R.png", "average_R.fits", "average_R.png", "average_blur_R.fits",
                                            "average_blur_R.png"}));
        // fitsverify reads its argument with the extended syntax itself: it checks a plain copy.
        std::filesystem::copy_file(at(odd) + "/average_blur_R.fits", at("copy.fits"),
                                   std::filesystem::copy_options::overwrite_existing);
        EXPECT_EQ(std::system(("fitsverify -q -e '" + at("copy.fits") + "' >/dev/null 2>&1").c_str()), 0);
    }
}

// Without "!" an existing file is the FITS library's error and stays as it was; with it the file
// is replaced.
TEST_F(GraderOutput, WriteFitsOverwritesOnlyWhenAsked)
{
    const Vector2D<float> first(2, 2, 1.0f), second(3, 1, 2.0f);
    Grader::writeFits(first, at("grid.fits"));
    const std::string written = contentOf(at("grid.fits"));
    capture([&] { EXPECT_THROW(Grader::writeFits(second, at("grid.fits")), CCfits::FitsException); });
    EXPECT_EQ(contentOf(at("grid.fits")), written);
    Grader::writeFits(second, "!" + at("grid.fits"));
    EXPECT_EQ(readFits(at("grid.fits")), second);
    EXPECT_EQ(files(), (std::set<std::string>{"grid.fits"}));
    validateAll();
}

} // namespace GraderTests
