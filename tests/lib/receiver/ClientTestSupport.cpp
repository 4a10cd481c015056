#include "ClientTestSupport.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>

#include <cstdlib>
#include <string_view>

namespace ClientTest {

namespace {

// Empty when the port is free, else what stood in the way.
std::string portHolder()
{
    namespace asio = boost::asio;
    asio::io_context context;
    boost::system::error_code error;
    asio::ip::udp::socket udp(context);
    udp.open(asio::ip::udp::v4(), error);
    if (!error)
        udp.bind(asio::ip::udp::endpoint(asio::ip::udp::v4(), SkerryTool::Client::kPort), error);
    if (error)
        return "UDP: " + error.message();
    asio::ip::tcp::acceptor tcp(context);
    tcp.open(asio::ip::tcp::v4(), error);
    if (!error)
        tcp.set_option(asio::socket_base::reuse_address(true), error);
    if (!error)
        tcp.bind(asio::ip::tcp::endpoint(asio::ip::make_address_v4("127.0.0.1"), SkerryTool::Client::kPort), error);
    if (!error)
        tcp.listen(asio::socket_base::max_listen_connections, error);
    return error ? "TCP: " + error.message() : std::string();
}

} // namespace

void PortTest::SetUp()
{
    const std::string holder = portHolder();
    if (holder.empty())
        return;
    const char* ci = std::getenv("CI");
    if (ci && std::string_view(ci) == "true")
        FAIL() << "port 53007 is held by another process (" << holder << ")";
    GTEST_SKIP() << "port 53007 is held by another process (" << holder << ")";
}

void ServerTest::SetUp()
{
    PortTest::SetUp();
    if (IsSkipped() || HasFatalFailure())
        return;
    server = std::make_unique<ScriptedServer>(SkerryTool::Client::kPort);
    client = std::make_unique<TestClient>("127.0.0.1");
}

} // namespace ClientTest

void SkerryTool::PrintTo(const Error& error, std::ostream* out)
{
    *out << "{parse status " << error.parseStatus << ", response code " << unsigned(error.responseCode)
         << ", detail " << error.detail << "}";
}
