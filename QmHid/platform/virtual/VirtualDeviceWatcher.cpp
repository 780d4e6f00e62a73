#include "platform/virtual/VirtualDeviceWatcher.h"

#include <algorithm>

namespace qm {

void VirtualDeviceWatcher::Open(IDeviceEventSink& sink) {
    LockGuard guard(lock_);
    sink_ = &sink;
}

void VirtualDeviceWatcher::EnumeratePresent(IDeviceEventSink& sink) {
    // Arrivals are announced from the moment the present devices are listed, under the one
    // lock that Plug takes too: a device plugged meanwhile is listed or announced, once.
    std::vector<std::string> paths;
    {
        LockGuard guard(lock_);
        watching_ = true;
        paths = backend_.Paths();
    }
    for (const std::string& path : paths)
        sink.OnPresentInterface(path.c_str());
}

void VirtualDeviceWatcher::WatchInterfaces() {
    LockGuard guard(lock_);
    watching_ = true;
}

void VirtualDeviceWatcher::Run() {
    {
        LockGuard guard(lock_);
        running_ = true;
    }
    for (;;) {
        Notice n;
        IDeviceEventSink* sink = nullptr;
        {
            LockGuard guard(lock_);
            if (queue_.empty()) {
                busy_ = false;
                idle_.Set();
            }
        }
        for (;;) {
            {
                LockGuard guard(lock_);
                if (!queue_.empty()) {
                    n = std::move(queue_.front());
                    queue_.pop_front();
                    busy_ = true;
                    sink = sink_;
                    break;
                }
            }
            posted_.Wait(kWaitForever);
        }
        if (n.kind == Notice::Kind::Quit)
            return;
        if (sink == nullptr)
            continue;
        intptr_t result = 0;
        DeviceChange change;
        switch (n.kind) {
            case Notice::Kind::Arrival:
            case Notice::Kind::Removal:
                change.type = DeviceChange::Type::Interface;
                change.path = n.path.c_str();
                sink->OnWindowProcedure(kWmDeviceChange, n.code, 1, &change, result);
                break;
            case Notice::Kind::Handle:
                change.type = DeviceChange::Type::Handle;
                change.registration = n.registration;
                sink->OnWindowProcedure(kWmDeviceChange, n.code, 1, &change, result);
                break;
            default:
                sink->OnWindowProcedure(static_cast<uint32_t>(n.code), n.wParam, n.lParam, nullptr,
                                        result);
                break;
        }
    }
}

void VirtualDeviceWatcher::Close() {
    LockGuard guard(lock_);
    sink_ = nullptr;
    watching_ = false;
    running_ = false;
    // Whatever was posted for this run goes with it, as a window's messages go with the window.
    queue_.clear();
    busy_ = false;
    idle_.Set();
}

void VirtualDeviceWatcher::RequestQuit() {
    Post({Notice::Kind::Quit, {}});
}

void VirtualDeviceWatcher::Post(Notice notice) {
    {
        LockGuard guard(lock_);
        queue_.push_back(std::move(notice));
        idle_.Reset();
    }
    posted_.Set();
}

intptr_t VirtualDeviceWatcher::RegisterHandle(const std::string& path, intptr_t) {
    LockGuard guard(lock_);
    const intptr_t id = nextRegistration_++;
    registrations_.emplace_back(id, path);
    return id;
}

void VirtualDeviceWatcher::UnregisterHandle(intptr_t registration) {
    LockGuard guard(lock_);
    registrations_.erase(std::remove_if(registrations_.begin(), registrations_.end(),
                                        [&](const auto& r) { return r.first == registration; }),
                         registrations_.end());
}

void VirtualDeviceWatcher::Plug(const std::shared_ptr<VirtualHidDevice>& device) {
    bool watching = false;
    {
        LockGuard guard(lock_);
        backend_.Add(device);
        watching = watching_;
    }
    if (watching)
        Post({Notice::Kind::Arrival, device->Path(), 0, kDbtDeviceArrival});
}

void VirtualDeviceWatcher::Unplug(const std::string& path) {
    if (auto device = backend_.Find(path))
        device->Vanish();
    backend_.Remove(path);
    bool watching = false;
    {
        LockGuard guard(lock_);
        watching = watching_;
    }
    if (watching)
        Post({Notice::Kind::Removal, path, 0, kDbtDeviceRemoveComplete});
}

size_t VirtualDeviceWatcher::RaiseHandleEvent(const std::string& path, uint32_t code) {
    std::vector<intptr_t> ids;
    {
        LockGuard guard(lock_);
        for (const auto& r : registrations_)
            if (PathsEqual(r.second, path))
                ids.push_back(r.first);
    }
    for (intptr_t id : ids)
        Post({Notice::Kind::Handle, path, id, code});
    return ids.size();
}

void VirtualDeviceWatcher::PostMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    Post({Notice::Kind::Message, {}, 0, message, wParam, lParam});
}

bool VirtualDeviceWatcher::WaitIdle(uint32_t timeoutMs) {
    const uint64_t end = MonotonicMs() + timeoutMs;
    for (;;) {
        {
            LockGuard guard(lock_);
            if (running_ && queue_.empty() && !busy_)
                return true;
        }
        const uint64_t now = MonotonicMs();
        if (now >= end)
            return false;
        idle_.Wait(static_cast<uint32_t>(std::min<uint64_t>(end - now, 10)));
    }
}

size_t VirtualDeviceWatcher::Registrations() {
    LockGuard guard(lock_);
    return registrations_.size();
}

}  // namespace qm
