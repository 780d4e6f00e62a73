// The service program's entry.
#include <windows.h>

#include "QmHidSrvMsg.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return 0;
}
