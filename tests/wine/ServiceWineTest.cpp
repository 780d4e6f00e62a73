// QmHidSrv.exe under Wine's service control manager, its event source and message table, and
// ScreenRotate of QmWinTab.dll against the running service.
//   ServiceWineTest QmHidSrv.exe QmWinTab.dll
#include <windows.h>

#include <string>

#include "platform/win32/NamedPipe.h"
#include "tests/wine/WineTest.h"

namespace {

using Rotate = int(WINAPI*)(unsigned short);

std::string SystemCopy() {
    char dir[MAX_PATH];
    GetSystemDirectoryA(dir, sizeof dir);
    return std::string(dir) + "\\QmHidSrv.exe";
}

// Runs the program with arguments, waiting up to timeoutMs for it to end.
bool RunProgram(const std::string& exe, const char* args, DWORD timeoutMs,
                DWORD* elapsed = nullptr) {
    HANDLE process = winetest::StartProgram(exe, args);
    if (process == nullptr)
        return false;
    const DWORD start = GetTickCount();
    const bool ended = WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0;
    if (elapsed != nullptr)
        *elapsed = GetTickCount() - start;
    CloseHandle(process);
    return ended;
}

DWORD State(SC_HANDLE service) {
    SERVICE_STATUS s{};
    return QueryServiceStatus(service, &s) ? s.dwCurrentState : 0;
}

bool WaitForState(SC_HANDLE service, DWORD state, DWORD timeoutMs, DWORD* elapsed = nullptr) {
    const DWORD start = GetTickCount();
    while (State(service) != state) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(50);
    }
    if (elapsed != nullptr)
        *elapsed = GetTickCount() - start;
    return true;
}

std::string RegString(HKEY key, const char* name, DWORD* type = nullptr, DWORD* size = nullptr) {
    char buffer[512] = {};
    DWORD n = sizeof buffer, t = 0;
    if (RegQueryValueExA(key, name, nullptr, &t, reinterpret_cast<BYTE*>(buffer), &n) != 0)
        return "<missing>";
    if (type != nullptr)
        *type = t;
    if (size != nullptr)
        *size = n;
    return buffer;
}

DWORD RegDword(HKEY key, const char* name) {
    DWORD v = 0xFFFFFFFF, n = sizeof v;
    RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &n);
    return v;
}

}  // namespace

