#include "formats/CorvaneCalFileHandler.h"

#include "formats/CorvaneCalFormat.h"
#include "formats/CorvaneCalRead.h"
#include "formats/CorvaneCalReadCB.h"
#include "formats/CorvaneCalSets.h"
#include "formats/CorvaneCalWrite.h"
#include "formats/ReplacingFile.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>

namespace CorvaneCalFile {

namespace {

using CorvaneCal::CalSets;

constexpr std::string_view kExtension = ".klv";
constexpr float kSampleScale = 32768.0f;                 // a gain of 1.0 is stored as 0x8000
constexpr float kSampleToGain = 3.0517578e-5f;           // 1 / 32768
constexpr float kMaxGain = 65535.0f / kSampleScale;      // the largest 16-bit sample
constexpr unsigned kMaxMeshChannels = 5;
constexpr unsigned kMaxDataChannels = 3;                 // the file keeps XYZ for three channels
constexpr std::uint64_t kMeshSetMask = CorvaneCal::setBit(CorvaneCal::Set::FactCorrMesh);
constexpr std::uint64_t kDataSetMask = CorvaneCal::setBit(CorvaneCal::Set::HighGray);
// Proc info words that mark a file of per-emitter readings.
constexpr std::uint32_t kDataProcWordA = 4;
constexpr std::uint32_t kDataProcWordC = 0x10000;
// A data file may lack pixel entries for some emitters (they read as zero readings), but no
// more than this many: otherwise a 65535 x 65535 header could demand gigabytes from a few bytes.
constexpr std::uint64_t kMaxZeroFilledEmitters = 1u << 16;

// Channel count to pixel format: 1, 3, 4 and 5 stand for themselves, any other count is 3.
std::uint32_t pixelFormatFor(std::uint64_t channels)
{
    return (channels == 1 || channels == 3 || channels == 4 || channels == 5) ? std::uint32_t(channels) : 3;
}

// A gain as a 16-bit sample: clamped to the range the file can hold (NaN counts as 0), so a
// negative or oversized gain never wraps around.
std::uint16_t sampleOf(float gain)
{
    if (std::isnan(gain))
        return 0;
    return std::uint16_t(std::clamp(gain, 0.0f, kMaxGain) * kSampleScale);
}

float floatOf(std::uint32_t bits) { return std::bit_cast<float>(bits); }
std::uint32_t bitsOf(float value) { return std::bit_cast<std::uint32_t>(value); }

void reportWriteError() { std::cerr << "CorvaneCal Write error" << std::endl; }

void writeFailed(std::ostream& out)
{
    reportWriteError();
    out.setstate(std::ios::failbit);
}

void reportRefusal(const std::string& why)
{
    std::cerr << "CorvaneCalFile: " << why << std::endl;
    reportWriteError();
}

void refuseWrite(std::ostream& out, const std::string& why)
{
    reportRefusal(why);
    out.setstate(std::ios::failbit);
}

void write(const CalSets& sets, std::uint64_t mask, std::ostream& out)
{
    CorvaneCal::Write writer(sets, mask);
    if (writer.write(out) != CorvaneCal::Write::Ok)
        writeFailed(out);
}

// Reads a whole file into sets; prints "CorvaneCal Parse error" when it is not complete.
std::optional<std::uint64_t> parse(std::istream& in, CalSets& sets)
{
    std::uint64_t setsFound = 0;
    if (!CorvaneCal::ReadCB::read(in, sets, setsFound)) {
        std::cerr << "CorvaneCal Parse error" << std::endl;
        return std::nullopt;
    }
    return setsFound;
}

void reportOpenFailed(const std::string& path, int error)
{
    std::cerr << "Can't open file " << path << ": " << std::strerror(error) << std::endl;
}

bool openFailed(const std::ios& stream, const std::string& path)
{
    if (stream)
        return false;
    reportOpenFailed(path, errno);
    return true;
}

// Why data cannot be written, checked before any byte goes out (and before a file is touched).
std::optional<std::string> refusal(const Cal::Data& data)
{
    if (!data.grid.isRectangular())
        return "calibration data rows differ in length";
    const std::uint64_t channels = data.channels();
    if (channels > kMaxDataChannels)
        return "calibration data has " + std::to_string(channels) + " channels, at most "
               + std::to_string(kMaxDataChannels) + " can be written";
    return std::nullopt;
}

} // namespace

Cal::Data Handler::readFile(std::string path) const
{
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (openFailed(in, path))
        return {};
    std::cout << "reading " << path << std::endl;
    return readStream(in);
}

std::map<std::string, Cal::Data> Handler::readFiles(const std::string& directory) const
{
    std::map<std::string, Cal::Data> out;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && name.ends_with(kExtension))
            out[name.substr(0, name.size() - kExtension.size())] = readFile(entry.path().string());
    }
    return out;
}

