#include "ClientTestSupport.h"

#include <gmock/gmock.h>

#include <boost/asio/ip/udp.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <resolv.h>

#include <array>
#include <functional>
#include <sstream>

using namespace ClientTest;
using namespace SkerryTool;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using Plan = ScriptedServer::Plan;
using Bytes = std::vector<std::uint8_t>;

namespace {

const Mac kDevice{{0x0A, 0x00, 0x27, 0x00, 0x00, 0x01}};

std::vector<std::uint8_t> withMac(std::vector<std::uint8_t> tail)
{
    std::vector<std::uint8_t> bytes(kDevice.bytes.begin(), kDevice.bytes.end());
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    return bytes;
}

using ClientCommands = ServerTest;

// The installed client, with its reply checks at hand.
class CheckingClient : public Client
{
public:
    using Client::Client;
    using Client::Validate;
};

} // namespace

// Every command through the installed client and its default limits: what goes on the wire and
// what comes back.
TEST_F(ClientCommands, EveryCommandRoundTrips)
{
    client.reset(); // the server answers one connection at a time
    CheckingClient plain("127.0.0.1");
    const Mac& mac = kDevice;

    EXPECT_TRUE(std::holds_alternative<std::monostate>(plain.Ping()));
    const auto version = plain.GetVersion();
    ASSERT_TRUE(std::holds_alternative<VersionResponse>(version)) << ::testing::PrintToString(errorOf(version));
    EXPECT_THAT(std::get<VersionResponse>(version).numbers, ElementsAre(1, 2, 3, 4));
    const auto uptime = plain.GetUptime();
    ASSERT_TRUE(std::holds_alternative<UptimeResponse>(uptime));
    EXPECT_EQ(std::get<UptimeResponse>(uptime).milliseconds, ScriptedServer::kUptime);
    const auto report = plain.GetDeviceReport();
    ASSERT_TRUE(std::holds_alternative<std::string>(report));
    EXPECT_EQ(std::get<std::string>(report), ScriptedServer::kDeviceReport);
    EXPECT_EQ(errorOf(plain.SetPattern(mac, PatternID{7}, std::vector<endor::big<std::uint8_t>>{1, 2, 0xFF})), Error{});
    EXPECT_EQ(errorOf(plain.SetPattern(mac, PatternID{8}, std::vector<endor::big<std::uint16_t>>{0x0102, 0xA0B0})),
              Error{});
    const auto bypass = plain.GetBypass(mac);
    ASSERT_TRUE(std::holds_alternative<endor::big<BypassFlags>>(bypass));
    EXPECT_EQ(std::get<endor::big<BypassFlags>>(bypass), BypassFlags(ScriptedServer::kBypass));
    BypassSetRequest bypassRequest;
    bypassRequest.mac = mac;
    bypassRequest.flags = BypassFlags::Gains | BypassFlags::CameraMode;
    EXPECT_EQ(errorOf(plain.SetBypass(bypassRequest)), Error{});
    const auto brightness = plain.GetBrightness(mac);
    ASSERT_TRUE(std::holds_alternative<endor::big<std::uint16_t>>(brightness));
    EXPECT_EQ(std::get<endor::big<std::uint16_t>>(brightness), ScriptedServer::kBrightness);
    BrightnessSetRequest brightnessRequest;
    brightnessRequest.mac = mac;
    brightnessRequest.brightness = 0x1234;
    EXPECT_EQ(errorOf(plain.SetBrightness(brightnessRequest)), Error{});
    EXPECT_EQ(errorOf(plain.SetReboot(mac)), Error{});
    const auto test = plain.GetSystemTest(mac);
    ASSERT_TRUE(std::holds_alternative<SystemTestStatus>(test));
    EXPECT_EQ(std::get<SystemTestStatus>(test).status, ScriptedServer::kSystemTestStatus);
    EXPECT_EQ(std::get<SystemTestStatus>(test).description, ScriptedServer::kSystemTestDescription);
    std::istringstream empty;
    EXPECT_EQ(errorOf(plain.PushData(mac, 3, PushDataSetRequest::Type{0x21}, empty)), Error{});

    struct Expected {
        Command command;
        ParameterID parameter;
        std::vector<std::uint8_t> payload;
    };
    const std::vector<Expected> expected = {
        {Command::Ping, ParameterID::Version, {}},
        {Command::Get, ParameterID::Version, {}},
        {Command::Get, ParameterID::Uptime, {}},
        {Command::Get, ParameterID::DeviceReport, {}},
        {Command::Set, ParameterID::Pattern, withMac({7, 3, 1, 1, 2, 0xFF})},
        {Command::Set, ParameterID::Pattern, withMac({8, 2, 2, 0x01, 0x02, 0xA0, 0xB0})},
        {Command::Get, ParameterID::Bypass, withMac({})},
        {Command::Set, ParameterID::Bypass, withMac({0, 0, 0, 0x82})},
        {Command::Get, ParameterID::Brightness, withMac({})},
        {Command::Set, ParameterID::Brightness, withMac({0x12, 0x34})},
        {Command::Set, ParameterID::Reboot, withMac({0x12, 0xAB, 0x89, 0xFB})},
        {Command::Get, ParameterID::SystemTest, withMac({})},
        // The push of nothing: announced, checked and finished, then the device asked.
        {Command::Set, ParameterID::PushData, withMac({0x21, 1, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0})},
        {Command::Set, ParameterID::PushData, withMac({0x21, 3, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0})},
        {Command::Set, ParameterID::PushData, withMac({0x21, 4, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0})},
        {Command::Get, ParameterID::PushData, withMac({0})},
    };
    const auto frames = server->frames();
    ASSERT_EQ(frames.size(), expected.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(i);
        const Header& header = frames[i].header;
        EXPECT_EQ(header.magic, kMagic);
        EXPECT_EQ(header.length, 12 + expected[i].payload.size());
        EXPECT_EQ(header.version, 1);
        EXPECT_EQ(header.sequence, i);
        EXPECT_EQ(header.command, expected[i].command);
        EXPECT_EQ(header.responseCode, 0xFF);
        EXPECT_EQ(header.parameter, expected[i].parameter);
        EXPECT_THAT(frames[i].payload, ElementsAreArray(expected[i].payload));
    }

    // The reply checks: a sound reply, and one to another request.
    Header reply;
    reply.sequence = 5;
    reply.command = Command::Get;
    reply.responseCode = 0;
    reply.parameter = ParameterID::Uptime;
    EXPECT_EQ(plain.Validate(Command::Get, ParameterID::Uptime, 5, reply, {}), Error{});
    EXPECT_EQ(plain.Validate(Command::Get, ParameterID::Uptime, 6, reply, {}).parseStatus, 5);
}

