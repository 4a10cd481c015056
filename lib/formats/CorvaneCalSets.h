#pragma once

#include <TessellaExport.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace CorvaneCal {

using Pair = std::array<float, 2>;    // chromaticity x, y
using Triple = std::array<float, 3>;  // X, Y, Z or x, y, Y

struct Header {
    std::uint32_t word = 1;
    std::uint32_t pixelFormat = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;

    bool operator==(const Header&) const = default;
};

struct TileId {
    std::array<std::uint8_t, 6> raw{};
    std::uint32_t word1 = 0;
    std::uint32_t word2 = 0;
    float value = 0.0f;
    std::uint32_t byte = 0;  // stored as one byte

    bool operator==(const TileId&) const = default;
};

struct ProcInfo {
    std::uint32_t wordA = 0;
    std::uint64_t value = 0;
    std::uint32_t wordB = 0;
    std::uint32_t wordC = 0;

    bool operator==(const ProcInfo&) const = default;
};

struct MeasTemp {
    std::uint8_t id = 0;
    std::array<std::uint32_t, 3> words{};

    bool operator==(const MeasTemp&) const = default;
};

struct BadPixel {
    std::uint16_t word1 = 0;
    std::uint16_t word2 = 0;
    std::uint8_t byte1 = 0;
    std::uint8_t byte2 = 0;

    bool operator==(const BadPixel&) const = default;
};

using PixelXYZ = std::array<Triple, 3>;
using OlutXYY = std::array<Triple, 5>;
using LowGray = std::array<std::uint16_t, 3>;
using OlutDat = std::array<std::uint16_t, 5>;

// The correction mesh record: per-channel 16-bit samples (row-major, width x height each, or
// none), its name, size and seven words (window x, y, width, height as float bits, the fifth
// value twice, and 0).
struct TESSELLA_EXPORT MeshCorr {
    std::array<std::vector<std::uint16_t>, 5> channels;
    std::string name;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::array<std::uint32_t, 7> words{};

    bool isDefault() const;
    bool operator==(const MeshCorr&) const = default;
};

// A record of a key this library does not know, kept so it can be written back.
struct StoredRecord {
    std::uint32_t key = 0;
    std::uint32_t length = 0;
    std::shared_ptr<const std::vector<std::uint8_t>> bytes;
    std::uint32_t tag = 0;

    // Equal when key, length, tag and the bytes themselves are equal.
    bool operator==(const StoredRecord& other) const
    {
        const bool sameBytes = bytes == other.bytes || (bytes && other.bytes && *bytes == *other.bytes);
        return key == other.key && length == other.length && tag == other.tag && sameBytes;
    }
};

// Everything one calibration file can carry, grouped into the format's eight sets.
struct TESSELLA_EXPORT CalSets {
    Header header;

    // FactCorrHigh, FactCorrLow
    std::array<Triple, 3> factoryCorr{};
    std::array<std::uint16_t, 3> factoryLow{};

    // HighGray
    std::string batchId;
    TileId tileId;
    ProcInfo procInfo;
    float brightness = 0.0f;
    std::array<Pair, 3> defaultGamut{};
    Pair defaultWhite{};
    std::array<Triple, 3> idealGamut{};
    std::vector<MeasTemp> measTemps;
    std::vector<PixelXYZ> pixelsXYZ;
    std::vector<OlutXYY> olutXYY;
    std::string calTemplate;

    // LowGray
    std::vector<LowGray> lowGray;
    std::uint8_t lowGray16 = 0;

    // OLUT
    std::string olutId;
    ProcInfo olutProcInfo;
    std::array<Pair, 3> olutGamut{};
    Pair olutWhite{};
    std::vector<OlutDat> olutDat;
    std::array<Triple, 5> olutRef{};
    std::vector<std::uint16_t> olutIShaper;
    std::vector<std::uint16_t> olutOShaper;

    // BadPixels
    std::vector<BadPixel> badPixels;

    // FactCorrMesh
    MeshCorr mesh;

    std::vector<StoredRecord> stored;

    // Resets every field of one set (and drops the stored records of its keys).
    void clearSet(unsigned set);

    bool operator==(const CalSets&) const = default;
};

} // namespace CorvaneCal
