// The HID device manager: finds HID interfaces through the device watcher, filters them, keeps
// the list of accepted devices and destroys them when they go away.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/DeviceWatcher.h"
#include "platform/Hid.h"
#include "platform/Sync.h"

namespace qm {

class CHidDevice;

inline constexpr uint32_t kWindowThreadStopMs = 5000;
inline constexpr uint32_t kWaitTimeout = 258;

class CHidDevMgr : public IDeviceEventSink {
public:
    CHidDevMgr(IHidBackend& backend, IDeviceWatcher& watcher);
    ~CHidDevMgr() override;
    CHidDevMgr(const CHidDevMgr&) = delete;
    CHidDevMgr& operator=(const CHidDevMgr&) = delete;

    // Called for every interface path that passed the filters, on the window thread, with the
    // list lock held.
    virtual void OnDeviceArrival(const char* path) = 0;
    // An interface path that did not become a device, and why; on the window thread.
    virtual void OnDeviceSkipped(const char* /*path*/, const char* /*why*/) {}
    // Every message of the window thread; true (with result set) when handled.
    virtual bool OnWindowMessage(uint32_t message, uintptr_t wParam, intptr_t lParam,
                                 intptr_t& result);

    // Stops first; then starts the window thread with these filters (0 and null: any).
    bool Start(uint16_t usagePage, const char16_t* manufacturer, const char16_t* product,
               const char16_t* serialNumber);
    // Ends the window thread (5000 ms) and destroys every listed device. False when the thread
    // or a read thread did not end in time; a window thread left so is never started again.
    bool Stop();
    // True once a stop has left the window thread running past its bound.
    bool WindowThreadLeft() const { return windowThreadLeft_; }

    int64_t ConsiderDevice(const char* path);
    int64_t RemoveDeviceByPath(const char* path);

    // Called by a device's constructor and destructor.
    void AddDevice(CHidDevice* device);
    void RemoveDevice(CHidDevice* device);

    // Lookups for other threads. A device found stays alive only while the caller holds the
    // list lock (ListLock), which every change of the list and every destruction also takes.
    bool IsDeviceListed(const CHidDevice* device);
    CHidDevice* DeviceAt(uint16_t index);
    CHidDevice* FindDeviceByPath(const char* path);
    CHidDevice* FindDeviceByToken(uint64_t token);
    int32_t DeviceCount() const { return deviceCount_.load(); }
    RecursiveMutex& ListLock() { return listLock_; }

    IHidBackend& Backend() { return backend_; }
    IDeviceWatcher& Watcher() { return watcher_; }
    bool Running() const { return windowThread_.Running(); }

    // IDeviceEventSink, on the window thread.
    void OnPresentInterface(const char* path) override { ConsiderDevice(path); }
    bool OnWindowProcedure(uint32_t message, uintptr_t wParam, intptr_t lParam,
                           const DeviceChange* change, intptr_t& result) override;

    // The Windows error code of the latest failed manager, device or tablet operation. Written
    // from the window, pipe and read threads, hence atomic.
    std::atomic<uint32_t> lastError{0};

private:
    static void WindowThread(void* manager);
    bool PassesStringFilter(const std::u16string* filter, const char* path,
                            char16_t* (*query)(IHidBackend&, const char*, char16_t*, uint32_t));

    IHidBackend& backend_;
    IDeviceWatcher& watcher_;
    Thread windowThread_;
    Event windowReady_{true};
    // The filters: written by Start and Stop while no window thread runs, read by it.
    uint16_t usagePageFilter_ = 0;
    std::unique_ptr<std::u16string> manufacturerFilter_;
    std::unique_ptr<std::u16string> productFilter_;
    std::unique_ptr<std::u16string> serialNumberFilter_;
    // The list: changed, walked and its devices destroyed only under the list lock.
    RecursiveMutex listLock_;
    CHidDevice* devices_ = nullptr;
    std::atomic<int32_t> deviceCount_{0};
    uint64_t nextToken_ = 0;         // guarded by listLock_
    bool windowThreadLeft_ = false;  // written by Stop, on the thread that starts and stops
};

}  // namespace qm