Cal::Data Handler::readStream(std::istream& in) const
{
    CalSets sets;
    if (!parse(in, sets))
        return {};
    const std::uint64_t width = sets.header.width;
    const std::uint64_t height = sets.header.height;
    const std::uint64_t emitters = width * height;
    const std::uint64_t present = std::min<std::uint64_t>(sets.pixelsXYZ.size(), emitters);
    if (emitters - present > kMaxZeroFilledEmitters) {
        std::cerr << "CorvaneCal Parse error: pixel data for " << present << " of " << emitters << " emitters"
                  << std::endl;
        return {};
    }
    const unsigned channels = CorvaneCal::channelsOfPixelFormat(sets.header.pixelFormat);
    Cal::Data data;
    data.moduleWidth = width;
    data.moduleHeight = height;
    data.grid = Vector2D<Cal::Data::Cell>(width, height, Cal::Data::Cell(channels));
    const unsigned withXYZ = std::min(channels, kMaxDataChannels);
    for (std::uint64_t i = 0; i < present; ++i) {
        Cal::Data::Cell& cell = data.grid[i / width][i % width];
        for (unsigned ch = 0; ch < withXYZ; ++ch) {
            const auto& [X, Y, Z] = sets.pixelsXYZ[i][ch];
            cell[ch].setXYZ(X, Y, Z);
        }
    }
    return data;
}

Mesh Handler::readStreamMesh(std::istream& in) const
{
    CalSets sets;
    const auto setsFound = parse(in, sets);
    if (!setsFound)
        return {};
    if ((*setsFound & kMeshSetMask) == 0) {
        std::cerr << "CorvaneCal does not contain a mesh" << std::endl;
        return {};
    }
    const CorvaneCal::MeshCorr& record = sets.mesh;
    // Grids take a row per unit of height even when they are 0 wide: a mesh with one dimension 0
    // carries no samples, yet would demand gigabytes from a few bytes.
    if ((record.width == 0) != (record.height == 0)) {
        std::cerr << "CorvaneCal Parse error: mesh of " << record.width << " x " << record.height
                  << " without samples" << std::endl;
        return {};
    }
    const std::uint64_t samples = std::uint64_t(record.width) * record.height;
    const unsigned channels = CorvaneCal::channelsOfPixelFormat(sets.header.pixelFormat);
    // Grids are only built as large as the samples the file really carries.
    const bool carriesSamples = std::any_of(record.channels.begin(), record.channels.begin() + channels,
                                            [samples](const auto& values) { return values.size() == samples; });
    if (samples > 0 && !carriesSamples) {
        std::cerr << "CorvaneCal Parse error: mesh of " << record.width << " x " << record.height
                  << " without samples" << std::endl;
        return {};
    }

    Mesh mesh;
    mesh.name = record.name;
    mesh.windowX = floatOf(record.words[0]);
    mesh.windowY = floatOf(record.words[1]);
    mesh.windowWidth = floatOf(record.words[2]);
    mesh.windowHeight = floatOf(record.words[3]);
    mesh.factor = std::min(floatOf(record.words[4]), floatOf(record.words[5]));
    mesh.grids.reserve(channels);
    for (unsigned ch = 0; ch < channels; ++ch) {
        auto& grid = mesh.grids.emplace_back(record.width, record.height, 0.0f);
        const auto& values = record.channels[ch];
        for (std::uint64_t i = 0; i < std::min<std::uint64_t>(values.size(), samples); ++i)
            grid[i / record.width][i % record.width] = float(values[i]) * kSampleToGain;
    }
    return mesh;
}

