// The service's manager over the virtual world and a real AF_UNIX control pipe.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include "QmHidSrv/TabMgr.h"
#include "platform/posix/UnixPipe.h"
#include "platform/virtual/VirtualDeviceWatcher.h"
#include "support/Descriptors.h"
#include "support/TestHost.h"

namespace qm::test {

// What the manager logs: its errors and the devices it skipped, with why.
class RecordingServiceLog final : public IServiceLog {
public:
    void Error(uint32_t, const char*) override {}
    void Skipped(const char* path, const char* why) override {
        LockGuard guard(lock_);
        skipped_.emplace_back(std::string(path) + ": " + why);
    }
    std::vector<std::string> SkippedLines() {
        LockGuard guard(lock_);
        return skipped_;
    }

private:
    Mutex lock_;
    std::vector<std::string> skipped_;
};

class ServiceFixture {
public:
    ServiceFixture()
        : pipePath(TempPipePath()),
          watcher(backend),
          pipe(pipePath),
          manager(ServicePlatform{backend, watcher, display, store, output, pipe, &log}) {}

    static std::string TempPipePath() {
        static int n = 0;
        return "/tmp/qmhid-test-" + std::to_string(getpid()) + "-" + std::to_string(++n) + ".sock";
    }

    // A product pen (manufacturer "QUILLMARK") plugged in; waits until it is handled.
    std::shared_ptr<VirtualHidDevice> PlugPen(const std::string& path,
                                              const char16_t* manufacturer = u"QUILLMARK",
                                              const char16_t* product = u"Pen") {
        std::string error;
        auto d = VirtualHidDevice::FromDescriptor(path, kPenNoIds, &error).at(0);
        d->SetString(HidStringKind::Manufacturer, std::u16string(manufacturer));
        d->SetString(HidStringKind::Product, std::u16string(product));
        watcher.Plug(d);
        watcher.WaitIdle(5000);
        return d;
    }
    bool Feed(VirtualHidDevice& d, uint16_t x, uint16_t y, uint8_t buttons) {
        const auto r = PenReport(x, y, buttons);
        return d.Feed(r.data(), r.size());
    }

    std::string pipePath;
    VirtualHidBackend backend;
    VirtualDeviceWatcher watcher;
    FixedDisplayOrientation display;
    MemorySettingsStore store;
    RecordingPointerOutput output{100000};
    UnixPipeServer pipe;
    RecordingServiceLog log;
    CQmTabMgr manager;
};

}  // namespace qm::test