TEST(ServiceUnderWine, InstallStartScreenRotateStop) {
    WINETEST_NEEDS_ARGS(2, "service_wine_test QMHIDSRV_EXE QMWINTAB_DLL");
    const std::string exe = SystemCopy();
    EXPECT_TRUE(CopyFileA(winetest::Arg(1), exe.c_str(), FALSE));
    HMODULE wintab = LoadLibraryA(winetest::Arg(2));
    EXPECT_TRUE(wintab != nullptr);
    auto rotate = reinterpret_cast<Rotate>(
        reinterpret_cast<void (*)()>(GetProcAddress(wintab, "ScreenRotate")));
    EXPECT_TRUE(rotate != nullptr);
    if (rotate == nullptr)
        return;

    // No service: -1 at once.
    DWORD start = GetTickCount();
    EXPECT_EQ(rotate(90), -1);
    EXPECT_TRUE(GetTickCount() - start < 1000);

    // Installed and started from the command line, in any letter case.
    EXPECT_TRUE(RunProgram(exe, "/INSTALL", 30000));
    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    EXPECT_TRUE(scm != nullptr);
    SC_HANDLE service = OpenServiceA(scm, "QmHidSrv", SERVICE_ALL_ACCESS);
    EXPECT_TRUE(service != nullptr);
    if (service == nullptr)
        return;
    EXPECT_TRUE(WaitForState(service, SERVICE_RUNNING, 15000));
    HKEY key = nullptr;
    EXPECT_TRUE(RegOpenKeyA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\QmHidSrv",
                            &key) == 0);
    EXPECT_TRUE(RegString(key, "DisplayName") == "Quillmark Tablet Service");
    EXPECT_TRUE(RegString(key, "ImagePath") == "QmHidSrv.exe");
    EXPECT_EQ(RegDword(key, "Start"), 2u);
    EXPECT_EQ(RegDword(key, "Type"), 0x10u);
    EXPECT_TRUE(RegString(key, "ObjectName") == "LocalSystem");
    RegCloseKey(key);

    // ScreenRotate against the running service: one enumerate exchange (no product tablet
    // under Wine), then the result of closing the pipe.
    Sleep(500);
    EXPECT_TRUE(rotate(90) != 0);
    {
        qm::NamedPipeClient holder;
        bool open = false;
        for (int i = 0; i < 100 && !(open = holder.Open()); ++i)
            Sleep(20);
        EXPECT_TRUE(open);
        start = GetTickCount();
        EXPECT_EQ(rotate(90), -1);  // the one instance is taken
        EXPECT_TRUE(GetTickCount() - start < 1000);
        holder.Close();
    }

    // Stopped by the service control manager: stop pending, then stopped, within the bounds.
    SERVICE_STATUS status{};
    EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_TRUE(status.dwCurrentState == SERVICE_STOP_PENDING ||
                status.dwCurrentState == SERVICE_STOPPED);
    DWORD elapsed = 0;
    EXPECT_TRUE(WaitForState(service, SERVICE_STOPPED, 15000, &elapsed));
    std::printf("stopped %lu ms after the request\n", elapsed);
    EXPECT_TRUE(elapsed < 10000);

    // Installing again with the service present starts it.
    EXPECT_TRUE(RunProgram(exe, "/install", 30000));
    EXPECT_TRUE(WaitForState(service, SERVICE_RUNNING, 15000));
    EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_TRUE(WaitForState(service, SERVICE_STOPPED, 15000));

    // Run by hand: the dispatcher fails, and the failure is logged; the event source's values
    // are written with the first event.
    RegDeleteKeyA(HKEY_LOCAL_MACHINE,
                  "System\\CurrentControlSet\\Services\\Eventlog\\Application\\QmHidSrv");
    EXPECT_TRUE(RunProgram(exe, "", 60000, &elapsed));
    std::printf("run by hand: ended after %lu ms\n", elapsed);
    EXPECT_TRUE(RegOpenKeyA(HKEY_LOCAL_MACHINE,
                            "System\\CurrentControlSet\\Services\\Eventlog\\Application\\QmHidSrv",
                            &key) == 0);
    DWORD type = 0, size = 0;
    const std::string file = RegString(key, "EventMessageFile", &type, &size);
    EXPECT_TRUE(file == "%SystemRoot%\\System32\\QmHidSrv.exe");
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(size, static_cast<DWORD>(file.size() + 1));  // the terminating zero counted
    EXPECT_EQ(RegDword(key, "TypesSupported"), 7u);
    RegCloseKey(key);

    // The message table's texts, found by FormatMessage in the executable.
    HMODULE table = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    EXPECT_TRUE(table != nullptr);
    const struct {
        DWORD id;
        const char* text;
    } texts[] = {{0xC0050001, "Windows API error.\r\n"},
                 {0xC0050002, "Driver access error.\r\n"},
                 {0xC0050003, "Tablet activation failure.\r\n"},
                 {0xC0050004, "Failed to claim tablet.\r\n"},
                 {0xC0050005, "Failed to get tablet information.\r\n"}};
    for (const auto& t : texts) {
        char buffer[256] = {};
        const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
                                       table, t.id, 1033, buffer, sizeof buffer, nullptr);
        EXPECT_TRUE(n > 0);
        EXPECT_TRUE(std::string(buffer) == t.text);
    }
    if (table != nullptr)
        FreeLibrary(table);

    EXPECT_TRUE(DeleteService(service));
    CloseServiceHandle(service);
    CloseServiceHandle(scm);
}
