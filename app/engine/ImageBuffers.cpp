#include "engine/ImageBuffers.h"

#include <opencv2/core/utility.hpp>

namespace ImageBuffers {

void keepIfSoleOwner(cv::Mat& buffer)
{
    if (buffer.u && buffer.u->refcount > 1)
        buffer.release();
}

void convertDepth(const cv::Mat& src, cv::Mat& dst, int depth)
{
    if (dst.data == src.data && src.depth() != depth) {
        // Converting a matrix into itself: the source must outlive the new destination.
        const cv::Mat source = src;
        dst.release();
        convertDepth(source, dst, depth);
        return;
    }
    dst.create(src.size(), CV_MAKETYPE(depth, src.channels()));
    cv::parallel_for_(cv::Range(0, src.rows), [&](const cv::Range& rows) {
        const cv::Mat stripe = src.rowRange(rows.start, rows.end);
        cv::Mat out = dst.rowRange(rows.start, rows.end);
        stripe.convertTo(out, depth);
    });
}

} // namespace ImageBuffers
