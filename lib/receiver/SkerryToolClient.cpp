#include "receiver/SkerryToolClient.h"

#include "receiver/SkerryToolAnnouncement.h"
#include "receiver/SkerryToolReply.h"
#include "receiver/SkerryToolTimedRunner.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>
#include <boost/system/system_error.hpp>

#include <array>
#include <iostream>
#include <limits>

namespace SkerryTool {

namespace asio = boost::asio;
using asio::ip::tcp;
using asio::ip::udp;

namespace {

// The longest frame the 16-bit length field can announce.
constexpr std::size_t kMaxFrameLength = std::numeric_limits<std::uint16_t>::max();

} // namespace

Client::Client(const std::string& host)
    : Client(host, Limits{})
{
}

Client::Client(const std::string& host, const Limits& limits)
    : m_socket(m_context)
    , m_limits(limits)
{
    if (host.empty()) {
        discover();
        return;
    }
    tcp::resolver resolver(m_context);
    std::vector<tcp::endpoint> endpoints;
    for (const auto& entry : resolver.resolve(host, std::to_string(kPort)))
        endpoints.push_back(entry.endpoint());
    connect(endpoints);
}

Client::~Client()
{
    disconnect();
}

void Client::connect(const std::vector<tcp::endpoint>& endpoints)
{
    TimedRunner runner(m_context);
    const auto outcome = runner.run(
        m_limits.connect,
        [&](auto handler) {
            asio::async_connect(m_socket, endpoints,
                                [handler](const boost::system::error_code& error, const tcp::endpoint&) {
                                    handler(error, 0);
                                });
        },
        [this] { disconnect(); });
    if (outcome.error) {
        disconnect();
        throw boost::system::system_error(outcome.error, "SkerryTool::Client connect");
    }
}

void Client::discover()
{
    std::cout << "Looking for SkerryTool server ..." << std::endl;
    udp::socket listener(m_context, udp::endpoint(udp::v4(), kPort));

    std::array<std::uint8_t, Announcement::kSize> datagram{};
    udp::endpoint sender;
    TimedRunner runner(m_context);
    const auto received = runner.run(
        m_limits.announcement,
        [&](auto handler) { listener.async_receive_from(asio::buffer(datagram), sender, handler); },
        [&listener] {
            boost::system::error_code ignored;
            listener.close(ignored);
        });
    if (received.error)
        throw boost::system::system_error(received.error, "SkerryTool::Client discovery");

    const Announcement announcement(std::span<const std::uint8_t>(datagram.data(), received.bytes));
    switch (announcement.verdict()) {
    case Announcement::Verdict::TooShort:
        std::cerr << "Discovery packet too short" << std::endl;
        return;
    case Announcement::Verdict::Rejected:
        std::cerr << "Error: " << announcement.error() << std::endl;
        return;
    case Announcement::Verdict::Accepted:
        break;
    }
    std::cout << "Discovery from " << sender.address().to_string() << ": " << announcement.payload() << std::endl;
    // The server is reached where the datagram came from; the address in the payload is only
    // what the server believes its own to be.
    connect({tcp::endpoint(sender.address(), announcement.payload().port)});
}

Error Client::Validate(Command command, ParameterID parameter, std::uint8_t sequence, const Header& header,
                       std::span<const std::uint8_t> payload) const
{
    return Reply(header, payload).check(command, parameter, sequence);
}

Client::Exchange Client::transact(Command command, ParameterID parameter, std::span<const std::uint8_t> payload,
                                  std::span<const std::uint8_t> tail)
{
    const std::uint8_t sequence = m_sequence++;
    Exchange exchange;
    const std::size_t frameLength = sizeof(Header) + payload.size() + tail.size();
    if (frameLength > kMaxFrameLength) {
        exchange.error = Error{WriteFailed};
        return exchange;
    }

    Header request;
    request.length = static_cast<std::uint16_t>(frameLength);
    request.sequence = sequence;
    request.command = command;
    request.parameter = parameter;
    const std::array<asio::const_buffer, 3> frame{asio::buffer(&request, sizeof request),
                                                  asio::buffer(payload.data(), payload.size()),
                                                  asio::buffer(tail.data(), tail.size())};

    TimedRunner runner(m_context);
    const auto abort = [this] { disconnect(); };
    const auto written = runner.run(
        m_limits.transfer, [&](auto handler) { asio::async_write(m_socket, frame, handler); }, abort);
    if (written.error || written.bytes != frameLength) {
        disconnect();
        exchange.error = Error{WriteFailed};
        return exchange;
    }

    const auto headerRead = runner.run(
        m_limits.transfer,
        [&](auto handler) { asio::async_read(m_socket, asio::buffer(&exchange.header, sizeof(Header)), handler); },
        abort);
    if (headerRead.error || headerRead.bytes != sizeof(Header)) {
        disconnect();
        exchange.error = Error{ReadFailed};
        return exchange;
    }
    if (exchange.header.magic != kMagic) {
        // Whatever follows is no frame we could find the end of.
        disconnect();
        exchange.error = Error{WrongMagic};
        return exchange;
    }

    exchange.payload.resize(Reply::payloadLength(exchange.header));
    if (!exchange.payload.empty()) {
        const auto payloadRead = runner.run(
            m_limits.transfer,
            [&](auto handler) { asio::async_read(m_socket, asio::buffer(exchange.payload), handler); }, abort);
        if (payloadRead.error || payloadRead.bytes != exchange.payload.size()) {
            disconnect();
            exchange.error = Error{ReadFailed, exchange.header.responseCode};
            return exchange;
        }
    }
    exchange.error = Validate(command, parameter, sequence, exchange.header, exchange.payload);
    return exchange;
}

void Client::disconnect() noexcept
{
    boost::system::error_code ignored;
    m_socket.close(ignored);
}

} // namespace SkerryTool
