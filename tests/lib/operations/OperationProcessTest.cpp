#include "OperationFixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cmath>
#include <string>

using namespace OperationFixture;

namespace {

std::string stderrOf(const std::function<void()>& fn)
{
    testing::internal::CaptureStderr();
    fn();
    return testing::internal::GetCapturedStderr();
}

// Expects every cell of the 4 x 4 data to be intact in shape, with each channel's Y exactly as given.
void expectEveryCell(const Cal::Data& data, const std::array<float, 3>& luminance)
{
    ASSERT_EQ(data.height(), 4u);
    for (std::size_t r = 0; r < 4; ++r) {
        ASSERT_EQ(data.grid[r].size(), 4u);
        for (std::size_t c = 0; c < 4; ++c) {
            ASSERT_EQ(data.grid[r][c].size(), 3u);
            for (std::size_t ch = 0; ch < 3; ++ch) {
                EXPECT_EQ(data.grid[r][c][ch].Y, luminance[ch]) << "cell " << r << "," << c << " channel " << ch;
                EXPECT_EQ(data.grid[r][c][ch].x, 0.3f);
            }
        }
    }
}

// ---- Scale picks a grid per channel -------------------------------------------------------

struct ScaleCase {
    const char* name;
    const char* object;
    std::array<float, 3> luminance;
};

const ScaleCase kScaleCases[] = {
    {"TemplateOnEveryChannel", R"({"template":[[2]],"spread":0})", {2.0f, 2.0f, 2.0f}},
    {"TemplateOfAnotherSize", R"({"template":[[4,4],[4,4],[4,4]],"spread":0.3})", {4.0f, 4.0f, 4.0f}},
    {"ThreeGridsOneEach", R"({"points":[[[2]],[[3]],[[5]]],"spread":1})", {2.0f, 3.0f, 5.0f}},
    {"TwoGridsFirstAlsoOnBlue", R"({"points":[[[2]],[[3]]],"spread":0})", {2.0f, 3.0f, 2.0f}},
    {"EmptyGridLeavesItsChannels", R"({"points":[null,[[3]]],"spread":0})", {1.0f, 3.0f, 1.0f}},
    {"EmptyTemplateRowsLeaveAll", R"({"template":[[],[]],"spread":0})", {1.0f, 1.0f, 1.0f}},
};

class ScaleProcess : public testing::TestWithParam<ScaleCase> {};

TEST_P(ScaleProcess, ScalesEachChannelByItsGrid)
{
    ScaleOperation operation;
    ASSERT_TRUE(operation.load(json::parse(GetParam().object)));
    Cal::Data data = tinyData();
    operation.process(data);
    expectEveryCell(data, GetParam().luminance);
}

INSTANTIATE_TEST_SUITE_P(Meshes, ScaleProcess, testing::ValuesIn(kScaleCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ScaleProcess, NoGridLeavesTheDataAndSaysSo)
{
    ScaleOperation operation;
    ASSERT_TRUE(operation.load(json::parse(R"({"points":null,"spread":0})")));
    Cal::Data data = tinyData();
    EXPECT_EQ(stderrOf([&] { operation.process(data); }), "ScaleOperation::process: no mesh!\n");
    expectEveryCell(data, {1.0f, 1.0f, 1.0f});
}

// ---- Adjust scales every cell, whatever module size the data carries -----------------------

struct ModuleSize {
    const char* name;
    std::uint64_t width, height;
};

const ModuleSize kDataModules[] = {
    {"TwoByTwo", 2, 2},
    {"Zero", 0, 0},
    {"ZeroHeight", 2, 0},
    {"BeyondInt", std::uint64_t(1) << 40, std::uint64_t(INT_MAX) + 1},
    {"NotDividing", 3, 3},
    {"LargerThanTheGrid", 1000, 1000},
};

class AdjustProcess : public testing::TestWithParam<ModuleSize> {};

TEST_P(AdjustProcess, MultipliesEveryCellByExactlyItsFactor)
{
    AdjustOperation operation;
    ASSERT_TRUE(operation.load(adjustObject()));
    Cal::Data data = tinyData();
    data.moduleWidth = GetParam().width;
    data.moduleHeight = GetParam().height;
    EXPECT_EQ(stderrOf([&] { operation.process(data); }), "");
    expectEveryCell(data, {0.5f, 2.0f, 0.25f});
}

INSTANTIATE_TEST_SUITE_P(DataModules, AdjustProcess, testing::ValuesIn(kDataModules),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AdjustProcess, EmptyDataStaysEmptyWithoutComplaint)
{
    AdjustOperation operation;
    Cal::Data data;
    EXPECT_EQ(stderrOf([&] { operation.process(data); }), "");
    EXPECT_TRUE(data.grid.empty());
}

// ---- Feather and gradient pass their fields on in order ----------------------------------

TEST(ModuleOperationProcess, FeatherDimsColumnsTowardsEachColoursFloor)
{
    FeatherOperation operation;
    ASSERT_TRUE(operation.load(featherObject())); // one 4 x 4 module, edges 2 wide and 0 high
    Cal::Data data = tinyData();
    operation.process(data);
    const std::array<std::array<float, 3>, 4> expected = {{
        {0.5f, 0.25f, 1.0f},
        {0.75f, 0.625f, 1.0f},
        {0.75f, 0.625f, 1.0f},
        {0.5f, 0.25f, 1.0f},
    }};
    for (std::size_t r = 0; r < 4; ++r)
        for (std::size_t c = 0; c < 4; ++c)
            for (std::size_t ch = 0; ch < 3; ++ch)
                EXPECT_FLOAT_EQ(data.grid[r][c][ch].Y, expected[c][ch]) << r << "," << c << " channel " << ch;
}

TEST(ModuleOperationProcess, GradientRampsTheInnerColumnsFromBeginToEnd)
{
    GradientOperation operation;
    ASSERT_TRUE(operation.load(gradientObject())); // one 4 x 4 module, edges 1 wide and 0 high
    Cal::Data data = tinyData();
    operation.process(data);
    const std::array<std::array<float, 3>, 4> expected = {{
        {1.0f, 1.0f, 1.0f},
        {1.0f, 2.0f, 1.0f},
        {0.75f, 3.0f, 1.0f},
        {1.0f, 1.0f, 1.0f},
    }};
    for (std::size_t r = 0; r < 4; ++r)
        for (std::size_t c = 0; c < 4; ++c)
            for (std::size_t ch = 0; ch < 3; ++ch)
                EXPECT_FLOAT_EQ(data.grid[r][c][ch].Y, expected[c][ch]) << r << "," << c << " channel " << ch;

    json vertical = gradientObject();
    vertical["vertical"] = true;
    ASSERT_TRUE(operation.load(vertical));
    Cal::Data rows = tinyData();
    operation.process(rows);
    EXPECT_FLOAT_EQ(rows.grid[1][1][1].Y, 2.5f); // (4 - 2) * 1/4 + 2: the ramp now runs down the rows
}

// ---- Untrusted module and edge sizes end promptly and stay inside the grid ---------------

struct UntrustedSize {
    const char* name;
    int moduleWidth, moduleHeight, edgeWidth, edgeHeight;
    bool refused; // the data's guards turn the operation down and change nothing
};

const UntrustedSize kUntrustedSizes[] = {
    {"ZeroModule", 0, 0, 10, 10, true},
    {"ZeroModuleWidth", 0, 2, 1, 1, true},
    {"NegativeModule", -2, -2, 1, 1, true},
    {"NegativeEdges", 2, 2, -1, -5, true},
    {"Defaults", Operation::kDefaultModuleWidth, Operation::kDefaultModuleHeight, 10, 10, false},
    {"NotDividing", 3, 3, 1, 1, false},
    {"LargestModule", INT_MAX, INT_MAX, 1, 1, false},
    {"LargestEdges", 2, 2, INT_MAX, INT_MAX, false},
    {"EdgesAtHalfTheModule", 2, 2, 1, 1, false},
};

class UntrustedModule : public testing::TestWithParam<UntrustedSize> {
protected:
    // Loads the sizes into a complete object of the operation's kind, as a document would.
    template <typename T>
    void run(json object)
    {
        const UntrustedSize& size = GetParam();
        object["moduleWidth"] = size.moduleWidth;
        object["moduleHeight"] = size.moduleHeight;
        object["edgeWidth"] = size.edgeWidth;
        object["edgeHeight"] = size.edgeHeight;
        T operation;
        ASSERT_TRUE(operation.load(object));
        Cal::Data data = tinyData();
        const std::string complaint = stderrOf([&] { operation.process(data); });
        if (size.refused) {
            EXPECT_THAT(complaint, testing::HasSubstr("invalid module size"));
            expectEveryCell(data, {1.0f, 1.0f, 1.0f});
            return;
        }
        ASSERT_EQ(data.height(), 4u);
        for (const auto& row : data.grid)
            for (const auto& cell : row)
                for (const auto& reading : cell)
                    EXPECT_TRUE(std::isfinite(reading.Y));
    }
};

TEST_P(UntrustedModule, FeatherIsRefusedOrStaysInsideTheGrid)
{
    run<FeatherOperation>(featherObject());
}

TEST_P(UntrustedModule, GradientIsRefusedOrStaysInsideTheGrid)
{
    run<GradientOperation>(gradientObject());
}

INSTANTIATE_TEST_SUITE_P(Sizes, UntrustedModule, testing::ValuesIn(kUntrustedSizes),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
