#include "platform/linux/UdevDeviceWatcher.h"

#include "platform/posix/Poll.h"

#include <cerrno>
#include <cstring>
#include <libudev.h>
#include <unistd.h>

namespace qm {

namespace {

// udevd answers on its control socket while it runs.
bool UdevDaemonRuns() {
    return access("/run/udev/control", F_OK) == 0;
}

}  // namespace

UdevDeviceWatcher::~UdevDeviceWatcher() {
    Close();
}

bool UdevDeviceWatcher::Prepare() {
    quit_.Reset();
    return quit_.Valid();
}

void UdevDeviceWatcher::Open(IDeviceEventSink& sink) {
    sink_ = &sink;
    udev_ = udev_new();
    if (udev_ == nullptr)
        return;
    source_ = UdevDaemonRuns() ? "udev" : "kernel";
    monitor_ = udev_monitor_new_from_netlink(udev_, source_);
    if (monitor_ != nullptr &&
        (udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr) < 0 ||
         udev_monitor_enable_receiving(monitor_) < 0)) {
        udev_monitor_unref(monitor_);
        monitor_ = nullptr;
    }
    if (monitor_ == nullptr)
        source_ = "none";
}

void UdevDeviceWatcher::EnumeratePresent(IDeviceEventSink&) {
    if (udev_ == nullptr)
        return;
    udev_enumerate* e = udev_enumerate_new(udev_);
    if (e == nullptr)
        return;
    udev_enumerate_add_match_subsystem(e, "hidraw");
    udev_enumerate_scan_devices(e);
    std::vector<std::string> nodes;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e)) {
        udev_device* d = udev_device_new_from_syspath(udev_, udev_list_entry_get_name(entry));
        if (d == nullptr)
            continue;
        if (const char* node = udev_device_get_devnode(d))
            nodes.emplace_back(node);
        udev_device_unref(d);
    }
    udev_enumerate_unref(e);
    for (const std::string& node : nodes) {
        const std::vector<std::string> paths = backend_.InterfacePaths(node);
        announced_[node] = paths;
        for (const std::string& p : paths)
            sink_->OnPresentInterface(p.c_str());
    }
}

void UdevDeviceWatcher::Announce(const std::vector<std::string>& paths, uintptr_t code) {
    for (const std::string& p : paths) {
        DeviceChange change;
        change.type = DeviceChange::Type::Interface;
        change.path = p.c_str();
        intptr_t result = 0;
        sink_->OnWindowProcedure(kWmDeviceChange, code, 0, &change, result);
    }
}

void UdevDeviceWatcher::Arrive(const std::string& node) {
    Leave(node);  // a node number taken again without its removal seen
    const std::vector<std::string> paths = backend_.InterfacePaths(node);
    announced_[node] = paths;
    Announce(paths, kDbtDeviceArrival);
}

void UdevDeviceWatcher::Leave(const std::string& node) {
    auto it = announced_.find(node);
    if (it == announced_.end())
        return;
    const std::vector<std::string> paths = std::move(it->second);
    announced_.erase(it);
    Announce(paths, kDbtDeviceRemoveComplete);
}

void UdevDeviceWatcher::Run() {
    const int monitorFd = monitor_ != nullptr ? udev_monitor_get_fd(monitor_) : -1;
    for (;;) {
        // Without a monitor only the quit ends the wait.
        if (WaitReadyOrStop(monitorFd, POLLIN, static_cast<int>(quit_.NativeHandle()),
                            kWaitForever) != PollResult::Ready)
            return;
        udev_device* d = udev_monitor_receive_device(monitor_);
        if (d == nullptr)
            continue;
        const char* action = udev_device_get_action(d);
        const char* node = udev_device_get_devnode(d);
        std::string devnode = node != nullptr ? node : "";
        // A kernel removal event names the node by its device name.
        if (devnode.empty()) {
            if (const char* name = udev_device_get_sysname(d))
                devnode = std::string("/dev/") + name;
        }
        if (action != nullptr && !devnode.empty()) {
            if (std::strcmp(action, "add") == 0) {
                Arrive(devnode);
            } else if (std::strcmp(action, "remove") == 0) {
                Leave(devnode);
            }
        }
        udev_device_unref(d);
    }
}

void UdevDeviceWatcher::Close() {
    if (monitor_ != nullptr)
        udev_monitor_unref(monitor_);
    if (udev_ != nullptr)
        udev_unref(udev_);
    monitor_ = nullptr;
    udev_ = nullptr;
    announced_.clear();
    sink_ = nullptr;
}

}  // namespace qm
