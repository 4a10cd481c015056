#include "receiver/SkerryToolAnnouncement.h"
#include "receiver/SkerryToolReply.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <variant>

using namespace SkerryTool;

namespace {

// The results of every decoder, printed where a printer exists, so that each byte reaches them.
struct Printer {
    std::ostream& out;
    void operator()(const std::monostate&) const {}
    void operator()(const std::string& text) const { out << text.size(); }
    template <class Record>
    void operator()(const Record& record) const
    {
        if constexpr (requires { out << record; })
            out << record;
    }
};

template <class Record>
void decode(const Reply& reply, std::size_t payloadSize, std::ostream& out)
{
    const auto result = reply.record<Record>();
    // A fixed-size record decodes exactly when the payload has its size.
    if (std::holds_alternative<Record>(result) != (payloadSize == sizeof(Record)))
        std::abort();
    std::visit(Printer{out}, result);
}

constexpr Command kCommands[] = {Command::Get, Command::Ping, Command::Set, Command::Discovery};

} // namespace

// Any bytes as a discovery datagram, and as a reply (a selector byte, a header and as much of
// the payload as the header announces) through every check and decoder the client uses: each
// input must end in a result or an Error, within the bytes it has.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::ostringstream out;

    const Announcement announcement(std::span<const std::uint8_t>(data, size));
    if (announcement.verdict() == Announcement::Verdict::Accepted)
        out << announcement.payload();
    else
        out << announcement.error();

    if (size < 1 + sizeof(Header))
        return 0;
    const std::uint8_t selector = data[0];
    Header header;
    std::memcpy(&header, data + 1, sizeof header);
    const std::size_t available = size - 1 - sizeof header;
    const std::size_t payloadSize = std::min(available, Reply::payloadLength(header));
    const Reply reply(header, std::span<const std::uint8_t>(data + 1 + sizeof header, payloadSize));

    const Command command = kCommands[selector & 3];
    const auto parameter = ParameterID(selector & 0x80 ? header.parameter.value() : ParameterID((selector >> 2) & 0xF));
    const std::uint8_t sequence = selector & 0x40 ? header.sequence : std::uint8_t(selector >> 3);
    const Error error = reply.check(command, parameter, sequence);
    out << error;
    if (error == Error{} && (header.magic != kMagic || header.responseCode != 0 || header.command != command))
        std::abort();

    std::visit(Printer{out}, reply.empty());
    std::visit(Printer{out}, reply.text());
    std::visit(Printer{out}, reply.systemTest());
    decode<VersionResponse>(reply, payloadSize, out);
    decode<UptimeResponse>(reply, payloadSize, out);
    decode<endor::big<std::uint16_t>>(reply, payloadSize, out);
    decode<endor::big<BypassFlags>>(reply, payloadSize, out);
    decode<PushDataSetInitializeResponse>(reply, payloadSize, out);
    decode<PushDataSetOtherResponse>(reply, payloadSize, out);
    decode<PushDataGetResponse>(reply, payloadSize, out);
    return 0;
}
