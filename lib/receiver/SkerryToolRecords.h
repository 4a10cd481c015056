#pragma once

#include "receiver/EndorBig.h"

#include <TessellaExport.h>

#include <array>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <type_traits>

// The records of the receiver tool protocol. Every record but SystemTestStatus is packed, so
// its bytes in memory are its bytes on the wire; the client copies them into and out of frames.
namespace SkerryTool {

constexpr std::uint32_t kMagic = 0x5AB82E7A;
constexpr std::uint8_t kProtocolVersion = 1;
// The response code of every request; replies carry 0 for success or the device's error.
constexpr std::uint8_t kRequestResponseCode = 0xFF;
// A device error whose first four payload bytes carry a big-endian detail.
constexpr std::uint8_t kDetailResponseCode = 254;

// Values of Error::parseStatus: what went wrong with a reply, or with the request before it.
enum ParseStatus : std::int32_t {
    Sound = 0,           // the frame was sound: the device refused, or a data-push step did
    WriteFailed = 1,     // the request could not be written completely
    ReadFailed = 2,      // the reply could not be read completely
    WrongMagic = 3,
    WrongVersion = 4,
    WrongSequence = 5,
    WrongCommand = 6,    // also an unexpected acknowledgement in the data push
    WrongParameter = 7,
    PayloadTooShort = 8, // shorter than the expected record
    PayloadTooLong = 9,  // longer than the expected record
};

enum class Command : std::uint8_t {
    Get = 0x47,       // "G"
    Ping = 0x50,      // "P"
    Set = 0x53,       // "S"
    Discovery = 0x55, // "U"
};

enum class ParameterID : std::uint16_t {
    Version = 1,
    Uptime = 2,
    DeviceReport = 3,
    Pattern = 4,
    Bypass = 5,
    Brightness = 6,
    Reboot = 7,
    SystemTest = 8,
    PushData = 9,
    Discovery = 0xBEEF,
};

// Pattern identifiers belong to the server; the client passes them through.
enum class PatternID : std::uint8_t {};

enum class BypassFlags : std::uint32_t {
    Calibration = 0x01,
    Gains = 0x02,
    Gamma = 0x04,
    CameraMode = 0x80,
};

constexpr BypassFlags operator|(BypassFlags a, BypassFlags b)
{
    return BypassFlags(std::uint32_t(a) | std::uint32_t(b));
}

#pragma pack(push, 1)

struct Header {
    endor::big<std::uint32_t> magic{kMagic};
    endor::big<std::uint16_t> length{0}; // the whole frame: 12 plus the payload
    std::uint8_t version = kProtocolVersion;
    std::uint8_t sequence = 0;
    Command command = Command::Get;
    std::uint8_t responseCode = kRequestResponseCode;
    endor::big<ParameterID> parameter{ParameterID::Version};
};

struct Mac {
    std::array<std::uint8_t, 6> bytes{};

    // Every device.
    static constexpr Mac broadcast() { return Mac{{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}}; }
    bool operator==(const Mac&) const = default;
};

// The outcome of a command that did not succeed; never sent. All zero means no fault.
struct Error {
    std::int32_t parseStatus = 0;  // 0: the reply was sound; otherwise what went wrong with it
    std::uint8_t responseCode = 0; // the device's error code, 0 when it reported none
    std::uint32_t detail = 0;      // the detail of code 254, or an unexpected data-push byte

    bool operator==(const Error&) const = default;
};

struct DiscoveryPayload {
    endor::big<std::uint32_t> address{0};
    endor::big<std::uint32_t> uptime{0}; // milliseconds
    endor::big<std::uint16_t> port{0};
    endor::big<std::uint16_t> maxSize{0};
    std::array<char, 32> name{}; // NUL-terminated only when shorter than 32 bytes
};

struct VersionResponse {
    std::array<std::uint8_t, 4> numbers{}; // most significant first
};

struct UptimeResponse {
    endor::big<std::uint32_t> milliseconds{0};
};

struct BrightnessSetRequest {
    Mac mac = Mac::broadcast();
    endor::big<std::uint16_t> brightness{0};
};

struct BypassSetRequest {
    Mac mac = Mac::broadcast();
    endor::big<BypassFlags> flags{BypassFlags{}};
};

// The one-byte system test record; the client only reads the longer SystemTestStatus.
struct SystemTestPayload {
    std::uint8_t status = 0;
};

// The payload of Set Pattern, followed on the wire by count values of width bytes each.
struct PatternSetRequest {
    Mac mac = Mac::broadcast();
    PatternID pattern{};
    std::uint8_t count = 0;
    std::uint8_t width = 1;
};

struct PushDataSetRequest {
    // Data types belong to the server; the client passes them through.
    enum class Type : std::uint8_t {};

