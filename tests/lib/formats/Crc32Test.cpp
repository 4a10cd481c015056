#include "formats/Crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string_view>
#include <thread>
#include <vector>

namespace {

std::uint32_t crcOf(const void* bytes, std::size_t count)
{
    std::uint32_t reg = kCrc32Initial;
    crc32Update(reg, bytes, count);
    return ~reg;
}

std::uint32_t crcOf(std::string_view text) { return crcOf(text.data(), text.size()); }

} // namespace

TEST(Crc32, StandardCheckValue)
{
    EXPECT_EQ(crcOf("123456789"), 0xCBF43926u);
    EXPECT_EQ(crcOf(""), 0x00000000u);
}

TEST(Crc32, UpdatesCompose)
{
    std::uint32_t reg = kCrc32Initial;
    crc32Update(reg, "12345", 5);
    crc32Update(reg, "6789", 4);
    EXPECT_EQ(~reg, 0xCBF43926u);
    crc32Update(reg, "", 0);
    EXPECT_EQ(~reg, 0xCBF43926u);
}

TEST(Crc32, GenericTableGivesTheReflectedPolynomial)
{
    CrcTable table{};
    crcMakeTable(table, 32, 0x04C11DB7u, true);
    EXPECT_EQ(table[0], 0x00000000u);
    EXPECT_EQ(table[1], 0x77073096u);
    EXPECT_EQ(table[128], 0xEDB88320u);
}

// Every length and alignment around the sliced steps, against zlib as the reference.
TEST(Crc32, MatchesZlibOnRandomBuffers)
{
    std::mt19937 rng(1234);
    std::vector<unsigned char> buffer(5000);
    for (auto& b : buffer)
        b = static_cast<unsigned char>(rng());
    for (std::size_t offset = 0; offset < 17; ++offset) {
        for (std::size_t length : {0u, 1u, 7u, 8u, 15u, 16u, 17u, 31u, 33u, 100u, 1024u, 4097u}) {
            const unsigned char* p = buffer.data() + offset;
            const auto expected = std::uint32_t(crc32(0L, p, uInt(length)));
            ASSERT_EQ(crcOf(p, length), expected) << "offset " << offset << " length " << length;
        }
    }
    // Split updates agree with one update.
    std::uint32_t reg = kCrc32Initial;
    crc32Update(reg, buffer.data(), 13);
    crc32Update(reg, buffer.data() + 13, buffer.size() - 13);
    EXPECT_EQ(~reg, std::uint32_t(crc32(0L, buffer.data(), uInt(buffer.size()))));
}

TEST(Crc32, FirstUseFromManyThreadsAgrees)
{
    std::vector<std::uint32_t> results(8);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < results.size(); ++i)
        threads.emplace_back([&results, i] { results[i] = crcOf("123456789"); });
    for (auto& t : threads)
        t.join();
    for (std::uint32_t r : results)
        EXPECT_EQ(r, 0xCBF43926u);
}
