#pragma once

#include "instruments/camera/SdkBackend.h"

#include <memory>

// The camera SDK as the camera driver calls it: free functions that forward to the installed
// backend. Every call returns 0 for success unless it says otherwise.
namespace SCRSDK {

// Version packed as major in bits 24-31, minor 16-23, patch 8-15.
std::uint32_t GetSDKVersion();
// True when the SDK can be used; each Init is paired with one Release.
bool Init(std::uint32_t logType = 0);
bool Release();
// A list is handed out only on success; resetting it releases it.
std::int32_t EnumCameraObjects(std::unique_ptr<CameraObjectList>& list, std::uint8_t timeoutSeconds);
// A copy of a discovered camera that outlives the list it came from.
CameraObjectInfo CreateCameraObjectInfo(const CameraObjectInfo& entry);
// Fills the handle; whether the camera connects is told later through the callback.
std::int32_t Connect(const CameraObjectInfo& info, IDeviceCallback* callback, DeviceHandle* handle,
                     std::int32_t remoteControlMode = 0, bool reconnecting = true);
std::int32_t Disconnect(DeviceHandle handle);
// After this the callback given to Connect is never called again.
std::int32_t ReleaseDevice(DeviceHandle handle);
std::int32_t SetSaveInfo(DeviceHandle handle, const std::u16string& folder, const std::u16string& prefix,
                         std::int32_t startNumber);
std::int32_t SetDeviceSetting(DeviceHandle handle, std::uint32_t key, std::uint32_t value);
std::int32_t GetDeviceProperties(DeviceHandle handle, std::vector<DeviceProperty>& properties);
void ReleaseDeviceProperties(DeviceHandle handle, std::vector<DeviceProperty>& properties);
std::int32_t SetDeviceProperty(DeviceHandle handle, const DeviceProperty& property);
std::int32_t SendCommand(DeviceHandle handle, std::uint32_t command, std::uint32_t parameter);
std::int32_t GetLiveViewImageInfo(DeviceHandle handle, LiveViewImageInfo& info);
std::int32_t GetLiveViewImage(DeviceHandle handle, ImageDataBlock& block);

// Puts a backend in place of the current one and returns the one it replaced. For tests only:
// the program runs with the backend it starts with. Install before a camera is made, and put
// the previous one back after the camera is gone.
std::shared_ptr<SdkBackend> installBackend(std::shared_ptr<SdkBackend> backend);

} // namespace SCRSDK
