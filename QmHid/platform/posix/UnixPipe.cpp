#include "platform/posix/UnixPipe.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace qm {

namespace {

bool FillAddress(const std::string& path, sockaddr_un& addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path)
        return false;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// Waits for fd to become ready (events) or the stop event; 1 ready, 0 stop, -1 error.
int WaitReady(int fd, short events, Event& stop) {
    for (;;) {
        pollfd p[2] = {{static_cast<int>(stop.NativeHandle()), POLLIN, 0}, {fd, events, 0}};
        const int n = poll(p, 2, -1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (p[0].revents & POLLIN)
            return 0;
        if (p[1].revents != 0)
            return 1;
    }
}

}  // namespace

std::string UnixPipeServer::DefaultPath() {
    if (geteuid() == 0)
        return "/run/qmhidsrv/pipe";
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return std::string(runtime != nullptr && *runtime == '/' ? runtime : "/tmp") + "/qmhidsrv.pipe";
}

bool UnixPipeServer::Listen() {
    sockaddr_un addr;
    if (!FillAddress(path_, addr))
        return false;
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // Only the owner and its group may connect: the socket is made with those permissions.
    const mode_t old = umask(0117);
    const int rc = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    umask(old);
    if (rc != 0 || listen(fd, 1) != 0) {
        close(fd);
        return false;
    }
    listen_ = fd;
    return true;
}

bool UnixPipeServer::Create() {
    // A path that is a live socket belongs to another server: it is not taken over. A stale
    // socket file (nobody listening) is replaced.
    sockaddr_un addr;
    if (!FillAddress(path_, addr))
        return false;
    struct stat st {};
    if (lstat(path_.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode))
            return false;
        const int probe = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        const bool live =
            probe >= 0 && connect(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        if (probe >= 0)
            close(probe);
        if (live)
            return false;
        unlink(path_.c_str());
    }
    created_ = Listen();
    return created_;
}

PipeResult UnixPipeServer::WaitForClient(Event& stop) {
    for (;;) {
        // Listening again after a client: the socket file of the last listen is ours.
        if (listen_ < 0 && (unlink(path_.c_str()), !Listen())) {
            // The path was taken while no one listened: give up the pipe.
            if (stop.Wait(1000))
                return PipeResult::Stop;
            continue;
        }
        const int r = WaitReady(listen_, POLLIN, stop);
        if (r == 0)
            return PipeResult::Stop;
        const int fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        client_ = fd;
        // One client at a time: stop listening, so that others are refused at once.
        close(listen_);
        listen_ = -1;
        return PipeResult::Ok;
    }
}

PipeResult UnixPipeServer::Read(uint8_t* buffer, uint32_t capacity, uint32_t& got, Event& stop) {
    got = 0;
    const int r = WaitReady(client_, POLLIN, stop);
    if (r == 0)
        return PipeResult::Stop;
    if (r < 0)
        return PipeResult::Failed;
    const ssize_t n = recv(client_, buffer, capacity, MSG_DONTWAIT | MSG_TRUNC);
    if (n == 0)
        return PipeResult::Broken;  // the client has closed its end
    if (n < 0) {
        if (errno == EAGAIN || errno == EINTR)
            return PipeResult::Failed;
        return errno == ECONNRESET || errno == EPIPE ? PipeResult::Broken : PipeResult::Failed;
    }
    // A message longer than the buffer is not reassembled: it is dropped.
    if (static_cast<size_t>(n) > capacity)
        return PipeResult::Failed;
    got = static_cast<uint32_t>(n);
    return PipeResult::Ok;
}

void UnixPipeServer::Write(const uint8_t* message, uint32_t length) {
    if (client_ >= 0)
        send(client_, message, length, MSG_NOSIGNAL);
}

void UnixPipeServer::Disconnect() {
    if (client_ >= 0)
        close(client_);
    client_ = -1;
}

void UnixPipeServer::Close() {
    Disconnect();
    if (listen_ >= 0)
        close(listen_);
    listen_ = -1;
    if (created_)
        unlink(path_.c_str());
    created_ = false;
}

bool UnixPipeServer::Push(const uint8_t* message, uint32_t length, uint32_t timeoutMs) {
    if (client_ < 0)
        return false;
    const uint64_t deadline = MonotonicMs() + timeoutMs;
    for (;;) {
        const ssize_t n = send(client_, message, length, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n == static_cast<ssize_t>(length))
            return true;
        if (n >= 0 || (errno != EAGAIN && errno != EINTR))
            return false;
        const uint64_t now = MonotonicMs();
        if (now >= deadline)
            return false;
        pollfd p{client_, POLLOUT, 0};
        poll(&p, 1, static_cast<int>(deadline - now));
    }
}

bool UnixPipeClient::Open() {
    sockaddr_un addr;
    if (!FillAddress(path_, addr))
        return false;
    fd_ = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        return false;
    if (connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd_);
        fd_ = -1;
        return false;
    }
    return true;
}

bool UnixPipeClient::TimedWrite(const uint8_t* message, uint32_t length, uint32_t timeoutMs) {
    pollfd p{fd_, POLLOUT, 0};
    if (fd_ < 0 || poll(&p, 1, static_cast<int>(timeoutMs)) <= 0)
        return false;
    return send(fd_, message, length, MSG_NOSIGNAL | MSG_DONTWAIT) == static_cast<ssize_t>(length);
}

bool UnixPipeClient::TimedRead(uint8_t* buffer, uint32_t length, uint32_t timeoutMs) {
    pollfd p{fd_, POLLIN, 0};
    if (fd_ < 0 || poll(&p, 1, static_cast<int>(timeoutMs)) <= 0)
        return false;
    return recv(fd_, buffer, length, MSG_DONTWAIT) == static_cast<ssize_t>(length);
}

int UnixPipeClient::Close() {
    const int rc = fd_ >= 0 ? close(fd_) : -1;
    fd_ = -1;
    return rc == 0 ? 1 : 0;
}

}  // namespace qm