void Handler::validateFile(const std::string& path) const
{
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!openFailed(in, path))
        validateStream(in);
}

void Handler::validateStream(std::istream& in) const
{
    CorvaneCal::Read reader(in, true);
    reader.parse();
}

void Handler::writeFile(const Cal::Data& data, const std::string& path) const
{
    // The old file stays as it is unless the new one was written completely.
    if (const auto why = refusal(data))
        return reportRefusal(*why);
    ReplacingFile file(path);
    std::ostream& out = file.stream();
    if (!out)
        return reportOpenFailed(path, file.error());
    std::cout << "writing " << path << std::endl;
    writeStream(data, out);
    if (out && !file.commit())
        std::cerr << "Can't replace file " << path << ": " << std::strerror(file.error()) << std::endl;
}

void Handler::writeFiles(const std::map<std::string, Cal::Data>& data, const std::string& directory) const
{
    for (const auto& [name, entry] : data)
        writeFile(entry, directory + "/" + name + std::string(kExtension));
}

void Handler::writeStream(const Cal::Data& data, std::ostream& out) const
{
    if (const auto why = refusal(data))
        return refuseWrite(out, *why);
    const std::uint64_t channels = data.channels();
    CalSets sets;
    sets.header.pixelFormat = pixelFormatFor(channels);
    sets.header.width = std::uint32_t(std::min<std::uint64_t>(data.width(), UINT32_MAX));
    sets.header.height = std::uint32_t(std::min<std::uint64_t>(data.height(), UINT32_MAX));
    sets.procInfo.wordA = kDataProcWordA;
    sets.procInfo.wordC = kDataProcWordC;
    sets.pixelsXYZ.reserve(data.width() * data.height());
    for (const auto& row : data.grid) {
        for (const Cal::Data::Cell& cell : row) {
            CorvaneCal::PixelXYZ& entry = sets.pixelsXYZ.emplace_back();
            for (std::size_t ch = 0; ch < std::min<std::size_t>(cell.size(), kMaxDataChannels); ++ch) {
                const auto xyz = cell[ch].toXYZ();
                entry[ch] = {float(xyz[0]), float(xyz[1]), float(xyz[2])};
            }
        }
    }
    write(sets, kDataSetMask, out);
}

void Handler::writeStream(const Mesh& mesh, std::ostream& out) const
{
    if (mesh.channels() > kMaxMeshChannels)
        return refuseWrite(out, "a mesh has at most 5 channels, not " + std::to_string(mesh.channels()));
    const std::size_t width = mesh.grids.empty() ? 0 : mesh.grids.front().width();
    const std::size_t height = mesh.grids.empty() ? 0 : mesh.grids.front().height();
    for (const auto& grid : mesh.grids)
        if (!grid.isRectangular() || grid.width() != width || grid.height() != height)
            return refuseWrite(out, "mesh channels differ in shape");
    if (width > UINT32_MAX || height > UINT32_MAX)
        return refuseWrite(out, "mesh too large");
    if (width == 0 && height > 0)
        return refuseWrite(out, "mesh rows have no samples");

    CalSets sets;
    sets.header.pixelFormat = pixelFormatFor(mesh.channels());
    CorvaneCal::MeshCorr& record = sets.mesh;
    record.name = mesh.name;
    record.width = std::uint32_t(width);
    record.height = std::uint32_t(height);
    for (std::size_t ch = 0; ch < mesh.grids.size(); ++ch) {
        auto& values = record.channels[ch];
        values.reserve(width * height);
        for (const auto& row : mesh.grids[ch])
            for (float gain : row)
                values.push_back(sampleOf(gain));
    }
    record.words = {bitsOf(mesh.windowX), bitsOf(mesh.windowY), bitsOf(mesh.windowWidth),
                    bitsOf(mesh.windowHeight), bitsOf(mesh.factor), bitsOf(mesh.factor), 0};
    write(sets, kMeshSetMask, out);
}

} // namespace CorvaneCalFile
