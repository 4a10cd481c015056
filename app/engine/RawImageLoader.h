#pragma once

#include <opencv2/core.hpp>

#include <string>

// Develops one raw camera file in memory into a linear 16-bit three-channel matrix, channels in
// the order blue, green, red. interpolation is LibRaw's demosaicing quality, highlights its
// highlight mode (mode 0 develops at brightness 0.395, any other at 1.0); verbose logs each stage.
// On any failure the result is an empty matrix of that type; the reason is logged.
//
// One LibRaw processor serves the whole process, so developments never overlap: a call made while
// another runs waits for it.
cv::Mat rawImageLoader(const std::string& path, uint interpolation, uint highlights, bool verbose);
