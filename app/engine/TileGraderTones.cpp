// Tone conversions and preview images of the tile grader.
#include "engine/ImageBuffers.h"
#include "engine/TileGrader.h"

#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include <QDebug>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr int EightBitLevels = 256;
constexpr int SixteenBitLevels = 65536;
constexpr double SixteenBitMax = 65535.0;
constexpr double EightBitMax = 255.0;

// S-Log3 code values to linear light: 10^(i / 65.5) / 30.545, scaled so that code 255 lands just
// below the top of the 16-bit range.
constexpr double SLog3Step = 65.5;
constexpr double SLog3Divisor = 30.545;
constexpr double SLog3Scale = 256.0;
// The power that encodes linear light for the 8-bit image the wall is found in.
constexpr float EncodingGamma = 0.41f;

// Round half away from zero, then clamp into 0..top; NaN gives 0.
template <typename T>
T roundClamped(double value, double top)
{
    if (!(value > 0.0))
        return 0;
    return static_cast<T>(std::min(std::round(value), top));
}

// Maps every channel of every pixel of src through table into dst (which may be src), spreading
// the rows over the cores. dst has at least src's rows and columns and its channel count.
template <typename In, typename Out>
void mapThroughTable(const cv::Mat& src, cv::Mat& dst, const std::vector<Out>& table)
{
    const int values = src.cols * src.channels();
    cv::parallel_for_(cv::Range(0, src.rows), [&](const cv::Range& rows) {
        for (int r = rows.start; r < rows.end; ++r) {
            const In* in = src.ptr<In>(r);
            Out* out = dst.ptr<Out>(r);
            for (int i = 0; i < values; ++i)
                out[i] = table[in[i]];
        }
    });
}

// Whether dest can take the conversion of src: of type destType and at least src's size.
bool destinationFits(const char* operation, const cv::Mat& src, int srcType, const cv::Mat& dest, int destType)
{
    if (src.type() != srcType) {
        qWarning("TileGrader::%s: refusing a source of type %d (expected %d)", operation, src.type(), srcType);
        return false;
    }
    if (dest.type() != destType || dest.rows < src.rows || dest.cols < src.cols) {
        qWarning("TileGrader::%s: refusing a destination of type %d, %d x %d, for a source of %d x %d (expected type %d)",
                 operation, dest.type(), dest.cols, dest.rows, src.cols, src.rows, destType);
        return false;
    }
    return true;
}

} // namespace

void TileGrader::sLog3To16bitLinear(cv::Mat src, cv::Mat dest)
{
    if (!destinationFits("sLog3To16bitLinear", src, CV_8UC3, dest, CV_16UC3))
        return;
    std::vector<ushort> table(EightBitLevels);
    for (int i = 0; i < EightBitLevels; ++i)
        table[i] = roundClamped<ushort>(std::pow(10.0, i / SLog3Step) / SLog3Divisor * SLog3Scale, SixteenBitMax);
    mapThroughTable<uchar>(src, dest, table);
}

void TileGrader::linearTo8BitGamma(cv::Mat3w src, cv::Mat dest)
{
    if (!destinationFits("linearTo8BitGamma", src, CV_16UC3, dest, CV_8UC3))
        return;
    if (m_profiling)
        qDebug("Linear gain boost: %u", m_linearGainBoost);
    const float scale = float(EightBitMax) * float(m_linearGainBoost);
    std::vector<uchar> table(SixteenBitLevels);
    for (int i = 0; i < SixteenBitLevels; ++i)
        table[i] = roundClamped<uchar>(std::pow(float(i) / float(SixteenBitMax), EncodingGamma) * scale, EightBitMax);
    mapThroughTable<ushort>(src, dest, table);
}

void TileGrader::gammaTweak(cv::Mat3w src, float gamma)
{
    std::vector<ushort> table(SixteenBitLevels);
    for (int i = 0; i < SixteenBitLevels; ++i)
        table[i] = roundClamped<ushort>(std::pow(float(i) / float(SixteenBitMax), gamma) * float(SixteenBitMax),
                                        SixteenBitMax);
    cv::Mat pixels = src;
    mapThroughTable<ushort>(pixels, pixels, table);
}

void TileGrader::gainTweak(cv::Mat3w src, float gain)
{
    // Truncated toward zero like the product it stands for, but held within the 16-bit range.
    std::vector<ushort> table(SixteenBitLevels);
    for (int i = 0; i < SixteenBitLevels; ++i) {
        const float product = float(i) * gain;
        table[i] = !(product > 0.0f) ? 0 : static_cast<ushort>(std::min(product, float(SixteenBitMax)));
    }
    cv::Mat pixels = src;
    mapThroughTable<ushort>(pixels, pixels, table);
}

QImage TileGrader::makeImage(cv::Mat mat) const
{
    const int channels = mat.channels();
    if (mat.empty() || (channels != 1 && channels != 3 && channels != 4)) {
        if (!mat.empty())
            qWarning("TileGrader::makeImage: cannot show a matrix of %d channels", channels);
        return QImage();
    }

    // Converted straight into the image's own buffer, so the preview costs no further copy.
    QImage image(mat.cols, mat.rows, QImage::Format_BGR888);
    if (image.isNull())
        return image;
    cv::Mat view = viewOf(image);
    if (channels == 3) {
        ImageBuffers::convertDepth(mat, view, CV_8U);
    } else {
        cv::Mat eightBit;
        mat.convertTo(eightBit, CV_8U);
        cv::cvtColor(eightBit, view, channels == 1 ? cv::COLOR_GRAY2BGR : cv::COLOR_BGRA2BGR);
    }
    return image;
}

cv::Mat TileGrader::viewOf(QImage& image)
{
    if (image.isNull() || image.format() != QImage::Format_BGR888)
        return cv::Mat();
    return cv::Mat(image.height(), image.width(), CV_8UC3, image.bits(), size_t(image.bytesPerLine()));
}
