#include "engine/LevelPoints.h"

#include <QString>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <random>
#include <vector>

namespace {

using Triple = LevelPoints::Triple;

// The gain set as the engine's texts have always keyed it: each gain as Qt writes it with 7
// decimals, run together.
QString qtText(const Triple& gains)
{
    return QString::number(gains[0], 'f', 7) + QString::number(gains[1], 'f', 7) + QString::number(gains[2], 'f', 7);
}

LevelPoints::Point at(const Triple& gains, double deltaSum = 0.0)
{
    LevelPoints::Point point;
    point.gains = gains;
    point.deltas = {deltaSum, 0.0, 0.0};
    return point;
}

TEST(LevelPoints, GainSetsAreToldApartExactlyAsTheirSevenDecimalTextsAre)
{
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<double> edges = {
        0.0, -0.0, 1e-9, -1e-9,                    // "0.0000000" and "-0.0000000"
        1.0 / 256, -1.0 / 256,                     // exactly half way: away from zero
        0.0048828125, 3.0 / 128, 0.00000005, 0.00000015, 0.12345675, 1.99999995, -0.99999995, 0.5, 0.25, 1.0, -1.0,
        9007199254740991.0, 9007199254740992.0, 1e20, -1e20, 4.9e-324, std::nan(""), inf, -inf};
    for (double a : edges) {
        EXPECT_EQ(LevelPoints::gainSetText({a, 0.5, -0.25}), qtText({a, 0.5, -0.25})) << a;
        for (double b : edges) {
            LevelPoints points;
            points.append(at({a, 0.5, 0.5}));
            const bool same = points.append(at({b, 0.5, 0.5})).level == 2;
            EXPECT_EQ(same, qtText({a, 0.5, 0.5}) == qtText({b, 0.5, 0.5})) << a << " and " << b;
        }
    }

    // Gains as a run meets them, and their neighbours around the last decimal.
    std::mt19937_64 random(38);
    std::uniform_real_distribution<double> trims(-1.0, 1.0);
    for (int i = 0; i < 20000; ++i) {
        const double gain = trims(random);
        const double near = gain + (i % 2 == 0 ? 4e-8 : -6e-8);
        EXPECT_EQ(LevelPoints::gainSetText({gain, near, -gain}), qtText({gain, near, -gain})) << gain;
        LevelPoints points;
        points.append(at({gain, 0.0, 0.0}));
        EXPECT_EQ(points.append(at({near, 0.0, 0.0})).level == 2, qtText({gain, 0, 0}) == qtText({near, 0, 0})) << gain;
    }
}

TEST(LevelPoints, CountsVisitsInTheLevelAndSinceTheWindowWasReset)
{
    LevelPoints points;
    const Triple a{0.1, 0.2, 0.3};
    const Triple b{0.1, 0.2, 0.3000001};
    EXPECT_EQ(points.append(at(a, 0.5)).level, 1u);
    EXPECT_EQ(points.append(at(b)).level, 1u);
    const LevelPoints::Visits second = points.append(at(a, 0.3));
    EXPECT_EQ(second.level, 2u);
    EXPECT_EQ(second.window, 2u);

    points.resetWindow();
    const LevelPoints::Visits third = points.append(at(a, 0.2));
    EXPECT_EQ(third.level, 3u);
    EXPECT_EQ(third.window, 1u);
    int repeated = 0;
    points.forEachRepeated([&](std::size_t, uint) { ++repeated; });
    EXPECT_EQ(repeated, 0) << "nothing met twice since the reset";

    points.append(at(a, 0.1));
    double repeatedDelta = -1.0;
    double repeatedLargest = -1.0;
    uint windowCount = 0;
    points.forEachRepeated([&](std::size_t index, uint count) {
        repeatedDelta = points.at(index).deltaSum;
        repeatedLargest = points.largestDelta(index);
        windowCount = count;
    });
    EXPECT_DOUBLE_EQ(repeatedDelta, 0.1) << "the latest iteration of the gain set";
    EXPECT_DOUBLE_EQ(repeatedLargest, 0.1);
    EXPECT_EQ(windowCount, 2u);

    // Each gain set once, with its count in the level; every iteration kept in order.
    std::vector<uint> counts;
    points.forEachGainSet([&](std::size_t, uint count) { counts.push_back(count); });
    std::sort(counts.begin(), counts.end());
    EXPECT_EQ(counts, (std::vector<uint>{1, 4}));
    ASSERT_EQ(points.size(), 5u);
    EXPECT_DOUBLE_EQ(points.at(0).deltaSum, 0.5);
    EXPECT_DOUBLE_EQ(points.at(4).deltaSum, 0.1);

    // Counted within a bound, again after more iterations, and within another bound.
    const auto below = [](double deltaSum, double bound) { return deltaSum < bound; };
    EXPECT_EQ(points.countWithin(0.25, below), 3u);
    points.append(at(b, 0.05));
    EXPECT_EQ(points.countWithin(0.25, below), 4u);
    EXPECT_EQ(points.countWithin(0.4, below), 5u);
    EXPECT_EQ(points.countWithin(0.25, below), 4u);
}

// Levels as an adjuster meets them: converging, wandering and never near, each a run of
// iterations with random gains, readings and deltas of the given scale.
std::vector<LevelPoints::Point> levelOf(std::mt19937_64& random, int iterations, double deltaScale)
{
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::vector<LevelPoints::Point> level;
    for (int i = 0; i < iterations; ++i) {
        LevelPoints::Point point;
        for (int c = 0; c < 3; ++c) {
            point.gains[c] = unit(random) * 0.5;
            point.reading[c] = 100.0 + unit(random) * 20.0;
            point.deltas[c] = unit(random) * deltaScale / double(1 + i % 7);
        }
        level.push_back(point);
    }
    return level;
}

bool sameBits(const LevelPoints::Average& a, const LevelPoints::Average& b)
{
    return a.used == b.used && a.weightSum == b.weightSum && a.gains == b.gains && a.readings == b.readings
           && a.deltas == b.deltas;
}

TEST(LevelPoints, ASummarisingLevelAveragesBitForBitAsAFullOneWithinEveryBoundItAsksFor)
{
    constexpr double Bound = 0.04;
    const LevelPoints::Summary summary{{Bound, Bound * 2.0}, Bound * 1.4142136 * 1.4142136 * 2.0, 3};
    const std::vector<double> widenedBounds{Bound * 1.4142136, Bound * 1.4142136 * 1.4142136, Bound * 1.4142136 * 2.0,
                                            summary.widest};
    std::mt19937_64 random(3801);
    for (const double deltaScale : {0.01, 0.05, 0.2, 2.0}) {
        for (int level = 0; level < 20; ++level) {
            LevelPoints full;
            LevelPoints summarising;
            summarising.summarise(summary);
            for (const LevelPoints::Point& point : levelOf(random, 5 + level * 7, deltaScale)) {
                full.append(point);
                summarising.append(point);
            }
            for (const double bound : summary.bounds)
                EXPECT_TRUE(sameBits(*summarising.average(bound), *full.average(bound))) << deltaScale << " " << bound;
            // A wider bound is answered, and exactly, whenever the level could ask for it.
            const auto within = [](double deltaSum, double bound) { return LevelPoints::weight(deltaSum, bound) > 0.0; };
            const bool mayWiden = full.countWithin(Bound, within) < summary.fewest;
            for (const double bound : widenedBounds) {
                const std::optional<LevelPoints::Average> average = summarising.average(bound);
                if (mayWiden) {
                    ASSERT_TRUE(average.has_value()) << deltaScale << " " << bound;
                }
                if (average) {
                    EXPECT_TRUE(sameBits(*average, *full.average(bound))) << deltaScale << " " << bound;
                }
            }
            EXPECT_EQ(summarising.countWithin(Bound, within), full.countWithin(Bound, within));
            // A bound beyond the widest, once iterations beyond it were dropped, is refused.
            if (full.countWithin(summary.widest, within) < full.size()) {
                EXPECT_FALSE(summarising.average(summary.widest * 4.0).has_value());
            }
            EXPECT_LE(summarising.heldBytes(), full.heldBytes());
        }
    }
}

TEST(LevelPoints, AnIterationCostsAFixedSmallRecordAndANewLevelReleasesThem)
{
    // An adjuster's longest level: a new gain set at every iteration, near its targets.
    constexpr int Iterations = 400;
    LevelPoints points;
    LevelPoints summarising;
    summarising.summarise({{0.04, 0.08}, 0.16, 3});
    for (int i = 0; i < Iterations; ++i) {
        points.append(at({i * 1e-3, -i * 1e-3, 0.5}, 0.01));
        summarising.append(at({i * 1e-3, -i * 1e-3, 0.5}, 0.01));
    }
    EXPECT_EQ(points.size(), std::size_t(Iterations));
    EXPECT_LE(points.heldBytes(), std::size_t(Iterations) * 112);
    // Only the record and the mark of each iteration.
    EXPECT_LE(summarising.heldBytes(), std::size_t(Iterations) * 48);
    points.clear();
    EXPECT_EQ(points.heldBytes(), 0u);
    EXPECT_TRUE(points.isEmpty());
}

} // namespace
