#pragma once

#include "instruments/camera/SdkBackend.h"

namespace SCRSDK {

// The backend of a build without a camera SDK: Init fails, so the driver reports that no
// camera can be connected, and every device call fails.
class NoSdkBackend : public SdkBackend
{
public:
    // Any non-zero code: there is no device to answer.
    static constexpr std::int32_t NoDevice = 0x8001;
    static const char* const WarningText;

    std::uint32_t GetSDKVersion() override { return 0; }
    bool Init(std::uint32_t logType) override;
    bool Release() override { return true; }
    std::int32_t EnumCameraObjects(std::unique_ptr<CameraObjectList>&, std::uint8_t) override { return NoDevice; }
    std::int32_t Connect(const CameraObjectInfo&, IDeviceCallback*, DeviceHandle*, std::int32_t, bool) override
    {
        return NoDevice;
    }
    std::int32_t Disconnect(DeviceHandle) override { return NoDevice; }
    std::int32_t ReleaseDevice(DeviceHandle) override { return NoDevice; }
    std::int32_t SetSaveInfo(DeviceHandle, const std::u16string&, const std::u16string&, std::int32_t) override
    {
        return NoDevice;
    }
    std::int32_t SetDeviceSetting(DeviceHandle, std::uint32_t, std::uint32_t) override { return NoDevice; }
    std::int32_t GetDeviceProperties(DeviceHandle, std::vector<DeviceProperty>&) override { return NoDevice; }
    std::int32_t SetDeviceProperty(DeviceHandle, const DeviceProperty&) override { return NoDevice; }
    std::int32_t SendCommand(DeviceHandle, std::uint32_t, std::uint32_t) override { return NoDevice; }
    std::int32_t GetLiveViewImageInfo(DeviceHandle, LiveViewImageInfo&) override { return NoDevice; }
    std::int32_t GetLiveViewImage(DeviceHandle, ImageDataBlock&) override { return NoDevice; }
};

} // namespace SCRSDK
