#include "CapturedOutput.h"
#include "TestFiles.h"
#include "formats/CalData.h"
#include "formats/XinRuiRawHandler.h"
#include "formats/ccCoeffHandler.h"
#include "support/FileSizeLimit.h"

#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

// The text calibration writers replace a file whole or not at all, like the KLV writer (whose own
// table of failures lies with its handler's tests): a refused or failed write over an existing
// file leaves it byte for byte, and no temporary file behind.

using testing::HasSubstr;

namespace {

using TestFiles::contentOf;
using TestFiles::namesIn;

Cal::Data rawData(std::size_t width, std::size_t height, std::uint64_t moduleSize)
{
    Cal::Data data;
    for (int channel = 0; channel < 3; ++channel)
        data.addChannel(Vector2D<Cal::EmitterReading>(width, height, {0.3f, 0.3f, 100.0f, 0.0f}));
    data.moduleWidth = moduleSize;
    data.moduleHeight = moduleSize;
    return data;
}

ccCoeffFile coefficients(std::size_t width, std::size_t height)
{
    ccCoeffFile table;
    table.width = width;
    table.height = height;
    for (std::size_t i = 0; i < width * height; ++i)
        table.entries.push_back({i % width, i / width, {1, 0, 0, 0, 1, 0, 0, 0, 1}});
    return table;
}

struct WriterCase {
    const char* name;
    std::function<void(const std::string& path)> write;
    // What the standard error stream says about the write.
    const char* message;
    rlim_t sizeLimit = RLIM_INFINITY;
};

class ReplacingWriters : public testing::TestWithParam<WriterCase> {};

constexpr rlim_t kSmallDisk = 16 * 1024;

} // namespace

TEST_P(ReplacingWriters, AFailedWriteLeavesTheOldFileWhole)
{
    const WriterCase& c = GetParam();
    QTemporaryDir dir;
    const std::string root = dir.path().toStdString();
    const std::string path = root + "/calibration.txt";
    const std::string old = "the old calibration\n";
    std::ofstream(path, std::ios::binary) << old;

    CapturedOutput written;
    {
        const FileSizeLimit limit(c.sizeLimit);
        written = CapturedOutput::of([&] { c.write(path); });
    }
    EXPECT_THAT(written.errors, HasSubstr(c.message));
    EXPECT_EQ(contentOf(path), old);
    EXPECT_EQ(namesIn(root), std::vector<std::string>{"calibration.txt"}) << "no temporary file is left behind";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplacingWriters,
    testing::Values(
        WriterCase{"RawRefusesAModuleSizeOfZero",
                   [](const std::string& path) { XinRui_Raw::Handler().writeFile(rawData(4, 2, 0), path, 2); },
                   "a grid with a module width or height of 0, nothing written"},
        WriterCase{"RawRefusesACellWithTwoReadings",
                   [](const std::string& path) {
                       Cal::Data data = rawData(4, 2, 2);
                       data.grid[1][3].pop_back();
                       XinRui_Raw::Handler().writeFile(data, path, 2);
                   },
                   "a cell with one or two readings"},
        WriterCase{"RawFileSystemFullHalfWay",
                   [](const std::string& path) { XinRui_Raw::Handler().writeFile(rawData(200, 100, 4), path, 4); },
                   "Can't write file ", kSmallDisk},
        WriterCase{"CoefficientsFileSystemFullHalfWay",
                   [](const std::string& path) { ccCoeffHandler().writeFile(coefficients(100, 100), path); },
                   "Can't write file ", kSmallDisk}),
    [](const testing::TestParamInfo<WriterCase>& info) { return std::string(info.param.name); });

TEST(ReplacingWriterTargets, RefusedDataNeverOpensTheTarget)
{
    // Refused before anything is opened: a target that could not even be created is not mentioned.
    const CapturedOutput refused =
        CapturedOutput::of([] { XinRui_Raw::Handler().writeFile(rawData(4, 2, 0), "/nonexistent/t.txt", 2); });
    EXPECT_THAT(refused.errors, HasSubstr("nothing written"));
    EXPECT_THAT(refused.errors, testing::Not(HasSubstr("Can't open file")));
}

TEST(ReplacingWriterTargets, ADeviceIsWrittenInPlaceNotReplaced)
{
    // A device cannot be replaced: it is written directly and stays the device it was.
    struct stat before{};
    if (::stat("/dev/full", &before) != 0)
        GTEST_SKIP() << "no /dev/full here";
    const CapturedOutput full = CapturedOutput::of([] { ccCoeffHandler().writeFile(coefficients(100, 100), "/dev/full"); });
    EXPECT_EQ(full.errors, "Can't write file /dev/full: No space left on device\n");
    struct stat after{};
    ASSERT_EQ(::stat("/dev/full", &after), 0);
    EXPECT_TRUE(S_ISCHR(after.st_mode));
    EXPECT_EQ(after.st_rdev, before.st_rdev);
}
