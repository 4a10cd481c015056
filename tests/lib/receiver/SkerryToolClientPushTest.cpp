#include "ClientTestSupport.h"

#include <gmock/gmock.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <stdexcept>
#include <streambuf>

using namespace ClientTest;
using namespace SkerryTool;
using Frame = ScriptedServer::Frame;
using Plan = ScriptedServer::Plan;
using Bytes = std::vector<std::uint8_t>;

namespace {

const Mac kPushDevice{{0x0A, 0x00, 0x27, 0x00, 0x00, 0x02}};
constexpr auto kType = PushDataSetRequest::Type{0x21};
constexpr std::uint8_t kIndex = 3;

PushDataSetRequest requestOf(const Frame& frame)
{
    PushDataSetRequest request;
    if (frame.payload.size() >= sizeof request)
        std::memcpy(&request, frame.payload.data(), sizeof request);
    return request;
}

bool isPushStep(const Frame& frame, std::uint8_t step)
{
    return frame.header.command == Command::Set && requestOf(frame).step == step;
}

std::uint32_t zlibCrc(const std::string& bytes, std::size_t count)
{
    return std::uint32_t(crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), uInt(count)));
}

Plan pushReply(Command command, std::function<void(Plan&)> change = {})
{
    Plan plan;
    plan.forCommand = command;
    plan.forParameter = ParameterID::PushData;
    if (change)
        change(plan);
    return plan;
}

class ClientPush : public ServerTest
{
protected:
    Error push(std::istream& data) { return errorOf(client->PushData(kPushDevice, kIndex, kType, data)); }
};

} // namespace

TEST_F(ClientPush, EmptyStreamAnnouncesNothingAndChecksZero)
{
    std::istringstream empty;
    EXPECT_EQ(push(empty), Error{});

    const auto frames = server->frames();
    ASSERT_EQ(frames.size(), 4u);
    const std::uint8_t steps[] = {1, 3, 4};
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const PushDataSetRequest request = requestOf(frames[i]);
        EXPECT_EQ(frames[i].header.command, Command::Set);
        EXPECT_EQ(frames[i].header.parameter, ParameterID::PushData);
        EXPECT_EQ(frames[i].payload.size(), sizeof(PushDataSetRequest));
        EXPECT_EQ(request.mac, kPushDevice);
        EXPECT_EQ(request.type, kType);
        EXPECT_EQ(request.index, kIndex);
        EXPECT_EQ(request.step, steps[i]);
        EXPECT_EQ(request.value, 0u);
        EXPECT_EQ(request.offset, 0u);
    }
    EXPECT_EQ(frames[3].header.command, Command::Get);
    EXPECT_EQ(frames[3].header.parameter, ParameterID::PushData);
    EXPECT_THAT(frames[3].payload, ::testing::ElementsAre(0x0A, 0x00, 0x27, 0x00, 0x00, 0x02, 0x00));
}

TEST_F(ClientPush, OneByteOverAChunkGoesInTwoChunksWithZlibsChecksum)
{
    constexpr std::size_t kSize = 65503;
    std::string data(kSize, '\0');
    std::mt19937 random(31);
    for (char& c : data)
        c = char(random());
    std::istringstream in(data);
    EXPECT_EQ(push(in), Error{});

    const auto frames = server->frames();
    ASSERT_EQ(frames.size(), 6u);
    EXPECT_EQ(requestOf(frames[0]).value, kSize);
    struct Chunk {
        std::uint32_t offset;
        std::uint32_t length;
    };
    const Chunk chunks[] = {{0, 65502}, {65502, 1}};
    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const Frame& frame = frames[1 + i];
        ASSERT_TRUE(isPushStep(frame, 2));
        EXPECT_EQ(requestOf(frame).offset, chunks[i].offset);
        EXPECT_EQ(requestOf(frame).value, chunks[i].length);
        ASSERT_EQ(frame.payload.size(), sizeof(PushDataSetRequest) + chunks[i].length);
        EXPECT_TRUE(std::equal(frame.payload.begin() + sizeof(PushDataSetRequest), frame.payload.end(),
                               data.begin() + chunks[i].offset,
                               [](std::uint8_t sent, char original) { return sent == std::uint8_t(original); }));
    }
    EXPECT_EQ(frames[1].header.length, 65535);
    ASSERT_TRUE(isPushStep(frames[3], 3));
    EXPECT_EQ(requestOf(frames[3]).value, zlibCrc(data, kSize));
    EXPECT_TRUE(isPushStep(frames[4], 4));
    for (std::size_t i = 0; i < frames.size(); ++i)
        EXPECT_EQ(frames[i].header.sequence, i);
}

