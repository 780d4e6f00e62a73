// QmHidSrv.exe: installs itself with "/install", else runs as the Windows service "QmHidSrv".
#include <windows.h>

#include <atomic>

#include "QmHidSrvMsg.h"
#include "QmHidSrv/ServiceCommand.h"
#include "QmHidSrv/TabMgr.h"
#include "platform/win32/DeviceWatcher.h"
#include "platform/win32/DisplayOrientation.h"
#include "platform/win32/HidBackend.h"
#include "platform/win32/NamedPipe.h"
#include "platform/win32/PointerOutput.h"
#include "platform/win32/RegistrySettingsStore.h"

namespace {

constexpr const char* kServiceName = "QmHidSrv";
constexpr const char* kDisplayName = "Quillmark Tablet Service";
constexpr const char* kEventSourceKey =
    "System\\CurrentControlSet\\Services\\Eventlog\\Application\\QmHidSrv";
constexpr char kEventMessageFile[] = "%SystemRoot%\\System32\\QmHidSrv.exe";

// Process-wide state of the service host.
HINSTANCE g_instance = nullptr;
bool g_runningAsService = false;
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
HANDLE g_controlEvent = nullptr;
volatile DWORD g_lastControl = 0;
SERVICE_STATUS g_status = {
    SERVICE_WIN32_OWN_PROCESS, 0, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN, 0, 0, 0, 0};
std::atomic<bool> g_eventSourceRegistered{false};  // the service and pipe threads log

// The platform of the service, and the one tablet manager, made before the program entry.
qm::Win32HidBackend g_hid;
qm::Win32DeviceWatcher g_watcher(reinterpret_cast<intptr_t>(GetModuleHandleA(nullptr)));
qm::Win32DisplayOrientation g_display;
qm::RegistrySettingsStore g_settings;
qm::SendInputPointerOutput g_pointer;
qm::NamedPipeServer g_pipe;
void LogError(DWORD id, const char* insertion);
class EventLog final : public qm::IServiceLog {
public:
    void Error(uint32_t code, const char* what) override { LogError(code, what); }
} g_log;
qm::CQmTabMgr g_manager({g_hid, g_watcher, g_display, g_settings, g_pointer, g_pipe, &g_log});

void ReportStatus(DWORD state, DWORD code) {
    if (!g_runningAsService)
        return;
    g_status.dwCurrentState = state;
    g_status.dwWin32ExitCode = code != 0 ? ERROR_SERVICE_SPECIFIC_ERROR : 0;
    g_status.dwServiceSpecificExitCode = code;
    SetServiceStatus(g_statusHandle, &g_status);
}

void LogError(DWORD id, const char* insertion) {
    if (!g_eventSourceRegistered) {
        HKEY key = nullptr;
        if (RegCreateKeyA(HKEY_LOCAL_MACHINE, kEventSourceKey, &key) != ERROR_SUCCESS)
            return;
        const DWORD types = 7;
        const bool ok =
            RegSetValueExA(key, "EventMessageFile", 0, REG_EXPAND_SZ,
                           reinterpret_cast<const BYTE*>(kEventMessageFile),
                           sizeof kEventMessageFile) == ERROR_SUCCESS &&
            RegSetValueExA(key, "TypesSupported", 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&types), sizeof types) == ERROR_SUCCESS;
        RegCloseKey(key);
        if (!ok)
            return;  // dropped; registration is tried again next time
    }
    HANDLE source = RegisterEventSourceA(nullptr, kServiceName);
    g_eventSourceRegistered = true;
    if (source == nullptr)
        return;
    const char* strings[1] = {insertion};
    ReportEventA(source, EVENTLOG_ERROR_TYPE, 0, id, nullptr, insertion != nullptr ? 1 : 0, 0,
                 insertion != nullptr ? strings : nullptr, nullptr);
    DeregisterEventSource(source);
}

void Install() {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr)
        return;
    SC_HANDLE service =
        CreateServiceA(manager, kServiceName, kDisplayName, SERVICE_ALL_ACCESS,
                       SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                       "QmHidSrv.exe", nullptr, nullptr, nullptr, nullptr, nullptr);
    if (service == nullptr && GetLastError() == ERROR_SERVICE_EXISTS)
        service = OpenServiceA(manager, kServiceName, SERVICE_ALL_ACCESS);
    if (service != nullptr) {
        StartServiceA(service, 0, nullptr);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
}

void WINAPI ControlHandler(DWORD control) {
    switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN:
            ReportStatus(SERVICE_STOP_PENDING, 0);
            g_lastControl = control;
            SetEvent(g_controlEvent);
            break;
        case SERVICE_CONTROL_INTERROGATE:
            SetServiceStatus(g_statusHandle, &g_status);
            break;
        default:
            break;
    }
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
    g_controlEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    g_statusHandle = RegisterServiceCtrlHandlerA(kServiceName, ControlHandler);
    if (g_statusHandle == nullptr) {
        LogError(QMHID_WINDOWS_API_ERROR, "RegisterServiceCtrlHandler");
        return;
    }
    ReportStatus(SERVICE_START_PENDING, 0);
    if (!g_manager.StartService()) {
        const DWORD code = g_manager.StatusCode();
        LogError(code, nullptr);
        ReportStatus(SERVICE_STOPPED, code);
        return;
    }
    ReportStatus(SERVICE_RUNNING, 0);
    for (;;) {
        WaitForSingleObject(g_controlEvent, INFINITE);
        switch (g_lastControl) {
            case SERVICE_CONTROL_STOP:
            case SERVICE_CONTROL_SHUTDOWN: {
                ReportStatus(SERVICE_STOP_PENDING, 0);
                const bool ended = g_manager.StopService();
                ReportStatus(SERVICE_STOPPED, 0);
                // A thread left running past its bound still uses the manager: the process
                // ends here, without destroying what that thread holds.
                if (!ended)
                    ExitProcess(0);
                break;  // the process ends when the dispatcher returns on the main thread
            }
            case SERVICE_CONTROL_INTERROGATE:
                SetServiceStatus(g_statusHandle, &g_status);
                break;
            default:
                break;
        }
    }
}

void RunService() {
    g_runningAsService = true;
    char name[] = "QmHidSrv";
    SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherA(table))
        LogError(QMHID_WINDOWS_API_ERROR, "StartServiceCtrlDispatcher");
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    g_instance = instance;
    if (qm::IsInstallCommand(commandLine)) {
        Install();
    } else {
        RunService();
    }
    return 0;
}
