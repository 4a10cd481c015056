#pragma once

#include <zlib.h>

#include <array>
#include <bit>
#include <cstdint>
#include <string>
#include <vector>

// Builds CorvaneCal byte images straight from the format's layout tables, independently of the
// library's writer; the CRC comes from zlib.
namespace KlvImage {

namespace Key {
constexpr std::uint32_t CalBatchID = 0x00000001;
constexpr std::uint32_t CalProcInfo = 0x00000005;
constexpr std::uint32_t LowGray16 = 0x00020002;
constexpr std::uint32_t PixelsXYZ = 0x00030001;
constexpr std::uint32_t OLUTDat = 0x00030006;
constexpr std::uint32_t MeasTemp = 0x00010010;
constexpr std::uint32_t xBlueContrib = 0x00010001;
constexpr std::uint32_t CalMeshCorr = 0x00070001;
constexpr std::uint32_t CalSet = 0xFFFF0001;
constexpr std::uint32_t EndTag = 0xFFFFFFFF;
} // namespace Key

inline void u8(std::string& s, unsigned v) { s.push_back(char(v & 0xFF)); }
inline void u16(std::string& s, unsigned v)
{
    u8(s, v >> 8);
    u8(s, v);
}
inline void u32(std::string& s, std::uint32_t v)
{
    u16(s, v >> 16);
    u16(s, v & 0xFFFF);
}
inline void f32(std::string& s, float v) { u32(s, std::bit_cast<std::uint32_t>(v)); }

inline std::string record(std::uint32_t key, const std::string& payload, unsigned bank = 0)
{
    std::string r;
    u32(r, key);
    u32(r, std::uint32_t(payload.size()));
    u8(r, bank);
    return r + payload;
}

inline std::string calSet(unsigned set)
{
    std::string p;
    u16(p, set);
    return record(Key::CalSet, p);
}

inline std::uint32_t zlibCrc(const std::string& bytes)
{
    return std::uint32_t(crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), uInt(bytes.size())));
}

struct Header {
    unsigned pixelFormat = 3;
    unsigned width = 0;
    unsigned height = 0;
    std::string extra;  // header bytes beyond the nine known ones
};

// A whole file: header, the records and the CRC.
inline std::string file(const Header& header, const std::string& records)
{
    std::string s;
    u32(s, 0xCD57AB34);
    u32(s, std::uint32_t(2 + 9 + header.extra.size() + 4 + records.size()));
    u16(s, unsigned(9 + header.extra.size()));
    u32(s, 1);
    u8(s, header.pixelFormat);
    u16(s, header.width);
    u16(s, header.height);
    s += header.extra;
    u32(s, std::uint32_t(records.size()));
    s += records;
    u32(s, zlibCrc(s));
    return s;
}

// The mesh record payload straight from the format's table.
inline std::string meshPayload(const std::string& name, unsigned width, unsigned height,
                        const std::vector<std::vector<unsigned>>& channels, const std::array<float, 5>& floats)
{
    std::string p;
    u16(p, unsigned(name.size()));
    p += name;
    u32(p, width);
    u32(p, height);
    for (float f : floats)
        f32(p, f);
    f32(p, floats[4]);
    u32(p, 0);
    for (const auto& values : channels) {
        u8(p, values.empty() ? 0 : 1);
        for (unsigned v : values)
            u16(p, v);
    }
    return p;
}

// Replaces the CRC of a file after its bytes were altered.
inline std::string resealed(std::string bytes)
{
    bytes.resize(bytes.size() - 4);
    u32(bytes, zlibCrc(bytes));
    return bytes;
}

} // namespace KlvImage
