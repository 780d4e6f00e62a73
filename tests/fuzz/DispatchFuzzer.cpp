// libFuzzer target: control messages through DispatchRequest against a running manager with
// two virtual tablets. Tokens are small numbers, so the fuzzer finds the listed ones.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "QmHidSrv/TabMgr.h"
#include "platform/virtual/VirtualDeviceWatcher.h"
#include "support/Descriptors.h"
#include "support/TestHost.h"

namespace {

// A pipe that cannot be created: the manager runs without one, as the service does then.
class NoPipe final : public qm::IPipeServer {
public:
    bool Create() override { return false; }
    qm::PipeResult WaitForClient(qm::Event&) override { return qm::PipeResult::Stop; }
    qm::PipeResult Read(uint8_t*, uint32_t, uint32_t&, qm::Event&) override {
        return qm::PipeResult::Stop;
    }
    qm::PipeResult Write(const uint8_t*, uint32_t, uint32_t, qm::Event&) override {
        return qm::PipeResult::Broken;
    }
    void Interrupt() override {}
    void Disconnect() override {}
    void Close() override {}
    bool Push(const uint8_t*, uint32_t, uint32_t) override { return false; }
};

struct World {
    World() : watcher(backend), manager({backend, watcher, display, store, output, pipe}) {
        manager.StartService();
        for (const char* path : {"virtual/a", "virtual/b"}) {
            std::string error;
            auto d = qm::VirtualHidDevice::FromDescriptor(path, qm::test::kPenNoIds, &error).at(0);
            d->SetString(qm::HidStringKind::Manufacturer, u"QUILLMARK");
            watcher.Plug(d);
        }
        watcher.WaitIdle(5000);
    }
    qm::VirtualHidBackend backend;
    qm::VirtualDeviceWatcher watcher;
    qm::FixedDisplayOrientation display;
    qm::test::MemorySettingsStore store;
    qm::RecordingPointerOutput output{16};
    NoPipe pipe;
    qm::CQmTabMgr manager;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static World* world = new World;
    if (size == 0 || size > 1024)
        return 0;
    uint8_t buffer[1024];
    std::memcpy(buffer, data, size);
    const uint32_t reply = qm::DispatchRequest(world->manager, buffer, static_cast<uint32_t>(size));
    if (reply > 1024)
        __builtin_trap();
    // A reply is the request with only its reply fields changed: its header type stays.
    if (reply != 0 && buffer[0] != data[0])
        __builtin_trap();
    return 0;
}
