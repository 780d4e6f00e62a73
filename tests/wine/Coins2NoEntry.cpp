// Stands in for a QmCoIns2.dll that lacks the co-installer entry points.
#include <windows.h>

extern "C" {

__declspec(dllexport) DWORD CALLBACK SomethingElse() {
    return 0;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}

}  // extern "C"
