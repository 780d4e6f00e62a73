// The Windows HID backend against the HID devices that Wine provides (its virtual mouse and
// keyboard, usage page 1): capabilities, strings, the free-standing queries, opening and
// reading with the overlapped read thread, and that neither is a digitizer.
#include <windows.h>
// clang-format off
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
}
// clang-format on

#include <string>
#include <vector>

#include "QmHidSrv/HidDevMgr.h"
#include "QmHidSrv/HidTablet.h"
#include "hid/HidUsages.h"
#include "platform/win32/DeviceWatcher.h"
#include "platform/win32/HidBackend.h"
#include "tests/wine/PresentHid.h"
#include "tests/wine/WineTest.h"

namespace {

std::string Narrow(const char16_t* s) {
    std::string out;
    for (; *s != 0; ++s)
        out += static_cast<char>(*s < 128 ? *s : '?');
    return out;
}

class Device final : public qm::CHidTablet {
public:
    using CHidTablet::CHidTablet;
    ~Device() override { StopReading(); }
    void OnPenData(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) override {}
};

class Manager final : public qm::CHidDevMgr {
public:
    using CHidDevMgr::CHidDevMgr;
    void OnDeviceArrival(const char*) override {}
};

}  // namespace

TEST(HidBackendUnderWine, WineDevicesThroughTheBackendAndTheReadThread) {
    qm::Win32HidBackend backend;
    qm::Win32DeviceWatcher watcher(reinterpret_cast<intptr_t>(GetModuleHandleA(nullptr)));
    Manager manager(backend, watcher);
    const std::vector<std::string> paths = winetest::PresentHidInterfaces();
    std::printf("%zu HID interfaces\n", paths.size());
    EXPECT_TRUE(paths.size() >= 2);
    for (const std::string& path : paths) {
        const char* p = path.c_str();
        qm::HidCaps caps;
        EXPECT_TRUE(qm::QueryDeviceCaps(backend, p, caps));
        char16_t product[128];
        qm::QueryProductString(backend, p, product, sizeof product);
        std::printf("%s: page %u usage %u input %u buttons %u values %u product \"%s\"\n", p,
                    caps.usagePage, caps.usage, caps.inputReportByteLength,
                    caps.numberInputButtonCaps, caps.numberInputValueCaps, Narrow(product).c_str());
        EXPECT_EQ(caps.usagePage, 1u);
        EXPECT_TRUE(caps.inputReportByteLength > 0);
        EXPECT_TRUE(Narrow(product).find("Wine HID") == 0);
        // Not a digitizer: the service's usage-page filter (page 0x0D) passes neither.
        EXPECT_TRUE(caps.usagePage != qm::hid::kPageDigitizer);

        Device device(manager, p);
        EXPECT_TRUE(device.Usable());
        EXPECT_EQ(device.Caps().usagePage, caps.usagePage);
        EXPECT_EQ(device.Caps().inputReportByteLength, caps.inputReportByteLength);
        char16_t again[128];
        device.GetProductString(again, sizeof again);
        EXPECT_TRUE(Narrow(again) == Narrow(product));
        // The queries open alongside the device's own overlapped handle.
        qm::HidCaps alongside;
        EXPECT_TRUE(qm::QueryDeviceCaps(backend, p, alongside));
        // The read thread starts on the input desktop, waits on a pending read, and stops in
        // time, cancelling the read.
        EXPECT_TRUE(device.StartReading(true));
        Sleep(1200);  // past one period of silence: re-attaches once
        const DWORD start = GetTickCount();
        EXPECT_TRUE(device.StopReading());
        EXPECT_TRUE(GetTickCount() - start < 1500);
        EXPECT_TRUE(manager.IsDeviceListed(&device));
        // A handle's query-remove and its failure: closed, reopened, reading again.
        EXPECT_TRUE(device.StartReading(false));
        device.OnHandleNotification(qm::kDbtDeviceQueryRemove);
        EXPECT_TRUE(!device.FileOpen());
        device.OnHandleNotification(qm::kDbtDeviceQueryRemoveFailed);
        EXPECT_TRUE(device.FileOpen());
        EXPECT_TRUE(device.Reading());
    }
    qm::HidCaps none;
    EXPECT_TRUE(!qm::QueryDeviceCaps(
        backend, "\\\\?\\hid#none#0#{4d1e55b2-f16f-11cf-88cb-001111000030}", none));
    Device missing(manager, "\\\\?\\hid#none#0#{4d1e55b2-f16f-11cf-88cb-001111000030}");
    EXPECT_TRUE(!missing.Usable());
    EXPECT_TRUE(manager.lastError.load() != 0);
    EXPECT_TRUE(!missing.StartReading(false));
    EXPECT_EQ(manager.lastError.load(), 1200u);
}
