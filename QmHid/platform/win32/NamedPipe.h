// The control pipe as the named pipe "\\.\pipe\QmHidSrvPipe": message mode, overlapped I/O.
#pragma once

#include "platform/MessagePipe.h"

namespace qm {

inline constexpr const char* kControlPipeName = "\\\\.\\pipe\\QmHidSrvPipe";

// Who may use the control pipe: LocalSystem and the administrators fully, interactive users
// read and write (ScreenRotate runs in the user's session), network logons not at all.
inline constexpr const char* kControlPipeSecurity =
    "D:P(D;;GA;;;NU)(A;;GA;;;SY)(A;;GA;;;BA)(A;;GRGW;;;IU)";

class NamedPipeServer final : public IPipeServer {
public:
    explicit NamedPipeServer(const char* name = kControlPipeName) : name_(name) {}
    ~NamedPipeServer() override { Close(); }

    bool Create() override;
    PipeResult WaitForClient(Event& stop) override;
    PipeResult Read(uint8_t* buffer, uint32_t capacity, uint32_t& got, Event& stop) override;
    PipeResult Write(const uint8_t* message, uint32_t length, uint32_t timeoutMs,
                     Event& stop) override;
    void Interrupt() override;
    void Disconnect() override;
    void Close() override;
    bool Push(const uint8_t* message, uint32_t length, uint32_t timeoutMs) override;

    // Whether the instance was made with PIPE_REJECT_REMOTE_CLIENTS (not before Vista).
    bool RejectsRemoteClients() const { return rejectsRemote_; }

private:
    const char* name_;
    Mutex handleLock_;  // Interrupt against the pipe thread's Close
    bool rejectsRemote_ = false;
    intptr_t pipe_ = 0;        // the one instance; 0 while there is none
    intptr_t ioEvent_ = 0;     // the pipe thread's connect, reads and replies
    intptr_t writeEvent_ = 0;  // pushes
};

class NamedPipeClient final : public IPipeClient {
public:
    explicit NamedPipeClient(const char* name = kControlPipeName) : name_(name) {}
    ~NamedPipeClient() override {
        if (pipe_ != 0)
            Close();
    }
    bool Open() override;
    bool TimedWrite(const uint8_t* message, uint32_t length, uint32_t timeoutMs) override;
    bool TimedRead(uint8_t* buffer, uint32_t length, uint32_t timeoutMs) override;
    int Close() override;

private:
    bool Transfer(bool write, uint8_t* buffer, uint32_t length, uint32_t timeoutMs);
    const char* name_;
    intptr_t pipe_ = 0;
};

}  // namespace qm
