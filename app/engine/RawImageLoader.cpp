#include "engine/RawImageLoader.h"

#include <libraw.h>

#include <opencv2/imgproc.hpp>

#include <QDebug>

#include <cstring>
#include <memory>
#include <mutex>

namespace {

// Without automatic brightening, mode 0 (clip) would leave the developed image brighter than the
// other modes; this brightness keeps the levels of all modes comparable.
constexpr float ClippedHighlightsBrightness = 0.395f;
constexpr float DefaultBrightness = 1.0f;
constexpr int OutputBitsPerSample = 16;
constexpr int DevelopedColours = 3;

// The process's one LibRaw processor and the lock that keeps its developments apart.
class RawDeveloper
{
public:
    static RawDeveloper& instance()
    {
        static RawDeveloper developer;
        return developer;
    }

    cv::Mat develop(const std::string& path, uint interpolation, uint highlights, bool verbose);

private:
    RawDeveloper() = default;

    void setParameters(uint interpolation, uint highlights);
    // The developed samples as a BGR matrix, or an empty one when the image is not three colours
    // of 16 bits.
    static cv::Mat copyImage(const libraw_processed_image_t& image, const std::string& path);

    std::mutex m_mutex;
    LibRaw m_processor;
};

cv::Mat RawDeveloper::develop(const std::string& path, uint interpolation, uint highlights, bool verbose)
{
    const char* file = path.c_str();
    if (verbose)
        qDebug(">>>>>>>>>>>>>>>>>>>>>>>>>>>>>> raw image is at %s", file);

    cv::Mat result(0, 0, CV_16UC3);
    std::lock_guard lock(m_mutex);
    setParameters(interpolation, highlights);
    if (verbose)
        qDebug("libRaw set up: interpolation %u, highlights %u; opening file...", interpolation, highlights);

    // Each stage runs only when the ones before it succeeded; the processor is recycled either way.
    int error = m_processor.open_file(file);
    if (verbose)
        qDebug("open returned");
    if (error != LIBRAW_SUCCESS) {
        qWarning("rawImageLoader: Cannot open %s: %s\n", file, libraw_strerror(error));
    } else {
        if (verbose)
            qDebug("opened; going to unpack...");
        error = m_processor.unpack();
        if (error != LIBRAW_SUCCESS)
            qWarning("rawImageLoader: Cannot unpack %s: %s\n", file, libraw_strerror(error));
    }
    if (error == LIBRAW_SUCCESS) {
        if (verbose)
            qDebug("unpacked; going to process...");
        error = m_processor.dcraw_process();
        if (error != LIBRAW_SUCCESS)
            qWarning("rawImageLoader: Cannot postprocess %s: %s\n", file, libraw_strerror(error));
        else if (verbose)
            qDebug("Successfully processed %s", file);
    }
    if (error == LIBRAW_SUCCESS) {
        const std::unique_ptr<libraw_processed_image_t, void (*)(libraw_processed_image_t*)> image(
            m_processor.dcraw_make_mem_image(), &LibRaw::dcraw_clear_mem);
        if (image) {
            if (verbose)
                qDebug("Made image for %s: channels %d, bits %d, width %d, height %d", file, image->colors,
                       image->bits, image->width, image->height);
            result = copyImage(*image, path);
        }
    }

    m_processor.recycle();
    if (verbose)
        qDebug("<<<<<<<<<<<<<<<<<<<<<<<<<<<< raw image %s done!", file);
    return result;
}

void RawDeveloper::setParameters(uint interpolation, uint highlights)
{
    libraw_output_params_t& params = m_processor.imgdata.params;
    params.use_camera_wb = 1;
    params.no_auto_bright = 1;
    params.adjust_maximum_thr = 0;
    params.gamm[0] = 1.0; // linear output
    params.gamm[1] = 1.0;
    params.output_bps = OutputBitsPerSample;
    params.user_qual = static_cast<int>(interpolation);
    params.four_color_rgb = 0;
    params.med_passes = 0;
    params.highlight = static_cast<int>(highlights);
    params.bright = highlights == 0 ? ClippedHighlightsBrightness : DefaultBrightness;
}

cv::Mat RawDeveloper::copyImage(const libraw_processed_image_t& image, const std::string& path)
{
    const size_t samples = size_t(image.width) * image.height * DevelopedColours;
    if (image.type != LIBRAW_IMAGE_BITMAP || image.colors != DevelopedColours || image.bits != OutputBitsPerSample
        || image.data_size < samples * sizeof(ushort)) {
        qWarning("rawImageLoader: %s developed to %d colours of %d bits; expected 3 colours of 16 bits",
                 path.c_str(), image.colors, image.bits);
        return cv::Mat(0, 0, CV_16UC3);
    }

    // LibRaw's samples are red, green, blue, pixel after pixel; the matrix holds blue, green, red.
    cv::Mat rgb(image.height, image.width, CV_16UC3);
    std::memcpy(rgb.data, image.data, samples * sizeof(ushort));
    cv::Mat bgr;
    cv::cvtColor(rgb, bgr, cv::COLOR_RGB2BGR);
    return bgr;
}

} // namespace

cv::Mat rawImageLoader(const std::string& path, uint interpolation, uint highlights, bool verbose)
{
    return RawDeveloper::instance().develop(path, interpolation, highlights, verbose);
}
