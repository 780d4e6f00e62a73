#include "QmWinTab/ScreenRotate.h"

#include "shared/PipeMessages.h"

namespace qm {

int ScreenRotateWith(IPipeClient& pipe, uint16_t angle) {
    using namespace qm::pipe;
    if (!pipe.Open())
        return -1;
    // The enumerate request also receives each reply; only its index is rewritten, so the
    // previous reply's token and count travel back, and the service ignores them.
    uint8_t enumerate[kEnumerateDevicesSize];
    BeginRequest(enumerate, sizeof enumerate, kEnumerateDevices, 0);
    uint8_t rotate[kSetRotationSize];
    BeginRequest(rotate, sizeof rotate, kSetRotation, 0);
    Put16(rotate + kValueOffset, angle);

    uint16_t next = 1;
    Put32(enumerate + kValueOffset, 0);
    if (pipe.TimedWrite(enumerate, sizeof enumerate, kClientTimeoutMs)) {
        while (pipe.TimedRead(enumerate, sizeof enumerate, kClientTimeoutMs)) {
            const uint64_t token = Get64(enumerate + kTokenOffset);
            if (token == 0)
                break;  // no tablet at this index: the list has ended
            Put64(rotate + kTokenOffset, token);
            pipe.TimedWrite(rotate, sizeof rotate, kClientTimeoutMs);  // no reply follows
            Put32(enumerate + kValueOffset, next++);
            if (!pipe.TimedWrite(enumerate, sizeof enumerate, kClientTimeoutMs))
                break;
        }
    }
    return pipe.Close();
}

}  // namespace qm
