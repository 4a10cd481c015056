#pragma once

#include "formats/Vector2D.h"

#include <fitsio.h>

#include <cstddef>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

// A FITS file read or written through CFITSIO by its plain name only. CFITSIO reads a name as
// an extended file name ("x[1]" picks an extension, "!x" overwrites, "-" is standard input,
// "http://" goes to the network, a leading blank is dropped) and opens "x.gz" in place of a
// missing "x"; none of that applies here. A file to read must be a regular file holding plain
// FITS (it begins with SIMPLE): a compressed one would be unpacked into memory first, whatever
// its name. Files are written to a stream, never opened by CFITSIO at all.
//
// Every failure raises the FITS library's error, CCfits::FitsException (not a std::exception),
// whose message names the file and says why; the message is also printed on the standard error
// stream.
class FitsFile {
public:
    // Opens the primary image of a plain FITS file for reading.
    static FitsFile openForReading(const std::string& path);

    // The lengths of the primary image's axes, first (fastest-varying) first. Raises the error
    // when the data they declare runs past the end of the file, before anything is allocated
    // for it.
    std::vector<std::size_t> imageAxes() const;
    // count elements from element first (counted from 0) as floats, into out. Integer pixels
    // equal to the header's BLANK read as NaN; float pixels are read as they stand.
    void readFloats(std::size_t first, std::size_t count, float* out) const;

    // A primary image of 32-bit floats with axes (width, height), row 0 first, written to out.
    static void writeImage(const Vector2D<float>& grid, std::ostream& out, const std::string& name);

    // Raises the FITS library's error for a file refused by this class or by CFITSIO.
    [[noreturn]] static void fail(const std::string& path, const std::string& why);

private:
    struct Close {
        void operator()(fitsfile* file) const;
    };

    FitsFile(std::string path, fitsfile* file);
    // Raises the error when a CFITSIO call failed.
    void check(int status) const;

    std::string m_path;
    std::unique_ptr<fitsfile, Close> m_file;
};
