#pragma once

#include "receiver/SkerryToolRecords.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace SkerryTool {

// The checks of one discovery datagram: the server's header followed by its payload. Bytes
// beyond the two records are not looked at (the receive keeps no more, and Linux cuts a longer
// announcement to that size).
class Announcement {
public:
    enum class Verdict {
        Accepted,
        TooShort,
        Rejected, // error() says why
    };

    static constexpr std::size_t kSize = sizeof(Header) + sizeof(DiscoveryPayload);

    explicit Announcement(std::span<const std::uint8_t> datagram) noexcept;

    Verdict verdict() const noexcept { return m_verdict; }
    const Error& error() const noexcept { return m_error; }
    const DiscoveryPayload& payload() const noexcept { return m_payload; }

private:
    Verdict m_verdict = Verdict::TooShort;
    Error m_error;
    DiscoveryPayload m_payload;
};

} // namespace SkerryTool
