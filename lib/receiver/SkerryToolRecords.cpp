#include "receiver/SkerryToolRecords.h"

#include <algorithm>
#include <iomanip>
#include <ostream>
#include <string_view>

namespace SkerryTool {

std::ostream& operator<<(std::ostream& out, const DiscoveryPayload& payload)
{
    // A name of exactly 32 bytes carries no terminator.
    const auto end = std::find(payload.name.begin(), payload.name.end(), '\0');
    const std::uint32_t address = payload.address;
    out << std::dec << "name " << std::string_view(payload.name.data(), std::size_t(end - payload.name.begin()))
        << ", IPv4 address " << (address >> 24) << '.' << ((address >> 16) & 0xFFu) << '.'
        << ((address >> 8) & 0xFFu) << '.' << (address & 0xFFu) << ", port " << payload.port.value()
        << ", uptime " << payload.uptime.value() << " ms, maxSize " << payload.maxSize.value();
    return out;
}

std::ostream& operator<<(std::ostream& out, const Error& error)
{
    return out << std::dec << "parse status " << error.parseStatus << ", response code "
               << unsigned(error.responseCode);
}

std::ostream& operator<<(std::ostream& out, const Mac& mac)
{
    out << std::hex << std::setfill('0');
    for (std::size_t i = 0; i < mac.bytes.size(); ++i) {
        if (i > 0)
            out << ':';
        out << std::setw(2) << unsigned(mac.bytes[i]);
    }
    return out;
}

std::ostream& operator<<(std::ostream& out, const SystemTestStatus& status)
{
    const char* text = "Unknown";
    switch (status.status) {
    case 0:
        text = "No job running";
        break;
    case 1:
        text = "Job running";
        break;
    case 2:
        text = "Job done";
        break;
    default:
        break;
    }
    return out << "Status (0x" << std::hex << unsigned(status.status) << std::dec << "): " << text
               << ", Desc: " << status.description;
}

std::ostream& operator<<(std::ostream& out, const UptimeResponse& uptime)
{
    const std::uint32_t milliseconds = uptime.milliseconds;
    return out << std::dec << milliseconds << " ms, " << milliseconds / 1000.0 / 60.0 << " mins";
}

std::ostream& operator<<(std::ostream& out, const VersionResponse& version)
{
    out << std::dec;
    for (std::size_t i = 0; i < version.numbers.size(); ++i) {
        if (i > 0)
            out << '.';
        out << unsigned(version.numbers[i]);
    }
    return out;
}

std::ostream& operator<<(std::ostream& out, BypassFlags flags)
{
    struct Named {
        BypassFlags flag;
        const char* text;
    };
    static constexpr Named kNames[] = {
        {BypassFlags::Calibration, "Calibration, "},
        {BypassFlags::Gains, "Gains, "},
        {BypassFlags::Gamma, "Gamma, "},
        {BypassFlags::CameraMode, "Camera Mode"},
    };
    out << "Bypass: ";
    for (const Named& named : kNames) {
        if (std::uint32_t(flags) & std::uint32_t(named.flag))
            out << named.text;
    }
    return out;
}

} // namespace SkerryTool
