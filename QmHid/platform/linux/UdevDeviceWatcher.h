// Discovery and hot-plug of hidraw nodes with libudev, delivered on the manager's thread as
// the Windows watcher delivers them: the interfaces present at start, then arrivals and
// removals. Where a udev daemon runs, its events are taken (the node is ready, its rules
// applied); where none runs (a container, a bare initramfs), the kernel's own uevents.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/DeviceWatcher.h"
#include "platform/Sync.h"
#include "platform/linux/Hidraw.h"

struct udev;
struct udev_monitor;

namespace qm {

class UdevDeviceWatcher final : public IDeviceWatcher {
public:
    explicit UdevDeviceWatcher(HidrawBackend& backend) : backend_(backend) {}
    ~UdevDeviceWatcher() override;

    bool Prepare() override;
    void Open(IDeviceEventSink& sink) override;
    void EnumeratePresent(IDeviceEventSink& sink) override;
    void WatchInterfaces() override {}
    void Run() override;
    void Close() override;
    void RequestQuit() override { quit_.Set(); }
    // Events are keyed by path here: handles need no registration.
    intptr_t RegisterHandle(const std::string&, intptr_t) override { return 0; }
    void UnregisterHandle(intptr_t) override {}

    // Which events it listens to: "udev" or "kernel" (after Open).
    const char* Source() const { return source_; }

private:
    void Announce(const std::vector<std::string>& paths, uintptr_t code);
    void Arrive(const std::string& node);
    void Leave(const std::string& node);

    HidrawBackend& backend_;
    Event quit_{true};
    IDeviceEventSink* sink_ = nullptr;  // the window thread's, between Open and Close
    udev* udev_ = nullptr;
    udev_monitor* monitor_ = nullptr;
    const char* source_ = "none";
    // The interface paths announced per node, for its removal (the node is gone by then).
    std::map<std::string, std::vector<std::string>> announced_;
};

}  // namespace qm
