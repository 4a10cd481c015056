#pragma once

#include "formats/Vector2D.h"

#include <TessellaExport.h>

#include <cstdint>
#include <string>
#include <vector>

namespace CorvaneCalFile {

// A named set of per-channel correction grids with a placement window and a fifth value.
// The layout (name, grids, five floats) is shared with callers across the library boundary.
// Samples are gains in [0, 65535/32768]; the file keeps value x 32768 in 16 bits.
class TESSELLA_EXPORT Mesh {
public:
    Mesh();
    Mesh(const Mesh& other);
    Mesh(Mesh&& other) noexcept;
    ~Mesh();
    Mesh& operator=(const Mesh& other);
    Mesh& operator=(Mesh&& other) noexcept;

    // Number of channel grids.
    std::uint64_t channels() const;

    std::string name;
    std::vector<Vector2D<float>> grids;  // one per channel, each [row][column], all of one shape
    float windowX = 0.0f;
    float windowY = 0.0f;
    float windowWidth = 0.0f;
    float windowHeight = 0.0f;
    float factor = 0.0f;
};

} // namespace CorvaneCalFile
