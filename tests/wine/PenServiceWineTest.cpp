// The Windows build's pen path end to end under Wine: the service's manager with a replayed
// QUILLMARK pen whose reports Windows' own HID parser decodes, the real named pipe and the real
// SendInput. The cursor lands where the mapping predicts, the tip and barrel become left and
// right button transitions (seen by a low-level mouse hook, injected flag set), a calibration
// set through the pipe and ScreenRotate(90) through QmWinTab.dll move it, and raw mode carries
// the pen's reports to the pipe client.
//   pen_service_wine_test QUILLMARK_RECORDING QMWINTAB_DLL
#include "platform/virtual/VirtualDeviceWatcher.h"
#include "platform/virtual/VirtualHid.h"

#include <windows.h>

#include <fstream>
#include <map>
#include <mutex>
#include <vector>

#include "hid/HidDescriptor.h"
#include "hid/HidRecording.h"
#include "QmHidSrv/PointerMapping.h"
#include "QmHidSrv/TabMgr.h"
#include "platform/win32/DisplayOrientation.h"
#include "platform/win32/NamedPipe.h"
#include "platform/win32/PointerOutput.h"
#include "shared/PipeMessages.h"
#include "tests/wine/HidParseSys.h"
#include "tests/wine/PenService.h"
#include "tests/wine/PipeClient.h"
#include "tests/wine/WineTest.h"

using namespace qm::pipe;

namespace {

// The mouse messages that reach a low-level hook, with their injected flag.
struct HookRecord {
    WPARAM message;
    bool injected;
};
std::mutex g_hookLock;
std::vector<HookRecord> g_hooked;

LRESULT CALLBACK MouseHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && wParam != WM_MOUSEMOVE) {
        const auto* info = reinterpret_cast<const MSLLHOOKSTRUCT*>(lParam);
        std::lock_guard<std::mutex> g(g_hookLock);
        g_hooked.push_back({wParam, (info->flags & LLMHF_INJECTED) != 0});
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

DWORD WINAPI HookThread(void* ready) {
    HHOOK hook = SetWindowsHookExA(WH_MOUSE_LL, MouseHook, GetModuleHandleA(nullptr), 0);
    SetEvent(static_cast<HANDLE>(ready));
    MSG m;
    while (GetMessageA(&m, nullptr, 0, 0) > 0)
        DispatchMessageA(&m);
    if (hook != nullptr)
        UnhookWindowsHookEx(hook);
    return hook != nullptr ? 0 : 1;
}

std::vector<HookRecord> Hooked() {
    std::lock_guard<std::mutex> g(g_hookLock);
    return g_hooked;
}

// Where Windows puts the cursor for an absolute event over the virtual desktop.
POINT PixelOf(const qm::PointerEvent& e) {
    const int left = GetSystemMetrics(SM_XVIRTUALSCREEN), top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    const int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    return POINT{left + static_cast<LONG>((static_cast<int64_t>(e.dx) * width) / 65536),
                 top + static_cast<LONG>((static_cast<int64_t>(e.dy) * height) / 65536)};
}

// Waits until the cursor is within a pixel of where it should be; the last position seen.
POINT WaitForCursor(POINT want) {
    POINT p{};
    for (int i = 0; i < 200; ++i) {
        GetCursorPos(&p);
        if (std::abs(p.x - want.x) <= 1 && std::abs(p.y - want.y) <= 1)
            break;
        Sleep(10);
    }
    return p;
}

}  // namespace

