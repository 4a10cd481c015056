#pragma once

#include "receiver/SkerryToolRecords.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace SkerryTool {

// The workings of Client (see there for what every call does and how it fails): one connection
// to the receiver tool server and its transactions, within time limits of its own. The library's
// own, never installed: the client's tests drive it with short limits and a name server of
// their own.
class Session {
public:
    struct Limits {
        std::chrono::milliseconds connect{5000};      // to resolve the host and connect to the server
        std::chrono::milliseconds announcement{5000}; // to hear the server's announcement
        std::chrono::milliseconds transfer{5000};     // for each write and read of a frame
        std::chrono::milliseconds statusPollPause{1000}; // between polls of a busy device
        std::chrono::milliseconds statusPollLimit{60000}; // then the push gives up on it
    };

    // resolverSetup, when set, runs on the thread that resolves the host, just before it does.
    Session(const std::string& host, const Limits& limits, std::function<void()> resolverSetup = {});
    ~Session();

    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    std::variant<std::monostate, Error> Ping();
    std::variant<VersionResponse, Error> GetVersion();
    std::variant<UptimeResponse, Error> GetUptime();
    std::variant<std::string, Error> GetDeviceReport();
    std::variant<std::monostate, Error> SetPattern(const Mac& mac, PatternID pattern,
                                                   const std::vector<endor::big<std::uint8_t>>& values);
    std::variant<std::monostate, Error> SetPattern(const Mac& mac, PatternID pattern,
                                                   const std::vector<endor::big<std::uint16_t>>& values);
    std::variant<endor::big<BypassFlags>, Error> GetBypass(const Mac& mac);
    std::variant<std::monostate, Error> SetBypass(const BypassSetRequest& request);
    std::variant<endor::big<std::uint16_t>, Error> GetBrightness(const Mac& mac);
    std::variant<std::monostate, Error> SetBrightness(const BrightnessSetRequest& request);
    std::variant<std::monostate, Error> SetReboot(const Mac& mac);
    std::variant<SystemTestStatus, Error> GetSystemTest(const Mac& mac);
    std::variant<std::monostate, Error> PushData(const Mac& mac, std::uint8_t index, PushDataSetRequest::Type type,
                                                 std::istream& data);

    // The checks of a reply to a request with this command, parameter and sequence number:
    // magic, version, sequence, command, the device's response code, parameter, in that order.
    // All zero for a sound reply.
    Error Validate(Command command, ParameterID parameter, std::uint8_t sequence, const Header& header,
                   std::span<const std::uint8_t> payload) const;

private:
    struct Exchange {
        Error error;
        Header header;
        std::vector<std::uint8_t> payload;
    };

    void discover();
    // Tries the endpoints in turn until one accepts; throws when none does before the deadline.
    void connect(const std::vector<boost::asio::ip::tcp::endpoint>& endpoints,
                 std::chrono::steady_clock::time_point deadline);
    // One request and its reply; the payload is sent as `payload` followed by `tail`.
    Exchange transact(Command command, ParameterID parameter, std::span<const std::uint8_t> payload,
                      std::span<const std::uint8_t> tail = {});
    // One whole frame, header and payload, before the deadline; its error is ReadFailed or
    // WrongMagic (the connection then closed) or all zero, its checks are left to the caller.
    Exchange readFrame(std::chrono::steady_clock::time_point deadline);
    void disconnect() noexcept;
    template <class Value>
    std::variant<std::monostate, Error> setPattern(const Mac& mac, PatternID pattern,
                                                   const std::vector<endor::big<Value>>& values);
    // One push request as Set PushData; the reply's acknowledgement must be `acknowledge`.
    template <class Response>
    Error pushStep(const PushDataSetRequest& request, std::uint8_t acknowledge,
                   std::span<const std::uint8_t> chunk = {});
    Error awaitDevice(const Mac& mac);

    boost::asio::io_context m_context;
    boost::asio::ip::tcp::socket m_socket;
    std::uint8_t m_sequence = 0;
    // Requests written on this connection, counted up to 128: how many sequence numbers before
    // the current one belong to earlier requests.
    unsigned m_requestsSent = 0;
    Limits m_limits;
};

} // namespace SkerryTool
