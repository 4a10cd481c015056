#pragma once

#include "instruments/camera/CameraObjectInfo.h"
#include "instruments/camera/DeviceProperty.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace SCRSDK {

class IDeviceCallback;

using DeviceHandle = std::int64_t;

// The result codes the driver tells apart; 0 is success.
namespace Status {
constexpr std::int32_t Ok = 0;
// Discovery could not start its transport: the camera libraries are probably missing.
constexpr std::uint32_t AdaptorUnavailable = 0x8703;
// The camera refused this connection attempt; a second attempt may succeed.
constexpr std::uint32_t ConnectRefused = 0x8210;
} // namespace Status

// Warnings the camera gives while connected.
namespace Warning {
constexpr std::uint32_t Reconnected = 0x20001;
constexpr std::uint32_t Reconnecting = 0x20002;
} // namespace Warning

// Commands and device settings.
namespace Command {
constexpr std::uint32_t Release = 0;
constexpr std::uint32_t Up = 0;
constexpr std::uint32_t Down = 1;
} // namespace Command
namespace Setting {
constexpr std::uint32_t LiveView = 0;
} // namespace Setting

// A live-view frame: the buffer the caller lends, and how much of it the frame fills.
struct ImageDataBlock
{
    std::uint8_t* data = nullptr;
    std::uint32_t capacity = 0;
    std::uint32_t imageSize = 0;
};

struct LiveViewImageInfo
{
    std::uint32_t bufferSize = 0;
};

// The camera access behind the SDK calls. The program carries one implementation, which has no
// camera access; tests install a scripted camera in its place.
class SdkBackend
{
public:
    virtual ~SdkBackend() = default;

    virtual std::uint32_t GetSDKVersion() = 0;
    virtual bool Init(std::uint32_t logType) = 0;
    virtual bool Release() = 0;
    virtual std::int32_t EnumCameraObjects(std::unique_ptr<CameraObjectList>& list, std::uint8_t timeoutSeconds) = 0;
    virtual std::int32_t Connect(const CameraObjectInfo& info, IDeviceCallback* callback, DeviceHandle* handle,
                                 std::int32_t remoteControlMode, bool reconnecting) = 0;
    virtual std::int32_t Disconnect(DeviceHandle handle) = 0;
    virtual std::int32_t ReleaseDevice(DeviceHandle handle) = 0;
    virtual std::int32_t SetSaveInfo(DeviceHandle handle, const std::u16string& folder, const std::u16string& prefix,
                                     std::int32_t startNumber) = 0;
    virtual std::int32_t SetDeviceSetting(DeviceHandle handle, std::uint32_t key, std::uint32_t value) = 0;
    virtual std::int32_t GetDeviceProperties(DeviceHandle handle, std::vector<DeviceProperty>& properties) = 0;
    virtual std::int32_t SetDeviceProperty(DeviceHandle handle, const DeviceProperty& property) = 0;
    virtual std::int32_t SendCommand(DeviceHandle handle, std::uint32_t command, std::uint32_t parameter) = 0;
    virtual std::int32_t GetLiveViewImageInfo(DeviceHandle handle, LiveViewImageInfo& info) = 0;
    virtual std::int32_t GetLiveViewImage(DeviceHandle handle, ImageDataBlock& block) = 0;
};

} // namespace SCRSDK
