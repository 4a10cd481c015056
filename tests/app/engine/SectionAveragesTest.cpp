#include "engine/TileGrader.h"
#include "support/MessageCapture.h"
#include "support/TestPhotos.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include <QSignalSpy>
#include <QTemporaryDir>

#include <cmath>
#include <functional>
#include <ostream>

namespace {

// Windows of the screen image, each the expected sample of one subsection.
struct GridCase
{
    const char* name;
    cv::Size screen;
    cv::Size sections;
    cv::Size subsections;
    std::vector<std::vector<cv::Rect>> windows; // per section, subsections row by row
};

void PrintTo(const GridCase& test, std::ostream* os)
{
    *os << test.name;
}

class GridAverages : public ::testing::TestWithParam<GridCase>
{
};

TEST_P(GridAverages, EqualTheMeansOfTheirWindows)
{
    const GridCase& test = GetParam();
    cv::Mat screen(test.screen, CV_32FC3);
    cv::setRNGSeed(7);
    cv::randu(screen, cv::Scalar::all(0.0), cv::Scalar::all(255.0));
    TileGrader grader;
    const std::vector<cv::Mat> averages = grader.computeSectionAverages(screen, test.sections, test.subsections);
    ASSERT_EQ(averages.size(), test.windows.size());
    for (size_t s = 0; s < averages.size(); ++s) {
        const cv::Mat& section = averages[s];
        ASSERT_EQ(section.type(), CV_32FC3);
        ASSERT_EQ(size_t(section.total()), test.windows[s].size());
        for (int i = 0; i < int(section.total()); ++i) {
            const cv::Scalar expected = cv::mean(screen(test.windows[s][size_t(i)]));
            const cv::Vec3f actual = section.at<cv::Vec3f>(i / section.cols, i % section.cols);
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(actual[c], expected[c], 1e-3) << "section " << s << " window " << i << " channel " << c;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Windows, GridAverages,
    ::testing::Values(
        // Quarters of 50 pixels less a quarter margin each side: 25 pixels starting at 13 and 63.
        GridCase{"QuartersOfAHundred", cv::Size(100, 100), cv::Size(1, 1), cv::Size(2, 2),
                 {{cv::Rect(13, 13, 25, 25), cv::Rect(63, 13, 25, 25), cv::Rect(13, 63, 25, 25),
                   cv::Rect(63, 63, 25, 25)}}},
        // No sections counts as one.
        GridCase{"NoSectionsIsOne", cv::Size(100, 100), cv::Size(0, 0), cv::Size(1, 1), {{cv::Rect(25, 25, 50, 50)}}},
        // Two sections across of two subsections down: 125 × 65, margins 31.25 and 16.25.
        GridCase{"FractionalMargins", cv::Size(250, 130), cv::Size(2, 1), cv::Size(1, 2),
                 {{cv::Rect(31, 16, 63, 33), cv::Rect(31, 81, 63, 33)},
                  {cv::Rect(156, 16, 63, 33), cv::Rect(156, 81, 63, 33)}}}),
    [](const ::testing::TestParamInfo<GridCase>& info) { return std::string(info.param.name); });

TEST(SectionAverages, FractionalLevelsAverageExactly)
{
    TileGrader grader;
    const cv::Mat screen(120, 160, CV_32FC3, cv::Scalar(200.7, 20.3, 0.9));
    const std::vector<cv::Mat> averages = grader.computeSectionAverages(screen, cv::Size(2, 2), cv::Size(3, 3));
    ASSERT_EQ(averages.size(), 4u);
    for (const cv::Mat& section : averages) {
        for (int i = 0; i < int(section.total()); ++i) {
            const cv::Vec3f value = section.at<cv::Vec3f>(i / section.cols, i % section.cols);
            EXPECT_NEAR(value[0], 200.7f, 1e-4f);
            EXPECT_NEAR(value[1], 20.3f, 1e-4f);
            EXPECT_NEAR(value[2], 0.9f, 1e-4f);
        }
    }
}

TEST(SectionAverages, WindowsTooSmallToHoldAPixelSampleTheirStart)
{
    TileGrader grader;
    cv::Mat screen(4, 4, CV_32FC3);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x)
            screen.at<cv::Vec3f>(y, x) = cv::Vec3f::all(float(10 * y + x));
    }
    const std::vector<cv::Mat> averages = grader.computeSectionAverages(screen, cv::Size(1, 1), cv::Size(8, 8));
    ASSERT_EQ(averages.size(), 1u);
    EXPECT_TRUE(cv::checkRange(averages[0])) << "no NaN";
    EXPECT_EQ(averages[0].at<cv::Vec3f>(0, 0), cv::Vec3f::all(0.0f));
    EXPECT_EQ(averages[0].at<cv::Vec3f>(7, 7), cv::Vec3f::all(33.0f)) << "the last row and column, clamped";
}

TEST(SectionAverages, WithoutAScreenImageThereAreNone)
{
    TileGrader grader;
    grader.setSections(3, 2);
    MessageCapture log;
    QList<cv::Mat*>* averages = grader.sectionAverages();
    ASSERT_NE(averages, nullptr);
    EXPECT_TRUE(averages->isEmpty());
}

// A screen whose first channel is the column and second the row, so that an average tells where
// its window lies.
cv::Mat coordinateScreen()
{
    cv::Mat screen(100, 200, CV_32FC3);
    for (int y = 0; y < screen.rows; ++y) {
        for (int x = 0; x < screen.cols; ++x)
            screen.at<cv::Vec3f>(y, x) = cv::Vec3f(float(x), float(y), 0.0f);
    }
    return screen;
}

cv::Mat meshOf(int rows, int cols)
{
    cv::Mat mesh(rows, cols, CV_32FC2);
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c)
            mesh.at<cv::Vec2f>(r, c) = cv::Vec2f(10.0f + 45.0f * float(c), 10.0f + 40.0f * float(r));
    }
    return mesh;
}

