#include "engine/RawImageLoader.h"
#include "support/MessageCapture.h"
#include "support/TestPhotos.h"

#include <gtest/gtest.h>

#include <libraw.h>

#include <opencv2/imgcodecs.hpp>

#include <QTemporaryDir>

#include <array>

namespace {

constexpr int Width = 40;
constexpr int Height = 30;

// A scene of one colour, linear 16-bit BGR.
cv::Mat uniformScene(cv::Vec3w bgr)
{
    return cv::Mat(Height, Width, CV_16UC3, cv::Scalar(bgr[0], bgr[1], bgr[2]));
}

class RawImageLoaderTest : public ::testing::Test
{
protected:
    std::string dng(const cv::Mat& scene, const QString& name = QStringLiteral("photo.ARW"))
    {
        const QString path = m_folder.filePath(name);
        EXPECT_TRUE(TestPhotos::writeDng(path, scene));
        return path.toStdString();
    }

    // The mean of the developed image away from its borders, where demosaicing has full support.
    static cv::Scalar centreMean(const cv::Mat& developed)
    {
        return cv::mean(developed(cv::Rect(4, 4, developed.cols - 8, developed.rows - 8)));
    }

    QTemporaryDir m_folder;
};

TEST_F(RawImageLoaderTest, DevelopsTheMosaicToItsSizeWithRedLastAndBlueFirst)
{
    const std::string path = dng(uniformScene({2000, 6000, 12000}));
    const cv::Mat developed = rawImageLoader(path, 0, 1, false);
    ASSERT_EQ(developed.type(), CV_16UC3);
    EXPECT_EQ(developed.size(), cv::Size(Width, Height));
    const cv::Scalar mean = centreMean(developed);
    EXPECT_GT(mean[2], 1.5 * mean[1]);
    EXPECT_GT(mean[1], 1.5 * mean[0]);
    const cv::Vec3w corner = developed.at<cv::Vec3w>(0, 0);
    EXPECT_GT(corner[2], corner[0]);
}

TEST_F(RawImageLoaderTest, DevelopmentIsLinear)
{
    const cv::Scalar single = centreMean(rawImageLoader(dng(uniformScene({3000, 4000, 5000})), 0, 1, false));
    const cv::Scalar doubled =
        centreMean(rawImageLoader(dng(uniformScene({6000, 8000, 10000}), "double.ARW"), 0, 1, false));
    for (int c = 0; c < 3; ++c) {
        ASSERT_GT(single[c], 100.0) << "channel " << c;
        EXPECT_NEAR(doubled[c] / single[c], 2.0, 0.01) << "channel " << c;
    }
}

TEST_F(RawImageLoaderTest, ClippedHighlightsDevelopDarker)
{
    const std::string path = dng(uniformScene({3000, 4000, 5000}));
    const cv::Scalar clipped = centreMean(rawImageLoader(path, 0, 0, false));
    const cv::Scalar unclipped = centreMean(rawImageLoader(path, 0, 1, false));
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(clipped[c] / unclipped[c], 0.395, 0.005) << "channel " << c;
}

TEST_F(RawImageLoaderTest, AFileThatIsNotRawGivesAnEmptyResultAndLibRawsReason)
{
    const QString png = m_folder.filePath(QStringLiteral("photo.png"));
    ASSERT_TRUE(cv::imwrite(png.toStdString(), cv::Mat(Height, Width, CV_8UC3, cv::Scalar(10, 20, 30))));
    MessageCapture log;
    const cv::Mat developed = rawImageLoader(png.toStdString(), 0, 0, false);
    EXPECT_TRUE(developed.empty());
    EXPECT_EQ(developed.type(), CV_16UC3);
    const QString expected = QStringLiteral("rawImageLoader: Cannot open %1: %2")
                                 .arg(png, QString::fromUtf8(libraw_strerror(LIBRAW_FILE_UNSUPPORTED)));
    EXPECT_TRUE(log.messages().join('\n').contains(expected)) << log.messages().join('\n').toStdString();
}

TEST_F(RawImageLoaderTest, AMissingFileGivesAnEmptyResult)
{
    MessageCapture log;
    EXPECT_TRUE(rawImageLoader(m_folder.filePath("missing.ARW").toStdString(), 0, 0, true).empty());
    EXPECT_TRUE(log.messages().join('\n').contains("Cannot open"));
    EXPECT_TRUE(log.messages().join('\n').contains("done!")) << "the processor is recycled after a failure too";
}

// Every demosaicing quality the grader admits develops the file.
class RawQualityTest : public RawImageLoaderTest, public ::testing::WithParamInterface<uint>
{
};

TEST_P(RawQualityTest, DevelopsAtThisQuality)
{
    const cv::Mat developed = rawImageLoader(dng(uniformScene({2000, 6000, 12000})), GetParam(), 1, false);
    ASSERT_EQ(developed.size(), cv::Size(Width, Height));
    const cv::Scalar mean = centreMean(developed);
    EXPECT_GT(mean[2], mean[0]);
}

INSTANTIATE_TEST_SUITE_P(AdmittedQualities, RawQualityTest, ::testing::Values(0u, 1u, 2u, 3u, 4u, 11u, 12u),
                         [](const ::testing::TestParamInfo<uint>& info) {
                             return "Quality" + std::to_string(info.param);
                         });

} // namespace
