#include "CapturedOutput.h"
#include "formats/ColorSpaceHandler.h"
#include "formats/XinRuiRawHandler.h"

#include <CCfits/CCfits>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <zlib.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <valarray>
#include <vector>

using ColorSpace::Handler;
using testing::HasSubstr;
using testing::Not;

namespace {

using Captured = CapturedOutput;

Captured capture(const std::function<void()>& fn)
{
    return CapturedOutput::of(fn);
}

// A primary image of 32-bit floats with the given axes, written through CCfits.
void writeImage(const std::string& path, std::vector<long> axes, const std::vector<float>& values)
{
    CCfits::FITS file("!" + path, FLOAT_IMG, int(axes.size()), axes.data());
    std::valarray<float> data(values.data(), values.size());
    file.pHDU().write(1, long(data.size()), data);
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

TEST_F(CaptureFolder, CapturesWithoutTwoAxesAreWrongSize)
{
    writeImage(folder + "/cube.fit", {3, 2, 3}, std::vector<float>(18, 1.0f));
    writeImage(folder + "/line.fit", {6}, std::vector<float>(6, 1.0f));
    writeHeader(folder + "/noAxes.fit", {card("SIMPLE", "T"), card("BITPIX", "-32"), card("NAXIS", "0")});
    for (const char* name : {"cube", "line", "noAxes"}) {
        SCOPED_TRACE(name);
        Vector2D<float> grid;
        const Captured c = capture([&] { grid = Handler().readCapture(folder + "/" + std::string(name) + ".fit"); });
        EXPECT_TRUE(grid.empty());
        EXPECT_EQ(c.errors, "wrong size!\n");
    }
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
