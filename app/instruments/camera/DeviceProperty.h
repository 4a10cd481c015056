#pragma once

#include <cstdint>
#include <vector>

namespace SCRSDK {

// One camera setting as the camera reports it, and as it is written back with a new value.
struct DeviceProperty
{
    // How the value list is packed.
    static constexpr std::uint32_t ValueTypeUInt16Array = 0x2002;
    static constexpr std::uint32_t ValueTypeUInt32Array = 0x2003;

    std::uint32_t code = 0;
    std::uint32_t valueType = 0;
    std::uint64_t currentValue = 0;
    // The values the camera offers, each in the width its value type names.
    std::vector<std::uint64_t> values;
    // Above 0: the setting can be read and set at all.
    std::int32_t enableFlag = 0;
    // The current value may be changed now.
    bool writable = false;

    bool enabled() const { return enableFlag > 0; }
    std::size_t valueBytes() const { return values.size() * valueWidth(); }
    std::size_t valueWidth() const
    {
        switch (valueType) {
        case ValueTypeUInt16Array:
            return 2;
        case ValueTypeUInt32Array:
            return 4;
        default:
            return 8;
        }
    }
};

// The camera settings the driver reads and keeps, by code.
namespace PropertyCode {
constexpr std::uint32_t FNumber = 0x100;
constexpr std::uint32_t ShutterSpeed = 0x103;
constexpr std::uint32_t Iso = 0x104;
constexpr std::uint32_t ExposureProgramMode = 0x105;
constexpr std::uint32_t FileType = 0x106;
constexpr std::uint32_t JpegQuality = 0x107;
constexpr std::uint32_t WhiteBalance = 0x108;
constexpr std::uint32_t FocusMode = 0x109;
constexpr std::uint32_t MeteringMode = 0x10A;
constexpr std::uint32_t DriveMode = 0x10E;
constexpr std::uint32_t DynamicRangeOptimizer = 0x10F;
constexpr std::uint32_t ImageSize = 0x110;
constexpr std::uint32_t PictureEffect = 0x112;
constexpr std::uint32_t ColorTemperature = 0x115;
constexpr std::uint32_t StillImageStoreDestination = 0x119;
constexpr std::uint32_t PriorityKeySettings = 0x11A;
} // namespace PropertyCode

} // namespace SCRSDK
