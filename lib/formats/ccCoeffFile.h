#pragma once

#include <TessellaExport.h>

#include <array>
#include <cstddef>
#include <vector>

// A table of 3 x 3 colour-correction matrices, one per emitter position of a wall of
// width x height positions, in file order. Entries carry their two position numbers but are
// neither ordered nor indexed by them.
struct TESSELLA_EXPORT ccCoeffFile {
    struct Entry {
        std::size_t first = 0;
        std::size_t second = 0;
        // Row by row: matrix[3 * row + column].
        std::array<double, 9> matrix{};
    };

    std::size_t width = 0;
    std::size_t height = 0;
    std::vector<Entry> entries;

    // Chains two tables: entry i of the result is this table's matrix i times the other's
    // matrix i (paired by index, not by position), with this table's size and positions. When
    // the other table holds fewer entries the result is an empty table and a message on the
    // standard error stream.
    ccCoeffFile operator*(const ccCoeffFile& other) const;
};
