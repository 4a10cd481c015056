#include "receiver/SkerryToolSession.h"

#include "receiver/SkerryToolAnnouncement.h"
#include "receiver/SkerryToolClient.h"
#include "receiver/SkerryToolReply.h"
#include "receiver/SkerryToolTimedRunner.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>
#include <boost/system/system_error.hpp>

#include <algorithm>
#include <array>
#include <future>
#include <iostream>
#include <limits>
#include <thread>
#include <utility>

namespace SkerryTool {

namespace asio = boost::asio;
using asio::ip::tcp;
using asio::ip::udp;

namespace {

// The longest frame the 16-bit length field can announce.
constexpr std::size_t kMaxFrameLength = std::numeric_limits<std::uint16_t>::max();
// How far back a reply's sequence number may lie and still be taken for a reply to an earlier
// request: half the sequence space, so that the numbers ahead are never mistaken for it.
constexpr unsigned kEarlierSequences = 128;

using Clock = std::chrono::steady_clock;

Clock::duration remaining(Clock::time_point deadline)
{
    return std::max(deadline - Clock::now(), Clock::duration::zero());
}

struct Resolution {
    boost::system::error_code error;
    std::vector<tcp::endpoint> endpoints;
};

// Resolves host at kPort on a thread of its own: the system's resolver cannot be cancelled, and a
// name server that never answers would hold the caller for as long as the resolver's own time-outs
// (ten seconds and more). The caller waits until the deadline at most; a resolution that comes
// later is delivered into a result nobody waits for, and its thread ends with it.
std::vector<tcp::endpoint> resolveBefore(const std::string& host, Clock::time_point deadline,
                                         const std::function<void()>& resolverSetup)
{
    std::promise<Resolution> promise;
    std::future<Resolution> future = promise.get_future();
    std::thread([host, resolverSetup, promise = std::move(promise)]() mutable {
        if (resolverSetup)
            resolverSetup();
        asio::io_context context;
        tcp::resolver resolver(context);
        Resolution resolution;
        for (const auto& entry : resolver.resolve(host, std::to_string(Client::kPort), resolution.error))
            resolution.endpoints.push_back(entry.endpoint());
        promise.set_value(std::move(resolution));
    }).detach();
    if (future.wait_until(deadline) != std::future_status::ready)
        throw boost::system::system_error(asio::error::timed_out, "SkerryTool::Client resolve " + host);
    Resolution resolution = future.get();
    if (resolution.error)
        throw boost::system::system_error(resolution.error, "SkerryTool::Client resolve " + host);
    return std::move(resolution.endpoints);
}

} // namespace

Session::Session(const std::string& host, const Limits& limits, std::function<void()> resolverSetup)
    : m_socket(m_context)
    , m_limits(limits)
{
    if (host.empty()) {
        discover();
        return;
    }
    // Resolving and connecting share the one connect limit.
    const Clock::time_point deadline = Clock::now() + m_limits.connect;
    connect(resolveBefore(host, deadline, resolverSetup), deadline);
}

Session::~Session()
{
    disconnect();
}

void Session::connect(const std::vector<tcp::endpoint>& endpoints, std::chrono::steady_clock::time_point deadline)
{
    TimedRunner runner(m_context);
    const auto outcome = runner.run(
        remaining(deadline),
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

void Session::discover()
{
    std::cout << "Looking for SkerryTool server ..." << std::endl;
    udp::socket listener(m_context, udp::endpoint(udp::v4(), Client::kPort));

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
    connect({tcp::endpoint(sender.address(), announcement.payload().port)}, Clock::now() + m_limits.connect);
}

Error Session::Validate(Command command, ParameterID parameter, std::uint8_t sequence, const Header& header,
                       std::span<const std::uint8_t> payload) const
{
    return Reply(header, payload).check(command, parameter, sequence);
}

Session::Exchange Session::transact(Command command, ParameterID parameter, std::span<const std::uint8_t> payload,
                                  std::span<const std::uint8_t> tail)
{
    const std::uint8_t sequence = m_sequence++;
    const std::size_t frameLength = sizeof(Header) + payload.size() + tail.size();
    if (frameLength > kMaxFrameLength)
        return Exchange{Error{WriteFailed}, {}, {}};

    Header request;
    request.length = static_cast<std::uint16_t>(frameLength);
    request.sequence = sequence;
    request.command = command;
    request.parameter = parameter;
    const std::array<asio::const_buffer, 3> frame{asio::buffer(&request, sizeof request),
                                                  asio::buffer(payload.data(), payload.size()),
                                                  asio::buffer(tail.data(), tail.size())};

    TimedRunner runner(m_context);
    const auto written = runner.run(
        m_limits.transfer, [&](auto handler) { asio::async_write(m_socket, frame, handler); },
        [this] { disconnect(); });
    if (written.error || written.bytes != frameLength) {
        disconnect();
        return Exchange{Error{WriteFailed}, {}, {}};
    }
    const unsigned earlier = m_requestsSent;
    m_requestsSent = std::min(m_requestsSent + 1, kEarlierSequences);

    // A frame carrying the sequence number of an earlier request is a reply that came twice or
    // came late; taking it would leave every later command one reply behind. It is passed over,
    // and the awaited reply read after it, all within one transfer limit.
    const Clock::time_point deadline = Clock::now() + m_limits.transfer;
    for (;;) {
        Exchange exchange = readFrame(deadline);
        if (exchange.error != Error{})
            return exchange;
        const unsigned back = std::uint8_t(sequence - exchange.header.sequence);
        if (back >= 1 && back <= earlier)
            continue;
        exchange.error = Validate(command, parameter, sequence, exchange.header, exchange.payload);
        return exchange;
    }
}

Session::Exchange Session::readFrame(std::chrono::steady_clock::time_point deadline)
{
    TimedRunner runner(m_context);
    const auto abort = [this] { disconnect(); };
    Exchange exchange;
    const auto headerRead = runner.run(
        remaining(deadline),
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
            remaining(deadline),
            [&](auto handler) { asio::async_read(m_socket, asio::buffer(exchange.payload), handler); }, abort);
        if (payloadRead.error || payloadRead.bytes != exchange.payload.size()) {
            disconnect();
            exchange.error = Error{ReadFailed, exchange.header.responseCode};
            return exchange;
        }
    }
    return exchange;
}

void Session::disconnect() noexcept
{
    boost::system::error_code ignored;
    m_socket.close(ignored);
}

} // namespace SkerryTool
