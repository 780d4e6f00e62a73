// The co-installer's Windows side under Wine: services stopped and deleted, the service
// installed and started, the pen-button application closed, the setup mutex, the platform
// classification under other reported versions, and the forwarder reaching QmCoIns2.
//   CoInstallerWineTest HELPER.exe QmHidSrv.exe BUILD_DIR   (BUILD_DIR holds QmCoIns1/2.dll)
//   CoInstallerWineTest classify                             (exit code: the flags >> 16)
#include <windows.h>
#include <setupapi.h>
#include <shlobj.h>

#include <string>

#include "QmCoIns2/CoInstaller.h"
#include "QmCoIns2/WinCoInstallerOs.h"
#include "tests/wine/WineTest.h"

using namespace qm::coins;

namespace {

std::string SystemDir() {
    char dir[MAX_PATH];
    GetSystemDirectoryA(dir, sizeof dir);
    return dir;
}

HANDLE Start(const std::string& exe, const std::string& args) {
    return winetest::StartProgram(exe, args);
}

DWORD RunAndWait(const std::string& exe, const std::string& args) {
    HANDLE p = Start(exe, args);
    if (p == nullptr)
        return 0xFFFFFFFF;
    WaitForSingleObject(p, 60000);
    DWORD code = 0;
    GetExitCodeProcess(p, &code);
    CloseHandle(p);
    return code;
}

bool ServiceExists(SC_HANDLE scm, const char* name) {
    SC_HANDLE s = OpenServiceA(scm, name, SERVICE_QUERY_STATUS);
    if (s != nullptr)
        CloseServiceHandle(s);
    return s != nullptr;
}

void SetWineVersion(const char* version) {
    HKEY key;
    RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Wine", &key);
    if (version != nullptr)
        RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                       static_cast<DWORD>(strlen(version) + 1));
    else
        RegDeleteValueA(key, "Version");
    RegCloseKey(key);
}

void SetTabletPcInstalled(const DWORD* value) {
    if (value == nullptr) {
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, "System\\WPA\\TabletPC");
        return;
    }
    HKEY key;
    RegCreateKeyA(HKEY_LOCAL_MACHINE, "System\\WPA\\TabletPC", &key);
    RegSetValueExA(key, "Installed", 0, REG_DWORD, reinterpret_cast<const BYTE*>(value), 4);
    RegCloseKey(key);
}

}  // namespace

