#include "ClientTestSupport.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include <atomic>
#include <cstring>
#include <functional>
#include <thread>

using namespace ClientTest;
using namespace SkerryTool;

namespace {

namespace asio = boost::asio;

constexpr std::uint32_t kAnnouncedAddress = 0x7F000002; // 127.0.0.2: printed, never contacted
constexpr std::uint32_t kAnnouncedUptime = 4242;
constexpr std::uint16_t kAnnouncedMaxSize = 1400;

// Sends one datagram to 127.0.0.1 at the client's port again and again, from a thread of its
// own, until it is destroyed (or for ten seconds at most): a client that starts listening
// late, or misses one, hears the next.
class Announcer
{
public:
    explicit Announcer(std::vector<std::uint8_t> datagram)
        : m_datagram(std::move(datagram))
        , m_thread([this] { run(); })
    {
    }

    ~Announcer()
    {
        m_stop = true;
        m_thread.join();
    }

private:
    void run()
    {
        asio::io_context context;
        asio::ip::udp::socket socket(context, asio::ip::udp::endpoint(asio::ip::udp::v4(), 0));
        const asio::ip::udp::endpoint client(asio::ip::make_address_v4("127.0.0.1"), Client::kPort);
        for (int sent = 0; sent < 1000 && !m_stop; ++sent) {
            boost::system::error_code ignored;
            socket.send_to(asio::buffer(m_datagram), client, 0, ignored);
            std::this_thread::sleep_for(10ms);
        }
    }

    std::vector<std::uint8_t> m_datagram;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

std::vector<std::uint8_t> announcement(std::uint16_t port, const std::function<void(Header&)>& change = {})
{
    Header header;
    header.command = Command::Discovery;
    header.responseCode = 0;
    header.parameter = ParameterID::Discovery;
    header.length = sizeof(Header) + sizeof(DiscoveryPayload);
    if (change)
        change(header);
    DiscoveryPayload payload;
    payload.address = kAnnouncedAddress;
    payload.uptime = kAnnouncedUptime;
    payload.port = port;
    payload.maxSize = kAnnouncedMaxSize;
    std::memcpy(payload.name.data(), "tool", 4);
    std::vector<std::uint8_t> bytes(sizeof header + sizeof payload);
    std::memcpy(bytes.data(), &header, sizeof header);
    std::memcpy(bytes.data() + sizeof header, &payload, sizeof payload);
    return bytes;
}

struct DiscoveryCase {
    const char* name;
    std::function<void(Header&)> change;
    int sizeChange; // bytes added to or cut from the 56-byte announcement
    const char* complaint; // on the standard error; none when the client connects
};

// Test names carry the case's name, not its bytes.
void PrintTo(const DiscoveryCase& c, std::ostream* out) { *out << c.name; }

// A server on an ephemeral port of 127.0.0.1, announced by datagrams to the fixed port.
class ClientDiscovery : public PortTest, public ::testing::WithParamInterface<DiscoveryCase>
{
protected:
    ScriptedServer server{0};
};

} // namespace

TEST_P(ClientDiscovery, ChecksTheAnnouncement)
{
    const DiscoveryCase& c = GetParam();
    std::vector<std::uint8_t> datagram = announcement(server.port(), c.change);
    datagram.resize(std::size_t(int(datagram.size()) + c.sizeChange), 0xEE);
    Announcer announcer(datagram);

    std::string out;
    std::string err;
    std::unique_ptr<TestClient> client;
    {
        const StreamCapture capturedOut(std::cout);
        const StreamCapture capturedErr(std::cerr);
        ASSERT_NO_THROW(client = std::make_unique<TestClient>(""));
        out = capturedOut.text();
        err = capturedErr.text();
    }

    if (c.complaint) {
        EXPECT_EQ(out, "Looking for SkerryTool server ...\n");
        EXPECT_EQ(err, c.complaint);
        EXPECT_EQ(errorOf(client->Ping()), Error{WriteFailed});
        EXPECT_EQ(server.connections(), 0u);
        return;
    }
    EXPECT_EQ(out, "Looking for SkerryTool server ...\nDiscovery from 127.0.0.1: name tool, IPv4 address 127.0.0.2, port "
                       + std::to_string(server.port()) + ", uptime 4242 ms, maxSize 1400\n");
    EXPECT_EQ(err, "");
    EXPECT_EQ(errorOf(client->Ping()), Error{});
    EXPECT_EQ(server.connections(), 1u);
    EXPECT_EQ(server.frames().size(), 1u);
}

namespace {

const DiscoveryCase kDiscoveryCases[] = {
    {"Valid", {}, 0, nullptr},
    {"SixtyBytes", {}, 4, nullptr},
    {"NonZeroCodeWithAnyParameter",
     [](Header& h) {
         h.responseCode = 3;
         h.parameter = ParameterID(0x1234);
     },
     0, nullptr},
    {"TooShort", {}, -1, "Discovery packet too short\n"},
    {"WrongMagic", [](Header& h) { h.magic = 0x5AB82E7B; }, 0, "Error: parse status 3, response code 0\n"},
    {"WrongVersion", [](Header& h) { h.version = 2; }, 0, "Error: parse status 4, response code 0\n"},
    {"WrongSequence", [](Header& h) { h.sequence = 1; }, 0, "Error: parse status 5, response code 0\n"},
    {"WrongCommand", [](Header& h) { h.command = Command::Get; }, 0, "Error: parse status 6, response code 0\n"},
    {"WrongParameter", [](Header& h) { h.parameter = ParameterID::Version; }, 0,
     "Error: parse status 7, response code 0\n"},
};

} // namespace

INSTANTIATE_TEST_SUITE_P(Cases, ClientDiscovery, ::testing::ValuesIn(kDiscoveryCases),
                         [](const auto& info) { return std::string(info.param.name); });

using ClientDiscoverySilence = PortTest;

TEST_F(ClientDiscoverySilence, GivesUpWithinTheLimit)
{
    auto limits = TestClient::shortLimits();
    limits.announcement = 300ms;
    const StreamCapture capturedOut(std::cout);
    const auto start = std::chrono::steady_clock::now();
    try {
        TestClient client("", limits);
        FAIL() << "a client without an announcement";
    } catch (const boost::system::system_error& error) {
        EXPECT_EQ(error.code(), boost::asio::error::timed_out);
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, limits.announcement);
    EXPECT_LT(elapsed, limits.announcement + 3s);
}
