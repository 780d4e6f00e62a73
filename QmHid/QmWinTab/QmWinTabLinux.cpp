// The screen-rotation client on Linux: the same exchange over the AF_UNIX control pipe.
#include "QmWinTab/ScreenRotate.h"
#include "platform/posix/UnixPipe.h"

extern "C" {

__attribute__((visibility("default"))) int ScreenRotateAt(const char* pipePath,
                                                          unsigned short angle) {
    qm::UnixPipeClient pipe(pipePath != nullptr ? pipePath : qm::UnixPipeClient::DefaultPath());
    return qm::ScreenRotateWith(pipe, angle);
}

__attribute__((visibility("default"))) int ScreenRotate(unsigned short angle) {
    return ScreenRotateAt(nullptr, angle);
}

}  // extern "C"
