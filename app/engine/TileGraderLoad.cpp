// Loading a photo and extracting the wall from it.
#include "engine/ImageBuffers.h"
#include "engine/RawImageLoader.h"
#include "engine/TileGrader.h"

#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <QDebug>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <iostream>

namespace {

// Raw camera files are known by this ending of their name, as the camera writes it.
constexpr const char* RawEnding = "ARW";
constexpr double Black = 0.0;
constexpr double White = 255.0;
// The outline is simplified to within a hundredth of the image's larger side.
constexpr double SimplificationFraction = 1.0 / 100.0;
const cv::Scalar ContourColour(0, 255, 0);
constexpr int ContourThickness = 15;
// The exposure is judged on the central tenth of the image each way.
constexpr int CentreFraction = 10;

// The image's grey level in 8 bits (BGR weights, saturating), straight from one, three or four
// channels of any depth without a photo-sized intermediate; false for other channel counts.
bool greyEightBit(const cv::Mat& image, cv::Mat& grey)
{
    const int channels = image.channels();
    if (channels != 1 && channels != 3 && channels != 4)
        return false;
    // The colour conversion takes 8 and 16 bits and single floats; other depths go through floats.
    const int depth = image.depth();
    const bool convertible = depth == CV_8U || depth == CV_16U || depth == CV_32F;
    grey.create(image.size(), CV_8UC1);
    cv::parallel_for_(cv::Range(0, image.rows), [&](const cv::Range& rows) {
        cv::Mat rowFloat;
        cv::Mat rowGrey;
        for (int r = rows.start; r < rows.end; ++r) {
            cv::Mat in = image.row(r);
            cv::Mat out = grey.row(r);
            if (channels == 1) {
                in.convertTo(out, CV_8U);
                continue;
            }
            if (!convertible) {
                in.convertTo(rowFloat, CV_32F);
                in = rowFloat;
            }
            cv::cvtColor(in, rowGrey, channels == 3 ? cv::COLOR_BGR2GRAY : cv::COLOR_BGRA2GRAY);
            rowGrey.convertTo(out, CV_8U);
        }
    });
    return true;
}

} // namespace

bool TileGrader::loadOriginal(QString imagePath, QString darkPath)
{
    m_useRaw = imagePath.endsWith(QLatin1String(RawEnding));
    qDebug("loadOriginal: %s, isRaw: %d", qUtf8Printable(imagePath), int(m_useRaw));
    m_timer.start();

    cv::Mat& photo = m_useRaw ? m_rawLight : m_photo;
    photo = readImage(imagePath);
    const qint64 loadTime = m_timer.elapsed();
    if (photo.empty()) {
        qWarning("TileGrader: unable to load or interpret image from %s.", qUtf8Printable(imagePath));
        return false;
    }

    if (!darkPath.isEmpty()) {
        if (!subtractDark(darkPath))
            return false;
    } else if (!m_useRaw && m_useLog) {
        cv::Mat linear(m_photo.size(), CV_16UC3);
        sLog3To16bitLinear(m_photo, linear);
        linearTo8BitGamma(linear, m_photo);
    }
    if (m_useRaw) {
        m_photo.create(m_rawLight.size(), CV_8UC3);
        linearTo8BitGamma(m_rawLight, m_photo);
    }
    ImageBuffers::keepIfSoleOwner(m_originalImage);
    ImageBuffers::convertDepth(m_photo, m_originalImage, CV_32F);
    m_lens.apply(m_originalImage);

    m_timer.restart();
    if (!m_reuseScreenContour) {
        m_screenContour = findLargestContour(m_originalImage);
        emit hasScreenContourChanged();
    }
    const qint64 contourTime = m_timer.elapsed();
    if (!m_screenContour) {
        qWarning("TileGrader failed to detect display in captured image: no contour found!");
        qWarning(" image file: %s", qUtf8Printable(imagePath));
        qWarning("  dark file: %s", qUtf8Printable(darkPath));
        return false;
    }

    // The outline drawn on the 8-bit preview reads the same as one drawn on the photo and then
    // converted, at a fraction of the cost.
    m_timer.restart();
    QImage contoured = makeImage(m_originalImage);
    if (cv::Mat view = viewOf(contoured); !view.empty())
        cv::drawContours(view, std::vector<Contour>{*m_screenContour}, 0, ContourColour, ContourThickness, cv::LINE_8);
    const qint64 contourImageTime = m_timer.elapsed();
    emit contouredImageUpdated(contoured);

    if (m_screenContour->size() != ScreenCorners) {
        qWarning("TileGrader failed to detect rectangular display in captured image: contour has %d points, not 4!",
                 int(m_screenContour->size()));
        return false;
    }

    m_timer.restart();
    ImageBuffers::keepIfSoleOwner(m_screenImage);
    extractScreenInto(m_originalImage, *m_screenContour, m_screenImage);
    const qint64 extractTime = m_timer.restart();
    const QImage screen = makeImage(m_screenImage);
    const qint64 screenImageTime = m_timer.elapsed();
    emit screenImageUpdated(screen);
    m_sectionsDirty = true;

    if (m_profiling)
        qDebug("load %lld contour %lld contourImage%lld extract %lld screenImage %lld", loadTime, contourTime,
               contourImageTime, extractTime, screenImageTime);
    return true;
}

