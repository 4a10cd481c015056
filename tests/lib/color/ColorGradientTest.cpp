#include "color/ColorGradient.h"

#include "color/ColorFunctions.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace {

using Color::Gradient;
using Color::rgb32_t;

std::array<unsigned char, sizeof(Gradient)> bytesOf(const Gradient& g)
{
    std::array<unsigned char, sizeof(Gradient)> bytes{};
    std::memcpy(bytes.data(), &g, sizeof(Gradient));
    return bytes;
}

// Twelve steps at positions 0, 20, ..., 220, each a distinct grey, for the capacity cases.
std::array<Gradient::Step, 12> twelveSteps()
{
    std::array<Gradient::Step, 12> steps{};
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const auto v = std::uint8_t(0x10 * (i + 1));
        steps[i] = Gradient::Step{std::uint8_t(20 * i), rgb32_t(v, v, v)};
    }
    return steps;
}

} // namespace

TEST(ColorGradient, BlendsBetweenNeighbouringSteps)
{
    Gradient g;
    g.addStep(0, rgb32_t::Black());
    g.addStep(255, rgb32_t::White());
    EXPECT_EQ(unsigned(g.getColor(0)), 0x000000u);
    EXPECT_EQ(unsigned(g.getColor(127)), 0x7F7F7Fu);
    EXPECT_EQ(unsigned(g.getColor(255)), 0xFFFFFFu);

    // Outside the first and last positions the end colours hold, top byte and all.
    Gradient inner;
    inner.addStep(100, rgb32_t(0x10, 0x20, 0x30, 0xAA));
    inner.addStep(200, rgb32_t(0x40, 0x50, 0x60, 0xBB));
    EXPECT_EQ(unsigned(inner.getColor(3)), 0xAA102030u);
    EXPECT_EQ(unsigned(inner.getColor(250)), 0xBB405060u);
    EXPECT_EQ(unsigned(inner.getColor(150)), 0x273747u); // t = 127
}

TEST(ColorGradient, EqualPositionsSwitchColourWithoutBlending)
{
    Gradient g;
    g.addStep(0, rgb32_t::Black());
    g.addStep(100, rgb32_t::Red());
    g.addStep(100, rgb32_t::Green());
    g.addStep(255, rgb32_t::Blue());
    EXPECT_EQ(unsigned(g.getColor(99)), 0xFC0000u); // t = 99 * 255 / 100 = 252 towards red
    EXPECT_EQ(unsigned(g.getColor(100)), 0x00FF00u);
    EXPECT_EQ(unsigned(g.getColor(101)), 0x00FF01u); // t = 1: green stays full on the way down
}

TEST(ColorGradient, PositionsAreTakenInStoredOrder)
{
    Gradient g;
    g.addStep(100, rgb32_t::Red());
    g.addStep(50, rgb32_t::Green());
    g.addStep(200, rgb32_t::Blue());
    // At or before the first stored position, however far a later step reaches down.
    EXPECT_EQ(unsigned(g.getColor(30)), 0xFF0000u);
    EXPECT_EQ(unsigned(g.getColor(60)), 0xFF0000u);
    // Between the first and the last, the first stored pair that straddles pos.
    EXPECT_EQ(unsigned(g.getColor(125)), unsigned(Color::ColorBlend(rgb32_t::Green(), rgb32_t::Blue(), 127)));
}

TEST(ColorGradient, HoldsAtMostTenSteps)
{
    const auto steps = twelveSteps();

    Gradient added;
    for (int i = 0; i < Gradient::kMaxSteps; ++i)
        added.addStep(steps[i].position, steps[i].color);
    const auto full = bytesOf(added);
    added.addStep(steps[10].position, steps[10].color);
    EXPECT_EQ(bytesOf(added), full);
    EXPECT_EQ(unsigned(added.getColor(255)), 0xA0A0A0u); // the tenth step's colour, not the eleventh's

    Gradient set;
    set.setSteps(steps.data(), int(steps.size()));
    EXPECT_EQ(bytesOf(set), full);

    Gradient copy;
    copy = set;
    EXPECT_EQ(bytesOf(copy), full);
}

TEST(ColorGradient, WithoutStepsGivesBlack)
{
    const auto steps = twelveSteps();
    Gradient g;
    EXPECT_EQ(unsigned(g.getColor(0)), 0u);
    EXPECT_EQ(unsigned(g.getColor(200)), 0u);

    g.setSteps(steps.data(), 3);
    EXPECT_EQ(unsigned(g.getColor(200)), 0x303030u);
    g.clearSteps();
    EXPECT_EQ(unsigned(g.getColor(200)), 0u);

    g.setSteps(steps.data(), 3);
    g.setSteps(steps.data(), -1);
    EXPECT_EQ(unsigned(g.getColor(200)), 0u);
    g.addStep(10, rgb32_t::Cyan());
    EXPECT_EQ(unsigned(g.getColor(200)), 0x00FFFFu);
}
