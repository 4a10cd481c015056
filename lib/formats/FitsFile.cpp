#include "formats/FitsFile.h"

#include <CCfits/CCfits>
#include <fitsio.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <limits>
#include <memory>
#include <optional>
#include <ostream>
#include <string_view>
#include <system_error>
#include <type_traits>

namespace {

// Every FITS file begins with this keyword; a compressed file does not.
constexpr std::string_view kFitsStart = "SIMPLE";
constexpr int kBitsPerByte = 8;
constexpr int kImageAxes = 2;
// The image's values are read in chunks of this size: small beside an image (a tenth of a
// 400 x 400 capture) and in the cache, large enough that the reads cost little.
constexpr std::size_t kReadChunk = std::size_t(64) << 10;

// CFITSIO's text for a status, its message stack cleared so that no old message outlives the
// call that left it.
std::string statusText(int status)
{
    std::array<char, FLEN_STATUS> text{};
    fits_get_errstatus(status, text.data());
    fits_clear_errmsg();
    return std::string(text.data()) + " (CFITSIO status " + std::to_string(status) + ")";
}

std::string systemText(int error) { return std::generic_category().message(error); }

// Opens the file for reading and refuses what is not a regular file beginning with SIMPLE. The
// open never waits: a FIFO put in a capture's place is refused, not waited on.
int openPlainFits(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        FitsFile::fail(path, systemText(errno));
    struct stat status{};
    std::array<char, kFitsStart.size()> start{};
    const char* why = nullptr;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
        why = "not a regular file";
    else if (::pread(fd, start.data(), start.size(), 0) != ssize_t(start.size())
             || std::string_view(start.data(), start.size()) != kFitsStart)
        why = "not a plain FITS file: it does not begin with SIMPLE (a compressed file, say)";
    if (why != nullptr) {
        ::close(fd);
        FitsFile::fail(path, why);
    }
    return fd;
}

// How the primary image stores its values, and how they become floats: as CFITSIO converts
// them for a read of floats with no null value asked for float pixels and NaN for integer ones.
struct PixelCoding {
    int bitpix = 0;
    double scale = 1.0;
    double zero = 0.0;
    std::optional<long long> blank; // integer pixels only

    std::size_t bytes() const { return std::size_t(std::abs(bitpix) / kBitsPerByte); }
    bool scaled() const { return scale != 1.0 || zero != 0.0; }

    // count stored values from raw (big-endian) into out.
    void decode(const unsigned char* raw, std::size_t count, float* out) const;
};

template <typename Bits>
Bits loadBigEndian(const unsigned char* p)
{
    Bits bits;
    std::memcpy(&bits, p, sizeof bits);
    if constexpr (sizeof(Bits) == 2)
        return __builtin_bswap16(bits);
    else if constexpr (sizeof(Bits) == 4)
        return __builtin_bswap32(bits);
    else if constexpr (sizeof(Bits) == 8)
        return __builtin_bswap64(bits);
    else
        return bits;
}

// Stored type Raw held in the unsigned type of its width.
template <typename Raw>
using BitsOf = std::conditional_t<sizeof(Raw) == 1, std::uint8_t,
                                  std::conditional_t<sizeof(Raw) == 2, std::uint16_t,
                                                     std::conditional_t<sizeof(Raw) == 4, std::uint32_t, std::uint64_t>>>;

template <typename Raw>
Raw load(const unsigned char* p)
{
    return std::bit_cast<Raw>(loadBigEndian<BitsOf<Raw>>(p));
}

// Stored floats as they stand: count big-endian words from raw, each byte-swapped into out. A
// plain loop, which the compiler turns into vector code for the processor the calling function
// is built for.
[[gnu::always_inline]] inline void swapWordsOf(const unsigned char* raw, std::size_t count, float* out)
{
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t word;
        std::memcpy(&word, raw + i * sizeof word, sizeof word);
        word = __builtin_bswap32(word);
        std::memcpy(out + i, &word, sizeof word);
    }
}

// A byte shuffle of eight words at once where the processor has AVX2.
[[gnu::target("avx2")]] void swapWordsWide(const unsigned char* raw, std::size_t count, float* out)
{
    swapWordsOf(raw, count, out);
}

void swapWordsNarrow(const unsigned char* raw, std::size_t count, float* out) { swapWordsOf(raw, count, out); }

void swapWords(const unsigned char* raw, std::size_t count, float* out)
{
    static const bool wide = __builtin_cpu_supports("avx2");
    (wide ? swapWordsWide : swapWordsNarrow)(raw, count, out);
}

// Unsigned 64-bit pixels are stored with BZERO 2^63; CFITSIO flips their sign bit in place of
// adding it, which rounds once instead of twice.
constexpr double kUnsigned64Zero = 9223372036854775808.0;

