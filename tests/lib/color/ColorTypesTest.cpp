#include "color/ColorFunctions.h"
#include "color/ColorRgb24.h"
#include "color/ColorRgb32.h"
#include "color/ColorWrgb32.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>

namespace {

using Color::rgb24_t;
using Color::rgb32_t;
using Color::wrgb32_t;

template <typename T, std::size_t N = sizeof(T)>
std::array<unsigned char, N> bytesOf(const T& value)
{
    std::array<unsigned char, N> bytes{};
    std::memcpy(bytes.data(), &value, N);
    return bytes;
}

} // namespace

TEST(ColorTypes, Rgb32HoldsUnusedRedGreenBlueFromTheTopByteDown)
{
    rgb32_t c(0x12, 0x34, 0x56, 0x78);
    EXPECT_EQ(unsigned(c), 0x78123456u);
    EXPECT_EQ(bytesOf(c), (std::array<unsigned char, 4>{0x56, 0x34, 0x12, 0x78}));
    EXPECT_EQ(c.r(), 0x12);
    EXPECT_EQ(c.unused(), 0x78);

    c.setG(0xAB);
    EXPECT_EQ(unsigned(c), 0x7812AB56u);
    c.setUnused(0x00);
    c.setR(0x01);
    c.setB(0xFE);
    EXPECT_EQ(unsigned(c), 0x0001ABFEu);

    c.setAll(1, 2, 3, 4);
    EXPECT_EQ(unsigned(c), 0x04010203u);
    EXPECT_EQ(unsigned(rgb32_t()), 0u);
}

TEST(ColorTypes, Wrgb32KeepsWhiteInTheTopByte)
{
    wrgb32_t c(0x12, 0x34, 0x56, 0x78);
    EXPECT_EQ(unsigned(c), 0x78123456u);
    EXPECT_EQ(bytesOf(c), (std::array<unsigned char, 4>{0x56, 0x34, 0x12, 0x78}));
    EXPECT_EQ(c.w(), 0x78);
    c.setW(0x9A);
    c.setG(0xAB);
    EXPECT_EQ(unsigned(c), 0x9A12AB56u);
}

TEST(ColorTypes, Rgb24IsRedGreenBlueInMemory)
{
    const rgb24_t c(0x12, 0x34, 0x56);
    EXPECT_EQ(bytesOf(c), (std::array<unsigned char, 3>{0x12, 0x34, 0x56}));
    rgb24_t copy;
    EXPECT_EQ(bytesOf(copy), (std::array<unsigned char, 3>{0, 0, 0}));
    copy = c;
    EXPECT_EQ(bytesOf(copy), bytesOf(c));
}

namespace {

struct NamedColour {
    std::string name;
    rgb24_t narrow;
    rgb32_t wide;
    unsigned value;
};

void PrintTo(const NamedColour& c, std::ostream* os) { *os << c.name; }

class ColorNamed : public ::testing::TestWithParam<NamedColour> {};

} // namespace

TEST_P(ColorNamed, BothFormsCarryTheSameBytes)
{
    const NamedColour& c = GetParam();
    EXPECT_EQ(unsigned(c.wide), c.value);
    EXPECT_EQ(c.narrow.r, (c.value >> 16) & 0xFF);
    EXPECT_EQ(c.narrow.g, (c.value >> 8) & 0xFF);
    EXPECT_EQ(c.narrow.b, c.value & 0xFF);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ColorNamed,
    ::testing::Values(NamedColour{"Black", rgb24_t::Black(), rgb32_t::Black(), 0x000000},
                      NamedColour{"Red", rgb24_t::Red(), rgb32_t::Red(), 0xFF0000},
                      NamedColour{"Green", rgb24_t::Green(), rgb32_t::Green(), 0x00FF00},
                      NamedColour{"Blue", rgb24_t::Blue(), rgb32_t::Blue(), 0x0000FF},
                      NamedColour{"Yellow", rgb24_t::Yellow(), rgb32_t::Yellow(), 0xFFFF00},
                      NamedColour{"Cyan", rgb24_t::Cyan(), rgb32_t::Cyan(), 0x00FFFF},
                      NamedColour{"Magenta", rgb24_t::Magenta(), rgb32_t::Magenta(), 0xFF00FF},
                      NamedColour{"White", rgb24_t::White(), rgb32_t::White(), 0xFFFFFF}),
    [](const ::testing::TestParamInfo<NamedColour>& info) { return info.param.name; });

