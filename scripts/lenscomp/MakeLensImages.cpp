// Writes the lens compensation images shipped under src/lenscomp: one shading image per camera
// body, lens and focal length or range, white at the centre and falling off smoothly toward the
// corners. They are generated fall-off maps, not measurements of real lenses.
//
//   velotrim_make_lens_images <folder>
//
// The output is committed; run this again only to change the set or the fall-off.
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// The shading images' frame (3:2), in which the program's radial model is also expressed.
constexpr int FrameWidth = 180;
constexpr int FrameHeight = 120;
// Two images come at a larger size, marked in their names.
constexpr int LargeWidth = 1200;
constexpr int LargeHeight = 800;
constexpr int JpegQuality = 95;

// The fall-off: brightness 1 - k * r^2 with r in frame pixels from the centre. k shrinks as the
// focal length grows (wide angles shade more); at the corner of the widest it is about 0.7.
constexpr double WidestFocalMm = 24.0;
constexpr double BaseCoefficient = 0.9e-5;
constexpr double WideCoefficient = 1.6e-5;
// Never darker than this, so that dividing by the image is always defined.
constexpr double Floor = 0.2;

struct Lens
{
    const char* name;
    std::vector<const char*> focals; // the focal part after "@", as in the file name
};

const std::vector<const char*> Bodies{"ILCE-7C", "ILCE-7SM3"};
const std::vector<Lens> Lenses{
    {"FE_4^024-070", {"024", "028", "035", "050", "070", "024~35", "035~50", "050~70"}},
    {"FE_4^024-105", {"024", "035", "050", "070", "105", "024~35", "035~50", "050~70"}},
};
// The two large images: body, lens and focal length.
struct Large
{
    const char* body;
    const char* lens;
    const char* focal;
};
const std::vector<Large> LargeImages{{"ILCE-7C", "FE_4^024-070", "035"}, {"ILCE-7SM3", "FE_4^024-105", "035"}};

double coefficientFor(const std::string& focal)
{
    // A range shades like its wide end.
    const double millimetres = std::stod(focal.substr(0, focal.find('~')));
    return BaseCoefficient + WideCoefficient * (WidestFocalMm / millimetres - WidestFocalMm / 105.0);
}

cv::Mat falloff(int width, int height, double coefficient)
{
    cv::Mat image(height, width, CV_8UC3);
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) {
            // Pixel centres in the 180 x 120 frame, from its middle.
            const double v = (row + 0.5) * FrameHeight / height - FrameHeight / 2.0;
            const double h = (column + 0.5) * FrameWidth / width - FrameWidth / 2.0;
            const double level = std::max(Floor, 1.0 - coefficient * (h * h + v * v));
            const auto value = static_cast<unsigned char>(std::lround(255.0 * level));
            image.at<cv::Vec3b>(row, column) = cv::Vec3b(value, value, value);
        }
    }
    return image;
}

bool write(const std::string& folder, const std::string& name, const cv::Mat& image)
{
    const std::string path = folder + "/" + name;
    if (!cv::imwrite(path, image, {cv::IMWRITE_JPEG_QUALITY, JpegQuality})) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    int written = 0;
    for (const char* body : Bodies) {
        for (const Lens& lens : Lenses) {
            for (const char* focal : lens.focals) {
                const std::string name = std::string(body) + "_" + lens.name + "_@" + focal + ".jpg";
                if (!write(folder, name, falloff(FrameWidth, FrameHeight, coefficientFor(focal))))
                    return 1;
                ++written;
            }
        }
    }
    for (const Large& large : LargeImages) {
        const std::string name = std::string(large.body) + "_" + large.lens + "_@" + large.focal + "_["
            + std::to_string(LargeWidth) + "x" + std::to_string(LargeHeight) + "].jpg";
        if (!write(folder, name, falloff(LargeWidth, LargeHeight, coefficientFor(large.focal))))
            return 1;
        ++written;
    }
    std::printf("%d images written to %s\n", written, folder.c_str());
    return 0;
}
