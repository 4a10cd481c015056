#pragma once

#include "formats/Vector2D.h"

#include <fitsio.h>

#include <cstddef>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// A FITS file read or written through CFITSIO by its plain name only. CFITSIO reads a name as
// an extended file name ("x[1]" picks an extension, "!x" overwrites, "-" is standard input,
// "http://" goes to the network, a leading blank is dropped) and opens "x.gz" in place of a
// missing "x"; none of that applies here. A file to read must be a regular file holding plain
// FITS (it begins with SIMPLE): a compressed one would be unpacked into memory first, whatever
// its name. Files are written to a stream, never opened by CFITSIO at all.
//
// CFITSIO reads the header; the image's values are read from the file's own bytes here, as far
// as the header's data size reaches: a file whose last 2880-byte block lacks its padding (every
// value there, only the zeros after them missing) reads as a whole one does, where CFITSIO
// would refuse a read that touches the short block.
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
    // The first width x height values of the primary image as floats, row by row (element
    // x + width * y at [y][x]), as CFITSIO converts them: BSCALE and BZERO applied, integer
    // pixels equal to the header's BLANK read as NaN, float pixels (infinities, NaN and tiny
    // values included) as they stand. Holds nothing beside the grid but a buffer of
    // 64 KiB. The values must lie within the image (imageAxes() says how many).
    Vector2D<float> readPlane(std::size_t width, std::size_t height) const;

    // A primary image of 32-bit floats with axes (width, height), row 0 first, written to out.
    static void writeImage(const Vector2D<float>& grid, std::ostream& out, const std::string& name);

    // Raises the FITS library's error for a file refused by this class or by CFITSIO.
    [[noreturn]] static void fail(const std::string& path, const std::string& why);

private:
    struct Close {
        void operator()(fitsfile* file) const;
    };

    // The file's own descriptor, through which the image's values are read; closed with it.
    class Descriptor {
    public:
        explicit Descriptor(int fd = -1) : m_fd(fd) {}
        Descriptor(Descriptor&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
        Descriptor& operator=(Descriptor&& other) noexcept
        {
            std::swap(m_fd, other.m_fd);
            return *this;
        }
        Descriptor(const Descriptor&) = delete;
        Descriptor& operator=(const Descriptor&) = delete;
        ~Descriptor();
        int get() const { return m_fd; }

    private:
        int m_fd;
    };

    FitsFile(std::string path, fitsfile* file, Descriptor descriptor = Descriptor());
    // Raises the error when a CFITSIO call failed.
    void check(int status) const;
    // A keyword of the primary header as a number, nothing when the header lacks it.
    template <typename Number>
    std::optional<Number> key(const char* name) const;
    // bytes of the file from offset into out, or the error.
    void readExactly(unsigned char* out, std::size_t bytes, long long offset) const;

    std::string m_path;
    std::unique_ptr<fitsfile, Close> m_file;
    Descriptor m_descriptor;
};
