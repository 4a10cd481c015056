#include "engine/TileGrader.h"
#include "support/MessageCapture.h"
#include "support/TestPhotos.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <ostream>

namespace {

const cv::Size PhotoSize(600, 400);
const cv::Scalar Background(10, 10, 10);
// Three sections across and two down, each bright enough to be part of the wall.
const std::vector<cv::Scalar> SectionColours{{200, 120, 120}, {120, 200, 120}, {120, 120, 200},
                                             {200, 200, 120}, {120, 200, 200}, {200, 120, 200}};

class TileGraderLoad : public ::testing::Test
{
protected:
    // Writes a PNG under the given name, whatever its ending.
    QString write(const QString& name, const cv::Mat& image)
    {
        const QString png = m_folder.filePath(name + ".png");
        const QString path = m_folder.filePath(name);
        EXPECT_TRUE(cv::imwrite(png.toStdString(), image));
        EXPECT_TRUE(QFile::rename(png, path));
        return path;
    }

    static cv::Mat wallPhoto()
    {
        const cv::Mat wall = TestPhotos::sectionedWall(cv::Size(300, 200), 3, 2, SectionColours);
        return TestPhotos::photographWall(wall, PhotoSize, TestPhotos::mildPerspective(PhotoSize), Background);
    }

    // The mean colour of the middle of a section of the screen image, as a share of its size.
    cv::Scalar screenSection(int sx, int sy) const
    {
        const cv::Mat& screen = m_grader.screenImage();
        const int w = screen.cols / 3;
        const int h = screen.rows / 2;
        return cv::mean(screen(cv::Rect(sx * w + w / 3, sy * h + h / 3, w / 3, h / 3)));
    }