cv::Mat TileGrader::readImage(const QString& path) const
{
    if (m_useRaw)
        return rawImageLoader(path.toStdString(), m_rawInterpolation, m_highlights, m_profiling);
    return cv::imread(path.toStdString(), cv::IMREAD_COLOR);
}

bool TileGrader::subtractDark(const QString& darkPath)
{
    cv::Mat& dark = m_useRaw ? m_rawDark : m_darkImage;
    dark = readImage(darkPath);
    if (dark.empty()) {
        qWarning("TileGrader: unable to load or interpret dark image from %s.", qUtf8Printable(darkPath));
        qWarning("            dark file %s.", QFileInfo::exists(darkPath) ? "exists" : "does NOT exist");
        return false;
    }
    const cv::Mat& photo = m_useRaw ? m_rawLight : m_photo;
    if (dark.size() != photo.size()) {
        qWarning("TileGrader: dark image %s is %d x %d, the photo %d x %d; cannot subtract it.",
                 qUtf8Printable(darkPath), dark.cols, dark.rows, photo.cols, photo.rows);
        return false;
    }

    if (!m_useRaw) {
        cv::Mat light(m_photo.size(), CV_16UC3);
        cv::Mat ambient(m_photo.size(), CV_16UC3);
        sLog3To16bitLinear(m_photo, light);
        sLog3To16bitLinear(m_darkImage, ambient);
        if (m_gain != 1.0f) {
            if (m_profiling)
                qDebug("gain tweak %f", double(m_gain));
            gainTweak(ambient, m_gain);
        }
        cv::subtract(light, ambient, light); // saturates at 0
        linearTo8BitGamma(light, m_photo);
        return true;
    }

    if (m_profiling) {
        qDebug("subtract dark raw from light raw:");
        const qint64 bright = centerExposure(m_rawLight, QStringLiteral("  bright"));
        const qint64 ambient = centerExposure(m_rawDark, QStringLiteral("    dark"));
        if (ambient != 0)
            qDebug("    bright / dark is %.2f", double(float(bright) / float(ambient)));
        else
            qDebug("    bright / dark is undefined: the dark centre is black");
    }
    if (m_gain != 1.0f) {
        if (m_profiling)
            qDebug("gain tweak %f", double(m_gain));
        gainTweak(m_rawDark, m_gain);
    }
    cv::subtract(m_rawLight, m_rawDark, m_rawLight); // saturates at 0
    return true;
}

