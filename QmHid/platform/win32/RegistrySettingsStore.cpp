#include "platform/win32/RegistrySettingsStore.h"

#include <windows.h>
#include <setupapi.h>

namespace qm {

namespace {

// Opens the interface's key with the given access; creates it for writing when it is missing.
HKEY OpenInterfaceKey(const std::string& path, REGSAM access, bool create) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    if (set == INVALID_HANDLE_VALUE)
        return nullptr;
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    HKEY key = nullptr;
    if (SetupDiOpenDeviceInterfaceA(set, path.c_str(), 0, &data)) {
        key = SetupDiOpenDeviceInterfaceRegKey(set, &data, 0, access);
        if (key == INVALID_HANDLE_VALUE)
            key = nullptr;
        if (key == nullptr && create) {
            key = SetupDiCreateDeviceInterfaceRegKeyA(set, &data, 0, access, nullptr, nullptr);
            if (key == INVALID_HANDLE_VALUE)
                key = nullptr;
        }
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
