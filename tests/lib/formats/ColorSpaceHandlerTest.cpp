#include "CapturedOutput.h"
#include "formats/ColorSpaceHandler.h"
#include "formats/XinRuiRawHandler.h"

#include <CCfits/CCfits>
#include <fitsio.h>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <utility>
#include <string>
#include <vector>

// Named, so that the file's own names stay apart from its neighbours' when sources are compiled
// together (unity builds).
namespace ColorSpaceHandlerTests {

using ColorSpace::Handler;
using testing::HasSubstr;
using testing::Not;

namespace {

// A primary image of 32-bit floats with the given axes, written through CFITSIO under its plain
// name (whatever brackets it holds), replacing any file of that name.
void writeImage(const std::string& path, std::vector<long> axes, std::vector<float> values)
{
    std::filesystem::remove(path);
    int status = 0;
    fitsfile* file = nullptr;
    fits_create_diskfile(&file, path.c_str(), &status);
    fits_create_img(file, FLOAT_IMG, int(axes.size()), axes.data(), &status);
    if (!values.empty())
        fits_write_img(file, TFLOAT, 1, LONGLONG(values.size()), values.data(), &status);
    fits_close_file(file, &status);
    EXPECT_EQ(status, 0) << path;
}

void writeImage(const std::string& path, long width, long height, float value)
{
    writeImage(path, {width, height}, std::vector<float>(std::size_t(width * height), value));
}

// A FITS file whose header is the given cards, followed by one block of zero data.
void writeHeader(const std::string& path, const std::vector<std::string>& cards)
{
    constexpr std::size_t kBlock = 2880, kCard = 80;
    std::string bytes;
    for (const std::string& card : cards)
        bytes += card + std::string(kCard - card.size(), ' ');
    bytes += "END" + std::string(kCard - 3, ' ');
    bytes.resize(kBlock, ' ');
    bytes.append(kBlock, '\0');
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string card(const std::string& key, const std::string& value)
{
    std::string c = key + std::string(8 - key.size(), ' ') + "= ";
    return c + std::string(20 - value.size(), ' ') + value;
}

// A captures folder "D/led/1" in a temporary directory.
class CaptureFolder : public testing::Test {
protected:
    QTemporaryDir temp;
    std::string root = temp.path().toStdString() + "/D";
    std::string folder = root + "/led/1";

    void SetUp() override
    {
        ASSERT_TRUE(temp.isValid());
        std::filesystem::create_directories(folder);
    }

    std::string path(char colour, char component, const std::string& id) const
    {
        return folder + "/" + colour + "_" + component + "_" + id + ".fit";
    }

    // Nine captures of width x height: colour k has X = 1, Y = 2 + k, Z = 1 everywhere except
    // emitter (0, 0) of the dark colours, which is black (X = Y = Z = 0).
    void writeSet(const std::string& id, long width, long height, const std::string& darkColours = "")
    {
        for (int k = 0; k < 3; ++k) {
            const char colour = "RGB"[k];
            const float components[3] = {1.0f, 2.0f + float(k), 1.0f};
            for (int m = 0; m < 3; ++m) {
                std::vector<float> values(std::size_t(width * height), components[m]);
                if (darkColours.find(colour) != std::string::npos)
                    values[0] = 0.0f;
                writeImage(path(colour, "XYZ"[m], id), {width, height}, values);
            }
        }
    }
};

} // namespace

TEST_F(CaptureFolder, ReadsEverySetWithItsChannelsAndReportsTheOthers)
{
    writeSet("", 3, 2, "R");
    writeSet("set2", 3, 2);
    // Only one capture of "b".
    writeImage(path('R', 'X', "b"), 3, 2, 1.0f);
    // Not capture names: nothing of "c" is read.
    for (const char* decoy : {"r_X_c.fit", "R-X-c.fit", "R_X_c.fits", "RX_c.fit"})
        writeImage(folder + "/" + decoy, 3, 2, 1.0f);
    std::filesystem::create_directory(folder + "/G_Y_c.fit");
    // Red X with three axes, red Y and Z as usual.
    writeSet("cube", 3, 2);
    writeImage(path('R', 'X', "cube"), {3, 2, 3}, std::vector<float>(18, 1.0f));
    // Red with one axis only: red would be skipped, green would become channel 0.
    writeSet("line", 3, 2);
    for (char component : {'X', 'Y', 'Z'})
        writeImage(path('R', component, "line"), {6}, std::vector<float>(6, 1.0f));
    // Green of another size than red: blue would become channel 1.
    writeSet("wide", 3, 2);
    for (char component : {'X', 'Y', 'Z'})
        writeImage(path('G', component, "wide"), 4, 2, 1.0f);

    std::map<std::string, Cal::Data> sets;
    const Captured c = capture([&] { sets = Handler().readCaptures(root); });

    ASSERT_EQ(sets.size(), 2u);
    EXPECT_EQ(sets.begin()->first, "");
    EXPECT_EQ(std::next(sets.begin())->first, "set2");
    for (const auto& [id, data] : sets) {
        SCOPED_TRACE(id);
        ASSERT_EQ(data.width(), 3u);
        ASSERT_EQ(data.height(), 2u);
        ASSERT_EQ(data.channels(), 3u);
        EXPECT_EQ(data.moduleWidth, 3u);
        EXPECT_EQ(data.moduleHeight, 2u);
        for (std::size_t r = 0; r < 2; ++r)
            for (std::size_t col = 0; col < 3; ++col)
                for (std::size_t k = 0; k < 3; ++k) {
                    const Cal::EmitterReading& reading = data.grid[r][col][k];
                    if (id.empty() && k == 0 && r == 0 && col == 0) {
                        // X + Y + Z = 0: the division is left to give NaN.
                        EXPECT_TRUE(std::isnan(reading.x));
                        EXPECT_TRUE(std::isnan(reading.y));
                        EXPECT_EQ(reading.Y, 0.0f);
                        continue;
                    }
                    const float Y = 2.0f + float(k), sum = 2.0f + Y;
                    EXPECT_FLOAT_EQ(reading.x, 1.0f / sum);
                    EXPECT_FLOAT_EQ(reading.y, Y / sum);
                    EXPECT_EQ(reading.Y, Y);
                    EXPECT_EQ(reading.wavelength, 0.0f);
                }
    }
    // Red of the plain set: X = 1, Y = 2, Z = 1.
    EXPECT_EQ(sets.at("set2").grid[1][2][0].x, 0.25f);
    EXPECT_EQ(sets.at("set2").grid[1][2][0].y, 0.5f);
    EXPECT_EQ(sets.at("set2").grid[1][2][0].Y, 2.0f);

    EXPECT_THAT(c.errors, HasSubstr("Failed reading captures for idb\n"));
    EXPECT_THAT(c.errors, HasSubstr("wrong size!\n"));
    EXPECT_THAT(c.errors, HasSubstr("Failed reading captures for id cube: " + path('R', 'Y', "cube")
                                    + ": 3 x 2 values, the X capture holds 0 x 0\n"));
    EXPECT_THAT(c.errors, HasSubstr("Failed reading captures for id line: red captures are empty\n"));
    EXPECT_THAT(c.errors,
                HasSubstr("Failed reading captures for id wide: green captures hold 4 x 2 values, red ones 3 x 2\n"));
    EXPECT_THAT(c.errors, Not(HasSubstr("idc\n")));
    EXPECT_THAT(c.errors, Not(HasSubstr("id c:")));
    EXPECT_THAT(c.errors, Not(HasSubstr("for id set2")));
    EXPECT_THAT(c.out, HasSubstr(path('B', 'Z', "set2") + "\n"));
}

TEST_F(CaptureFolder, MissingFolderIsTheCallersError)
{
    EXPECT_THROW(Handler().readCaptures(root + "/nowhere"), std::filesystem::filesystem_error);
}

TEST_F(CaptureFolder, ReadCaptureKeepsRowsAndColumns)
{
    // Element i lies at row i / width, column i mod width.
    const std::vector<float> values = {0, 1, 2, 10, 11, 12};
    writeImage(path('R', 'X', "a"), {3, 2}, values);
    Vector2D<float> grid;
    const Captured c = capture([&] { grid = Handler().readCapture(path('R', 'X', "a")); });
    EXPECT_EQ(grid, (Vector2D<float>{{0, 1, 2}, {10, 11, 12}}));
    EXPECT_EQ(c.out, path('R', 'X', "a") + "\n");
    EXPECT_EQ(c.errors, "");
}

TEST_F(CaptureFolder, ComponentsOfAnotherSizeThanXAreRefusedNamingTheFile)
{
    for (char late : {'Y', 'Z'}) {
        SCOPED_TRACE(late);
        for (char component : {'X', 'Y', 'Z'})
            writeImage(path('G', component, "s"), component == late ? 2 : 3, 2, 1.0f);
        std::string refusal;
        capture([&] {
            try {
                Handler().readCaptures(folder, 'G', "s");
            } catch (const std::runtime_error& e) {
                refusal = e.what();
            }
        });
        EXPECT_EQ(refusal, path('G', late, "s") + ": 2 x 2 values, the X capture holds 3 x 2");
    }
}

TEST_F(CaptureFolder, HostileHeadersFailBeforeAnythingIsAllocated)
{
    struct Case {
        std::string name;
        std::string bitpix, width, height;
    };
    const std::vector<Case> cases = {
        {"floats20000", "-32", "20000", "20000"},
        {"floats60000", "-32", "60000", "60000"},
        {"doublesBeyondFile", "-64", "1000", "1000"},
        {"bytesOneBeyond", "8", "2881", "1"},
        {"elementCountOverflows", "-32", "4611686018427387904", "4"},
        {"byteCountOverflows", "-32", "2305843009213693952", "2"},
    };
    const long before = peakResidentKb();
    for (const Case& hostile : cases) {
        SCOPED_TRACE(hostile.name);
        const std::string file = folder + "/" + hostile.name + ".fit";
        writeHeader(file, {card("SIMPLE", "T"), card("BITPIX", hostile.bitpix), card("NAXIS", "2"),
                           card("NAXIS1", hostile.width), card("NAXIS2", hostile.height)});
        capture([&] { EXPECT_THROW(Handler().readCapture(file), CCfits::FitsException); });
    }
    // 100 MB of floats in 100 kB of gzip: CFITSIO would unpack it into memory whatever its name.
    const std::string packed = folder + "/packed.fit";
    {
        gzFile out = gzopen(packed.c_str(), "wb9");
        std::string header;
        for (const std::string& c : {card("SIMPLE", "T"), card("BITPIX", "-32"), card("NAXIS", "2"),
                                     card("NAXIS1", "5000"), card("NAXIS2", "5000"), std::string("END")})
            header += c + std::string(80 - c.size(), ' ');
        header.resize(2880, ' ');
        gzwrite(out, header.data(), unsigned(header.size()));
        const std::string zeros(1 << 20, '\0');
        for (int mb = 0; mb < 96; ++mb)
            gzwrite(out, zeros.data(), unsigned(zeros.size()));
        gzclose(out);
    }
    capture([&] { EXPECT_THROW(Handler().readCapture(packed), CCfits::FitsException); });
    EXPECT_LT(peakResidentKb() - before, 64 * 1024) << "kilobytes";

    // A file that holds exactly its data is read.
    const std::string exact = folder + "/exact.fit";
    writeHeader(exact, {card("SIMPLE", "T"), card("BITPIX", "8"), card("NAXIS", "2"), card("NAXIS1", "1440"),
                        card("NAXIS2", "2")});
    Vector2D<float> grid;
    capture([&] { grid = Handler().readCapture(exact); });
    EXPECT_EQ(grid, Vector2D<float>(1440, 2, 0.0f));

    // No elements: an empty grid, however many rows the header declares.
    const std::string none = folder + "/none.fit";
    writeHeader(none, {card("SIMPLE", "T"), card("BITPIX", "-32"), card("NAXIS", "2"), card("NAXIS1", "0"),
                       card("NAXIS2", "1000000000000000")});
    capture([&] { grid = Handler().readCapture(none); });
    EXPECT_TRUE(grid.empty());
}

TEST_F(CaptureFolder, ScalingCCfitsCannotReadIsTheFitsLibrarysError)
{
    // A scale of 0 makes CCfits' reader choice at open and at read disagree.
    for (const char* bitpix : {"8", "16", "32"}) {
        SCOPED_TRACE(bitpix);
        const std::string file = folder + "/scaled" + bitpix + ".fit";
        writeHeader(file, {card("SIMPLE", "T"), card("BITPIX", bitpix), card("NAXIS", "2"), card("NAXIS1", "4"),
                           card("NAXIS2", "2"), card("BZERO", "32768"), card("BSCALE", "0")});
        capture([&] { EXPECT_THROW(Handler().readCapture(file), CCfits::FitsException); });
    }
}

// The first axis is the width, the second the height, and every value must lie in that plane:
// further axes of length 1 keep it a plane. Whatever is refused says "wrong size!".
TEST_F(CaptureFolder, CapturesFollowTheSizeRule)
{
    struct Case {
        const char* name;
        std::vector<long> axes;
        bool plane;
    };
    const Case cases[] = {
        {"plane", {3, 2}, true},           {"cubeOfOnePlane", {3, 2, 1}, true}, {"fourAxesOfOnePlane", {3, 2, 1, 1}, true},
        {"cube", {3, 2, 3}, false},        {"line", {6}, false},                {"widthZero", {0, 3}, false},
        {"heightZero", {3, 0}, false},     {"cubeOfNoPlane", {3, 2, 0}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::size_t count = 1;
        for (long length : c.axes)
            count *= std::size_t(length);
        std::vector<float> values(count);
        for (std::size_t i = 0; i < count; ++i)
            values[i] = float(i);
        const std::string file = folder + "/" + c.name + ".fit";
        writeImage(file, c.axes, values);
        Vector2D<float> grid;
        const Captured captured = capture([&] { grid = Handler().readCapture(file); });
        if (c.plane) {
            EXPECT_EQ(grid, (Vector2D<float>{{0, 1, 2}, {3, 4, 5}}));
            EXPECT_EQ(captured.errors, "");
        } else {
            EXPECT_TRUE(grid.empty());
            EXPECT_EQ(captured.errors, "wrong size!\n");
        }
    }
    writeHeader(folder + "/noAxes.fit", {card("SIMPLE", "T"), card("BITPIX", "-32"), card("NAXIS", "0")});
    Vector2D<float> grid;
    const Captured noAxes = capture([&] { grid = Handler().readCapture(folder + "/noAxes.fit"); });
    EXPECT_TRUE(grid.empty());
    EXPECT_EQ(noAxes.errors, "wrong size!\n");
}

// Whatever extensions follow the primary image, the capture is the primary image.
TEST_F(CaptureFolder, OnlyThePrimaryImageIsRead)
{
    const std::vector<float> primary = [] {
        std::vector<float> v(54);
        for (std::size_t i = 0; i < v.size(); ++i)
            v[i] = float(i);
        return v;
    }();
    Vector2D<float> expected(9, 6);
    for (std::size_t i = 0; i < primary.size(); ++i)
        expected[i / 9][i % 9] = primary[i];

    struct Case {
        const char* name;
        std::function<void(fitsfile*, int&)> addExtension;
    };
    const auto image = [](long width, long height) {
        return [width, height](fitsfile* f, int& status) {
            long axes[2] = {width, height};
            std::vector<float> values(std::size_t(width * height), 7.0f);
            fits_create_img(f, FLOAT_IMG, 2, axes, &status);
            fits_write_img(f, TFLOAT, 1, LONGLONG(values.size()), values.data(), &status);
        };
    };
    const Case cases[] = {
        {"smallerImage", image(3, 2)},
        {"largerImage", image(50, 40)},
        {"binaryTable",
         [](fitsfile* f, int& status) {
             char name[] = "level", format[] = "1E";
             char* names[] = {name};
             char* formats[] = {format};
             fits_create_tbl(f, BINARY_TBL, 0, 1, names, formats, nullptr, nullptr, &status);
             float levels[2] = {1.0f, 2.0f};
             fits_write_col(f, TFLOAT, 1, 1, 1, 2, levels, &status);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = folder + "/" + c.name + ".fit";
        int status = 0;
        fitsfile* f = nullptr;
        long axes[2] = {9, 6};
        std::vector<float> values = primary;
        fits_create_diskfile(&f, file.c_str(), &status);
        fits_create_img(f, FLOAT_IMG, 2, axes, &status);
        fits_write_img(f, TFLOAT, 1, LONGLONG(values.size()), values.data(), &status);
        c.addExtension(f, status);
        fits_close_file(f, &status);
        ASSERT_EQ(status, 0);
        ASSERT_EQ(std::system(("fitsverify -q -e '" + file + "' >/dev/null 2>&1").c_str()), 0) << "fitsverify";

        Vector2D<float> grid;
        const Captured captured = capture([&] { grid = Handler().readCapture(file); });
        EXPECT_EQ(grid, expected);
        EXPECT_EQ(captured.errors, "");
    }
}

// Integer pixels equal to BLANK are undefined: NaN, as undefined float pixels are. Float pixels
// pass as they stand, infinities and NaN included.
TEST_F(CaptureFolder, UndefinedPixelsReadAsNaN)
{
    const std::string integers = folder + "/blank.fit";
    {
        int status = 0;
        fitsfile* f = nullptr;
        long axes[2] = {3, 1};
        short values[3] = {-32768, 5, 7};
        long blank = -32768;
        double zero = 100.0;
        fits_create_diskfile(&f, integers.c_str(), &status);
        fits_create_img(f, SHORT_IMG, 2, axes, &status);
        // The raw values first, then the keywords that say how to read them.
        fits_write_img(f, TSHORT, 1, 3, values, &status);
        fits_write_key(f, TLONG, "BLANK", &blank, nullptr, &status);
        fits_write_key(f, TDOUBLE, "BZERO", &zero, nullptr, &status);
        fits_close_file(f, &status);
        ASSERT_EQ(status, 0);
    }
    Vector2D<float> grid;
    capture([&] { grid = Handler().readCapture(integers); });
    ASSERT_EQ(grid.width(), 3u);
    EXPECT_TRUE(std::isnan(grid[0][0]));
    EXPECT_EQ(grid[0][1], 105.0f);
    EXPECT_EQ(grid[0][2], 107.0f);

    const float inf = std::numeric_limits<float>::infinity();
    const std::string floats = folder + "/floats.fit";
    writeImage(floats, {4, 1}, {std::numeric_limits<float>::quiet_NaN(), inf, -inf, 1e-40f});
    capture([&] { grid = Handler().readCapture(floats); });
    ASSERT_EQ(grid.width(), 4u);
    EXPECT_TRUE(std::isnan(grid[0][0]));
    EXPECT_EQ(grid[0][1], inf);
    EXPECT_EQ(grid[0][2], -inf);
    EXPECT_EQ(grid[0][3], 1e-40f);
}

// The primary image as plain CFITSIO reads it: every value in one call, as floats, with NaN for
// undefined integer pixels and no null check of float pixels.
std::vector<float> cfitsioValues(const std::string& path, std::size_t count)
{
    std::vector<float> values(count);
    int status = 0, bitpix = 0, anyUndefined = 0;
    fitsfile* f = nullptr;
    fits_open_diskfile(&f, path.c_str(), READONLY, &status);
    fits_get_img_type(f, &bitpix, &status);
    float undefined = bitpix > 0 ? std::numeric_limits<float>::quiet_NaN() : 0.0f;
    fits_read_img(f, TFLOAT, 1, LONGLONG(count), &undefined, values.data(), &anyUndefined, &status);
    fits_close_file(f, &status);
    EXPECT_EQ(status, 0) << path;
    return values;
}

// The bits of every value, so that NaN equals NaN and -0 differs from 0.
std::vector<std::uint32_t> bitsOf(const std::vector<float>& values)
{
    std::vector<std::uint32_t> bits;
    for (float v : values)
        bits.push_back(std::bit_cast<std::uint32_t>(v));
    return bits;
}

std::vector<float> flattened(const Vector2D<float>& grid)
{
    std::vector<float> values;
    for (const auto& row : grid)
        values.insert(values.end(), row.begin(), row.end());
    return values;
}

// An image of stored values of one type (written raw), then the keywords that say how to read
// them.
struct StoredImage {
    const char* name;
    int bitpix;
    int datatype; // CFITSIO's type of the values below
    std::vector<double> values;
    std::vector<std::pair<const char*, double>> keys;
};

void writeStored(const std::string& path, const StoredImage& image, long width)
{
    std::filesystem::remove(path);
    int status = 0;
    fitsfile* f = nullptr;
    long axes[2] = {width, long(image.values.size()) / width};
    fits_create_diskfile(&f, path.c_str(), &status);
    fits_create_img(f, image.bitpix, 2, axes, &status);
    std::vector<double> values = image.values;
    if (image.datatype == TLONGLONG) {
        std::vector<LONGLONG> integers(values.begin(), values.end());
        fits_write_img(f, TLONGLONG, 1, LONGLONG(integers.size()), integers.data(), &status);
    } else {
        fits_write_img(f, TDOUBLE, 1, LONGLONG(values.size()), values.data(), &status);
    }
    for (const auto& [key, value] : image.keys) {
        double v = value;
        if (std::string(key) == "BLANK") {
            LONGLONG blank = LONGLONG(value);
            fits_write_key(f, TLONGLONG, key, &blank, nullptr, &status);
        } else {
            fits_write_key(f, TDOUBLE, key, &v, nullptr, &status);
        }
    }
    fits_close_file(f, &status);
    ASSERT_EQ(status, 0) << path;
}

// Every stored type, scaled or not, with undefined pixels and values at the edges of the
// types: each reads exactly as CFITSIO converts it.
TEST_F(CaptureFolder, ValuesConvertAsCfitsioConvertsThem)
{
    const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<StoredImage> images = {
        {"bytes", BYTE_IMG, TDOUBLE, {0, 1, 127, 128, 200, 255}, {}},
        {"signedBytes", BYTE_IMG, TDOUBLE, {0, 1, 127, 128, 200, 255}, {{"BZERO", -128}}},
        {"bytesWithBlank", BYTE_IMG, TDOUBLE, {0, 1, 127, 128, 200, 255}, {{"BLANK", 255}, {"BSCALE", 0.5}}},
        {"shorts", SHORT_IMG, TDOUBLE, {-32768, -1, 0, 1, 12345, 32767}, {}},
        {"unsignedShorts", SHORT_IMG, TDOUBLE, {-32768, -1, 0, 1, 12345, 32767}, {{"BZERO", 32768}}},
        {"shortsWithBlank", SHORT_IMG, TDOUBLE, {-32768, -1, 0, 1, 12345, 32767}, {{"BLANK", -1}, {"BZERO", 100}}},
        {"ints", LONG_IMG, TDOUBLE, {-2147483648.0, -16777217, 16777217, 1, 2147483646, 2147483647}, {}},
        {"unsignedInts", LONG_IMG, TDOUBLE, {-2147483648.0, -16777217, 16777217, 1, 2147483646, 2147483647},
         {{"BZERO", 2147483648.0}}},
        {"intsBeyondFloats", LONG_IMG, TDOUBLE, {-2147483647, -5, 0, 5, 7, 2147483647}, {{"BSCALE", 1e30}}},
        {"longs", LONGLONG_IMG, TLONGLONG, {-9.2e18, -9007199254740993.0, 0, 1, 9007199254740993.0, 9.2e18}, {}},
        {"unsignedLongs", LONGLONG_IMG, TLONGLONG, {-9.2e18, -9007199254740993.0, 0, 1, 9007199254740993.0, 9.2e18},
         {{"BZERO", 9223372036854775808.0}}},
        {"longsWithBlank", LONGLONG_IMG, TLONGLONG, {-7, 0, 1, 2, 3, 4}, {{"BLANK", -7}, {"BSCALE", 3}}},
        {"floats", FLOAT_IMG, TDOUBLE, {inf, -inf, nan, 1e-40, -0.0, 3.4e38}, {}},
        {"scaledFloats", FLOAT_IMG, TDOUBLE, {inf, -inf, nan, 1e-40, 2, 3e38}, {{"BSCALE", 10}, {"BZERO", 1}}},
        {"floatsWithBlank", FLOAT_IMG, TDOUBLE, {0, 1, 2, 3, 4, 5}, {{"BLANK", 1}}},
        {"doubles", DOUBLE_IMG, TDOUBLE, {1e300, -1e300, nan, 1e-320, 0.1, -inf}, {}},
        {"scaledDoubles", DOUBLE_IMG, TDOUBLE, {1e300, -1e300, nan, 1e-320, 0.1, 3}, {{"BSCALE", 0.25}, {"BZERO", -2}}},
    };
    for (const StoredImage& image : images) {
        SCOPED_TRACE(image.name);
        const std::string file = folder + "/" + image.name + ".fit";
        writeStored(file, image, 3);
        Vector2D<float> grid;
        const Captured c = capture([&] { grid = Handler().readCapture(file); });
        EXPECT_EQ(c.errors, "");
        ASSERT_EQ(grid.width(), 3u);
        ASSERT_EQ(grid.height(), 2u);
        EXPECT_EQ(bitsOf(flattened(grid)), bitsOf(cfitsioValues(file, 6)));
    }
}

// A file whose data are whole but whose last 2880-byte block lacks the zeros that pad it out
// reads as the padded file does: whatever the header's data size covers is there. One byte
// short of the data is refused.
TEST_F(CaptureFolder, AnUnpaddedLastBlockReadsWhatItHolds)
{
    struct Case {
        const char* name;
        long width, height;
    };
    for (const Case& c : {Case{"small", 3, 2}, Case{"rowsAcrossBlocks", 719, 3}, Case{"capture", 400, 400}}) {
        SCOPED_TRACE(c.name);
        std::vector<double> values(std::size_t(c.width * c.height));
        for (std::size_t i = 0; i < values.size(); ++i)
            values[i] = double(i % 1000) * 0.25 - 7.0;
        for (const auto& [type, suffix] : {std::pair{FLOAT_IMG, "floats"}, std::pair{SHORT_IMG, "shorts"}}) {
            const std::string padded = folder + "/" + c.name + suffix + ".fit";
            const StoredImage image{suffix, type, TDOUBLE, type == SHORT_IMG ? std::vector<double>(values.size(), 3.0) : values,
                                    type == SHORT_IMG ? std::vector<std::pair<const char*, double>>{{"BZERO", 0.5}}
                                                      : std::vector<std::pair<const char*, double>>{}};
            writeStored(padded, image, c.width);
            const std::vector<float> expected = cfitsioValues(padded, values.size());
            const std::uintmax_t dataEnd =
                2880 + std::uintmax_t(values.size()) * std::uintmax_t(std::abs(type) / 8);
            ASSERT_NE(dataEnd % 2880, 0u) << "the last block must be short";
            const std::string unpadded = folder + "/" + c.name + suffix + "Unpadded.fit";
            std::filesystem::copy_file(padded, unpadded);
            std::filesystem::resize_file(unpadded, dataEnd);
            Vector2D<float> grid;
            const Captured read = capture([&] { EXPECT_NO_THROW(grid = Handler().readCapture(unpadded)); });
            EXPECT_EQ(read.errors, "");
            ASSERT_EQ(grid.width(), std::size_t(c.width));
            ASSERT_EQ(grid.height(), std::size_t(c.height));
            EXPECT_EQ(bitsOf(flattened(grid)), bitsOf(expected));

            std::filesystem::resize_file(unpadded, dataEnd - 1);
            const Captured shorter = capture([&] { EXPECT_THROW(Handler().readCapture(unpadded), CCfits::FitsException); });
            EXPECT_THAT(shorter.errors, HasSubstr(unpadded + ": "));
        }
    }
}

// A capture is the plain file of its name: brackets, parentheses and the like are part of it,
// and nothing else (a compressed file beside it, standard input, the network) stands in for it.
TEST_F(CaptureFolder, NamesAreOnlyPlainFiles)
{
    for (const std::string odd : {"caps[1]", "caps (1)", "caps{x}+1"}) {
        SCOPED_TRACE(odd);
        const std::string oddFolder = root + "/" + odd;
        std::filesystem::create_directories(oddFolder + "/led/1");
        writeImage(oddFolder + "/led/1/R_X_a.fit", {2, 1}, {1, 2});
        Vector2D<float> grid;
        capture([&] { grid = Handler().readCapture(oddFolder + "/led/1/R_X_a.fit"); });
        EXPECT_EQ(grid, (Vector2D<float>{{1, 2}}));
    }

    writeSet("id[1]", 2, 1);
    writeSet("id(2)", 2, 1);
    std::map<std::string, Cal::Data> sets;
    const Captured c = capture([&] { sets = Handler().readCaptures(root); });
    EXPECT_TRUE(sets.contains("id[1]")) << c.errors;
    EXPECT_TRUE(sets.contains("id(2)")) << c.errors;

    // Only the gzip of a capture: nothing is unpacked, the capture is missing.
    writeImage(folder + "/zipped.fit", {2, 1}, {1, 2});
    ASSERT_EQ(std::system(("gzip '" + folder + "/zipped.fit'").c_str()), 0);
    ASSERT_TRUE(std::filesystem::exists(folder + "/zipped.fit.gz"));
    const Captured zipped = capture([&] { EXPECT_THROW(Handler().readCapture(folder + "/zipped.fit"), CCfits::FitsException); });
    EXPECT_THAT(zipped.errors, HasSubstr(folder + "/zipped.fit: No such file or directory"));

    const Captured directory = capture([&] { EXPECT_THROW(Handler().readCapture(folder), CCfits::FitsException); });
    EXPECT_THAT(directory.errors, HasSubstr(folder + ": not a regular file"));
}

// "-" names a file like any other, never standard input, even when that holds a capture.
TEST_F(CaptureFolder, ADashIsNoStandardInput)
{
    const std::string piped = folder + "/piped.fit";
    writeImage(piped, {2, 1}, {1, 2});
    const int input = ::open(piped.c_str(), O_RDONLY);
    ASSERT_GE(input, 0);
    const int saved = ::dup(STDIN_FILENO);
    ::dup2(input, STDIN_FILENO);
    ::close(input);
    const Captured c = capture([&] { EXPECT_THROW(Handler().readCapture("-"), CCfits::FitsException); });
    ::dup2(saved, STDIN_FILENO);
    ::close(saved);
    EXPECT_THAT(c.errors, HasSubstr("-: No such file or directory"));
}

// A URL names a file like any other: nothing goes to the network.
TEST_F(CaptureFolder, AUrlIsNoNetworkRequest)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/R_X_a.fit";

    const Captured c = capture([&] { EXPECT_THROW(Handler().readCapture(url), CCfits::FitsException); });
    EXPECT_THAT(c.errors, HasSubstr(url + ": No such file or directory"));
    EXPECT_LT(::accept(listener, nullptr, nullptr), 0) << "a connection came";
    ::close(listener);
}

TEST_F(CaptureFolder, DarkEmittersStayFiniteThroughMatrixAndTotals)
{
    writeSet("", 2, 1, "RG");
    std::map<std::string, Cal::Data> sets;
    capture([&] { sets = Handler().readCaptures(root); });
    ASSERT_EQ(sets.size(), 1u);
    Cal::Data data = sets.begin()->second;
    ASSERT_TRUE(std::isnan(data.grid[0][0][0].x));

    Matrix<float, 3> identity;
    identity[0] = identity[4] = identity[8] = 1.0f;
    data.matrix(identity);
    for (std::size_t k = 0; k < 3; ++k) {
        const Cal::EmitterReading& reading = data.grid[0][0][k];
        EXPECT_TRUE(std::isfinite(reading.x) && std::isfinite(reading.y) && std::isfinite(reading.Y)) << k;
    }
    // The lit emitter of red keeps its reading.
    EXPECT_FLOAT_EQ(data.grid[0][1][0].x, 0.25f);
    EXPECT_FLOAT_EQ(data.grid[0][1][0].y, 0.5f);

    const auto [sums, count] = sets.begin()->second.totals(0, 0, 1, 0);
    EXPECT_EQ(count, 2u);
    for (const auto& row : sums)
        for (float v : row)
            EXPECT_TRUE(std::isfinite(v));
    // Red: the dark emitter adds nothing, the lit one X = 1, Y = 2, Z = 1; averaged over two.
    EXPECT_FLOAT_EQ(sums[0][0], 0.5f);
    EXPECT_FLOAT_EQ(sums[0][1], 1.0f);
    EXPECT_FLOAT_EQ(sums[0][2], 0.5f);
}

TEST_F(CaptureFolder, ReadRawForwardsToTheRawTableReader)
{
    Cal::Data wall;
    for (int k = 0; k < 3; ++k) {
        Vector2D<Cal::EmitterReading> readings(3, 2);
        for (std::size_t r = 0; r < 2; ++r)
            for (std::size_t c = 0; c < 3; ++c)
                readings[r][c] = {0.25f + 0.125f * float(k), 0.5f, float(1 + c + 3 * r), 0.0f};
        wall.addChannel(readings);
    }
    const std::string tables = root + "/raw";
    std::filesystem::create_directories(tables);
    capture([&] { XinRui_Raw::Handler().writeFiles({{"wall", wall}, {"copy", wall}}, tables, 4); });

    std::map<std::string, Cal::Data> read;
    const Captured c = capture([&] { read = Handler().readRaw(tables); });
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read.begin()->first, "copy");
    const Cal::Data& back = read.at("wall");
    ASSERT_EQ(back.width(), 3u);
    ASSERT_EQ(back.height(), 2u);
    ASSERT_EQ(back.channels(), 3u);
    for (std::size_t r = 0; r < 2; ++r)
        for (std::size_t col = 0; col < 3; ++col)
            for (std::size_t k = 0; k < 3; ++k) {
                EXPECT_FLOAT_EQ(back.grid[r][col][k].x, wall.grid[r][col][k].x);
                EXPECT_FLOAT_EQ(back.grid[r][col][k].Y, wall.grid[r][col][k].Y);
            }
    EXPECT_THAT(c.out, HasSubstr("reading " + tables + "/XinRui_Raw_wall.txt"));
    EXPECT_THROW(Handler().readRaw(root + "/nowhere"), std::filesystem::filesystem_error);
}

} // namespace ColorSpaceHandlerTests
