// Test devices over the virtual HID backend: a device that records its reports and a tablet
// that records its pen samples, both thread-safe for the test thread that reads them.
#pragma once

#include <vector>

#include "QmHidSrv/HidDevMgr.h"
#include "QmHidSrv/HidTablet.h"
#include "platform/virtual/VirtualDeviceWatcher.h"
#include "platform/virtual/VirtualHid.h"

namespace qm::test {

// Makes the devices of a descriptor, gives them strings and registers them.
inline std::vector<std::shared_ptr<VirtualHidDevice>> AddVirtual(VirtualHidBackend& backend,
                                                                 const std::string& path,
                                                                 const std::vector<uint8_t>& d,
                                                                 const char16_t* product = u"Pen") {
    std::string error;
    auto devices = VirtualHidDevice::FromDescriptor(path, d, &error);
    for (auto& dev : devices) {
        dev->SetString(HidStringKind::Manufacturer, u"QUILLMARK");
        dev->SetString(HidStringKind::Product, std::u16string(product));
        backend.Add(dev);
    }
    return devices;
}

// Holds the watcher so that it is built before the manager that uses it.
struct WatcherHolder {
    explicit WatcherHolder(VirtualHidBackend& backend) : watcher(backend) {}
    VirtualDeviceWatcher watcher;
};

// A device manager over virtual devices that records the paths it is offered and, when told
// to, creates a device for each through `make`.
class TestDevMgr : private WatcherHolder, public CHidDevMgr {
public:
    explicit TestDevMgr(VirtualHidBackend& backend)
        : WatcherHolder(backend), CHidDevMgr(backend, watcher) {}
    ~TestDevMgr() override { Stop(); }

    void OnDeviceArrival(const char* path) override {
        {
            LockGuard g(lock_);
            offered_.emplace_back(path);
        }
        if (make)
            make(*this, path);
    }
    std::vector<std::string> Offered() {
        LockGuard g(lock_);
        return offered_;
    }
    VirtualDeviceWatcher& Events() { return watcher; }

    bool OnWindowMessage(uint32_t message, uintptr_t, intptr_t, intptr_t& result) override {
        LockGuard g(lock_);
        messages_.push_back(message);
        if (message == handledMessage)
            result = 42;
        return message == handledMessage;
    }
    std::vector<uint32_t> Messages() {
        LockGuard g(lock_);
        return messages_;
    }

    void (*make)(TestDevMgr&, const char*) = nullptr;
    uint32_t handledMessage = 0;

private:
    Mutex lock_;
    std::vector<std::string> offered_;
    std::vector<uint32_t> messages_;
};

class RecordingDevice final : public CHidDevice {
public:
    using CHidDevice::CHidDevice;
    ~RecordingDevice() override { StopReading(); }

    void OnReport(const uint8_t* report, uint32_t length) override {
        {
            LockGuard g(lock_);
            reports_.emplace_back(report, report + length);
        }
        arrived_.Set();
        if (blockMs_ != 0)
            SleepMs(blockMs_);
    }

    std::vector<std::vector<uint8_t>> Reports() {
        LockGuard g(lock_);
        return reports_;
    }
    bool WaitForReports(size_t n, uint32_t timeoutMs) {
        const uint64_t end = MonotonicMs() + timeoutMs;
        while (Reports().size() < n) {
            const uint64_t now = MonotonicMs();
            if (now >= end)
                return false;
            arrived_.Wait(static_cast<uint32_t>(end - now));
        }
        return true;
    }
    // Set before reading starts: each report keeps the read thread this long.
    uint32_t blockMs_ = 0;

private:
    Mutex lock_;
    Event arrived_{false};
    std::vector<std::vector<uint8_t>> reports_;
};

class RecordingTablet final : public CHidTablet {
public:
    using CHidTablet::CHidTablet;
    ~RecordingTablet() override { StopReading(); }

    void OnPenData(uint32_t x, uint32_t y, uint32_t pressure, uint32_t buttons,
                   uint32_t inRange) override {
        LockGuard g(lock_);
        samples_.push_back({x, y, pressure, buttons, inRange});
        whole_.push_back(CurrentSample());
    }
    // The five values OnPenData received.
    std::vector<PenSample> Samples() {
        LockGuard g(lock_);
        return samples_;
    }
    // The whole samples they came from, with what rides along.
    std::vector<PenSample> WholeSamples() {
        LockGuard g(lock_);
        return whole_;
    }

private:
    Mutex lock_;
    std::vector<PenSample> samples_;
    std::vector<PenSample> whole_;
};

}  // namespace qm::test
