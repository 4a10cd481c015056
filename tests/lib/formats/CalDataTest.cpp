#include "formats/CalData.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using Cal::Data;
using Cal::EmitterReading;

// A width x height grid of `channels` channels, every reading (0.3, 0.3, 1).
Data uniform(std::size_t width, std::size_t height, std::size_t channels = 3)
{
    Data data;
    for (std::size_t ch = 0; ch < channels; ++ch)
        data.addChannel(Vector2D<EmitterReading>(width, height, EmitterReading{0.3f, 0.3f, 1.0f, 0.0f}));
    return data;
}

float luminance(const Data& data, std::size_t row, std::size_t column, std::size_t channel = 0)
{
    return data.grid[row][column][channel].Y;
}

std::string stderrOf(const std::function<void()>& fn)
{
    testing::internal::CaptureStderr();
    fn();
    return testing::internal::GetCapturedStderr();
}

} // namespace

TEST(CalData, AddChannelSetsTheBlockAndRefusesOtherShapes)
{
    Data data;
    data.addChannel(Vector2D<EmitterReading>(4, 3));
    EXPECT_EQ(data.moduleWidth, 4u);
    EXPECT_EQ(data.moduleHeight, 3u);
    EXPECT_EQ(data.channels(), 1u);
    data.addChannel(Vector2D<EmitterReading>(4, 3));
    EXPECT_EQ(data.channels(), 2u);

    const Data before = data;
    const Vector2D<EmitterReading> ragged{std::vector<EmitterReading>(4), std::vector<EmitterReading>(3),
                                          std::vector<EmitterReading>(4)};
    for (const auto& wrong : {Vector2D<EmitterReading>(3, 3), ragged}) {
        EXPECT_EQ(stderrOf([&] { data.addChannel(wrong); }), "Cal::Data::addChannel: incorrect size!\n");
        EXPECT_EQ(data.channels(), 2u);
        EXPECT_EQ(data.grid.size(), before.grid.size());
    }
}

TEST(CalData, AddYChannelHoldsOnlyLuminance)
{
    Data data;
    data.addYChannel(Vector2D<float>{{1.0f, 2.0f}});
    ASSERT_EQ(data.width(), 2u);
    const EmitterReading r = data.grid[0][1][0];
    EXPECT_EQ(r.x, 0.0f);
    EXPECT_EQ(r.y, 0.0f);
    EXPECT_EQ(r.Y, 2.0f);
    EXPECT_EQ(r.wavelength, 0.0f);
}

TEST(CalData, FixMultipliesOneChannelAndChecksItsInput)
{
    Data data = uniform(2, 1);
    data.fix(1, Vector2D<float>{{2.0f, 3.0f}});
    EXPECT_FLOAT_EQ(luminance(data, 0, 1, 1), 3.0f);
    EXPECT_FLOAT_EQ(luminance(data, 0, 1, 0), 1.0f);

    EXPECT_EQ(stderrOf([&] { data.fix(0, Vector2D<float>(3, 1, 2.0f)); }), "Cal::Data::fix: incorrect size!\n");
    EXPECT_THAT(stderrOf([&] { data.fix(7, Vector2D<float>(2, 1, 2.0f)); }), testing::HasSubstr("invalid channel"));
    EXPECT_FLOAT_EQ(luminance(data, 0, 0, 0), 1.0f);
}

TEST(CalData, FeatherDimsModuleEdges)
{
    Data data = uniform(8, 8);
    data.feather(8, 8, 2, 2, 0.5f, 0.5f, 0.5f);
    struct Case {
        std::size_t column, row;
        float factor;
    };
    for (const Case c : {Case{0, 4, 0.5f}, Case{1, 4, 0.75f}, Case{2, 4, 1.0f}, Case{5, 3, 1.0f}, Case{7, 4, 0.5f},
                         Case{4, 0, 0.5f}, Case{0, 0, 0.5f}})
        for (std::size_t ch = 0; ch < 3; ++ch)
            EXPECT_FLOAT_EQ(luminance(data, c.row, c.column, ch), c.factor) << c.column << "," << c.row;
}

