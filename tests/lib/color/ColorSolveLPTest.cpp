#include "color/ColorSolveLP.h"

#include <glpk.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>
#include <ostream>
#include <string>
#include <vector>

namespace {

using Color::Objective;
using xyY = Color::CIEXYZ::xyY<double>;
using Indices = std::set<std::uint64_t>;

constexpr double kTolerance = 1e-6;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Broadcast-like primaries with their maximum luminances, and the D65 white point.
constexpr xyY kRed{0.64, 0.33, 30.0};
constexpr xyY kGreen{0.30, 0.60, 60.0};
constexpr xyY kBlue{0.15, 0.06, 10.0};
constexpr xyY kWarmWhite{0.33, 0.35, 40.0};
constexpr xyY kD65{0.3127, 0.3290, 0.0};
constexpr xyY kOutOfGamut{0.70, 0.25, 0.0};

const std::vector<xyY> kRgb{kRed, kGreen, kBlue};
const std::vector<xyY> kRgbw{kRed, kGreen, kBlue, kWarmWhite};

double sum(const std::vector<double>& values)
{
    return std::accumulate(values.begin(), values.end(), 0.0);
}

// The chromaticity of the additive mix, through X = x Y / y and Z = (1 - x - y) Y / y.
xyY mixOf(const std::vector<xyY>& primaries, const std::vector<double>& luminances)
{
    double X = 0.0, Y = 0.0, Z = 0.0;
    for (std::size_t i = 0; i < primaries.size(); ++i) {
        const xyY& p = primaries[i];
        X += p.x * luminances[i] / p.y;
        Y += luminances[i];
        Z += (1.0 - p.x - p.y) * luminances[i] / p.y;
    }
    const double s = X + Y + Z;
    return {X / s, Y / s, Y};
}

// A result must be one luminance per emitter within its range, fixed emitters at their Y, the
// mix at the target chromaticity and, when asked, at the total.
void expectMeetsTarget(const std::vector<xyY>& primaries, const std::vector<double>& result, const xyY& target,
                       const Indices& fixedSet, double totalY)
{
    ASSERT_EQ(result.size(), primaries.size());
    for (std::size_t i = 0; i < primaries.size(); ++i) {
        EXPECT_GE(result[i], -kTolerance) << "emitter " << i;
        EXPECT_LE(result[i], primaries[i].Y + kTolerance) << "emitter " << i;
        if (fixedSet.contains(i)) {
            EXPECT_EQ(result[i], primaries[i].Y) << "fixed emitter " << i;
        }
    }
    if (totalY != 0.0) {
        EXPECT_NEAR(sum(result), totalY, kTolerance);
    }
    if (sum(result) > kTolerance) {
        const xyY mix = mixOf(primaries, result);
        EXPECT_NEAR(mix.x, target.x, kTolerance);
        EXPECT_NEAR(mix.y, target.y, kTolerance);
    }
}

bool someAtItsLimit(const std::vector<xyY>& primaries, const std::vector<double>& result)
{
    for (std::size_t i = 0; i < primaries.size(); ++i)
        if (std::abs(result[i] - primaries[i].Y) < kTolerance)
            return true;
    return false;
}

// GLPK keeps every block it allocates on a list of its own, so a problem that is never deleted
// stays reachable and escapes LeakSanitizer; its block count shows it instead.
int glpkBlocks()
{
    int count = 0;
    glp_mem_usage(&count, nullptr, nullptr, nullptr);
    return count;
}

class ColorSolveLP : public ::testing::Test {
protected:
    void SetUp() override { blocksBefore_ = glpkBlocks(); }
    void TearDown() override { EXPECT_EQ(glpkBlocks(), blocksBefore_) << "a GLPK problem was left behind"; }

private:
    int blocksBefore_ = 0;
};

} // namespace

TEST_F(ColorSolveLP, WithoutTotalMaximisingFillsTheGamutAndMinimisingGivesNoLight)
{
    const auto most = Color::solveLP(kRgb, kD65, {}, {}, Objective::Maximise, 0.0);
    expectMeetsTarget(kRgb, most, kD65, {}, 0.0);
    EXPECT_GT(sum(most), 0.0);
    // With three primaries the mix is fixed up to its scale: the largest one hits a limit.
    EXPECT_TRUE(someAtItsLimit(kRgb, most));

    const auto least = Color::solveLP(kRgb, kD65, {}, {}, Objective::Minimise, 0.0);
    ASSERT_EQ(least.size(), kRgb.size());
    EXPECT_NEAR(sum(least), 0.0, kTolerance);

    // Any value other than 0 minimises.
    EXPECT_EQ(Color::solveLP(kRgb, kD65, {}, {}, static_cast<Objective>(7), 0.0), least);
}

