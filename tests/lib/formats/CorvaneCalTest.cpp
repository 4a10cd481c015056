#include "KlvImage.h"
#include "formats/CorvaneCalRead.h"
#include "formats/CorvaneCalReadCB.h"
#include "formats/CorvaneCalWrite.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

// Named, so that the file's own names stay apart from its neighbours' when sources are compiled
// together (unity builds).
namespace CorvaneCalTests {

using namespace CorvaneCal;
using testing::HasSubstr;

namespace {

struct Outcome {
    bool complete = false;
    std::uint64_t setsFound = 0;
    CalSets sets;
    std::string errors;
};

Outcome readInto(const std::string& bytes, CalSets start = {})
{
    Outcome out;
    out.sets = std::move(start);
    std::istringstream in(bytes);
    testing::internal::CaptureStderr();
    out.complete = ReadCB::read(in, out.sets, out.setsFound);
    out.errors = testing::internal::GetCapturedStderr();
    return out;
}

unsigned parseStatus(const std::string& bytes)
{
    std::istringstream in(bytes);
    Read reader(in);
    testing::internal::CaptureStderr();
    const unsigned status = reader.parse();
    testing::internal::GetCapturedStderr();
    return status;
}

std::string olutDat(unsigned first)
{
    std::string p;
    for (unsigned i = 0; i < 3; ++i)
        KlvImage::u16(p, first + i);
    return p;
}

// A CalSets with something in every field that the writer emits.
CalSets everything()
{
    CalSets s;
    s.header = {1, 3, 2, 1};
    s.factoryCorr = {{{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}};
    s.factoryLow = {1, 2, 3};
    s.batchId = "batch";
    s.tileId = {{1, 2, 3, 4, 5, 6}, 7, 8, 9.5f, 10};
    s.procInfo = {4, 0x123456789ull, 2, 0x10000};
    s.brightness = 0.25f;
    s.defaultGamut = {{{0.64f, 0.33f}, {0.3f, 0.6f}, {0.15f, 0.06f}}};
    s.defaultWhite = {0.3127f, 0.329f};
    s.idealGamut = {{{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}};
    s.measTemps = {{1, {2, 3, 4}}, {5, {6, 7, 8}}};
    s.pixelsXYZ = {{{{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}}, {{{9, 8, 7}, {6, 5, 4}, {3, 2, 1}}}};
    s.olutXYY = {OlutXYY{}, OlutXYY{{{1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {0, 0, 0}, {0, 0, 0}}}};
    s.calTemplate = "template text";
    s.lowGray = {{1, 2, 300}, {4, 5, 6}};
    s.lowGray16 = 1;
    s.olutId = "olut";
    s.olutProcInfo = {1, 2, 3, 4};
    s.olutGamut = {{{0.1f, 0.2f}, {0.3f, 0.4f}, {0.5f, 0.6f}}};
    s.olutWhite = {0.7f, 0.8f};
    s.olutDat = {{1, 2, 3, 0, 0}, {4, 5, 6, 0, 0}};
    s.olutRef = {{{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {0, 0, 0}, {0, 0, 0}}};
    s.olutIShaper = {1, 2, 3};
    s.olutOShaper = {4, 5};
    s.badPixels = {{1, 2, 3, 4}, {5, 6, 7, 8}};
    s.mesh.name = "mesh";
    s.mesh.width = 2;
    s.mesh.height = 1;
    s.mesh.channels[0] = {1, 2};
    s.mesh.channels[2] = {5, 6};
    s.mesh.words = {1, 2, 3, 4, 5, 5, 0};
    s.stored.push_back({0x00060007, 3, std::make_shared<const std::vector<std::uint8_t>>(3, 0xAB), 0});
    return s;
}

std::string written(const CalSets& sets, std::uint64_t mask, unsigned* status = nullptr)
{
    std::ostringstream out;
    Write writer(sets, mask);
    const unsigned result = writer.write(out);
    if (status)
        *status = result;
    return out.str();
}

} // namespace

TEST(CorvaneCal, EverySetSurvivesAWriteAndARead)
{
    const CalSets original = everything();
    const Outcome read = readInto(written(original, 0xFF));
    ASSERT_TRUE(read.complete) << read.errors;
    EXPECT_EQ(read.setsFound, 0xFFu);
    EXPECT_EQ(read.sets, original);
    EXPECT_THAT(read.errors, HasSubstr("Unknown KLV ID: 0x00060007, len: 3"));
}

TEST(CorvaneCal, TheMaskSelectsSetsAndStoredRecordsByTag)
{
    CalSets sets = everything();
    sets.stored.push_back({0x12340000, 1, std::make_shared<const std::vector<std::uint8_t>>(1, 7), 42});
    const Outcome highGray = readInto(written(sets, 0x1));
    ASSERT_TRUE(highGray.complete);
    EXPECT_EQ(highGray.sets.batchId, "batch");
    EXPECT_TRUE(highGray.sets.badPixels.empty());
    EXPECT_TRUE(highGray.sets.mesh.isDefault());
    EXPECT_TRUE(highGray.sets.stored.empty());

    const Outcome tagged = readInto(written(sets, (std::uint64_t(42) << 32) | (1u << 31)));
    ASSERT_TRUE(tagged.complete);
    ASSERT_EQ(tagged.sets.stored.size(), 1u);
    EXPECT_EQ(tagged.sets.stored[0].key, 0x12340000u);
}

TEST(CorvaneCal, ReaderEdgeCases)
{
    using namespace KlvImage;
    const std::string oneSet = calSet(0) + record(Key::CalBatchID, std::string("\0\2ab", 4));
    // Longer header, longer record than its layout, and banked records all read normally.
    {
        const Outcome longHeader = readInto(file({3, 0, 0, "xyz"}, oneSet));
        ASSERT_TRUE(longHeader.complete) << longHeader.errors;
        EXPECT_EQ(longHeader.sets.batchId, "ab");
    }
    {
        const Outcome longer = readInto(file({}, calSet(0) + record(Key::CalBatchID, std::string("\0\2abXYZ", 7))));
        ASSERT_TRUE(longer.complete);
        EXPECT_EQ(longer.sets.batchId, "ab");
    }
    {
        const Outcome shorter = readInto(file({}, calSet(0) + record(Key::CalBatchID, std::string("\0\5ab", 4))));
        EXPECT_FALSE(shorter.complete);
        EXPECT_THAT(shorter.errors, HasSubstr("Invalid KLV 0x00000001 length:"));
        EXPECT_EQ(shorter.sets.batchId, "");
    }
    {
        const Outcome banked =
            readInto(file({}, calSet(0) + record(Key::CalBatchID, std::string("\0\2ab", 4), 1)));
        ASSERT_TRUE(banked.complete);
        EXPECT_EQ(banked.sets.batchId, "");
    }
    {
        const Outcome big = readInto(file({}, record(0x00AB0001, std::string(70000, 'x')) + oneSet));
        ASSERT_TRUE(big.complete);
        EXPECT_THAT(big.errors, HasSubstr("*** WARN L608: Unknown KLV ID: 0x00ab0001, len: 70000"));
        EXPECT_THAT(big.errors, HasSubstr("*** ERROR L611: Unknown key 0x00ab0001 length too big: 70000"));
        EXPECT_EQ(big.sets.batchId, "ab");
        EXPECT_TRUE(big.sets.stored.empty());
    }
    {
        const Outcome deleted = readInto(file({}, record(Key::xBlueContrib, "abc") + oneSet));
        ASSERT_TRUE(deleted.complete);
        EXPECT_THAT(deleted.errors, HasSubstr("*** INFO L588: Dropping deleted KLV ID: 0x00010001, xBlueContrib"));
    }
    EXPECT_EQ(parseStatus(file({2, 0, 0, ""}, "")), Read::InvalidPixelFormat);
    EXPECT_EQ(parseStatus("\x12\x34\x56\x78xxxxxxxxxxxxxxxxxxxx"), Read::UnknownMagic);
    EXPECT_EQ(parseStatus(file({}, record(Key::EndTag, "") + oneSet)), Read::Stopped);
    std::string badCrc = file({}, oneSet);
    badCrc.back() ^= 1;
    EXPECT_EQ(parseStatus(badCrc), Read::Malformed);
}

TEST(CorvaneCal, CalSetClearsOnlyBeforeTheFirstRecordOfItsSet)
{
    using namespace KlvImage;
    CalSets start;
    start.olutDat = {{9, 9, 9, 0, 0}};
    start.lowGray = {{9, 9, 9}};
    const std::string records = calSet(3) + record(Key::OLUTDat, olutDat(1)) + calSet(3)
                                + record(Key::OLUTDat, olutDat(4)) + record(Key::LowGray16, olutDat(7))
                                + record(Key::LowGray16, olutDat(10));
    const Outcome read = readInto(file({3, 2, 1, ""}, records), start);
    ASSERT_TRUE(read.complete) << read.errors;
    EXPECT_EQ(read.sets.olutDat, (std::vector<OlutDat>{{1, 2, 3, 0, 0}, {4, 5, 6, 0, 0}}));
    EXPECT_EQ(read.sets.lowGray, (std::vector<LowGray>{{10, 11, 12}}));
    EXPECT_EQ(read.setsFound, 1u << 3);
}

TEST(CorvaneCal, AnEmptyRecordAreaCallsOnlyHeaderAndEnd)
{
    struct Recorder : Read {
        using Read::Read;
        std::vector<std::string> calls;
        void onHeader(const Header&, std::uint32_t, std::uint32_t) override { calls.push_back("header"); }
        void onEnd() override { calls.push_back("end"); }
        void onCalSet(std::uint64_t, bool) override { calls.push_back("set"); }
    };
    std::istringstream in(KlvImage::file({}, ""));
    Recorder reader(in);
    EXPECT_EQ(reader.parse(), Read::Ok);
    EXPECT_EQ(reader.calls, (std::vector<std::string>{"header", "end"}));
}

TEST(CorvaneCal, AMeshChannelFlaggedZeroReadsAsEmpty)
{
    using namespace KlvImage;
    std::string mesh;
    u16(mesh, 1);
    mesh += "m";
    u32(mesh, 2);
    u32(mesh, 1);
    for (int i = 0; i < 7; ++i)
        u32(mesh, 0);
    u8(mesh, 1);
    u16(mesh, 0x8000);
    u16(mesh, 0x4000);
    u8(mesh, 0);
    u8(mesh, 0);
    const Outcome read = readInto(file({}, calSet(7) + record(Key::CalMeshCorr, mesh)));
    ASSERT_TRUE(read.complete) << read.errors;
    EXPECT_EQ(read.sets.mesh.channels[0], (std::vector<std::uint16_t>{0x8000, 0x4000}));
    EXPECT_TRUE(read.sets.mesh.channels[1].empty());
}

TEST(CorvaneCal, WriterRefusesWhatTheFormatCannotHold)
{
    struct Case {
        const char* what;
        std::function<void(CalSets&)> change;
        unsigned status;
        const char* message;
    };
    const std::vector<Case> cases{
        {"pixel format 2", [](CalSets& s) { s.header.pixelFormat = 2; }, Write::InvalidPixelFormat,
         "Invalid pixel format: 2"},
        {"width over 65535", [](CalSets& s) { s.header.width = 70000; }, Write::Failed, "Invalid size"},
        {"256 MeasTemp entries", [](CalSets& s) { s.measTemps.resize(256); }, Write::Failed, "MeasTemp"},
        {"long string", [](CalSets& s) { s.batchId.assign(70000, 'b'); }, Write::Failed, "String too long: 65536"},
        {"mesh size", [](CalSets& s) { s.mesh.channels[1] = {1}; }, Write::Failed,
         "Invalid mesh size, cc: 1, 1 != 2 x 1"},
    };
    for (const Case& c : cases) {
        CalSets sets = everything();
        c.change(sets);
        unsigned status = 0;
        testing::internal::CaptureStderr();
        const std::string bytes = written(sets, 0xFF, &status);
        const std::string errors = testing::internal::GetCapturedStderr();
        EXPECT_EQ(status, c.status) << c.what;
        EXPECT_THAT(errors, HasSubstr(c.message)) << c.what;
        EXPECT_TRUE(bytes.empty()) << c.what;
    }
}

TEST(CorvaneCal, AFailingStreamIsAWriteError)
{
    std::ostringstream out;
    out.setstate(std::ios::badbit);
    const CalSets sets = everything();
    Write writer(sets, 0xFF);
    testing::internal::CaptureStderr();
    EXPECT_EQ(writer.write(out), Write::Failed);
    EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr("*** ERROR L1070: Write Error"));
    // The measured lengths are kept: a second write to a good stream is complete.
    std::ostringstream good;
    EXPECT_EQ(writer.write(good), Write::Ok);
    EXPECT_TRUE(readInto(good.str()).complete);
}

} // namespace CorvaneCalTests
