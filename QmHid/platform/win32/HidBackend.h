// HID devices through the Windows HID class driver: CreateFileA, overlapped ReadFile, HidD_*
// and the HidP_* parser on the device's preparsed data.
#pragma once

#include "platform/Hid.h"

namespace qm {

class Win32HidBackend final : public IHidBackend {
public:
    std::unique_ptr<IHidFile> Open(const char* path, HidOpenMode mode) override;
};

}  // namespace qm
