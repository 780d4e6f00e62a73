// The screen-rotation client library.
#include <windows.h>

extern "C" {

// Tells the service the new screen rotation of every tablet. Until the pipe client is in,
// it reports that no service could be reached.
int WINAPI ScreenRotate(unsigned short angle) {
    (void)angle;
    return -1;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}

}  // extern "C"
