// A stand-in for the programs the co-installer deals with.
//   CoInsHelper window        a window of class "QMOFFICEWND" that ends on WM_QUIT
//   CoInsHelper window-stay   the same window, ignoring WM_QUIT (ends after 12 s)
//   CoInsHelper mutex MS      holds the mutex "QMI Setup Active" for MS milliseconds
//   CoInsHelper nothing       ends at once (a program that never creates a service)
#include <windows.h>

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : "nothing";
    if (std::strcmp(mode, "mutex") == 0) {
        HANDLE m = CreateMutexA(nullptr, TRUE, "QMI Setup Active");
        Sleep(argc > 2 ? static_cast<DWORD>(std::atoi(argv[2])) : 5000);
        CloseHandle(m);
        return 0;
    }
    if (std::strncmp(mode, "window", 6) != 0)
        return 0;
    const bool stay = std::strcmp(mode, "window-stay") == 0;
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "QMOFFICEWND";
    RegisterClassA(&wc);
    CreateWindowExA(0, "QMOFFICEWND", "Pen Buttons", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                    wc.hInstance, nullptr);
    const DWORD start = GetTickCount();
    MSG msg;
    while (GetTickCount() - start < 12000) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT && !stay)
                return 0;
            DispatchMessageA(&msg);
        }
        Sleep(20);
    }
    return 0;
}
