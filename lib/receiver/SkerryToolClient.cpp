#include "receiver/SkerryToolClient.h"

#include "receiver/SkerryToolSession.h"

namespace SkerryTool {

Client::Client(const std::string& host)
    : m_session(std::make_unique<Session>(host, Session::Limits{}))
{
}

Client::~Client() = default;

std::variant<std::monostate, Error> Client::Ping()
{
    return m_session->Ping();
}

std::variant<VersionResponse, Error> Client::GetVersion()
{
    return m_session->GetVersion();
}

std::variant<UptimeResponse, Error> Client::GetUptime()
{
    return m_session->GetUptime();
}

std::variant<std::string, Error> Client::GetDeviceReport()
{
    return m_session->GetDeviceReport();
}

std::variant<std::monostate, Error> Client::SetPattern(const Mac& mac, PatternID pattern,
                                                       const std::vector<endor::big<std::uint8_t>>& values)
{
    return m_session->SetPattern(mac, pattern, values);
}

std::variant<std::monostate, Error> Client::SetPattern(const Mac& mac, PatternID pattern,
                                                       const std::vector<endor::big<std::uint16_t>>& values)
{
    return m_session->SetPattern(mac, pattern, values);
}

std::variant<endor::big<BypassFlags>, Error> Client::GetBypass(const Mac& mac)
{
    return m_session->GetBypass(mac);
}

std::variant<std::monostate, Error> Client::SetBypass(const BypassSetRequest& request)
{
    return m_session->SetBypass(request);
}

std::variant<endor::big<std::uint16_t>, Error> Client::GetBrightness(const Mac& mac)
{
    return m_session->GetBrightness(mac);
}

std::variant<std::monostate, Error> Client::SetBrightness(const BrightnessSetRequest& request)
{
    return m_session->SetBrightness(request);
}

std::variant<std::monostate, Error> Client::SetReboot(const Mac& mac)
{
    return m_session->SetReboot(mac);
}

std::variant<SystemTestStatus, Error> Client::GetSystemTest(const Mac& mac)
{
    return m_session->GetSystemTest(mac);
}

std::variant<std::monostate, Error> Client::PushData(const Mac& mac, std::uint8_t index, PushDataSetRequest::Type type,
                                                     std::istream& data)
{
    return m_session->PushData(mac, index, type, data);
}

Error Client::Validate(Command command, ParameterID parameter, std::uint8_t sequence, const Header& header,
                       std::span<const std::uint8_t> payload) const
{
    return m_session->Validate(command, parameter, sequence, header, payload);
}

} // namespace SkerryTool
