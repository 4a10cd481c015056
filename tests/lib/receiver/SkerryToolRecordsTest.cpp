#include "receiver/SkerryToolRecords.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <sstream>

using namespace SkerryTool;
using ::testing::ElementsAre;

namespace {

template <class Record>
std::vector<std::uint8_t> bytesOf(const Record& record)
{
    std::vector<std::uint8_t> bytes(sizeof record);
    std::memcpy(bytes.data(), &record, sizeof record);
    return bytes;
}

} // namespace

TEST(SkerryToolBig, StoresMostSignificantFirstAndReadsBack)
{
    const endor::big<std::uint16_t> word = 0x1234;
    EXPECT_THAT(bytesOf(word), ElementsAre(0x12, 0x34));
    EXPECT_EQ(word, 0x1234);

    endor::big<std::uint32_t> dword;
    dword = 0xA1B2C3D4;
    EXPECT_THAT(bytesOf(dword), ElementsAre(0xA1, 0xB2, 0xC3, 0xD4));
    EXPECT_EQ(dword, 0xA1B2C3D4u);

    const endor::big<BypassFlags> flags = BypassFlags::Calibration | BypassFlags::CameraMode;
    EXPECT_THAT(bytesOf(flags), ElementsAre(0, 0, 0, 0x81));
    EXPECT_EQ(flags.value(), BypassFlags(0x81));
}

TEST(SkerryToolRecords, DefaultsAreTheirWireForm)
{
    EXPECT_THAT(bytesOf(Header{}), ElementsAre(0x5A, 0xB8, 0x2E, 0x7A, 0, 0, 1, 0, 0x47, 0xFF, 0, 1));
    EXPECT_THAT(bytesOf(PushDataSetRequest{}),
                ElementsAre(0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0));
    EXPECT_EQ(BrightnessSetRequest{}.mac, Mac::broadcast());
    EXPECT_EQ(BypassSetRequest{}.mac, Mac::broadcast());
    EXPECT_EQ(PushDataGetRequest{}.mac, Mac::broadcast());
    EXPECT_THAT(bytesOf(Error{}), ElementsAre(0, 0, 0, 0, 0, 0, 0, 0, 0));
}

namespace {

struct PrinterCase {
    const char* name;
    std::function<void(std::ostream&)> print;
    const char* expected;
};

// Test names carry the case's name, not its bytes.
void PrintTo(const PrinterCase& c, std::ostream* out) { *out << c.name; }

DiscoveryPayload announcementNamed(const std::string& name)
{
    DiscoveryPayload payload;
    payload.address = 0x7F000002;
    payload.uptime = 4242;
    payload.port = 40001;
    payload.maxSize = 1400;
    std::memcpy(payload.name.data(), name.data(), std::min(name.size(), payload.name.size()));
    return payload;
}

UptimeResponse uptimeOf(std::uint32_t milliseconds)
{
    UptimeResponse uptime;
    uptime.milliseconds = milliseconds;
    return uptime;
}

const Mac kMac{{0x0A, 0x00, 0x27, 0x00, 0x00, 0x01}};

const PrinterCase kPrinterCases[] = {
    // The Mac leaves the stream hexadecimal; what follows must not come out in hex.
    {"MacThenUptime", [](std::ostream& out) { out << kMac << ' ' << uptimeOf(120000); },
     "0a:00:27:00:00:01 120000 ms, 2 mins"},
    {"MacThenError", [](std::ostream& out) { out << kMac << ' ' << Error{12, 254, 0}; },
     "0a:00:27:00:00:01 parse status 12, response code 254"},
    {"MacThenVersion", [](std::ostream& out) { out << kMac << ' ' << VersionResponse{{10, 2, 3, 4}}; },
     "0a:00:27:00:00:01 10.2.3.4"},
    {"MacThenAnnouncement", [](std::ostream& out) { out << kMac << ' ' << announcementNamed("tool"); },
     "0a:00:27:00:00:01 name tool, IPv4 address 127.0.0.2, port 40001, uptime 4242 ms, maxSize 1400"},
    {"AnnouncementWithFullName",
     [](std::ostream& out) { out << announcementNamed("0123456789abcdef0123456789ABCDEF") << '|'; },
     "name 0123456789abcdef0123456789ABCDEF, IPv4 address 127.0.0.2, port 40001, uptime 4242 ms, maxSize 1400|"},
    {"UptimeFraction", [](std::ostream& out) { out << uptimeOf(90000); }, "90000 ms, 1.5 mins"},
    {"BypassSome", [](std::ostream& out) { out << BypassFlags(0x83); }, "Bypass: Calibration, Gains, Camera Mode"},
    {"BypassNone", [](std::ostream& out) { out << BypassFlags(0x00); }, "Bypass: "},
    {"BypassOtherBits", [](std::ostream& out) { out << BypassFlags(0x7C); }, "Bypass: Gamma, "},
    {"BigBypass", [](std::ostream& out) { out << endor::big<BypassFlags>(BypassFlags::Gamma); }, "Bypass: Gamma, "},
    {"SystemTestDone", [](std::ostream& out) { out << SystemTestStatus{2, "ok"} << ' ' << 12; },
     "Status (0x2): Job done, Desc: ok 12"},
    {"SystemTestUnknown", [](std::ostream& out) { out << SystemTestStatus{0x1F, ""}; }, "Status (0x1f): Unknown, Desc: "},
};

class SkerryToolPrinters : public ::testing::TestWithParam<PrinterCase>
{
};

} // namespace

TEST_P(SkerryToolPrinters, WriteTheirText)
{
    std::ostringstream out;
    GetParam().print(out);
    EXPECT_EQ(out.str(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, SkerryToolPrinters, ::testing::ValuesIn(kPrinterCases),
                         [](const auto& info) { return std::string(info.param.name); });
