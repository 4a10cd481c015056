#include "formats/Grader.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <numbers>
#include <optional>
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

namespace {

// Where the kernel is the outer product of a column and a row of weights, each weight of it lies
// within this fraction of the product: the blur then runs as two passes of size weights each in
// place of one of size x size. Each output then lies within this fraction (and a last rounding
// to float) of the exact sum of weight x sample over the whole kernel, measured against the sum
// of their magnitudes. gaussianKernel's float weights hold to it with room to spare.
constexpr double kSeparableTolerance = 5e-7;

// The kernel as column weights (down) times row weights (across).
struct Factors {
    std::vector<double> down;
    std::vector<double> across;
};

// With row sums R, column sums C and total S, a kernel that is an outer product equals R C / S.
std::optional<Factors> separate(const Vector2D<float>& kernel)
{
    const std::size_t size = kernel.size();
    Factors f{std::vector<double>(size, 0.0), std::vector<double>(size, 0.0)};
    double total = 0.0;
    for (std::size_t r = 0; r < size; ++r)
        for (std::size_t c = 0; c < size; ++c) {
            f.down[r] += kernel[r][c];
            f.across[c] += kernel[r][c];
            total += kernel[r][c];
        }
    if (total == 0.0 || !std::isfinite(total))
        return std::nullopt;
    for (double& weight : f.down)
        weight /= total;
    for (std::size_t r = 0; r < size; ++r)
        for (std::size_t c = 0; c < size; ++c) {
            const double weight = kernel[r][c];
            if (!(std::abs(weight - f.down[r] * f.across[c]) <= kSeparableTolerance * std::abs(weight)))
                return std::nullopt;
        }
    return f;
}

// How a weighted sum stores its result.
enum class Into { Replace, Add };

// Two doubles in one vector register (SSE2, every x86-64), and four (AVX2).
using Narrow = double __attribute__((vector_size(2 * sizeof(double))));
using Wide = double __attribute__((vector_size(4 * sizeof(double))));

// target[i] = (or +=) the sum over k of weights[k] x sources[k][i], for i below count, the terms
// added in the order of k. Cells are taken four vectors at a time, their sums held in registers
// across all the weights: one store per cell, not one per weight. The result is the same for
// every vector width, only the speed differs.
template <typename Vector>
[[gnu::always_inline]] inline void weightedSumOf(const double* const* sources, const double* weights, Index taps,
                                                 Index count, double* target, Into into)
{
    constexpr Index kLanes = sizeof(Vector) / sizeof(double);
    constexpr Index kBlock = 4 * kLanes;
    Index i = 0;
    for (; i + kBlock <= count; i += kBlock) {
        // Four named sums, each loaded and stored on its own: the compiler keeps them in
        // registers (an array of them would go through the stack).
        Vector first{}, second{}, third{}, fourth{};
        for (Index k = 0; k < taps; ++k) {
            const double weight = weights[k];
            const double* const source = sources[k] + i;
            Vector a, b, c, d;
            std::memcpy(&a, source, sizeof a);
            std::memcpy(&b, source + kLanes, sizeof b);
            std::memcpy(&c, source + 2 * kLanes, sizeof c);
            std::memcpy(&d, source + 3 * kLanes, sizeof d);
            first += weight * a;
            second += weight * b;
            third += weight * c;
            fourth += weight * d;
        }
        double* const cells = target + i;
        if (into == Into::Add) {
            Vector a, b, c, d;
            std::memcpy(&a, cells, sizeof a);
            std::memcpy(&b, cells + kLanes, sizeof b);
            std::memcpy(&c, cells + 2 * kLanes, sizeof c);
            std::memcpy(&d, cells + 3 * kLanes, sizeof d);
            first += a;
            second += b;
            third += c;
            fourth += d;
        }
        std::memcpy(cells, &first, sizeof first);
        std::memcpy(cells + kLanes, &second, sizeof second);
        std::memcpy(cells + 2 * kLanes, &third, sizeof third);
        std::memcpy(cells + 3 * kLanes, &fourth, sizeof fourth);
    }
    for (; i < count; ++i) {
        double sum = 0.0;
        for (Index k = 0; k < taps; ++k)
            sum += weights[k] * sources[k][i];
        target[i] = into == Into::Add ? target[i] + sum : sum;
    }
}

// Where the processor has AVX2, four doubles a register.
[[gnu::target("avx2")]] void weightedSumWide(const double* const* sources, const double* weights, Index taps,
                                            Index count, double* target, Into into)
{
    weightedSumOf<Wide>(sources, weights, taps, count, target, into);
}

void weightedSumNarrow(const double* const* sources, const double* weights, Index taps, Index count, double* target,
                       Into into)
{
    weightedSumOf<Narrow>(sources, weights, taps, count, target, into);
}

void weightedSum(const double* const* sources, const double* weights, Index taps, Index count, double* target,
                 Into into)
{
    static const bool wide = __builtin_cpu_supports("avx2");
    (wide ? weightedSumWide : weightedSumNarrow)(sources, weights, taps, count, target, into);
}

// Sums along the rows of a grid within its column tiles. Per tile, one source row is laid out
// once with its reflections on both sides, so that every weight runs over contiguous cells.
class RowPass {
public:
    RowPass(Index width, Index tileWidth, Index size)
        : m_size(size)
        , m_taps(std::size_t(size))
    {
        const Index half = (size - 1) / 2;
        for (Index first = 0; first < width; first += tileWidth) {
            Tile tile{tileOf(first, tileWidth, width), {}, {}};
            for (Index x = tile.span.first - half; x < tile.span.first; ++x)
                tile.before.push_back(reflect(x, tile.span));
            for (Index x = tile.span.last + 1; x <= tile.span.last + size - 1 - half; ++x)
                tile.after.push_back(reflect(x, tile.span));
            m_tiles.push_back(std::move(tile));
        }
    }

