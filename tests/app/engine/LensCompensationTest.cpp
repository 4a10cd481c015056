#include "engine/LensCompensation.h"
#include "support/MessageCapture.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include <QTemporaryDir>

#include <optional>
#include <ostream>

namespace {

// Which lens files the radial model describes, and with which coefficient.
struct LensName
{
    const char* name;
    const char* file;
    std::optional<float> coefficient;
};

void PrintTo(const LensName& test, std::ostream* os)
{
    *os << test.name;
}

class RadialModelChoice : public ::testing::TestWithParam<LensName>
{
};

TEST_P(RadialModelChoice, FollowsTheBaseName)
{
    EXPECT_EQ(LensCompensation(QString::fromUtf8(GetParam().file)).radialCoefficient(), GetParam().coefficient);
}

INSTANTIATE_TEST_SUITE_P(
    LensFiles, RadialModelChoice,
    ::testing::Values(LensName{"At50", ":src/lenscomp/ILCE-7C_FE_4^024-070_@050.jpg", 1.2829823e-05f},
                      LensName{"At70", ":src/lenscomp/ILCE-7C_FE_4^024-070_@070.jpg", 1.1498427e-05f},
                      LensName{"At70WithoutExtension", "ILCE-7C_FE_4^024-070_@070", 1.1498427e-05f},
                      LensName{"RangeHasItsOwnImage", ":src/lenscomp/ILCE-7C_FE_4^024-070_@050~70.jpg", std::nullopt},
                      LensName{"OtherBody", ":src/lenscomp/ILCE-7SM3_FE_4^024-070_@050.jpg", std::nullopt},
                      LensName{"OtherFocalLength", ":src/lenscomp/ILCE-7C_FE_4^024-070_@035.jpg", std::nullopt},
                      LensName{"None", "", std::nullopt}),
    [](const ::testing::TestParamInfo<LensName>& info) { return std::string(info.param.name); });

TEST(LensCompensation, RadialModelBrightensTheCornersAndKeepsTheCentre)
{
    cv::Mat image(120, 180, CV_32FC3, cv::Scalar::all(100.0f));
    LensCompensation(QStringLiteral(":src/lenscomp/ILCE-7C_FE_4^024-070_@050.jpg")).apply(image);
    EXPECT_NEAR(image.at<cv::Vec3f>(0, 0)[0], 117.66f, 0.01f);
    EXPECT_NEAR(image.at<cv::Vec3f>(0, 0)[2], 117.66f, 0.01f);
    EXPECT_FLOAT_EQ(image.at<cv::Vec3f>(60, 90)[1], 100.0f);
    EXPECT_GT(image.at<cv::Vec3f>(119, 179)[1], 117.0f);
}

class ShadingImage : public ::testing::Test
{
protected:
    // A 180 × 120 shading image, white but for the given bands and a black block.
    QString writeShading(int darkColumns, int darkRows)
    {
        cv::Mat shading(120, 180, CV_8UC3, cv::Scalar::all(255));
        shading.colRange(0, darkColumns).setTo(cv::Scalar::all(128));
        shading.rowRange(0, darkRows).setTo(cv::Scalar::all(128));
        shading(cv::Rect(140, 80, 20, 20)).setTo(cv::Scalar::all(0));
        const QString path = m_folder.filePath("shading.png");
        EXPECT_TRUE(cv::imwrite(path.toStdString(), shading));
        return path;
    }

    QTemporaryDir m_folder;
};

// The shading image covers the photo at 3:2; the photo's other side crops it, centred.
struct Fit
{
    const char* name;
    cv::Size photo;
    int darkColumns;
    int darkRows;
    cv::Point darkPoint;  // in the photo, under the darker band
    cv::Point whitePoint; // in the photo, clear of it
};

void PrintTo(const Fit& test, std::ostream* os)
{
    *os << test.name;
}

class ShadingFit : public ShadingImage, public ::testing::WithParamInterface<Fit>
{
};

TEST_P(ShadingFit, CoversThePhoto)
{
    const Fit& fit = GetParam();
    const cv::Mat shading = LensCompensation(writeShading(fit.darkColumns, fit.darkRows)).fittedShading(fit.photo);
    ASSERT_EQ(shading.size(), fit.photo);
    EXPECT_EQ(shading.at<cv::Vec3b>(fit.darkPoint), cv::Vec3b::all(128));
    EXPECT_EQ(shading.at<cv::Vec3b>(fit.whitePoint), cv::Vec3b::all(255));
}

INSTANTIATE_TEST_SUITE_P(
    Photos, ShadingFit,
    ::testing::Values(
        // 400 × 300: scaled to 450 × 300 and cropped 25 each side, the band of 60 columns reaches 125.
        Fit{"Narrower", cv::Size(400, 300), 60, 0, cv::Point(115, 150), cv::Point(135, 150)},
        // 600 × 300: scaled to 600 × 400 and cropped 50 above and below, the band of 40 rows reaches 83.
        Fit{"Wider", cv::Size(600, 300), 0, 40, cv::Point(300, 75), cv::Point(300, 92)},
        // 360 × 240 is 3:2 already: scaled twice over and not cropped.
        Fit{"ThreeByTwo", cv::Size(360, 240), 30, 0, cv::Point(55, 120), cv::Point(65, 120)}),
    [](const ::testing::TestParamInfo<Fit>& info) { return std::string(info.param.name); });

TEST_F(ShadingImage, DividesTheFallOffOutWithoutInfinities)
{
    cv::Mat image(240, 360, CV_32FC3, cv::Scalar::all(64.0f));
    LensCompensation(writeShading(30, 0)).apply(image);
    EXPECT_TRUE(cv::checkRange(image));
    EXPECT_NEAR(image.at<cv::Vec3f>(120, 20)[0], 64.0f * 255 / 128, 0.01f);
    EXPECT_FLOAT_EQ(image.at<cv::Vec3f>(120, 180)[1], 64.0f);
    // The black block of the shading image divides as 1.
    EXPECT_FLOAT_EQ(image.at<cv::Vec3f>(180, 300)[2], 64.0f * 255);
}

TEST_F(ShadingImage, AnUnreadableLensFileLeavesThePhotoAsItIs)
{
    cv::Mat image(240, 360, CV_32FC3, cv::Scalar::all(64.0f));
    MessageCapture log;
    LensCompensation(m_folder.filePath("missing.jpg")).apply(image);
    EXPECT_EQ(cv::norm(image, cv::Mat(240, 360, CV_32FC3, cv::Scalar::all(64.0f)), cv::NORM_INF), 0.0);
    EXPECT_FALSE(log.messages().filter("cannot read the lens file").isEmpty());
}

} // namespace
