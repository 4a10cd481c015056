#include "formats/CalData.h"

#include <algorithm>
#include <cmath>
#include <iostream>

namespace Cal {

namespace {

// The factor operations and the colour operations act on the red, green and blue channels.
constexpr std::size_t kColourChannels = 3;

void refuse(const char* operation, const char* reason)
{
    std::cerr << "Cal::Data::" << operation << ": " << reason << std::endl;
}

// True when `other` is rectangular and has exactly the rows and row lengths of `grid`.
template <typename A, typename B>
bool sameShape(const Vector2D<A>& grid, const Vector2D<B>& other)
{
    if (!grid.isRectangular() || !other.isRectangular() || grid.height() != other.height())
        return false;
    return grid.width() == other.width();
}

void scaleLuminance(Data::Cell& cell, const std::array<float, kColourChannels>& factors)
{
    const std::size_t channels = std::min(cell.size(), kColourChannels);
    for (std::size_t ch = 0; ch < channels; ++ch)
        cell[ch].Y *= factors[ch];
}

// Maps a fraction onto [0, 1] so that a blend of 0 stays linear and a blend of 1 gives steps.
double remap(double f, double blend)
{
    if (f <= blend / 2)
        return 0.0;
    if (f >= 1.0 - blend / 2)
        return 1.0;
    return (f - blend / 2) / (1.0 - blend);
}

} // namespace

std::uint64_t Data::channels() const
{
    return (grid.empty() || grid.front().empty()) ? 0 : grid.front().front().size();
}

void Data::addChannel(const Vector2D<EmitterReading>& readings)
{
    if (grid.empty() && readings.isRectangular()) {
        grid = Vector2D<Cell>(readings.width(), readings.height());
        moduleWidth = readings.width();
        moduleHeight = readings.height();
    } else if (!sameShape(grid, readings)) {
        refuse("addChannel", "incorrect size!");
        return;
    }
    for (std::size_t r = 0; r < grid.size(); ++r)
        for (std::size_t c = 0; c < grid[r].size(); ++c)
            grid[r][c].push_back(readings[r][c]);
}

void Data::addYChannel(const Vector2D<float>& values)
{
    Vector2D<EmitterReading> readings;
    readings.reserve(values.size());
    for (const auto& row : values) {
        auto& out = readings.emplace_back(row.size());
        for (std::size_t c = 0; c < row.size(); ++c)
            out[c].Y = row[c];
    }
    addChannel(readings);
}

void Data::fix(std::uint64_t channel, const Vector2D<float>& factors)
{
    if (!sameShape(grid, factors)) {
        refuse("fix", "incorrect size!");
        return;
    }
    if (channel >= channels()) {
        refuse("fix", "invalid channel!");
        return;
    }
    for (std::size_t r = 0; r < grid.size(); ++r)
        for (std::size_t c = 0; c < grid[r].size(); ++c)
            if (channel < grid[r][c].size())
                grid[r][c][channel].Y *= factors[r][c];
}

void Data::feather(int mw, int mh, int ew, int eh, float rf, float gf, float bf)
{
    if (mw <= 0 || mh <= 0 || ew < 0 || eh < 0) {
        refuse("feather", "invalid module size!");
        return;
    }
    for (std::size_t r = 0; r < grid.size(); ++r) {
        const auto ry = std::int64_t(r % std::size_t(mh));
        const std::int64_t dy = std::min<std::int64_t>(mh - ry - 1, ry);
        for (std::size_t c = 0; c < grid[r].size(); ++c) {
            const auto cx = std::int64_t(c % std::size_t(mw));
            const std::int64_t dx = std::min<std::int64_t>(mw - cx - 1, cx);
            if (dx >= ew && dy >= eh)
                continue;
            const float fx = ew == 0 ? 1.0f : float(dx) / float(ew);
            const float fy = eh == 0 ? 1.0f : float(dy) / float(eh);
            const float t = std::min(fx, fy);
            scaleLuminance(grid[r][c], {(1 - rf) * t + rf, (1 - gf) * t + gf, (1 - bf) * t + bf});
        }
    }
}

void Data::gradient(int mw, int mh, int ew, int eh, bool vertical, float rb, float re, float gb, float ge,
                    float bb, float be)
{
    if (mw <= 0 || mh <= 0 || ew < 0 || eh < 0) {
        refuse("gradient", "invalid module size!");
        return;
    }
    // Position within the module decides; a partial module at the grid's end is clipped.
    const std::int64_t innerWidth = std::int64_t(mw) - 2 * std::int64_t(ew);
    const std::int64_t innerHeight = std::int64_t(mh) - 2 * std::int64_t(eh);
    for (std::size_t r = 0; r < grid.size(); ++r) {
        const auto ry = std::int64_t(r % std::size_t(mh)) - eh;
        if (ry < 0 || ry >= innerHeight)
            continue;
        for (std::size_t c = 0; c < grid[r].size(); ++c) {
            const auto cx = std::int64_t(c % std::size_t(mw)) - ew;
            if (cx < 0 || cx >= innerWidth)
                continue;
            const float t = vertical ? float(ry) / float(innerHeight) : float(cx) / float(innerWidth);
            scaleLuminance(grid[r][c], {(re - rb) * t + rb, (ge - gb) * t + gb, (be - bb) * t + bb});
        }
    }
}

void Data::matrix(Matrix<float, 3> m)
{
    for (auto& row : grid) {
        for (Cell& cell : row) {
            const std::size_t channels = std::min(cell.size(), kColourChannels);
            for (std::size_t ch = 0; ch < channels; ++ch) {
                const auto [X, Y, Z] = cell[ch].toXYZ();
                cell[ch].setXYZ(m[0] * X + m[3] * Y + m[6] * Z, m[1] * X + m[4] * Y + m[7] * Z,
                                m[2] * X + m[5] * Y + m[8] * Z);
            }
        }
    }
}

void Data::scale(std::uint64_t channel, const Vector2D<float>& mesh, float blend)
{
    if (mesh.empty() || mesh.width() == 0 || !mesh.isRectangular() || !grid.isRectangular()) {
        refuse("scale", "incorrect size!");
        return;
    }
    if (channel >= channels()) {
        refuse("scale", "invalid channel!");
        return;
    }
    const std::size_t meshWidth = mesh.width();
    const std::size_t meshHeight = mesh.height();
    const std::size_t dataWidth = width();
    const std::size_t dataHeight = height();
    // Grid position of a cell in mesh coordinates: integer index and fraction towards the next.
    const auto locate = [blend](std::size_t meshSize, std::size_t index, std::size_t dataSize) {
        const double u = double(float(meshSize) * float(index) / float(dataSize)) - 0.5;
        const double whole = std::trunc(u);
        const auto i = std::min(std::size_t(std::max(whole, 0.0)), meshSize - 1);
        return std::pair{i, float(remap(std::clamp(u - whole, 0.0, 1.0), blend))};
    };
    for (std::size_t r = 0; r < dataHeight; ++r) {
        const auto [j, tv] = locate(meshHeight, r, dataHeight);
        for (std::size_t c = 0; c < dataWidth; ++c) {
            const auto [column, fraction] = locate(meshWidth, c, dataWidth);
            const std::size_t i = column;
            const float tu = fraction;
            const auto alongRow = [&](std::size_t row) {
                return i < meshWidth - 1 ? std::lerp(mesh[row][i], mesh[row][i + 1], tu) : mesh[row][i];
            };
            const float a = alongRow(j);
            const float factor = j < meshHeight - 1 ? std::lerp(a, alongRow(j + 1), tv) : a;
            if (channel < grid[r][c].size())
                grid[r][c][channel].Y *= factor;
        }
    }
}

Vector2D<float> Data::slice(std::uint64_t channel) const
{
    Vector2D<float> out;
    out.reserve(grid.size());
    for (const auto& row : grid) {
        auto& values = out.emplace_back(row.size(), 0.0f);
        for (std::size_t c = 0; c < row.size(); ++c)
            if (channel < row[c].size())
                values[c] = row[c][channel].Y;
    }
    return out;
}

Data Data::subset(std::uint64_t x, std::uint64_t y, std::uint64_t w, std::uint64_t h) const
{
    const auto clip = [](std::uint64_t start, std::uint64_t size, std::uint64_t limit) {
        return start >= limit ? 0 : std::min(size, limit - start);
    };
    const std::uint64_t rows = clip(y, h, height());
    std::uint64_t columns = clip(x, w, width());
    for (std::uint64_t r = 0; r < rows; ++r)
        columns = std::min<std::uint64_t>(columns, clip(x, w, grid[y + r].size()));

    Data out;
    out.firstModuleColumn = firstModuleColumn;
    out.lastModuleColumn = lastModuleColumn;
    out.firstModuleRow = firstModuleRow;
    out.lastModuleRow = lastModuleRow;
    if (rows == 0 || columns == 0)
        return out;
    out.moduleWidth = columns;
    out.moduleHeight = rows;
    out.grid.reserve(rows);
    for (std::uint64_t r = 0; r < rows; ++r) {
        const auto& source = grid[y + r];
        out.grid.emplace_back(source.begin() + std::ptrdiff_t(x), source.begin() + std::ptrdiff_t(x + columns));
    }
    return out;
}

Data::Totals Data::totals(std::uint64_t x, std::uint64_t y, std::uint64_t dx, std::uint64_t dy) const
{
    if (height() == 0 || width() == 0)
        return average(std::nullopt);
    // Last index of a window of span + 1 cells from start, clipped to the grid.
    const auto last = [](std::uint64_t start, std::uint64_t span, std::uint64_t limit) {
        return start >= limit || span >= limit - start ? limit - 1 : start + span;
    };
    return average(Box{y, last(y, dy, height()), x, last(x, dx, width())});
}

Data::Totals Data::totals(std::uint64_t x, std::uint64_t y, float radius) const
{
    if (height() == 0 || width() == 0 || !(radius >= 0.0f))
        return average(std::nullopt);
    if (radius == 0.0f)
        return average(Box{0, height() - 1, 0, width() - 1});
    // Bounding box of the disc, clipped to the grid in double so that huge radii cannot overflow.
    const auto low = [radius](std::uint64_t centre) { return std::max(0.0, std::ceil(double(centre) - radius)); };
    const auto high = [radius](std::uint64_t centre, std::uint64_t limit) {
        return std::min(double(limit - 1), std::floor(double(centre) + radius));
    };
    const double firstRow = low(y), lastRow = high(y, height());
    const double firstColumn = low(x), lastColumn = high(x, width());
    if (firstRow > lastRow || firstColumn > lastColumn)
        return average(std::nullopt);
    return average(Box{std::uint64_t(firstRow), std::uint64_t(lastRow), std::uint64_t(firstColumn),
                    std::uint64_t(lastColumn)},
                   Disc{x, y, double(radius)});
}

Data::Totals Data::average(std::optional<Box> box, std::optional<Disc> disc) const
{
    Vector2D<float> sums(3, kColourChannels, 0.0f);
    std::array<std::array<double, 3>, kColourChannels> total{};
    std::uint64_t count = 0;
    const auto inDisc = [&disc](std::uint64_t c, std::uint64_t r) {
        if (!disc)
            return true;
        const double dx = double(c) - double(disc->x), dy = double(r) - double(disc->y);
        return dx * dx + dy * dy <= disc->radius * disc->radius;
    };
    for (std::uint64_t r = box ? box->firstRow : 1; box && r <= box->lastRow && r < height(); ++r) {
        const auto& row = grid[r];
        for (std::uint64_t c = box->firstColumn; c <= box->lastColumn && c < row.size(); ++c) {
            if (!inDisc(c, r))
                continue;
            const std::size_t channels = std::min(row[c].size(), kColourChannels);
            for (std::size_t ch = 0; ch < channels; ++ch) {
                const auto xyz = row[c][ch].toXYZ();
                for (std::size_t k = 0; k < 3; ++k)
                    total[ch][k] += xyz[k];
            }
            ++count;
        }
    }
    if (count > 0)
        for (std::size_t ch = 0; ch < kColourChannels; ++ch)
            for (std::size_t k = 0; k < 3; ++k)
                sums[ch][k] = float(total[ch][k] / double(count));
    return {std::move(sums), count};
}

} // namespace Cal
