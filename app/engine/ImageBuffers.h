#pragma once

#include <opencv2/core.hpp>

// Helpers for the grader's photo-sized matrices (tens to hundreds of megabytes each), whose fresh
// allocation and first touch can cost more than the work done on them.
namespace ImageBuffers {

// Drops buffer's pixels when another matrix shares them, so that writing into buffer cannot change
// that matrix; a buffer held only here is kept to be written again.
void keepIfSoleOwner(cv::Mat& buffer);

// src converted to depth (same channels, scale 1, saturating) into dst, reusing dst's pixels when
// they have the right size and type, with the rows spread over the cores.
void convertDepth(const cv::Mat& src, cv::Mat& dst, int depth);

} // namespace ImageBuffers
