#include "formats/Grader.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <stdexcept>
#include <vector>

namespace {

constexpr std::string_view kChannelLetters = "RGB";
// Where the captures' relative grids differ by this much (root of the summed squares), the
// result is 1.0: no correction where the captures cannot agree on one.
constexpr float kFullDisagreement = 0.2f;
// The preview range: writePng finds its own when low equals high.
constexpr float kAutoRange = 0.0f;

struct GridSize {
    std::size_t width;
    std::size_t height;
};

// The grid size every capture must share; refuses what the operations cannot grade before
// anything is written.
GridSize checkCaptures(const Grader::Captures& captures, int channel)
{
    if (captures.empty())
        throw std::invalid_argument("Grader: no captures");
    if (channel < 0 || std::size_t(channel) >= kChannelLetters.size())
        throw std::invalid_argument("Grader: channel " + std::to_string(channel) + " is not 0, 1 or 2");
    const Cal::Data& first = captures.begin()->second;
    const GridSize size{first.width(), first.height()};
    for (const auto& [name, data] : captures) {
        if (data.width() == 0 || data.height() == 0 || !data.grid.isRectangular())
            throw std::invalid_argument("Grader: capture " + name + " is empty or not rectangular");
        if (data.channels() <= std::size_t(channel))
            throw std::invalid_argument("Grader: capture " + name + " has no channel " + std::to_string(channel));
        if (data.width() != size.width || data.height() != size.height)
            throw std::invalid_argument("Grader: capture " + name + " differs in size from "
                                        + captures.begin()->first);
    }
    return size;
}

std::string channelLetter(int channel) { return std::string(1, kChannelLetters[std::size_t(channel)]); }

void add(Vector2D<float>& sum, const Vector2D<float>& grid)
{
    for (std::size_t y = 0; y < sum.size(); ++y)
        for (std::size_t x = 0; x < sum[y].size(); ++x)
            sum[y][x] += grid[y][x];
}

void divide(Vector2D<float>& grid, float divisor)
{
    for (auto& row : grid)
        for (float& v : row)
            v /= divisor;
}

// A mean of 0 leaves nothing to divide by. A mean that is not finite (a capture with a NaN or
// infinite cell) is divided by all the same, as the arithmetic has it: one NaN cell makes every
// factor NaN. That is said on the standard error stream, since no factor is of use then.
void checkMean(const char* operation, double mean)
{
    if (mean == 0.0)
        throw std::domain_error(std::string("Grader::") + operation + ": the mean is 0, nothing to divide by");
    if (!std::isfinite(mean))
        std::cerr << "Grader::" << operation << ": the mean is " << mean
                  << " (a cell is not finite), so is every factor" << std::endl;
}

} // namespace

Vector2D<float> Grader::pixelAverage(const Captures& captures, int channel, std::string folder) const
{
    const GridSize size = checkCaptures(captures, channel);
    Vector2D<float> sum(size.width, size.height, 0.0f);
    for (const auto& [name, data] : captures) {
        const Vector2D<float> grid = data.slice(std::size_t(channel));
        writePng(grid, kAutoRange, kAutoRange, folder + "/" + name + "_original.png");
        add(sum, grid);
    }
    const auto count = float(captures.size());
    double total = 0.0;
    for (auto& row : sum)
        for (float& v : row) {
            v /= count;
            total += v;
        }
    const double mean = total / double(size.width * size.height);
    checkMean("pixelAverage", mean);
    for (auto& row : sum)
        for (float& v : row)
            v = float(v / mean);
    return sum;
}

Vector2D<float> Grader::averageBlurred(const Captures& captures, int tilesAcross, int tilesDown, int channel,
                                       int kernelSize, std::string folder) const
{
    const GridSize size = checkCaptures(captures, channel);
    checkTiles(size.width, size.height, tilesAcross, tilesDown);
    checkKernelSize(kernelSize);
    const std::string letter = channelLetter(channel);

    Vector2D<float> average(size.width, size.height, 0.0f);
    std::size_t k = 0;
    for (const auto& [name, data] : captures) {
        const Vector2D<float> grid = data.slice(std::size_t(channel));
        writePng(grid, kAutoRange, kAutoRange, folder + "/" + name + "_original_" + letter + ".png");
        add(average, grid);
        std::cout << "averaged " << ++k << " of " << captures.size() << std::endl;
    }
    divide(average, float(captures.size()));
    writePng(average, kAutoRange, kAutoRange, folder + "/average_" + letter + ".png");
    writeFits(average, "!" + folder + "/average_" + letter + ".fits");

    Vector2D<float> result = blurWithinTiles(average, gaussianKernel(kernelSize), tilesAcross, tilesDown);
    std::cout << "blur done" << std::endl;
    writePng(result, kAutoRange, kAutoRange, folder + "/average_blur_" + letter + ".png");
    writeFits(result, "!" + folder + "/average_blur_" + letter + ".fits");

    float sum = 0.0f;
    for (const auto& row : result)
        for (float v : row)
            sum += v;
    const float mean = sum / float(size.width * size.height);
    std::cout << "pixel average done" << std::endl;
    checkMean("averageBlurred", mean);
    divide(result, mean);
    return result;
}

