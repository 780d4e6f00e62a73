#include "QmCoIns2/WinCoInstallerOs.h"

#include <windows.h>
#include <cfgmgr32.h>
#include <objbase.h>
#include <setupapi.h>
#include <shellapi.h>
#include <shlobj.h>

namespace qm::coins {

namespace {

SC_HANDLE Sc(Handle h) {
    return reinterpret_cast<SC_HANDLE>(h);
}

// SetupAPI's removal of one device: the removal parameters, then SetupDiRemoveDevice; the class
// installer is not called for it.
bool RemoveOneDevice(HDEVINFO set, SP_DEVINFO_DATA* data) {
    SP_REMOVEDEVICE_PARAMS params{};
    params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
    params.ClassInstallHeader.InstallFunction = DIF_REMOVE;
    params.Scope = DI_REMOVEDEVICE_GLOBAL;
    params.HwProfile = 0;
    if (!SetupDiSetClassInstallParamsA(set, data, &params.ClassInstallHeader, sizeof params))
        return false;
    return SetupDiRemoveDevice(set, data) != FALSE;
}

}  // namespace

uint32_t WinCoInstallerOs::TickCount() {
    return GetTickCount();
}
void WinCoInstallerOs::Sleep(uint32_t ms) {
    ::Sleep(ms);
}
uint32_t WinCoInstallerOs::LastError() {
    return GetLastError();
}
void WinCoInstallerOs::SetLastError(uint32_t error) {
    ::SetLastError(error);
}

bool WinCoInstallerOs::ReadVersion(bool extended, VersionInfo& info) {
    OSVERSIONINFOEXA v{};
    v.dwOSVersionInfoSize = extended ? sizeof(OSVERSIONINFOEXA) : sizeof(OSVERSIONINFOA);
    if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&v)))
        return false;
    info.platformId = v.dwPlatformId;
    info.major = v.dwMajorVersion;
    info.minor = v.dwMinorVersion;
    info.productType = extended ? v.wProductType : 0;
    return true;
}

bool WinCoInstallerOs::ReadProductType() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\ProductOptions", 0,
                      KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    char buffer[80];
    DWORD size = sizeof buffer;
    const LONG rc = RegQueryValueExA(key, "ProductType", nullptr, nullptr,
                                     reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS && size <= sizeof buffer;
}

int WinCoInstallerOs::ReadTabletPcInstalled(uint32_t& value) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\WPA\\TabletPC", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return -1;
    DWORD installed = 0;
    DWORD size = sizeof installed;
    const LONG rc = RegQueryValueExA(key, "Installed", nullptr, nullptr,
                                     reinterpret_cast<BYTE*>(&installed), &size);
    RegCloseKey(key);
    value = installed;
    return rc == ERROR_SUCCESS ? 1 : 0;
}

void WinCoInstallerOs::WriteLinearityValue(const uint8_t* data, size_t size) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE,
                        "SYSTEM\\CurrentControlSet\\Control\\TabletPC\\LinearityData", 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, "Serial Pen Tablet (3310)", 0, REG_BINARY, data, static_cast<DWORD>(size));
    RegCloseKey(key);
}

bool WinCoInstallerOs::LocateRoot(DevNode& root) {
    DEVINST node = 0;
    if (CM_Locate_DevNodeA(&node, nullptr, CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS)
        return false;
    root = node;
    return true;
}

bool WinCoInstallerOs::GetParent(DevNode node, DevNode& parent) {
    DEVINST p = 0;
    if (CM_Get_Parent(&p, node, 0) != CR_SUCCESS)
        return false;
    parent = p;
    return true;
}

bool WinCoInstallerOs::GetChild(DevNode node, DevNode& child) {
    DEVINST c = 0;
    if (CM_Get_Child(&c, node, 0) != CR_SUCCESS)
        return false;
    child = c;
    return true;
}

bool WinCoInstallerOs::GetSibling(DevNode node, DevNode& sibling) {
    DEVINST s = 0;
    if (CM_Get_Sibling(&s, node, 0) != CR_SUCCESS)
        return false;
    sibling = s;
    return true;
}

bool WinCoInstallerOs::GetDeviceId(DevNode node, char* buffer, size_t chars) {
    return CM_Get_Device_IDA(node, buffer, static_cast<ULONG>(chars), 0) == CR_SUCCESS;
}

bool WinCoInstallerOs::Reenumerate(DevNode node) {
    return CM_Reenumerate_DevNode(node, CM_REENUMERATE_NORMAL) == CR_SUCCESS;
}

bool WinCoInstallerOs::ReadManufacturer(const char* instanceId, char* buffer, size_t chars) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    if (set == INVALID_HANDLE_VALUE)
        return false;
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    const bool ok = SetupDiOpenDeviceInfoA(set, instanceId, nullptr, 0, &data) &&
                    SetupDiGetDeviceRegistryPropertyA(set, &data, SPDRP_MFG, nullptr,
                                                      reinterpret_cast<BYTE*>(buffer),
                                                      static_cast<DWORD>(chars), nullptr);
    SetupDiDestroyDeviceInfoList(set);
    return ok;
}

