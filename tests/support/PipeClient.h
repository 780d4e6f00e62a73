// Connecting a test's client to the control pipe while the server starts or listens again.
#pragma once

#include "platform/posix/UnixPipe.h"

namespace qm::test {

// Tries every 10 ms for up to 3 s.
inline bool ConnectWithRetry(UnixPipeClient& c) {
    for (int i = 0; i < 300; ++i) {
        if (c.Open())
            return true;
        SleepMs(10);
    }
    return false;
}

}  // namespace qm::test
