// The device manager's Windows side under Wine (with Xvfb for the hidden window): it
// enumerates Wine's two HID devices, rejects both by usage page, registers handle events for
// the devices it opens, receives window messages, stops within its bound and starts again; and
// the settings store in a device interface's registry key.
#include <windows.h>
#include <setupapi.h>

#include <atomic>
#include <string>
#include <vector>

#include "QmHidSrv/HidDevMgr.h"
#include "QmHidSrv/HidDevice.h"
#include "platform/win32/DeviceWatcher.h"
#include "platform/win32/HidBackend.h"
#include "platform/win32/RegistrySettingsStore.h"
#include "tests/wine/WineTest.h"

namespace {

class Device final : public qm::CHidDevice {
public:
    using CHidDevice::CHidDevice;
    ~Device() override { StopReading(); }
    void OnReport(const uint8_t*, uint32_t) override {}
};

class Manager final : public qm::CHidDevMgr {
public:
    Manager(qm::IHidBackend& b, qm::IDeviceWatcher& w) : CHidDevMgr(b, w) {}
    ~Manager() override { Stop(); }
    void OnDeviceArrival(const char* path) override {
        ++offered;
        paths.emplace_back(path);
        if (open)
            (new Device(*this, path))->StartReading(false);
    }
    bool OnWindowMessage(uint32_t message, uintptr_t, intptr_t, intptr_t&) override {
        if (message == WM_DISPLAYCHANGE)
            ++displayChanges;
        return false;
    }
    std::atomic<int> offered{0};
    std::atomic<int> displayChanges{0};
    std::vector<std::string> paths;  // the window thread's until it has stopped
    bool open = false;
};

bool WaitFor(const std::atomic<int>& value, int atLeast) {
    for (int i = 0; i < 200 && value < atLeast; ++i)
        Sleep(10);
    return value >= atLeast;
}

}  // namespace

TEST(DevMgrUnderWine, ArrivalRemovalAndFilters) {
    qm::Win32HidBackend backend;
    qm::Win32DeviceWatcher watcher(reinterpret_cast<intptr_t>(GetModuleHandleA(nullptr)));
    Manager manager(backend, watcher);

    // Usage page 0x0D: Wine's mouse and keyboard (page 1) are both rejected.
    EXPECT_TRUE(manager.Start(0x0D, nullptr, nullptr, nullptr));
    EXPECT_TRUE(manager.Running());
    Sleep(500);
    EXPECT_EQ(manager.offered.load(), 0);
    EXPECT_EQ(manager.DeviceCount(), 0);
    HWND window = FindWindowA("HidTabWnd", "HidTabWnd");
    EXPECT_TRUE(window != nullptr);
    if (window != nullptr) {
        SendMessageA(window, WM_DISPLAYCHANGE, 32, MAKELPARAM(1024, 768));
        EXPECT_EQ(manager.displayChanges.load(), 1);
    }
    DWORD start = GetTickCount();
    EXPECT_TRUE(manager.Stop());
    EXPECT_TRUE(GetTickCount() - start < 5000);
    EXPECT_TRUE(!manager.Running());
    EXPECT_EQ(manager.lastError.load(), 0u);
    EXPECT_TRUE(FindWindowA("HidTabWnd", "HidTabWnd") == nullptr);

    // No filter: both are offered, opened and listed, each with its handle events registered.
    manager.open = true;
    EXPECT_TRUE(manager.Start(0, nullptr, nullptr, nullptr));
    EXPECT_TRUE(WaitFor(manager.offered, 2));
    Sleep(200);
    EXPECT_EQ(manager.DeviceCount(), 2);
    {
        qm::RecursiveLockGuard guard(manager.ListLock());
        for (uint16_t i = 0; qm::CHidDevice* d = manager.DeviceAt(i); ++i) {
            EXPECT_TRUE(d->Usable());
            EXPECT_TRUE(d->Reading());
            EXPECT_TRUE(d->handleNotification != 0);
        }
    }
    start = GetTickCount();
    EXPECT_TRUE(manager.Stop());
    EXPECT_TRUE(GetTickCount() - start < 5000);
    EXPECT_EQ(manager.DeviceCount(), 0);

    // The settings store in the first interface's registry key.
    qm::RegistrySettingsStore store;
    EXPECT_TRUE(!manager.paths.empty());
    if (!manager.paths.empty()) {
        const std::string& path = manager.paths.front();
        {
            // Whether this SetupAPI opens an interface by path (Wine 8's is a stub that fails
            // without an error); the store then finds it among the present interfaces.
            HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
            SP_DEVICE_INTERFACE_DATA data{};
            data.cbSize = sizeof data;
            SetLastError(0);
            const BOOL opened = SetupDiOpenDeviceInterfaceA(set, path.c_str(), 0, &data);
            std::printf("SetupDiOpenDeviceInterfaceA: %d, error %lu\n", opened, GetLastError());
            SetupDiDestroyDeviceInfoList(set);
        }
        const uint8_t rotation = 3;
        const bool wrote = store.Write(path, "Rotation", &rotation, 1);
        std::printf("write to the interface key of %s: %s (error %lu)\n", path.c_str(),
                    wrote ? "ok" : "failed", GetLastError());
        EXPECT_TRUE(wrote);
        uint8_t back = 0;
        EXPECT_TRUE(store.Read(path, "Rotation", &back, 1));
        EXPECT_EQ(back, 3);
        uint8_t slot[20];
        EXPECT_TRUE(!store.Read(path, "Rotation", slot, sizeof slot));  // another size: absent
        EXPECT_TRUE(!store.Read(path, "Calibrate0", slot, sizeof slot));
        EXPECT_TRUE(!store.Write("\\\\?\\hid#none#0#{4d1e55b2-f16f-11cf-88cb-001111000030}",
                                 "Rotation", &rotation, 1));
    }
}
