// The primary display's orientation from EnumDisplaySettingsA.
#pragma once

#include "platform/DisplayOrientation.h"

namespace qm {

class Win32DisplayOrientation final : public IDisplayOrientation {
public:
    bool Read(int32_t& orientation) override;
};

}  // namespace qm