TEST_F(ClientCommands, SequenceNumberWrapsAfter255)
{
    for (int i = 0; i < 257; ++i)
        ASSERT_EQ(errorOf(client->Ping()), Error{}) << "ping " << i;
    const auto frames = server->frames();
    ASSERT_EQ(frames.size(), 257u);
    EXPECT_EQ(frames[255].header.sequence, 255);
    EXPECT_EQ(frames[256].header.sequence, 0);
}

TEST_F(ClientCommands, PatternKeepsToItsOneByteCount)
{
    const std::vector<endor::big<std::uint8_t>> bytes255(255, 0x5A);
    EXPECT_EQ(errorOf(client->SetPattern(kDevice, PatternID{1}, bytes255)), Error{});
    auto frames = server->frames();
    ASSERT_EQ(frames.size(), 1u);
    ASSERT_EQ(frames[0].payload.size(), 9u + 255u);
    EXPECT_EQ(frames[0].payload[7], 255);

    const std::vector<endor::big<std::uint8_t>> bytes256(256, 0x5A);
    const std::vector<endor::big<std::uint16_t>> words256(256, 0x5A5A);
    EXPECT_EQ(errorOf(client->SetPattern(kDevice, PatternID{1}, bytes256)), Error{WriteFailed});
    EXPECT_EQ(errorOf(client->SetPattern(kDevice, PatternID{1}, words256)), Error{WriteFailed});
    EXPECT_EQ(server->frames().size(), 1u);
    // Nothing half-sent: the connection still carries whole frames.
    EXPECT_EQ(errorOf(client->Ping()), Error{});
}

// The client's reply checks, each through the command it guards.
struct ReplyCase {
    const char* name;
    Plan plan;
    std::function<Error(Session&)> command;
    Error expected;
};

// Test names carry the case's name, not its bytes.
void PrintTo(const ReplyCase& c, std::ostream* out) { *out << c.name; }

class ClientReplies : public ServerTest, public ::testing::WithParamInterface<ReplyCase>
{
};

TEST_P(ClientReplies, GiveTheirParseStatus)
{
    server->script({GetParam().plan});
    EXPECT_EQ(GetParam().command(*client), GetParam().expected);
}