// A step answered otherwise than expected ends the push there.
struct StepCase {
    const char* name;
    std::vector<Plan> script;
    Error expected;
    std::size_t frames;
};

// Test names carry the case's name, not its bytes.
void PrintTo(const StepCase& c, std::ostream* out) { *out << c.name; }

class ClientPushSteps : public ClientPush, public ::testing::WithParamInterface<StepCase>
{
};

TEST_P(ClientPushSteps, EndThePush)
{
    server->script(GetParam().script);
    std::istringstream in(std::string(10, 'x'));
    EXPECT_EQ(push(in), GetParam().expected);
    EXPECT_EQ(server->frames().size(), GetParam().frames);
}

namespace {

const Plan kSoundSet = pushReply(Command::Set);

std::function<void(Plan&)> answer(std::vector<std::uint8_t> payload)
{
    return [payload](Plan& p) { p.payload = payload; };
}

const StepCase kStepCases[] = {
    {"AnnounceAcknowledgedWrongly", {pushReply(Command::Set, answer({7, 0}))}, Error{WrongCommand, 0, 7}, 1},
    {"AnnounceAcknowledgedShort", {pushReply(Command::Set, answer({1}))}, Error{PayloadTooShort}, 1},
    {"AnnounceRefused", {pushReply(Command::Set, [](Plan& p) { p.responseCode = 4; })}, Error{Sound, 4}, 1},
    {"ChunkAcknowledgedWrongly", {kSoundSet, pushReply(Command::Set, answer({9}))}, Error{WrongCommand, 0, 9}, 2},
    {"ChecksumAcknowledgedWrongly", {kSoundSet, kSoundSet, pushReply(Command::Set, answer({1}))},
     Error{WrongCommand, 0, 1}, 3},
    {"FinishAcknowledgedWrongly", {kSoundSet, kSoundSet, kSoundSet, pushReply(Command::Set, answer({2}))},
     Error{WrongCommand, 0, 2}, 4},
    {"DeviceEndsInState7", {pushReply(Command::Get, answer({7}))}, Error{Sound, 0, 7}, 5},
    {"DeviceAnswersWithoutState", {pushReply(Command::Get, answer({}))}, Error{}, 5},
    {"BusyTwiceThenDone",
     {pushReply(Command::Get, [](Plan& p) { p.responseCode = 5; }),
      pushReply(Command::Get, [](Plan& p) { p.responseCode = 5; })},
     Error{},
     7},
    // A reply cut short carries code 5 but is no answer from the device.
    {"BusyReplyCutShort",
     {pushReply(Command::Get, [](Plan& p) { p.responseCode = 5; p.payload = Bytes{0}; p.closeAfterHeader = true; })},
     Error{ReadFailed, 5},
     5},
};

} // namespace

INSTANTIATE_TEST_SUITE_P(Cases, ClientPushSteps, ::testing::ValuesIn(kStepCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ClientPush, BusyPollsArePacedAndBounded)
{
    server->always(pushReply(Command::Get, [](Plan& p) { p.responseCode = 5; }));
    const auto limits = TestClient::shortLimits();
    std::istringstream in("abc");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(push(in), (Error{Sound, 5}));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, limits.statusPollLimit + 3s);

    const auto frames = server->frames();
    const auto polls = std::size_t(std::count_if(frames.begin(), frames.end(),
                                                 [](const Frame& f) { return f.header.command == Command::Get; }));
    EXPECT_GE(polls, 2u);
    EXPECT_LE(polls, std::size_t(limits.statusPollLimit / limits.statusPollPause) + 1);
    EXPECT_GE(elapsed, (polls - 1) * limits.statusPollPause);
}

