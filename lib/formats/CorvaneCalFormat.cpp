#include "formats/CorvaneCalFormat.h"

#include <array>
#include <cstdarg>
#include <cstdio>

namespace CorvaneCal {

namespace {

struct KeyInfo {
    std::uint32_t key;
    const char* name;
    unsigned set;
};

constexpr std::array<KeyInfo, 38> kKeys{{
    {Key::CalEmpty, "CalEmpty", Set::Control},
    {Key::CalBatchID, "CalBatchID", Set::HighGray},
    {Key::CalTileID, "CalTileID", Set::HighGray},
    {Key::CalProcInfo, "CalProcInfo", Set::HighGray},
    {Key::CalBrightness, "CalBrightness", Set::HighGray},
    {Key::xBlueContrib, "xBlueContrib", Set::Deleted},
    {Key::DefaultGamut, "DefaultGamut", Set::HighGray},
    {Key::DefaultWhite, "DefaultWhite", Set::HighGray},
    {Key::IdealGamut, "IdealGamut", Set::HighGray},
    {Key::MeasTemp, "MeasTemp", Set::HighGray},
    {Key::DriverPar, "DriverPar", Set::Driver},
    {Key::xIdealCache, "xIdealCache", Set::Deleted},
    {Key::LowGray16, "LowGray16", Set::LowGray},
    {Key::PixelsXYZ, "PixelsXYZ", Set::HighGray},
    {Key::xPixelsXYY, "xPixelsXYY", Set::Deleted},
    {Key::xPixelXYZCmd, "xPixelXYZCmd", Set::Deleted},
    {Key::OLUTXYY, "OLUTXYY", Set::HighGray},
    {Key::LowGray8, "LowGray8", Set::LowGray},
    {Key::OLUTDat, "OLUTDat", Set::OLUT},
    {Key::OLUTRef, "OLUTRef", Set::OLUT},
    {Key::CalTemplate, "CalTemplate", Set::HighGray},
    {Key::OLUTIShaper, "OLUTIShaper", Set::OLUT},
    {Key::OLUTOShaper, "OLUTOShaper", Set::OLUT},
    {Key::OLUTGamut, "OLUTGamut", Set::OLUT},
    {Key::OLUTWhite, "OLUTWhite", Set::OLUT},
    {Key::OLUTProcInfo, "OLUTProcInfo", Set::OLUT},
    {Key::OLUTID, "OLUTID", Set::OLUT},
    {Key::xSeamCorr, "xSeamCorr", Set::Deleted},
    {Key::CalFactoryCorr, "CalFactoryCorr", Set::FactCorrHigh},
    {Key::xPixelXYZMod, "xPixelXYZMod", Set::Deleted},
    {Key::xPixAverage, "xPixAverage", Set::Deleted},
    {Key::xIdealTarget, "xIdealTarget", Set::Deleted},
    {Key::xBankMeta, "xBankMeta", Set::Deleted},
    {Key::CalFactoryLow, "CalFactoryLow", Set::FactCorrLow},
    {Key::BadPixels, "BadPixels", Set::BadPixels},
    {Key::CalMeshCorr, "CalMeshCorr", Set::FactCorrMesh},
    {Key::CalSet, "CalSet", Set::Control},
    {Key::EndTag, "EndTag", Set::Control},
}};

constexpr std::array<const char*, Set::DataSets> kSetNames{
    "HighGray", "Driver", "LowGray", "OLUT", "FactCorrHigh", "FactCorrLow", "BadPixels", "FactCorrMesh"};

const KeyInfo* find(std::uint32_t key)
{
    for (const KeyInfo& info : kKeys)
        if (info.key == key)
            return &info;
    return nullptr;
}

} // namespace

const char* keyName(std::uint32_t key)
{
    const KeyInfo* info = find(key);
    return info ? info->name : nullptr;
}

unsigned keySet(std::uint32_t key)
{
    if (const KeyInfo* info = find(key))
        return info->set;
    const std::uint32_t group = key >> 16;
    if (group < Set::DataSets)
        return group;
    return group == 0xFFFFu ? Set::Control : Set::None;
}

const char* setName(unsigned set)
{
    return set < kSetNames.size() ? kSetNames[set] : "???";
}

unsigned channelsOfPixelFormat(std::uint32_t pixelFormat)
{
    switch (pixelFormat) {
    case 1:
    case 3:
    case 4:
    case 5:
        return pixelFormat;
    default:
        return 0;
    }
}

void report(Severity severity, int line, const char* format, ...)
{
    static constexpr const char* kLevels[] = {"ERROR", "WARN", "INFO"};
    std::fprintf(stderr, "*** %s L%d: ", kLevels[int(severity)], line);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

} // namespace CorvaneCal
