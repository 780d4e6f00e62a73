// Stands in for QmCoIns2.dll: records the arguments it receives in the record that the
// caller's context points to, and answers with a result chosen by the DIF code.
#include <windows.h>
#include <setupapi.h>

#include "tests/wine/ForwarderRecord.h"

namespace {

DWORD Answer(ForwarderRecord::Entry which, DI_FUNCTION f, HDEVINFO set, PSP_DEVINFO_DATA data,
             PCOINSTALLER_CONTEXT_DATA context) {
    if (context != nullptr && context->PrivateData != nullptr) {
        auto* record = static_cast<ForwarderRecord*>(context->PrivateData);
        record->entry = which;
        record->installFunction = f;
        record->deviceInfoSet = set;
        record->deviceInfoData = data;
        record->context = context;
        ++record->calls;
    }
    return ForwarderRecord::ResultFor(which, f);
}

}  // namespace

extern "C" {

DWORD CALLBACK QmiClassInstaller(DI_FUNCTION f, HDEVINFO set, PSP_DEVINFO_DATA data,
                                 PCOINSTALLER_CONTEXT_DATA context) {
    return Answer(ForwarderRecord::Class, f, set, data, context);
}

DWORD CALLBACK QmiDeviceInstaller(DI_FUNCTION f, HDEVINFO set, PSP_DEVINFO_DATA data,
                                  PCOINSTALLER_CONTEXT_DATA context) {
    return Answer(ForwarderRecord::Device, f, set, data, context);
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}

}  // extern "C"
