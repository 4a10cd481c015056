#pragma once

#include "receiver/SkerryToolRecords.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <type_traits>
#include <variant>

namespace SkerryTool {

// One reply as read from the connection: its header and a view of its payload. The checks and
// decoders read nothing beyond the payload, allocate no more than it holds and never throw
// on any bytes.
class Reply {
public:
    Reply(const Header& header, std::span<const std::uint8_t> payload) noexcept
        : m_header(header)
        , m_payload(payload)
    {
    }

    // The payload length a header announces; a length below the header's own means none.
    static std::size_t payloadLength(const Header& header) noexcept;

    // The checks of a reply to the request with this command, parameter and sequence number,
    // in order: magic, version, sequence, command, the device's response code, parameter.
    // All zero for a sound reply.
    Error check(Command command, ParameterID parameter, std::uint8_t sequence) const noexcept;

    // Decoders of a sound reply's payload.
    std::variant<std::monostate, Error> empty() const noexcept;
    std::variant<std::string, Error> text() const;
    std::variant<SystemTestStatus, Error> systemTest() const;

    // A fixed-size record: a shorter payload gives parse status 8, a longer one 9.
    template <class Record>
    std::variant<Record, Error> record() const noexcept
    {
        static_assert(std::is_trivially_copyable_v<Record>);
        if (m_payload.size() != sizeof(Record))
            return sizeError(m_payload.size() < sizeof(Record));
        Record result;
        std::memcpy(&result, m_payload.data(), sizeof(Record));
        return result;
    }

private:
    static Error sizeError(bool tooShort) noexcept;

    Header m_header;
    std::span<const std::uint8_t> m_payload;
};

} // namespace SkerryTool
