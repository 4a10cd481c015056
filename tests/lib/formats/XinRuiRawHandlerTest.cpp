#include "CapturedOutput.h"
#include "CommaDecimalLocale.h"
#include "formats/XinRuiRawHandler.h"

#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

// Named, so that the file's own names stay apart from its neighbours' when sources are compiled
// together (unity builds).
namespace XinRuiRawHandlerTests {

using testing::HasSubstr;
using XinRui_Raw::Handler;

namespace {

const std::string kShortHeader =
    "ModCol\tModRow\tPixCol\tPixRow\tRed_Lv\tRed_Cx\tRed_Cy\tGreen_Lv\tGreen_Cx\tGreen_Cy\tBlue_Lv\tBlue_Cx\tBlue_Cy";
const std::string kLongHeader =
    "ModCol\tModRow\tPixCol\tPixRow\tRed_Lv\tRed_Cx\tRed_Cy\tRed_WaveLength\tGreen_Lv\tGreen_Cx\tGreen_Cy\t"
    "Green_WaveLength\tBlue_Lv\tBlue_Cx\tBlue_Cy\tBlue_WaveLength";
constexpr float kLargest = std::numeric_limits<float>::max();

struct Read {
    Cal::Data data;
    CapturedOutput output;
};

Read readText(const std::string& text)
{
    std::istringstream in(text);
    Read r;
    r.output = CapturedOutput::of([&] { r.data = Handler().readStream(in); });
    return r;
}

struct Written {
    std::string text;
    bool failed = false;
    CapturedOutput output;
};

Written writeText(const Cal::Data& data, int precision)
{
    std::ostringstream out;
    Written w;
    w.output = CapturedOutput::of([&] { Handler().writeStream(data, out, precision); });
    w.text = out.str();
    w.failed = out.fail();
    return w;
}

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> tabFieldsOf(const std::string& line)
{
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, '\t');)
        fields.push_back(field);
    return fields;
}

void expectReading(const Cal::EmitterReading& actual, const Cal::EmitterReading& expected, const std::string& where)
{
    EXPECT_FLOAT_EQ(actual.x, expected.x) << where;
    EXPECT_FLOAT_EQ(actual.y, expected.y) << where;
    EXPECT_FLOAT_EQ(actual.Y, expected.Y) << where;
    EXPECT_FLOAT_EQ(actual.wavelength, expected.wavelength) << where;
}

bool isEmpty(const Cal::Data& data)
{
    return data.grid.empty() && data.minReadings.empty() && data.maxReadings.empty() && data.firstModuleColumn == 0
           && data.moduleWidth == 0;
}

// A wall of 2 x 2 modules of 2 x 1 pixels whose modules start at column 3 and row 5; the
// readings of each emitter tell where it is.
struct Wall {
    static constexpr std::uint64_t kFirstModuleColumn = 3;
    static constexpr std::uint64_t kFirstModuleRow = 5;

    // The reading expected at grid column c, row r, channel ch.
    static Cal::EmitterReading reading(std::size_t c, std::size_t r, std::size_t ch, bool withWavelength)
    {
        return {0.125f + 0.25f * float(ch) + 0.0625f * float(c), 0.25f + 0.125f * float(r),
                100.0f * float(ch + 1) + 10.0f * float(r) + float(c),
                withWavelength ? 600.0f - 50.0f * float(ch) + float(c) : 0.0f};
    }

    // The table in the given form, lines in reverse order, with CRLF line ends, blank lines and
    // every kind of white space between values.
    static std::string text(bool longForm)
    {
        const char* separators[] = {" ", "\t", "  ", " \t "};
        int s = 0;
        const auto separator = [&] { return separators[s++ % 4]; };
        std::string text = (longForm ? kLongHeader : kShortHeader) + "\r\n\r\n";
        for (int r = 1; r >= 0; --r)
            for (int c = 3; c >= 0; --c) {
                std::ostringstream line;
                line << kFirstModuleColumn + c / 2 << separator() << kFirstModuleRow + r << '\t' << c % 2;
                line << separator() << 0;
                for (std::size_t ch = 0; ch < 3; ++ch) {
                    const Cal::EmitterReading e = reading(c, r, ch, longForm);
                    line << separator() << e.Y << '\t' << e.x << ' ' << e.y;
                    if (longForm)
                        line << separator() << e.wavelength;
                }
                text += line.str() + (r == 0 && c == 2 ? "\n\n" : "\r\n");
            }
        return text;
    }
};