Vector2D<float> Grader::relativeAverage(const Captures& captures, int tilesAcross, int tilesDown, int channel,
                                        int kernelSize, std::string folder) const
{
    const GridSize size = checkCaptures(captures, channel);
    checkTiles(size.width, size.height, tilesAcross, tilesDown);
    const Vector2D<float> kernel = gaussianKernel(kernelSize);
    const std::size_t tileWidth = size.width / std::size_t(tilesAcross);
    const std::size_t tileHeight = size.height / std::size_t(tilesDown);

    std::vector<Vector2D<float>> relatives;
    relatives.reserve(captures.size());
    for (const auto& [name, data] : captures) {
        const Vector2D<float> grid = data.slice(std::size_t(channel));
        writePng(grid, kAutoRange, kAutoRange, folder + "/" + name + "_original.png");
        Vector2D<float> b = blurWithinTiles(grid, kernel, tilesAcross, tilesDown);
        writePng(b, kAutoRange, kAutoRange, folder + "/" + name + "_blur.png");

        // Each whole tile relative to its own blurred centre; cells beyond the last whole tile
        // keep their blurred value.
        for (std::size_t tx = 0; tx < std::size_t(tilesAcross); ++tx) {
            for (std::size_t ty = 0; ty < std::size_t(tilesDown); ++ty) {
                const std::size_t top = ty * tileHeight, left = tx * tileWidth;
                const float centre = b[top + tileHeight / 2][left + tileWidth / 2];
                const bool usable = centre != 0.0f && std::isfinite(centre);
                if (!usable)
                    std::cerr << "Grader::relativeAverage: capture " << name << ", tile " << tx << ", " << ty
                              << ": blurred centre " << centre << ", factor 1.0 used" << std::endl;
                for (std::size_t y = top; y < top + tileHeight; ++y)
                    for (std::size_t x = left; x < left + tileWidth; ++x)
                        b[y][x] = usable ? b[y][x] / centre : 1.0f;
            }
        }
        writePng(b, kAutoRange, kAutoRange, folder + "/" + name + "_relative.png");
        writeFits(b, "!" + folder + "/" + name + "_relative.fits");
        relatives.push_back(std::move(b));
        std::cout << "processed " << relatives.size() << " of " << captures.size() << std::endl;
    }

    Vector2D<float> avg(size.width, size.height, 0.0f);
    for (const auto& relative : relatives)
        add(avg, relative);
    divide(avg, float(relatives.size()));
    writePng(avg, kAutoRange, kAutoRange, folder + "/relative_avg.png");
    writeFits(avg, "!" + folder + "/relative_avg.fits");

    Vector2D<float> sd(size.width, size.height, 0.0f);
    for (const auto& relative : relatives)
        for (std::size_t y = 0; y < size.height; ++y)
            for (std::size_t x = 0; x < size.width; ++x) {
                const float d = relative[y][x] - avg[y][x];
                sd[y][x] += d * d;
            }
    for (auto& row : sd)
        for (float& v : row)
            v = std::sqrt(v);
    writePng(sd, kAutoRange, kAutoRange, folder + "/relative_stddev.png");
    writeFits(sd, "!" + folder + "/relative_stddev.fits");

    Vector2D<float> result(size.width, size.height, 0.0f);
    for (std::size_t y = 0; y < size.height; ++y)
        for (std::size_t x = 0; x < size.width; ++x) {
            const float w = std::min(1.0f, sd[y][x] / kFullDisagreement);
            result[y][x] = float(double(avg[y][x]) * (1.0 - w) + w);
        }
    return result;
}
