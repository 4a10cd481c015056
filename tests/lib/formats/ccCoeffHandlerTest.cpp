#include "CapturedOutput.h"
#include "CommaDecimalLocale.h"
#include "formats/ccCoeffHandler.h"

#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

// Named, so that the file's own names stay apart from its neighbours' when sources are compiled
// together (unity builds).
namespace ccCoeffHandlerTests {

using testing::HasSubstr;

namespace {

constexpr std::array<double, 9> kIdentity{1, 0, 0, 0, 1, 0, 0, 0, 1};

// A file in a folder of its own for the test's lifetime.
class CoeffFile {
public:
    CoeffFile() : m_path(m_dir.path().toStdString() + "/coefficients.txt") {}
    explicit CoeffFile(const std::string& text) : CoeffFile()
    {
        std::ofstream(m_path, std::ios::binary) << text;
    }

    const std::string& path() const { return m_path; }
    std::string text() const
    {
        std::ifstream in(m_path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    QTemporaryDir m_dir;
    std::string m_path;
};

struct Read {
    ccCoeffFile table;
    CapturedOutput output;
};

Read readText(const std::string& text)
{
    const CoeffFile file(text);
    Read r;
    r.output = CapturedOutput::of([&] { r.table = ccCoeffHandler().readFile(file.path()); });
    return r;
}

// The text of a table by the C formats the file is defined by, printed in the C locale.
std::string formatted(const ccCoeffFile& table)
{
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, "[T9COEF20]\nwidth=%zi\nheight=%zi\n", table.width, table.height);
    std::string text = buffer;
    for (const auto& e : table.entries) {
        const auto& m = e.matrix;
        std::snprintf(buffer, sizeof buffer, "%zi,%zi,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf\n", e.first, e.second, m[0],
                      m[1], m[2], m[3], m[4], m[5], m[6], m[7], m[8]);
        text += buffer;
    }
    return text;
}

ccCoeffFile table(std::size_t width, std::size_t height, std::vector<std::array<double, 9>> matrices)
{
    ccCoeffFile t;
    t.width = width;
    t.height = height;
    for (std::size_t i = 0; i < matrices.size(); ++i)
        t.entries.push_back({i % std::max<std::size_t>(width, 1), i / std::max<std::size_t>(width, 1), matrices[i]});
    return t;
}

void expectEqual(const ccCoeffFile& actual, const ccCoeffFile& expected)
{
    EXPECT_EQ(actual.width, expected.width);
    EXPECT_EQ(actual.height, expected.height);
    ASSERT_EQ(actual.entries.size(), expected.entries.size());
    for (std::size_t i = 0; i < actual.entries.size(); ++i) {
        EXPECT_EQ(actual.entries[i].first, expected.entries[i].first) << i;
        EXPECT_EQ(actual.entries[i].second, expected.entries[i].second) << i;
        for (std::size_t k = 0; k < 9; ++k)
            EXPECT_NEAR(actual.entries[i].matrix[k], expected.entries[i].matrix[k], 5e-7) << i << "," << k;
    }
}

const std::string kEntry = "0,0,1.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,1.0\n";

TEST(ccCoeff, IdentityTableMatchesTheFormatAndReadsBack)
{
    const ccCoeffFile identities = table(2, 1, {kIdentity, kIdentity});
    const CoeffFile file;
    const CapturedOutput written = CapturedOutput::of([&] { ccCoeffHandler().writeFile(identities, file.path()); });
    EXPECT_EQ(written.errors, "");
    EXPECT_EQ(file.text(), formatted(identities));
    EXPECT_EQ(file.text(), "[T9COEF20]\nwidth=2\nheight=1\n"
                           "0,0,1.000000,0.000000,0.000000,0.000000,1.000000,0.000000,0.000000,0.000000,1.000000\n"
                           "1,0,1.000000,0.000000,0.000000,0.000000,1.000000,0.000000,0.000000,0.000000,1.000000\n");

    ccCoeffFile back;
    const CapturedOutput read = CapturedOutput::of([&] { back = ccCoeffHandler().readFile(file.path()); });
    expectEqual(back, identities);
    // The first entry is echoed in the writer's format.
    EXPECT_EQ(read.out, "0,0,1.000000,0.000000,0.000000,0.000000,1.000000,0.000000,0.000000,0.000000,1.000000\n");
    EXPECT_EQ(read.errors, "");
}

TEST(ccCoeff, ValuesSurviveAtSixDigits)
{
    ccCoeffFile t = table(1, 2, {{0.5, -1.25, 3.141592, 1e6, -0.000001, 0, 42, 7.5, -2}, kIdentity});
    t.entries[1].first = 17;
    t.entries[1].second = 123456789;
    const CoeffFile file;
    CapturedOutput::of([&] { ccCoeffHandler().writeFile(t, file.path()); });
    EXPECT_EQ(file.text(), formatted(t));
    ccCoeffFile back;
    CapturedOutput::of([&] { back = ccCoeffHandler().readFile(file.path()); });
    expectEqual(back, t);
}

TEST(ccCoeff, TheDeclaredSizeBoundsTheEntries)
{
    const std::string header = "[T9COEF20]\nwidth=2\nheight=2\n";
    const Read three = readText(header + kEntry + kEntry + kEntry);
    EXPECT_EQ(three.table.entries.size(), 3u);
    EXPECT_EQ(three.table.width, 2u);
    EXPECT_EQ(three.table.height, 2u);
    EXPECT_EQ(three.output.errors, "");
    EXPECT_THAT(three.output.out, testing::Not(HasSubstr("bad entry")));

    std::string five = header;
    for (int i = 0; i < 5; ++i)
        five += std::to_string(i) + kEntry.substr(1);
    const Read four = readText(five);
    ASSERT_EQ(four.table.entries.size(), 4u);
    EXPECT_EQ(four.table.entries[3].first, 3u);

    // A size far beyond the lines read: only the lines become entries.
    const long before = peakResidentKb();
    const Read huge = readText("[T9COEF20]\nwidth=4000000000\nheight=4000000000\n" + kEntry + kEntry);
    EXPECT_EQ(huge.table.entries.size(), 2u);
    EXPECT_EQ(huge.table.width, 4000000000u);
    EXPECT_LT(peakResidentKb() - before, 16 * 1024) << "kilobytes";
}

// An entry line that is not eleven fields: reported, kept with its missing fields 0.
struct BadEntry {
    const char* name;
    std::string line;
    std::string report; // "" when the line is good
    double lastValue;
    friend void PrintTo(const BadEntry& bad, std::ostream* os) { *os << bad.name; }
};

class CoeffEntryLines : public testing::TestWithParam<BadEntry> {};

TEST_P(CoeffEntryLines, AreReportedAndKept)
{
    const BadEntry& bad = GetParam();
    const std::string next = "5,6,9,9,9,9,9,9,9,9,9\n";
    const Read read = readText("[T9COEF20]\r\nwidth=3\r\nheight=1\r\n" + kEntry + bad.line + next);
    ASSERT_EQ(read.table.entries.size(), 3u);
    EXPECT_EQ(read.table.entries[1].matrix[8], bad.lastValue);
    EXPECT_EQ(read.table.entries[2].first, 5u) << "the next line is read as itself";
    EXPECT_EQ(read.table.entries[2].matrix[8], 9.0);
    const std::string echo = "0,0,1.000000,0.000000,0.000000,0.000000,1.000000,0.000000,0.000000,0.000000,1.000000\n";
    EXPECT_EQ(read.output.out, echo + bad.report);
}

INSTANTIATE_TEST_SUITE_P(
    ccCoeff, CoeffEntryLines,
    testing::Values(BadEntry{"EightValues", "1,0,1,2,3,4,5,6,7,8\n", "bad entry, read 10 fields on line 5\n", 0.0},
                    BadEntry{"TrailingComma", "1,0,1,2,3,4,5,6,7,8,9,\n", "bad entry, read 11 fields on line 5\n", 9.0},
                    BadEntry{"TwelveValues", "1,0,1,2,3,4,5,6,7,8,9,10\n", "bad entry, read 11 fields on line 5\n", 9.0},
                    BadEntry{"Garbage", "hello\n", "bad entry, read 0 fields on line 5\n", 0.0},
                    BadEntry{"SpaceBeforeAComma", "1 ,0,1,2,3,4,5,6,7,8,9\n", "bad entry, read 1 fields on line 5\n", 0.0},
                    BadEntry{"CrlfAndBlanksAround", "\r\n \t\r\n1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9 \r\n", "", 9.0},
                    BadEntry{"SignsAndExponents", "+1,0,1,2,3,4,5,6,7,8,+0.9e1\n", "", 9.0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ccCoeff, AShortFirstEntryIsReportedThenEchoedWithItsZeros)
{
    const Read read = readText("[T9COEF20]\nwidth=1\nheight=1\n1,0,1,2,3,4,5,6,7,8\n");
    ASSERT_EQ(read.table.entries.size(), 1u);
    EXPECT_EQ(read.table.entries[0].matrix[7], 8.0);
    EXPECT_EQ(read.table.entries[0].matrix[8], 0.0);
    EXPECT_EQ(read.output.out, "bad entry, read 10 fields on line 4\n"
                               "1,0,1.000000,2.000000,3.000000,4.000000,5.000000,6.000000,7.000000,8.000000,0.000000\n");
}

// What the C library's scan of the writer's header format gives for a header: the sizes when
// it assigns both, else nothing.
std::optional<std::pair<std::size_t, std::size_t>> scannedSizes(const std::string& header)
{
    std::make_signed_t<std::size_t> width = 0, height = 0;
    if (std::sscanf(header.c_str(), "[T9COEF20]\nwidth=%zi\nheight=%zi\n", &width, &height) != 2)
        return std::nullopt;
    return std::pair{std::size_t(width), std::size_t(height)};
}

// White space wherever the writer's scan format "[T9COEF20]\nwidth=%zi\nheight=%zi\n" skips it:
// after each "=", and any amount (blank lines too) where the format has a line end; sizes in
// every base "%zi" reads, told by their prefix. The C library's own scan agrees on each.
TEST(ccCoeff, HeadersReadAsTheScanFormatReadsThem)
{
    struct Header {
        const char* what;
        std::string text;
        std::size_t width, height;
    };
    const std::vector<Header> headers{
        {"blank after each =", "[T9COEF20]\nwidth= 2\nheight=\t 1\n", 2, 1},
        {"blank lines between", "[T9COEF20]\n\nwidth=2\n \n\nheight=1\n", 2, 1},
        {"blanks before each key", "[T9COEF20] \r\n  width=2\r\n\theight=1 \r\n", 2, 1},
        {"a sign", "[T9COEF20]\nwidth=+2\nheight=+1\n", 2, 1},
        {"octal", "[T9COEF20]\nwidth=010\nheight=01\n", 8, 1},
        {"hexadecimal", "[T9COEF20]\nwidth=0x10\nheight=0X1f\n", 16, 31},
        {"signed hexadecimal", "[T9COEF20]\nwidth=+0x2\nheight=-0\n", 2, 0},
        {"a bare hexadecimal prefix", "[T9COEF20]\nwidth=0x\nheight=1\n", 0, 1},
        {"zeros", "[T9COEF20]\nwidth=00\nheight=0\n", 0, 0},
    };
    for (const Header& header : headers) {
        SCOPED_TRACE(header.what);
        ASSERT_EQ(scannedSizes(header.text), std::pair(header.width, header.height)) << "the C library's scan";
        const Read read = readText(header.text + kEntry + kEntry);
        EXPECT_EQ(read.output.errors, "");
        EXPECT_EQ(read.table.width, header.width);
        EXPECT_EQ(read.table.height, header.height);
        EXPECT_EQ(read.table.entries.size(), std::min<std::size_t>(2, header.width * header.height));
        EXPECT_THAT(read.output.out, testing::Not(HasSubstr("bad entry")));
    }
}

// Garbage under a header declaring a vast table: the lines that assign no field keep their
// places as zero entries, but past 1000 of them the rest is not read. Lines that assign some of
// their fields are entries of the table, however many there are, and never count towards that.
TEST(ccCoeff, GarbageStopsAfterAThousandLinesThatAssignNothing)
{
    std::string text = "[T9COEF20]\nwidth=100000\nheight=100000\n" + kEntry + kEntry;
    for (int i = 0; i < 3000; ++i)
        text += i % 2 == 0 ? "x\n" : "7,8,9\n";
    text += kEntry;
    const Read read = readText(text);
    ASSERT_EQ(read.table.entries.size(), 2u + 2000u);
    EXPECT_EQ(read.table.entries[1].matrix[8], 1.0);
    EXPECT_EQ(read.table.entries[2001].matrix[8], 0.0);
    EXPECT_EQ(read.table.entries[2001].first, 7u);
    EXPECT_EQ(read.table.entries[2001].matrix[0], 9.0);
    EXPECT_THAT(read.output.out, HasSubstr("bad entry, read 3 fields on line 2005\n"));
    EXPECT_THAT(read.output.out, testing::Not(HasSubstr("on line 2006")));
    EXPECT_THAT(read.output.errors,
                HasSubstr("more than 1000 bad entries that read no field, the rest from line 2006 on is not read"));
}

TEST(ccCoeff, ManyEntriesShortOfSomeFieldsAreAllKept)
{
    std::string text = "[T9COEF20]\nwidth=3000\nheight=1\n";
    for (int i = 0; i < 2999; ++i)
        text += std::to_string(i) + ",0,1,2,3,4,5,6,7,8\n";
    text += kEntry;
    const Read read = readText(text);
    ASSERT_EQ(read.table.entries.size(), 3000u);
    EXPECT_EQ(read.table.entries[2998].first, 2998u);
    EXPECT_EQ(read.table.entries[2998].matrix[7], 8.0);
    EXPECT_EQ(read.table.entries[2998].matrix[8], 0.0);
    EXPECT_EQ(read.table.entries[2999].matrix[8], 1.0);
    EXPECT_THAT(read.output.out, HasSubstr("bad entry, read 10 fields on line 3002\n"));
    EXPECT_EQ(read.output.errors, "");
}

TEST(ccCoeff, UnreadableFilesGiveAnEmptyTable)
{
    const std::vector<std::pair<const char*, std::string>> headers{
        {"no magic", "[T9COEF21]\nwidth=1\nheight=1\n"},
        {"blank before the magic", " [T9COEF20]\nwidth=1\nheight=1\n"},
        {"missing height", "[T9COEF20]\nwidth=1\n"},
        {"swapped keys", "[T9COEF20]\nheight=1\nwidth=1\n"},
        {"blank before =", "[T9COEF20]\nwidth =1\nheight=1\n"},
        {"negative width", "[T9COEF20]\nwidth=-2\nheight=1\n"},
        {"text after the size", "[T9COEF20]\nwidth=2x\nheight=1\n"},
        {"text after the height", "[T9COEF20]\nwidth=2\nheight=1 x\n"},
        {"overflowing size", "[T9COEF20]\nwidth=4294967296\nheight=4294967296\n"},
        {"size past 64 bits", "[T9COEF20]\nwidth=18446744073709551616\nheight=1\n"},
        {"hexadecimal past 64 bits", "[T9COEF20]\nwidth=0x10000000000000000\nheight=1\n"},
        {"an 8 in an octal size", "[T9COEF20]\nwidth=08\nheight=1\n"},
        {"a hexadecimal prefix before text", "[T9COEF20]\nwidth=0xg\nheight=1\n"},
        {"a sign alone", "[T9COEF20]\nwidth=+\nheight=1\n"},
        {"empty", ""},
    };
    for (const auto& [what, header] : headers) {
        const CoeffFile file(header + kEntry);
        ccCoeffFile read = table(1, 1, {kIdentity});
        const CapturedOutput output = CapturedOutput::of([&] { read = ccCoeffHandler().readFile(file.path()); });
        EXPECT_EQ(output.errors, "Incorrect header in " + file.path() + "\n") << what;
        EXPECT_EQ(read.width, 0u) << what;
        EXPECT_TRUE(read.entries.empty()) << what;
    }

    const CapturedOutput missing =
        CapturedOutput::of([] { EXPECT_TRUE(ccCoeffHandler().readFile("/nonexistent/c.txt").entries.empty()); });
    EXPECT_EQ(missing.errors, "Can't open file /nonexistent/c.txt: No such file or directory\n");
}

TEST(ccCoeff, UnwritableFilesAreReported)
{
    const ccCoeffFile t = table(1, 1, {kIdentity});
    const CapturedOutput uncreatable =
        CapturedOutput::of([&] { ccCoeffHandler().writeFile(t, "/nonexistent/c.txt"); });
    EXPECT_EQ(uncreatable.errors, "Can't open file /nonexistent/c.txt: No such file or directory\n");
    const CapturedOutput full = CapturedOutput::of([&] { ccCoeffHandler().writeFile(t, "/dev/full"); });
    EXPECT_EQ(full.errors, "Can't write file /dev/full: No space left on device\n");
}

TEST(ccCoeff, ProductPairsEntriesByIndex)
{
    const std::array<double, 9> a{1, 2, 3, 4, 5, 6, 7, 8, 9};
    const std::array<double, 9> b{0, 1, 0, 1, 0, 0, 0, 0, 2}; // swaps columns 0 and 1, doubles column 2
    ccCoeffFile left = table(2, 1, {a, kIdentity});
    left.entries[1].first = 7; // positions come from the left table, whatever the right one says

    expectEqual(left * table(2, 1, {kIdentity, kIdentity}), left);
    const ccCoeffFile product = left * table(5, 5, {b, a, kIdentity});
    EXPECT_EQ(product.width, 2u);
    EXPECT_EQ(product.height, 1u);
    ASSERT_EQ(product.entries.size(), 2u);
    EXPECT_EQ(product.entries[0].matrix, (std::array<double, 9>{2, 1, 6, 5, 4, 12, 8, 7, 18}));
    EXPECT_EQ(product.entries[1].matrix, a);
    EXPECT_EQ(product.entries[1].first, 7u);

    ccCoeffFile shorter;
    const CapturedOutput refused = CapturedOutput::of([&] { shorter = left * table(1, 1, {kIdentity}); });
    EXPECT_TRUE(shorter.entries.empty());
    EXPECT_EQ(shorter.width, 0u);
    EXPECT_THAT(refused.errors, HasSubstr("cannot multiply a table of 2 entries by one of 1"));
}

TEST(ccCoeff, NumbersStayInTheCLocaleUnderACommaDecimalLocale)
{
    const ccCoeffFile t = table(1, 1, {{0.5, 1.25, 0, 0, 1, 0, 0, 0, 1}});
    const std::string cText = formatted(t);
    const CommaDecimalLocale comma;
    ASSERT_TRUE(comma.active()) << CommaDecimalLocale::kName << " is missing: run scripts/setup";
    char printed[16];
    std::snprintf(printed, sizeof printed, "%lf", 0.5);
    ASSERT_STREQ(printed, "0,500000") << "the locale is not in force";

    const CoeffFile file;
    CapturedOutput::of([&] { ccCoeffHandler().writeFile(t, file.path()); });
    EXPECT_EQ(file.text(), cText);
    ccCoeffFile back;
    const CapturedOutput read = CapturedOutput::of([&] { back = ccCoeffHandler().readFile(file.path()); });
    expectEqual(back, t);
    EXPECT_EQ(read.out, "0,0,0.500000,1.250000,0.000000,0.000000,1.000000,0.000000,0.000000,0.000000,1.000000\n");
}

} // namespace

} // namespace ccCoeffHandlerTests
