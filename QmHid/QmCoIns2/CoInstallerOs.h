// What the co-installer's actions ask of Windows, one narrow call each, so that the decisions
// run natively against small fakes and on Windows against the real calls (WinCoInstallerOs).
#pragma once

#include <cstddef>
#include <cstdint>

namespace qm::coins {

using Handle = uintptr_t;  // 0 = none
using DevNode = uint32_t;

struct VersionInfo {
    uint32_t platformId = 0;
    uint32_t major = 0;
    uint32_t minor = 0;
    uint8_t productType = 0;  // 0 when only the basic form was read
};

// Windows values that the decisions compare against.
inline constexpr uint32_t kNoError = 0;
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorIoPending = 997;
inline constexpr uint32_t kErrorServiceDoesNotExist = 1060;
inline constexpr uint32_t kErrorServiceNotActive = 1062;
inline constexpr uint32_t kErrorServiceMarkedForDelete = 1072;
inline constexpr uint32_t kPostProcessingRequired = 0xE0000226;
inline constexpr uint32_t kServiceStopped = 1;
inline constexpr uint32_t kServiceRunning = 4;
inline constexpr uint32_t kDifInstallDevice = 2;
inline constexpr uint32_t kDifRemove = 5;
inline constexpr uint32_t kVerPlatformWin32Nt = 2;
inline constexpr uint8_t kVerNtWorkstation = 1;
inline constexpr uint32_t kServiceAllAccess = 0xF01FF;
inline constexpr uint32_t kServiceQueryStatus = 4;

class ICoInstallerOs {
public:
    virtual ~ICoInstallerOs() = default;

    // Thread state and time.
    virtual uint32_t TickCount() = 0;
    virtual void Sleep(uint32_t ms) = 0;
    virtual uint32_t LastError() = 0;
    virtual void SetLastError(uint32_t error) = 0;

    // Version and registry.
    virtual bool ReadVersion(bool extended, VersionInfo& info) = 0;
    // "ProductType" of ProductOptions into an 80-byte buffer: false when the key cannot be
    // opened, the value cannot be read or is longer than 80 bytes.
    virtual bool ReadProductType() = 0;
    // "Installed" of System\WPA\TabletPC into a 4-byte buffer preset to 0: -1 when the key
    // cannot be opened, 0 when the value cannot be read (also when it is longer), 1 when read.
    virtual int ReadTabletPcInstalled(uint32_t& value) = 0;
    virtual void WriteLinearityValue(const uint8_t* data, size_t size) = 0;

    // Device tree (Configuration Manager).
    virtual bool LocateRoot(DevNode& root) = 0;
    virtual bool GetParent(DevNode node, DevNode& parent) = 0;
    virtual bool GetChild(DevNode node, DevNode& child) = 0;
    virtual bool GetSibling(DevNode node, DevNode& sibling) = 0;
    // The instance identifier into a buffer of `chars` characters (terminator included).
    virtual bool GetDeviceId(DevNode node, char* buffer, size_t chars) = 0;
    virtual bool Reenumerate(DevNode node) = 0;
    // SetupAPI on a device named by its instance identifier: its manufacturer (SPDRP_MFG)
    // into a buffer of `chars` characters, and its removal (a fresh list, the device opened,
    // the global removal). Each fails when the list, the device or the call fails.
    virtual bool ReadManufacturer(const char* instanceId, char* buffer, size_t chars) = 0;
    virtual bool RemoveDevice(const char* instanceId) = 0;

    // Services. The manager is opened with GENERIC_READ on the local active database.
    virtual Handle OpenServiceManager() = 0;
    virtual Handle OpenServiceByName(Handle manager, const char* name, uint32_t access) = 0;
    virtual bool StopService(Handle service) = 0;
    virtual bool QueryServiceState(Handle service, uint32_t& state) = 0;
    virtual bool RemoveService(Handle service) = 0;
    virtual void CloseService(Handle handle) = 0;

    // Programs, windows, files, named objects.
    // ShellExecuteExA: file with parameters, hidden or shown; with wait, the started process is
    // waited for without limit. False when it could not be started.
    virtual bool Execute(const char* file, const char* parameters, bool show, bool wait) = 0;
    // The process of the first top-level window of that class; false when there is none.
    virtual bool FindWindowProcess(const char* windowClass, uint32_t& processId,
                                   uintptr_t& window) = 0;
    virtual Handle OpenProcessForWait(uint32_t processId) = 0;
    virtual void PostQuit(uintptr_t window) = 0;
    virtual bool WaitProcess(Handle process, uint32_t timeoutMs) = 0;
    virtual void CloseProcess(Handle process) = 0;
    virtual bool CommonStartupFolder(char* buffer, size_t chars) = 0;
    virtual bool RemoveFile(const char* path) = 0;
    virtual bool MutexExists(const char* name) = 0;
    virtual bool InitializeCom() = 0;
    virtual void UninitializeCom() = 0;
};

}  // namespace qm::coins