namespace {

// A stream of `delivered` bytes (each its position's low byte) that reports `reported` bytes
// as its end, without holding them; it may refuse to seek, or throw when it runs out.
class ScriptedBuffer : public std::streambuf
{
public:
    ScriptedBuffer(std::uint64_t reported, std::uint64_t delivered, bool seekable, bool throws)
        : m_reported(reported)
        , m_delivered(delivered)
        , m_seekable(seekable)
        , m_throws(throws)
    {
    }

protected:
    int_type underflow() override
    {
        if (m_next >= m_delivered) {
            if (m_throws)
                throw std::runtime_error("device gone");
            return traits_type::eof();
        }
        const std::size_t count = std::size_t(std::min<std::uint64_t>(m_window.size(), m_delivered - m_next));
        for (std::size_t i = 0; i < count; ++i)
            m_window[i] = char((m_next + i) & 0xFF);
        m_next += count;
        setg(m_window.data(), m_window.data(), m_window.data() + count);
        return traits_type::to_int_type(m_window[0]);
    }

    pos_type seekoff(off_type offset, std::ios_base::seekdir direction, std::ios_base::openmode) override
    {
        if (!m_seekable)
            return pos_type(off_type(-1));
        const std::uint64_t current = m_next - std::uint64_t(egptr() - gptr());
        const std::uint64_t base = direction == std::ios_base::beg ? 0
                                   : direction == std::ios_base::end ? m_reported
                                                                     : current;
        m_next = base + std::uint64_t(offset);
        setg(nullptr, nullptr, nullptr);
        return pos_type(off_type(m_next));
    }

    pos_type seekpos(pos_type position, std::ios_base::openmode which) override
    {
        return seekoff(off_type(position), std::ios_base::beg, which);
    }

private:
    std::uint64_t m_reported;
    std::uint64_t m_delivered;
    bool m_seekable;
    bool m_throws;
    std::uint64_t m_next = 0;
    std::array<char, 4096> m_window{};
};

struct StreamCase {
    const char* name;
    std::uint64_t reported;
    std::uint64_t delivered;
    bool seekable;
    bool throws;
    std::size_t frames; // announcement and whole chunks sent before the stream gave out
};

// Test names carry the case's name, not its bytes.
void PrintTo(const StreamCase& c, std::ostream* out) { *out << c.name; }

constexpr std::uint64_t k4GiB = std::uint64_t(1) << 32;

const StreamCase kStreamCases[] = {
    {"CannotSeek", 100, 100, false, false, 0},
    {"Reports4GiBPlus1", k4GiB + 1, 0, true, false, 0},
    {"EndsBeforeItsSize", 200000, 100000, true, false, 2},
    {"FailsBeforeItsSize", 200000, 100000, true, true, 2},
};

class ClientPushStreams : public ClientPush, public ::testing::WithParamInterface<StreamCase>
{
};

} // namespace

TEST_P(ClientPushStreams, ThatCannotDeliverTheirSizeAreRefused)
{
    const StreamCase& c = GetParam();
    ScriptedBuffer buffer(c.reported, c.delivered, c.seekable, c.throws);
    std::istream in(&buffer);
    EXPECT_EQ(push(in), Error{WriteFailed});
    const auto frames = server->frames();
    EXPECT_EQ(frames.size(), c.frames);
    for (const Frame& frame : frames)
        EXPECT_FALSE(isPushStep(frame, 3) || isPushStep(frame, 4));
}

INSTANTIATE_TEST_SUITE_P(Cases, ClientPushStreams, ::testing::ValuesIn(kStreamCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ClientPush, SendsExactlyTheAnnouncedBytes)
{
    ScriptedBuffer buffer(1000, 5000, true, false);
    std::istream in(&buffer);
    EXPECT_EQ(push(in), Error{});
    const auto frames = server->frames();
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_EQ(requestOf(frames[0]).value, 1000u);
    EXPECT_EQ(requestOf(frames[1]).value, 1000u);
    EXPECT_EQ(frames[1].payload.size(), sizeof(PushDataSetRequest) + 1000);
    std::string expected(1000, '\0');
    for (std::size_t i = 0; i < expected.size(); ++i)
        expected[i] = char(i & 0xFF);
    EXPECT_EQ(requestOf(frames[2]).value, zlibCrc(expected, expected.size()));
}
