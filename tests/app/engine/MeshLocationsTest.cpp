#include "engine/TileGrader.h"
#include "support/MessageCapture.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include <QSignalSpy>

#include <cmath>
#include <ostream>

namespace {

constexpr int Columns = 6;
constexpr int Rows = 4;
const cv::Size ScreenSize(680, 460);

// Where the dot of a cell is drawn: a 100-pixel grid seen in mild perspective (the top row
// narrower), each dot nudged by a fixed jitter of up to 3 pixels.
cv::Point2f dotCentre(int row, int column)
{
    const float narrowing = 1.0f - 0.03f * float(Rows - 1 - row);
    const float x = 340.0f + (float(column) - 2.5f) * 100.0f * narrowing;
    const float y = 70.0f + float(row) * 100.0f;
    const float jitterX = float((row * 7 + column * 3) % 7) - 3.0f;
    const float jitterY = float((row * 5 + column * 11) % 7) - 3.0f;
    return {x + jitterX, y + jitterY};
}

// A float screen image with a lit dot per cell, optionally leaving one out, and specks among the
// upper rows: single pixels and blobs of a few pixels, as many as the dots.
cv::Mat dotScreen(std::optional<cv::Point> missing = std::nullopt, bool specks = false)
{
    cv::Mat screen(ScreenSize, CV_32FC3, cv::Scalar::all(0));
    for (int r = 0; r < Rows; ++r) {
        for (int c = 0; c < Columns; ++c) {
            if (missing != cv::Point(c, r))
                cv::circle(screen, dotCentre(r, c), 14, cv::Scalar::all(230), cv::FILLED, cv::LINE_8);
        }
    }
    if (specks) {
        for (int i = 0; i < Rows * Columns; ++i) {
            const cv::Point2f between = (dotCentre(i % 2, i % Columns) + dotCentre(1 + i % 2, (i + 1) % Columns)) / 2;
            const cv::Point at(int(between.x) + (i / Columns) * 7, int(between.y) + (i / Columns) * 5);
            if (i % 2 == 0)
                screen.at<cv::Vec3f>(at) = cv::Vec3f::all(230.0f);
            else
                screen(cv::Rect(at, cv::Size(2 + i % 3, 2))).setTo(cv::Scalar::all(230));
        }
    }
    return screen;
}

TEST(MeshLocations, FindsTheGridFromTheTopLeftDespiteSpecks)
{
    TileGrader grader;
    QSignalSpy marked(&grader, &TileGrader::locationsImageUpdated);
    MessageCapture log;
    const std::optional<cv::Mat> mesh = grader.findMeshLocations(dotScreen(std::nullopt, true));
    ASSERT_TRUE(mesh.has_value()) << log.messages().join('\n').toStdString();
    ASSERT_EQ(mesh->rows, Rows);
    ASSERT_EQ(mesh->cols, Columns);
    EXPECT_EQ(mesh->type(), CV_32FC2);
    for (int r = 0; r < Rows; ++r) {
        for (int c = 0; c < Columns; ++c) {
            const cv::Vec2f found = mesh->at<cv::Vec2f>(r, c);
            const cv::Point2f drawn = dotCentre(r, c);
            EXPECT_NEAR(found[0], drawn.x, 0.6) << "row " << r << " column " << c;
            EXPECT_NEAR(found[1], drawn.y, 0.6) << "row " << r << " column " << c;
        }
    }
    EXPECT_FALSE(log.messages().filter("rejecting contour").isEmpty()) << "the blobs are seen and turned down";
    ASSERT_EQ(marked.count(), 1);
    EXPECT_EQ(marked.at(0).at(0).value<QImage>().size(), QSize(ScreenSize.width, ScreenSize.height));
}

TEST(MeshLocations, AMissingDotBreaksTheGrid)
{
    TileGrader grader;
    MessageCapture log;
    EXPECT_FALSE(grader.findMeshLocations(dotScreen(cv::Point(3, 2))).has_value());
    EXPECT_FALSE(log.messages().filter("findMeshLocations: inconsistent width! grid is 6 wide").isEmpty())
        << log.messages().join('\n').toStdString();
}

TEST(MeshLocations, NothingToFindGivesNoValue)
{
    TileGrader grader;
    MessageCapture log;
    EXPECT_FALSE(grader.findMeshLocations(cv::Mat(ScreenSize, CV_32FC3, cv::Scalar::all(0))).has_value());
    cv::Mat specks(ScreenSize, CV_32FC3, cv::Scalar::all(0));
    specks.at<cv::Vec3f>(100, 100) = cv::Vec3f::all(200);
    specks.at<cv::Vec3f>(300, 500) = cv::Vec3f::all(200);
    EXPECT_FALSE(grader.findMeshLocations(specks).has_value()) << "single pixels have no area and no centre";
    EXPECT_FALSE(grader.findMeshLocations(cv::Mat()).has_value());
}

TEST(MeshLocations, ASingleRowAndASingleDotAreGrids)
{
    TileGrader grader;
    cv::Mat screen(200, 400, CV_32FC3, cv::Scalar::all(0));
    cv::circle(screen, cv::Point(300, 100), 12, cv::Scalar::all(200), cv::FILLED);
    std::optional<cv::Mat> mesh = grader.findMeshLocations(screen);
    ASSERT_TRUE(mesh.has_value());
    EXPECT_EQ(mesh->size(), cv::Size(1, 1));

    cv::circle(screen, cv::Point(100, 100), 12, cv::Scalar::all(200), cv::FILLED);
    cv::circle(screen, cv::Point(200, 100), 12, cv::Scalar::all(200), cv::FILLED);
    mesh = grader.findMeshLocations(screen);
    ASSERT_TRUE(mesh.has_value());
    ASSERT_EQ(mesh->size(), cv::Size(3, 1));
    EXPECT_NEAR(mesh->at<cv::Vec2f>(0, 0)[0], 100.0f, 0.5f);
    EXPECT_NEAR(mesh->at<cv::Vec2f>(0, 2)[0], 300.0f, 0.5f);

    // A screen in doubles, which the colour conversion does not take, reads the same.
    cv::Mat doubles;
    screen.convertTo(doubles, CV_64F);
    mesh = grader.findMeshLocations(doubles);
    ASSERT_TRUE(mesh.has_value());
    EXPECT_EQ(mesh->size(), cv::Size(3, 1));
}

// Candidates on a line from the point, at the given squared distances, in list order.
struct NeighbourCase
{
    const char* name;
    std::vector<float> squaredDistances;
    int count;
    float factor;
    std::vector<size_t> expected; // indices into squaredDistances
};

void PrintTo(const NeighbourCase& test, std::ostream* os)
{
    *os << test.name;
}

class NearestNeighbors : public ::testing::TestWithParam<NeighbourCase>
{
};

TEST_P(NearestNeighbors, KeepTheNearestWithinTheFactor)
{
    const NeighbourCase& test = GetParam();
    const cv::Point2f point(10, 20);
    TileGrader::Locations locations;
    for (float d2 : test.squaredDistances)
        locations.emplace_back(point.x + std::sqrt(d2), point.y);
    TileGrader::Locations expected;
    for (size_t i : test.expected)
        expected.push_back(locations[i]);
    EXPECT_EQ(TileGrader::nearestNeighbors(locations, point, test.count, test.factor), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, NearestNeighbors,
    ::testing::Values(NeighbourCase{"BothWithinTheFactor", {100, 140, 160}, 2, 1.5f, {0, 1}},
                      NeighbourCase{"SecondBeyondTheFactor", {100, 151}, 2, 1.5f, {0}},
                      NeighbourCase{"FactorIsOnSquaredDistances", {100, 149}, 2, 1.5f, {0, 1}},
                      NeighbourCase{"NearestComeFirst", {160, 140, 100}, 2, 1.5f, {2, 1}},
                      NeighbourCase{"TheLocationItselfIsSkipped", {0, 100}, 2, 1.5f, {1}},
                      NeighbourCase{"TiesKeepListOrder", {100, 100, 100}, 2, 1.5f, {0, 1}},
                      NeighbourCase{"NothingNear", {}, 2, 1.5f, {}},
                      NeighbourCase{"NoFactorKeepsAll", {100, 400}, 2, 0.0f, {0, 1}}),
    [](const ::testing::TestParamInfo<NeighbourCase>& info) { return std::string(info.param.name); });

} // namespace
