#include "instruments/camera/NoSdkBackend.h"

#include <QtGlobal>

namespace SCRSDK {

const char* const NoSdkBackend::WarningText =
    "This build has no camera SDK, so no camera can be connected.";

bool NoSdkBackend::Init(std::uint32_t)
{
    qWarning("%s", WarningText);
    return false;
}

} // namespace SCRSDK
