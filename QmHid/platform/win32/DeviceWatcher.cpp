#include "platform/win32/DeviceWatcher.h"

#include <windows.h>
#include <dbt.h>
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
}

#include <cstdlib>

namespace qm {

namespace {

constexpr const char* kWindowName = "HidTabWnd";

// The window class is registered once per process, by the first start, and unregistered with
// the last watcher. Only the service control path creates and destroys managers.
ATOM g_classAtom = 0;
HINSTANCE g_classInstance = nullptr;
int g_watchers = 0;

LRESULT CALLBACK WindowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* watcher = reinterpret_cast<Win32DeviceWatcher*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (watcher == nullptr)
        return DefWindowProcA(hwnd, message, wParam, lParam);
    return watcher->Dispatch(reinterpret_cast<intptr_t>(hwnd), message, wParam, lParam);
}

}  // namespace

Win32DeviceWatcher::Win32DeviceWatcher(intptr_t instance) : instance_(instance) {
    ++g_watchers;
}

Win32DeviceWatcher::~Win32DeviceWatcher() {
    if (--g_watchers == 0 && g_classAtom != 0) {
        UnregisterClassA(MAKEINTATOM(g_classAtom), g_classInstance);
        g_classAtom = 0;
    }
}

bool Win32DeviceWatcher::Prepare() {
    if (g_classAtom != 0)
        return true;
    g_classInstance = reinterpret_cast<HINSTANCE>(instance_);
    WNDCLASSA wc{};
    wc.lpfnWndProc = WindowProcedure;
    wc.hInstance = g_classInstance;
    wc.lpszClassName = kWindowName;
    g_classAtom = RegisterClassA(&wc);
    return g_classAtom != 0;
}

void Win32DeviceWatcher::Open(IDeviceEventSink& sink) {
    // The thread's message queue exists from here on, so a quit request is never lost.
    MSG msg;
    PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    threadId_ = GetCurrentThreadId();
    sink_ = &sink;
    HWND hwnd = CreateWindowExA(0, kWindowName, kWindowName, WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                reinterpret_cast<HINSTANCE>(instance_), nullptr);
    if (hwnd != nullptr) {
        window_ = reinterpret_cast<intptr_t>(hwnd);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
}

void Win32DeviceWatcher::EnumeratePresent(IDeviceEventSink& sink) {
    GUID hid;
    HidD_GetHidGuid(&hid);
    HDEVINFO set =
        SetupDiGetClassDevsA(&hid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE)
        return;
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &hid, i, &data); ++i) {
        DWORD size = 0;
        if (!SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &size, nullptr) &&
            GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            continue;
        auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(std::malloc(size));
        if (detail == nullptr)
            continue;
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (SetupDiGetDeviceInterfaceDetailA(set, &data, detail, size, nullptr, nullptr))
            sink.OnPresentInterface(detail->DevicePath);
        std::free(detail);
    }
    SetupDiDestroyDeviceInfoList(set);
}

void Win32DeviceWatcher::WatchInterfaces() {
    if (window_ == 0)
        return;
    DEV_BROADCAST_DEVICEINTERFACE_A filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    HidD_GetHidGuid(&filter.dbcc_classguid);
    interfaceNotification_ = reinterpret_cast<intptr_t>(RegisterDeviceNotificationA(
        reinterpret_cast<HWND>(window_), &filter, DEVICE_NOTIFY_WINDOW_HANDLE));
}

void Win32DeviceWatcher::Run() {
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void Win32DeviceWatcher::Close() {
    if (interfaceNotification_ != 0) {
        UnregisterDeviceNotification(reinterpret_cast<HDEVNOTIFY>(interfaceNotification_));
        interfaceNotification_ = 0;
    }
    if (window_ != 0) {
        DestroyWindow(reinterpret_cast<HWND>(window_));
        window_ = 0;
    }
    sink_ = nullptr;
}

void Win32DeviceWatcher::RequestQuit() {
    PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
}

intptr_t Win32DeviceWatcher::RegisterHandle(const std::string&, intptr_t nativeHandle) {
    if (window_ == 0 || nativeHandle == 0)
        return 0;
    DEV_BROADCAST_HANDLE filter{};
    filter.dbch_size = sizeof filter;
    filter.dbch_devicetype = DBT_DEVTYP_HANDLE;
    filter.dbch_handle = reinterpret_cast<HANDLE>(nativeHandle);
    return reinterpret_cast<intptr_t>(RegisterDeviceNotificationA(
        reinterpret_cast<HWND>(window_), &filter, DEVICE_NOTIFY_WINDOW_HANDLE));
}

void Win32DeviceWatcher::UnregisterHandle(intptr_t registration) {
    if (registration != 0)
        UnregisterDeviceNotification(reinterpret_cast<HDEVNOTIFY>(registration));
}

intptr_t Win32DeviceWatcher::Dispatch(intptr_t window, uint32_t message, uintptr_t wParam,
                                      intptr_t lParam) {
    HWND hwnd = reinterpret_cast<HWND>(window);
    if (sink_ == nullptr)
        return DefWindowProcA(hwnd, message, wParam, lParam);
    DeviceChange change;
    const DeviceChange* record = nullptr;
    if (message == WM_DEVICECHANGE && lParam != 0) {
        const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
        if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
            change.type = DeviceChange::Type::Interface;
            change.path =
                reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(lParam)->dbcc_name;
        } else if (header->dbch_devicetype == DBT_DEVTYP_HANDLE) {
            change.type = DeviceChange::Type::Handle;
            change.registration = reinterpret_cast<intptr_t>(
                reinterpret_cast<const DEV_BROADCAST_HANDLE*>(lParam)->dbch_hdevnotify);
        }
        record = &change;
    }
    intptr_t result = 0;
    if (sink_->OnWindowProcedure(message, wParam, lParam, record, result))
        return result;
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace qm