TEST_F(ColorSolveLP, TotalFixesTheSumInBothDirections)
{
    for (Objective objective : {Objective::Maximise, Objective::Minimise}) {
        const auto result = Color::solveLP(kRgb, kD65, {}, {}, objective, 50.0);
        expectMeetsTarget(kRgb, result, kD65, {}, 50.0);
    }
}

TEST_F(ColorSolveLP, ObjectiveSetChoosesWhoseLightCounts)
{
    const double total = 80.0;
    const auto most = Color::solveLP(kRgbw, kD65, {}, {3}, Objective::Maximise, total);
    const auto least = Color::solveLP(kRgbw, kD65, {}, {3}, Objective::Minimise, total);
    expectMeetsTarget(kRgbw, most, kD65, {}, total);
    expectMeetsTarget(kRgbw, least, kD65, {}, total);
    EXPECT_GT(most[3], least[3] + 1.0);

    // Indices that name no emitter add nothing to the objective.
    const auto withStray = Color::solveLP(kRgbw, kD65, {}, {3, 4, 1000}, Objective::Maximise, total);
    expectMeetsTarget(kRgbw, withStray, kD65, {}, total);
    EXPECT_NEAR(withStray[3], most[3], kTolerance);

    // An empty set counts every free emitter: no other objective gives a larger sum.
    const auto all = Color::solveLP(kRgbw, kD65, {}, {}, Objective::Maximise, 0.0);
    const auto whiteOnly = Color::solveLP(kRgbw, kD65, {}, {3}, Objective::Maximise, 0.0);
    expectMeetsTarget(kRgbw, all, kD65, {}, 0.0);
    expectMeetsTarget(kRgbw, whiteOnly, kD65, {}, 0.0);
    EXPECT_GE(sum(all), sum(whiteOnly) - kTolerance);
    EXPECT_NEAR(whiteOnly[3], kWarmWhite.Y, kTolerance);
}

TEST_F(ColorSolveLP, ObjectiveOfOnlyFixedEmittersStillSolves)
{
    const auto result = Color::solveLP(kRgbw, kD65, {3}, {3}, Objective::Maximise, 0.0);
    expectMeetsTarget(kRgbw, result, kD65, {3}, 0.0);
}

TEST_F(ColorSolveLP, FixedEmittersTakeTheirShareOfTheTotal)
{
    // On the target's chromaticity the fixed light needs no balancing; off it, the free
    // emitters make up for it.
    const xyY neutral{kD65.x, kD65.y, 30.0};
    const xyY warm{kWarmWhite.x, kWarmWhite.y, 30.0};
    for (const xyY& fixedOne : {neutral, warm}) {
        const std::vector<xyY> primaries{fixedOne, kRed, kGreen, kBlue};
        for (Objective objective : {Objective::Maximise, Objective::Minimise}) {
            const auto result = Color::solveLP(primaries, kD65, {0}, {}, objective, 100.0);
            expectMeetsTarget(primaries, result, kD65, {0}, 100.0);
            ASSERT_FALSE(result.empty());
            EXPECT_NEAR(result[1] + result[2] + result[3], 70.0, kTolerance);
        }
    }
}

TEST_F(ColorSolveLP, AllFixedOnTargetReportTheirLuminance)
{
    const std::vector<xyY> single{{kD65.x, kD65.y, 25.0}};
    EXPECT_EQ(Color::solveLP(single, kD65, {0}, {}, Objective::Maximise, 0.0), (std::vector<double>{25.0}));
    EXPECT_EQ(Color::solveLP(single, kD65, {0}, {}, Objective::Minimise, 25.0), (std::vector<double>{25.0}));

    // Two emitters either side of the target: their mix meets it up to rounding.
    const xyY target{0.3, 0.3, 0.0};
    const std::vector<xyY> pair{{0.2, 0.3, 12.0}, {0.4, 0.3, 12.0}};
    const auto result = Color::solveLP(pair, target, {0, 1, 7}, {}, Objective::Maximise, 24.0);
    EXPECT_EQ(result, (std::vector<double>{12.0, 12.0}));
}

namespace {

struct UnsolvableCase {
    std::string name;
    std::vector<xyY> primaries;
    xyY target;
    Indices fixedSet;
    double totalY;
};

void PrintTo(const UnsolvableCase& c, std::ostream* os) { *os << c.name; }

class ColorSolveLPUnsolvable : public ColorSolveLP, public ::testing::WithParamInterface<UnsolvableCase> {};

} // namespace

