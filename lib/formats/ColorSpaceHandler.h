#pragma once

#include "formats/CalData.h"
#include "formats/CalEmitterReading.h"
#include "formats/Vector2D.h"

#include <TessellaExport.h>

#include <map>
#include <string>

namespace ColorSpace {

// Turns sets of FITS tristimulus captures into calibration data. A directory D holds its
// captures in D + "/led/1", named colour "_" component "_" identifier ".fit" (colour R, G or B,
// component X, Y or Z, upper case); the nine captures of one identifier make one data set with
// channels red, green and blue. Holds no state.
//
// A capture is the plain disk file of its name: no CFITSIO extended file-name syntax (a folder
// "run[1]" is a folder), no compressed file in its place, no URL, no standard input for "-".
// Errors of the FITS library (CCfits::FitsException, which is not a std::exception) leave
// readCapture and the three-argument readCaptures, with a message naming the file and why on
// the standard error stream: a file missing, not a regular file or not plain FITS (a compressed
// one among them), or whose header declares more data than the file holds (raised before
// anything is allocated for it).
class TESSELLA_EXPORT Handler {
public:
    // The primary image of a FITS file as floats, grid[row][column], whatever extensions follow
    // it. Its first axis is the width, its second the height; an image of fewer than two axes,
    // with a width or height of 0, or with values beyond that plane (further axes longer than
    // 1) prints "wrong size!" and gives an empty grid. Integer pixels equal to the header's
    // BLANK read as NaN, as undefined float pixels are. Whatever the header's data size covers
    // is read, whether or not the file's last 2880-byte block is padded out; the grid is the
    // only copy of the image held.
    Vector2D<float> readCapture(std::string path) const;

    // One colour of one set: the X, Y and Z captures in directory as chromaticity x, y and
    // luminance Y per emitter. Y or Z of another size than X raise std::runtime_error.
    Vector2D<Cal::EmitterReading> readCaptures(std::string directory, char colour, std::string identifier) const;

    // Every set of directory + "/led/1", by identifier. A set that fails is reported on the
    // standard error stream and left out; errors of the directory scan itself are raised as
    // std::filesystem::filesystem_error.
    std::map<std::string, Cal::Data> readCaptures(std::string directory) const;

    // The XinRui raw tables of directory, as XinRui_Raw::Handler::readFiles reads them.
    std::map<std::string, Cal::Data> readRaw(std::string directory) const;
};

} // namespace ColorSpace
