#include "ui/WallIndex.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

using Box = WallIndex::Box;

// What the index must answer, found the slow way: the first record holding the point.
int firstHolding(const std::vector<Box>& boxes, QPointF point)
{
    for (int i = 0; i < int(boxes.size()); ++i) {
        if (boxes[std::size_t(i)].contains(float(point.x()), float(point.y())))
            return i;
    }
    return -1;
}

std::vector<int> allOverlapping(const std::vector<Box>& boxes, const QRectF& area)
{
    std::vector<int> found;
    for (int i = 0; i < int(boxes.size()); ++i) {
        const Box& b = boxes[std::size_t(i)];
        if (!b.isEmpty() && b.x < area.right() && area.left() < double(b.x) + b.width && b.y < area.bottom()
            && area.top() < double(b.y) + b.height)
            found.push_back(i);
    }
    return found;
}

// Tiles of two sizes with gaps between them, their LDMs of several sizes, one record that
// covers a quarter of the wall over the others, and records without area.
std::vector<Box> irregularWall(std::mt19937& random)
{
    std::vector<Box> boxes;
    std::uniform_int_distribution<int> gap(0, 30);
    float y = 500.0f;
    for (int row = 0; row < 12; ++row) {
        const float size = row % 2 ? 120.0f : 250.0f;
        float x = -300.0f;
        for (int column = 0; column < 15; ++column) {
            const int across = column % 3 + 1;
            const float ldm = size / float(across);
            for (int r = 0; r < across; ++r) {
                for (int c = 0; c < across; ++c)
                    boxes.push_back({x + c * ldm, y + r * ldm, ldm, ldm});
            }
            x += size + float(gap(random));
        }
        y += size + float(gap(random));
    }
    boxes.insert(boxes.begin() + 40, Box{0.0f, 600.0f, 1500.0f, 900.0f});
    boxes.push_back({100.0f, 700.0f, 0.0f, 50.0f});
    boxes.push_back({100.0f, 700.0f, 40.0f, 0.0f});
    return boxes;
}

} // namespace

TEST(WallIndex, AnswersLikeALookAtEveryRecord)
{
    std::mt19937 random(20240611);
    const std::vector<Box> boxes = irregularWall(random);
    const WallIndex index(boxes);
    ASSERT_EQ(index.size(), int(boxes.size()));

    // Points anywhere around the wall, and on every record's edges and corners, where the
    // half-open rectangles decide between neighbours.
    std::uniform_real_distribution<double> across(-400.0, 4600.0);
    std::uniform_real_distribution<double> down(400.0, 3000.0);
    std::vector<QPointF> points;
    for (int i = 0; i < 5000; ++i)
        points.emplace_back(across(random), down(random));
    for (const Box& b : boxes) {
        points.emplace_back(b.x, b.y);
        points.emplace_back(double(b.x) + b.width, b.y + b.height / 2);
        points.emplace_back(b.x + b.width / 2, double(b.y) + b.height);
        points.emplace_back(std::nextafter(b.x + b.width, 0.0f), std::nextafter(b.y + b.height, 0.0f));
    }
    for (const QPointF& point : points)
        ASSERT_EQ(index.at(point), firstHolding(boxes, point)) << point.x() << ", " << point.y();

    std::uniform_real_distribution<double> extent(0.0, 900.0);
    for (int i = 0; i < 300; ++i) {
        const QRectF area(across(random), down(random), extent(random), extent(random));
        ASSERT_EQ(index.overlapping(area), allOverlapping(boxes, area))
            << area.x() << ", " << area.y() << " " << area.width() << " x " << area.height();
    }
    // A rectangle that only touches a record's edge does not overlap it.
    const Box& first = boxes.front();
    EXPECT_EQ(index.overlapping(QRectF(first.x - 10.0, first.y, 10.0, 10.0)),
              allOverlapping(boxes, QRectF(first.x - 10.0, first.y, 10.0, 10.0)));
}

TEST(WallIndex, AWallWithoutRecordsOrAreaHoldsNothing)
{
    for (const std::vector<Box>& boxes : {std::vector<Box>{}, std::vector<Box>{{5.0f, 5.0f, 0.0f, 0.0f}}}) {
        const WallIndex index(boxes);
        EXPECT_EQ(index.at(QPointF(5.0, 5.0)), -1);
        EXPECT_TRUE(index.overlapping(QRectF(0.0, 0.0, 100.0, 100.0)).empty());
    }
    // One record: inside, on its far edges (outside) and far away.
    const WallIndex one({{10.0f, 20.0f, 30.0f, 40.0f}});
    EXPECT_EQ(one.at(QPointF(10.0, 20.0)), 0);
    EXPECT_EQ(one.at(QPointF(40.0, 30.0)), -1);
    EXPECT_EQ(one.at(QPointF(20.0, 60.0)), -1);
    EXPECT_EQ(one.at(QPointF(-1e9, 1e9)), -1);
}
