// What the Windows tests do as clients of the named control pipe.
#pragma once

#include <windows.h>

#include <optional>

#include "platform/win32/NamedPipe.h"
#include "shared/PipeMessages.h"

namespace winetest {

// Opens the pipe, trying again every 10 ms while the server is busy or not listening yet.
inline bool OpenWithRetry(qm::NamedPipeClient& c, int tries = 300) {
    for (int i = 0; i < tries; ++i) {
        if (c.Open())
            return true;
        Sleep(10);
    }
    return false;
}

// The first listed device's token (0 for none); nothing when no reply came.
inline std::optional<uint64_t> EnumerateFirst(qm::NamedPipeClient& c) {
    using namespace qm::pipe;
    uint8_t m[24];
    BeginRequest(m, 24, kEnumerateDevices, 0);
    if (!c.TimedWrite(m, 24, 5000) || !c.TimedRead(m, 24, 5000) || m[0] != kEnumerateDevices)
        return std::nullopt;
    return Get64(m + kTokenOffset);
}

}  // namespace winetest
