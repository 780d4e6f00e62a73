// The device watcher of the virtual world: a queue thread's queue, fed by tests (or a replay)
// with arrivals, removals, handle events and window messages of virtual HID devices.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "platform/DeviceWatcher.h"
#include "platform/Sync.h"
#include "platform/virtual/VirtualHid.h"

namespace qm {

class VirtualDeviceWatcher final : public IDeviceWatcher {
public:
    explicit VirtualDeviceWatcher(VirtualHidBackend& backend) : backend_(backend) {}

    bool Prepare() override {
        if (failPrepare)
            SetLastErrorCode(1410);  // as a class that cannot be registered
        return !failPrepare;
    }
    void Open(IDeviceEventSink& sink) override;
    void EnumeratePresent(IDeviceEventSink& sink) override;
    void WatchInterfaces() override;
    void Run() override;
    void Close() override;
    void RequestQuit() override;
    intptr_t RegisterHandle(const std::string& path, intptr_t nativeHandle) override;
    void UnregisterHandle(intptr_t registration) override;

    // The test's side. Present devices are those in the backend.
    void Plug(const std::shared_ptr<VirtualHidDevice>& device);
    // Vanishes the device, takes it out of the backend and announces the removal.
    void Unplug(const std::string& path);
    // A handle event for every open registration of this path; returns how many.
    size_t RaiseHandleEvent(const std::string& path, uint32_t code);
    void PostMessage(uint32_t message, uintptr_t wParam, intptr_t lParam);
    // Waits until the queue thread has finished its start-up enumeration and handled
    // everything posted so far.
    bool WaitIdle(uint32_t timeoutMs);
    size_t Registrations();

    // Set before a start: the start fails as when the window class cannot be registered.
    bool failPrepare = false;

private:
    struct Notice {
        enum class Kind { Arrival, Removal, Handle, Message, Quit } kind;
        std::string path;
        intptr_t registration = 0;
        uint32_t code = 0;
        uintptr_t wParam = 0;
        intptr_t lParam = 0;
    };
    void Post(Notice notice);

    VirtualHidBackend& backend_;
    Mutex lock_;  // guards everything below
    Event posted_{false};
    Event idle_{true, true};
    std::deque<Notice> queue_;
    IDeviceEventSink* sink_ = nullptr;
    bool watching_ = false;
    bool busy_ = false;
    bool running_ = false;
    intptr_t nextRegistration_ = 1;
    std::vector<std::pair<intptr_t, std::string>> registrations_;
};

}  // namespace qm