std::vector<TileGrader::Contour> TileGrader::brightContours(const cv::Mat& image, const char* caller)
{
    std::vector<Contour> contours;
    if (image.empty())
        return contours;
    cv::Mat eightBit;
    if (!greyEightBit(image, eightBit)) {
        qWarning("%s: cannot threshold an image of %d channels", caller, image.channels());
        return contours;
    }
    const double threshold = cv::threshold(eightBit, eightBit, Black, White, cv::THRESH_BINARY | cv::THRESH_OTSU);
    qDebug("%s: threshold %g", caller, threshold);
    cv::findContours(eightBit, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
    return contours;
}

std::optional<TileGrader::Contour> TileGrader::findLargestContour(cv::Mat image)
{
    const std::vector<Contour> contours = brightContours(image, "findLargestContour");
    const Contour* largest = nullptr;
    double largestArea = 0.0;
    for (const Contour& contour : contours) {
        const double area = cv::contourArea(contour);
        if (area > largestArea) {
            largestArea = area;
            largest = &contour;
        }
    }
    if (!largest)
        return std::nullopt;

    const auto epsilon = float(std::max(image.cols * SimplificationFraction, image.rows * SimplificationFraction));
    Contour simplified;
    cv::approxPolyDP(*largest, simplified, epsilon, true);
    return simplified;
}

cv::Mat TileGrader::extractScreen(cv::Mat image, Contour contour) const
{
    cv::Mat screen;
    extractScreenInto(image, contour, screen);
    return screen;
}

void TileGrader::extractScreenInto(const cv::Mat& image, const Contour& contour, cv::Mat& screen) const
{
    if (contour.size() != ScreenCorners || image.empty()) {
        qWarning("TileGrader::extractScreen: needs an image and 4 corners, got a %d x %d image and %d corners",
                 image.cols, image.rows, int(contour.size()));
        screen.release();
        return;
    }
    // Top two by y, then each pair left to right: top-left, top-right, bottom-right, bottom-left.
    std::array<cv::Point2f, ScreenCorners> corners;
    std::copy(contour.begin(), contour.end(), corners.begin());
    std::stable_sort(corners.begin(), corners.end(),
                     [](const cv::Point2f& a, const cv::Point2f& b) { return a.y < b.y; });
    if (corners[0].x > corners[1].x)
        std::swap(corners[0], corners[1]);
    if (corners[3].x > corners[2].x)
        std::swap(corners[3], corners[2]);

    const cv::Rect bounds = cv::boundingRect(contour);
    const auto width = float(bounds.width);
    const auto height = float(bounds.height);
    const std::array<cv::Point2f, ScreenCorners> upright{
        cv::Point2f(0, 0), cv::Point2f(width, 0), cv::Point2f(width, height), cv::Point2f(0, height)};
    const cv::Mat transform = cv::getPerspectiveTransform(corners.data(), upright.data(), cv::DECOMP_LU);
    cv::warpPerspective(image, screen, transform, bounds.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar());
}

qint64 TileGrader::centerExposure(cv::Mat3w image, QString name) const
{
    const int rows = image.rows / CentreFraction;
    const int cols = image.cols / CentreFraction;
    if (rows == 0 || cols == 0) {
        qWarning("%s center exposure: a %d x %d image has no centre to measure", qUtf8Printable(name), image.cols,
                 image.rows);
        return 0;
    }
    const int top = image.rows / 2 - rows / 2;
    const int left = image.cols / 2 - cols / 2;
    std::array<qint64, 3> sums{};
    for (int r = top; r < top + rows; ++r) {
        const cv::Vec3w* pixel = image.ptr<cv::Vec3w>(r);
        for (int c = left; c < left + cols; ++c) {
            for (size_t channel = 0; channel < sums.size(); ++channel) {
                const qint64 before = sums[channel];
                sums[channel] += pixel[c][int(channel)];
                if (sums[channel] < before)
                    std::cout << "Sum overflow!  " << c << "," << r << std::endl;
            }
        }
    }
    const qint64 count = qint64(rows) * cols;
    qDebug("%s center exposure RGB = %lld, %lld, %lld", qUtf8Printable(name), sums[2] / count, sums[1] / count,
           sums[0] / count);
    return sums[1] / count;
}
