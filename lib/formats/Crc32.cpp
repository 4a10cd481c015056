#include "formats/Crc32.h"

namespace {

// Bytes folded per step of the sliced update: one table per byte position of the step.
constexpr std::size_t kSlices = 16;

std::uint32_t reflect(std::uint32_t value, unsigned bits)
{
    for (unsigned low = 0, high = bits - 1; low < high; ++low, --high) {
        const std::uint32_t lowBit = (value >> low) & 1u;
        const std::uint32_t highBit = (value >> high) & 1u;
        if (lowBit != highBit)
            value ^= (1u << low) | (1u << high);
    }
    return value;
}

// tables[0] is the classic byte-at-a-time table; tables[k][i] is the CRC of byte i followed by
// k zero bytes, so that kSlices bytes are folded with kSlices independent look-ups.
using SlicedTables = std::array<CrcTable, kSlices>;

const SlicedTables& sharedTables()
{
    // Built once, under the runtime's thread-safe initialisation of statics.
    static const SlicedTables tables = [] {
        SlicedTables t{};
        crcMakeTable(t[0], 32, 0x04C11DB7u, true);
        for (std::size_t k = 1; k < kSlices; ++k)
            for (std::size_t i = 0; i < 256; ++i)
                t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFFu];
        return t;
    }();
    return tables;
}

inline std::uint32_t loadLittle32(const unsigned char* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

} // namespace

void crcMakeTable(CrcTable& table, unsigned width, std::uint32_t polynomial, bool reflected)
{
    const std::uint32_t top = 1u << (width - 1);
    const std::uint32_t mask = 0xFFFFFFFFu >> (32 - width);
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t r = (reflected ? reflect(i, 8) : i) << (width - 8);
        for (int bit = 0; bit < 8; ++bit)
            r = (r & top) ? (r << 1) ^ polynomial : (r << 1);
        r &= mask;
        table[i] = reflected ? reflect(r, width) : r;
    }
}

void crc32Update(std::uint32_t& crcRegister, const void* bytes, std::size_t count)
{
    const SlicedTables& t = sharedTables();
    const auto* p = static_cast<const unsigned char*>(bytes);
    std::uint32_t r = crcRegister;
    for (; count >= kSlices; count -= kSlices, p += kSlices) {
        const std::uint32_t a = r ^ loadLittle32(p);
        const std::uint32_t b = loadLittle32(p + 4);
        const std::uint32_t c = loadLittle32(p + 8);
        const std::uint32_t d = loadLittle32(p + 12);
        r = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24]
            ^ t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24]
            ^ t[7][c & 0xFF] ^ t[6][(c >> 8) & 0xFF] ^ t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24]
            ^ t[3][d & 0xFF] ^ t[2][(d >> 8) & 0xFF] ^ t[1][(d >> 16) & 0xFF] ^ t[0][d >> 24];
    }
    for (; count > 0; --count, ++p)
        r = (r >> 8) ^ t[0][(r ^ *p) & 0xFFu];
    crcRegister = r;
}
