#include "engine/TileGrader.h"
#include "support/MessageCapture.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

#include <functional>
#include <ostream>

namespace {

// A one-row matrix holding the given values in every channel.
template <typename T>
cv::Mat row(std::initializer_list<int> values, int type)
{
    cv::Mat m(1, int(values.size()), type);
    int c = 0;
    for (int v : values)
        m.at<cv::Vec<T, 3>>(0, c++) = cv::Vec<T, 3>::all(T(v));
    return m;
}

template <typename T>
std::vector<int> firstChannel(const cv::Mat& m)
{
    std::vector<int> values;
    for (int c = 0; c < m.cols; ++c)
        values.push_back(m.at<cv::Vec<T, 3>>(0, c)[0]);
    return values;
}

TEST(TileGraderTones, SLog3TableSpansTheSixteenBitRange)
{
    TileGrader grader;
    cv::Mat dest(1, 3, CV_16UC3, cv::Scalar::all(1));
    grader.sLog3To16bitLinear(row<uchar>({0, 131, 255}, CV_8UC3), dest);
    EXPECT_EQ(firstChannel<ushort>(dest), (std::vector<int>{8, 838, 65528}));
}

TEST(TileGraderTones, GammaEncodingEndsAtBlackAndWhiteAndScalesWithTheBoost)
{
    TileGrader grader;
    cv::Mat dest(1, 4, CV_8UC3);
    grader.linearTo8BitGamma(row<ushort>({0, 1000, 20000, 65535}, CV_16UC3), dest);
    EXPECT_EQ(firstChannel<uchar>(dest), (std::vector<int>{0, 46, 157, 255}));

    grader.setLinearGainBoost(2);
    grader.linearTo8BitGamma(row<ushort>({0, 1000, 20000, 65535}, CV_16UC3), dest);
    EXPECT_EQ(firstChannel<uchar>(dest), (std::vector<int>{0, 92, 255, 255}));
}

TEST(TileGraderTones, TweaksChangeTheCallersPixelsAndStayInRange)
{
    TileGrader grader;
    cv::Mat pixels = row<ushort>({0, 16384, 65535}, CV_16UC3);
    grader.gammaTweak(pixels, 0.5f);
    EXPECT_EQ(firstChannel<ushort>(pixels), (std::vector<int>{0, 32768, 65535}));

    pixels = row<ushort>({1001, 40000, 65535}, CV_16UC3);
    grader.gainTweak(pixels, 2.0f);
    EXPECT_EQ(firstChannel<ushort>(pixels), (std::vector<int>{2002, 65535, 65535})) << "saturates, never wraps";
    grader.gainTweak(pixels, 0.25f);
    EXPECT_EQ(firstChannel<ushort>(pixels), (std::vector<int>{500, 16383, 16383})) << "truncates toward zero";
    grader.gainTweak(pixels, -1.0f);
    EXPECT_EQ(firstChannel<ushort>(pixels), (std::vector<int>{0, 0, 0}));
}

// A destination the conversion cannot fill is refused, logged, and left as it was.
struct RefusedConversion
{
    const char* name;
    std::function<void(TileGrader&, cv::Mat& dest)> convert;
    cv::Mat dest;
};

void PrintTo(const RefusedConversion& test, std::ostream* os)
{
    *os << test.name;
}

class TileGraderRefusal : public ::testing::TestWithParam<RefusedConversion>
{
};

TEST_P(TileGraderRefusal, LeavesTheDestinationUntouched)
{
    TileGrader grader;
    cv::Mat dest = GetParam().dest.clone();
    const cv::Mat before = dest.clone();
    MessageCapture log;
    GetParam().convert(grader, dest);
    EXPECT_FALSE(log.messages().filter("refusing").isEmpty());
    ASSERT_EQ(dest.size(), before.size());
    EXPECT_EQ(cv::norm(dest, before, cv::NORM_INF), 0.0);
}

const cv::Mat Log8 = cv::Mat(4, 6, CV_8UC3, cv::Scalar::all(200));
const cv::Mat Linear16 = cv::Mat(4, 6, CV_16UC3, cv::Scalar::all(30000));

INSTANTIATE_TEST_SUITE_P(
    Destinations, TileGraderRefusal,
    ::testing::Values(
        RefusedConversion{"LinearTooNarrow", [](TileGrader& g, cv::Mat& d) { g.sLog3To16bitLinear(Log8, d); },
                          cv::Mat(4, 5, CV_16UC3, cv::Scalar::all(7))},
        RefusedConversion{"LinearTooShort", [](TileGrader& g, cv::Mat& d) { g.sLog3To16bitLinear(Log8, d); },
                          cv::Mat(3, 6, CV_16UC3, cv::Scalar::all(7))},
        RefusedConversion{"LinearOfEightBits", [](TileGrader& g, cv::Mat& d) { g.sLog3To16bitLinear(Log8, d); },
                          cv::Mat(4, 6, CV_8UC3, cv::Scalar::all(7))},
        RefusedConversion{"LinearOfOneChannel", [](TileGrader& g, cv::Mat& d) { g.sLog3To16bitLinear(Log8, d); },
                          cv::Mat(4, 18, CV_16UC1, cv::Scalar::all(7))},
        RefusedConversion{"LinearFromSixteenBits",
                          [](TileGrader& g, cv::Mat& d) { g.sLog3To16bitLinear(Linear16, d); },
                          cv::Mat(4, 6, CV_16UC3, cv::Scalar::all(7))},
        RefusedConversion{"GammaTooSmall", [](TileGrader& g, cv::Mat& d) { g.linearTo8BitGamma(Linear16, d); },
                          cv::Mat(2, 2, CV_8UC3, cv::Scalar::all(7))},
        RefusedConversion{"GammaOfSixteenBits", [](TileGrader& g, cv::Mat& d) { g.linearTo8BitGamma(Linear16, d); },
                          cv::Mat(4, 6, CV_16UC3, cv::Scalar::all(7))},
        RefusedConversion{"GammaOfFourChannels",
                          [](TileGrader& g, cv::Mat& d) { g.linearTo8BitGamma(Linear16, d); },
                          cv::Mat(4, 6, CV_8UC4, cv::Scalar::all(7))}),
    [](const ::testing::TestParamInfo<RefusedConversion>& info) { return std::string(info.param.name); });

TEST(TileGraderTones, ALargerDestinationTakesTheSourceInItsCorner)
{
    TileGrader grader;
    cv::Mat dest(6, 8, CV_16UC3, cv::Scalar::all(7));
    grader.sLog3To16bitLinear(Log8, dest);
    EXPECT_EQ(dest.at<cv::Vec3w>(3, 5), cv::Vec3w::all(9478));
    EXPECT_EQ(dest.at<cv::Vec3w>(5, 7), cv::Vec3w::all(7));
}

QColor pixel(const QImage& image, int x, int y)
{
    return image.pixelColor(x, y);
}

TEST(TileGraderTones, PreviewsShowEveryMatrixAsBlueGreenRed)
{
    TileGrader grader;

    cv::Mat colour(3, 4, CV_32FC3, cv::Scalar(10.4f, 300.0f, -5.0f));
    QImage image = grader.makeImage(colour);
    ASSERT_EQ(image.size(), QSize(4, 3));
    EXPECT_EQ(image.format(), QImage::Format_BGR888);
    EXPECT_EQ(pixel(image, 3, 2), QColor(0, 255, 10)) << "saturated into 8 bits, red last";

    image = grader.makeImage(cv::Mat(3, 4, CV_8UC1, cv::Scalar(77)));
    ASSERT_EQ(image.size(), QSize(4, 3));
    EXPECT_EQ(pixel(image, 3, 2), QColor(77, 77, 77));

    image = grader.makeImage(cv::Mat(3, 4, CV_16UC4, cv::Scalar(1, 2, 3, 4)));
    ASSERT_EQ(image.size(), QSize(4, 3));
    EXPECT_EQ(pixel(image, 3, 2), QColor(3, 2, 1));

    MessageCapture log;
    EXPECT_TRUE(grader.makeImage(cv::Mat(3, 4, CV_8UC2, cv::Scalar(1, 2))).isNull());
    EXPECT_TRUE(grader.makeImage(cv::Mat()).isNull());
}

// Settings and the values the grader keeps for them.
struct SetterCase
{
    const char* name;
    std::function<void(TileGrader&)> set;
    std::function<uint(const TileGrader&)> read;
    uint expected;
};

void PrintTo(const SetterCase& test, std::ostream* os)
{
    *os << test.name;
}

class TileGraderSetter : public ::testing::TestWithParam<SetterCase>
{
};

TEST_P(TileGraderSetter, KeepsTheAdmittedValue)
{
    TileGrader grader;
    MessageCapture log;
    GetParam().set(grader);
    EXPECT_EQ(GetParam().read(grader), GetParam().expected);
}

uint interpolation(const TileGrader& g)
{
    return g.rawInterpolation();
}
uint highlights(const TileGrader& g)
{
    return g.highlightRecovery();
}

INSTANTIATE_TEST_SUITE_P(
    Settings, TileGraderSetter,
    ::testing::Values(
        SetterCase{"InterpolationTwelve", [](TileGrader& g) { g.setRawInterpolation(12); }, interpolation, 12},
        SetterCase{"InterpolationFour", [](TileGrader& g) { g.setRawInterpolation(4); }, interpolation, 4},
        SetterCase{"InterpolationFiveIsBilinear", [](TileGrader& g) { g.setRawInterpolation(5); }, interpolation, 0},
        SetterCase{"InterpolationTenIsBilinear", [](TileGrader& g) { g.setRawInterpolation(10); }, interpolation, 0},
        SetterCase{"HighlightsNine", [](TileGrader& g) { g.setHighlightRecovery(9); }, highlights, 9},
        SetterCase{"HighlightsTenRebuilds", [](TileGrader& g) { g.setHighlightRecovery(10); }, highlights, 3},
        SetterCase{"LinearGainBoost", [](TileGrader& g) { g.setLinearGainBoost(4); },
                   [](const TileGrader& g) { return g.linearGainBoost(); }, 4}),
    [](const ::testing::TestParamInfo<SetterCase>& info) { return std::string(info.param.name); });

TEST(TileGraderSettings, UnknownRawValuesAreLoggedAsTheyFallBack)
{
    TileGrader grader;
    MessageCapture log;
    grader.setRawInterpolation(5);
    grader.setHighlightRecovery(10);
    EXPECT_TRUE(log.contains("Unknown raw interpolation value 5; using 0 (bilinear)"));
    EXPECT_TRUE(log.contains("unknown highlight recovery mode 10, using 3 (rebuild favoring white)"));
}

TEST(TileGraderSettings, SectionAndContourSettersAnnounceThemselves)
{
    TileGrader grader;
    QSignalSpy sections(&grader, &TileGrader::sectionsUpdated);
    QSignalSpy subsections(&grader, &TileGrader::subsectionsUpdated);
    QSignalSpy aspect(&grader, &TileGrader::aspectRatioUpdated);
    QSignalSpy reuse(&grader, &TileGrader::reuseScreenContourChanged);
    grader.setSections(4, 3);
    grader.setSectionsW(4);
    grader.setSectionsH(5);
    grader.setSubsections(2, 2);
    grader.setAspectRatio(2.0f);
    grader.setReuseScreenContour(true);
    grader.setReuseScreenContour(true);
    EXPECT_EQ(sections.count(), 3);
    EXPECT_EQ(subsections.count(), 1);
    EXPECT_EQ(aspect.count(), 1) << "announced even when unchanged";
    EXPECT_EQ(reuse.count(), 1) << "announced only on a change";
}

} // namespace
