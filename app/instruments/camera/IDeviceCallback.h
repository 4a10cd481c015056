#pragma once

#include <cstdint>
#include <string>

namespace SCRSDK {

// What a connected camera tells its user. Called on threads of the SDK's own, never on the
// thread that made the calls; an implementation must not block them for long.
class IDeviceCallback
{
public:
    virtual ~IDeviceCallback() = default;

    virtual void OnConnected(std::uint32_t version) = 0;
    virtual void OnDisconnected(std::uint32_t error) = 0;
    virtual void OnPropertyChanged() = 0;
    // A still image has been written to the save folder; the name may use '\' separators.
    virtual void OnCompleteDownload(const std::u16string& filename) = 0;
    virtual void OnWarning(std::uint32_t warning) = 0;
    virtual void OnError(std::uint32_t error) = 0;
    // Notices a driver may ignore.
    virtual void OnLiveViewPropertyChanged() {}
};

} // namespace SCRSDK
