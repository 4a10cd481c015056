// Averaging the screen image over sections and subsections.
#include "engine/TileGrader.h"

#include <QDebug>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace {

// A quarter of a subsection is left out on each side, so the samples stay clear of cell edges.
constexpr float MarginFraction = 0.25f;
// Mesh windows reach a quarter of the way to the next location.
constexpr float MeshReach = 0.25f;
// A mesh window is sized by the distance to the next row and column.
constexpr int LeastMeshExtent = 2;

// Rounded half away from zero; a value beyond the int range or not a number gives its nearest
// bound or 0.
int roundToInt(float value)
{
    if (!std::isfinite(value))
        return std::isinf(value) && value > 0 ? std::numeric_limits<int>::max() : 0;
    constexpr auto low = float(std::numeric_limits<int>::min() / 2);
    constexpr auto high = float(std::numeric_limits<int>::max() / 2);
    return int(std::lround(std::clamp(value, low, high)));
}

// Rows y0..y1 − 1 and columns x0..x1 − 1 of the image.
struct Window
{
    int y0;
    int y1;
    int x0;
    int x1;
};

// The window clamped into the image: the far edges stop one short of the image's last row and
// column, and a window left with nothing samples its start pixel.
Window clamped(Window window, int rows, int cols)
{
    window.y0 = std::max(window.y0, 0);
    window.x0 = std::max(window.x0, 0);
    window.y1 = std::min(window.y1, rows - 1);
    window.x1 = std::min(window.x1, cols - 1);
    if (window.y1 <= window.y0) {
        window.y0 = std::min(window.y0, rows - 1);
        window.y1 = window.y0 + 1;
    }
    if (window.x1 <= window.x0) {
        window.x0 = std::min(window.x0, cols - 1);
        window.x1 = window.x0 + 1;
    }
    return window;
}

// The mean of each channel of a float BGR window, summed exactly in double.
cv::Vec3f windowMean(const cv::Mat& image, const Window& window)
{
    std::array<double, 3> sums{};
    for (int y = window.y0; y < window.y1; ++y) {
        const auto* pixel = image.ptr<cv::Vec3f>(y);
        for (int x = window.x0; x < window.x1; ++x) {
            sums[0] += double(pixel[x][0]);
            sums[1] += double(pixel[x][1]);
            sums[2] += double(pixel[x][2]);
        }
    }
    const double count = double(window.y1 - window.y0) * double(window.x1 - window.x0);
    return cv::Vec3f(float(sums[0] / count), float(sums[1] / count), float(sums[2] / count));
}

// Halves the preview's pixels of a window, to show what was sampled.
void shade(cv::Mat& preview, const Window& window)
{
    for (int y = window.y0; y < window.y1; ++y) {
        auto* pixel = preview.ptr<cv::Vec3b>(y);
        for (int x = window.x0; x < window.x1; ++x)
            pixel[x] /= 2;
    }
}

} // namespace

QList<cv::Mat*>* TileGrader::sectionAverages()
{
    if (m_sectionsDirty) {
        setAverages(computeSectionAverages(m_screenImage, cv::Size(m_sectionsWide, m_sectionsHigh),
                                           cv::Size(m_subsectionsWide, m_subsectionsHigh)));
        m_sectionsDirty = false;
    }
    return &m_sectionAverages;
}

void TileGrader::setAverages(std::vector<cv::Mat> averages)
{
    m_sectionAverages.clear();
    m_averages = std::move(averages);
    for (cv::Mat& matrix : m_averages)
        m_sectionAverages.append(&matrix);
}

