// The tile grader's cost per photo: loadOriginal and sectionAverages (8 × 6 sections of 20 × 20)
// on a 6000 × 4000 wall JPEG with a shading lens file, against a plain OpenCV pipeline doing the
// same read, float conversion, contour, warp and window means. The grader's extra work is the lens
// compensation and the previews. Its profiling lines go to the standard error stream.

#include "engine/TileGrader.h"
#include "support/TestPhotos.h"

#include <benchmark/benchmark.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr int SectionsWide = 8;
constexpr int SectionsHigh = 6;
constexpr int Subsections = 20;
const cv::Size PhotoSize(6000, 4000);

// The photo and lens file, written once for every benchmark of the run.
struct Files
{
    Files()
    {
        std::vector<cv::Scalar> colours;
        for (int i = 0; i < SectionsWide * SectionsHigh; ++i)
            colours.emplace_back(150 + (i * 7) % 90, 150 + (i * 13) % 90, 150 + (i * 17) % 90);
        const cv::Mat wall = TestPhotos::sectionedWall(cv::Size(4000, 2400), SectionsWide, SectionsHigh, colours);
        photo = folder.filePath("wall.jpg");
        cv::imwrite(photo.toStdString(),
                    TestPhotos::photographWall(wall, PhotoSize, TestPhotos::mildPerspective(PhotoSize),
                                               cv::Scalar::all(12)),
                    {cv::IMWRITE_JPEG_QUALITY, 95});

        // A shading image: white at the centre, darker toward the corners.
        cv::Mat shading(120, 180, CV_8UC3);
        for (int y = 0; y < shading.rows; ++y) {
            for (int x = 0; x < shading.cols; ++x) {
                const double r2 = (std::pow(x - 90.0, 2) + std::pow(y - 60.0, 2)) / (90.0 * 90.0 + 60.0 * 60.0);
                shading.at<cv::Vec3b>(y, x) = cv::Vec3b::all(uchar(std::lround(255.0 * (1.0 - 0.3 * r2))));
            }
        }
        lens = folder.filePath("lens.png");
        cv::imwrite(lens.toStdString(), shading);
    }

    QTemporaryDir folder;
    QString photo;
    QString lens;
};

const Files& files()
{
    static const Files written;
    return written;
}

void BM_GraderLoadAndAverages(benchmark::State& state)
{
    TileGrader grader;
    grader.setLensFile(files().lens);
    grader.setSections(SectionsWide, SectionsHigh);
    grader.setSubsections(Subsections, Subsections);
    grader.setProfiling(true);
    for (auto _ : state) {
        if (!grader.loadOriginal(files().photo, QString())) {
            state.SkipWithError("the grader did not find the wall");
            return;
        }
        benchmark::DoNotOptimize(grader.sectionAverages()->size());
    }
}

// The same work done straight with OpenCV: read, float, largest bright contour, warp, window means.
void BM_PlainPipeline(benchmark::State& state)
{
    for (auto _ : state) {
        const cv::Mat read = cv::imread(files().photo.toStdString(), cv::IMREAD_COLOR);
        cv::Mat image;
        read.convertTo(image, CV_32FC3);

        cv::Mat grey;
        cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
        grey.convertTo(grey, CV_8U);
        cv::threshold(grey, grey, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
        std::vector<std::vector<cv::Point>> contours;
        cv::findContours(grey, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
        const auto largest = std::max_element(contours.begin(), contours.end(), [](const auto& a, const auto& b) {
            return cv::contourArea(a) < cv::contourArea(b);
        });
        std::vector<cv::Point> quad;
        cv::approxPolyDP(*largest, quad, std::max(image.cols, image.rows) / 100.0, true);
        if (quad.size() != 4) {
            state.SkipWithError("no quadrilateral");
            return;
        }
        std::array<cv::Point2f, 4> corners;
        std::copy(quad.begin(), quad.end(), corners.begin());
        std::sort(corners.begin(), corners.end(), [](auto a, auto b) { return a.y < b.y; });
        if (corners[0].x > corners[1].x)
            std::swap(corners[0], corners[1]);
        if (corners[3].x > corners[2].x)
            std::swap(corners[3], corners[2]);
        const cv::Rect bounds = cv::boundingRect(quad);
        const std::array<cv::Point2f, 4> upright{cv::Point2f(0, 0), cv::Point2f(float(bounds.width), 0),
                                                 cv::Point2f(float(bounds.width), float(bounds.height)),
                                                 cv::Point2f(0, float(bounds.height))};
        cv::Mat screen;
        cv::warpPerspective(image, screen, cv::getPerspectiveTransform(corners.data(), upright.data()), bounds.size());

        const double w = double(screen.cols) / SectionsWide / Subsections;
        const double h = double(screen.rows) / SectionsHigh / Subsections;
        double total = 0.0;
        for (int y = 0; y < SectionsHigh * Subsections; ++y) {
            for (int x = 0; x < SectionsWide * Subsections; ++x) {
                const cv::Rect window(int(std::lround((x + 0.25) * w)), int(std::lround((y + 0.25) * h)),
                                      int(std::lround(w / 2)), int(std::lround(h / 2)));
                total += cv::mean(screen(window))[1];
            }
        }
        benchmark::DoNotOptimize(total);
    }
}

BENCHMARK(BM_GraderLoadAndAverages)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_PlainPipeline)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace
