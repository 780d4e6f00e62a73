// The device co-installer's entry points.
#include <windows.h>
#include <setupapi.h>

extern "C" {

// Until the install and removal actions are in, every call is answered with NO_ERROR and
// nothing is done, as for a DIF code the co-installer does not act on.
DWORD CALLBACK QmiClassInstaller(DI_FUNCTION, HDEVINFO, PSP_DEVINFO_DATA,
                                 PCOINSTALLER_CONTEXT_DATA) {
    return NO_ERROR;
}

DWORD CALLBACK QmiDeviceInstaller(DI_FUNCTION, HDEVINFO, PSP_DEVINFO_DATA,
                                  PCOINSTALLER_CONTEXT_DATA) {
    return NO_ERROR;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}

}  // extern "C"
