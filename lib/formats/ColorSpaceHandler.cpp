#include "formats/ColorSpaceHandler.h"

#include "formats/FitsFile.h"
#include "formats/XinRuiRawHandler.h"

#include <array>
#include <filesystem>
#include <iostream>
#include <optional>
#include <set>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace ColorSpace {

namespace {

constexpr std::string_view kCaptureFolder = "/led/1";
constexpr std::string_view kExtension = ".fit";
constexpr std::string_view kColours = "RGB";          // channel 0, 1, 2
constexpr std::string_view kComponents = "XYZ";
constexpr std::array<const char*, 3> kColourNames = {"red", "green", "blue"};
// Colour letter, "_", component letter, "_" before the identifier.
constexpr std::size_t kIdentifierStart = 4;

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

// The image plane of a capture: the first axis is its width, the second its height, and all
// of its values must be that plane's (further axes of length 1: a cube of one plane is that
// plane). An image without values is no capture either.
std::optional<ImageSize> planeOf(const std::vector<std::size_t>& axes)
{
    if (axes.size() < 2 || axes[0] == 0 || axes[1] == 0)
        return std::nullopt;
    for (std::size_t k = 2; k < axes.size(); ++k)
        if (axes[k] != 1)
            return std::nullopt;
    return ImageSize{axes[0], axes[1]};
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
    const FitsFile file = FitsFile::openForReading(path);
    const std::optional<ImageSize> size = planeOf(file.imageAxes());
    if (!size) {
        std::cerr << "wrong size!" << std::endl;
        return {};
    }
    return file.readPlane(size->width, size->height);
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