class RawForms : public testing::TestWithParam<bool> {};

TEST_P(RawForms, ReadPlacesEmittersByModuleAndGathersMinAndMax)
{
    const bool longForm = GetParam();
    const Read read = readText(Wall::text(longForm));
    EXPECT_EQ(read.output.out, "read 10 lines, 2 x 2 modules, 4 x 2 pixels \n");
    EXPECT_EQ(read.output.errors, "");

    const Cal::Data& data = read.data;
    EXPECT_EQ(data.firstModuleColumn, 3u);
    EXPECT_EQ(data.lastModuleColumn, 4u);
    EXPECT_EQ(data.firstModuleRow, 5u);
    EXPECT_EQ(data.lastModuleRow, 6u);
    EXPECT_EQ(data.moduleWidth, 2u);
    EXPECT_EQ(data.moduleHeight, 1u);
    ASSERT_EQ(data.width(), 4u);
    ASSERT_EQ(data.height(), 2u);
    for (std::size_t r = 0; r < 2; ++r)
        for (std::size_t c = 0; c < 4; ++c) {
            ASSERT_EQ(data.grid[r][c].size(), 3u);
            for (std::size_t ch = 0; ch < 3; ++ch)
                expectReading(data.grid[r][c][ch], Wall::reading(c, r, ch, longForm),
                              "cell " + std::to_string(r) + "," + std::to_string(c) + " channel " + std::to_string(ch));
        }
    ASSERT_EQ(data.minReadings.size(), 3u);
    ASSERT_EQ(data.maxReadings.size(), 3u);
    for (std::size_t ch = 0; ch < 3; ++ch) {
        expectReading(data.minReadings[ch], Wall::reading(0, 0, ch, longForm), "minimum");
        expectReading(data.maxReadings[ch], Wall::reading(3, 1, ch, longForm), "maximum");
    }
}

TEST_P(RawForms, WrittenInTheLongFormAndReadBack)
{
    const bool longForm = GetParam();
    const Cal::Data data = readText(Wall::text(longForm)).data;
    const Written written = writeText(data, 3);
    ASSERT_FALSE(written.failed);
    const std::vector<std::string> lines = linesOf(written.text);
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[0], kLongHeader);
    // Three wavelengths per line, after the luminance, x and y of each colour: 0.0 when the table
    // had none.
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::vector<std::string> fields = tabFieldsOf(lines[i]);
        ASSERT_EQ(fields.size(), 12u) << lines[i];
        for (std::size_t wavelength : {3u, 7u, 11u})
            EXPECT_EQ(fields[wavelength] == "0.0", !longForm) << lines[i];
    }

    const Read again = readText(written.text);
    ASSERT_EQ(again.data.width(), 4u);
    ASSERT_EQ(again.data.height(), 2u);
    EXPECT_EQ(again.data.firstModuleColumn, 3u);
    EXPECT_EQ(again.data.firstModuleRow, 5u);
    for (std::size_t r = 0; r < 2; ++r)
        for (std::size_t c = 0; c < 4; ++c)
            for (std::size_t ch = 0; ch < 3; ++ch)
                expectReading(again.data.grid[r][c][ch], data.grid[r][c][ch], "round trip");
}

INSTANTIATE_TEST_SUITE_P(XinRuiRaw, RawForms, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Long" : "Short"; });

TEST(XinRuiRaw, ShortFormWavelengthsAreWrittenAsZero)
{
    const Cal::Data data = readText(kShortHeader + "\n0 0 0 0 1 0.5 0.25 2 0.5 0.25 3 0.5 0.25\n").data;
    const std::vector<std::string> lines = linesOf(writeText(data, 1).text);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "0 0 0 0 1.0\t0.5000\t0.2500\t0.0\t2.0\t0.5000\t0.2500\t0.0\t3.0\t0.5000\t0.2500\t0.0");
}

