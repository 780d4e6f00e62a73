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
#include "tests/wine/WineCheck.h"

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

int main() {
    qm::Win32HidBackend backend;
    qm::Win32DeviceWatcher watcher(reinterpret_cast<intptr_t>(GetModuleHandleA(nullptr)));
    Manager manager(backend, watcher);

    // Usage page 0x0D: Wine's mouse and keyboard (page 1) are both rejected.
    CHECK(manager.Start(0x0D, nullptr, nullptr, nullptr));
    CHECK(manager.Running());
    Sleep(500);
    CHECK_EQ(manager.offered.load(), 0);
    CHECK_EQ(manager.DeviceCount(), 0);
    HWND window = FindWindowA("HidTabWnd", "HidTabWnd");
    CHECK(window != nullptr);
    if (window != nullptr) {
        SendMessageA(window, WM_DISPLAYCHANGE, 32, MAKELPARAM(1024, 768));
        CHECK_EQ(manager.displayChanges.load(), 1);
    }
    DWORD start = GetTickCount();
    CHECK(manager.Stop());
    CHECK(GetTickCount() - start < 5000);
    CHECK(!manager.Running());
    CHECK_EQ(manager.lastError.load(), 0u);
    CHECK(FindWindowA("HidTabWnd", "HidTabWnd") == nullptr);

    // No filter: both are offered, opened and listed, each with its handle events registered.
    manager.open = true;
    CHECK(manager.Start(0, nullptr, nullptr, nullptr));
    CHECK(WaitFor(manager.offered, 2));
    Sleep(200);
    CHECK_EQ(manager.DeviceCount(), 2);
    {
        qm::RecursiveLockGuard guard(manager.ListLock());
        for (uint16_t i = 0; qm::CHidDevice* d = manager.DeviceAt(i); ++i) {
            CHECK(d->Usable());
            CHECK(d->Reading());
            CHECK(d->handleNotification != 0);
        }
    }
    start = GetTickCount();
    CHECK(manager.Stop());
    CHECK(GetTickCount() - start < 5000);
    CHECK_EQ(manager.DeviceCount(), 0);

    // The settings store in the first interface's registry key.
    qm::RegistrySettingsStore store;
    CHECK(!manager.paths.empty());
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
        CHECK(wrote);
        uint8_t back = 0;
        CHECK(store.Read(path, "Rotation", &back, 1));
        CHECK_EQ(back, 3);
        uint8_t slot[20];
        CHECK(!store.Read(path, "Rotation", slot, sizeof slot));  // another size: absent
        CHECK(!store.Read(path, "Calibrate0", slot, sizeof slot));
        CHECK(!store.Write("\\\\?\\hid#none#0#{4d1e55b2-f16f-11cf-88cb-001111000030}", "Rotation",
                           &rotation, 1));
    }
    return winetest::Finish();
}
