// QmHidCal.exe under Wine with Xvfb, against the service's manager on a replayed pen (Windows'
// parser, the real named pipe, SendInput): taps at the raw positions a true calibration gives
// for each target are stored as that calibration; Escape, the timeout, no service and a missed
// check target each end as stated and change nothing.
//   calibration_wine_test QUILLMARK_RECORDING QMHIDCAL_EXE [SCREENSHOT.bmp]
#include "platform/virtual/VirtualDeviceWatcher.h"

#include <windows.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "QmCoIns2/CoInstaller.h"
#include "QmCoIns2/WinCoInstallerOs.h"
#include "QmHidCal/CalibrationRounds.h"
#include "QmHidSrv/TabMgr.h"
#include "platform/win32/DisplayOrientation.h"
#include "platform/win32/NamedPipe.h"
#include "platform/win32/PointerOutput.h"
#include "tests/wine/PenService.h"
#include "tests/wine/PipeClient.h"
#include "tests/wine/WineTest.h"

using namespace qm::pipe;

namespace {

const qm::Calibration kTruth{500, 400, 3000, 3200};

struct Child {
    PROCESS_INFORMATION pi{};
    bool Start(const std::string& exe, const std::string& args) {
        std::string line = "\"" + exe + "\" " + args;
        STARTUPINFOA si{};
        si.cb = sizeof si;
        return CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &si, &pi) != 0;
    }
    // The exit code within ms, or -1 (then it is ended).
    int Wait(DWORD ms) {
        if (WaitForSingleObject(pi.hProcess, ms) != WAIT_OBJECT_0) {
            TerminateProcess(pi.hProcess, 99);
            WaitForSingleObject(pi.hProcess, 5000);
            return -1;
        }
        DWORD code = 0;
        GetExitCodeProcess(pi.hProcess, &code);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
        return static_cast<int>(code);
    }
};

// Waits until the calibration window's title names this round and target.
HWND WaitForTarget(int round, int target, DWORD ms = 10000) {
    char want[64];
    std::snprintf(want, sizeof want, "QmHidCal round %d target %d", round, target);
    for (DWORD t = 0; t < ms; t += 20) {
        HWND w = FindWindowA("QmHidCalWnd", nullptr);
        char title[64] = {};
        if (w != nullptr && GetWindowTextA(w, title, sizeof title) > 0 &&
            std::string(title) == want)
            return w;
        Sleep(20);
    }
    return nullptr;
}

// A tap at the raw position that the true calibration gives for a screen fraction.
void Tap(qm::VirtualHidDevice& pen, double fx, double fy) {
    const auto x = static_cast<uint16_t>(std::lround(kTruth.xOrigin + fx * kTruth.xExtent));
    const auto y = static_cast<uint16_t>(std::lround(kTruth.yOrigin + fy * kTruth.yExtent));
    Sleep(50);
    for (int i = 0; i < 3; ++i) {
        const auto r = winetest::PenReport(x, y, true, false, 100);
        pen.Feed(r.data(), r.size());
        Sleep(10);
    }
    const auto up = winetest::PenReport(x, y, false, false, 0);
    pen.Feed(up.data(), up.size());
}

qm::Calibration CalibrationOverPipe() {
    qm::NamedPipeClient c;
    qm::Calibration out{};
    if (!winetest::OpenWithRetry(c))
        return out;
    const uint64_t token = winetest::EnumerateFirst(c).value_or(0);
    uint8_t m[32];
    BeginRequest(m, 32, kGetCalibration, token);
    if (c.TimedWrite(m, 32, 5000) && c.TimedRead(m, 32, 5000))
        out = {static_cast<int32_t>(Get32(m + 16)), static_cast<int32_t>(Get32(m + 20)),
               static_cast<int32_t>(Get32(m + 24)), static_cast<int32_t>(Get32(m + 28))};
    c.Close();
    Sleep(50);
    return out;
}

// A hover report, so that settings set meanwhile are taken over.
void Hover(qm::VirtualHidDevice& pen, uint16_t x, uint16_t y) {
    const auto r = winetest::PenReport(x, y, false, false, 0);
    pen.Feed(r.data(), r.size());
    Sleep(100);
}

void SaveScreenshot(const char* path) {
    const int w = GetSystemMetrics(SM_CXVIRTUALSCREEN), h = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
    SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, screen, GetSystemMetrics(SM_XVIRTUALSCREEN),
           GetSystemMetrics(SM_YVIRTUALSCREEN), SRCCOPY);
    BITMAPINFOHEADER bi{sizeof bi, w, -h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    const DWORD stride = ((w * 3 + 3) & ~3);
    std::string pixels(stride * h, '\0');
    GetDIBits(mem, bmp, 0, h, pixels.data(), reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS);
    BITMAPFILEHEADER fh{0x4D42, static_cast<DWORD>(sizeof fh + sizeof bi + pixels.size()), 0, 0,
                        sizeof fh + sizeof bi};
    bi.biHeight = h;  // bottom-up in the file
    if (FILE* f = std::fopen(path, "wb")) {
        std::fwrite(&fh, sizeof fh, 1, f);
        std::fwrite(&bi, sizeof bi, 1, f);
        for (int row = h - 1; row >= 0; --row)
            std::fwrite(pixels.data() + row * stride, stride, 1, f);
        std::fclose(f);
    }
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
}

}  // namespace

