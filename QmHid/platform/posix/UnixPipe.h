// The control pipe over an AF_UNIX SOCK_SEQPACKET socket: message boundaries are kept, one
// client at a time. While a client is connected the server does not listen, so a second
// client is refused at once (ECONNREFUSED), as a busy pipe refuses it.
#pragma once

#include <string>

#include "platform/MessagePipe.h"

namespace qm {

class UnixPipeServer final : public IPipeServer {
public:
    explicit UnixPipeServer(std::string path) : path_(std::move(path)) {}
    ~UnixPipeServer() override { Close(); }

    bool Create() override;
    PipeResult WaitForClient(Event& stop) override;
    PipeResult Read(uint8_t* buffer, uint32_t capacity, uint32_t& got, Event& stop) override;
    void Write(const uint8_t* message, uint32_t length) override;
    void Disconnect() override;
    void Close() override;
    bool Push(const uint8_t* message, uint32_t length, uint32_t timeoutMs) override;

    // The default: /run/qmhidsrv/pipe as root, else $XDG_RUNTIME_DIR/qmhidsrv.pipe.
    static std::string DefaultPath();

private:
    bool Listen();

    std::string path_;
    int listen_ = -1;
    int client_ = -1;
    bool created_ = false;
};

class UnixPipeClient final : public IPipeClient {
public:
    explicit UnixPipeClient(std::string path) : path_(std::move(path)) {}
    ~UnixPipeClient() override {
        if (fd_ >= 0)
            Close();
    }
    bool Open() override;
    bool TimedWrite(const uint8_t* message, uint32_t length, uint32_t timeoutMs) override;
    bool TimedRead(uint8_t* buffer, uint32_t length, uint32_t timeoutMs) override;
    int Close() override;

private:
    std::string path_;
    int fd_ = -1;
};

}  // namespace qm
