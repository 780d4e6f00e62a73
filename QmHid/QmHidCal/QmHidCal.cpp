// QmHidCal.exe: the pen's calibration program. A full-screen window over the virtual desktop
// shows one target at a time; the tablet's raw samples (raw mode over the control pipe) give a
// tap at each; the calibration that puts the first two taps on their targets is checked
// against the other two and set through the pipe.
//   QmHidCal.exe [device-instance-id] [/timeout SECONDS]
// Exit: 0 saved; 1 cancelled (Escape, the window closed, no pen input for the timeout, or three
// rounds missed); 2 no service, no pipe or no tablet (logged to the event log).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "QmHidCal/CalibrationRounds.h"
#include "QmHidSrv/StatusCodes.h"
#include "platform/PointerOutput.h"
#include "platform/win32/NamedPipe.h"
#include "shared/ControlClient.h"

namespace {

constexpr const char* kWindowClass = "QmHidCalWnd";

struct App {
    HWND window = nullptr;
    qm::CalibrationRounds* rounds = nullptr;
    std::string message;
    bool cancelled = false;
    RECT desk{};
};
App g_app;

void LogToEventLog(const char* text) {
    HANDLE source = RegisterEventSourceA(nullptr, "QmHidSrv");
    if (source == nullptr)
        return;
    const char* strings[1] = {text};
    ReportEventA(source, EVENTLOG_ERROR_TYPE, 0, qm::kStatusWindowsApiError, nullptr, 1, 0, strings,
                 nullptr);
    DeregisterEventSource(source);
}

// The tablet: the one whose interface path holds the instance identifier, else the last
// active, else the first; 0 for none.
uint64_t ChooseTablet(qm::ControlClient& client, const std::string& instance) {
    // A find request is answered only through a listed device's token: the first one's.
    const uint64_t first = client.TokenAt(0);
    if (first == 0)
        return 0;
    if (!instance.empty()) {
        // A HID interface path: \\?\ + the identifier with '\' as '#' + the class GUID.
        std::string path = "\\\\?\\";
        for (char c : instance)
            path += c == '\\' ? '#' : c;
        path += "#{4d1e55b2-f16f-11cf-88cb-001111000030}";
        if (const uint64_t found = client.FindByPath(first, path.c_str()); found != 0)
            return found;
    }
    if (const uint64_t last = client.LastActive(); last != 0) {
        // Only while it is still listed: the get-calibration request answers for listed ones.
        qm::pipe::CalibrationValues ignored;
        if (client.GetCalibration(last, ignored, 300))
            return last;
    }
    return first;
}

uint32_t DisplayRotation() {
    DEVMODEA mode{};
    mode.dmSize = sizeof mode;
    if (EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &mode) &&
        (mode.dmFields & DM_DISPLAYORIENTATION) != 0)
        return mode.dmDisplayOrientation & 3u;
    return 0;
}

void Refresh() {
    char title[96];
    const qm::CalibrationRounds* r = g_app.rounds;
    std::snprintf(title, sizeof title, "QmHidCal round %d target %d", r->Round(),
                  r->state() == qm::CalibrationRounds::State::Target ? r->Target() + 1 : 0);
    SetWindowTextA(g_app.window, title);
    InvalidateRect(g_app.window, nullptr, TRUE);
    UpdateWindow(g_app.window);
}