TEST(XinRuiRaw, WrittenLineFollowsTheFormat)
{
    Cal::Data data;
    data.firstModuleColumn = 7;
    data.lastModuleColumn = 7;
    data.firstModuleRow = 9;
    data.lastModuleRow = 9;
    data.moduleWidth = 2;
    data.moduleHeight = 1;
    data.grid = Vector2D<Cal::Data::Cell>(2, 1, Cal::Data::Cell(3));
    data.grid[0][1] = {{0.64f, 0.33f, 123.456f, 612.5f}, {0.3f, 0.6f, 0.004f, 540.3f}, {0.15f, 0.06f, 1e6f, 465.0f}};

    const Written written = writeText(data, 2);
    ASSERT_FALSE(written.failed);
    // Module column, module row, pixel column and pixel row separated by spaces; then per colour
    // luminance with the precision, x and y with 4 digits and the wavelength with 1, by tabs.
    const std::string expected = kLongHeader + "\n"
                                 + "7 9 0 0 0.00\t0.0000\t0.0000\t0.0\t0.00\t0.0000\t0.0000\t0.0\t0.00\t0.0000\t0.0000\t0.0\n"
                                 + "7 9 1 0 123.46\t0.6400\t0.3300\t612.5\t0.00\t0.3000\t0.6000\t540.3\t"
                                   "1000000.00\t0.1500\t0.0600\t465.0\n";
    EXPECT_EQ(written.text, expected);
}

