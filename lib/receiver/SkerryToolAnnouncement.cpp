#include "receiver/SkerryToolAnnouncement.h"

#include <cstring>

namespace SkerryTool {

namespace {

// Checks in order: magic, version, sequence 0, the discovery command, and with a response code
// of 0 the discovery parameter. A non-zero response code passes whatever the parameter.
Error check(const Header& header) noexcept
{
    if (header.magic != kMagic)
        return Error{WrongMagic};
    if (header.version != kProtocolVersion)
        return Error{WrongVersion};
    if (header.sequence != 0)
        return Error{WrongSequence};
    if (header.command != Command::Discovery)
        return Error{WrongCommand};
    if (header.responseCode == 0 && header.parameter != ParameterID::Discovery)
        return Error{WrongParameter};
    return Error{};
}

} // namespace

Announcement::Announcement(std::span<const std::uint8_t> datagram) noexcept
{
    if (datagram.size() < kSize)
        return;
    Header header;
    std::memcpy(&header, datagram.data(), sizeof header);
    m_error = check(header);
    if (m_error != Error{}) {
        m_verdict = Verdict::Rejected;
        return;
    }
    std::memcpy(&m_payload, datagram.data() + sizeof header, sizeof m_payload);
    m_verdict = Verdict::Accepted;
}

} // namespace SkerryTool
