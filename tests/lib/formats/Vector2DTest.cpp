#include "formats/Vector2D.h"

#include <gtest/gtest.h>

TEST(Vector2D, WidthComesFromTheFirstRow)
{
    const Vector2D<float> empty;
    EXPECT_EQ(empty.width(), 0u);
    EXPECT_EQ(empty.height(), 0u);

    const Vector2D<float> flat(0, 3, 1.0f);
    EXPECT_EQ(flat.width(), 0u);
    EXPECT_EQ(flat.height(), 3u);

    const Vector2D<int> grid(4, 2, 5);
    EXPECT_EQ(grid.width(), 4u);
    EXPECT_EQ(grid.height(), 2u);
    EXPECT_EQ(grid[1][3], 5);
}

TEST(Vector2D, ResizeChangesRowsFirstThenEveryRow)
{
    Vector2D<int> grid{{1, 2}, {3, 4}};
    grid.resize(3, 1, 7);
    ASSERT_EQ(grid.height(), 1u);
    EXPECT_EQ(grid[0], (std::vector<int>{1, 2, 7}));

    grid.resize(2, 3, 9);
    EXPECT_EQ(grid, (Vector2D<int>{{1, 2}, {9, 9}, {9, 9}}));
}

TEST(Vector2D, IsAPlainVectorOfRows)
{
    std::vector<std::vector<float>> rows{{1.0f, 2.0f}, {3.0f}};
    const Vector2D<float> grid = rows;
    EXPECT_FALSE(grid.isRectangular());
    EXPECT_EQ(static_cast<const std::vector<std::vector<float>>&>(grid), rows);
    static_assert(sizeof(Vector2D<float>) == sizeof(std::vector<std::vector<float>>));
}
