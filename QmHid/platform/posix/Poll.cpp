#include "platform/posix/Poll.h"

#include <cerrno>
#include <sys/socket.h>

#include "platform/Sync.h"

namespace qm {

namespace {

thread_local PosixFailure t_failure;

// Milliseconds left until deadline, or -1 for no bound.
int TimeLeft(uint32_t timeoutMs, uint64_t deadline) {
    if (timeoutMs == kWaitForever)
        return -1;
    const uint64_t now = MonotonicMs();
    return now >= deadline ? 0 : static_cast<int>(deadline - now);
}

}  // namespace

PosixFailure LastPosixFailure() {
    return t_failure;
}

int RecordPosixFailure(const char* call) {
    const int error = errno;
    t_failure = {call, error};
    return error;
}

int PollFor(pollfd* fds, nfds_t count, uint32_t timeoutMs) {
    const uint64_t deadline = MonotonicMs() + timeoutMs;
    for (;;) {
        const int n = poll(fds, count, TimeLeft(timeoutMs, deadline));
        if (n >= 0)
            return n;
        if (errno != EINTR) {
            RecordPosixFailure("poll");
            return -1;
        }
    }
}

PollResult WaitReadyOrStop(int fd, short events, int stopFd, uint32_t timeoutMs) {
    pollfd p[2] = {{stopFd, POLLIN, 0}, {fd, events, 0}};
    const int n = PollFor(p, 2, timeoutMs);
    if (n < 0)
        return PollResult::Error;
    if (p[0].revents & POLLIN)
        return PollResult::Stop;
    if (n == 0)
        return PollResult::Timeout;
    // Only the stop descriptor can have reported anything else (POLLNVAL, POLLERR): a broken
    // stop descriptor is an error, not a stop.
    if (p[1].revents != 0)
        return PollResult::Ready;
    errno = EBADF;
    RecordPosixFailure("poll");
    return PollResult::Error;
}

SendResult SendMessage(int fd, const uint8_t* message, uint32_t length, uint32_t timeoutMs,
                       int stopFd) {
    const uint64_t deadline = MonotonicMs() + timeoutMs;
    for (;;) {
        // Room is the rule: the message goes at once; only a full socket is waited for.
        const ssize_t n = send(fd, message, length, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n == static_cast<ssize_t>(length))
            return SendResult::Sent;
        if (n >= 0) {
            errno = EMSGSIZE;
            RecordPosixFailure("send");
            return SendResult::Broken;
        }
        if (errno != EAGAIN && errno != EINTR) {
            RecordPosixFailure("send");
            return SendResult::Broken;
        }
        const int left = TimeLeft(timeoutMs, deadline);
        if (left == 0)
            return SendResult::Timeout;
        switch (WaitReadyOrStop(fd, POLLOUT, stopFd, static_cast<uint32_t>(left))) {
            case PollResult::Stop:
                return SendResult::Stop;
            case PollResult::Error:
                return SendResult::Broken;
            case PollResult::Timeout:
                return SendResult::Timeout;
            case PollResult::Ready:
                break;
        }
    }
}

}  // namespace qm
