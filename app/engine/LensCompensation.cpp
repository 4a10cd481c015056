#include "engine/LensCompensation.h"

#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include <QDebug>
#include <QFileInfo>
#include <QImage>

#include <algorithm>
#include <array>
#include <vector>

namespace {

// Lenses whose fall-off the radial model describes, and its coefficient per focal length.
constexpr std::array RadialLenses{"ILCE-7C_FE_4^024-070_@050", "ILCE-7C_FE_4^024-070_@070"};
constexpr const char* FocalLength50 = "@050";
constexpr const char* FocalLength70 = "@070";
constexpr float Coefficient50 = 1.2829823e-05f;
constexpr float Coefficient70 = 1.1498427e-05f;
// The model's coordinate frame: that of the 180 × 120 shading images, centred.
constexpr float FrameWidth = 180.0f;
constexpr float FrameHeight = 120.0f;

// Shading images are 3:2.
constexpr double ShadingAspect = 1.5;
constexpr float ShadingWhite = 255.0f;

} // namespace

LensCompensation::LensCompensation(QString lensFile)
    : m_lensFile(std::move(lensFile))
{
}

std::optional<float> LensCompensation::radialCoefficient() const
{
    const bool modelled = std::any_of(RadialLenses.begin(), RadialLenses.end(),
                                      [this](const char* lens) { return m_lensFile.contains(QLatin1String(lens)); });
    if (!modelled)
        return std::nullopt;
    // By the base name: a resource path ends in ".jpg", and a focal range such as "@050~70" has its
    // own shading image.
    const QString name = QFileInfo(m_lensFile).completeBaseName();
    if (name.endsWith(QLatin1String(FocalLength50)))
        return Coefficient50;
    if (name.endsWith(QLatin1String(FocalLength70)))
        return Coefficient70;
    return std::nullopt;
}

void LensCompensation::apply(cv::Mat& image)
{
    if (m_lensFile.isEmpty() || image.empty())
        return;
    if (image.type() != CV_32FC3) {
        qWarning("LensCompensation: cannot correct an image of type %d", image.type());
        return;
    }
    if (const std::optional<float> coefficient = radialCoefficient()) {
        applyRadial(image, *coefficient);
        return;
    }
    if (m_fitted.size() != image.size())
        m_fitted = fittedShading(image.size());
    if (m_fitted.empty())
        return;
    qDebug("original image %d x %d", image.cols, image.rows);
    qDebug("final cvShader %d x %d", m_fitted.cols, m_fitted.rows);
    qDebug("matrix types: original %d shader %d", image.type(), m_fitted.type());
    divideByShading(image, m_fitted);
}

cv::Mat LensCompensation::fittedShading(cv::Size size) const
{
    if (size.empty())
        return cv::Mat();
    const QImage read(m_lensFile);
    if (read.isNull()) {
        qWarning("LensCompensation: cannot read the lens file %s", qUtf8Printable(m_lensFile));
        return cv::Mat();
    }
    const QImage shader = read.convertToFormat(QImage::Format_BGR888);
    qDebug("shader is %d x %d, format is %d (0x%X)", shader.width(), shader.height(), int(shader.format()),
           uint(shader.format()));
    const cv::Mat pixels(shader.height(), shader.width(), CV_8UC3, const_cast<uchar*>(shader.constBits()),
                         size_t(shader.bytesPerLine()));

    // Cover the photo at 3:2: its long side spans the shading image, the other is cropped.
    const int cols = size.width;
    const int rows = size.height;
    const double aspect = double(cols) / rows;
    const double targetWidth = aspect >= ShadingAspect ? cols : rows * ShadingAspect;
    const double targetHeight = aspect <= ShadingAspect ? rows : cols / ShadingAspect;
    qDebug("orig is %d x %d, ar is %f, target %.1f x %.1f, scale %.2f", cols, rows, aspect, targetWidth, targetHeight,
           targetWidth / shader.width());

    cv::Mat scaled;
    cv::resize(pixels, scaled, cv::Size(int(targetWidth), int(targetHeight)), 0, 0, cv::INTER_LINEAR);
    qDebug("scaled is %d x %d", scaled.cols, scaled.rows);

    const int x0 = std::max((scaled.cols - cols) / 2, 0);
    const int y0 = std::max((scaled.rows - rows) / 2, 0);
    const int x1 = std::min(x0 + cols, scaled.cols);
    const int y1 = std::min(y0 + rows, scaled.rows);
    qDebug("cropping to rows (%d %d) cols (%d, %d)", y0, y1, x0, x1);
    const cv::Mat cropped = scaled(cv::Range(y0, y1), cv::Range(x0, x1));

    if (cropped.size() == size) {
        qDebug("sizes match; straight copy");
        return cropped;
    }
    qDebug("sizes don't match; resize copy");
    cv::Mat fitted;
    cv::resize(cropped, fitted, size, 0, 0, cv::INTER_LINEAR);
    return fitted;
}

void LensCompensation::applyRadial(cv::Mat& image, float coefficient)
{
    // f = 1 / (1 − (h² + v²) k), with h and v the pixel's offset from the centre in the model's frame.
    std::vector<float> horizontal(size_t(image.cols));
    for (int c = 0; c < image.cols; ++c) {
        const float h = float(c) * FrameWidth / float(image.cols) - FrameWidth / 2;
        horizontal[size_t(c)] = h * h;
    }
    cv::parallel_for_(cv::Range(0, image.rows), [&](const cv::Range& range) {
        for (int r = range.start; r < range.end; ++r) {
            const float v = float(r) * FrameHeight / float(image.rows) - FrameHeight / 2;
            const float vv = v * v;
            auto* pixel = image.ptr<cv::Vec3f>(r);
            for (int c = 0; c < image.cols; ++c)
                pixel[c] *= 1.0f / (1.0f - (horizontal[size_t(c)] + vv) * coefficient);
        }
    });
}

void LensCompensation::divideByShading(cv::Mat& image, const cv::Mat& shading)
{
    // 255 / s for every shading value; a black shading pixel would divide to infinity.
    std::array<float, 256> factor{};
    factor[0] = ShadingWhite;
    for (size_t s = 1; s < factor.size(); ++s)
        factor[s] = ShadingWhite / float(s);
    cv::parallel_for_(cv::Range(0, image.rows), [&](const cv::Range& range) {
        for (int r = range.start; r < range.end; ++r) {
            float* pixel = image.ptr<float>(r);
            const uchar* shade = shading.ptr<uchar>(r);
            for (int i = 0; i < image.cols * 3; ++i)
                pixel[i] *= factor[shade[i]];
        }
    });
}
