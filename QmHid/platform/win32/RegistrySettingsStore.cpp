#include "platform/win32/RegistrySettingsStore.h"

#include <windows.h>
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
}

#include <cstdlib>
#include <cstring>

namespace qm {

namespace {

// Finds the interface among the present HID interfaces, for a SetupAPI that cannot open an
// interface by its path (Wine's SetupDiOpenDeviceInterfaceA is a stub that fails).
HDEVINFO FindPresentInterface(const std::string& path, SP_DEVICE_INTERFACE_DATA& data) {
    GUID hid;
    HidD_GetHidGuid(&hid);
    HDEVINFO set =
        SetupDiGetClassDevsA(&hid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE)
        return set;
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &hid, i, &data); ++i) {
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &size, nullptr);
        auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(std::malloc(size + 8));
        if (detail == nullptr)
            continue;
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        const bool match =
            SetupDiGetDeviceInterfaceDetailA(set, &data, detail, size, nullptr, nullptr) &&
            _stricmp(detail->DevicePath, path.c_str()) == 0;
        std::free(detail);
        if (match)
            return set;
    }
    SetupDiDestroyDeviceInfoList(set);
    return INVALID_HANDLE_VALUE;
}

// Opens the interface's key with the given access; creates it for writing when it is missing.
HKEY OpenInterfaceKey(const std::string& path, REGSAM access, bool create) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    if (set == INVALID_HANDLE_VALUE)
        return nullptr;
    if (!SetupDiOpenDeviceInterfaceA(set, path.c_str(), 0, &data)) {
        SetupDiDestroyDeviceInfoList(set);
        set = FindPresentInterface(path, data);
        if (set == INVALID_HANDLE_VALUE) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return nullptr;
        }
    }
    HKEY key = SetupDiOpenDeviceInterfaceRegKey(set, &data, 0, access);
    if (key == INVALID_HANDLE_VALUE)
        key = nullptr;
    if (key == nullptr && create) {
        key = SetupDiCreateDeviceInterfaceRegKeyA(set, &data, 0, access, nullptr, nullptr);
        if (key == INVALID_HANDLE_VALUE)
            key = nullptr;
    }
    const DWORD error = GetLastError();
    SetupDiDestroyDeviceInfoList(set);
    SetLastError(error);
    return key;
}

}  // namespace

bool RegistrySettingsStore::Read(const std::string& interfacePath, const char* name, void* buffer,
                                 size_t size) {
    HKEY key = OpenInterfaceKey(interfacePath, KEY_READ, false);
    if (key == nullptr)
        return false;
    DWORD got = static_cast<DWORD>(size);
    const LONG rc = RegQueryValueExA(key, name, nullptr, nullptr, static_cast<BYTE*>(buffer), &got);
    RegCloseKey(key);
    // A value of another size counts as absent.
    return rc == ERROR_SUCCESS && got == size;
}

bool RegistrySettingsStore::Write(const std::string& interfacePath, const char* name,
                                  const void* data, size_t size) {
    HKEY key = OpenInterfaceKey(interfacePath, KEY_WRITE, true);
    if (key == nullptr)
        return false;
    const LONG rc = RegSetValueExA(key, name, 0, REG_BINARY, static_cast<const BYTE*>(data),
                                   static_cast<DWORD>(size));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

}  // namespace qm
