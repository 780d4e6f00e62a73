#include "platform/posix/UnixPipe.h"

#include "platform/posix/Poll.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
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

bool IsLiveSocket(const sockaddr_un& addr) {
    const int probe = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    const bool live =
        probe >= 0 && connect(probe, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    if (probe >= 0)
        close(probe);
    return live;
}

}  // namespace

UnixPipeServer::~UnixPipeServer() {
    Close();
}

std::string UnixPipeServer::DefaultPath() {
    if (geteuid() == 0)
        return "/run/qmhidsrv/pipe";
    // Never a shared folder: without a runtime folder the caller must name a path.
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || *runtime != '/')
        return std::string();
    return std::string(runtime) + "/qmhidsrv.pipe";
}

bool IsPrivateFolder(const std::string& folder, std::string& why) {
    struct stat st {};
    if (lstat(folder.c_str(), &st) != 0) {
        why = folder + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        why = folder + " is not a folder";
        return false;
    }
    if (st.st_uid != geteuid()) {
        why = folder + " belongs to another user";
        return false;
    }
    if ((st.st_mode & S_IWOTH) != 0) {
        why = folder + " may be written by anyone";
        return false;
    }
    return true;
}

std::string UnixPipeClient::DefaultPath() {
    constexpr const char* kSystem = "/run/qmhidsrv/pipe";
    struct stat st {};
    if (lstat(kSystem, &st) == 0)
        return kSystem;
    const std::string own = UnixPipeServer::DefaultPath();
    return own.empty() || geteuid() == 0 ? std::string(kSystem) : own;
}

bool UnixPipeServer::Claim(long* owner) {
    if (lock_ >= 0)
        return true;
    const std::string lockPath = path_ + ".lock";
    const int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0660);
    if (fd < 0)
        return false;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (owner != nullptr) {
            char text[24] = {};
            *owner = pread(fd, text, sizeof text - 1, 0) > 0 ? std::strtol(text, nullptr, 10) : 0;
        }
        close(fd);
        return false;
    }
    if (group_ != static_cast<unsigned>(-1)) {
        [[maybe_unused]] const int owned = fchown(fd, static_cast<uid_t>(-1), group_);
    }
    // The owner's process id, for the message a rival prints.
    char text[24];
    const int n = std::snprintf(text, sizeof text, "%ld\n", static_cast<long>(getpid()));
    if (ftruncate(fd, 0) == 0 && n > 0) [[maybe_unused]]
        ssize_t w = pwrite(fd, text, static_cast<size_t>(n), 0);
    lock_ = fd;
    return true;
}

bool UnixPipeServer::Listen(bool replace) {
    // A first listen binds the path itself; listening again binds a new name and renames it
    // over the path, which never stops naming this server's socket.
    const std::string bound = replace ? path_ + ".new" : path_;
    sockaddr_un addr;
    if (!FillAddress(bound, addr))
        return false;
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    if (replace)
        unlink(bound.c_str());
    // Only the owner and its group may connect: the socket is made with those permissions.
    const mode_t old = umask(0117);
    const int rc = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    umask(old);
    if (rc == 0 && group_ != static_cast<unsigned>(-1)) {
        // The socket is the group's to use, as the lock file is; unchanged, it still serves
        // its owner.
        [[maybe_unused]] const int owned = chown(bound.c_str(), static_cast<uid_t>(-1), group_);
    }
    if (rc != 0 || listen(fd, 1) != 0 || (replace && rename(bound.c_str(), path_.c_str()) != 0)) {
        if (rc == 0 && replace)
            unlink(bound.c_str());
        close(fd);
        return false;
    }
    listen_ = fd;
    return true;
}

bool UnixPipeServer::Create() {
    sockaddr_un addr;
    if (!FillAddress(path_, addr) || !FillAddress(path_ + ".new", addr) || !Claim())
        return false;
    FillAddress(path_, addr);
    // The lock is ours, so what lies at the path is an earlier run's leftover. Still, only a
    // socket is replaced, and never one that answers (a server that takes no lock).
    struct stat st {};
    if (lstat(path_.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode) || IsLiveSocket(addr))
            return false;
        unlink(path_.c_str());
    }
    created_ = Listen(false);
    return created_;
}

