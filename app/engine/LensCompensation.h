#pragma once

#include <opencv2/core.hpp>

#include <QString>

#include <optional>

// Divides a lens's fall-off out of a photo. The lens file names either a lens and focal length
// that the radial model describes (its base name ends in "@050" or "@070") or a shading image:
// white at the centre and darker toward the corners, 3:2, fitted over the photo.
class LensCompensation
{
public:
    explicit LensCompensation(QString lensFile = QString());

    QString lensFile() const { return m_lensFile; }

    // The radial model's coefficient for the lens file, when the model applies to it.
    std::optional<float> radialCoefficient() const;
    // Corrects a 32-bit float BGR image in place. Nothing happens without a lens file, for an
    // image of another type, or when the shading image cannot be read (logged). The shading image
    // fitted to the last size is kept for the next photo of that size.
    void apply(cv::Mat& image);
    // The shading image scaled and cropped to cover size at 3:2, 8-bit BGR; empty, logged, when
    // the lens file cannot be read as an image.
    cv::Mat fittedShading(cv::Size size) const;

private:
    static void applyRadial(cv::Mat& image, float coefficient);
    // image × 255 / shading, a zero shading value dividing as 1.
    static void divideByShading(cv::Mat& image, const cv::Mat& shading);

    QString m_lensFile;
    cv::Mat m_fitted;
};
