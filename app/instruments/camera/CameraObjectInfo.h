#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace SCRSDK {

// What discovery tells about one camera: enough to connect to it and to name it.
struct CameraObjectInfo
{
    std::string model;
    std::uint32_t usbProductId = 0;
    std::string connectionType;
    std::string adaptor;
};

// The cameras one discovery found, in the order found.
struct CameraObjectList
{
    std::vector<CameraObjectInfo> cameras;

    std::size_t count() const { return cameras.size(); }
};

} // namespace SCRSDK