namespace {

Error ping(Session& c) { return errorOf(c.Ping()); }
Error brightness(Session& c) { return errorOf(c.GetBrightness(kDevice)); }
Error systemTest(Session& c) { return errorOf(c.GetSystemTest(kDevice)); }
Error version(Session& c) { return errorOf(c.GetVersion()); }

Plan with(std::function<void(Plan&)> change)
{
    Plan plan;
    change(plan);
    return plan;
}

const ReplyCase kReplyCases[] = {
    {"Sound", Plan{}, version, Error{}},
    {"WrongMagic", with([](Plan& p) { p.magic = 0x5AB82E7B; }), ping, Error{WrongMagic}},
    {"WrongVersion", with([](Plan& p) { p.version = 2; }), ping, Error{WrongVersion}},
    {"WrongSequence", with([](Plan& p) { p.sequence = 9; }), ping, Error{WrongSequence}},
    {"WrongSequenceBeforeParameter", with([](Plan& p) { p.sequence = 9; p.parameter = 77; }), ping,
     Error{WrongSequence}},
    {"WrongCommand", with([](Plan& p) { p.command = Command::Get; }), ping, Error{WrongCommand}},
    {"WrongParameter", with([](Plan& p) { p.parameter = 2; }), version, Error{WrongParameter}},
    {"RefusalBeforeParameter", with([](Plan& p) { p.responseCode = 3; p.parameter = 77; }), version, Error{Sound, 3}},
    {"Code254WithDetail", with([](Plan& p) { p.responseCode = 254; p.payload = Bytes{0, 0, 1, 0}; }), ping,
     Error{Sound, 254, 256}},
    {"Code254WithTwoBytes", with([](Plan& p) { p.responseCode = 254; p.payload = Bytes{0, 1}; }), ping,
     Error{Sound, 254, 0}},
    {"BrightnessShort", with([](Plan& p) { p.payload = Bytes{7}; }), brightness, Error{PayloadTooShort}},
    {"BrightnessLong", with([](Plan& p) { p.payload = Bytes{7, 8, 9}; }), brightness, Error{PayloadTooLong}},
    {"PingWithPayload", with([](Plan& p) { p.payload = Bytes{0}; }), ping, Error{PayloadTooLong}},
    {"SystemTestEmpty", with([](Plan& p) { p.payload = Bytes{}; }), systemTest, Error{PayloadTooShort}},
    {"SystemTestStatusOnly", with([](Plan& p) { p.payload = Bytes{1}; }), systemTest, Error{}},
    {"LengthBelowHeader", with([](Plan& p) { p.length = 5; }), ping, Error{}},
    {"TruncatedPayload", with([](Plan& p) { p.responseCode = 9; p.payload = Bytes{1, 2, 3, 4}; p.closeAfterHeader = true; }),
     version, Error{ReadFailed, 9}},
};

} // namespace

