#include "formats/Crc32.h"

#include <gtest/gtest.h>

#include <string_view>

namespace {

std::uint32_t crcOf(std::string_view text)
{
    std::uint32_t reg = kCrc32Initial;
    crc32Update(reg, text.data(), text.size());
    return ~reg;
}

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
}
