#pragma once

#include <opencv2/core.hpp>

#include <QString>

#include <array>
#include <vector>

// Photos for the grader's tests and benchmark, drawn with OpenCV and written through the real
// codecs: walls of coloured sections seen in perspective, and raw camera files.
namespace TestPhotos {

// Corners of a wall in a photo: top-left, top-right, bottom-right, bottom-left.
using Quad = std::array<cv::Point2f, 4>;

// A flat wall of sections wide × high, each filled with colours[section row × wide + section column]
// (BGR), of size pixels.
cv::Mat sectionedWall(cv::Size size, int wide, int high, const std::vector<cv::Scalar>& colours);

// The flat wall warped onto quad in a photo of the given size and background (8-bit BGR).
cv::Mat photographWall(const cv::Mat& wall, cv::Size photoSize, const Quad& quad, cv::Scalar background);

// A quad inset into a photo of size with a mild perspective: the top edge narrower than the bottom.
Quad mildPerspective(cv::Size photoSize);

// Writes an uncompressed CFA DNG of a 16-bit BGR scene: RGGB mosaic of its samples, 16 bits, one
// strip, with DNGVersion, a colour matrix for linear sRGB primaries and a neutral as-shot white.
// False when the file cannot be written.
bool writeDng(const QString& path, const cv::Mat& scene);

} // namespace TestPhotos
