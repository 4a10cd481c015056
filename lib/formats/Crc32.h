#pragma once

#include <TessellaExport.h>

#include <array>
#include <cstddef>
#include <cstdint>

// The CRC-32 of IEEE 802.3 (the zlib and PNG value), shared by the calibration files and the
// receiver client's data push. The caller owns the register: start it at kCrc32Initial and
// complement it when done.
constexpr std::uint32_t kCrc32Initial = 0xFFFFFFFFu;

using CrcTable = std::array<std::uint32_t, 256>;

TESSELLA_EXPORT void crcMakeTable(CrcTable& table, unsigned width, std::uint32_t polynomial, bool reflected);
TESSELLA_EXPORT void crc32Update(std::uint32_t& crcRegister, const void* bytes, std::size_t count);