TEST(CalData, GradientRampsTheInnerPartOfEveryModule)
{
    Data data = uniform(20, 10);
    data.gradient(10, 10, 1, 1, false, 1.0f, 0.5f, 1.0f, 1.0f, 1.0f, 1.0f);
    for (std::size_t x0 : {0u, 10u}) {
        for (std::size_t row = 1; row <= 8; ++row) {
            EXPECT_FLOAT_EQ(luminance(data, row, x0 + 1), 1.0f);
            EXPECT_FLOAT_EQ(luminance(data, row, x0 + 5), 0.75f);
            EXPECT_FLOAT_EQ(luminance(data, row, x0 + 5, 1), 1.0f);
            EXPECT_FLOAT_EQ(luminance(data, row, x0 + 0), 1.0f);
            EXPECT_FLOAT_EQ(luminance(data, row, x0 + 9), 1.0f);
        }
        EXPECT_FLOAT_EQ(luminance(data, 0, x0 + 5), 1.0f);
        EXPECT_FLOAT_EQ(luminance(data, 9, x0 + 5), 1.0f);
    }
}

TEST(CalData, ModuleOperationsRefuseBadModulesAndClipPartialOnes)
{
    Data data = uniform(5, 3);
    const Data before = data;
    for (int size : {0, -4}) {
        EXPECT_THAT(stderrOf([&] { data.feather(size, 4, 1, 1, 0.5f, 0.5f, 0.5f); }), testing::HasSubstr("invalid"));
        EXPECT_THAT(stderrOf([&] { data.gradient(4, size, 1, 1, true, 1, 0, 1, 0, 1, 0); }),
                    testing::HasSubstr("invalid"));
    }
    EXPECT_EQ(luminance(data, 1, 1), luminance(before, 1, 1));
    // A module larger than the grid is clipped, edges wider than the module change nothing.
    data.gradient(4, 4, 1, 1, false, 1.0f, 0.0f, 1.0f, 0.0f, 1.0f, 0.0f);
    EXPECT_FLOAT_EQ(luminance(data, 1, 2), 0.5f);
    data.gradient(4, 4, 3, 3, true, 0, 0, 0, 0, 0, 0);
    EXPECT_FLOAT_EQ(luminance(data, 1, 2), 0.5f);
    // Fewer than three channels: only those present change.
    Data single = uniform(2, 2, 1);
    single.feather(2, 2, 1, 1, 0.5f, 0.5f, 0.5f);
    EXPECT_FLOAT_EQ(luminance(single, 0, 0), 0.5f);
}

TEST(CalData, MatrixIdentityKeepsReadingsAndZeroYStaysFinite)
{
    Data data = uniform(2, 2);
    data.grid[1][1][2] = EmitterReading{0.2f, 0.0f, 5.0f, 600.0f};
    data.matrix(Matrix<float, 3>{{1, 0, 0, 0, 1, 0, 0, 0, 1}});
    const EmitterReading r = data.grid[0][0][1];
    EXPECT_NEAR(r.x, 0.3f, 1e-6);
    EXPECT_NEAR(r.y, 0.3f, 1e-6);
    EXPECT_NEAR(r.Y, 1.0f, 1e-6);
    const EmitterReading zero = data.grid[1][1][2];
    EXPECT_TRUE(std::isfinite(zero.x) && std::isfinite(zero.y) && std::isfinite(zero.Y));
    EXPECT_EQ(zero.wavelength, 600.0f);

    // A real transform: doubling X, Y and Z doubles the luminance and keeps the chromaticity.
    data.matrix(Matrix<float, 3>{{2, 0, 0, 0, 2, 0, 0, 0, 2}});
    EXPECT_NEAR(data.grid[0][0][0].Y, 2.0f, 1e-6);
    EXPECT_NEAR(data.grid[0][0][0].x, 0.3f, 1e-6);
}

