// The POSIX backends' one wait and one bounded send, on socket pairs and eventfds.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <memory>
#include <optional>
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

// Runs a call that has no bound of its own on a thread of its own: the test fails instead of
// hanging when it does not end within 5 s. Left behind, the thread holds what it uses.
template <typename R>
struct Unbounded {
    std::shared_ptr<Fds> fds = std::make_shared<Fds>();
    std::function<R(Fds&)> call;
    R result{};
};

template <typename R>
std::optional<R> WithinFiveSeconds(std::shared_ptr<Unbounded<R>> u) {
    auto* held = new std::shared_ptr<Unbounded<R>>(u);
    Thread t;
    if (!t.Start(
            [](void* p) {
                std::unique_ptr<std::shared_ptr<Unbounded<R>>> own(
                    static_cast<std::shared_ptr<Unbounded<R>>*>(p));
                (*own)->result = (*own)->call(*(*own)->fds);
            },
            held)) {
        delete held;
        return std::nullopt;
    }
    if (!t.Join(5000)) {
        t.Detach();
        return std::nullopt;
    }
    return u->result;
}

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
    auto u = std::make_shared<Unbounded<PollResult>>();
    close(u->fds->pair[1]);
    u->fds->pair[1] = -1;
    u->call = [](Fds& f) { return WaitReadyOrStop(f.pair[0], POLLIN, f.stop, kWaitForever); };
    EXPECT_EQ(WithinFiveSeconds(u), PollResult::Ready);
}

TEST(Poll, NoDescriptorButTheStop) {
    Fds f;
    EXPECT_EQ(WaitReadyOrStop(-1, POLLIN, f.stop, 20), PollResult::Timeout);
    auto u = std::make_shared<Unbounded<PollResult>>();
    u->fds->SetStop();
    u->call = [](Fds& g) { return WaitReadyOrStop(-1, POLLIN, g.stop, kWaitForever); };
    EXPECT_EQ(WithinFiveSeconds(u), PollResult::Stop);
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
    // With no bound of its own, only the stop ends the wait for room.
    auto u = std::make_shared<Unbounded<SendResult>>();
    while (send(u->fds->pair[0], m, sizeof m, MSG_DONTWAIT) == static_cast<ssize_t>(sizeof m)) {
    }
    u->fds->SetStop();
    u->call = [](Fds& g) {
        uint8_t one[1024] = {};
        return SendMessage(g.pair[0], one, sizeof one, kWaitForever, g.stop);
    };
    EXPECT_EQ(WithinFiveSeconds(u), SendResult::Stop);
}

}  // namespace
}  // namespace qm
