#include "formats/ColorSpaceHandler.h"

#include "formats/XinRuiRawHandler.h"

#include <CCfits/CCfits>
#include <fitsio.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <optional>
#include <set>
#include <stdexcept>
#include <string_view>
#include <typeinfo>
#include <valarray>

namespace ColorSpace {

namespace {

constexpr std::string_view kCaptureFolder = "/led/1";
constexpr std::string_view kExtension = ".fit";
constexpr std::string_view kColours = "RGB";          // channel 0, 1, 2
constexpr std::string_view kComponents = "XYZ";
constexpr std::array<const char*, 3> kColourNames = {"red", "green", "blue"};
// Colour letter, "_", component letter, "_" before the identifier.
constexpr std::size_t kIdentifierStart = 4;
constexpr int kCaptureAxes = 2;
constexpr int kBitsPerByte = 8;
// Every FITS file begins with this keyword.
constexpr std::string_view kFitsStart = "SIMPLE";

struct ImageSize {
    std::size_t width = 0;
    std::size_t height = 0;
};

std::string sizeText(std::size_t width, std::size_t height)
{
    return std::to_string(width) + " x " + std::to_string(height);
}

template <typename T>
std::string sizeText(const Vector2D<T>& grid)
{
    return sizeText(grid.width(), grid.height());
}

void check(int status)
{
    if (status != 0)
        throw CCfits::FitsError(status);
}

// The primary image's size, checked against the file before any of its data is read: a header
// may declare far more than the file holds, and the FITS library would allocate all of it
// first. Not two axes gives nothing; data beyond the end of the file raises the FITS library's
// end-of-file error.
std::optional<ImageSize> checkedSize(CCfits::FITS& file)
{
    fitsfile* fits = file.fitsPointer();
    int status = 0;
    int axes = 0;
    fits_get_img_dim(fits, &axes, &status);
    check(status);
    if (axes != kCaptureAxes)
        return std::nullopt;

    int bitpix = 0;
    std::array<LONGLONG, kCaptureAxes> lengths{};
    LONGLONG headerStart = 0, dataStart = 0, dataEnd = 0;
    fits_get_img_type(fits, &bitpix, &status);
    fits_get_img_sizell(fits, kCaptureAxes, lengths.data(), &status);
    fits_get_hduaddrll(fits, &headerStart, &dataStart, &dataEnd, &status);
    check(status);

    const auto elementSize = static_cast<unsigned long long>(bitpix < 0 ? -bitpix : bitpix) / kBitsPerByte;
    const LONGLONG fileSize = fits->Fptr->logfilesize;
    unsigned long long elements = 0, bytes = 0;
    if (lengths[0] < 0 || lengths[1] < 0 || dataStart < 0 || fileSize < dataStart
        || __builtin_mul_overflow(static_cast<unsigned long long>(lengths[0]),
                                  static_cast<unsigned long long>(lengths[1]), &elements)
        || __builtin_mul_overflow(elements, elementSize, &bytes)
        || bytes > static_cast<unsigned long long>(fileSize - dataStart)
        || elements > static_cast<unsigned long long>(std::numeric_limits<long>::max()))
        throw CCfits::FitsError(END_OF_FILE);
    return ImageSize{static_cast<std::size_t>(lengths[0]), static_cast<std::size_t>(lengths[1])};
}

// CFITSIO unpacks a compressed file into memory whatever its name, before it reads a header, so a
// few hundred kilobytes of gzip could demand gigabytes: a capture must be a plain FITS file. A
// file that cannot be read is left to the FITS library to report.
void refuseUnlessPlainFits(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open())
        return;
    std::array<char, kFitsStart.size()> start{};
    in.read(start.data(), std::streamsize(start.size()));
    if (std::string_view(start.data(), std::size_t(in.gcount())) != kFitsStart)
        throw CCfits::FitsError(NO_SIMPLE);
}

// The image as floats. CCfits picks its reader by type and scaling when it opens the file and
// again when it reads; a header that makes the two disagree (a BSCALE of 0, say) ends in a
// std::bad_cast or a CCfits::FitsFatal, outside the library's error family. Either is raised as
// the FITS library's error, like any other unreadable capture.
std::valarray<float> readValues(CCfits::PHDU& image, std::size_t count)
{
    std::valarray<float> values;
    try {
        image.read(values, 1, static_cast<long>(count));
        return values;
    } catch (const std::bad_cast&) {
    } catch (const CCfits::FitsFatal&) {
    }
    bool silent = true;
    throw CCfits::FitsException("FITS Error: the image's type and scaling cannot be read as floats", silent);
}

bool isCaptureName(std::string_view name)
{
    return name.size() >= kIdentifierStart + kExtension.size() && kColours.find(name[0]) != std::string_view::npos
        && name[1] == '_' && kComponents.find(name[2]) != std::string_view::npos && name[3] == '_'
        && name.ends_with(kExtension);
}

} // namespace

