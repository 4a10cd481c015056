#pragma once

#include "formats/CalEmitterReading.h"
#include "formats/Matrix.h"
#include "formats/Vector2D.h"

#include <TessellaExport.h>

#include <cstdint>
#include <optional>
#include <tuple>
#include <vector>

namespace Cal {

// Per-emitter colour readings of an LED surface on a grid, one reading per channel
// (0 red, 1 green, 2 blue), with the module geometry they were read with.
//
// Every operation accepts any input: channel indexes are checked, module sizes must be
// positive, windows are clipped to the grid, and grids of a different or ragged shape are
// refused with a message on the standard error stream, leaving the data unchanged.
class TESSELLA_EXPORT Data {
public:
    using Cell = std::vector<EmitterReading>;
    using Totals = std::tuple<Vector2D<float>, std::uint64_t>;

    std::uint64_t firstModuleColumn = 0;
    std::uint64_t lastModuleColumn = 0;
    std::uint64_t firstModuleRow = 0;
    std::uint64_t lastModuleRow = 0;
    std::uint64_t moduleWidth = 0;
    std::uint64_t moduleHeight = 0;
    std::vector<EmitterReading> minReadings;
    std::vector<EmitterReading> maxReadings;
    Vector2D<Cell> grid;

    std::uint64_t width() const { return grid.width(); }
    std::uint64_t height() const { return grid.height(); }
    std::uint64_t channels() const;

    void addChannel(const Vector2D<EmitterReading>& readings);
    void addYChannel(const Vector2D<float>& values);

    // Multiplies the luminance of one channel cell by cell.
    void fix(std::uint64_t channel, const Vector2D<float>& factors);
    // Dims the edges of every module of mw x mh cells towards the r, g, b floors over ew / eh cells.
    void feather(int mw, int mh, int ew, int eh, float rf, float gf, float bf);
    // A linear luminance ramp across the inner part of every module.
    void gradient(int mw, int mh, int ew, int eh, bool vertical, float rb, float re, float gb, float ge,
                  float bb, float be);
    // Transforms the XYZ of channels 0 to 2 by m (X' = m0 X + m3 Y + m6 Z, ...).
    void matrix(Matrix<float, 3> m);
    // Multiplies one channel's luminance by a bilinearly interpolated mesh of any resolution.
    void scale(std::uint64_t channel, const Vector2D<float>& mesh, float blend);

    Vector2D<float> slice(std::uint64_t channel) const;
    Data subset(std::uint64_t x, std::uint64_t y, std::uint64_t width, std::uint64_t height) const;
    // Average XYZ of channels 0 to 2 (rows: channel, columns: X, Y, Z) over a window and its
    // cell count; a window with no cells gives zeros and a count of 0.
    Totals totals(std::uint64_t x, std::uint64_t y, std::uint64_t dx, std::uint64_t dy) const;
    Totals totals(std::uint64_t x, std::uint64_t y, float radius) const;

private:
    // A window of rows firstRow..lastRow and columns firstColumn..lastColumn, both ends included.
    struct Box {
        std::uint64_t firstRow, lastRow, firstColumn, lastColumn;
    };
    // Cells whose squared distance from (x, y) is at most radius squared.
    struct Disc {
        std::uint64_t x, y;
        double radius;
    };
    // Averages over the cells of box (none when absent), limited to disc when given.
    Totals average(std::optional<Box> box, std::optional<Disc> disc = std::nullopt) const;
};

} // namespace Cal