TEST(CalibrationUnderWine, QmHidCalAgainstTheService) {
    WINETEST_NEEDS_ARGS(2, "calibration_wine_test RECORDING QMHIDCAL_EXE [SCREENSHOT]");
    const std::string cal = winetest::Arg(2);

    std::printf("no service: exit 2 at once\n");
    {
        Child c;
        EXPECT_TRUE(c.Start(cal, "/timeout 30"));
        const DWORD start = GetTickCount();
        EXPECT_EQ(c.Wait(10000), 2);
        EXPECT_TRUE(GetTickCount() - start < 3000);
    }

    std::printf("the co-installer's post-installation step, run against it, returns\n");
    {
        char system[MAX_PATH];
        GetSystemDirectoryA(system, sizeof system);
        EXPECT_TRUE(
            CopyFileA(cal.c_str(), (std::string(system) + "\\QmHidCal.exe").c_str(), FALSE));
        qm::coins::WinCoInstallerOs os;
        const DWORD start = GetTickCount();
        qm::coins::RunCalibration(os, "HID\\VID_0000&PID_0000\\1&2&3");
        const DWORD took = GetTickCount() - start;
        std::printf("  returned after %lu ms (no service: QmHidCal ends with 2)\n", took);
        EXPECT_TRUE(took < 5000);
    }

    std::shared_ptr<qm::VirtualHidDevice> pen = winetest::MakeWindowsPen(winetest::Arg(1));
    EXPECT_TRUE(pen != nullptr);
    if (pen == nullptr)
        return;
    winetest::PenService service;
    EXPECT_TRUE(service.StartWith(pen));
    Hover(*pen, 100, 100);
    const qm::Calibration original = CalibrationOverPipe();
    EXPECT_EQ(original.xExtent, 4095);

    std::printf("Escape: exit 1, nothing changed\n");
    {
        Child c;
        EXPECT_TRUE(c.Start(cal, "/timeout 30"));
        HWND w = WaitForTarget(1, 1);
        EXPECT_TRUE(w != nullptr);
        PostMessageA(w, WM_KEYDOWN, VK_ESCAPE, 0);
        EXPECT_EQ(c.Wait(10000), 1);
        Hover(*pen, 100, 100);
        EXPECT_TRUE(CalibrationOverPipe() == original);
    }

    std::printf("no pen input for /timeout 2: exit 1, nothing changed\n");
    {
        Child c;
        const DWORD start = GetTickCount();
        EXPECT_TRUE(c.Start(cal, "/timeout 2"));
        EXPECT_EQ(c.Wait(15000), 1);
        const DWORD took = GetTickCount() - start;
        std::printf("  ended after %lu ms\n", took);
        EXPECT_TRUE(took >= 2000 && took < 8000);
        Hover(*pen, 100, 100);
        EXPECT_TRUE(CalibrationOverPipe() == original);
    }

    std::printf("a missed check target: round 2, then Escape changes nothing\n");
    {
        Child c;
        EXPECT_TRUE(c.Start(cal, "/timeout 30"));
        for (int t = 0; t < 4; ++t) {
            EXPECT_TRUE(WaitForTarget(1, t + 1) != nullptr);
            const double* f = qm::kTargetFractions[t];
            Tap(*pen, f[0] + (t == 3 ? 0.06 : 0), f[1]);
        }
        HWND w = WaitForTarget(2, 1);
        EXPECT_TRUE(w != nullptr);
        PostMessageA(w, WM_KEYDOWN, VK_ESCAPE, 0);
        EXPECT_EQ(c.Wait(10000), 1);
        Hover(*pen, 100, 100);
        EXPECT_TRUE(CalibrationOverPipe() == original);
    }

    std::printf("four taps store the true calibration\n");
    {
        Child c;
        EXPECT_TRUE(c.Start(cal, "virtual\\quillmark /timeout 30"));
        for (int t = 0; t < 4; ++t) {
            EXPECT_TRUE(WaitForTarget(1, t + 1) != nullptr);
            if (t == 0 && winetest::ArgCount() > 3) {
                Sleep(300);
                SaveScreenshot(winetest::Arg(3));
            }
            Tap(*pen, qm::kTargetFractions[t][0], qm::kTargetFractions[t][1]);
        }
        EXPECT_EQ(c.Wait(15000), 0);
        Hover(*pen, 2000, 2000);
        const qm::Calibration got = CalibrationOverPipe();
        std::printf("  stored %d %d %d %d (true %d %d %d %d)\n", got.xOrigin, got.yOrigin,
                    got.xExtent, got.yExtent, kTruth.xOrigin, kTruth.yOrigin, kTruth.xExtent,
                    kTruth.yExtent);
        EXPECT_TRUE(std::abs(got.xOrigin - kTruth.xOrigin) <= 1);
        EXPECT_TRUE(std::abs(got.yOrigin - kTruth.yOrigin) <= 1);
        EXPECT_TRUE(std::abs(got.xExtent - kTruth.xExtent) <= 1);
        EXPECT_TRUE(std::abs(got.yExtent - kTruth.yExtent) <= 1);
        // Later reports land where the mapping predicts with it: the centre of the area.
        qm::PointerState state;
        const qm::PointerEvent e = qm::MapSample(got, 0, state, 2000, 2000, 0, true);
        const int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
        const int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
        POINT p{};
        GetCursorPos(&p);
        const long wantX = static_cast<long>(int64_t{e.dx} * width / 65536);
        const long wantY = static_cast<long>(int64_t{e.dy} * height / 65536);
        std::printf("  raw 2000,2000 -> cursor %ld,%ld (predicted %ld,%ld)\n", p.x, p.y, wantX,
                    wantY);
        EXPECT_TRUE(std::labs(p.x - wantX) <= 1 && std::labs(p.y - wantY) <= 1);
    }
    EXPECT_TRUE(service.manager.StopService());
}