TEST(PenServiceUnderWine, ReplayedPenToSendInputAndThePipe) {
    WINETEST_NEEDS_ARGS(2, "pen_service_wine_test RECORDING QMWINTAB_DLL");
    std::shared_ptr<qm::VirtualHidDevice> pen = winetest::MakeWindowsPen(winetest::Arg(1));
    EXPECT_TRUE(pen != nullptr);
    if (pen == nullptr)
        return;

    HANDLE hookReady = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD hookThreadId = 0;
    HANDLE hookThread = CreateThread(nullptr, 0, HookThread, hookReady, 0, &hookThreadId);
    EXPECT_TRUE(WaitForSingleObject(hookReady, 5000) == WAIT_OBJECT_0);

    {
        winetest::PenService service;
        qm::CQmTabMgr& manager = service.manager;
        EXPECT_TRUE(service.StartWith(pen));
        qm::CQmTablet* tablet = manager.TabletAt(0);
        EXPECT_TRUE(tablet != nullptr);
        if (tablet == nullptr)
            return;
        // The maxima come from Windows' parser.
        EXPECT_EQ(tablet->XMax(), 4095);
        EXPECT_EQ(tablet->YMax(), 4095);
        EXPECT_EQ(tablet->PressureMax(), 255);

        qm::Calibration cal{0, 0, 4095, 4095};
        qm::PointerState predicted;
        auto play = [&](uint16_t x, uint16_t y, bool tip, bool barrel, uint32_t rotation) {
            const auto r = winetest::PenReport(x, y, tip, barrel, tip ? 200 : 0);
            EXPECT_TRUE(pen->Feed(r.data(), r.size()));
            const qm::PointerEvent e = qm::MapSample(cal, rotation, predicted, x, y,
                                                     (tip ? 1 : 0) | (barrel ? 2 : 0), false);
            const POINT want = PixelOf(e);
            const POINT got = WaitForCursor(want);
            std::printf("  report %u,%u -> event %d,%d -> cursor %ld,%ld (predicted %ld,%ld)\n", x,
                        y, e.dx, e.dy, got.x, got.y, want.x, want.y);
            EXPECT_TRUE(std::abs(got.x - want.x) <= 1 && std::abs(got.y - want.y) <= 1);
        };

        std::printf("a replayed pen moves the cursor\n");
        play(1024, 1024, false, false, 0);
        play(3000, 2000, false, false, 0);
        std::printf("tip and barrel\n");
        play(3000, 2000, true, false, 0);
        play(3100, 2100, false, false, 0);
        play(3100, 2100, false, true, 0);
        play(3100, 2100, false, false, 0);
        Sleep(200);
        const auto hooked = Hooked();
        // The first report after settings are adopted states both buttons (up), then the
        // tip's and the barrel's transitions.
        const WPARAM expected[] = {WM_LBUTTONUP, WM_RBUTTONUP,   WM_LBUTTONDOWN,
                                   WM_LBUTTONUP, WM_RBUTTONDOWN, WM_RBUTTONUP};
        EXPECT_EQ(hooked.size(), 6u);
        for (size_t i = 0; i < hooked.size() && i < 6; ++i) {
            EXPECT_EQ(hooked[i].message, expected[i]);
            EXPECT_TRUE(hooked[i].injected);
        }

        std::printf("a calibration set through the pipe\n");
        {
            qm::NamedPipeClient c;
            EXPECT_TRUE(winetest::OpenWithRetry(c));
            const uint64_t token = winetest::EnumerateFirst(c).value_or(0);
            EXPECT_TRUE(token != 0);
            uint8_t m[32];
            BeginRequest(m, 32, kSetCalibration, token);
            Put32(m + 16, 1000);
            Put32(m + 20, 500);
            Put32(m + 24, 2000);
            Put32(m + 28, 3000);
            EXPECT_TRUE(c.TimedWrite(m, 32, 5000));
            BeginRequest(m, 32, kGetCalibration, token);
            EXPECT_TRUE(c.TimedWrite(m, 32, 5000));
            EXPECT_TRUE(c.TimedRead(m, 32, 5000));
            c.Close();
        }
        cal = {1000, 500, 2000, 3000};
        play(2000, 2000, false, false, 0);

        std::printf("ScreenRotate(90) through QmWinTab.dll\n");
        HMODULE wintab = LoadLibraryA(winetest::Arg(2));
        EXPECT_TRUE(wintab != nullptr);
        using RotateFn = int(WINAPI*)(unsigned short);
        auto rotate = wintab != nullptr ? reinterpret_cast<RotateFn>(reinterpret_cast<void*>(
                                              GetProcAddress(wintab, "ScreenRotate")))
                                        : nullptr;
        EXPECT_TRUE(rotate != nullptr);
        if (rotate != nullptr) {
            Sleep(100);  // the pipe listens again after the last client
            EXPECT_TRUE(rotate(90) != 0);
            // 90 on the pipe is the display's 270: rotation index 3.
            play(2500, 1500, false, false, 3);
            play(1500, 3000, false, false, 3);
        }

        std::printf("raw mode over the named pipe\n");
        {
            qm::NamedPipeClient c;
            EXPECT_TRUE(winetest::OpenWithRetry(c));
            const uint64_t token = winetest::EnumerateFirst(c).value_or(0);
            uint8_t m[32];
            BeginRequest(m, 24, kSetRawMode, token);
            m[16] = 1;
            EXPECT_TRUE(c.TimedWrite(m, 24, 5000));
            Sleep(100);
            POINT before{};
            GetCursorPos(&before);
            const size_t hookedBefore = Hooked().size();
            for (uint16_t i = 0; i < 5; ++i) {
                const auto r =
                    winetest::PenReport(static_cast<uint16_t>(100 + i), 200, i % 2 == 1, false, 9);
                EXPECT_TRUE(pen->Feed(r.data(), r.size()));
                EXPECT_TRUE(c.TimedRead(m, 32, 5000));
                EXPECT_EQ(m[0], kRawPenReport);
                EXPECT_EQ(Get64(m + kTokenOffset), token);
                EXPECT_EQ(Get32(m + kRawXOffset), 100u + i);
                EXPECT_EQ(Get32(m + kRawYOffset), 200u);
                EXPECT_EQ(Get32(m + kRawButtonsOffset), i % 2 == 1 ? 1u : 0u);
            }
            Sleep(100);
            POINT after{};
            GetCursorPos(&after);
            EXPECT_TRUE(after.x == before.x && after.y == before.y);  // raw samples do not move it
            EXPECT_EQ(Hooked().size(), hookedBefore);
            c.Close();
        }
        EXPECT_TRUE(manager.StopService());
    }
    FreeLibrary(GetModuleHandleA("QmWinTab.dll"));
    PostThreadMessageA(hookThreadId, WM_QUIT, 0, 0);
    EXPECT_TRUE(WaitForSingleObject(hookThread, 5000) == WAIT_OBJECT_0);
    DWORD hookResult = 1;
    GetExitCodeThread(hookThread, &hookResult);
    EXPECT_EQ(hookResult, 0u);
}
