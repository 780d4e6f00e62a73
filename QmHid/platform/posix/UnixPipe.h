// The control pipe over an AF_UNIX SOCK_SEQPACKET socket: message boundaries are kept, one
// client at a time. While a client is connected the server does not listen, so a second
// client is refused at once (ECONNREFUSED), as a busy pipe refuses it.
//
// The name belongs to one server for that server's whole life: it holds an exclusive lock on
// PATH.lock from Claim until Close, and no server touches a path whose lock another holds.
// The socket file always names the owner's socket: listening again after a client replaces
// it in one rename, so the name never looks free.
#pragma once

#include <atomic>
#include <string>

#include "platform/MessagePipe.h"

namespace qm {

class UnixPipeServer final : public IPipeServer {
public:
    explicit UnixPipeServer(std::string path) : path_(std::move(path)) {}
    ~UnixPipeServer() override;

    // Takes the name's lock; false when another server holds it (its process id, when it
    // wrote one, in *owner). Create claims the name itself when this has not been called.
    bool Claim(long* owner = nullptr);

    bool Create() override;
    PipeResult WaitForClient(Event& stop) override;
    PipeResult Read(uint8_t* buffer, uint32_t capacity, uint32_t& got, Event& stop) override;
    PipeResult Write(const uint8_t* message, uint32_t length, uint32_t timeoutMs,
                     Event& stop) override;
    void Interrupt() override;
    void Disconnect() override;
    void Close() override;
    bool Push(const uint8_t* message, uint32_t length, uint32_t timeoutMs) override;

    // The group the socket and its lock file are given (-1: the creator's); set before Create.
    void SetGroup(unsigned group) { group_ = group; }
    // The default: /run/qmhidsrv/pipe as root, else $XDG_RUNTIME_DIR/qmhidsrv.pipe; empty
    // without a runtime folder (the caller must then name one).
    static std::string DefaultPath();

private:
    bool Listen(bool replace);

    std::string path_;
    int lock_ = -1;
    int listen_ = -1;
    // The connected client: read by Push on a read thread, hence atomic. The pipe thread sets
    // and closes it under clientLock_, which Interrupt takes too, so a shutdown never reaches
    // a descriptor that was reused.
    std::atomic<int> client_{-1};
    Mutex clientLock_;
    bool created_ = false;
    unsigned group_ = static_cast<unsigned>(-1);
};

// Whether a folder is fit to hold the service's pipe or settings: a real folder (not a link),
// owned by this user, that nobody else may write to. False with the reason.
bool IsPrivateFolder(const std::string& folder, std::string& why);

class UnixPipeClient final : public IPipeClient {
public:
    explicit UnixPipeClient(std::string path) : path_(std::move(path)) {}
    // Where a client looks for the service: the system service's /run/qmhidsrv/pipe, else,
    // where that is absent, this user's own $XDG_RUNTIME_DIR/qmhidsrv.pipe.
    static std::string DefaultPath();
    ~UnixPipeClient() override {
        if (fd_ >= 0)
            Close();
    }
    bool Open() override;
    bool TimedWrite(const uint8_t* message, uint32_t length, uint32_t timeoutMs) override;
    bool TimedRead(uint8_t* buffer, uint32_t length, uint32_t timeoutMs) override;
    int Close() override;
    // The errno of the last failed Open (ECONNREFUSED when busy, EACCES when not allowed).
    int OpenError() const { return openError_; }

private:
    std::string path_;
    int fd_ = -1;
    int openError_ = 0;
};

}  // namespace qm
