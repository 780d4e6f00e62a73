// The 64-bit co-installer: each entry point loads QmCoIns2.dll by its bare file name, calls the
// matching entry point with the same four arguments, unloads it and returns its result unchanged.
#include <windows.h>
#include <setupapi.h>

namespace {

using CoInstallerEntry = DWORD(CALLBACK*)(DI_FUNCTION, HDEVINFO, PSP_DEVINFO_DATA,
                                          PCOINSTALLER_CONTEXT_DATA);

DWORD Forward(const char* entryName, DI_FUNCTION installFunction, HDEVINFO deviceInfoSet,
              PSP_DEVINFO_DATA deviceInfoData, PCOINSTALLER_CONTEXT_DATA context) {
    HMODULE library = LoadLibraryA("QmCoIns2.dll");
    if (library == nullptr)
        return GetLastError();
    FARPROC address = GetProcAddress(library, entryName);
    if (address == nullptr) {
        // The lookup's error is read before FreeLibrary can overwrite it.
        const DWORD error = GetLastError();
        FreeLibrary(library);
        return error;
    }
    auto entry = reinterpret_cast<CoInstallerEntry>(reinterpret_cast<void (*)()>(address));
    const DWORD result = entry(installFunction, deviceInfoSet, deviceInfoData, context);
    FreeLibrary(library);
    return result;
}

}  // namespace

extern "C" {

DWORD CALLBACK ClassInstaller(DI_FUNCTION installFunction, HDEVINFO deviceInfoSet,
                              PSP_DEVINFO_DATA deviceInfoData, PCOINSTALLER_CONTEXT_DATA context) {
    return Forward("QmiClassInstaller", installFunction, deviceInfoSet, deviceInfoData, context);
}

DWORD CALLBACK DeviceInstaller(DI_FUNCTION installFunction, HDEVINFO deviceInfoSet,
                               PSP_DEVINFO_DATA deviceInfoData, PCOINSTALLER_CONTEXT_DATA context) {
    return Forward("QmiDeviceInstaller", installFunction, deviceInfoSet, deviceInfoData, context);
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}

}  // extern "C"
