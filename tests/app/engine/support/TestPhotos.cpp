#include "support/TestPhotos.h"

#include <opencv2/imgproc.hpp>

#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace TestPhotos {

cv::Mat sectionedWall(cv::Size size, int wide, int high, const std::vector<cv::Scalar>& colours)
{
    cv::Mat wall(size, CV_8UC3, cv::Scalar::all(0));
    for (int sy = 0; sy < high; ++sy) {
        for (int sx = 0; sx < wide; ++sx) {
            const cv::Point topLeft(sx * size.width / wide, sy * size.height / high);
            const cv::Point bottomRight((sx + 1) * size.width / wide, (sy + 1) * size.height / high);
            cv::rectangle(wall, cv::Rect(topLeft, bottomRight), colours.at(size_t(sy * wide + sx)), cv::FILLED);
        }
    }
    return wall;
}

cv::Mat photographWall(const cv::Mat& wall, cv::Size photoSize, const Quad& quad, cv::Scalar background)
{
    const auto w = float(wall.cols);
    const auto h = float(wall.rows);
    const std::array<cv::Point2f, 4> flat{cv::Point2f(0, 0), cv::Point2f(w, 0), cv::Point2f(w, h), cv::Point2f(0, h)};
    const cv::Mat transform = cv::getPerspectiveTransform(flat.data(), quad.data());
    cv::Mat photo(photoSize, CV_8UC3, background);
    cv::warpPerspective(wall, photo, transform, photoSize, cv::INTER_LINEAR, cv::BORDER_TRANSPARENT);
    return photo;
}

Quad mildPerspective(cv::Size photoSize)
{
    const auto w = float(photoSize.width);
    const auto h = float(photoSize.height);
    return {cv::Point2f(0.16f * w, 0.14f * h), cv::Point2f(0.86f * w, 0.12f * h), cv::Point2f(0.9f * w, 0.86f * h),
            cv::Point2f(0.1f * w, 0.88f * h)};
}

namespace {

// A little-endian TIFF writer: entries are collected, then written sorted with their values.
class TiffWriter
{
public:
    enum Type : uint16_t { Byte = 1, Ascii = 2, Short = 3, Long = 4, Rational = 5, SRational = 10 };

    void add(uint16_t tag, Type type, uint32_t count, std::vector<uint8_t> value)
    {
        m_entries.push_back({tag, type, count, std::move(value)});
    }
    void addShort(uint16_t tag, std::vector<uint16_t> values)
    {
        std::vector<uint8_t> bytes;
        for (uint16_t v : values)
            append(bytes, v);
        add(tag, Short, uint32_t(values.size()), bytes);
    }
    void addLong(uint16_t tag, uint32_t value)
    {
        std::vector<uint8_t> bytes;
        append(bytes, value);
        add(tag, Long, 1, bytes);
    }
    void addRationals(uint16_t tag, Type type, const std::vector<double>& values)
    {
        constexpr int32_t denominator = 10000;
        std::vector<uint8_t> bytes;
        for (double v : values) {
            append(bytes, uint32_t(int32_t(std::lround(v * denominator))));
            append(bytes, uint32_t(denominator));
        }
        add(tag, type, uint32_t(values.size()), bytes);
    }
    void addAscii(uint16_t tag, const std::string& text)
    {
        std::vector<uint8_t> bytes(text.begin(), text.end());
        bytes.push_back(0);
        add(tag, Ascii, uint32_t(bytes.size()), bytes);
    }

