// The one wait of the POSIX backends: a descriptor ready, or a stop descriptor readable, within
// a bound; and the one bounded send of a whole message. A failure keeps its reason, the call
// and its errno, for the calling thread, as GetLastError does on Windows.
#pragma once

#include <cstdint>
#include <poll.h>

namespace qm {

enum class PollResult { Ready, Stop, Timeout, Error };

// Waits until fd reports any of `events` (or an error or hang-up), or stopFd is readable, at
// most timeoutMs. Stop wins when both are. A negative descriptor is left out of the wait. An
// interrupted wait goes on for the time left; Error keeps errno. kWaitForever leaves the end
// to stopFd alone, so it is for a stop that some thread always sets (the pipe thread's and the
// watcher's), never with a negative stopFd.
PollResult WaitReadyOrStop(int fd, short events, int stopFd, uint32_t timeoutMs);

// poll() on any set of descriptors, going on for the time left after an interruption: the
// number ready, 0 on timeout, -1 with errno kept.
int PollFor(pollfd* fds, nfds_t count, uint32_t timeoutMs);

enum class SendResult { Sent, Stop, Timeout, Broken };

// Sends the whole message as one datagram, waiting for room up to timeoutMs unless stopFd
// becomes readable first (a negative stopFd: no stop, and so a real bound). A partial send is
// Broken.
SendResult SendMessage(int fd, const uint8_t* message, uint32_t length, uint32_t timeoutMs,
                       int stopFd);

// The calling thread's last failed POSIX call in the backends: its name and errno.
struct PosixFailure {
    const char* call = nullptr;
    int error = 0;
};
PosixFailure LastPosixFailure();
// Records a failed call with the current errno; returns that errno.
int RecordPosixFailure(const char* call);

}  // namespace qm
