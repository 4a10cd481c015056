#include "formats/FitsFile.h"

#include <CCfits/CCfits>
#include <fitsio.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <ostream>
#include <string_view>
#include <system_error>

namespace {

// Every FITS file begins with this keyword; a compressed file does not.
constexpr std::string_view kFitsStart = "SIMPLE";
constexpr int kBitsPerByte = 8;
constexpr int kImageAxes = 2;

// CFITSIO's text for a status, its message stack cleared so that no old message outlives the
// call that left it.
std::string statusText(int status)
{
    std::array<char, FLEN_STATUS> text{};
    fits_get_errstatus(status, text.data());
    fits_clear_errmsg();
    return std::string(text.data()) + " (CFITSIO status " + std::to_string(status) + ")";
}

// Refuses what is not a regular file beginning with SIMPLE.
void checkPlainFits(const std::string& path)
{
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (error)
        FitsFile::fail(path, error.message());
    if (!std::filesystem::is_regular_file(status))
        FitsFile::fail(path, "not a regular file");
    std::ifstream in(path, std::ios::binary);
    std::array<char, kFitsStart.size()> start{};
    in.read(start.data(), std::streamsize(start.size()));
    if (!in.is_open())
        FitsFile::fail(path, "cannot be opened");
    if (std::string_view(start.data(), std::size_t(in.gcount())) != kFitsStart)
        FitsFile::fail(path, "not a plain FITS file: it does not begin with SIMPLE (a compressed file, say)");
}

// A name CFITSIO cannot take for anything but the file: it drops a leading blank and reads "-"
// or a "type://" prefix as another source, none of which can begin a path after "./".
std::string diskName(const std::string& path)
{
    return path.starts_with('/') ? path : "./" + path;
}

} // namespace

FitsFile::FitsFile(std::string path, fitsfile* file)
    : m_path(std::move(path))
    , m_file(file)
{
}

void FitsFile::Close::operator()(fitsfile* file) const
{
    int status = 0;
    fits_close_file(file, &status);
    if (status != 0)
        fits_clear_errmsg();
}

void FitsFile::fail(const std::string& path, const std::string& why)
{
    const std::string message = "FITS Error: " + path + ": " + why;
    std::cerr << message << std::endl;
    bool silent = true;
    throw CCfits::FitsException(message, silent);
}

void FitsFile::check(int status) const
{
    if (status > 0)
        fail(m_path, statusText(status));
}

FitsFile FitsFile::openForReading(const std::string& path)
{
    checkPlainFits(path);
    fitsfile* file = nullptr;
    int status = 0;
    fits_open_diskfile(&file, diskName(path).c_str(), READONLY, &status);
    FitsFile opened(path, file);
    opened.check(status);
    return opened;
}

std::vector<std::size_t> FitsFile::imageAxes() const
{
    fitsfile* fits = m_file.get();
    int status = 0;
    int axes = 0;
    int bitpix = 0;
    fits_get_img_dim(fits, &axes, &status);
    fits_get_img_type(fits, &bitpix, &status);
    check(status);
    std::vector<LONGLONG> lengths(std::size_t(std::max(axes, 0)));
    if (axes > 0)
        fits_get_img_sizell(fits, axes, lengths.data(), &status);
    LONGLONG headerStart = 0, dataStart = 0, dataEnd = 0;
    fits_get_hduaddrll(fits, &headerStart, &dataStart, &dataEnd, &status);
    check(status);

    // The data the axes declare must lie within the file: a header may declare far more than
    // the file holds, and the reader would allocate all of it first.
    const auto elementSize = static_cast<unsigned long long>(std::abs(bitpix) / kBitsPerByte);
    const LONGLONG fileSize = fits->Fptr->logfilesize;
    std::vector<std::size_t> result;
    unsigned long long elements = axes > 0 ? 1 : 0, bytes = 0;
    bool withinFile = dataStart >= 0 && fileSize >= dataStart;
    for (const LONGLONG length : lengths) {
        withinFile = withinFile && length >= 0
                     && !__builtin_mul_overflow(elements, static_cast<unsigned long long>(length), &elements);
        result.push_back(std::size_t(length));
    }
    withinFile = withinFile && !__builtin_mul_overflow(elements, elementSize, &bytes)
                 && bytes <= static_cast<unsigned long long>(fileSize - dataStart)
                 && elements <= static_cast<unsigned long long>(std::numeric_limits<LONGLONG>::max());
    if (!withinFile)
        fail(m_path, "the image's header declares more data than the file holds");
    // A scale of 0 would turn every value into BZERO: no image survives it.
    double scale = 1.0;
    fits_read_key(fits, TDOUBLE, "BSCALE", &scale, nullptr, &status);
    if (status == KEY_NO_EXIST)
        status = 0;
    check(status);
    if (scale == 0.0)
        fail(m_path, "the image's BSCALE is 0");
    return result;
}

void FitsFile::readFloats(std::size_t first, std::size_t count, float* out) const
{
    fitsfile* fits = m_file.get();
    int status = 0;
    int bitpix = 0;
    fits_get_img_type(fits, &bitpix, &status);
    check(status);
    // A null value of 0 tells CFITSIO not to look for undefined pixels: float pixels then pass
    // unchanged (its check would turn infinities into NaN and flush tiny values to 0); integer
    // pixels are checked against BLANK.
    float undefined = bitpix > 0 ? std::numeric_limits<float>::quiet_NaN() : 0.0f;
    int anyUndefined = 0;
    fits_read_img(fits, TFLOAT, LONGLONG(first) + 1, LONGLONG(count), &undefined, out, &anyUndefined, &status);
    // Values beyond a float's range come back clamped to it, with a warning status.
    if (status == NUM_OVERFLOW)
        status = 0;
    check(status);
}

void FitsFile::writeImage(const Vector2D<float>& grid, std::ostream& out, const std::string& name)
{
    // Built in memory, so that CFITSIO never opens a file by name: the caller's stream decides
    // where the bytes go. The memory outlives the file (declared first, released last).
    struct Memory {
        void* data = nullptr;
        std::size_t size = 0;
        ~Memory() { std::free(data); }
    } memory;
    fitsfile* created = nullptr;
    int status = 0;
    fits_create_memfile(&created, &memory.data, &memory.size, 0, std::realloc, &status);
    FitsFile file(name, created);
    file.check(status);

    const std::size_t width = grid.width(), height = grid.height();
    std::array<long, kImageAxes> axes{long(width), long(height)};
    fits_create_img(created, FLOAT_IMG, kImageAxes, axes.data(), &status);
    for (std::size_t y = 0; y < height && status == 0; ++y)
        fits_write_img(created, TFLOAT, LONGLONG(y * width) + 1, LONGLONG(width), const_cast<float*>(grid[y].data()),
                       &status);
    fits_flush_file(created, &status);
    file.check(status);
    const LONGLONG size = created->Fptr->logfilesize;
    out.write(static_cast<const char*>(memory.data), std::streamsize(size));
}