LRESULT CALLBACK WindowProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_KEYDOWN:
            if (wp == VK_ESCAPE)
                g_app.cancelled = true;
            return 0;
        case WM_CLOSE:
            g_app.cancelled = true;
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(w, &ps);
            RECT client;
            GetClientRect(w, &client);
            FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
            const qm::CalibrationRounds* r = g_app.rounds;
            const int width = client.right - client.left, height = client.bottom - client.top;
            SetTextColor(dc, RGB(255, 255, 255));
            SetBkMode(dc, TRANSPARENT);
            if (r != nullptr && r->state() == qm::CalibrationRounds::State::Target) {
                const int t = r->Target();
                const int x = static_cast<int>(qm::kTargetFractions[t][0] * width);
                const int y = static_cast<int>(qm::kTargetFractions[t][1] * height);
                HPEN pen = CreatePen(PS_SOLID, 2, RGB(255, 255, 255));
                HGDIOBJ old = SelectObject(dc, pen);
                MoveToEx(dc, x - 20, y, nullptr);
                LineTo(dc, x + 21, y);
                MoveToEx(dc, x, y - 20, nullptr);
                LineTo(dc, x, y + 21);
                SelectObject(dc, GetStockObject(HOLLOW_BRUSH));
                Ellipse(dc, x - 8, y - 8, x + 9, y + 9);
                SelectObject(dc, old);
                DeleteObject(pen);
            }
            RECT line{0, height / 2 - 40, width, height / 2 - 10};
            DrawTextA(dc, g_app.message.c_str(), -1, &line, DT_CENTER | DT_SINGLELINE);
            EndPaint(w, &ps);
            return 0;
        }
        default:
            return DefWindowProcA(w, msg, wp, lp);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    std::string device;
    DWORD timeoutS = 60;
    for (int i = 1; i < __argc; ++i) {
        const std::string a = __argv[i];
        if ((a == "/timeout" || a == "-timeout") && i + 1 < __argc) {
            timeoutS = static_cast<DWORD>(std::strtoul(__argv[++i], nullptr, 10));
        } else {
            device = a;
        }
    }
    qm::NamedPipeClient pipe;
    if (!pipe.Open()) {
        LogToEventLog("QmHidCal: the tablet service's control pipe cannot be opened");
        return 2;
    }
    qm::ControlClient client(pipe);
    const uint64_t token = ChooseTablet(client, device);
    if (token == 0) {
        LogToEventLog("QmHidCal: no tablet");
        pipe.Close();
        return 2;
    }
    qm::CalibrationRounds rounds(DisplayRotation());
    g_app.rounds = &rounds;
    g_app.message = "Touch the centre of each target with the pen tip. Escape cancels.";

    WNDCLASSA wc{};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_CROSS);
    wc.lpszClassName = kWindowClass;
    RegisterClassA(&wc);
    const int left = GetSystemMetrics(SM_XVIRTUALSCREEN), top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    const int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    g_app.window = CreateWindowExA(WS_EX_TOPMOST, kWindowClass, "QmHidCal", WS_POPUP | WS_VISIBLE,
                                   left, top, width, height, nullptr, nullptr, instance, nullptr);
    if (g_app.window == nullptr) {
        LogToEventLog("QmHidCal: the calibration window cannot be made");
        pipe.Close();
        return 2;
    }
    SetForegroundWindow(g_app.window);
    client.SetRawMode(token, true);
    Refresh();

    int result = 1;
    DWORD lastInput = GetTickCount();
    while (!g_app.cancelled) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (g_app.cancelled)
            break;
        if (GetTickCount() - lastInput > timeoutS * 1000) {
            break;  // no pen input for the timeout
        }
        qm::pipe::RawPenReport report;
        if (!client.ReadRawReport(report, 30))
            continue;
        lastInput = GetTickCount();
        const int round = rounds.Round();
        const int target = rounds.Target();
        const auto state =
            rounds.OnSample(static_cast<int32_t>(report.x), static_cast<int32_t>(report.y),
                            (report.buttons & qm::kPenTip) != 0);
        if (state == qm::CalibrationRounds::State::Saved) {
            client.SetRawMode(token, false);
            const qm::Calibration c = *rounds.Result();
            result =
                client.SetCalibration(token, {c.xOrigin, c.yOrigin, c.xExtent, c.yExtent}) ? 0 : 1;
            g_app.message = result == 0 ? "Calibration saved." : "The calibration was not saved.";
            Refresh();
            Sleep(1000);
            break;
        }
        if (state == qm::CalibrationRounds::State::Failed)
            break;
        if (rounds.Round() != round) {
            char text[128];
            std::snprintf(text, sizeof text,
                          "A check target was missed by %.1f %% of the screen: round %d of %d.",
                          rounds.LastError() * 100, rounds.Round(), qm::kMaxRounds);
            g_app.message = text;
        }
        if (rounds.Round() != round || rounds.Target() != target)
            Refresh();
    }
    if (result != 0)
        client.SetRawMode(token, false);  // the calibration stays as it was
    pipe.Close();
    DestroyWindow(g_app.window);
    return result;
}