PipeResult UnixPipeServer::WaitForClient(Event& stop) {
    for (;;) {
        if (listen_ < 0 && !Listen(true)) {
            if (stop.Wait(1000))
                return PipeResult::Stop;
            continue;
        }
        // A client may come or not: only the stop ends this wait.
        const PollResult r =
            WaitReadyOrStop(listen_, POLLIN, static_cast<int>(stop.NativeHandle()), kWaitForever);
        if (r == PollResult::Stop)
            return PipeResult::Stop;
        // A wait that fails is tried again after a pause, never in a tight loop.
        if (r == PollResult::Error) {
            if (stop.Wait(1000))
                return PipeResult::Stop;
            continue;
        }
        const int fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            RecordPosixFailure("accept4");
            continue;
        }
        {
            LockGuard guard(clientLock_);
            client_ = fd;
        }
        // One client at a time: stop listening, so that others are refused at once. The
        // socket file stays, naming a socket that refuses.
        close(listen_);
        listen_ = -1;
        return PipeResult::Ok;
    }
}

PipeResult UnixPipeServer::Read(uint8_t* buffer, uint32_t capacity, uint32_t& got, Event& stop) {
    got = 0;
    const int fd = client_.load();
    // An idle client may stay connected for good: the stop (and Interrupt's shutdown) ends it.
    const PollResult r =
        WaitReadyOrStop(fd, POLLIN, static_cast<int>(stop.NativeHandle()), kWaitForever);
    if (r == PollResult::Stop)
        return PipeResult::Stop;
    if (r != PollResult::Ready)
        return PipeResult::Failed;
    const ssize_t n = recv(fd, buffer, capacity, MSG_DONTWAIT | MSG_TRUNC);
    if (n == 0) {
        // An empty message and the client's end closing both read as 0 bytes; only a hang-up
        // ends the connection. An empty message is a message like any other.
        pollfd p{fd, POLLRDHUP, 0};
        if (poll(&p, 1, 0) != 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0)
            return PipeResult::Broken;
        return PipeResult::Ok;
    }
    if (n < 0) {
        RecordPosixFailure("recv");
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

PipeResult UnixPipeServer::Write(const uint8_t* message, uint32_t length, uint32_t timeoutMs,
                                 Event& stop) {
    const int fd = client_.load();
    if (fd < 0)
        return PipeResult::Broken;
    switch (SendMessage(fd, message, length, timeoutMs, static_cast<int>(stop.NativeHandle()))) {
        case SendResult::Sent:
            return PipeResult::Ok;
        case SendResult::Stop:
            return PipeResult::Stop;
        case SendResult::Timeout:
        case SendResult::Broken:
            break;
    }
    return PipeResult::Broken;
}

void UnixPipeServer::Interrupt() {
    // A shut-down connection fails every pending and later send and wakes every poll on it.
    LockGuard guard(clientLock_);
    const int fd = client_.load();
    if (fd >= 0)
        shutdown(fd, SHUT_RDWR);
}

void UnixPipeServer::Disconnect() {
    LockGuard guard(clientLock_);
    const int fd = client_.exchange(-1);
    if (fd >= 0)
        close(fd);
}

void UnixPipeServer::Close() {
    Disconnect();
    if (listen_ >= 0)
        close(listen_);
    listen_ = -1;
    if (created_)
        unlink(path_.c_str());
    created_ = false;
    // The name is free once the socket file is gone; the lock file itself stays.
    if (lock_ >= 0)
        close(lock_);
    lock_ = -1;
}

bool UnixPipeServer::Push(const uint8_t* message, uint32_t length, uint32_t timeoutMs) {
    // The pipe thread lets a client go only under the caller's push lock.
    const int fd = client_.load();
    if (fd < 0)
        return false;
    return SendMessage(fd, message, length, timeoutMs, -1) == SendResult::Sent;
}

bool UnixPipeClient::Open() {
    sockaddr_un addr;
    openError_ = ENAMETOOLONG;
    if (!FillAddress(path_, addr))
        return false;
    fd_ = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        openError_ = errno;
        return false;
    }
    if (connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        openError_ = errno;
        close(fd_);
        fd_ = -1;
        return false;
    }
    openError_ = 0;
    return true;
}

bool UnixPipeClient::TimedWrite(const uint8_t* message, uint32_t length, uint32_t timeoutMs) {
    if (fd_ < 0)
        return false;
    return SendMessage(fd_, message, length, timeoutMs, -1) == SendResult::Sent;
}

bool UnixPipeClient::TimedRead(uint8_t* buffer, uint32_t length, uint32_t timeoutMs) {
    if (fd_ < 0 || WaitReadyOrStop(fd_, POLLIN, -1, timeoutMs) != PollResult::Ready)
        return false;
    return recv(fd_, buffer, length, MSG_DONTWAIT) == static_cast<ssize_t>(length);
}

int UnixPipeClient::Close() {
    const int rc = fd_ >= 0 ? close(fd_) : -1;
    fd_ = -1;
    return rc == 0 ? 1 : 0;
}

}  // namespace qm