TEST_P(ColorSolveLPUnsolvable, GivesAnEmptyListInBothDirections)
{
    const UnsolvableCase& c = GetParam();
    for (Objective objective : {Objective::Maximise, Objective::Minimise}) {
        EXPECT_TRUE(Color::solveLP(c.primaries, c.target, c.fixedSet, {}, objective, c.totalY).empty())
            << "objective " << int(objective);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Infeasible, ColorSolveLPUnsolvable,
    ::testing::Values(UnsolvableCase{"TotalAboveReachable", kRgb, kD65, {}, 500.0},
                      UnsolvableCase{"FixedAboveTotal", kRgbw, kD65, {3}, 30.0},
                      UnsolvableCase{"OutOfGamutWithTotal", kRgb, kOutOfGamut, {}, 10.0},
                      UnsolvableCase{"NegativeTotal", kRgb, kD65, {}, -5.0},
                      UnsolvableCase{"AllFixedOffTarget", kRgb, kD65, {0, 1, 2}, 0.0},
                      UnsolvableCase{"AllFixedOnTargetOtherTotal", {{kD65.x, kD65.y, 25.0}}, kD65, {0}, 30.0}),
    [](const ::testing::TestParamInfo<UnsolvableCase>& info) { return info.param.name; });

// Values that would otherwise reach GLPK as NaN or infinite bounds and coefficients (a NaN bound
// aborts the process inside its simplex).
INSTANTIATE_TEST_SUITE_P(
    Refused, ColorSolveLPUnsolvable,
    ::testing::Values(UnsolvableCase{"PrimaryWithZeroY", {kRed, {0.3, 0.0, 10.0}, kBlue}, kD65, {}, 0.0},
                      UnsolvableCase{"FixedPrimaryWithZeroY", {kRed, {0.3, 0.0, 10.0}, kBlue}, kD65, {1}, 0.0},
                      UnsolvableCase{"PrimaryWithTinyY", {kRed, {0.3, 1e-320, 1e300}, kBlue}, kD65, {}, 0.0},
                      UnsolvableCase{"NegativeLuminance", {kRed, {0.3, 0.6, -1.0}, kBlue}, kD65, {}, 0.0},
                      UnsolvableCase{"NaNx", {kRed, {kNaN, 0.6, 60.0}, kBlue}, kD65, {}, 0.0},
                      UnsolvableCase{"NaNy", {kRed, {0.3, kNaN, 60.0}, kBlue}, kD65, {}, 0.0},
                      UnsolvableCase{"NaNLuminance", {kRed, {0.3, 0.6, kNaN}, kBlue}, kD65, {}, 0.0},
                      UnsolvableCase{"InfiniteLuminance", {kRed, {0.3, 0.6, kInf}, kBlue}, kD65, {}, 0.0},
                      UnsolvableCase{"NaNTargetX", kRgb, {kNaN, 0.33, 0.0}, {}, 0.0},
                      UnsolvableCase{"InfiniteTargetY", kRgb, {0.31, -kInf, 0.0}, {}, 0.0},
                      UnsolvableCase{"NaNTotal", kRgb, kD65, {}, kNaN},
                      UnsolvableCase{"InfiniteTotal", kRgb, kD65, {}, kInf}),
    [](const ::testing::TestParamInfo<UnsolvableCase>& info) { return info.param.name; });

TEST_F(ColorSolveLP, DarkFreeEmitterStaysAtZeroWhileTheOthersSolve)
{
    const std::vector<xyY> primaries{kRed, {0.2, 0.2, 0.0}, kGreen, kBlue};
    for (double total : {0.0, 50.0}) {
        const auto result = Color::solveLP(primaries, kD65, {}, {}, Objective::Maximise, total);
        expectMeetsTarget(primaries, result, kD65, {}, total);
        ASSERT_FALSE(result.empty());
        EXPECT_EQ(result[1], 0.0);
        EXPECT_GT(sum(result), 0.0);
    }
}

// Without a total or fixed light, no light at all meets any chromaticity: that is the
// programme's true optimum for a target the primaries cannot reach.
TEST_F(ColorSolveLP, OutOfGamutTargetWithoutTotalGivesNoLight)
{
    const auto result = Color::solveLP(kRgb, kOutOfGamut, {}, {}, Objective::Maximise, 0.0);
    EXPECT_EQ(result, (std::vector<double>(kRgb.size(), 0.0)));
}