std::vector<cv::Mat> TileGrader::computeSectionAverages(cv::Mat image, cv::Size sections, cv::Size subsections)
{
    m_timer.start();
    if (image.empty() || image.channels() != 3) {
        qWarning("TileGrader: no screen image to average (%d x %d, %d channels)", image.cols, image.rows,
                 image.channels());
        return {};
    }
    if (image.depth() != CV_32F)
        image.convertTo(image, CV_32F);

    const int sectionsWide = std::max(sections.width, 1);
    const int sectionsHigh = std::max(sections.height, 1);
    const int subsWide = std::max(subsections.width, 1);
    const int subsHigh = std::max(subsections.height, 1);
    const float sectionWidth = float(image.cols) / float(sectionsWide);
    const float sectionHeight = float(image.rows) / float(sectionsHigh);
    const float subWidth = sectionWidth / float(subsWide);
    const float subHeight = sectionHeight / float(subsHigh);
    const float xMargin = subWidth * MarginFraction;
    const float yMargin = subHeight * MarginFraction;
    qDebug("TileGrader screen is %d x %d", image.cols, image.rows);
    qDebug("TileGrader sections are %.2f x %.2f, subsections are %.2f x %.2f", double(sectionWidth),
           double(sectionHeight), double(subWidth), double(subHeight));
    qDebug("TileGrader xMargin %.2f, yMargin %.2f", double(xMargin), double(yMargin));

    const int meshCols = subsWide * sectionsWide;
    const int meshRows = subsHigh * sectionsHigh;
    cv::Mat mesh;
    if (m_meshLocations) {
        const cv::Mat& locations = *m_meshLocations;
        qDebug("TileGrader: requested resolution %d x %d, mesh locations %d x %d", meshCols, meshRows,
               locations.cols, locations.rows);
        if (locations.rows == meshRows && locations.cols == meshCols && locations.type() == CV_32FC2) {
            if (meshRows >= LeastMeshExtent && meshCols >= LeastMeshExtent)
                mesh = locations;
            else
                qDebug("TileGrader: a mesh of %d x %d locations is too small to size its windows; sampling on the grid",
                       meshCols, meshRows);
        }
    }

    // The samples are shaded on the 8-bit preview itself rather than on a float copy of the image.
    QImage sampled = makeImage(image);
    cv::Mat preview = viewOf(sampled);
    std::vector<cv::Mat> averages;
    averages.reserve(size_t(sectionsWide) * size_t(sectionsHigh));
    for (int sy = 0; sy < sectionsHigh; ++sy) {
        for (int sx = 0; sx < sectionsWide; ++sx) {
            cv::Mat section(subsHigh, subsWide, CV_32FC3);
            for (int ssy = 0; ssy < subsHigh; ++ssy) {
                for (int ssx = 0; ssx < subsWide; ++ssx) {
                    Window window{};
                    if (mesh.empty()) {
                        const float top = float(ssy) * subHeight + float(sy) * sectionHeight;
                        const float left = float(ssx) * subWidth + float(sx) * sectionWidth;
                        window = {roundToInt(top + yMargin), roundToInt(top + subHeight - yMargin),
                                  roundToInt(left + xMargin), roundToInt(left + subWidth - xMargin)};
                    } else {
                        const int row = sy * subsHigh + ssy;
                        const int col = sx * subsWide + ssx;
                        const cv::Vec2f p = mesh.at<cv::Vec2f>(row, col);
                        const cv::Vec2f q = mesh.at<cv::Vec2f>(row + 1 < meshRows ? row + 1 : row - 1,
                                                               col + 1 < meshCols ? col + 1 : col - 1);
                        const float dx = std::abs(p[0] - q[0]) * MeshReach;
                        const float dy = std::abs(p[1] - q[1]) * MeshReach;
                        window = {roundToInt(p[1] - dy), roundToInt(p[1] + dy), roundToInt(p[0] - dx),
                                  roundToInt(p[0] + dx)};
                    }
                    window = clamped(window, image.rows, image.cols);
                    section.at<cv::Vec3f>(ssy, ssx) = windowMean(image, window);
                    if (!preview.empty())
                        shade(preview, window);
                }
            }
            averages.push_back(section);
        }
    }

    emit sampledImageUpdated(sampled);
    if (m_profiling)
        qDebug("sectionAvgList %lld", m_timer.elapsed());
    return averages;
}
