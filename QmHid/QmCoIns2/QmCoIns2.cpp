// The device co-installer's entry points.
#include <windows.h>
#include <setupapi.h>

#include "QmCoIns2/CoInstaller.h"
#include "QmCoIns2/WinCoInstallerOs.h"

extern "C" {

DWORD CALLBACK QmiClassInstaller(DI_FUNCTION installFunction, HDEVINFO,
                                 PSP_DEVINFO_DATA deviceInfoData, PCOINSTALLER_CONTEXT_DATA) {
    qm::coins::WinCoInstallerOs os;
    return qm::coins::ClassInstaller(os, installFunction, deviceInfoData != nullptr,
                                     deviceInfoData != nullptr ? deviceInfoData->DevInst : 0);
}

DWORD CALLBACK QmiDeviceInstaller(DI_FUNCTION installFunction, HDEVINFO,
                                  PSP_DEVINFO_DATA deviceInfoData,
                                  PCOINSTALLER_CONTEXT_DATA context) {
    qm::coins::WinCoInstallerOs os;
    const bool post = context != nullptr && context->PostProcessing;
    return qm::coins::DeviceInstaller(os, installFunction, deviceInfoData != nullptr,
                                      deviceInfoData != nullptr ? deviceInfoData->DevInst : 0,
                                      post);
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}

}  // extern "C"
