#include "winhelpers/os_version.h"

#include "platform/platform.h"

namespace Basalt {

bool IsVistaOrLater() {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    return platform::GetVersionExW(&version) && version.dwMajorVersion >= 6;
}

}  // namespace Basalt