    // sums[x] = (or +=) the sum over k of weights[k] x row[x - half + k, reflected into x's tile].
    void run(const float* row, const double* weights, double* sums, Into into)
    {
        for (const Tile& tile : m_tiles) {
            const Index cells = tile.span.last - tile.span.first + 1;
            m_samples.resize(tile.before.size() + std::size_t(cells) + tile.after.size());
            double* sample = m_samples.data();
            for (const Index source : tile.before)
                *sample++ = row[source];
            sample = std::copy(row + tile.span.first, row + tile.span.last + 1, sample);
            for (const Index source : tile.after)
                *sample++ = row[source];
            for (Index k = 0; k < m_size; ++k)
                m_taps[std::size_t(k)] = m_samples.data() + k;
            weightedSum(m_taps.data(), weights, m_size, cells, sums + tile.span.first, into);
        }
    }

private:
    struct Tile {
        Span span;
        // The source columns of the reflected samples before and after the tile's own cells.
        std::vector<Index> before;
        std::vector<Index> after;
    };

    Index m_size;
    std::vector<Tile> m_tiles;
    std::vector<double> m_samples;
    std::vector<const double*> m_taps;
};

// The grid's rows summed along the rows, each kept while the column pass still reads it. Output
// row y reads rows y - reach to y + reach at most (reflected and held within its tile band), so
// the last 2 x reach + 1 rows summed are all it needs: a row is summed once,
// into the slot of its number modulo that count, and the buffer stays a few rows of the grid
// whatever its height (in place of a grid of doubles made anew on every call).
class RowRing {
public:
    RowRing(Index width, Index reach)
        : m_width(width)
        , m_rows(2 * reach + 1)
        , m_sums(std::size_t(m_width * m_rows))
    {
    }

    // Sums every row up to last that is not summed yet.
    void sumUpTo(Index last, RowPass& rows, const Vector2D<float>& grid, const double* weights)
    {
        for (; m_next <= last; ++m_next)
            rows.run(grid[std::size_t(m_next)].data(), weights, slot(m_next), Into::Replace);
    }
    const double* row(Index y) { return slot(y); }

private:
    double* slot(Index y) { return m_sums.data() + (y % m_rows) * m_width; }

    Index m_width;
    Index m_rows;
    std::vector<double> m_sums;
    Index m_next = 0;
};

} // namespace

// Sums in double precision throughout, rounded to float once per cell. A separable kernel (a
// Gaussian) runs as a pass along the rows into a ring of a few rows of doubles, then one down the
// columns; any other kernel as one row pass per kernel row.
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
    const Index reach = size - 1 - half; // the farthest a kernel row lies from its output row
    const Index tileWidth = width / tilesAcross, tileHeight = height / tilesDown;
    // The source row of kernel row k for output row y.
    const auto sourceRow = [&](Index y, Index k) { return reflect(y - half + k, tileOf(y, tileHeight, height)); };

    RowPass rows(width, tileWidth, size);
    Vector2D<float> out(grid.width(), grid.height());
    std::vector<double> sums(grid.width());
    std::vector<const double*> taps(static_cast<std::size_t>(size));

    if (const std::optional<Factors> factors = separate(kernel)) {
        RowRing ring(width, reach);
        for (Index y = 0; y < height; ++y) {
            ring.sumUpTo(std::min(height - 1, y + reach), rows, grid, factors->across.data());
            for (Index k = 0; k < size; ++k)
                taps[std::size_t(k)] = ring.row(sourceRow(y, k));
            weightedSum(taps.data(), factors->down.data(), size, width, sums.data(), Into::Replace);
            std::copy(sums.begin(), sums.end(), out[std::size_t(y)].begin());
        }
        return out;
    }

    Vector2D<double> weights(kernel.width(), kernel.height());
    for (std::size_t r = 0; r < kernel.size(); ++r)
        std::copy(kernel[r].begin(), kernel[r].end(), weights[r].begin());
    for (Index y = 0; y < height; ++y) {
        for (Index k = 0; k < size; ++k)
            rows.run(grid[std::size_t(sourceRow(y, k))].data(), weights[std::size_t(k)].data(), sums.data(),
                     k == 0 ? Into::Replace : Into::Add);
        std::copy(sums.begin(), sums.end(), out[std::size_t(y)].begin());
    }
    return out;
}