struct MeshCase
{
    const char* name;
    cv::Size sections;
    cv::Size subsections;
    cv::Size mesh; // columns × rows
    bool meshMode;
};

void PrintTo(const MeshCase& test, std::ostream* os)
{
    *os << test.name;
}

class MeshAverages : public ::testing::TestWithParam<MeshCase>
{
};

TEST_P(MeshAverages, SampleAroundTheMeshOnlyAtItsExactSize)
{
    const MeshCase& test = GetParam();
    TileGrader grader;
    grader.setMeshLocations(meshOf(test.mesh.height, test.mesh.width));
    MessageCapture log;
    const std::vector<cv::Mat> averages =
        grader.computeSectionAverages(coordinateScreen(), test.sections, test.subsections);
    ASSERT_FALSE(averages.empty());
    const cv::Vec3f first = averages[0].at<cv::Vec3f>(0, 0);
    // Around the first location (10, 10) the window reaches a quarter of the way to the next one,
    // cut at the image's edge; on the grid it lies a quarter subsection in.
    if (test.meshMode) {
        EXPECT_NEAR(first[0], 10.0f, 0.6f);
        EXPECT_NEAR(first[1], 9.5f, 0.6f);
        // The last location looks back to size its window.
        const cv::Mat& last = averages.back();
        const cv::Vec2f location = meshOf(test.mesh.height, test.mesh.width)
                                       .at<cv::Vec2f>(test.mesh.height - 1, test.mesh.width - 1);
        EXPECT_NEAR(last.at<cv::Vec3f>(last.rows - 1, last.cols - 1)[0], location[0] - 0.5f, 0.6f);
    } else {
        EXPECT_GT(std::abs(first[0] - 10.0f), 5.0f);
    }
    const QString resolution = QStringLiteral("TileGrader: requested resolution %1 x %2, mesh locations %3 x %4")
                                   .arg(test.sections.width * test.subsections.width)
                                   .arg(test.sections.height * test.subsections.height)
                                   .arg(test.mesh.width)
                                   .arg(test.mesh.height);
    EXPECT_TRUE(log.contains(resolution)) << log.messages().join('\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Meshes, MeshAverages,
    ::testing::Values(MeshCase{"ExactSize", cv::Size(2, 1), cv::Size(2, 2), cv::Size(4, 2), true},
                      MeshCase{"OneRowMore", cv::Size(2, 1), cv::Size(2, 2), cv::Size(4, 3), false},
                      MeshCase{"Transposed", cv::Size(2, 1), cv::Size(2, 2), cv::Size(2, 4), false},
                      // One row of locations cannot size a window's height.
                      MeshCase{"SingleRow", cv::Size(2, 1), cv::Size(1, 1), cv::Size(2, 1), false}),
    [](const ::testing::TestParamInfo<MeshCase>& info) { return std::string(info.param.name); });

// A grader that has loaded a photo of a wall, in a folder of its own.
class LoadedGrader : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const cv::Size size(600, 400);
        const std::vector<cv::Scalar> colours(6, cv::Scalar(200, 180, 160));
        const cv::Mat wall = TestPhotos::sectionedWall(cv::Size(300, 200), 3, 2, colours);
        m_photo = m_folder.filePath("wall.png");
        ASSERT_TRUE(cv::imwrite(m_photo.toStdString(),
                                TestPhotos::photographWall(wall, size, TestPhotos::mildPerspective(size),
                                                           cv::Scalar::all(10))));
        ASSERT_TRUE(m_grader.loadOriginal(m_photo, QString()));
    }

    QTemporaryDir m_folder;
    QString m_photo;
    TileGrader m_grader;
};

struct Staleness
{
    const char* name;
    std::function<void(TileGrader&, const QString& photo)> change;
    bool recomputed;
    qsizetype sections;
};

void PrintTo(const Staleness& test, std::ostream* os)
{
    *os << test.name;
}

class AverageStaleness : public LoadedGrader, public ::testing::WithParamInterface<Staleness>
{
};

