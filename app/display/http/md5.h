#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The program's own MD5 (RFC 1321), used for HTTP Digest authentication.
namespace http_client {

struct Md5State
{
    // The chaining words start at the values RFC 1321 gives.
    std::array<std::uint32_t, 4> words{0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};
    std::array<std::uint8_t, 64> block{};
    std::size_t buffered = 0;  // bytes waiting in block
    std::uint64_t total = 0;   // bytes fed so far
};

using Md5Digest = std::array<std::uint8_t, 16>;

// Feeds bytes; every full 64-byte block is hashed at once, the rest waits in the state.
void md5Update(Md5State& state, std::string_view bytes);
// Pads, appends the bit length and returns the digest. The state is spent afterwards.
Md5Digest md5Final(Md5State& state);
// 32 lower-case hexadecimal characters, high nibble first.
using Md5HexDigits = std::array<char, 32>;
Md5HexDigits md5HexDigits(const Md5Digest& digest);
inline std::string_view view(const Md5HexDigits& digits)
{
    return {digits.data(), digits.size()};
}
std::string md5Hex(const Md5Digest& digest);
// The hexadecimal MD5 of bytes in one call.
std::string md5Hex(std::string_view bytes);

} // namespace http_client