    QTemporaryDir m_folder;
    TileGrader m_grader;
};

void expectColour(const cv::Scalar& actual, const cv::Scalar& expected, double tolerance)
{
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(actual[c], expected[c], tolerance) << "channel " << c;
}

TEST_F(TileGraderLoad, FindsTheWallAndWarpsItUpright)
{
    QSignalSpy contoured(&m_grader, &TileGrader::contouredImageUpdated);
    QSignalSpy screen(&m_grader, &TileGrader::screenImageUpdated);
    QSignalSpy contourChanged(&m_grader, &TileGrader::hasScreenContourChanged);
    ASSERT_TRUE(m_grader.loadOriginal(write("wall.png", wallPhoto()), QString()));

    ASSERT_TRUE(m_grader.hasScreenContour());
    EXPECT_EQ(contourChanged.count(), 1);
    const TileGrader::Contour& contour = *m_grader.screenContour();
    const cv::Rect bounds = cv::boundingRect(contour);
    EXPECT_EQ(m_grader.screenImage().size(), bounds.size());
    EXPECT_EQ(m_grader.screenImage().type(), CV_32FC3);
    // The corners lie near those the wall was drawn at.
    for (const cv::Point2f& corner : TestPhotos::mildPerspective(PhotoSize)) {
        const auto near = std::any_of(contour.begin(), contour.end(), [&](const cv::Point& p) {
            return cv::norm(cv::Point2f(p) - corner) < 8.0;
        });
        EXPECT_TRUE(near) << corner;
    }
    for (int sy = 0; sy < 2; ++sy) {
        for (int sx = 0; sx < 3; ++sx)
            expectColour(screenSection(sx, sy), SectionColours[size_t(sy * 3 + sx)], 2.0);
    }

    ASSERT_EQ(contoured.count(), 1);
    const QImage contourImage = contoured.at(0).at(0).value<QImage>();
    EXPECT_EQ(contourImage.size(), QSize(PhotoSize.width, PhotoSize.height));
    EXPECT_EQ(contourImage.pixelColor(contour[0].x, contour[0].y), QColor(0, 255, 0));
    ASSERT_EQ(screen.count(), 1);
    EXPECT_EQ(screen.at(0).at(0).value<QImage>().size(), QSize(bounds.width, bounds.height));
}

TEST_F(TileGraderLoad, AFiveCorneredWallIsShownAndRefused)
{
    cv::Mat photo(PhotoSize, CV_8UC3, Background);
    const std::vector<cv::Point> pentagon{{300, 40}, {540, 170}, {470, 370}, {130, 370}, {60, 170}};
    cv::fillPoly(photo, std::vector<std::vector<cv::Point>>{pentagon}, cv::Scalar::all(220));
    QSignalSpy contoured(&m_grader, &TileGrader::contouredImageUpdated);
    QSignalSpy screen(&m_grader, &TileGrader::screenImageUpdated);
    MessageCapture log;
    EXPECT_FALSE(m_grader.loadOriginal(write("pentagon.png", photo), QString()));
    EXPECT_EQ(contoured.count(), 1);
    EXPECT_EQ(screen.count(), 0);
    EXPECT_FALSE(m_grader.hasScreenContour());
    EXPECT_TRUE(log.contains(
        "TileGrader failed to detect rectangular display in captured image: contour has 5 points, not 4!"));
}

TEST_F(TileGraderLoad, ReusingAContourNeedsOne)
{
    const QString black = write("black.png", cv::Mat(PhotoSize, CV_8UC3, cv::Scalar::all(0)));
    m_grader.setReuseScreenContour(true);
    MessageCapture log;
    EXPECT_FALSE(m_grader.loadOriginal(black, QString()));
    EXPECT_TRUE(log.contains("TileGrader failed to detect display in captured image: no contour found!"));

    // Once found, the contour is kept even for a photo in which none would be found.
    m_grader.setReuseScreenContour(false);
    ASSERT_TRUE(m_grader.loadOriginal(write("wall.png", wallPhoto()), QString()));
    const TileGrader::Contour found = *m_grader.screenContour();
    m_grader.setReuseScreenContour(true);
    EXPECT_TRUE(m_grader.loadOriginal(black, QString()));
    EXPECT_EQ(*m_grader.screenContour(), found);
}

// Only a name ending in "ARW", in capitals, is developed as raw.
struct NamingCase
{
    const char* name;
    const char* file;
    bool raw;
    bool loads;
};

void PrintTo(const NamingCase& test, std::ostream* os)
{
    *os << test.name;
}

class TileGraderNaming : public TileGraderLoad, public ::testing::WithParamInterface<NamingCase>
{
};

TEST_P(TileGraderNaming, DecidesTheDevelopmentByTheEnding)
{
    const QString path = write(GetParam().file, wallPhoto());
    MessageCapture log;
    EXPECT_EQ(m_grader.loadOriginal(path, QString()), GetParam().loads);
    EXPECT_EQ(m_grader.usingRawImages(), GetParam().raw);
    if (!GetParam().loads) {
        EXPECT_TRUE(log.contains(QStringLiteral("TileGrader: unable to load or interpret image from %1.").arg(path)));
    }
}

INSTANTIATE_TEST_SUITE_P(Names, TileGraderNaming,
                         ::testing::Values(NamingCase{"LowerCaseIsAColourPhoto", "wall.arw", false, true},
                                           NamingCase{"CapitalsAreRaw", "wall.ARW", true, false}),
                         [](const ::testing::TestParamInfo<NamingCase>& info) { return std::string(info.param.name); });

TEST_F(TileGraderLoad, AMissingPhotoOrDarkFrameFailsTheLoad)
{
    const QString photo = write("wall.png", wallPhoto());
    MessageCapture log;
    const QString missing = m_folder.filePath("missing.png");
    EXPECT_FALSE(m_grader.loadOriginal(missing, QString()));
    EXPECT_TRUE(log.contains(QStringLiteral("TileGrader: unable to load or interpret image from %1.").arg(missing)));
    EXPECT_FALSE(m_grader.loadOriginal(photo, missing));
    EXPECT_TRUE(log.contains(QStringLiteral("TileGrader: unable to load or interpret dark image from %1.").arg(missing)));
    EXPECT_TRUE(log.contains("            dark file does NOT exist."));
}

TEST_F(TileGraderLoad, ADarkFrameOfAnotherSizeFailsTheLoad)
{
    const QString photo = write("wall.png", wallPhoto());
    const QString dark = write("dark.png", cv::Mat(PhotoSize.height, PhotoSize.width - 2, CV_8UC3, Background));
    MessageCapture log;
    EXPECT_FALSE(m_grader.loadOriginal(photo, dark));
    EXPECT_FALSE(log.messages().filter("cannot subtract").isEmpty());
}

TEST_F(TileGraderLoad, DarkSubtractionStopsAtBlack)
{
    // A reflection in the dark frame brighter than the wall where it falls.
    cv::Mat dark(PhotoSize, CV_8UC3, Background);
    const cv::Rect reflection(280, 180, 40, 40);
    dark(reflection).setTo(cv::Scalar::all(250));
    ASSERT_TRUE(m_grader.loadOriginal(write("wall.png", wallPhoto()), write("dark.png", dark)));

    // The reflection's place in the screen image: black, not wrapped around to white.
    const TileGrader::Contour& contour = *m_grader.screenContour();
    const cv::Rect bounds = cv::boundingRect(contour);
    const cv::Mat& screen = m_grader.screenImage();
    const cv::Point centre(300 - bounds.x, 200 - bounds.y); // near enough: the warp is mild there
    const cv::Scalar hole = cv::mean(screen(cv::Rect(centre - cv::Point(5, 5), cv::Size(10, 10))));
    expectColour(hole, cv::Scalar::all(0), 0.5);
    const cv::Scalar lit = cv::mean(screen(cv::Rect(20, 20, 10, 10)));
    EXPECT_GT(lit[0], 100.0);
}

TEST_F(TileGraderLoad, RawPhotoAndRawDarkFrameGoThroughTheLoad)
{
    // The wall drawn in linear light, as the camera's sensor sees it, over a dim ambient level.
    const cv::Size size(400, 300);
    const cv::Mat wall(200, 300, CV_16UC3, cv::Scalar(8000, 12000, 10000));
    cv::Mat light(size, CV_16UC3, cv::Scalar::all(600));
    const TestPhotos::Quad quad = TestPhotos::mildPerspective(size);
    const cv::Mat transform = cv::getPerspectiveTransform(
        std::vector<cv::Point2f>{{0, 0}, {300, 0}, {300, 200}, {0, 200}}, std::vector<cv::Point2f>(quad.begin(), quad.end()));
    cv::warpPerspective(wall, light, transform, size, cv::INTER_LINEAR, cv::BORDER_TRANSPARENT);
    const cv::Mat dark(size, CV_16UC3, cv::Scalar::all(600));
    const QString lightPath = m_folder.filePath("light.ARW");
    const QString darkPath = m_folder.filePath("dark.ARW");
    ASSERT_TRUE(TestPhotos::writeDng(lightPath, light));
    ASSERT_TRUE(TestPhotos::writeDng(darkPath, dark));

    m_grader.setProfiling(true);
    MessageCapture log;
    ASSERT_TRUE(m_grader.loadOriginal(lightPath, darkPath)) << log.messages().join('\n').toStdString();
    EXPECT_TRUE(m_grader.usingRawImages());
    ASSERT_TRUE(m_grader.hasScreenContour());
    const cv::Rect bounds = cv::boundingRect(*m_grader.screenContour());
    EXPECT_EQ(m_grader.screenImage().size(), bounds.size());
    EXPECT_NEAR(bounds.width, 0.8 * size.width, 8);
    EXPECT_NEAR(bounds.height, 0.76 * size.height, 8);
    EXPECT_FALSE(log.messages().filter("bright center exposure RGB").isEmpty());
    EXPECT_FALSE(log.messages().filter("bright / dark is").isEmpty());

    // The ambient level was taken off the wall.
    const double withDark = cv::mean(m_grader.screenImage())[1];
    ASSERT_TRUE(m_grader.loadOriginal(lightPath, QString()));
    EXPECT_LT(withDark, cv::mean(m_grader.screenImage())[1] - 1.0);
}

} // namespace
