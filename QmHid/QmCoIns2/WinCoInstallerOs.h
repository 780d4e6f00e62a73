// The co-installer's operating-system calls, made as Windows makes them.
#pragma once

#include "QmCoIns2/CoInstallerOs.h"

namespace qm::coins {

class WinCoInstallerOs final : public ICoInstallerOs {
public:
    uint32_t TickCount() override;
    void Sleep(uint32_t ms) override;
    uint32_t LastError() override;
    void SetLastError(uint32_t error) override;
    bool ReadVersion(bool extended, VersionInfo& info) override;
    bool ReadProductType() override;
    int ReadTabletPcInstalled(uint32_t& value) override;
    void WriteLinearityValue(const uint8_t* data, size_t size) override;
    bool LocateRoot(DevNode& root) override;
    bool GetParent(DevNode node, DevNode& parent) override;
    bool GetChild(DevNode node, DevNode& child) override;
    bool GetSibling(DevNode node, DevNode& sibling) override;
    bool GetDeviceId(DevNode node, char* buffer, size_t chars) override;
    bool Reenumerate(DevNode node) override;
    bool ReadManufacturer(const char* instanceId, char* buffer, size_t chars) override;
    bool RemoveDevice(const char* instanceId) override;
    Handle OpenServiceManager() override;
    Handle OpenServiceByName(Handle manager, const char* name, uint32_t access) override;
    bool StopService(Handle service) override;
    bool QueryServiceState(Handle service, uint32_t& state) override;
    bool RemoveService(Handle service) override;
    void CloseService(Handle handle) override;
    bool Execute(const char* file, const char* parameters, bool show, bool wait) override;
    bool FindWindowProcess(const char* windowClass, uint32_t& processId,
                           uintptr_t& window) override;
    Handle OpenProcessForWait(uint32_t processId) override;
    void PostQuit(uintptr_t window) override;
    bool WaitProcess(Handle process, uint32_t timeoutMs) override;
    void CloseProcess(Handle process) override;
    bool CommonStartupFolder(char* buffer, size_t chars) override;
    bool RemoveFile(const char* path) override;
    bool MutexExists(const char* name) override;
    bool InitializeCom() override;
    void UninitializeCom() override;
};

}  // namespace qm::coins
