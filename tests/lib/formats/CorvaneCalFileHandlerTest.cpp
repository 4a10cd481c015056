#include "support/FileSizeLimit.h"
#include "CapturedOutput.h"
#include "TestFiles.h"
#include "KlvImage.h"
#include "formats/CorvaneCalFileHandler.h"

#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cmath>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <sstream>

// Named, so that the file's own names stay apart from its neighbours' when sources are compiled
// together (unity builds).
namespace CorvaneCalFileHandlerTests {

using CorvaneCalFile::Handler;
using CorvaneCalFile::Mesh;
using testing::HasSubstr;
using namespace KlvImage;

namespace {

std::string bytesOf(const Mesh& mesh, std::string* errors = nullptr, bool* failed = nullptr)
{
    std::ostringstream out;
    const Captured c = capture([&] { Handler().writeStream(mesh, out); });
    if (errors)
        *errors = c.errors;
    if (failed)
        *failed = out.fail();
    return out.str();
}

std::string bytesOf(const Cal::Data& data)
{
    std::ostringstream out;
    capture([&] { Handler().writeStream(data, out); });
    return out.str();
}

Mesh meshOf(const std::string& bytes, std::string* errors = nullptr)
{
    std::istringstream in(bytes);
    Mesh mesh;
    const Captured c = capture([&] { mesh = Handler().readStreamMesh(in); });
    if (errors)
        *errors = c.errors;
    return mesh;
}

Cal::Data dataOf(const std::string& bytes, std::string* errors = nullptr)
{
    std::istringstream in(bytes);
    Cal::Data data;
    const Captured c = capture([&] { data = Handler().readStream(in); });
    if (errors)
        *errors = c.errors;
    return data;
}

// Three channels of 2 x 2 samples, as the processor upload builds them.
Mesh sampleMesh()
{
    Mesh mesh;
    mesh.name = "Velotrim continuous";
    mesh.grids = {Vector2D<float>{{1.0f, 0.5f}, {0.75f, 0.1f}}, Vector2D<float>{{0.0f, 1.5f}, {1.25f, 1.0f}},
                  Vector2D<float>{{0.25f, 0.125f}, {1.999f, 0.0625f}}};
    mesh.windowX = 0.5f;
    mesh.windowY = 0.5f;
    mesh.windowWidth = 2.0f;
    mesh.windowHeight = 2.0f;
    mesh.factor = 0.05f;
    return mesh;
}

bool isEmpty(const Mesh& mesh) { return mesh.name.empty() && mesh.grids.empty(); }

} // namespace

TEST(CorvaneCalFileHandler, MeshBytesMatchTheFormat)
{
    const Mesh mesh = sampleMesh();
    const std::string payload = meshPayload(mesh.name, 2, 2,
                                            {{0x8000, 0x4000, 0x6000, 0x0CCC},
                                             {0x0000, 0xC000, 0xA000, 0x8000},
                                             {0x2000, 0x1000, 0xFFDF, 0x0800}},
                                            {0.5f, 0.5f, 2.0f, 2.0f, 0.05f});
    const std::string expected = file({3, 0, 0, ""}, calSet(7) + record(Key::CalMeshCorr, payload));
    const std::size_t n = mesh.name.size();
    ASSERT_EQ(expected.size(), 12 + 2 + 9 + 4 + 11 + 9 + (3 + 38 + n + 6 * 4));

    std::string errors;
    bool failed = true;
    EXPECT_EQ(bytesOf(mesh, &errors, &failed), expected);
    EXPECT_FALSE(failed);
    EXPECT_EQ(errors, "");
}

TEST(CorvaneCalFileHandler, MeshSurvivesStreamsAndFiles)
{
    const Mesh mesh = sampleMesh();
    const auto expectRead = [&mesh](const Mesh& read) {
        EXPECT_EQ(read.name, mesh.name);
        EXPECT_EQ(read.channels(), 3u);
        EXPECT_EQ(read.windowX, 0.5f);
        EXPECT_EQ(read.windowHeight, 2.0f);
        EXPECT_EQ(read.factor, 0.05f);
        ASSERT_EQ(read.grids[0].height(), 2u);
        EXPECT_EQ(read.grids[0][0][0], 1.0f);
        EXPECT_EQ(read.grids[0][1][0], 0.75f);
        EXPECT_EQ(read.grids[0][1][1], 0.0999755859375f);
        EXPECT_EQ(read.grids[1][0][1], 1.5f);
    };
    expectRead(meshOf(bytesOf(mesh)));

    QTemporaryDir dir;
    const std::string path = dir.filePath("mesh.klv").toStdString();
    {
        std::ofstream out(path, std::ios::binary);
        capture([&] { Handler().writeStream(mesh, out); });
    }
    std::ifstream in(path, std::ios::binary);
    Mesh fromFile;
    capture([&] { fromFile = Handler().readStreamMesh(in); });
    expectRead(fromFile);
}

TEST(CorvaneCalFileHandler, MeshChannelCountsAndEmptyGrids)
{
    Mesh two = sampleMesh();
    two.grids.pop_back();
    const std::string twoPayload = meshPayload(two.name, 2, 2,
                                               {{0x8000, 0x4000, 0x6000, 0x0CCC}, {0x0000, 0xC000, 0xA000, 0x8000}, {}},
                                               {0.5f, 0.5f, 2.0f, 2.0f, 0.05f});
    EXPECT_EQ(bytesOf(two), file({3, 0, 0, ""}, calSet(7) + record(Key::CalMeshCorr, twoPayload)));

    Mesh single = sampleMesh();
    single.grids.resize(1);
    EXPECT_EQ(bytesOf(single)[14], 1);
    EXPECT_EQ(meshOf(bytesOf(single)).channels(), 1u);

    Mesh rowless;
    rowless.name = "n";
    rowless.grids.resize(3);
    rowless.factor = 1.0f;
    const std::string rowlessPayload = meshPayload("n", 0, 0, {{}, {}, {}}, {0, 0, 0, 0, 1.0f});
    EXPECT_EQ(bytesOf(rowless), file({3, 0, 0, ""}, calSet(7) + record(Key::CalMeshCorr, rowlessPayload)));

    // Nothing set at all: no mesh record, only its set.
    EXPECT_EQ(bytesOf(Mesh()), file({3, 0, 0, ""}, calSet(7)));
}

TEST(CorvaneCalFileHandler, SamplesAreClampedNotWrapped)
{
    struct Case {
        float gain;
        unsigned sample;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (const Case c : {Case{1.0f, 0x8000}, Case{0.5f, 0x4000}, Case{0.75f, 0x6000}, Case{0.1f, 0x0CCC},
                         Case{-0.5f, 0}, Case{nan, 0}, Case{2.5f, 0xFFFF}, Case{1.999969482421875f, 0xFFFF},
                         Case{-std::numeric_limits<float>::infinity(), 0}}) {
        Mesh mesh;
        mesh.grids = {Vector2D<float>(1, 1, c.gain)};
        const std::string bytes = bytesOf(mesh);
        ASSERT_GE(bytes.size(), 6u);
        const std::size_t at = bytes.size() - 4 - 2;
        const unsigned stored = unsigned(std::uint8_t(bytes[at])) << 8 | std::uint8_t(bytes[at + 1]);
        EXPECT_EQ(stored, c.sample) << c.gain;
    }
}

TEST(CorvaneCalFileHandler, BadMeshShapesAreRefusedWithFailbit)
{
    struct Case {
        const char* what;
        std::function<void(Mesh&)> change;
        const char* message;
    };
    const std::vector<Case> cases{
        {"six channels", [](Mesh& m) { m.grids.resize(6, m.grids[0]); }, "at most 5 channels"},
        {"other shape", [](Mesh& m) { m.grids[2] = Vector2D<float>(3, 2, 1.0f); }, "differ in shape"},
        {"ragged rows", [](Mesh& m) { m.grids[1][1].pop_back(); }, "differ in shape"},
        {"long name", [](Mesh& m) { m.name.assign(70000, 'n'); }, "CorvaneCal Write error"},
        {"rows without columns", [](Mesh& m) { m.grids.assign(3, Vector2D<float>(0, 2)); }, "no samples"},
    };
    for (const Case& c : cases) {
        Mesh mesh = sampleMesh();
        c.change(mesh);
        std::string errors;
        bool failed = false;
        EXPECT_EQ(bytesOf(mesh, &errors, &failed), "") << c.what;
        EXPECT_TRUE(failed) << c.what;
        EXPECT_THAT(errors, HasSubstr(c.message)) << c.what;
    }
}

TEST(CorvaneCalFileHandler, DataBytesMatchTheFormat)
{
    // (x, y, Y) = (0.25, 0.5, 2) is (X, Y, Z) = (1, 2, 1); y = 0 gives (0, 0, 0).
    Cal::Data data;
    data.addChannel(Vector2D<Cal::EmitterReading>{{{0.25f, 0.5f, 2.0f, 0.0f}, {0.5f, 0.25f, 4.0f, 0.0f}}});
    data.addChannel(Vector2D<Cal::EmitterReading>{{{0.2f, 0.0f, 3.0f, 0.0f}, {0.25f, 0.5f, 8.0f, 0.0f}}});
    data.addChannel(Vector2D<Cal::EmitterReading>(2, 1, {0.25f, 0.25f, 1.0f, 0.0f}));

    std::string proc;
    u32(proc, 0);
    u32(proc, 0);
    u32(proc, 4);
    u32(proc, 0);
    u32(proc, 0x10000);
    std::string pixels;
    for (float v : {1.0f, 2.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 2.0f,  // emitter 0: red, green, blue
                    8.0f, 4.0f, 4.0f, 4.0f, 8.0f, 4.0f, 1.0f, 1.0f, 2.0f})
        f32(pixels, v);
    const std::string expected =
        file({3, 2, 1, ""}, calSet(0) + record(Key::CalProcInfo, proc) + record(Key::PixelsXYZ, pixels));
    EXPECT_EQ(bytesOf(data), expected);

    const Cal::Data read = dataOf(expected);
    ASSERT_EQ(read.width(), 2u);
    ASSERT_EQ(read.channels(), 3u);
    EXPECT_EQ(read.moduleWidth, 2u);
    EXPECT_EQ(read.grid[0][1][0].x, 0.5f);
    EXPECT_EQ(read.grid[0][1][0].Y, 4.0f);
    EXPECT_EQ(read.grid[0][0][1].Y, 0.0f);

    // Empty data: the header, its set, the proc info and the CRC; it reads back empty.
    const std::string empty = file({3, 0, 0, ""}, calSet(0) + record(Key::CalProcInfo, proc));
    EXPECT_EQ(bytesOf(Cal::Data()), empty);
    EXPECT_EQ(dataOf(empty).height(), 0u);
}

TEST(CorvaneCalFileHandler, DataSurvivesFilesAndDirectories)
{
    Cal::Data data;
    for (int ch = 0; ch < 3; ++ch) {
        Vector2D<Cal::EmitterReading> readings(3, 2);
        for (std::size_t r = 0; r < 2; ++r)
            for (std::size_t c = 0; c < 3; ++c)
                readings[r][c] = {0.3f + 0.01f * float(ch), 0.35f, float(1 + r * 3 + c), 0.0f};
        data.addChannel(readings);
    }
    QTemporaryDir dir;
    const std::string root = dir.path().toStdString();
    std::map<std::string, Cal::Data> all{{"a", data}, {"tile 2", data.subset(1, 0, 2, 2)}};
    const Captured written = capture([&] { Handler().writeFiles(all, root); });
    EXPECT_THAT(written.out, HasSubstr("writing " + root + "/a.klv"));
    std::filesystem::create_directory(root + "/sub.klv");
    std::filesystem::copy_file(root + "/a.klv", root + "/b.klv.bak");

    std::map<std::string, Cal::Data> read;
    capture([&] { read = Handler().readFiles(root); });
    ASSERT_EQ(read.size(), 2u);
    const Cal::Data& a = read.at("a");
    ASSERT_EQ(a.width(), 3u);
    ASSERT_EQ(a.height(), 2u);
    for (std::size_t r = 0; r < 2; ++r)
        for (std::size_t c = 0; c < 3; ++c)
            for (std::size_t ch = 0; ch < 3; ++ch) {
                EXPECT_NEAR(a.grid[r][c][ch].x, data.grid[r][c][ch].x, 1e-6);
                EXPECT_NEAR(a.grid[r][c][ch].y, data.grid[r][c][ch].y, 1e-6);
                EXPECT_NEAR(a.grid[r][c][ch].Y, data.grid[r][c][ch].Y, 1e-6);
            }
    EXPECT_EQ(read.at("tile 2").width(), 2u);

    Cal::Data single;
    const Captured one = capture([&] { single = Handler().readFile(root + "/a.klv"); });
    EXPECT_EQ(single.width(), 3u);
    EXPECT_THAT(one.out, HasSubstr("reading "));
}

TEST(CorvaneCalFileHandler, UnusableSourcesGiveEmptyResults)
{
    const Captured missing = capture([] { EXPECT_EQ(Handler().readFile("/nonexistent/x.klv").height(), 0u); });
    EXPECT_EQ(missing.errors, "Can't open file /nonexistent/x.klv: No such file or directory\n");

    std::string errors;
    EXPECT_TRUE(isEmpty(meshOf(bytesOf(Cal::Data()), &errors)));
    EXPECT_EQ(errors, "CorvaneCal does not contain a mesh\n");

    EXPECT_EQ(dataOf("not a calibration file", &errors).height(), 0u);
    EXPECT_THAT(errors, HasSubstr("CorvaneCal Parse error"));

    // Emitters the file lacks read as zero readings; pixel formats 4 and 5 give zero channels.
    std::string pixels;
    for (int i = 0; i < 9; ++i)
        f32(pixels, 1.0f);
    const Cal::Data partial = dataOf(file({4, 2, 2, ""}, calSet(0) + record(Key::PixelsXYZ, pixels)));
    ASSERT_EQ(partial.height(), 2u);
    ASSERT_EQ(partial.channels(), 4u);
    EXPECT_FLOAT_EQ(partial.grid[0][0][0].x, 1.0f / 3.0f);
    EXPECT_EQ(partial.grid[0][0][3].Y, 0.0f);
    EXPECT_EQ(partial.grid[1][1][0].Y, 0.0f);

    // Cal::Data rows of different lengths or more than three channels are not written.
    Cal::Data ragged;
    ragged.addChannel(Vector2D<Cal::EmitterReading>(2, 2));
    ragged.grid[1].pop_back();
    Cal::Data four;
    for (int ch = 0; ch < 4; ++ch)
        four.addChannel(Vector2D<Cal::EmitterReading>(1, 1));
    for (const Cal::Data& bad : {ragged, four}) {
        std::ostringstream out;
        capture([&] { Handler().writeStream(bad, out); });
        EXPECT_TRUE(out.fail());
        EXPECT_EQ(out.str(), "");
    }
}

TEST(CorvaneCalFileHandler, EveryTruncationFailsCleanly)
{
    const std::string whole = bytesOf(sampleMesh());
    for (std::size_t size = 0; size < whole.size(); ++size) {
        const std::string cut = whole.substr(0, size);
        ASSERT_TRUE(isEmpty(meshOf(cut))) << size;
        ASSERT_EQ(dataOf(cut).height(), 0u) << size;
    }
    EXPECT_EQ(meshOf(whole).channels(), 3u);
}

TEST(CorvaneCalFileHandler, CraftedLengthsFailFastInSmallMemory)
{
    const auto crafted = [](unsigned pixelFormat, unsigned width, unsigned height, std::uint32_t areaLength,
                            const std::string& records, std::uint32_t totalLength) {
        std::string s;
        u32(s, 0xCD57AB34);
        u32(s, totalLength);
        u16(s, 9);
        u32(s, 1);
        u8(s, pixelFormat);
        u16(s, width);
        u16(s, height);
        u32(s, areaLength);
        s += records;
        u32(s, zlibCrc(s));
        return s;
    };
    const std::uint32_t huge = 0xFFFFFFF0u;
    const auto header = [](std::uint32_t key, std::uint32_t length) {
        std::string r;
        u32(r, key);
        u32(r, length);
        u8(r, 0);
        return r;
    };
    std::string meshHead;
    u16(meshHead, 0);
    u32(meshHead, 0xFFFFFFFFu);
    u32(meshHead, 0xFFFFFFFFu);
    meshHead += std::string(28, '\0');
    std::string unflagged = meshPayload("", 60000, 60000, {{}, {}, {}}, {0, 0, 0, 0, 0});
    const std::string ok = calSet(7) + record(Key::CalMeshCorr, unflagged);

    const std::vector<std::pair<const char*, std::string>> cases{
        {"record longer than the area", crafted(3, 100, 100, 200, header(Key::PixelsXYZ, huge) + std::string(191, 'x'), 300)},
        {"huge area, short stream", crafted(3, 65535, 65535, huge, calSet(0) + header(Key::PixelsXYZ, huge - 20) + "abc", huge)},
        {"huge mesh", crafted(3, 0, 0, huge, calSet(7) + header(Key::CalMeshCorr, huge - 20) + meshHead + "\1abc", huge)},
        {"unknown key", crafted(3, 0, 0, huge, header(0x00AB0001, 0xFFFF) + "abc", huge)},
        {"huge total length", crafted(3, 0, 0, 0, "", huge)},
        {"string past its record", crafted(3, 0, 0, 20, calSet(0) + header(Key::CalBatchID, 0) + "\xFF\xFF", 34)},
        {"MeasTemp count past its record",
         crafted(3, 0, 0, 21, calSet(0) + header(Key::MeasTemp, 1) + "\xFF", 35)},
        {"mesh without samples", file({3, 0, 0, ""}, ok)},
        // One dimension 0: no samples to read, but rows enough for gigabytes.
        {"mesh 0 x 4294967295", file({3, 0, 0, ""}, calSet(7) + record(Key::CalMeshCorr, meshPayload("m", 0, 0xFFFFFFFFu, {{}, {}, {}}, {0, 0, 0, 0, 0})))},
        {"mesh 0 x 100000000", file({3, 0, 0, ""}, calSet(7) + record(Key::CalMeshCorr, meshPayload("m", 0, 100000000, {{}, {}, {}}, {0, 0, 0, 0, 0})))},
        {"mesh 4294967295 x 0", file({3, 0, 0, ""}, calSet(7) + record(Key::CalMeshCorr, meshPayload("m", 0xFFFFFFFFu, 0, {{}, {}, {}}, {0, 0, 0, 0, 0})))},
        {"header without pixels", file({3, 65535, 65535, ""}, calSet(0))},
    };
    ASSERT_EQ(cases[8].second.size(), 89u) << "the size the fault was reported with";
    const long before = peakResidentKb();
    for (const auto& [what, bytes] : cases) {
        std::string errors;
        EXPECT_TRUE(isEmpty(meshOf(bytes, &errors))) << what;
        EXPECT_THAT(errors, HasSubstr("CorvaneCal ")) << what;
        EXPECT_EQ(dataOf(bytes).height(), 0u) << what;
    }
    EXPECT_LT(peakResidentKb() - before, 64 * 1024) << "kilobytes";
}

TEST(CorvaneCalFileHandler, MeshKeepsTheLayoutCallersBuild)
{
    // What the program constructs across the library boundary: name, grids, five floats.
    struct Layout {
        std::string name;
        std::vector<std::vector<std::vector<float>>> grids;
        float values[5];
    };
    static_assert(sizeof(Mesh) == sizeof(Layout));
    static_assert(offsetof(Mesh, grids) == offsetof(Layout, grids));
    static_assert(offsetof(Mesh, windowX) == offsetof(Layout, values));
    static_assert(offsetof(Mesh, factor) == offsetof(Layout, values) + 4 * sizeof(float));

    const Mesh mesh;
    EXPECT_TRUE(isEmpty(mesh));
    EXPECT_EQ(mesh.windowX, 0.0f);
    EXPECT_EQ(mesh.windowY, 0.0f);
    EXPECT_EQ(mesh.windowWidth, 0.0f);
    EXPECT_EQ(mesh.windowHeight, 0.0f);
    EXPECT_EQ(mesh.factor, 0.0f);
}

namespace {

using TestFiles::contentOf;
using TestFiles::namesIn;

void store(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

Cal::Data readingsOf(std::size_t width, std::size_t height, std::size_t channels)
{
    Cal::Data data;
    for (std::size_t ch = 0; ch < channels; ++ch)
        data.addChannel(Vector2D<Cal::EmitterReading>(width, height, {0.3f, 0.3f, 1.0f, 0.0f}));
    return data;
}


struct FailedWriteCase {
    const char* name;
    // Builds the data to write over the file at the given path (which already holds a good file).
    std::function<Cal::Data(const std::string& path)> data;
    const char* message;
    rlim_t sizeLimit = RLIM_INFINITY;
};

class CorvaneCalFileWriteFailure : public testing::TestWithParam<FailedWriteCase> {};

} // namespace

TEST_P(CorvaneCalFileWriteFailure, LeavesTheOldFileWhole)
{
    const FailedWriteCase& c = GetParam();
    QTemporaryDir dir;
    const std::string root = dir.path().toStdString();
    const std::string path = root + "/tile.klv";
    std::string pixels;
    for (int i = 0; i < 4 * 3 * 2; ++i)
        f32(pixels, 0.25f);
    const std::string old = file({4, 2, 1, ""}, calSet(0) + record(Key::PixelsXYZ, pixels));
    store(path, old);

    const Cal::Data data = c.data(path);
    Captured written;
    {
        const FileSizeLimit limit(c.sizeLimit);
        written = capture([&] { Handler().writeFile(data, path); });
    }
    EXPECT_THAT(written.errors, HasSubstr(c.message));
    EXPECT_EQ(contentOf(path), old);
    EXPECT_EQ(namesIn(root), std::vector<std::string>{"tile.klv"}) << "no temporary file is left behind";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CorvaneCalFileWriteFailure,
    testing::Values(
        // Four channels read fine but cannot be written back, not even over the file they came from.
        FailedWriteCase{"FourChannelsOverTheirOwnFile",
                        [](const std::string& path) {
                            Cal::Data data;
                            capture([&] { data = Handler().readFile(path); });
                            EXPECT_EQ(data.channels(), 4u);
                            return data;
                        },
                        "at most 3 can be written"},
        FailedWriteCase{"RaggedRows",
                        [](const std::string&) {
                            Cal::Data data = readingsOf(3, 2, 3);
                            data.grid[1].pop_back();
                            return data;
                        },
                        "rows differ in length"},
        FailedWriteCase{"FileSystemFullHalfWay", [](const std::string&) { return readingsOf(100, 100, 3); },
                        "CorvaneCal Write error", 16 * 1024}),
    [](const testing::TestParamInfo<FailedWriteCase>& info) { return std::string(info.param.name); });

TEST(CorvaneCalFileHandler, WritingAFileReplacesItWhole)
{
    QTemporaryDir dir;
    const std::string root = dir.path().toStdString();
    const Cal::Data data = readingsOf(3, 2, 3);
    const std::string expected = bytesOf(data);

    // Longer old content is gone, not overwritten in part; the permission bits stay.
    const std::string path = root + "/tile.klv";
    store(path, std::string(expected.size() * 2, 'x'));
    std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write
                                           | std::filesystem::perms::group_read);
    const Captured written = capture([&] { Handler().writeFile(data, path); });
    EXPECT_EQ(written.errors, "");
    EXPECT_EQ(written.out, "writing " + path + "\n");
    EXPECT_EQ(contentOf(path), expected);
    EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write
                  | std::filesystem::perms::group_read);

    // Through a symbolic link the file it names is replaced and the link stays.
    const std::string link = root + "/link.klv";
    std::filesystem::create_symlink(path, link);
    capture([&] { Handler().writeFile(readingsOf(1, 1, 1), link); });
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(contentOf(path), bytesOf(readingsOf(1, 1, 1)));
    EXPECT_EQ(namesIn(root), (std::vector<std::string>{"link.klv", "tile.klv"}));

    // Where no file can be made, the message names the path the caller gave.
    const Captured missing = capture([&] { Handler().writeFile(data, root + "/none/x.klv"); });
    EXPECT_EQ(missing.errors, "Can't open file " + root + "/none/x.klv: No such file or directory\n");
    const Captured folder = capture([&] { Handler().writeFile(data, root); });
    EXPECT_EQ(folder.errors, "Can't open file " + root + ": Is a directory\n");
}

} // namespace CorvaneCalFileHandlerTests
