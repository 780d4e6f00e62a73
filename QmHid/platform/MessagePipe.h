// The control pipe: one server instance, one client at a time, one message per transfer.
// Windows: the named pipe "\\.\pipe\QmHidSrvPipe" in message mode with overlapped I/O;
// elsewhere: an AF_UNIX SOCK_SEQPACKET socket.
#pragma once

#include <cstdint>

#include "platform/Sync.h"

namespace qm {

enum class PipeResult { Ok, Stop, Broken, Failed };

// Used by the pipe thread, except Push, which read threads call one at a time (the caller's
// push lock) and which must never use a pipe that Close has released, and Interrupt, which
// the stopping thread calls.
class IPipeServer {
public:
    virtual ~IPipeServer() = default;
    // Makes the one instance; false when it cannot be had (the name is taken, or creation
    // failed): the service then runs without a pipe.
    virtual bool Create() = 0;
    // Waits for a client: Ok when one is connected, Stop when the stop event came first.
    virtual PipeResult WaitForClient(Event& stop) = 0;
    // Reads one message into buffer: Ok with its size in got (possibly 0), Stop, Broken when
    // the client has gone, Failed for any other error.
    virtual PipeResult Read(uint8_t* buffer, uint32_t capacity, uint32_t& got, Event& stop) = 0;
    // Writes one reply within timeoutMs: Ok, Stop when the stop event came first, Broken when
    // the client has gone or did not take it in time. Nothing of the write is pending after it.
    virtual PipeResult Write(const uint8_t* message, uint32_t length, uint32_t timeoutMs,
                             Event& stop) = 0;
    // Ends every pending read, write and push at once; called after the stop event is set.
    virtual void Interrupt() = 0;
    // Lets the client go; the instance then waits for the next one.
    virtual void Disconnect() = 0;
    virtual void Close() = 0;
    // Writes one whole message for the connected client within timeoutMs; false when there is
    // no client or pipe, or the client does not take it in time.
    virtual bool Push(const uint8_t* message, uint32_t length, uint32_t timeoutMs) = 0;
};

// A client of the control pipe.
class IPipeClient {
public:
    virtual ~IPipeClient() = default;
    // Fails at once when there is no server or its instance is busy.
    virtual bool Open() = 0;
    // True only when exactly `length` bytes went out / came in within timeoutMs. The record
    // and buffer of a transfer that timed out are not used after the call returns.
    virtual bool TimedWrite(const uint8_t* message, uint32_t length, uint32_t timeoutMs) = 0;
    virtual bool TimedRead(uint8_t* buffer, uint32_t length, uint32_t timeoutMs) = 0;
    // The result of closing: nonzero on success.
    virtual int Close() = 0;
};

}  // namespace qm
