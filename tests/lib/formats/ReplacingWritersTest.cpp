#include "CapturedOutput.h"
#include "Fifo.h"
#include "TestFiles.h"
#include "formats/CalData.h"
#include "formats/XinRuiRawHandler.h"
#include "formats/ccCoeffHandler.h"
#include "support/FileSizeLimit.h"

#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

TEST(ReplacingWriterTargets, AFifoIsWrittenInPlaceWhenReadAndRefusedWhenNot)
{
    QTemporaryDir dir;
    const Fifo fifo(dir.path().toStdString() + "/coefficients.txt");
    ASSERT_TRUE(fifo.made());
    const ccCoeffFile table = coefficients(2, 1);

    // No process reads it: refused at once, not waited on.
    CapturedOutput unread;
    ASSERT_TRUE(fifo.callReturns([&] { unread = CapturedOutput::of([&] { ccCoeffHandler().writeFile(table, fifo.path()); }); }))
        << "the writer waited on a FIFO nobody reads";
    EXPECT_EQ(unread.errors, "Can't open file " + fifo.path() + ": No such device or address\n");

    // A process reads it: the table goes through the FIFO, which stays a FIFO.
    const int reader = ::open(fifo.path().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    CapturedOutput read;
    ASSERT_TRUE(fifo.callReturns([&] { read = CapturedOutput::of([&] { ccCoeffHandler().writeFile(table, fifo.path()); }); }));
    EXPECT_EQ(read.errors, "");
    std::string received;
    char buffer[256];
    for (ssize_t n; (n = ::read(reader, buffer, sizeof buffer)) > 0;)
        received.append(buffer, std::size_t(n));
    ::close(reader);
    EXPECT_EQ(received.substr(0, 28), "[T9COEF20]\nwidth=2\nheight=1\n");
    EXPECT_EQ(std::count(received.begin(), received.end(), '\n'), 5);
    struct stat status{};
    ASSERT_EQ(::lstat(fifo.path().c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
}
