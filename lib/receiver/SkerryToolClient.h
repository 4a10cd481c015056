#pragma once

#include "receiver/SkerryToolRecords.h"

#include <TessellaExport.h>

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace SkerryTool {

class Session;

// The client of the receiver tool server: one TCP connection and blocking request/reply
// transactions on the caller's thread, one at a time. Every command returns its result or an
// Error; only construction throws. No call waits without bound: resolving the host and
// connecting end within 5 s, waiting for an announcement within 5 s, each write and each reply
// within 5 s, and the wait for a device to take pushed data polls it once a second for at most a
// minute. A write or read that fails or runs out of time, or a reply with a wrong magic, closes
// the connection, so that the rest of a frame is never taken for the answer to a later command;
// from then on every command fails with parse status 1, as on a client that never connected.
//
// A reply carrying the sequence number of one of the last 128 requests before the one awaited
// (a reply the server sent twice, or one that came after its command gave up on it) is passed
// over, and the awaited reply read after it within the same limit. A sequence number not yet
// sent gives parse status 5; should the awaited reply still come, the next command passes over
// it in turn.
//
// A client serves one thread at a time: two threads that share one must serialise their calls.
class TESSELLA_EXPORT Client {
public:
    // The server's TCP port, and the UDP port it announces itself to.
    static constexpr std::uint16_t kPort = 53007;

    // With a host name: resolves it and connects to it at kPort (a name server that never
    // answers cannot hold the caller longer than the connect limit). With an empty host: listens
    // on UDP kPort for one announcement and connects to its sender at the announced port; an
    // announcement that fails its checks leaves the client unconnected (and says so on the
    // standard error). Throws boost::system::system_error when resolving, connecting or
    // receiving fails, or timed_out when it does not end within its limit.
    explicit Client(const std::string& host);
    ~Client();

    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    std::variant<std::monostate, Error> Ping();
    std::variant<VersionResponse, Error> GetVersion();
    std::variant<UptimeResponse, Error> GetUptime();
    std::variant<std::string, Error> GetDeviceReport();
    // At most 255 values: more give parse status 1 and nothing is sent.
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

    // Sends the whole stream in checksummed chunks, then waits for the device to take it. The
    // stream must be able to tell its size by seeking, and the size must fit 32 bits; else
    // parse status 1 before anything is sent. Exactly that many bytes are sent: a stream that
    // ends or fails earlier ends the push with parse status 1, without checksum and finish.
    std::variant<std::monostate, Error> PushData(const Mac& mac, std::uint8_t index, PushDataSetRequest::Type type,
                                                 std::istream& data);

protected:
    // The checks of a reply to a request with this command, parameter and sequence number:
    // magic, version, sequence, command, the device's response code, parameter, in that order.
    // All zero for a sound reply.
    Error Validate(Command command, ParameterID parameter, std::uint8_t sequence, const Header& header,
                   std::span<const std::uint8_t> payload) const;

private:
    std::unique_ptr<Session> m_session;
};

} // namespace SkerryTool
