// The HID device manager: owns the list of open devices and the last failure.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/Hid.h"
#include "platform/Sync.h"

namespace qm {

class CHidDevice;

class CHidDevMgr {
public:
    explicit CHidDevMgr(IHidBackend& backend) : backend_(backend) {}
    virtual ~CHidDevMgr() = default;
    CHidDevMgr(const CHidDevMgr&) = delete;
    CHidDevMgr& operator=(const CHidDevMgr&) = delete;

    // Link a device into the list and unlink it; called by the device's constructor and
    // destructor. The list lock guards the links.
    void AddDevice(CHidDevice* device);
    void RemoveDevice(CHidDevice* device);
    bool IsDeviceListed(const CHidDevice* device);

    IHidBackend& Backend() { return backend_; }

    // The Windows error code of the latest failed manager, device or tablet operation. Written
    // from the window, pipe and read threads, hence atomic.
    std::atomic<uint32_t> lastError{0};

protected:
    IHidBackend& backend_;
    Mutex listLock_;
    CHidDevice* devices_ = nullptr;  // guarded by listLock_
};

}  // namespace qm
