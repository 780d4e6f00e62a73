#include "QmHidSrv/HidDevMgr.h"

#include <cstdio>

#include "QmHidSrv/HidDevice.h"

namespace qm {

namespace {

constexpr uint32_t kFilterBufferBytes = 520;

bool EqualIgnoringAsciiCase(const char16_t* a, const std::u16string& b) {
    size_t i = 0;
    for (; a[i] != 0 && i < b.size(); ++i) {
        char16_t x = a[i], y = b[i];
        if (x >= u'a' && x <= u'z')
            x = static_cast<char16_t>(x - u'a' + u'A');
        if (y >= u'a' && y <= u'z')
            y = static_cast<char16_t>(y - u'a' + u'A');
        if (x != y)
            return false;
    }
    return a[i] == 0 && i == b.size();
}

std::unique_ptr<std::u16string> CopyFilter(const char16_t* s) {
    return s != nullptr ? std::make_unique<std::u16string>(s) : nullptr;
}

}  // namespace

CHidDevMgr::CHidDevMgr(IHidBackend& backend, IDeviceWatcher& watcher)
    : backend_(backend), watcher_(watcher) {}

CHidDevMgr::~CHidDevMgr() {
    // A window thread that does not end in time is left running; the hosts then end the
    // process rather than destroy the manager (see CQmTabMgr::StopService).
    Stop();
}

bool CHidDevMgr::OnWindowMessage(uint32_t, uintptr_t, intptr_t, intptr_t&) {
    return false;
}

bool CHidDevMgr::Start(uint16_t usagePage, const char16_t* manufacturer, const char16_t* product,
                       const char16_t* serialNumber) {
    if (!Stop() || windowThreadLeft_)
        return false;
    usagePageFilter_ = usagePage;
    manufacturerFilter_ = CopyFilter(manufacturer);
    productFilter_ = CopyFilter(product);
    serialNumberFilter_ = CopyFilter(serialNumber);
    if (!watcher_.Prepare()) {
        lastError = GetLastErrorCode();
        return false;
    }
    windowReady_.Reset();
    if (!windowThread_.Start(&CHidDevMgr::WindowThread, this)) {
        lastError = GetLastErrorCode();
        return false;
    }
    // From here on a stop request reaches the thread, also during its enumeration.
    windowReady_.Wait(kWindowThreadStopMs);
    return true;
}

void CHidDevMgr::WindowThread(void* p) {
    auto* m = static_cast<CHidDevMgr*>(p);
    m->watcher_.Open(*m);
    m->windowReady_.Set();
    m->watcher_.EnumeratePresent(*m);
    m->watcher_.WatchInterfaces();
    m->watcher_.Run();
    m->watcher_.Close();
}

bool CHidDevMgr::Stop() {
    bool result = true;
    if (windowThread_.Running()) {
        watcher_.RequestQuit();
        const bool ended = windowThread_.Join(kWindowThreadStopMs);
        lastError = ended ? 0u : kWaitTimeout;
        result = ended;
        if (!ended) {
            windowThread_.Detach();
            windowThreadLeft_ = true;
        }
    }
    {
        RecursiveLockGuard guard(listLock_);
        while (devices_ != nullptr) {
            CHidDevice* head = devices_;
            if (!head->StopReading())
                result = false;
            delete head;  // unlinks itself
        }
    }
    manufacturerFilter_.reset();
    productFilter_.reset();
    serialNumberFilter_.reset();
    return result;
}

bool CHidDevMgr::PassesStringFilter(const std::u16string* filter, const char* path,
                                    char16_t* (*query)(IHidBackend&, const char*, char16_t*,
                                                       uint32_t)) {
    if (filter == nullptr)
        return true;
    char16_t buffer[kFilterBufferBytes / sizeof(char16_t)] = {};
    query(backend_, path, buffer, kFilterBufferBytes);
    buffer[kFilterBufferBytes / sizeof(char16_t) - 1] = 0;
    return EqualIgnoringAsciiCase(buffer, *filter);
}

int64_t CHidDevMgr::ConsiderDevice(const char* path) {
    if (path == nullptr)
        return 1;
    if (usagePageFilter_ != 0) {
        HidCaps caps;
        char why[96];
        if (!QueryDeviceCaps(backend_, path, caps)) {
            std::snprintf(why, sizeof why, "cannot be opened or described (error %u)",
                          static_cast<unsigned>(GetLastErrorCode()));
            OnDeviceSkipped(path, why);
            return 1;
        }
        if (caps.usagePage != usagePageFilter_) {
            std::snprintf(why, sizeof why, "its collection is of usage page 0x%02X, not 0x%02X",
                          caps.usagePage, usagePageFilter_);
            OnDeviceSkipped(path, why);
            return 1;
        }
    }
    if (!PassesStringFilter(manufacturerFilter_.get(), path, &QueryManufacturerString) ||
        !PassesStringFilter(productFilter_.get(), path, &QueryProductString) ||
        !PassesStringFilter(serialNumberFilter_.get(), path, &QuerySerialNumberString)) {
        OnDeviceSkipped(path, "its strings do not match the filter");
        return 1;
    }
    RecursiveLockGuard guard(listLock_);
    OnDeviceArrival(path);
    return 1;
}

int64_t CHidDevMgr::RemoveDeviceByPath(const char* path) {
    RecursiveLockGuard guard(listLock_);
    CHidDevice* device = FindDeviceByPath(path);
    if (device != nullptr && device->StopReading() && device->CanDelete())
        delete device;
    return 1;
}

void CHidDevMgr::AddDevice(CHidDevice* device) {
    RecursiveLockGuard guard(listLock_);
    device->next = devices_;
    devices_ = device;
    device->token = ++nextToken_;
    device->handleNotification =
        watcher_.RegisterHandle(device->DevicePath(), device->FileNativeHandle());
    ++deviceCount_;
}

void CHidDevMgr::RemoveDevice(CHidDevice* device) {
    RecursiveLockGuard guard(listLock_);
    if (device->handleNotification != 0) {
        watcher_.UnregisterHandle(device->handleNotification);
        device->handleNotification = 0;
    }
    for (CHidDevice** link = &devices_; *link != nullptr; link = &(*link)->next) {
        if (*link == device) {
            *link = device->next;
            device->next = nullptr;
            --deviceCount_;
            break;
        }
    }
}

bool CHidDevMgr::IsDeviceListed(const CHidDevice* device) {
    if (device == nullptr)
        return false;
    RecursiveLockGuard guard(listLock_);
    for (CHidDevice* d = devices_; d != nullptr; d = d->next)
        if (d == device)
            return true;
    return false;
}

CHidDevice* CHidDevMgr::DeviceAt(uint16_t index) {
    RecursiveLockGuard guard(listLock_);
    CHidDevice* d = devices_;
    for (uint16_t i = 0; d != nullptr && i < index; ++i)
        d = d->next;
    return d;
}

CHidDevice* CHidDevMgr::FindDeviceByPath(const char* path) {
    if (path == nullptr)
        return nullptr;
    RecursiveLockGuard guard(listLock_);
    for (CHidDevice* d = devices_; d != nullptr; d = d->next)
        if (PathsEqual(d->DevicePath(), path))
            return d;
    return nullptr;
}

CHidDevice* CHidDevMgr::FindDeviceByToken(uint64_t token) {
    if (token == 0)
        return nullptr;
    RecursiveLockGuard guard(listLock_);
    for (CHidDevice* d = devices_; d != nullptr; d = d->next)
        if (d->token == token)
            return d;
    return nullptr;
}

bool CHidDevMgr::OnWindowProcedure(uint32_t message, uintptr_t wParam, intptr_t lParam,
                                   const DeviceChange* change, intptr_t& result) {
    intptr_t r = 0;
    bool handled = false;
    if (message == kWmDeviceChange && change != nullptr) {
        if (change->type == DeviceChange::Type::Interface) {
            if (wParam == kDbtDeviceArrival) {
                r = ConsiderDevice(change->path);
                handled = true;
            } else if (wParam == kDbtDeviceRemoveComplete) {
                r = RemoveDeviceByPath(change->path);
                handled = true;
            }
        } else if (change->type == DeviceChange::Type::Handle) {
            RecursiveLockGuard guard(listLock_);
            for (CHidDevice* d = devices_; d != nullptr; d = d->next) {
                if (d->handleNotification == change->registration) {
                    r = d->OnHandleNotification(static_cast<uint32_t>(wParam));
                    handled = true;
                    break;
                }
            }
        }
    }
    const bool mine = OnWindowMessage(message, wParam, lParam, r);
    result = r;
    return mine || handled;
}

}  // namespace qm
