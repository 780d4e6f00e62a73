// A client's side of the control pipe over any IPipeClient: exchanges of whole messages and
// the requests that the programs make (the token at an index, raw mode, calibration).
#pragma once

#include <cstdint>

#include "platform/MessagePipe.h"
#include "shared/PipeMessages.h"

namespace qm {

// How long a client waits for one transfer.
inline constexpr uint32_t kClientTimeoutMs = 5000;

class ControlClient {
public:
    explicit ControlClient(IPipeClient& pipe, uint32_t timeoutMs = kClientTimeoutMs)
        : pipe_(pipe), timeoutMs_(timeoutMs) {}

    // Sends a request that has no reply.
    bool Send(const uint8_t* message, uint32_t length);
    // Sends a request and reads its reply, of the same size, into the same bytes. The reply
    // may wait up to replyTimeoutMs (the client's timeout when 0).
    bool Exchange(uint8_t* message, uint32_t length, uint32_t replyTimeoutMs = 0);

    // The token at an index of the device list (0 when none, or no reply); count, where
    // given, receives the number of listed devices.
    uint64_t TokenAt(uint16_t index, uint32_t* count = nullptr);
    // The same, telling a reply (true; token 0 past the list's end) from none (false).
    bool Enumerate(uint16_t index, uint64_t& token, uint32_t& count);
    // The token of the listed device with this interface path, searched through the listed
    // device `token`; 0 when none, or no reply.
    uint64_t FindByPath(uint64_t token, const char* path);
    uint64_t LastActive();
    bool GetCalibration(uint64_t token, pipe::CalibrationValues& out, uint32_t replyTimeoutMs = 0);
    bool SetCalibration(uint64_t token, const pipe::CalibrationValues& values);
    bool SetRawMode(uint64_t token, bool on);
    bool SetRotation(uint64_t token, uint16_t angle);
    // Reads one message within timeoutMs: true when it is a raw pen report.
    bool ReadRawReport(pipe::RawPenReport& report, uint32_t timeoutMs);

private:
    IPipeClient& pipe_;
    uint32_t timeoutMs_;
};

}  // namespace qm