bool WinCoInstallerOs::RemoveDevice(const char* instanceId) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    if (set == INVALID_HANDLE_VALUE)
        return false;
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    const bool ok =
        SetupDiOpenDeviceInfoA(set, instanceId, nullptr, 0, &data) && RemoveOneDevice(set, &data);
    SetupDiDestroyDeviceInfoList(set);
    return ok;
}

Handle WinCoInstallerOs::OpenServiceManager() {
    return reinterpret_cast<Handle>(OpenSCManagerA(nullptr, nullptr, GENERIC_READ));
}

Handle WinCoInstallerOs::OpenServiceByName(Handle manager, const char* name, uint32_t access) {
    return reinterpret_cast<Handle>(OpenServiceA(Sc(manager), name, access));
}

bool WinCoInstallerOs::StopService(Handle service) {
    SERVICE_STATUS status{};
    return ControlService(Sc(service), SERVICE_CONTROL_STOP, &status) != FALSE;
}

bool WinCoInstallerOs::QueryServiceState(Handle service, uint32_t& state) {
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(Sc(service), &status))
        return false;
    state = status.dwCurrentState;
    return true;
}

bool WinCoInstallerOs::RemoveService(Handle service) {
    return DeleteService(Sc(service)) != FALSE;
}

void WinCoInstallerOs::CloseService(Handle handle) {
    if (handle != 0)
        CloseServiceHandle(Sc(handle));
}

bool WinCoInstallerOs::Execute(const char* file, const char* parameters, bool show, bool wait) {
    SHELLEXECUTEINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = wait ? SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI : SEE_MASK_FLAG_NO_UI;
    info.lpFile = file;
    info.lpParameters = parameters;
    info.nShow = show ? SW_SHOWNORMAL : SW_HIDE;
    if (!ShellExecuteExA(&info))
        return false;
    if (wait && info.hProcess != nullptr) {
        WaitForSingleObject(info.hProcess, INFINITE);
        CloseHandle(info.hProcess);
    }
    return true;
}

bool WinCoInstallerOs::FindWindowProcess(const char* windowClass, uint32_t& processId,
                                         uintptr_t& window) {
    HWND hwnd = FindWindowA(windowClass, nullptr);
    if (hwnd == nullptr)
        return false;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    processId = pid;
    window = reinterpret_cast<uintptr_t>(hwnd);
    return true;
}

Handle WinCoInstallerOs::OpenProcessForWait(uint32_t processId) {
    return reinterpret_cast<Handle>(OpenProcess(SYNCHRONIZE, FALSE, processId));
}

void WinCoInstallerOs::PostQuit(uintptr_t window) {
    PostMessageA(reinterpret_cast<HWND>(window), WM_QUIT, 0, 0);
}

bool WinCoInstallerOs::WaitProcess(Handle process, uint32_t timeoutMs) {
    return WaitForSingleObject(reinterpret_cast<HANDLE>(process), timeoutMs) == WAIT_OBJECT_0;
}

void WinCoInstallerOs::CloseProcess(Handle process) {
    CloseHandle(reinterpret_cast<HANDLE>(process));
}

bool WinCoInstallerOs::CommonStartupFolder(char* buffer, size_t) {
    return SUCCEEDED(
        SHGetFolderPathA(nullptr, CSIDL_COMMON_STARTUP, nullptr, SHGFP_TYPE_CURRENT, buffer));
}

bool WinCoInstallerOs::RemoveFile(const char* path) {
    return DeleteFileA(path) != FALSE;
}

bool WinCoInstallerOs::MutexExists(const char* name) {
    HANDLE mutex = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name);
    if (mutex == nullptr)
        return false;
    CloseHandle(mutex);
    return true;
}

bool WinCoInstallerOs::InitializeCom() {
    return SUCCEEDED(CoInitialize(nullptr));
}
void WinCoInstallerOs::UninitializeCom() {
    CoUninitialize();
}

}  // namespace qm::coins