Vector2D<float> Handler::readCapture(std::string path) const
{
    std::cout << path << std::endl;
    // The header's keywords are not read into CCfits' table: nothing uses them, and CCfits
    // leaks a keyword that a header repeats.
    refuseUnlessPlainFits(path);
    CCfits::FITS file(path, CCfits::Read, false);
    CCfits::PHDU& image = file.pHDU();

    const std::optional<ImageSize> size = checkedSize(file);
    if (!size) {
        std::cerr << "wrong size!" << std::endl;
        return {};
    }
    const std::size_t elements = size->width * size->height;
    if (elements == 0)
        return {};

    const std::valarray<float> values = readValues(image, elements);
    if (values.size() != elements) {
        std::cerr << "wrong size!" << std::endl;
        return {};
    }
    Vector2D<float> grid(size->width, size->height);
    for (std::size_t i = 0; i < elements; ++i)
        grid[i / size->width][i % size->width] = values[i];
    return grid;
}

Vector2D<Cal::EmitterReading> Handler::readCaptures(std::string directory, char colour, std::string identifier) const
{
    std::array<Vector2D<float>, kComponents.size()> captures;
    for (std::size_t k = 0; k < kComponents.size(); ++k) {
        const std::string path = directory + "/" + colour + "_" + kComponents[k] + "_" + identifier
            + std::string(kExtension);
        captures[k] = readCapture(path);
        // Y and Z are read at X's positions: they must have exactly its size.
        if (k > 0 && (captures[k].height() != captures[0].height() || captures[k].width() != captures[0].width()))
            throw std::runtime_error(path + ": " + sizeText(captures[k]) + " values, the X capture holds "
                                     + sizeText(captures[0]));
    }
    const auto& [X, Y, Z] = captures;
    Vector2D<Cal::EmitterReading> readings(X.width(), X.height());
    for (std::size_t r = 0; r < X.height(); ++r) {
        for (std::size_t c = 0; c < X.width(); ++c) {
            const float sum = X[r][c] + Y[r][c] + Z[r][c];
            readings[r][c].x = X[r][c] / sum;
            readings[r][c].y = Y[r][c] / sum;
            readings[r][c].Y = Y[r][c];
        }
    }
    return readings;
}

std::map<std::string, Cal::Data> Handler::readCaptures(std::string directory) const
{
    const std::string folder = directory + std::string(kCaptureFolder);
    std::set<std::string> identifiers;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && isCaptureName(name))
            identifiers.insert(name.substr(kIdentifierStart, name.size() - kIdentifierStart - kExtension.size()));
    }

    std::map<std::string, Cal::Data> sets;
    for (const std::string& id : identifiers) {
        try {
            // Channel k is colour k: every colour must come back whole and of red's size, or
            // the set is not stored at all (a skipped colour would shift the next one down).
            std::array<Vector2D<Cal::EmitterReading>, kColours.size()> colours;
            for (std::size_t k = 0; k < kColours.size(); ++k) {
                colours[k] = readCaptures(folder, kColours[k], id);
                if (colours[k].width() == 0 || colours[k].height() == 0)
                    throw std::runtime_error(std::string(kColourNames[k]) + " captures are empty");
                if (colours[k].width() != colours[0].width() || colours[k].height() != colours[0].height())
                    throw std::runtime_error(std::string(kColourNames[k]) + " captures hold " + sizeText(colours[k])
                                             + " values, red ones " + sizeText(colours[0]));
            }
            Cal::Data data;
            for (const auto& readings : colours)
                data.addChannel(readings);
            sets.emplace(id, std::move(data));
        } catch (const std::exception& e) {
            std::cerr << "Failed reading captures for id " << id << ": " << e.what() << std::endl;
        } catch (...) {
            std::cerr << "Failed reading captures for id" << id << std::endl;
        }
    }
    return sets;
}

std::map<std::string, Cal::Data> Handler::readRaw(std::string directory) const
{
    return XinRui_Raw::Handler().readFiles(std::move(directory));
}

} // namespace ColorSpace
