// The POSIX backends' one wait and one bounded send, on socket pairs and eventfds.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/Sync.h"
#include "platform/posix/Poll.h"

namespace qm {
namespace {

struct Fds {
    int pair[2] = {-1, -1};  // SOCK_SEQPACKET, as the control pipe
    int stop = -1;           // an eventfd, as Event
    Fds() {
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair), 0);
        stop = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    }
    ~Fds() {
        for (int fd : {pair[0], pair[1], stop})
            if (fd >= 0)
                close(fd);
    }
    void SetStop() {
        uint64_t one = 1;
        ASSERT_EQ(write(stop, &one, sizeof one), 8);
    }
    void MakeReadable() { ASSERT_EQ(send(pair[1], "x", 1, 0), 1); }
};

struct WaitCase {
    const char* name;
    bool readable;
    bool stopSet;
    PollResult expected;
};

class WaitReadyOrStopCase : public testing::TestWithParam<WaitCase> {};

TEST_P(WaitReadyOrStopCase, Outcome) {
    const WaitCase& c = GetParam();
    Fds f;
    if (c.readable)
        f.MakeReadable();
    if (c.stopSet)
        f.SetStop();
    const uint64_t start = MonotonicMs();
    EXPECT_EQ(WaitReadyOrStop(f.pair[0], POLLIN, f.stop, 50), c.expected);
    if (c.expected != PollResult::Timeout)
        EXPECT_LT(MonotonicMs() - start, 40u);
    else
        EXPECT_GE(MonotonicMs() - start, 49u);
}

INSTANTIATE_TEST_SUITE_P(Poll, WaitReadyOrStopCase,
                         testing::Values(WaitCase{"Ready", true, false, PollResult::Ready},
                                         WaitCase{"Stop", false, true, PollResult::Stop},
                                         WaitCase{"StopWinsOverReady", true, true,
                                                  PollResult::Stop},
                                         WaitCase{"Timeout", false, false, PollResult::Timeout}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Poll, AHungUpPeerIsReadyNotAWaitForever) {
    Fds f;
    close(f.pair[1]);
    f.pair[1] = -1;
    EXPECT_EQ(WaitReadyOrStop(f.pair[0], POLLIN, f.stop, kWaitForever), PollResult::Ready);
}

TEST(Poll, NoDescriptorButTheStop) {
    Fds f;
    EXPECT_EQ(WaitReadyOrStop(-1, POLLIN, f.stop, 20), PollResult::Timeout);
    f.SetStop();
    EXPECT_EQ(WaitReadyOrStop(-1, POLLIN, f.stop, kWaitForever), PollResult::Stop);
}

TEST(Poll, AClosedStopDescriptorIsAnErrorWithItsReason) {
    Fds f;
    close(f.stop);
    const int closed = f.stop;
    f.stop = -1;
    EXPECT_EQ(WaitReadyOrStop(f.pair[0], POLLIN, closed, 1000), PollResult::Error);
    EXPECT_STREQ(LastPosixFailure().call, "poll");
    EXPECT_EQ(LastPosixFailure().error, EBADF);
}

TEST(Poll, SendsAWholeMessage) {
    Fds f;
    const uint8_t m[24] = {6, 0, 24};
    EXPECT_EQ(SendMessage(f.pair[0], m, sizeof m, 100, f.stop), SendResult::Sent);
    uint8_t got[64];
    EXPECT_EQ(recv(f.pair[1], got, sizeof got, 0), 24);
    EXPECT_EQ(std::memcmp(got, m, sizeof m), 0);
}

TEST(Poll, ASendToAGonePeerIsBrokenWithItsReason) {
    Fds f;
    close(f.pair[1]);
    f.pair[1] = -1;
    const uint8_t m[16] = {};
    EXPECT_EQ(SendMessage(f.pair[0], m, sizeof m, 100, -1), SendResult::Broken);
    EXPECT_STREQ(LastPosixFailure().call, "send");
    EXPECT_EQ(LastPosixFailure().error, EPIPE);
}

// A peer that reads nothing: the socket fills, and the send waits for room until its bound or
// the stop, whichever comes first.
TEST(Poll, AFullSocketWaitsForItsBoundOrTheStop) {
    Fds f;
    uint8_t m[1024] = {};
    while (send(f.pair[0], m, sizeof m, MSG_DONTWAIT) == static_cast<ssize_t>(sizeof m)) {
    }
    uint64_t start = MonotonicMs();
    EXPECT_EQ(SendMessage(f.pair[0], m, sizeof m, 60, f.stop), SendResult::Timeout);
    EXPECT_GE(MonotonicMs() - start, 59u);
    f.SetStop();
    start = MonotonicMs();
    EXPECT_EQ(SendMessage(f.pair[0], m, sizeof m, kWaitForever, f.stop), SendResult::Stop);
    EXPECT_LT(MonotonicMs() - start, 1000u);
}

}  // namespace
}  // namespace qm