TEST(CalData, ScaleInterpolatesTheMesh)
{
    struct Case {
        float blend;
        std::array<float, 4> expected;
    };
    for (const Case c : {Case{0.0f, {1.0f, 1.0f, 2.0f, 3.0f}}, Case{1.0f, {1.0f, 1.0f, 1.0f, 3.0f}}}) {
        Data data = uniform(4, 1);
        data.scale(0, Vector2D<float>{{1.0f, 3.0f}}, c.blend);
        for (std::size_t col = 0; col < 4; ++col)
            EXPECT_FLOAT_EQ(luminance(data, 0, col), c.expected[col]) << "blend " << c.blend << " column " << col;
        EXPECT_FLOAT_EQ(luminance(data, 0, 3, 1), 1.0f);
    }
    for (float blend : {0.0f, 0.3f, 1.0f}) {
        Data data = uniform(5, 3);
        data.scale(2, Vector2D<float>(1, 1, 0.5f), blend);
        for (std::size_t r = 0; r < 3; ++r)
            for (std::size_t col = 0; col < 5; ++col)
                EXPECT_FLOAT_EQ(luminance(data, r, col, 2), 0.5f);
    }
}

TEST(CalData, ScaleRefusesUnusableMeshes)
{
    Data data = uniform(3, 3);
    for (const auto& mesh : {Vector2D<float>(), Vector2D<float>(0, 2), Vector2D<float>{{1.0f, 2.0f}, {1.0f}}})
        EXPECT_EQ(stderrOf([&] { data.scale(0, mesh, 0.0f); }), "Cal::Data::scale: incorrect size!\n");
    EXPECT_THAT(stderrOf([&] { data.scale(3, Vector2D<float>(1, 1, 2.0f), 0.0f); }), testing::HasSubstr("channel"));
    EXPECT_FLOAT_EQ(luminance(data, 1, 1), 1.0f);
}

TEST(CalData, SliceAndSubset)
{
    Data data = uniform(4, 3);
    data.grid[2][3][1].Y = 9.0f;
    data.minReadings.resize(3);
    const Vector2D<float> green = data.slice(1);
    ASSERT_EQ(green.width(), 4u);
    ASSERT_EQ(green.height(), 3u);
    EXPECT_EQ(green[2][3], 9.0f);
    EXPECT_EQ(data.slice(5), Vector2D<float>(4, 3, 0.0f));

    const Data inside = data.subset(2, 1, 2, 2);
    EXPECT_EQ(inside.width(), 2u);
    EXPECT_EQ(inside.moduleWidth, 2u);
    EXPECT_EQ(inside.grid[1][1][1].Y, 9.0f);
    EXPECT_TRUE(inside.minReadings.empty());

    const Data clipped = data.subset(3, 2, 10, 10);
    EXPECT_EQ(clipped.width(), 1u);
    EXPECT_EQ(clipped.height(), 1u);
    EXPECT_EQ(clipped.grid[0][0][1].Y, 9.0f);
    EXPECT_EQ(data.subset(9, 0, 2, 2).height(), 0u);
    EXPECT_EQ(data.subset(1, 1, std::numeric_limits<std::uint64_t>::max(), 1).width(), 3u);
}

TEST(CalData, TotalsAverageXYZOverWindowsAndDiscs)
{
    Data data = uniform(3, 3);
    // (0.3, 0.3, 1) is X = 1, Y = 1, Z = 4/3.
    const auto [box, boxCount] = data.totals(0, 0, 1, 1);
    EXPECT_EQ(boxCount, 4u);
    ASSERT_EQ(box.height(), 3u);
    EXPECT_NEAR(box[2][0], 1.0, 1e-6);
    EXPECT_NEAR(box[2][1], 1.0, 1e-6);
    EXPECT_NEAR(box[2][2], 4.0 / 3.0, 1e-6);

    EXPECT_EQ(std::get<1>(data.totals(2, 2, 5, 5)), 1u);
    EXPECT_EQ(std::get<1>(data.totals(1, 1, std::numeric_limits<std::uint64_t>::max(), 0)), 2u);
    EXPECT_EQ(std::get<1>(data.totals(1, 1, 0.0f)), 9u);
    EXPECT_EQ(std::get<1>(data.totals(1, 1, 1.0f)), 5u);
    EXPECT_EQ(std::get<1>(data.totals(0, 0, 1.5f)), 4u);
    EXPECT_EQ(std::get<1>(data.totals(1, 1, 1e30f)), 9u);

    for (const auto& [sums, count] : {Data().totals(0, 0, 1, 1), Data().totals(0, 0, 2.0f), data.totals(5, 5, 1, 1)}) {
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(sums, Vector2D<float>(3, 3, 0.0f));
    }
}