TEST_P(AverageStaleness, RecomputesOnlyWhenTheSectionsOrThePhotoChange)
{
    m_grader.setSections(4, 3);
    m_grader.setSubsections(2, 2);
    QSignalSpy sampled(&m_grader, &TileGrader::sampledImageUpdated);
    QList<cv::Mat*>* first = m_grader.sectionAverages();
    ASSERT_EQ(first->size(), 12);
    ASSERT_EQ(sampled.count(), 1);
    const cv::Mat* firstMatrix = first->front();

    GetParam().change(m_grader, m_photo);
    QList<cv::Mat*>* second = m_grader.sectionAverages();
    EXPECT_EQ(second, first) << "the grader keeps one list";
    EXPECT_EQ(sampled.count(), GetParam().recomputed ? 2 : 1);
    EXPECT_EQ(second->size(), GetParam().sections);
    if (!GetParam().recomputed) {
        EXPECT_EQ(second->front(), firstMatrix);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Changes, AverageStaleness,
    ::testing::Values(
        Staleness{"Nothing", [](TileGrader&, const QString&) {}, false, 12},
        Staleness{"SameSections", [](TileGrader& g, const QString&) { g.setSections(4, 3); }, false, 12},
        Staleness{"MoreSectionRows", [](TileGrader& g, const QString&) { g.setSections(4, 5); }, true, 20},
        Staleness{"SectionsWide", [](TileGrader& g, const QString&) { g.setSectionsW(5); }, true, 15},
        Staleness{"SameSectionsHigh", [](TileGrader& g, const QString&) { g.setSectionsH(3); }, false, 12},
        Staleness{"Subsections", [](TileGrader& g, const QString&) { g.setSubsections(3, 3); }, true, 12},
        Staleness{"MeshLocations", [](TileGrader& g, const QString&) { g.setMeshLocations(meshOf(6, 8)); }, false,
                  12},
        Staleness{"AnotherLoad", [](TileGrader& g, const QString& photo) { g.loadOriginal(photo, QString()); }, true,
                  12}),
    [](const ::testing::TestParamInfo<Staleness>& info) { return std::string(info.param.name); });

// The chain for a colour photo with a dark frame: S-Log3 codes to linear light, the dark frame's
// light taken off, encoded with a power of 0.41, then divided by the lens's shading.
double expectedLevel(int photoCode, int darkCode, double shading)
{
    const auto linear = [](int code) { return std::round(std::pow(10.0, code / 65.5) / 30.545 * 256.0); };
    const double light = std::max(linear(photoCode) - linear(darkCode), 0.0);
    return std::round(std::pow(light / 65535.0, 0.41) * 255.0) * 255.0 / shading;
}

TEST(GraderEndToEnd, PhotoDarkFrameAndLensFileBecomeTheDrawnSections)
{
    QTemporaryDir folder;
    constexpr int Wide = 4;
    constexpr int High = 3;
    constexpr int Ambient = 40;
    constexpr int Shading = 204;
    std::vector<cv::Scalar> colours;
    for (int i = 0; i < Wide * High; ++i)
        colours.emplace_back(130 + 10 * i, 240 - 8 * i, 150 + (i % 3) * 40);

    const cv::Size size(900, 600);
    const cv::Mat wall = TestPhotos::sectionedWall(cv::Size(400, 300), Wide, High, colours);
    const QString photo = folder.filePath("wall.png");
    const QString dark = folder.filePath("dark.png");
    const QString lens = folder.filePath("lens.png");
    ASSERT_TRUE(cv::imwrite(photo.toStdString(), TestPhotos::photographWall(wall, size, TestPhotos::mildPerspective(size),
                                                                            cv::Scalar::all(Ambient))));
    ASSERT_TRUE(cv::imwrite(dark.toStdString(), cv::Mat(size, CV_8UC3, cv::Scalar::all(Ambient))));
    ASSERT_TRUE(cv::imwrite(lens.toStdString(), cv::Mat(120, 180, CV_8UC3, cv::Scalar::all(Shading))));

    TileGrader grader;
    grader.setLensFile(lens);
    grader.setSections(Wide, High);
    grader.setSubsections(2, 2);
    MessageCapture log;
    ASSERT_TRUE(grader.loadOriginal(photo, dark)) << log.messages().join('\n').toStdString();
    QList<cv::Mat*>* averages = grader.sectionAverages();
    ASSERT_EQ(averages->size(), Wide * High);
    for (int s = 0; s < Wide * High; ++s) {
        const cv::Mat& section = *averages->at(s);
        ASSERT_EQ(section.size(), cv::Size(2, 2));
        for (int i = 0; i < 4; ++i) {
            const cv::Vec3f value = section.at<cv::Vec3f>(i / 2, i % 2);
            for (int c = 0; c < 3; ++c) {
                EXPECT_NEAR(value[c], expectedLevel(int(colours[size_t(s)][c]), Ambient, Shading), 1.0)
                    << "section " << s << " subsection " << i << " channel " << c;
            }
        }
    }
}

} // namespace
