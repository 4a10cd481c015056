#include "formats/Crc32.h"

namespace {

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

const CrcTable& sharedTable()
{
    static const CrcTable table = [] {
        CrcTable t{};
        crcMakeTable(t, 32, 0x04C11DB7u, true);
        return t;
    }();
    return table;
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
    const CrcTable& table = sharedTable();
    const auto* p = static_cast<const unsigned char*>(bytes);
    std::uint32_t r = crcRegister;
    for (std::size_t i = 0; i < count; ++i)
        r = (r >> 8) ^ table[(r ^ p[i]) & 0xFFu];
    crcRegister = r;
}