TEST(XinRuiRaw, HeadersAreComparedWhole)
{
    const std::string anEntry = "\n0 0 0 0 1 2 3 4 5 6 7 8 9\n";
    for (const std::string& header : {kShortHeader + "\t", kLongHeader + " ", std::string("ModCol ModRow"), std::string()}) {
        const Read read = readText(header + anEntry);
        EXPECT_TRUE(isEmpty(read.data)) << header;
        EXPECT_EQ(read.output.errors, "Incorrect headers: \n" + header + "\n" + kLongHeader + "\n");
    }

    // A header alone: no grid, and the minimum and maximum lists hold their start values.
    const Read headerOnly = readText(kLongHeader + "\r\n");
    EXPECT_EQ(headerOnly.output.errors, "");
    EXPECT_EQ(headerOnly.data.height(), 0u);
    ASSERT_EQ(headerOnly.data.minReadings.size(), 3u);
    ASSERT_EQ(headerOnly.data.maxReadings.size(), 3u);
    for (std::size_t ch = 0; ch < 3; ++ch) {
        expectReading(headerOnly.data.minReadings[ch], {kLargest, kLargest, kLargest, kLargest}, "start minimum");
        expectReading(headerOnly.data.maxReadings[ch], {}, "start maximum");
    }
    EXPECT_EQ(headerOnly.data.firstModuleColumn, std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(headerOnly.data.lastModuleColumn, 0u);
    EXPECT_THAT(headerOnly.output.out, testing::StartsWith("read 2 lines, "));
    EXPECT_THAT(headerOnly.output.out, HasSubstr(" modules, 0 x 0 pixels \n"));
}

TEST(XinRuiRaw, ALaterLineForAPositionWinsButBothCountInMinAndMax)
{
    const Read read = readText(kShortHeader + "\n0 0 0 0 1 0.5 0.25 2 0.5 0.25 3 0.5 0.25\n"
                               + "0 0 0 0 5 0.5 0.25 6 0.5 0.25 7 0.5 0.25\n");
    ASSERT_EQ(read.data.width(), 1u);
    EXPECT_EQ(read.data.grid[0][0][0].Y, 5.0f);
    EXPECT_EQ(read.data.minReadings[0].Y, 1.0f);
    EXPECT_EQ(read.data.maxReadings[0].Y, 5.0f);
    EXPECT_EQ(read.data.maxReadings[2].Y, 7.0f);
}

// A table that measures part of its wall: the grid spans the module ranges, cells no line
// covers stay empty, and writing the data back gives the same lines.
struct SparseTable {
    const char* name;
    std::vector<std::array<std::uint64_t, 4>> positions; // module column, module row, pixel column, pixel row
    std::size_t width, height;
    friend void PrintTo(const SparseTable& table, std::ostream* os) { *os << table.name; }
};

class RawSparseTables : public testing::TestWithParam<SparseTable> {};

TEST_P(RawSparseTables, ReadWithUncoveredCellsEmptyAndWriteBackTheirLines)
{
    const SparseTable& table = GetParam();
    std::string text = kShortHeader + "\n";
    for (const auto& [mc, mr, pc, pr] : table.positions)
        text += std::to_string(mc) + " " + std::to_string(mr) + " " + std::to_string(pc) + " " + std::to_string(pr)
                + " " + std::to_string(10 * pc + pr) + " 0.5 0.25 2 0.5 0.25 3 0.5 0.25\n";
    const Read read = readText(text);
    EXPECT_EQ(read.output.errors, "");
    const Cal::Data& data = read.data;
    ASSERT_EQ(data.width(), table.width);
    ASSERT_EQ(data.height(), table.height);
    std::size_t covered = 0;
    for (const auto& row : data.grid)
        for (const Cal::Data::Cell& cell : row) {
            EXPECT_TRUE(cell.empty() || cell.size() == 3u);
            covered += cell.empty() ? 0 : 1;
        }
    EXPECT_EQ(covered, table.positions.size());
    for (const auto& [mc, mr, pc, pr] : table.positions) {
        const Cal::Data::Cell& cell = data.grid[(mr - data.firstModuleRow) * data.moduleHeight + pr]
                                               [(mc - data.firstModuleColumn) * data.moduleWidth + pc];
        ASSERT_EQ(cell.size(), 3u);
        EXPECT_EQ(cell[0].Y, float(10 * pc + pr));
    }

    const Written written = writeText(data, 2);
    ASSERT_FALSE(written.failed) << written.output.errors;
    EXPECT_EQ(linesOf(written.text).size(), 1 + table.positions.size());
    const Read again = readText(written.text);
    EXPECT_EQ(again.data.firstModuleColumn, data.firstModuleColumn);
    EXPECT_EQ(again.data.firstModuleRow, data.firstModuleRow);
    ASSERT_EQ(again.data.width(), table.width);
    ASSERT_EQ(again.data.height(), table.height);
    for (std::size_t r = 0; r < table.height; ++r)
        for (std::size_t c = 0; c < table.width; ++c) {
            ASSERT_EQ(again.data.grid[r][c].size(), data.grid[r][c].size()) << r << ", " << c;
            if (!data.grid[r][c].empty())
                expectReading(again.data.grid[r][c][0], data.grid[r][c][0], "round trip");
        }
}

std::vector<std::array<std::uint64_t, 4>> cornerModules()
{
    // The four corner modules, 2 x 2 emitters each, of a wall of 3 x 3 modules.
    std::vector<std::array<std::uint64_t, 4>> positions;
    for (std::uint64_t mc : {0, 2})
        for (std::uint64_t mr : {0, 2})
            for (std::uint64_t pc : {0, 1})
                for (std::uint64_t pr : {0, 1})
                    positions.push_back({mc, mr, pc, pr});
    return positions;
}

INSTANTIATE_TEST_SUITE_P(
    XinRuiRaw, RawSparseTables,
    testing::Values(SparseTable{"CornerModules", cornerModules(), 6, 6},
                    SparseTable{"OneEmitterOfModuleFiveFive", {{5, 5, 3, 2}}, 4, 3},
                    SparseTable{"DiagonalOfOneModule", {{1, 1, 0, 0}, {1, 1, 1, 1}, {1, 1, 2, 2}, {1, 1, 3, 3}}, 4, 4}),
    [](const auto& info) { return std::string(info.param.name); });

// What a grid may take follows what its table holds: 2^16 cells, plus 16 for every good line
// (up to 2^26). A few lines naming far positions are refused before their grid is made, so a
// file of a few hundred bytes takes no more than a few MiB; a table within its bound reads.
struct GridBound {
    const char* name;
    std::vector<std::string> positions; // module column, module row, pixel column, pixel row
    std::string refusal;                 // "" when the table is read
    std::size_t width = 0, height = 0;
    friend void PrintTo(const GridBound& bound, std::ostream* os) { *os << bound.name; }
};

class RawGridBounds : public testing::TestWithParam<GridBound> {};

TEST_P(RawGridBounds, FollowWhatTheTableHolds)
{
    const GridBound& bound = GetParam();
    std::string text = kShortHeader + "\n";
    for (const std::string& position : bound.positions)
        text += position + " 1 0.5 0.25 2 0.5 0.25 3 0.5 0.25\n";
    Read read;
    const long growth = residentGrowthKb([&] { read = readText(text); });
    if (bound.refusal.empty()) {
        EXPECT_EQ(read.output.errors, "");
        EXPECT_EQ(read.data.width(), bound.width);
        EXPECT_EQ(read.data.height(), bound.height);
        return;
    }
    EXPECT_TRUE(isEmpty(read.data));
    EXPECT_EQ(read.output.errors, "XinRui raw table: " + bound.refusal + " a table may span, not read\n");
    EXPECT_LT(growth, 4 * 1024) << "kilobytes for a file of " << text.size() << " bytes";
}

// Lines on every fourth column and row of one module: a sixteenth of its grid, and more cells
// than the floor alone allows.
std::vector<std::string> everyFourthEmitter(std::size_t side)
{
    std::vector<std::string> positions;
    for (std::size_t r = 0; r < side; r += 4)
        for (std::size_t c = 0; c < side; c += 4)
            positions.push_back("0 0 " + std::to_string(c) + " " + std::to_string(r));
    return positions;
}

INSTANTIATE_TEST_SUITE_P(
    XinRuiRaw, RawGridBounds,
    testing::Values(GridBound{"TwoCorners", {"0 0 0 0", "0 0 8191 8191"}, "8192 x 8192 pixels, more than the 65568"},
                    GridBound{"AFarPixel", {"0 0 0 67108863"}, "1 x 67108864 pixels, more than the 65552"},
                    GridBound{"AFarModule", {"0 0 0 0", "0 70000 0 0"}, "1 x 70001 pixels, more than the 65568"},
                    GridBound{"OneLineAtItsBound", {"0 0 65551 0"}, "", 65552, 1},
                    GridBound{"OneLineOneCellBeyond", {"0 0 65552 0"}, "65553 x 1 pixels, more than the 65552"},
                    GridBound{"ASixteenthOfItsGrid", everyFourthEmitter(281), "", 281, 281}),
    [](const auto& info) { return std::string(info.param.name); });

// A value too small for a float reads as 0 with its sign, as a stream read gives it; one too large
// for it still fails its line.
TEST(XinRuiRaw, UnderflowReadsAsZero)
{
    const Read read = readText(kShortHeader + "\n0 0 0 0 1e-50 0.5 0.25 -1e-50 0.5 0.25 1e-40 0.5 0.0e-999999\n"
                               + "0 0 1 0 1e99 0.5 0.25 2 0.5 0.25 3 0.5 0.25\n");
    EXPECT_EQ(read.output.out, "bad entry, line 3\nread 4 lines, 1 x 1 modules, 1 x 1 pixels \n");
    ASSERT_EQ(read.data.width(), 1u);
    const Cal::Data::Cell& cell = read.data.grid[0][0];
    ASSERT_EQ(cell.size(), 3u);
    EXPECT_EQ(cell[0].Y, 0.0f);
    EXPECT_FALSE(std::signbit(cell[0].Y));
    EXPECT_EQ(cell[1].Y, 0.0f);
    EXPECT_TRUE(std::signbit(cell[1].Y));
    EXPECT_FLOAT_EQ(cell[2].Y, 1e-40f);
    EXPECT_EQ(cell[2].y, 0.0f);
}

// One line between two good ones that make a 2 x 1 grid.
struct BadLine {
    const char* name;
    std::string line;
    bool refusesTheTable; // otherwise the line is left out
    friend void PrintTo(const BadLine& bad, std::ostream* os) { *os << bad.name; }
};

class RawBadLines : public testing::TestWithParam<BadLine> {};

TEST_P(RawBadLines, AreLeftOutOrRefuseTheTable)
{
    const BadLine& bad = GetParam();
    const long before = peakResidentKb();
    const Read read = readText(kShortHeader + "\n0 0 0 0 1 0.5 0.25 2 0.5 0.25 3 0.5 0.25\n" + bad.line
                               + "\n0 0 1 0 4 0.5 0.25 5 0.5 0.25 6 0.5 0.25\n");
    EXPECT_LT(peakResidentKb() - before, 64 * 1024) << "kilobytes";
    if (bad.refusesTheTable) {
        EXPECT_TRUE(isEmpty(read.data));
        EXPECT_NE(read.output.errors, "");
        return;
    }
    EXPECT_EQ(read.output.out, "bad entry, line 3\nread 5 lines, 1 x 1 modules, 2 x 1 pixels \n");
    EXPECT_EQ(read.output.errors, "");
    ASSERT_EQ(read.data.width(), 2u);
    ASSERT_EQ(read.data.height(), 1u);
    EXPECT_EQ(read.data.firstModuleColumn, 0u);
    EXPECT_EQ(read.data.lastModuleRow, 0u);
    EXPECT_EQ(read.data.grid[0][0][0].Y, 1.0f);
    EXPECT_EQ(read.data.grid[0][1][0].Y, 4.0f);
    EXPECT_EQ(read.data.minReadings[0].Y, 1.0f);
    EXPECT_EQ(read.data.maxReadings[2].Y, 6.0f);
    EXPECT_EQ(read.data.minReadings[0].wavelength, 0.0f);
}

const std::string kNine = " 9 0.5 0.25 9 0.5 0.25 9 0.5 0.25";

INSTANTIATE_TEST_SUITE_P(
    XinRuiRaw, RawBadLines,
    testing::Values(BadLine{"Garbage", "ModCol hello", false},
                    BadLine{"MinusOne", "-1 0 0 0" + kNine, false},
                    BadLine{"LongFormUnderShortHeader", "0 0 0 0 9 0.5 0.25 600 9 0.5 0.25 500 9 0.5 0.25 400", false},
                    BadLine{"TwelveValues", "0 0 0 0 9 0.5 0.25 9 0.5 0.25 9 0.5", false},
                    BadLine{"FourIntegersOnly", "0 0 1 0", false},
                    BadLine{"TextAfterANumber", "0 0 0 0 9x 0.5 0.25 9 0.5 0.25 9 0.5 0.25", false},
                    BadLine{"FractionalPosition", "0.5 0 0 0" + kNine, false},
                    BadLine{"NotANumber", "0 0 0 0 nan 0.5 0.25 9 0.5 0.25 9 0.5 0.25", false},
                    BadLine{"FloatOutOfRange", "0 0 0 0 1e99 0.5 0.25 9 0.5 0.25 9 0.5 0.25", false},
                    BadLine{"PositionPast64Bits", "18446744073709551616 0 0 0" + kNine, false},
                    BadLine{"WhiteSpaceOnly", " \t ", false},
                    BadLine{"ModuleColumnOf10To15", "1000000000000000 0 0 0" + kNine, true},
                    BadLine{"PixelRowOf10To15", "0 0 0 1000000000000000" + kNine, true},
                    BadLine{"PixelColumnOfAll64Bits", "0 0 18446744073709551615 0" + kNine, true},
                    BadLine{"ModuleRowOfAll64Bits", "0 18446744073709551615 0 0" + kNine, true}),
    [](const auto& info) { return std::string(info.param.name); });

struct Refusal {
    const char* name;
    void (*breakIt)(Cal::Data&);
    friend void PrintTo(const Refusal& refusal, std::ostream* os) { *os << refusal.name; }
};

class RawWriterRefusals : public testing::TestWithParam<Refusal> {};

TEST_P(RawWriterRefusals, WriteNothingAndSetFailbit)
{
    Cal::Data data = readText(Wall::text(true)).data;
    GetParam().breakIt(data);
    const Written written = writeText(data, 2);
    EXPECT_TRUE(written.failed);
    EXPECT_EQ(written.text, "");
    EXPECT_THAT(written.output.errors, HasSubstr("nothing written"));
}

INSTANTIATE_TEST_SUITE_P(
    XinRuiRaw, RawWriterRefusals,
    testing::Values(Refusal{"ModuleWidthZero", [](Cal::Data& d) { d.moduleWidth = 0; }},
                    Refusal{"ModuleHeightZero", [](Cal::Data& d) { d.moduleHeight = 0; }},
                    Refusal{"CellWithTwoReadings", [](Cal::Data& d) { d.grid[1][2].pop_back(); }},
                    Refusal{"RowShorterThanTheFirst", [](Cal::Data& d) { d.grid[1].pop_back(); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(XinRuiRaw, EmptyDataIsWrittenAsAHeader)
{
    const Written written = writeText(Cal::Data(), 2);
    EXPECT_FALSE(written.failed);
    EXPECT_EQ(written.text, kLongHeader + "\n");
}

TEST(XinRuiRaw, FoldersHoldOneTablePerName)
{
    QTemporaryDir dir;
    const std::string root = dir.path().toStdString();
    const Cal::Data wall = readText(Wall::text(true)).data;
    const Cal::Data one = readText(kShortHeader + "\n0 0 0 0 1 0.5 0.25 2 0.5 0.25 3 0.5 0.25\n").data;

    const CapturedOutput written = CapturedOutput::of([&] { Handler().writeFiles({{"", one}, {"wall", wall}}, root, 4); });
    EXPECT_EQ(written.out, "writing " + root + "/XinRui_Raw_.txt ...\nwriting " + root + "/XinRui_Raw_wall.txt ...\n");
    EXPECT_EQ(written.errors, "");

    namespace fs = std::filesystem;
    fs::copy_file(root + "/XinRui_Raw_.txt", root + "/xinrui_raw_c.txt");
    fs::create_directory(root + "/XinRui_Raw_d.txt");
    fs::copy_file(root + "/XinRui_Raw_.txt", root + "/XinRui_Raw_e.txt.bak");
    fs::copy_file(root + "/XinRui_Raw_.txt", root + "/XinRui_Raw.txt");

    std::map<std::string, Cal::Data> read;
    const CapturedOutput reading = CapturedOutput::of([&] { read = Handler().readFiles(root); });
    ASSERT_EQ(read.size(), 2u);
    ASSERT_TRUE(read.contains(""));
    ASSERT_TRUE(read.contains("wall"));
    EXPECT_THAT(reading.out, HasSubstr("reading " + root + "/XinRui_Raw_wall.txt ...\n"));
    EXPECT_EQ(read.at("").grid[0][0][2].Y, 3.0f);
    const Cal::Data& back = read.at("wall");
    ASSERT_EQ(back.width(), 4u);
    EXPECT_EQ(back.firstModuleColumn, 3u);
    for (std::size_t r = 0; r < 2; ++r)
        for (std::size_t c = 0; c < 4; ++c)
            for (std::size_t ch = 0; ch < 3; ++ch)
                expectReading(back.grid[r][c][ch], wall.grid[r][c][ch], "file round trip");

    const CapturedOutput single = CapturedOutput::of([&] { EXPECT_EQ(Handler().readFile(root + "/XinRui_Raw_wall.txt").width(), 4u); });
    EXPECT_THAT(single.out, testing::StartsWith("reading " + root + "/XinRui_Raw_wall.txt ...\n"));
}

TEST(XinRuiRaw, UnusableFilesAndFolders)
{
    const CapturedOutput missing = CapturedOutput::of([] { EXPECT_TRUE(isEmpty(Handler().readFile("/nonexistent/t.txt"))); });
    EXPECT_EQ(missing.out, "reading /nonexistent/t.txt ...\n");
    EXPECT_EQ(missing.errors, "Can't open file /nonexistent/t.txt: No such file or directory\n");

    EXPECT_THROW(Handler().readFiles("/nonexistent/folder"), std::filesystem::filesystem_error);

    const Cal::Data data = readText(Wall::text(false)).data;
    const CapturedOutput uncreatable =
        CapturedOutput::of([&] { Handler().writeFile(data, "/nonexistent/t.txt", 2); });
    EXPECT_EQ(uncreatable.errors, "Can't open file /nonexistent/t.txt: No such file or directory\n");

    const CapturedOutput full = CapturedOutput::of([&] { Handler().writeFile(data, "/dev/full", 2); });
    EXPECT_EQ(full.errors, "Can't write file /dev/full: No space left on device\n");
}

TEST(XinRuiRaw, NumbersStayInTheCLocaleUnderACommaDecimalLocale)
{
    const CommaDecimalLocale comma;
    ASSERT_TRUE(comma.active()) << CommaDecimalLocale::kName << " is missing: run scripts/setup";
    char printed[16];
    std::snprintf(printed, sizeof printed, "%.1f", 0.5);
    ASSERT_STREQ(printed, "0,5") << "the locale is not in force";

    std::istringstream in(kLongHeader + "\n2 3 0 0 1.5 0.25 0.125 612.5 2.5 0.5 0.375 540.5 3.5 0.75 0.0625 465.5\n");
    in.imbue(comma.locale());
    Cal::Data data;
    CapturedOutput::of([&] { data = Handler().readStream(in); });
    ASSERT_EQ(data.width(), 1u);
    expectReading(data.grid[0][0][0], {0.25f, 0.125f, 1.5f, 612.5f}, "red");
    expectReading(data.grid[0][0][2], {0.75f, 0.0625f, 3.5f, 465.5f}, "blue");

    std::ostringstream out;
    out.imbue(comma.locale());
    CapturedOutput::of([&] { Handler().writeStream(data, out, 2); });
    EXPECT_EQ(linesOf(out.str()).at(1),
              "2 3 0 0 1.50\t0.2500\t0.1250\t612.5\t2.50\t0.5000\t0.3750\t540.5\t3.50\t0.7500\t0.0625\t465.5");
}

} // namespace

} // namespace XinRuiRawHandlerTests