    // The file: header, one directory, out-of-line values, then the pixel data as one strip.
    std::vector<uint8_t> file(uint16_t stripOffsetTag, const std::vector<uint8_t>& strip)
    {
        std::sort(m_entries.begin(), m_entries.end(), [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
        const uint32_t directorySize = 2 + 12 * uint32_t(m_entries.size()) + 4;
        uint32_t dataOffset = 8 + directorySize;
        for (const Entry& e : m_entries)
            dataOffset += e.value.size() > 4 ? uint32_t((e.value.size() + 1) & ~size_t(1)) : 0;
        const uint32_t stripOffset = dataOffset;
        for (Entry& e : m_entries) {
            if (e.tag == stripOffsetTag) {
                e.value.clear();
                append(e.value, stripOffset);
            }
        }

        std::vector<uint8_t> out{'I', 'I', 42, 0};
        append(out, uint32_t(8));
        append(out, uint16_t(m_entries.size()));
        std::vector<uint8_t> extra;
        uint32_t extraOffset = 8 + directorySize;
        for (const Entry& e : m_entries) {
            append(out, e.tag);
            append(out, uint16_t(e.type));
            append(out, e.count);
            if (e.value.size() <= 4) {
                std::vector<uint8_t> inline4 = e.value;
                inline4.resize(4, 0);
                out.insert(out.end(), inline4.begin(), inline4.end());
            } else {
                append(out, extraOffset + uint32_t(extra.size()));
                extra.insert(extra.end(), e.value.begin(), e.value.end());
                if (extra.size() % 2)
                    extra.push_back(0);
            }
        }
        append(out, uint32_t(0)); // no further directory
        out.insert(out.end(), extra.begin(), extra.end());
        out.insert(out.end(), strip.begin(), strip.end());
        return out;
    }

private:
    struct Entry
    {
        uint16_t tag;
        Type type;
        uint32_t count;
        std::vector<uint8_t> value;
    };

    template <typename T>
    static void append(std::vector<uint8_t>& bytes, T value)
    {
        for (size_t i = 0; i < sizeof(T); ++i)
            bytes.push_back(uint8_t(value >> (8 * i)));
    }

    std::vector<Entry> m_entries;
};

} // namespace

bool writeDng(const QString& path, const cv::Mat& scene)
{
    CV_Assert(scene.type() == CV_16UC3);
    const int width = scene.cols;
    const int height = scene.rows;

    // RGGB: red on even rows and columns, blue on odd ones, green between.
    std::vector<uint8_t> strip;
    strip.reserve(size_t(width) * size_t(height) * 2);
    for (int r = 0; r < height; ++r) {
        for (int c = 0; c < width; ++c) {
            const cv::Vec3w& bgr = scene.at<cv::Vec3w>(r, c);
            const int channel = (r % 2 == 0 && c % 2 == 0) ? 2 : (r % 2 == 1 && c % 2 == 1) ? 0 : 1;
            const uint16_t sample = bgr[channel];
            strip.push_back(uint8_t(sample & 0xFF));
            strip.push_back(uint8_t(sample >> 8));
        }
    }

    constexpr uint16_t StripOffsets = 273;
    TiffWriter tiff;
    tiff.addLong(254, 0);                                   // NewSubFileType: the main image
    tiff.addLong(256, uint32_t(width));                     // ImageWidth
    tiff.addLong(257, uint32_t(height));                    // ImageLength
    tiff.addShort(258, {16});                               // BitsPerSample
    tiff.addShort(259, {1});                                // Compression: none
    tiff.addShort(262, {32803});                            // PhotometricInterpretation: CFA
    tiff.addAscii(271, "Corvane");                          // Make
    tiff.addAscii(272, "Test Mosaic");                      // Model
    tiff.addLong(StripOffsets, 0);                          // filled in when written
    tiff.addShort(274, {1});                                // Orientation
    tiff.addShort(277, {1});                                // SamplesPerPixel
    tiff.addLong(278, uint32_t(height));                    // RowsPerStrip
    tiff.addLong(279, uint32_t(strip.size()));              // StripByteCounts
    tiff.addShort(284, {1});                                // PlanarConfiguration
    tiff.addShort(33421, {2, 2});                           // CFARepeatPatternDim
    tiff.add(33422, TiffWriter::Byte, 4, {0, 1, 1, 2});     // CFAPattern: RGGB
    tiff.add(50706, TiffWriter::Byte, 4, {1, 4, 0, 0});     // DNGVersion
    tiff.addAscii(50708, "Corvane Test Mosaic");            // UniqueCameraModel
    tiff.addLong(50717, 65535);                             // WhiteLevel
    // ColorMatrix1, XYZ to camera: the camera's primaries are linear sRGB's.
    tiff.addRationals(50721, TiffWriter::SRational,
                      {3.2406, -1.5372, -0.4986, -0.9689, 1.8758, 0.0415, 0.0557, -0.2040, 1.0570});
    tiff.addRationals(50728, TiffWriter::Rational, {1.0, 1.0, 1.0}); // AsShotNeutral
    tiff.addShort(50778, {21});                             // CalibrationIlluminant1: D65

    const std::vector<uint8_t> bytes = tiff.file(StripOffsets, strip);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    return file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size())) == qint64(bytes.size());
}

} // namespace TestPhotos