INSTANTIATE_TEST_SUITE_P(Cases, ClientReplies, ::testing::ValuesIn(kReplyCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A plan for the first request, and the Error its command gives.
struct PlanCase {
    const char* name;
    Plan plan;
    Error expected;
};

// Test names carry the case's name, not its bytes.
void PrintTo(const PlanCase& c, std::ostream* out) { *out << c.name; }

// After a reply that broke its frame the connection is gone: the next command fails at its
// write, and nothing more reaches the server.
class ClientBrokenFrames : public ServerTest, public ::testing::WithParamInterface<PlanCase>
{
};

TEST_P(ClientBrokenFrames, EndTheConnection)
{
    server->script({GetParam().plan});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(errorOf(client->GetVersion()), GetParam().expected);
    EXPECT_LT(std::chrono::steady_clock::now() - start, TestClient::shortLimits().transfer + 3s);
    EXPECT_EQ(errorOf(client->Ping()), Error{WriteFailed});
    EXPECT_EQ(errorOf(client->GetUptime()), Error{WriteFailed});
    EXPECT_EQ(server->frames().size(), 1u);
}

namespace {

const PlanCase kBrokenFrameCases[] = {
    {"Silence", with([](Plan& p) { p.silent = true; }), Error{ReadFailed}},
    {"WrongMagic", with([](Plan& p) { p.magic = 0x12345678; }), Error{WrongMagic}},
    {"TruncatedPayload", with([](Plan& p) { p.closeAfterHeader = true; }), Error{ReadFailed}},
};

} // namespace

INSTANTIATE_TEST_SUITE_P(Cases, ClientBrokenFrames, ::testing::ValuesIn(kBrokenFrameCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A reply the server sends twice, or one that follows a wrong reply, answers a request already
// done with: every later command still gets its own reply, on the same connection.
class ClientExtraReplies : public ServerTest, public ::testing::WithParamInterface<PlanCase>
{
};

TEST_P(ClientExtraReplies, LeaveLaterCommandsTheirOwnReplies)
{
    server->script({GetParam().plan});
    EXPECT_EQ(errorOf(client->Ping()), GetParam().expected);
    const auto version = client->GetVersion();
    ASSERT_TRUE(std::holds_alternative<VersionResponse>(version)) << ::testing::PrintToString(errorOf(version));
    EXPECT_THAT(std::get<VersionResponse>(version).numbers, ElementsAre(1, 2, 3, 4));
    const auto uptime = client->GetUptime();
    ASSERT_TRUE(std::holds_alternative<UptimeResponse>(uptime)) << ::testing::PrintToString(errorOf(uptime));
    EXPECT_EQ(std::get<UptimeResponse>(uptime).milliseconds, ScriptedServer::kUptime);
    EXPECT_EQ(server->frames().size(), 3u);
    EXPECT_EQ(server->connections(), 1u);
}

namespace {

const PlanCase kExtraReplyCases[] = {
    {"Duplicate", with([](Plan& p) { p.thenSound = true; }), Error{}},
    {"AfterAWrongSequence", with([](Plan& p) { p.sequence = 9; p.thenSound = true; }), Error{WrongSequence}},
    {"AfterARefusal", with([](Plan& p) { p.responseCode = 3; p.thenSound = true; }), Error{Sound, 3}},
};

} // namespace

INSTANTIATE_TEST_SUITE_P(Cases, ClientExtraReplies, ::testing::ValuesIn(kExtraReplyCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Replies to earlier requests are passed over only within the transfer limit: a server that
// sends nothing else leaves the command without a reply.
TEST_F(ClientCommands, OnlyEarlierRepliesRunOutTheLimit)
{
    ASSERT_EQ(errorOf(client->Ping()), Error{});
    server->always(with([](Plan& p) { p.sequence = 0; }));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(errorOf(client->GetVersion()), Error{ReadFailed});
    EXPECT_LT(std::chrono::steady_clock::now() - start, TestClient::shortLimits().transfer + 3s);
    EXPECT_EQ(errorOf(client->Ping()), Error{WriteFailed});
}

using ClientConnection = PortTest;

TEST_F(ClientConnection, NamedHostWithoutServerThrows)
{
    try {
        TestClient client("127.0.0.1");
        FAIL() << "connected without a server";
    } catch (const boost::system::system_error& error) {
        EXPECT_EQ(error.code(), boost::asio::error::connection_refused);
    }
}

namespace {

// A name server on 127.0.0.1 that takes every query and never answers.
class SilentNameServer
{
public:
    SilentNameServer()
        : m_socket(m_context, boost::asio::ip::udp::endpoint(boost::asio::ip::make_address_v4("127.0.0.1"), 0))
    {
    }

    std::uint16_t port() const { return m_socket.local_endpoint().port(); }

    // Whether a query has come, waiting for one at most `limit`.
    bool queried(std::chrono::milliseconds limit)
    {
        std::array<std::uint8_t, 512> query{};
        boost::asio::ip::udp::endpoint sender;
        bool received = false;
        m_socket.async_receive_from(boost::asio::buffer(query), sender,
                                    [&](const boost::system::error_code& error, std::size_t) { received = !error; });
        m_context.run_for(limit);
        return received;
    }

private:
    boost::asio::io_context m_context;
    boost::asio::ip::udp::socket m_socket;
};

} // namespace

// The system resolver of the client's resolving thread asks only the silent name server, and
// waits for it longer than the client may: the construction ends at the connect limit.
TEST(ClientResolution, ANameServerThatNeverAnswersEndsAtTheConnectLimit)
{
    SilentNameServer nameServer;
    const std::uint16_t port = nameServer.port();
    const auto askOnlyTheSilentServer = [port] {
        res_init();
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        _res.nscount = 1;
        _res.nsaddr_list[0] = address;
        _res.retrans = 3; // seconds before it gives up on the server
        _res.retry = 1;
    };
    TestClient::Limits limits = TestClient::shortLimits();
    limits.connect = 300ms;

    const auto start = std::chrono::steady_clock::now();
    try {
        TestClient client("receiver.example.com", limits, askOnlyTheSilentServer);
        FAIL() << "resolved without an answer";
    } catch (const boost::system::system_error& error) {
        EXPECT_EQ(error.code(), boost::asio::error::timed_out) << error.what();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, limits.connect + 1500ms);
    EXPECT_TRUE(nameServer.queried(2s)) << "the name server was never asked";
}