namespace {

struct BlendCase {
    std::string name;
    unsigned from;
    unsigned to;
    unsigned t;
    unsigned expected;
};

void PrintTo(const BlendCase& c, std::ostream* os) { *os << c.name; }

class ColorBlendTable : public ::testing::TestWithParam<BlendCase> {};

rgb32_t colourOf(unsigned value)
{
    return rgb32_t(std::uint8_t(value >> 16), std::uint8_t(value >> 8), std::uint8_t(value), std::uint8_t(value >> 24));
}

} // namespace

TEST_P(ColorBlendTable, MatchesTheWrappedArithmetic)
{
    const BlendCase& c = GetParam();
    EXPECT_EQ(unsigned(Color::ColorBlend(colourOf(c.from), colourOf(c.to), std::uint8_t(c.t))), c.expected);
    EXPECT_EQ(Color::fade(std::uint8_t(c.from >> 16), std::uint8_t(c.to >> 16), std::uint8_t(c.t)), (c.expected >> 16) & 0xFF);
}

// Downward blends whose product leaves a remainder of 0 or 1 on division by 255 land one above
// the truncated value; others truncate towards zero. Bits 24-31 never survive a blend.
INSTANTIATE_TEST_SUITE_P(
    Table, ColorBlendTable,
    ::testing::Values(BlendCase{"BlackToWhiteHalfway", 0x000000, 0xFFFFFF, 128, 0x808080},
                      BlendCase{"BlackToWhiteFull", 0x000000, 0xFFFFFF, 255, 0xFFFFFF},
                      BlendCase{"WhiteToBlackFullStopsAtOne", 0xFFFFFF, 0x000000, 255, 0x010101},
                      BlendCase{"WhiteToBlackOneStepStaysFull", 0xFFFFFF, 0x000000, 1, 0xFFFFFF},
                      BlendCase{"DownwardTruncatesTowardsZero", 0xC8C8C8, 0x646464, 128, 0x969696},
                      BlendCase{"MixedDirections", 0xFF0000, 0x00FF00, 255, 0x01FF00},
                      BlendCase{"ZeroWeightKeepsTheStartButClearsTheTopByte", 0xAB123456, 0xCDFFFFFF, 0, 0x123456}),
    [](const ::testing::TestParamInfo<BlendCase>& info) { return info.param.name; });

TEST(ColorFunctions, FadeScalesEachChannelAndClearsTheTopByte)
{
    EXPECT_EQ(unsigned(Color::ColorFade(rgb32_t(0xFF, 0x80, 0x01, 0x77), 128)), 0x804000u);
    EXPECT_EQ(unsigned(Color::ColorFade(rgb32_t(0xFF, 0x80, 0x01, 0x77), 255)), 0xFF8001u);
    EXPECT_EQ(unsigned(Color::ColorFade(rgb32_t(0xFF, 0xFF, 0xFF), 0)), 0u);
}

namespace {

struct WheelCase {
    unsigned pos;
    unsigned expected;
};

void PrintTo(const WheelCase& c, std::ostream* os) { *os << "pos " << c.pos; }

class ColorWheelTable : public ::testing::TestWithParam<WheelCase> {};

} // namespace

TEST_P(ColorWheelTable, GivesTheSectorColour)
{
    EXPECT_EQ(unsigned(Color::ColorWheel(std::uint8_t(GetParam().pos))), GetParam().expected);
}

// Both ends of every sector.
INSTANTIATE_TEST_SUITE_P(Table, ColorWheelTable,
                         ::testing::Values(WheelCase{0, 0xFF0000}, WheelCase{42, 0xFFFF00}, WheelCase{43, 0xFAFF00},
                                           WheelCase{85, 0x00FF00}, WheelCase{86, 0x00FF06}, WheelCase{127, 0x00FFFF},
                                           WheelCase{128, 0x00FAFF}, WheelCase{170, 0x0000FF}, WheelCase{171, 0x0600FF},
                                           WheelCase{212, 0xFF00FF}, WheelCase{213, 0xFF00FA}, WheelCase{255, 0xFF0006}),
                         [](const ::testing::TestParamInfo<WheelCase>& info) { return "pos" + std::to_string(info.param.pos); });

TEST(ColorFunctions, RandomIsTheWheelAtTheStandardRandomNumber)
{
    for (unsigned seed : {1u, 7u, 12345u}) {
        std::srand(seed);
        std::array<int, 16> draws{};
        for (int& d : draws)
            d = std::rand();
        std::srand(seed);
        for (int d : draws)
            ASSERT_EQ(unsigned(Color::ColorRandom()), unsigned(Color::ColorWheel(std::uint8_t(d % 256)))) << "seed " << seed;
    }
}
