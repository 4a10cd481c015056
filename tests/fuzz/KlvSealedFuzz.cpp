#include "formats/CorvaneCalFileHandler.h"
#include "formats/Crc32.h"

#include <unistd.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

// Any bytes, made into a file whose framing holds: the magic, the header length, the total and
// record-area lengths, every record length and the CRC are repaired to fit the bytes, so that
// mutations reach the record decoding behind the checksum. Then the validator's dump, both
// readers, and the round trips: a mesh or readings that were read must be writable, and reading
// what was written must give the same mesh (the same shape of readings).
namespace {

constexpr std::uint32_t kMagic = 0xCD57AB34;
constexpr std::size_t kMagicAt = 0;
constexpr std::size_t kTotalLengthAt = 4;
constexpr std::size_t kHeaderLengthAt = 8;
constexpr std::size_t kHeaderAt = 10;
constexpr std::size_t kKnownHeaderLength = 9;
constexpr std::size_t kRecordHeaderLength = 9;
constexpr std::size_t kRecordLengthAt = 4;  // within a record header
constexpr std::size_t kLengthFieldSize = 4;

std::uint32_t load32(const std::string& s, std::size_t at)
{
    return std::uint32_t(std::uint8_t(s[at])) << 24 | std::uint32_t(std::uint8_t(s[at + 1])) << 16
           | std::uint32_t(std::uint8_t(s[at + 2])) << 8 | std::uint32_t(std::uint8_t(s[at + 3]));
}

void store32(std::string& s, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        s[at + std::size_t(i)] = char(v >> (24 - 8 * i));
}

void store16(std::string& s, std::size_t at, unsigned v)
{
    s[at] = char(v >> 8);
    s[at + 1] = char(v);
}

// The input as a file without its CRC; the result is a whole file with its CRC.
std::string sealed(const std::uint8_t* data, std::size_t size)
{
    std::string s(reinterpret_cast<const char*>(data), size);
    const std::size_t minimum = kHeaderAt + kKnownHeaderLength + kLengthFieldSize;
    if (s.size() < minimum)
        s.resize(minimum, '\0');
    store32(s, kMagicAt, kMagic);
    std::size_t headerLength = std::uint8_t(s[kHeaderLengthAt]) << 8 | std::uint8_t(s[kHeaderLengthAt + 1]);
    headerLength = std::max(headerLength, kKnownHeaderLength);
    headerLength = std::min(headerLength, s.size() - kHeaderAt - kLengthFieldSize);
    store16(s, kHeaderLengthAt, unsigned(headerLength));
    const std::size_t areaLengthAt = kHeaderAt + headerLength;
    const std::size_t areaAt = areaLengthAt + kLengthFieldSize;

    // Each record is clipped to the area; bytes too few for another record header are dropped.
    std::size_t at = areaAt;
    while (s.size() - at >= kRecordHeaderLength) {
        const std::size_t room = s.size() - at - kRecordHeaderLength;
        const std::size_t length = std::min<std::size_t>(load32(s, at + kRecordLengthAt), room);
        store32(s, at + kRecordLengthAt, std::uint32_t(length));
        at += kRecordHeaderLength + length;
    }
    s.resize(at);
    store32(s, kTotalLengthAt, std::uint32_t(s.size() - kTotalLengthAt - kLengthFieldSize));
    store32(s, areaLengthAt, std::uint32_t(s.size() - areaAt));

    std::uint32_t crc = kCrc32Initial;
    crc32Update(crc, s.data(), s.size());
    s.resize(s.size() + kLengthFieldSize);
    store32(s, s.size() - kLengthFieldSize, ~crc);
    return s;
}

bool sameBits(float a, float b) { return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b); }

bool sameMesh(const CorvaneCalFile::Mesh& a, const CorvaneCalFile::Mesh& b)
{
    return a.name == b.name && a.grids == b.grids && sameBits(a.windowX, b.windowX) && sameBits(a.windowY, b.windowY)
           && sameBits(a.windowWidth, b.windowWidth) && sameBits(a.windowHeight, b.windowHeight)
           && sameBits(a.factor, b.factor);
}

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "klv_sealed_fuzz: %s\n", what);
    std::abort();
}

void meshRoundTrip(const CorvaneCalFile::Handler& handler, const std::string& bytes)
{
    std::istringstream in(bytes);
    const CorvaneCalFile::Mesh mesh = handler.readStreamMesh(in);
    if (mesh.grids.empty())
        return;  // refused: every mesh that reads has 1 to 5 channels
    std::ostringstream out;
    handler.writeStream(mesh, out);
    if (!out)
        fail("a mesh that was read cannot be written");
    std::istringstream again(out.str());
    handler.validateStream(again);
    again.clear();
    again.seekg(0);
    if (!sameMesh(handler.readStreamMesh(again), mesh))
        fail("a mesh read back from its own bytes differs");
}

void dataRoundTrip(const CorvaneCalFile::Handler& handler, const std::string& bytes)
{
    std::istringstream in(bytes);
    const Cal::Data data = handler.readStream(in);
    if (data.height() == 0 || data.channels() > 3)
        return;  // refused, or more channels than the file keeps readings for
    std::ostringstream out;
    handler.writeStream(data, out);
    if (!out)
        fail("readings that were read cannot be written");
    std::istringstream again(out.str());
    const Cal::Data back = handler.readStream(again);
    if (back.width() != data.width() || back.height() != data.height()
        || (data.width() > 0 && back.channels() != data.channels()))
        fail("readings read back from their own bytes differ in shape");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The validator's dump goes to the standard output; keep the fuzzer's own output readable.
    if (std::freopen("/dev/null", "w", stdout) == nullptr)
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes = sealed(data, size);
    const CorvaneCalFile::Handler handler;
    {
        std::istringstream in(bytes);
        handler.validateStream(in);
    }
    meshRoundTrip(handler, bytes);
    dataRoundTrip(handler, bytes);
    return 0;
}
