// HID devices through the Windows HID class driver: CreateFileA, overlapped ReadFile, HidD_*
// and the HidP_* parser on the device's preparsed data.
#pragma once

#include "platform/Hid.h"

namespace qm {

// The parser over preparsed data from elsewhere (the tests' parser driver): release(context)
// frees it with the parser; without release it is freed as HidD_GetPreparsedData's.
std::unique_ptr<IHidReportParser> MakeWin32HidParser(void* preparsedData, void (*release)(void*),
                                                     void* context);

class Win32HidBackend final : public IHidBackend {
public:
    std::unique_ptr<IHidFile> Open(const char* path, HidOpenMode mode) override;
};

}  // namespace qm
