#include "formats/Crc32.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TESSELLA_CRC_FOLDING 1
#endif

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

// Folds byte by byte and in sliced steps of kSlices bytes with the shared tables.
std::uint32_t updateSliced(std::uint32_t r, const unsigned char* p, std::size_t count)
{
    const SlicedTables& t = sharedTables();
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
    return r;
}

#ifdef TESSELLA_CRC_FOLDING

// Blocks of at least this many bytes are folded with carry-less multiplication.
constexpr std::size_t kFoldBlock = 64;

#define TESSELLA_FOLD_TARGET __attribute__((target("pclmul,sse4.1")))

TESSELLA_FOLD_TARGET inline __m128i load128(const unsigned char* at)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// lane x k (low and high halves, carry-less), plus the next 128 bits.
TESSELLA_FOLD_TARGET inline __m128i fold(__m128i lane, __m128i k, __m128i next)
{
    const __m128i low = _mm_clmulepi64_si128(lane, k, 0x00);
    const __m128i high = _mm_clmulepi64_si128(lane, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(high, low), next);
}

// Carry-less multiplication folding of the reflected CRC-32 (Gopal et al., "Fast CRC
// Computation for Generic Polynomials Using PCLMULQDQ Instruction", Intel 2009): four 128-bit
// lanes are folded 64 bytes at a time, then into one lane, then Barrett-reduced to 32 bits.
// `count` is a multiple of 16 and at least kFoldBlock; takes and returns the register.
TESSELLA_FOLD_TARGET std::uint32_t updateFolded(std::uint32_t r, const unsigned char* p, std::size_t count)
{
    // x^(4*128+32), x^(4*128-32), x^(128+32), x^(128-32), x^64 mod P, and P with mu, bit-reflected.
    const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
    const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
    const __m128i k5 = _mm_set_epi64x(0, 0x0163cd6124);
    const __m128i poly = _mm_set_epi64x(0x01f7011641, 0x01db710641);
    const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);

    __m128i x1 = _mm_xor_si128(load128(p), _mm_cvtsi32_si128(int(r)));
    __m128i x2 = load128(p + 16);
    __m128i x3 = load128(p + 32);
    __m128i x4 = load128(p + 48);
    p += kFoldBlock;
    count -= kFoldBlock;
    for (; count >= kFoldBlock; count -= kFoldBlock, p += kFoldBlock) {
        x1 = fold(x1, k1k2, load128(p));
        x2 = fold(x2, k1k2, load128(p + 16));
        x3 = fold(x3, k1k2, load128(p + 32));
        x4 = fold(x4, k1k2, load128(p + 48));
    }
    x1 = fold(x1, k3k4, x2);
    x1 = fold(x1, k3k4, x3);
    x1 = fold(x1, k3k4, x4);
    for (; count >= 16; count -= 16, p += 16)
        x1 = fold(x1, k3k4, load128(p));

    // 128 bits to 64, then Barrett reduction to 32.
    __m128i x2r = _mm_clmulepi64_si128(x1, k3k4, 0x10);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2r);
    x2r = _mm_srli_si128(x1, 4);
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), k5, 0x00), x2r);
    x2r = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), poly, 0x10);
    x2r = _mm_clmulepi64_si128(_mm_and_si128(x2r, low32), poly, 0x00);
    x1 = _mm_xor_si128(x1, x2r);
    return std::uint32_t(_mm_extract_epi32(x1, 1));
}

bool foldingAvailable()
{
    static const bool available = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return available;
}

#endif

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
    const auto* p = static_cast<const unsigned char*>(bytes);
    std::uint32_t r = crcRegister;
#ifdef TESSELLA_CRC_FOLDING
    if (count >= kFoldBlock && foldingAvailable()) {
        const std::size_t folded = count & ~std::size_t(15);
        r = updateFolded(r, p, folded);
        p += folded;
        count -= folded;
    }
#endif
    crcRegister = updateSliced(r, p, count);
}
