#pragma once

#include <cstdint>

// Keys, sets, layout constants and diagnostics of the CorvaneCal key-length-value format,
// shared by the reader and the writer.
namespace CorvaneCal {

constexpr std::uint32_t kMagic = 0xCD57AB34u;
constexpr std::uint16_t kHeaderLength = 9;      // header word, pixel format, width, height
constexpr std::uint32_t kRecordHeaderSize = 9;  // key, length, bank
constexpr std::uint32_t kMaxUnknownRecord = 0x10000;
constexpr std::uint32_t kMaxStringLength = 0x10000;
constexpr unsigned kChannelsColour = 3;         // cap of colorimetric payloads (c3)
constexpr unsigned kChannelsMax = 5;            // cap of the lookup table and the mesh (c5)
constexpr unsigned kMeshWords = 7;

namespace Key {
constexpr std::uint32_t CalEmpty = 0x00000000u;
constexpr std::uint32_t CalBatchID = 0x00000001u;
constexpr std::uint32_t CalTileID = 0x00000004u;
constexpr std::uint32_t CalProcInfo = 0x00000005u;
constexpr std::uint32_t CalBrightness = 0x00000006u;
constexpr std::uint32_t xBlueContrib = 0x00010001u;
constexpr std::uint32_t DefaultGamut = 0x00010002u;
constexpr std::uint32_t DefaultWhite = 0x00010003u;
constexpr std::uint32_t IdealGamut = 0x00010004u;
constexpr std::uint32_t MeasTemp = 0x00010010u;
constexpr std::uint32_t DriverPar = 0x00010012u;
constexpr std::uint32_t xIdealCache = 0x00020001u;
constexpr std::uint32_t LowGray16 = 0x00020002u;
constexpr std::uint32_t PixelsXYZ = 0x00030001u;
constexpr std::uint32_t xPixelsXYY = 0x00030002u;
constexpr std::uint32_t xPixelXYZCmd = 0x00030003u;
constexpr std::uint32_t OLUTXYY = 0x00030004u;
constexpr std::uint32_t LowGray8 = 0x00030005u;
constexpr std::uint32_t OLUTDat = 0x00030006u;
constexpr std::uint32_t OLUTRef = 0x00030007u;
constexpr std::uint32_t CalTemplate = 0x00030008u;
constexpr std::uint32_t OLUTIShaper = 0x00030009u;
constexpr std::uint32_t OLUTOShaper = 0x0003000Au;
constexpr std::uint32_t OLUTGamut = 0x0003000Bu;
constexpr std::uint32_t OLUTWhite = 0x0003000Cu;
constexpr std::uint32_t OLUTProcInfo = 0x0003000Du;
constexpr std::uint32_t OLUTID = 0x0003000Eu;
constexpr std::uint32_t xSeamCorr = 0x00030010u;
constexpr std::uint32_t CalFactoryCorr = 0x00040001u;
constexpr std::uint32_t xPixelXYZMod = 0x00040002u;
constexpr std::uint32_t xPixAverage = 0x00050001u;
constexpr std::uint32_t xIdealTarget = 0x00050002u;
constexpr std::uint32_t xBankMeta = 0x00050003u;
constexpr std::uint32_t CalFactoryLow = 0x00050004u;
constexpr std::uint32_t BadPixels = 0x00060000u;
constexpr std::uint32_t CalMeshCorr = 0x00070001u;
constexpr std::uint32_t CalSet = 0xFFFF0001u;
constexpr std::uint32_t EndTag = 0xFFFFFFFFu;
} // namespace Key

// Set numbers. Sets 0 to 7 hold data and have a bit in the writer's mask.
namespace Set {
constexpr unsigned HighGray = 0;
constexpr unsigned Driver = 1;
constexpr unsigned LowGray = 2;
constexpr unsigned OLUT = 3;
constexpr unsigned FactCorrHigh = 4;
constexpr unsigned FactCorrLow = 5;
constexpr unsigned BadPixels = 6;
constexpr unsigned FactCorrMesh = 7;
constexpr unsigned DataSets = 8;
constexpr unsigned Control = 9;
constexpr unsigned Deleted = 10;
constexpr unsigned None = 11;
} // namespace Set

constexpr std::uint64_t setBit(unsigned set) { return set < 64 ? std::uint64_t(1) << set : 0; }

// The key's name as printed ("Unknown" keys have none) and its set.
const char* keyName(std::uint32_t key);
unsigned keySet(std::uint32_t key);
// The set's name as printed, or "???".
const char* setName(unsigned set);
// Pixel format to channel count; 0 when the format is invalid.
unsigned channelsOfPixelFormat(std::uint32_t pixelFormat);

// Numbered diagnostics on the standard error stream: "*** ERROR L<line>: ...".
enum class Severity { Error, Warning, Info };
void report(Severity severity, int line, const char* format, ...) __attribute__((format(printf, 3, 4)));

// Big-endian fields.
inline std::uint16_t loadBig16(const std::uint8_t* p) { return std::uint16_t(p[0] << 8 | p[1]); }
inline std::uint32_t loadBig32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}
inline std::uint64_t loadBig64(const std::uint8_t* p) { return std::uint64_t(loadBig32(p)) << 32 | loadBig32(p + 4); }

} // namespace CorvaneCal