template <typename Raw>
void decodeAs(const PixelCoding& coding, const unsigned char* raw, std::size_t count, float* out)
{
    constexpr std::size_t size = sizeof(Raw);
    const double scale = coding.scale, zero = coding.zero;
    if constexpr (std::is_floating_point_v<Raw>) {
        if (!coding.scaled() && std::is_same_v<Raw, float>) {
            swapWords(raw, count, out);
        } else if (!coding.scaled()) {
            for (std::size_t i = 0; i < count; ++i)
                out[i] = float(load<Raw>(raw + i * size));
        } else {
            for (std::size_t i = 0; i < count; ++i)
                out[i] = float(double(load<Raw>(raw + i * size)) * scale + zero);
        }
        return;
    } else {
        constexpr float kUndefined = std::numeric_limits<float>::quiet_NaN();
        const bool unsigned64 = size == sizeof(std::uint64_t) && scale == 1.0 && zero == kUnsigned64Zero;
        const bool scaled = coding.scaled();
        for (std::size_t i = 0; i < count; ++i) {
            const Raw value = load<Raw>(raw + i * size);
            if (coding.blank && value == *coding.blank)
                out[i] = kUndefined;
            else if (unsigned64)
                out[i] = float(std::uint64_t(value) ^ (std::uint64_t(1) << 63));
            else if (scaled)
                out[i] = float(double(value) * scale + zero);
            else
                out[i] = float(value);
        }
    }
}

void PixelCoding::decode(const unsigned char* raw, std::size_t count, float* out) const
{
    switch (bitpix) {
    case BYTE_IMG:
        return decodeAs<std::uint8_t>(*this, raw, count, out);
    case SHORT_IMG:
        return decodeAs<std::int16_t>(*this, raw, count, out);
    case LONG_IMG:
        return decodeAs<std::int32_t>(*this, raw, count, out);
    case LONGLONG_IMG:
        return decodeAs<std::int64_t>(*this, raw, count, out);
    case FLOAT_IMG:
        return decodeAs<float>(*this, raw, count, out);
    case DOUBLE_IMG:
        return decodeAs<double>(*this, raw, count, out);
    default:
        return;
    }
}

// A name CFITSIO cannot take for anything but the file: it drops a leading blank and reads "-"
// or a "type://" prefix as another source, none of which can begin a path after "./".
// The file already opened, by its descriptor: CFITSIO reads the header of the very file whose
// values readPlane reads, even when the name is given to another file in between (as a capture
// replaced by rename is).
std::string openedName(int fd)
{
    return "/proc/self/fd/" + std::to_string(fd);
}

} // namespace

FitsFile::FitsFile(std::string path, fitsfile* file, Descriptor descriptor)
    : m_path(std::move(path))
    , m_file(file)
    , m_descriptor(std::move(descriptor))
{
}

FitsFile::Descriptor::~Descriptor()
{
    if (m_fd >= 0)
        ::close(m_fd);
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
    Descriptor descriptor(openPlainFits(path));
    fitsfile* file = nullptr;
    int status = 0;
    fits_open_diskfile(&file, openedName(descriptor.get()).c_str(), READONLY, &status);
    FitsFile opened(path, file, std::move(descriptor));
    opened.check(status);
    return opened;
}

template <typename Number>
std::optional<Number> FitsFile::key(const char* name) const
{
    constexpr int type = std::is_floating_point_v<Number> ? TDOUBLE : TLONGLONG;
    Number value{};
    int status = 0;
    fits_read_key(m_file.get(), type, name, &value, nullptr, &status);
    if (status == KEY_NO_EXIST) {
        fits_clear_errmsg();
        return std::nullopt;
    }
    check(status);
    return value;
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
    if (key<double>("BSCALE") == 0.0)
        fail(m_path, "the image's BSCALE is 0");
    return result;
}

Vector2D<float> FitsFile::readPlane(std::size_t width, std::size_t height) const
{
    fitsfile* fits = m_file.get();
    int status = 0;
    PixelCoding coding;
    fits_get_img_type(fits, &coding.bitpix, &status);
    LONGLONG headerStart = 0, dataStart = 0, dataEnd = 0;
    fits_get_hduaddrll(fits, &headerStart, &dataStart, &dataEnd, &status);
    check(status);
    coding.scale = key<double>("BSCALE").value_or(1.0);
    coding.zero = key<double>("BZERO").value_or(0.0);
    if (coding.bitpix > 0)
        coding.blank = key<LONGLONG>("BLANK");

    // Through a buffer that stays in the cache: each chunk is read, then decoded into the
    // grid's rows, so the image is held once.
    const std::size_t size = coding.bytes();
    if (size == 0)
        fail(m_path, "the image's BITPIX is " + std::to_string(coding.bitpix));
    const std::size_t count = width * height;
    const std::size_t chunkValues = std::min(count, kReadChunk / size);
    const auto chunk = std::make_unique_for_overwrite<unsigned char[]>(chunkValues * size);
    Vector2D<float> grid(width, height);
    std::size_t row = 0, column = 0;
    for (std::size_t first = 0; first < count; first += chunkValues) {
        const std::size_t values = std::min(chunkValues, count - first);
        readExactly(chunk.get(), values * size, dataStart + LONGLONG(first * size));
        for (std::size_t done = 0; done < values;) {
            const std::size_t run = std::min(values - done, width - column);
            coding.decode(chunk.get() + done * size, run, grid[row].data() + column);
            done += run;
            column += run;
            if (column == width) {
                column = 0;
                ++row;
            }
        }
    }
    return grid;
}

void FitsFile::readExactly(unsigned char* out, std::size_t bytes, LONGLONG offset) const
{
    while (bytes > 0) {
        const ssize_t got = ::pread(m_descriptor.get(), out, bytes, off_t(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            fail(m_path, systemText(errno));
        if (got == 0)
            fail(m_path, "the file ends within the image's values");
        out += got;
        bytes -= std::size_t(got);
        offset += got;
    }
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