    Mac mac = Mac::broadcast();
    Type type{};
    std::uint8_t step = 0; // 1 announce, 2 data chunk, 3 checksum, 4 finish
    std::uint8_t reserved1 = 0;
    endor::big<std::uint16_t> reserved2{0};
    std::uint8_t index = 0;
    std::uint8_t reserved3 = 0;
    endor::big<std::uint32_t> value{0};  // total size, chunk length, CRC-32 or zero, by step
    endor::big<std::uint32_t> offset{0}; // where a chunk lies in the data
};

struct PushDataSetInitializeResponse {
    std::uint8_t acknowledge = 0;
    std::uint8_t unused = 0;
};

struct PushDataSetOtherResponse {
    std::uint8_t acknowledge = 0;
};

struct PushDataGetRequest {
    Mac mac = Mac::broadcast();
    std::uint8_t reserved = 0;
};

struct PushDataGetResponse {
    std::uint8_t state = 0; // 0: finished without error
};

#pragma pack(pop)

// Not a wire record: the status byte and the description that follows it to the payload's end.
struct SystemTestStatus {
    std::uint8_t status = 0; // 0 no job running, 1 job running, 2 job done
    std::string description;
};

static_assert(sizeof(Header) == 12);
static_assert(sizeof(Mac) == 6);
static_assert(sizeof(Error) == 9);
static_assert(sizeof(DiscoveryPayload) == 44);
static_assert(sizeof(VersionResponse) == 4);
static_assert(sizeof(UptimeResponse) == 4);
static_assert(sizeof(BrightnessSetRequest) == 8);
static_assert(sizeof(BypassSetRequest) == 10);
static_assert(sizeof(SystemTestPayload) == 1);
static_assert(sizeof(PatternSetRequest) == 9);
static_assert(sizeof(PushDataSetRequest) == 21);
static_assert(sizeof(PushDataSetInitializeResponse) == 2);
static_assert(sizeof(PushDataSetOtherResponse) == 1);
static_assert(sizeof(PushDataGetRequest) == 7);
static_assert(sizeof(PushDataGetResponse) == 1);
static_assert(sizeof(endor::big<std::uint16_t>) == 2 && sizeof(endor::big<BypassFlags>) == 4);

static_assert(std::is_trivially_copyable_v<Header> && std::is_trivially_copyable_v<Mac>
              && std::is_trivially_copyable_v<Error> && std::is_trivially_copyable_v<DiscoveryPayload>
              && std::is_trivially_copyable_v<VersionResponse> && std::is_trivially_copyable_v<UptimeResponse>
              && std::is_trivially_copyable_v<BrightnessSetRequest> && std::is_trivially_copyable_v<BypassSetRequest>
              && std::is_trivially_copyable_v<SystemTestPayload> && std::is_trivially_copyable_v<PatternSetRequest>
              && std::is_trivially_copyable_v<PushDataSetRequest>
              && std::is_trivially_copyable_v<PushDataSetInitializeResponse>
              && std::is_trivially_copyable_v<PushDataSetOtherResponse>
              && std::is_trivially_copyable_v<PushDataGetRequest> && std::is_trivially_copyable_v<PushDataGetResponse>
              && std::is_trivially_copyable_v<endor::big<BypassFlags>>);

// Text printers. Numbers come out in decimal unless noted; only the Mac printer leaves the
// stream in hexadecimal with fill "0".
TESSELLA_EXPORT std::ostream& operator<<(std::ostream& out, const DiscoveryPayload& payload);
TESSELLA_EXPORT std::ostream& operator<<(std::ostream& out, const Error& error);
TESSELLA_EXPORT std::ostream& operator<<(std::ostream& out, const Mac& mac);
TESSELLA_EXPORT std::ostream& operator<<(std::ostream& out, const SystemTestStatus& status);
TESSELLA_EXPORT std::ostream& operator<<(std::ostream& out, const UptimeResponse& uptime);
TESSELLA_EXPORT std::ostream& operator<<(std::ostream& out, const VersionResponse& version);
TESSELLA_EXPORT std::ostream& operator<<(std::ostream& out, BypassFlags flags);

} // namespace SkerryTool
