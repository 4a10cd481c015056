#include "instruments/camera/CameraSdk.h"

#include "instruments/camera/NoSdkBackend.h"

#include <mutex>

namespace SCRSDK {

namespace {

std::mutex& backendMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<SdkBackend>& backendSlot()
{
    static std::shared_ptr<SdkBackend> backend = std::make_shared<NoSdkBackend>();
    return backend;
}

// The backend stays alive for the call even if another is installed meanwhile.
std::shared_ptr<SdkBackend> backend()
{
    const std::lock_guard lock(backendMutex());
    return backendSlot();
}

} // namespace

std::shared_ptr<SdkBackend> installBackend(std::shared_ptr<SdkBackend> replacement)
{
    const std::lock_guard lock(backendMutex());
    if (!replacement)
        replacement = std::make_shared<NoSdkBackend>();
    backendSlot().swap(replacement);
    return replacement;
}

std::uint32_t GetSDKVersion()
{
    return backend()->GetSDKVersion();
}

bool Init(std::uint32_t logType)
{
    return backend()->Init(logType);
}

bool Release()
{
    return backend()->Release();
}

std::int32_t EnumCameraObjects(std::unique_ptr<CameraObjectList>& list, std::uint8_t timeoutSeconds)
{
    list.reset();
    return backend()->EnumCameraObjects(list, timeoutSeconds);
}

CameraObjectInfo CreateCameraObjectInfo(const CameraObjectInfo& entry)
{
    return entry;
}

std::int32_t Connect(const CameraObjectInfo& info, IDeviceCallback* callback, DeviceHandle* handle,
                     std::int32_t remoteControlMode, bool reconnecting)
{
    return backend()->Connect(info, callback, handle, remoteControlMode, reconnecting);
}

std::int32_t Disconnect(DeviceHandle handle)
{
    return backend()->Disconnect(handle);
}

std::int32_t ReleaseDevice(DeviceHandle handle)
{
    return backend()->ReleaseDevice(handle);
}

std::int32_t SetSaveInfo(DeviceHandle handle, const std::u16string& folder, const std::u16string& prefix,
                         std::int32_t startNumber)
{
    return backend()->SetSaveInfo(handle, folder, prefix, startNumber);
}

std::int32_t SetDeviceSetting(DeviceHandle handle, std::uint32_t key, std::uint32_t value)
{
    return backend()->SetDeviceSetting(handle, key, value);
}

std::int32_t GetDeviceProperties(DeviceHandle handle, std::vector<DeviceProperty>& properties)
{
    properties.clear();
    return backend()->GetDeviceProperties(handle, properties);
}

void ReleaseDeviceProperties(DeviceHandle, std::vector<DeviceProperty>& properties)
{
    properties.clear();
    properties.shrink_to_fit();
}

std::int32_t SetDeviceProperty(DeviceHandle handle, const DeviceProperty& property)
{
    return backend()->SetDeviceProperty(handle, property);
}

std::int32_t SendCommand(DeviceHandle handle, std::uint32_t command, std::uint32_t parameter)
{
    return backend()->SendCommand(handle, command, parameter);
}

std::int32_t GetLiveViewImageInfo(DeviceHandle handle, LiveViewImageInfo& info)
{
    return backend()->GetLiveViewImageInfo(handle, info);
}

std::int32_t GetLiveViewImage(DeviceHandle handle, ImageDataBlock& block)
{
    return backend()->GetLiveViewImage(handle, block);
}

} // namespace SCRSDK
