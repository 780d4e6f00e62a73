// The screen-rotation client library: one export, ScreenRotate.
#include <windows.h>

#include "QmWinTab/ScreenRotate.h"
#include "platform/win32/NamedPipe.h"

extern "C" {

int WINAPI ScreenRotate(unsigned short angle) {
    qm::NamedPipeClient pipe;
    return qm::ScreenRotateWith(pipe, angle);
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}

}  // extern "C"
