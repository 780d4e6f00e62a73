// The pen working end to end in the virtual world: a product tablet arrives through the device
// manager, its reports become pointer events, settings changed from another thread take effect
// and survive a restart, and devices come and go while other threads use them.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

#include "QmHidSrv/QmTablet.h"
#include "platform/posix/FileSettingsStore.h"
#include "support/Descriptors.h"
#include "support/TestHost.h"
#include "support/VirtualTablet.h"

namespace qm {
namespace {

// A manager that makes a product tablet of every pen it is offered.
class TabletMgr final : private test::WatcherHolder, public CHidDevMgr {
public:
    TabletMgr(VirtualHidBackend& backend, ITabletHost& host)
        : WatcherHolder(backend), CHidDevMgr(backend, watcher), host_(host) {}
    ~TabletMgr() override { Stop(); }
    void OnDeviceArrival(const char* path) override { new CQmTablet(*this, host_, path); }
    VirtualDeviceWatcher& Events() { return watcher; }
    CQmTablet* Tablet(uint16_t i) { return static_cast<CQmTablet*>(DeviceAt(i)); }

private:
    ITabletHost& host_;
};

std::shared_ptr<VirtualHidDevice> Pen(const std::string& path) {
    std::string error;
    auto d = VirtualHidDevice::FromDescriptor(path, test::kPenNoIds, &error).at(0);
    d->SetString(HidStringKind::Manufacturer, u"QUILLMARK");
    return d;
}

bool FeedAndWait(VirtualHidDevice& d, test::TestHost& host, uint16_t x, uint16_t y) {
    const size_t before = host.output.Count();
    const auto r = test::PenReport(x, y, 0);
    return d.Feed(r.data(), r.size()) && host.output.WaitForCount(before + 1, 5000);
}

TEST(EndToEnd, PenToPointerWithSettingsThatSurviveARestart) {
    char name[] = "/tmp/qmhid-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    const std::string dir = name;
    FileSettingsStore store(dir);
    test::TestHost host(store);
    VirtualHidBackend backend;
    TabletMgr manager(backend, host);
    ASSERT_TRUE(manager.Start(qm::hid::kPageDigitizer, nullptr, nullptr, nullptr));
    ASSERT_TRUE(manager.Events().WaitIdle(5000));
    auto pen = Pen("virtual/pen");
    manager.Events().Plug(pen);
    ASSERT_TRUE(manager.Events().WaitIdle(5000));
    ASSERT_EQ(manager.DeviceCount(), 1);

    ASSERT_TRUE(FeedAndWait(*pen, host, 32767, 0));
    EXPECT_EQ(host.output.Events().back(), (PointerEvent{65535, 0, 0xC001}));

    // Another thread sets calibration and rotation; the next report uses them.
    struct Ctx {
        TabletMgr* m;
    } ctx{&manager};
    Thread control;
    ASSERT_TRUE(control.Start(
        [](void* p) {
            auto* c = static_cast<Ctx*>(p);
            RecursiveLockGuard guard(c->m->ListLock());
            c->m->Tablet(0)->SetCalibration(0, 0, 16384, 16384);
            c->m->Tablet(0)->SetRotation(180);
        },
        &ctx));
    ASSERT_TRUE(control.Join(5000));
    ASSERT_TRUE(FeedAndWait(*pen, host, 8192, 8192));
    // Half way on both axes of the new calibration, turned 180 degrees.
    EXPECT_EQ(host.output.Events().back(), (PointerEvent{65535 - 32767, 65535 - 32767, 0xC015}));

    // A restart of the manager loads them again.
    ASSERT_TRUE(manager.Stop());
    ASSERT_TRUE(manager.Start(qm::hid::kPageDigitizer, nullptr, nullptr, nullptr));
    ASSERT_TRUE(manager.Events().WaitIdle(5000));
    ASSERT_EQ(manager.DeviceCount(), 1);
    {
        RecursiveLockGuard guard(manager.ListLock());
        EXPECT_EQ(manager.Tablet(0)->ActiveSettings().rotation, 2);
        // Slot 2 was never calibrated: the defaults of slot 2.
        EXPECT_EQ(manager.Tablet(0)->GetCalibration(), (Calibration{0, 0, 32767, 32767}));
        manager.Tablet(0)->SetRotation(0);
    }
    ASSERT_TRUE(FeedAndWait(*pen, host, 8192, 8192));
    {
        RecursiveLockGuard guard(manager.ListLock());
        EXPECT_EQ(manager.Tablet(0)->GetCalibration(), (Calibration{0, 0, 16384, 16384}));
    }

    // Unplugged while reading, and a new one arrives.
    manager.Events().Unplug("virtual/pen");
    ASSERT_TRUE(manager.Events().WaitIdle(5000));
    EXPECT_EQ(manager.DeviceCount(), 0);
    auto second = Pen("virtual/pen2");
    manager.Events().Plug(second);
    ASSERT_TRUE(manager.Events().WaitIdle(5000));
    ASSERT_EQ(manager.DeviceCount(), 1);
    ASSERT_TRUE(FeedAndWait(*second, host, 0, 32767));
    EXPECT_TRUE(manager.Stop());
    std::system(("rm -rf '" + dir + "'").c_str());
}

// Devices are plugged and unplugged in a loop while another thread walks the list and uses the
// tablets' settings operations and strings; TSan and ASan watch.
TEST(EndToEnd, DevicesComeAndGoWhileAnotherThreadUsesThem) {
    test::MemorySettingsStore store;
    test::TestHost host(store);
    VirtualHidBackend backend;
    TabletMgr manager(backend, host);
    ASSERT_TRUE(manager.Start(qm::hid::kPageDigitizer, nullptr, nullptr, nullptr));
    struct Walker {
        TabletMgr* m;
        std::atomic<bool> stop{false};
        std::atomic<int> calls{0};
    } walker{&manager};
    Thread t;
    ASSERT_TRUE(t.Start(
        [](void* p) {
            auto* w = static_cast<Walker*>(p);
            char16_t buffer[64];
            uint16_t angle = 0;
            while (!w->stop) {
                RecursiveLockGuard guard(w->m->ListLock());
                for (uint16_t i = 0; CQmTablet* tablet = w->m->Tablet(i); ++i) {
                    tablet->SetRotation(angle);
                    tablet->SetCalibration(0, 0, 1000 + angle, 1000);
                    tablet->GetCalibration();
                    tablet->SetRawMode(angle == 180);
                    tablet->GetManufacturerString(buffer, sizeof buffer);
                    w->m->IsDeviceListed(tablet);
                    ++w->calls;
                }
                angle = static_cast<uint16_t>((angle + 90) % 360);
            }
        },
        &walker));
    const int kCycles = 2000;
    for (int i = 0; i < kCycles; ++i) {
        const std::string path = "virtual/pen" + std::to_string(i % 3);
        auto pen = Pen(path);
        manager.Events().Plug(pen);
        if (i % 4 != 3) {  // mostly a real tablet
            ASSERT_TRUE(manager.Events().WaitIdle(5000));
        }
        const uint8_t r[8] = {0, 0x05, static_cast<uint8_t>(i), 0, 1, 0, 0, 0};
        pen->Feed(r, sizeof r);
        if (i % 2 == 1)
            manager.Events().RaiseHandleEvent(path, kDbtDeviceQueryRemove);
        manager.Events().Unplug(path);
    }
    ASSERT_TRUE(manager.Events().WaitIdle(30000));
    walker.stop = true;
    ASSERT_TRUE(t.Join(10000));
    EXPECT_GT(walker.calls.load(), 0);
    // What is still listed is a device that vanished while it was being opened: not usable,
    // so its removal could not stop it, and it waits for Stop.
    {
        RecursiveLockGuard guard(manager.ListLock());
        for (uint16_t i = 0; CHidDevice* d = manager.DeviceAt(i); ++i)
            EXPECT_FALSE(d->Usable());
    }
    manager.Stop();
    EXPECT_EQ(manager.DeviceCount(), 0);
}

}  // namespace
}  // namespace qm
