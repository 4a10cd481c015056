#pragma once

#include "formats/CalData.h"
#include "formats/Vector2D.h"

#include <TessellaExport.h>

#include <cstddef>
#include <map>
#include <string>

// Grades the uniformity of an LED surface from captures: one colour channel of every capture
// (by name, visited in name order) is averaged, blurred with a Gaussian that never looks across
// tile borders, and turned into relative factors around 1.0. Every intermediate grid is written
// to the output folder as a PNG preview, the main results also as FITS images; progress lines go
// to the standard output. Holds no state.
//
// Bad arguments raise std::invalid_argument before any file is written: no captures, a channel
// other than 0, 1, 2, a capture that is empty, lacks the channel or differs in size from the
// first, tile counts below 1 or above the cell counts, a kernel size below 1. Files that cannot
// be written raise png++'s or CCfits' error (CCfits::FitsException is not a std::exception);
// files already written stay.
class TESSELLA_EXPORT Grader {
public:
    using Captures = std::map<std::string, Cal::Data>;

    // The tile-blurred average of the channel divided by its own mean. A mean of 0 raises
    // std::domain_error. A NaN cell in any capture makes the mean NaN and so every factor NaN
    // (the blur spreads it over its kernel's reach, the mean over the whole grid), as the
    // arithmetic has it; a message on the standard error stream says so.
    Vector2D<float> averageBlurred(const Captures& captures, int tilesAcross, int tilesDown, int channel,
                                   int kernelSize, std::string folder) const;
    // The average of the channel divided by its own mean. A mean of 0 raises std::domain_error;
    // a NaN cell makes every factor NaN, with a message, as for averageBlurred.
    Vector2D<float> pixelAverage(const Captures& captures, int channel, std::string folder) const;
    // The average of every capture's blurred grid relative to its tile centres, blended towards
    // 1.0 where the captures disagree. A tile whose blurred centre is 0 or not finite gets the
    // factor 1.0 throughout, with a message on the standard error stream.
    Vector2D<float> relativeAverage(const Captures& captures, int tilesAcross, int tilesDown, int channel,
                                    int kernelSize, std::string folder) const;

    // size x size weights of a Gaussian whose sigma follows the size, summing to 1.
    static Vector2D<float> gaussianKernel(int size);
    // grid convolved with kernel, each sample reflected into the cell's own tile (tiles of
    // width / tilesAcross by height / tilesDown cells; the last, partial tiles are clipped to the
    // grid, and a reflection that still leaves a tile is held at its edge). Every output lies
    // within 1e-6 of the exact sum of weight x sample over the kernel, relative to the sum of
    // their magnitudes (for weights and samples of one sign, relative to the output itself):
    // sums run in double precision. A kernel that is an outer product to within 5e-7 of each
    // weight (as gaussianKernel's is) is applied as two one-dimensional passes.
    static Vector2D<float> blurWithinTiles(const Vector2D<float>& grid, const Vector2D<float>& kernel,
                                           int tilesAcross, int tilesDown);
    // An 8-bit grey RGB PNG mapping low..high to 0..255 (clamped). When low equals high the
    // range is the smallest finite element up to the larger of 0 and the largest; a range of 0
    // and non-finite elements give 0.
    static void writePng(const Vector2D<float>& grid, float low, float high, std::string path);
    // A primary image of 32-bit floats with axes (width, height), row 0 first, in the plain file
    // named (no CFITSIO extended file-name syntax: a folder "run[1]" is a folder). A leading "!"
    // in the path overwrites an existing file, replacing it whole or not at all; without it an
    // existing file raises the FITS library's error.
    static void writeFits(const Vector2D<float>& grid, const std::string& path);

private:
    // Raise std::invalid_argument for arguments the steps above cannot work with.
    static void checkTiles(std::size_t width, std::size_t height, int tilesAcross, int tilesDown);
    static void checkKernelSize(int size);
};