TEST(CoInstallerUnderWine, PreAndPostInstallationSteps) {
    WINETEST_NEEDS_ARGS(3, "co_installer_wine_test HELPER QMHIDSRV_EXE BUILD_DIR");
    WinCoInstallerOs os;
    const std::string helper = winetest::Arg(1);
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);

    // Services: one that runs, one that is stopped, one that does not exist.
    const std::string srv = SystemDir() + "\\QmHidSrv.exe";
    EXPECT_TRUE(CopyFileA(winetest::Arg(2), srv.c_str(), FALSE));
    SC_HANDLE all = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    EXPECT_TRUE(all != nullptr);
    const Handle scm = os.OpenServiceManager();
    EXPECT_TRUE(scm != 0);
    EXPECT_TRUE(StopAndDeleteService(os, scm, "QmNoSuchService"));
    EXPECT_TRUE(InstallAndStartService(os, scm, "QmHidSrv"));
    EXPECT_TRUE(ServiceExists(all, "QmHidSrv"));
    DWORD start = GetTickCount();
    EXPECT_TRUE(StopAndDeleteService(os, scm, "QmHidSrv"));
    std::printf("running service stopped and deleted in %lu ms\n", GetTickCount() - start);
    EXPECT_TRUE(!ServiceExists(all, "QmHidSrv"));
    SC_HANDLE stopped =
        CreateServiceA(all, "QmTestStopped", "Stopped test service", SERVICE_ALL_ACCESS,
                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                       srv.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_TRUE(stopped != nullptr);
    if (stopped != nullptr)
        CloseServiceHandle(stopped);
    EXPECT_TRUE(StopAndDeleteService(os, scm, "QmTestStopped"));
    EXPECT_TRUE(!ServiceExists(all, "QmTestStopped"));

    // A program that never creates its service: about 5000 ms, then failure.
    EXPECT_TRUE(CopyFileA(helper.c_str(), (SystemDir() + "\\QmNoSrv.exe").c_str(), FALSE));
    start = GetTickCount();
    EXPECT_TRUE(!InstallAndStartService(os, scm, "QmNoSrv"));
    const DWORD waited = GetTickCount() - start;
    std::printf("never created: failed after %lu ms\n", waited);
    EXPECT_TRUE(waited >= 4900 && waited < 8000);
    os.CloseService(scm);
    CloseServiceHandle(all);

    // The pen-button application: one that ends on WM_QUIT, one that ignores it, and the
    // shortcut in the common Startup folder.
    char folder[MAX_PATH];
    EXPECT_TRUE(SUCCEEDED(
        SHGetFolderPathA(nullptr, CSIDL_COMMON_STARTUP, nullptr, SHGFP_TYPE_CURRENT, folder)));
    CreateDirectoryA(folder, nullptr);
    const std::string lnk = std::string(folder) + "\\Corvale Office Pen Buttons.lnk";
    HANDLE f = CreateFileA(lnk.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    EXPECT_TRUE(f != INVALID_HANDLE_VALUE);
    CloseHandle(f);
    HANDLE app = Start(helper, "window");
    for (int i = 0; i < 200 && FindWindowA("QMOFFICEWND", nullptr) == nullptr; ++i)
        Sleep(20);
    EXPECT_TRUE(FindWindowA("QMOFFICEWND", nullptr) != nullptr);
    EXPECT_TRUE(CloseButtonApplication(os, "Corvale Office Pen Buttons"));
    EXPECT_TRUE(WaitForSingleObject(app, 1000) == WAIT_OBJECT_0);
    CloseHandle(app);
    EXPECT_TRUE(GetFileAttributesA(lnk.c_str()) == INVALID_FILE_ATTRIBUTES);
    app = Start(helper, "window-stay");
    for (int i = 0; i < 200 && FindWindowA("QMOFFICEWND", nullptr) == nullptr; ++i)
        Sleep(20);
    start = GetTickCount();
    EXPECT_TRUE(CloseButtonApplication(os, "Corvale Office Pen Buttons"));  // the shortcut decides
    EXPECT_TRUE(GetTickCount() - start >= 4900);
    EXPECT_TRUE(WaitForSingleObject(app, 0) == WAIT_TIMEOUT);  // not forced to end
    TerminateProcess(app, 0);
    CloseHandle(app);

    // The setup mutex, held by another process; the forwarder then answers NO_ERROR.
    EXPECT_TRUE(!IsSetupActive(os));
    HANDLE holder = Start(helper, "mutex 4000");
    for (int i = 0; i < 200 && !IsSetupActive(os); ++i)
        Sleep(10);
    EXPECT_TRUE(IsSetupActive(os));
    SetDllDirectoryA(winetest::Arg(3));
    HMODULE forwarder = LoadLibraryA((std::string(winetest::Arg(3)) + "\\QmCoIns1.dll").c_str());
    EXPECT_TRUE(forwarder != nullptr);
    using Entry =
        DWORD(CALLBACK*)(DI_FUNCTION, HDEVINFO, PSP_DEVINFO_DATA, PCOINSTALLER_CONTEXT_DATA);
    auto device = reinterpret_cast<Entry>(
        reinterpret_cast<void (*)()>(GetProcAddress(forwarder, "DeviceInstaller")));
    EXPECT_TRUE(device != nullptr);
    if (device != nullptr) {
        SP_DEVINFO_DATA data{};
        data.cbSize = sizeof data;
        COINSTALLER_CONTEXT_DATA context{};
        EXPECT_EQ(device(DIF_INSTALLDEVICE, nullptr, &data, &context), 0u);
        context.PostProcessing = TRUE;
        EXPECT_EQ(device(DIF_INSTALLDEVICE, nullptr, &data, &context), 0u);
        EXPECT_TRUE(GetModuleHandleA("QmCoIns2.dll") == nullptr);
    }
    WaitForSingleObject(holder, 10000);
    CloseHandle(holder);
    EXPECT_TRUE(!IsSetupActive(os));

    // The classification under the versions Wine reports, in fresh processes.
    const DWORD one = 1, zero = 0;
    SetWineVersion(nullptr);  // whatever an interrupted run may have left
    SetTabletPcInstalled(nullptr);
    EXPECT_EQ(RunAndWait(self, "classify"), 0u);  // Windows 7 by default
    SetWineVersion("winxp");
    SetTabletPcInstalled(&one);
    EXPECT_EQ(RunAndWait(self, "classify"), 1u);
    SetTabletPcInstalled(&zero);
    EXPECT_EQ(RunAndWait(self, "classify"), 0u);
    SetTabletPcInstalled(nullptr);
    EXPECT_EQ(RunAndWait(self, "classify"), 0u);
    SetWineVersion("vista");
    EXPECT_EQ(RunAndWait(self, "classify"), 1u);
    SetWineVersion(nullptr);
    EXPECT_EQ(RunAndWait(self, "classify"), 0u);
}

// The program runs itself as "classify" to see a platform as a new process sees it.
int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "classify") {
        WinCoInstallerOs os;
        return static_cast<int>(ClassifyPlatform(os) >> 16);
    }
    return winetest::RunTests(argc, argv);
}
