#include "receiver/SkerryToolSession.h"

#include "receiver/SkerryToolReply.h"
#include "receiver/SkerryToolWireBytes.h"

#include <limits>

namespace SkerryTool {

namespace {

// A pattern's value count travels in one byte.
constexpr std::size_t kMaxPatternValues = std::numeric_limits<std::uint8_t>::max();
// The last four bytes of a reboot request, where a bypass request carries its flags.
constexpr std::uint32_t kRebootKey = 0x12AB89FB;

} // namespace

std::variant<std::monostate, Error> Session::Ping()
{
    const Exchange exchange = transact(Command::Ping, ParameterID::Version, {});
    if (exchange.error != Error{})
        return exchange.error;
    return Reply(exchange.header, exchange.payload).empty();
}

std::variant<VersionResponse, Error> Session::GetVersion()
{
    const Exchange exchange = transact(Command::Get, ParameterID::Version, {});
    if (exchange.error != Error{})
        return exchange.error;
    return Reply(exchange.header, exchange.payload).record<VersionResponse>();
}

std::variant<UptimeResponse, Error> Session::GetUptime()
{
    const Exchange exchange = transact(Command::Get, ParameterID::Uptime, {});
    if (exchange.error != Error{})
        return exchange.error;
    return Reply(exchange.header, exchange.payload).record<UptimeResponse>();
}

std::variant<std::string, Error> Session::GetDeviceReport()
{
    const Exchange exchange = transact(Command::Get, ParameterID::DeviceReport, {});
    if (exchange.error != Error{})
        return exchange.error;
    return Reply(exchange.header, exchange.payload).text();
}

template <class Value>
std::variant<std::monostate, Error> Session::setPattern(const Mac& mac, PatternID pattern,
                                                       const std::vector<endor::big<Value>>& values)
{
    if (values.size() > kMaxPatternValues)
        return Error{WriteFailed};
    PatternSetRequest request;
    request.mac = mac;
    request.pattern = pattern;
    request.count = static_cast<std::uint8_t>(values.size());
    request.width = sizeof(Value);
    // endor::big is packed, so the vector's storage is the values' wire form.
    static_assert(sizeof(endor::big<Value>) == sizeof(Value));
    const std::span<const std::uint8_t> wireValues(reinterpret_cast<const std::uint8_t*>(values.data()),
                                                   values.size() * sizeof(Value));
    const Exchange exchange = transact(Command::Set, ParameterID::Pattern, wireBytes(request), wireValues);
    if (exchange.error != Error{})
        return exchange.error;
    return Reply(exchange.header, exchange.payload).empty();
}

std::variant<std::monostate, Error> Session::SetPattern(const Mac& mac, PatternID pattern,
                                                       const std::vector<endor::big<std::uint8_t>>& values)
{
    return setPattern(mac, pattern, values);
}

std::variant<std::monostate, Error> Session::SetPattern(const Mac& mac, PatternID pattern,
                                                       const std::vector<endor::big<std::uint16_t>>& values)
{
    return setPattern(mac, pattern, values);
}

std::variant<endor::big<BypassFlags>, Error> Session::GetBypass(const Mac& mac)
{
    const Exchange exchange = transact(Command::Get, ParameterID::Bypass, wireBytes(mac));
    if (exchange.error != Error{})
        return exchange.error;
    return Reply(exchange.header, exchange.payload).record<endor::big<BypassFlags>>();
}

std::variant<std::monostate, Error> Session::SetBypass(const BypassSetRequest& request)
{
    const Exchange exchange = transact(Command::Set, ParameterID::Bypass, wireBytes(request));
    if (exchange.error != Error{})
        return exchange.error;
    return Reply(exchange.header, exchange.payload).empty();
}

std::variant<endor::big<std::uint16_t>, Error> Session::GetBrightness(const Mac& mac)
{
    const Exchange exchange = transact(Command::Get, ParameterID::Brightness, wireBytes(mac));
    if (exchange.error != Error{})
        return exchange.error;
    return Reply(exchange.header, exchange.payload).record<endor::big<std::uint16_t>>();
}

std::variant<std::monostate, Error> Session::SetBrightness(const BrightnessSetRequest& request)
{
    const Exchange exchange = transact(Command::Set, ParameterID::Brightness, wireBytes(request));
    if (exchange.error != Error{})
        return exchange.error;
    return Reply(exchange.header, exchange.payload).empty();
}

std::variant<std::monostate, Error> Session::SetReboot(const Mac& mac)
{
    BypassSetRequest request;
    request.mac = mac;
    request.flags = BypassFlags{kRebootKey};
    const Exchange exchange = transact(Command::Set, ParameterID::Reboot, wireBytes(request));
    if (exchange.error != Error{})
        return exchange.error;
    return Reply(exchange.header, exchange.payload).empty();
}

std::variant<SystemTestStatus, Error> Session::GetSystemTest(const Mac& mac)
{
    const Exchange exchange = transact(Command::Get, ParameterID::SystemTest, wireBytes(mac));
    if (exchange.error != Error{})
        return exchange.error;
    return Reply(exchange.header, exchange.payload).systemTest();
}

} // namespace SkerryTool
