#include "formats/Grader.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// sigma = ((size - 1) * 0.5 - 1) * 0.3 + 0.8: the width that suits a kernel of that size.
constexpr double kSigmaHalfOffset = 1.0;
constexpr double kSigmaSlope = 0.3;
constexpr double kSigmaBase = 0.8;

using Index = std::ptrdiff_t;

// The cells first..last of one tile along one axis (the last tile is clipped to the grid).
struct Span {
    Index first;
    Index last;
};

Span tileOf(Index cell, Index tileSize, Index cells)
{
    const Index first = cell - cell % tileSize;
    return {first, std::min(first + tileSize - 1, cells - 1)};
}

// Mirrors index about the tile's edges without repeating the edge cell; a tile too small for
// the kernel would still be left, so the result is held inside it.
Index reflect(Index index, Span tile)
{
    if (index < tile.first)
        index = 2 * tile.first - index;
    else if (index > tile.last)
        index = 2 * tile.last - index;
    return std::clamp(index, tile.first, tile.last);
}

} // namespace

void Grader::checkKernelSize(int size)
{
    if (size < 1)
        throw std::invalid_argument("Grader: kernel size " + std::to_string(size) + " is below 1");
}

void Grader::checkTiles(std::size_t width, std::size_t height, int tilesAcross, int tilesDown)
{
    if (tilesAcross < 1 || tilesDown < 1 || std::size_t(tilesAcross) > width || std::size_t(tilesDown) > height)
        throw std::invalid_argument("Grader: " + std::to_string(tilesAcross) + " x " + std::to_string(tilesDown)
                                    + " tiles do not fit a grid of " + std::to_string(width) + " x "
                                    + std::to_string(height) + " cells");
}

Vector2D<float> Grader::gaussianKernel(int size)
{
    checkKernelSize(size);
    const double sigma = ((size - 1) * 0.5 - kSigmaHalfOffset) * kSigmaSlope + kSigmaBase;
    const double s = 2.0 * sigma * sigma;
    const int half = (size - 1) / 2;
    Vector2D<float> kernel{std::size_t(size), std::size_t(size), 0.0f};
    float sum = 0.0f;
    for (int row = 0; row < size; ++row) {
        for (int column = 0; column < size; ++column) {
            const int dx = column - half, dy = row - half;
            const long long squared = 1LL * dx * dx + 1LL * dy * dy;
            const auto weight = float(std::exp(-double(squared) / s) / (std::numbers::pi * s));
            kernel[std::size_t(row)][std::size_t(column)] = weight;
            sum += weight;
        }
    }
    for (auto& row : kernel)
        for (float& weight : row)
            weight /= sum;
    return kernel;
}

// Each output cell is the sum over kernel rows, then kernel columns, of weight x reflected
// sample, accumulated in single precision from 0: exactly the order of a plain per-cell loop,
// so results do not depend on how the loops are arranged. The arrangement is for speed: per
// kernel row, one source row is laid out tile by tile with its reflections, so the innermost
// loop runs over contiguous cells.
Vector2D<float> Grader::blurWithinTiles(const Vector2D<float>& grid, const Vector2D<float>& kernel, int tilesAcross,
                                        int tilesDown)
{
    if (grid.empty() || grid.width() == 0 || !grid.isRectangular())
        throw std::invalid_argument("Grader::blurWithinTiles: the grid is empty or not rectangular");
    if (kernel.empty() || kernel.width() != kernel.height() || !kernel.isRectangular())
        throw std::invalid_argument("Grader::blurWithinTiles: the kernel is not square");
    checkTiles(grid.width(), grid.height(), tilesAcross, tilesDown);

    const auto width = Index(grid.width()), height = Index(grid.height());
    const auto size = Index(kernel.width());
    const Index half = (size - 1) / 2;
    const Index tileWidth = width / tilesAcross, tileHeight = height / tilesDown;

    // Per column tile, the source column of every sample position x0 - half .. x1 + size - 1 - half.
    struct ColumnTile {
        Span span;
        std::vector<Index> sources;
    };
    std::vector<ColumnTile> columnTiles;
    for (Index first = 0; first < width; first += tileWidth) {
        ColumnTile tile{tileOf(first, tileWidth, width), {}};
        for (Index x = tile.span.first - half; x <= tile.span.last + size - 1 - half; ++x)
            tile.sources.push_back(reflect(x, tile.span));
        columnTiles.push_back(std::move(tile));
    }

    Vector2D<float> out(grid.width(), grid.height(), 0.0f);
    std::vector<float> samples;
    for (Index y = 0; y < height; ++y) {
        const Span rows = tileOf(y, tileHeight, height);
        float* const sums = out[std::size_t(y)].data();
        for (Index kr = 0; kr < size; ++kr) {
            const auto& source = grid[std::size_t(reflect(y - half + kr, rows))];
            const auto& weights = kernel[std::size_t(kr)];
            for (const ColumnTile& tile : columnTiles) {
                samples.resize(tile.sources.size());
                for (std::size_t i = 0; i < tile.sources.size(); ++i)
                    samples[i] = source[std::size_t(tile.sources[i])];
                const Index cells = tile.span.last - tile.span.first + 1;
                float* const target = sums + tile.span.first;
                for (Index kc = 0; kc < size; ++kc) {
                    const float weight = weights[std::size_t(kc)];
                    const float* const sample = samples.data() + kc;
                    for (Index i = 0; i < cells; ++i)
                        target[i] += weight * sample[i];
                }
            }
        }
    }
    return out;
}
