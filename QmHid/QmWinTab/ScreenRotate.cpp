#include "QmWinTab/ScreenRotate.h"

#include "shared/ControlClient.h"

namespace qm {

int ScreenRotateWith(IPipeClient& pipe, uint16_t angle) {
    using namespace qm::pipe;
    if (!pipe.Open())
        return -1;
    ControlClient client(pipe);
    // The enumerate request also receives each reply; only its index is rewritten, so the
    // previous reply's token and count travel back, and the service ignores them. The index
    // goes out as 32 bits with an upper half of 0.
    uint8_t enumerate[kEnumerateDevicesSize];
    EncodeEnumerateDevices(enumerate, 0);
    for (uint16_t next = 1;; ++next) {
        if (!client.Exchange(enumerate, sizeof enumerate)) {
            if (next == 1) {
                pipe.Close();
                return -1;  // not served at all: busy, or no service behind the name
            }
            break;
        }
        const uint64_t token = TokenOf(enumerate);
        if (token == 0)
            break;                         // no tablet at this index: the list has ended
        client.SetRotation(token, angle);  // no reply follows
        Put32(enumerate + kValueOffset, next);
    }
    return pipe.Close();
}

}  // namespace qm
