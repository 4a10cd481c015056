#include "formats/Grader.h"

#include "formats/FitsFile.h"
#include "formats/ReplacingFile.h"

#include <png++/png.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace {

constexpr float kLargestByte = 255.0f;
constexpr std::size_t kRgbBytes = 3;
// zlib's fastest level and no row filters: the previews are many and large, and deflating them
// as libpng does by default costs more than all the grading arithmetic.
constexpr int kPreviewCompression = 1;

void checkImage(const Vector2D<float>& grid, const char* operation)
{
    if (grid.empty() || grid.width() == 0 || !grid.isRectangular())
        throw std::invalid_argument(std::string("Grader::") + operation + ": the grid is empty or not rectangular");
}

// The byte of one element: (v - low) * 255 / range in single precision, truncated and clamped;
// a non-finite element or an empty range gives 0.
png::byte byteOf(float value, float low, float range)
{
    if (range == 0.0f || !std::isfinite(value))
        return 0;
    const float scaled = (value - low) * kLargestByte / range;
    if (!(scaled > 0.0f))
        return 0;
    if (scaled >= kLargestByte)
        return png::byte(kLargestByte);
    return png::byte(std::trunc(scaled));
}

} // namespace

void Grader::writePng(const Vector2D<float>& grid, float low, float high, std::string path)
{
    checkImage(grid, "writePng");
    if (low == high) {
        float smallest = std::numeric_limits<float>::infinity();
        float largest = 0.0f;
        for (const auto& row : grid)
            for (float v : row)
                if (std::isfinite(v)) {
                    smallest = std::min(smallest, v);
                    largest = std::max(largest, v);
                }
        low = std::isfinite(smallest) ? smallest : 0.0f;
        high = largest;
    }
    const float range = high - low;

    // The file is replaced whole or not at all, and a target that is no regular file is never
    // waited on (a FIFO without a reader is refused).
    ReplacingFile file(path);
    std::ostream& stream = file.stream();
    if (!stream)
        throw png::std_error(path, file.error());
    errno = 0; // so that a failed write is told by its own cause, not an earlier call's
    try {
        png::image_info info = png::make_image_info<png::rgb_pixel>();
        info.set_width(png::uint_32(grid.width()));
        info.set_height(png::uint_32(grid.height()));
        png::writer<std::ostream> writer(stream);
        writer.set_image_info(info);
        png_set_compression_level(writer.get_png_struct(), kPreviewCompression);
        png_set_filter(writer.get_png_struct(), PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
        writer.write_info();
        std::vector<png::byte> row(grid.width() * kRgbBytes);
        for (const auto& values : grid) {
            for (std::size_t x = 0; x < values.size(); ++x)
                std::fill_n(row.begin() + std::ptrdiff_t(x * kRgbBytes), kRgbBytes, byteOf(values[x], low, range));
            writer.write_row(row.data());
        }
        writer.write_end_info();
    } catch (const png::error&) {
        // png++ says only that the stream failed; the system says why.
        if (stream.bad())
            throw png::std_error(path, errno != 0 ? errno : EIO);
        throw;
    }
    if (!file.commit())
        throw png::std_error(path, file.error());
}

void Grader::writeFits(const Vector2D<float>& grid, const std::string& path)
{
    checkImage(grid, "writeFits");
    const bool overwrite = path.starts_with('!');
    const std::string target = overwrite ? path.substr(1) : path;
    std::error_code error;
    if (!overwrite && std::filesystem::exists(std::filesystem::symlink_status(target, error)))
        FitsFile::fail(target, "exists already");
    // The file is replaced whole or not at all; the name is only ever the plain file's.
    ReplacingFile file(target);
    std::ostream& out = file.stream();
    if (out)
        FitsFile::writeImage(grid, out, target);
    if (!out || !file.commit())
        FitsFile::fail(target, std::strerror(file.error() != 0 ? file.error() : EIO));
}
