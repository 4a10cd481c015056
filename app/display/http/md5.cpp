#include "display/http/md5.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

namespace http_client {
namespace {

constexpr std::size_t kBlockSize = 64;
constexpr std::size_t kLengthOffset = 56; // where the 64-bit bit count starts in the last block

// Per-step constants: floor(abs(sin(i + 1)) * 2^32).
constexpr std::array<std::uint32_t, 64> kSines{
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

// Left-rotation amounts, four per round.
constexpr std::array<int, 16> kShifts{7, 12, 17, 22, 5, 9, 14, 20, 4, 11, 16, 23, 6, 10, 15, 21};

std::uint32_t loadLittleEndian(const std::uint8_t* bytes)
{
    return std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 | std::uint32_t(bytes[2]) << 16
           | std::uint32_t(bytes[3]) << 24;
}

// One of the 64 steps, with everything that depends on its number fixed at compile time: a
// Digest answer hashes a few blocks per request, and a loop that picks the round's function and
// the word's index at run time takes several times as long.
template <std::size_t Step>
void md5Step(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
             const std::array<std::uint32_t, 16>& x)
{
    constexpr std::size_t kRound = Step / 16;
    std::uint32_t f = 0;
    std::size_t index = 0;
    if constexpr (kRound == 0) {
        f = d ^ (b & (c ^ d)); // (b & c) | (~b & d)
        index = Step;
    } else if constexpr (kRound == 1) {
        f = c ^ (d & (b ^ c)); // (b & d) | (c & ~d)
        index = (5 * Step + 1) % 16;
    } else if constexpr (kRound == 2) {
        f = b ^ c ^ d;
        index = (3 * Step + 5) % 16;
    } else {
        f = c ^ (b | ~d);
        index = (7 * Step) % 16;
    }
    a = b + std::rotl(a + f + kSines[Step] + x[index], kShifts[kRound * 4 + Step % 4]);
}

// Four steps, the chaining words taking each other's places in turn.
template <std::size_t First>
void md5FourSteps(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c, std::uint32_t& d,
                  const std::array<std::uint32_t, 16>& x)
{
    md5Step<First>(a, b, c, d, x);
    md5Step<First + 1>(d, a, b, c, x);
    md5Step<First + 2>(c, d, a, b, x);
    md5Step<First + 3>(b, c, d, a, x);
}

template <std::size_t... Quarter>
void md5Steps(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c, std::uint32_t& d,
              const std::array<std::uint32_t, 16>& x, std::index_sequence<Quarter...>)
{
    (md5FourSteps<4 * Quarter>(a, b, c, d, x), ...);
}

void md5Transform(std::array<std::uint32_t, 4>& words, const std::uint8_t* block)
{
    constexpr std::size_t kSteps = 64;
    std::array<std::uint32_t, 16> x{};
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = loadLittleEndian(block + 4 * i);

    std::uint32_t a = words[0], b = words[1], c = words[2], d = words[3];
    md5Steps(a, b, c, d, x, std::make_index_sequence<kSteps / 4>());
    words[0] += a;
    words[1] += b;
    words[2] += c;
    words[3] += d;
}

} // namespace

void md5Update(Md5State& state, std::string_view bytes)
{
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    std::size_t size = bytes.size();
    state.total += size;

    if (state.buffered > 0) {
        const std::size_t taken = std::min(size, kBlockSize - state.buffered);
        std::memcpy(state.block.data() + state.buffered, data, taken);
        state.buffered += taken;
        data += taken;
        size -= taken;
        if (state.buffered < kBlockSize)
            return;
        md5Transform(state.words, state.block.data());
        state.buffered = 0;
    }
    for (; size >= kBlockSize; data += kBlockSize, size -= kBlockSize)
        md5Transform(state.words, data);
    if (size > 0) {
        std::memcpy(state.block.data(), data, size);
        state.buffered = size;
    }
}

Md5Digest md5Final(Md5State& state)
{
    const std::uint64_t bitCount = state.total * 8;

    state.block[state.buffered++] = 0x80;
    if (state.buffered > kLengthOffset) {
        std::memset(state.block.data() + state.buffered, 0, kBlockSize - state.buffered);
        md5Transform(state.words, state.block.data());
        state.buffered = 0;
    }
    std::memset(state.block.data() + state.buffered, 0, kLengthOffset - state.buffered);
    for (std::size_t i = 0; i < 8; ++i)
        state.block[kLengthOffset + i] = std::uint8_t(bitCount >> (8 * i));
    md5Transform(state.words, state.block.data());
    state.buffered = 0;

    Md5Digest digest{};
    for (std::size_t i = 0; i < 16; ++i)
        digest[i] = std::uint8_t(state.words[i / 4] >> (8 * (i % 4)));
    return digest;
}

Md5HexDigits md5HexDigits(const Md5Digest& digest)
{
    static constexpr char kHexDigits[] = "0123456789abcdef";
    Md5HexDigits digits{};
    for (std::size_t i = 0; i < digest.size(); ++i) {
        digits[2 * i] = kHexDigits[digest[i] >> 4];
        digits[2 * i + 1] = kHexDigits[digest[i] & 0x0f];
    }
    return digits;
}

std::string md5Hex(const Md5Digest& digest)
{
    return std::string(view(md5HexDigits(digest)));
}

std::string md5Hex(std::string_view bytes)
{
    Md5State state;
    md5Update(state, bytes);
    return md5Hex(md5Final(state));
}

} // namespace http_client
