#include "platform/win32/DisplayOrientation.h"

#include <windows.h>

namespace qm {

bool Win32DisplayOrientation::Read(int32_t& orientation) {
    DEVMODEA mode{};
    mode.dmSize = sizeof mode;
    if (!EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &mode))
        return false;
    if ((mode.dmFields & DM_DISPLAYORIENTATION) == 0)
        return false;
    orientation = static_cast<int32_t>(mode.dmDisplayOrientation);
    return true;
}

}  // namespace qm
