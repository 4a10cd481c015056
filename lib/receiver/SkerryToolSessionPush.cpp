#include "receiver/SkerryToolSession.h"

#include "formats/Crc32.h"
#include "receiver/SkerryToolReply.h"
#include "receiver/SkerryToolWireBytes.h"

#include <algorithm>
#include <istream>
#include <limits>
#include <memory>
#include <optional>
#include <thread>

namespace SkerryTool {

namespace {

enum PushStep : std::uint8_t {
    Announce = 1,
    Chunk = 2,
    Checksum = 3,
    Finish = 4,
};

// What the device acknowledges each step with.
constexpr std::uint8_t kAnnounced = 1;
constexpr std::uint8_t kChunkTaken = 1;
constexpr std::uint8_t kChecksumTaken = 2;
constexpr std::uint8_t kFinished = 3;

// The device's answer to a status poll while it is still busy with the data.
constexpr std::uint8_t kBusyResponseCode = 5;

// The largest chunk for which the header, the request and the chunk fit the 16-bit length.
constexpr std::size_t kChunkSize =
    std::numeric_limits<std::uint16_t>::max() - sizeof(Header) - sizeof(PushDataSetRequest);
static_assert(kChunkSize == 65502);

// The stream's size by seeking to its end, with the stream put back at its start; nothing
// when the stream cannot tell it or it does not fit the 32-bit size field.
std::optional<std::uint32_t> streamSize(std::istream& data)
{
    try {
        data.seekg(0, std::ios::end);
        const std::streamoff end = data.tellg();
        data.seekg(0, std::ios::beg);
        if (!data || end < 0 || end > std::streamoff(std::numeric_limits<std::uint32_t>::max()))
            return std::nullopt;
        return std::uint32_t(end);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// Reads exactly `count` bytes; false when the stream ends or fails before.
bool readExactly(std::istream& data, std::uint8_t* into, std::size_t count)
{
    try {
        data.read(reinterpret_cast<char*>(into), std::streamsize(count));
        return std::size_t(data.gcount()) == count;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace

template <class Response>
Error Session::pushStep(const PushDataSetRequest& request, std::uint8_t acknowledge, std::span<const std::uint8_t> chunk)
{
    const Exchange exchange = transact(Command::Set, ParameterID::PushData,
                                       wireBytes(request), chunk);
    if (exchange.error != Error{})
        return exchange.error;
    const auto response = Reply(exchange.header, exchange.payload).record<Response>();
    if (const Error* error = std::get_if<Error>(&response))
        return *error;
    const std::uint8_t answer = std::get<Response>(response).acknowledge;
    if (answer != acknowledge)
        return Error{WrongCommand, 0, answer};
    return Error{};
}

std::variant<std::monostate, Error> Session::PushData(const Mac& mac, std::uint8_t index, PushDataSetRequest::Type type,
                                                     std::istream& data)
{
    const std::optional<std::uint32_t> total = streamSize(data);
    if (!total)
        return Error{WriteFailed};

    PushDataSetRequest request;
    request.mac = mac;
    request.type = type;
    request.index = index;
    request.step = Announce;
    request.value = *total;
    if (const Error error = pushStep<PushDataSetInitializeResponse>(request, kAnnounced); error != Error{})
        return error;

    const auto buffer = std::make_unique<std::uint8_t[]>(kChunkSize);
    std::uint32_t crc = kCrc32Initial;
    std::uint32_t offset = 0;
    request.step = Chunk;
    while (offset < *total) {
        const std::size_t count = std::min<std::size_t>(kChunkSize, *total - offset);
        if (!readExactly(data, buffer.get(), count))
            return Error{WriteFailed};
        request.value = std::uint32_t(count);
        request.offset = offset;
        if (const Error error = pushStep<PushDataSetOtherResponse>(request, kChunkTaken, {buffer.get(), count});
            error != Error{})
            return error;
        crc32Update(crc, buffer.get(), count);
        offset += std::uint32_t(count);
    }

    request.step = Checksum;
    request.value = ~crc;
    request.offset = 0;
    if (const Error error = pushStep<PushDataSetOtherResponse>(request, kChecksumTaken); error != Error{})
        return error;

    request.step = Finish;
    request.value = 0;
    if (const Error error = pushStep<PushDataSetOtherResponse>(request, kFinished); error != Error{})
        return error;

    if (const Error error = awaitDevice(mac); error != Error{})
        return error;
    return std::monostate{};
}

Error Session::awaitDevice(const Mac& mac)
{
    PushDataGetRequest request;
    request.mac = mac;
    const auto giveUp = std::chrono::steady_clock::now() + m_limits.statusPollLimit;
    while (true) {
        const Exchange exchange = transact(Command::Get, ParameterID::PushData,
                                           wireBytes(request));
        const bool busy = exchange.error.parseStatus == Sound && exchange.error.responseCode == kBusyResponseCode;
        if (busy && std::chrono::steady_clock::now() + m_limits.statusPollPause < giveUp) {
            std::this_thread::sleep_for(m_limits.statusPollPause);
            continue;
        }
        if (exchange.error != Error{})
            return exchange.error;
        if (exchange.payload.empty())
            return Error{};
        const auto response = Reply(exchange.header, exchange.payload).record<PushDataGetResponse>();
        if (const Error* error = std::get_if<Error>(&response))
            return *error;
        const std::uint8_t state = std::get<PushDataGetResponse>(response).state;
        return state == 0 ? Error{} : Error{Sound, 0, state};
    }
}

} // namespace SkerryTool
