#include "receiver/SkerryToolReply.h"

namespace SkerryTool {

std::size_t Reply::payloadLength(const Header& header) noexcept
{
    const std::size_t length = header.length;
    return length > sizeof(Header) ? length - sizeof(Header) : 0;
}

Error Reply::check(Command command, ParameterID parameter, std::uint8_t sequence) const noexcept
{
    if (m_header.magic != kMagic)
        return Error{WrongMagic};
    if (m_header.version != kProtocolVersion)
        return Error{WrongVersion};
    if (m_header.sequence != sequence)
        return Error{WrongSequence};
    if (m_header.command != command)
        return Error{WrongCommand};
    if (m_header.responseCode != 0) {
        Error refusal;
        refusal.responseCode = m_header.responseCode;
        if (m_header.responseCode == kDetailResponseCode && m_payload.size() >= 4)
            refusal.detail = std::uint32_t(m_payload[0]) << 24 | std::uint32_t(m_payload[1]) << 16
                             | std::uint32_t(m_payload[2]) << 8 | std::uint32_t(m_payload[3]);
        return refusal;
    }
    if (m_header.parameter != parameter)
        return Error{WrongParameter};
    return Error{};
}

std::variant<std::monostate, Error> Reply::empty() const noexcept
{
    if (!m_payload.empty())
        return sizeError(false);
    return std::monostate{};
}

std::variant<std::string, Error> Reply::text() const
{
    return std::string(m_payload.begin(), m_payload.end());
}

std::variant<SystemTestStatus, Error> Reply::systemTest() const
{
    if (m_payload.empty())
        return sizeError(true);
    SystemTestStatus result;
    result.status = m_payload[0];
    result.description.assign(m_payload.begin() + 1, m_payload.end());
    return result;
}

Error Reply::sizeError(bool tooShort) noexcept
{
    return Error{tooShort ? PayloadTooShort : PayloadTooLong};
}

} // namespace SkerryTool
