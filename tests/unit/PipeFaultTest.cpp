// The control pipe under faulty clients: for each fault the service stops within its bounds,
// every thread ends, and the pipe serves the next client.
#include <gtest/gtest.h>

#include <atomic>
#include <sys/stat.h>
#include <vector>

#include "shared/PipeMessages.h"
#include "support/PipeClient.h"
#include "support/Service.h"

namespace qm {
namespace {

using namespace pipe;

// A stop must take well under the 5000 ms the pipe thread is given: every pending read, write
// and push ends at once.
constexpr uint64_t kPromptStopMs = 1500;

bool Connect(UnixPipeClient& c) {
    return test::ConnectWithRetry(c);
}

void SendEnumerate(UnixPipeClient& c, uint32_t timeoutMs = 5000, bool* sent = nullptr) {
    uint8_t m[24];
    BeginRequest(m, sizeof m, kEnumerateDevices, 0);
    const bool ok = c.TimedWrite(m, sizeof m, timeoutMs);
    if (sent != nullptr)
        *sent = ok;
}

// What a fault's client thread shares with the test.
struct FaultRun {
    test::ServiceFixture* service = nullptr;
    std::shared_ptr<VirtualHidDevice> pen;
    Event ready{true};     // the fault is in place: the test may stop the service
    Event finished{true};  // the service has stopped: the client may end
    std::atomic<bool> stopping{false};
};

struct FaultCase {
    const char* name;
    void (*client)(FaultRun&);
};

// Sends requests and never reads: the replies fill the socket until writes no longer go.
void NeverReads(FaultRun& r) {
    UnixPipeClient c(r.service->pipePath);
    if (!Connect(c))
        return;
    bool sent = true;
    for (int i = 0; i < 5000 && sent; ++i)
        SendEnumerate(c, 50, &sent);
    r.ready.Set();
    r.finished.Wait(10000);
}

// Asks for a stream of replies and leaves in the middle of it.
void LeavesMidStream(FaultRun& r) {
    UnixPipeClient c(r.service->pipePath);
    if (!Connect(c))
        return;
    for (int i = 0; i < 200; ++i)
        SendEnumerate(c, 100);
    uint8_t m[24];
    for (int i = 0; i < 10; ++i)
        c.TimedRead(m, sizeof m, 1000);
    c.Close();
    r.ready.Set();
    r.finished.Wait(10000);
}

void NeverSends(FaultRun& r) {
    UnixPipeClient c(r.service->pipePath);
    if (!Connect(c))
        return;
    SleepMs(50);  // accepted
    r.ready.Set();
    r.finished.Wait(10000);
}

// Raw mode on, the pen streaming and the client reading, while the service stops.
void StreamsRaw(FaultRun& r) {
    UnixPipeClient c(r.service->pipePath);
    if (!Connect(c))
        return;
    uint8_t m[32];
    BeginRequest(m, 24, kEnumerateDevices, 0);
    if (!c.TimedWrite(m, 24, 5000) || !c.TimedRead(m, 24, 5000))
        return;
    const uint64_t token = Get64(m + 8);
    BeginRequest(m, 24, kSetRawMode, token);
    m[16] = 1;
    c.TimedWrite(m, 24, 5000);
    SleepMs(50);
    struct Feeder {
        FaultRun* run;
        Thread thread;
    } feeder{&r, {}};
    feeder.thread.Start(
        [](void* p) {
            auto* f = static_cast<Feeder*>(p);
            for (uint16_t x = 0; !f->run->stopping; ++x) {
                f->run->service->Feed(*f->run->pen, x, 100, 1);
                SleepMs(1);
            }
        },
        &feeder);
    int got = 0;
    while (got < 20 && c.TimedRead(m, 32, 2000))
        ++got;
    r.ready.Set();
    while (!r.stopping)
        c.TimedRead(m, 32, 10);
    feeder.thread.Join(5000);
    r.finished.Wait(10000);
}

// Connects and leaves again, over and over, while the service stops.
void Churns(FaultRun& r) {
    for (int i = 0; i < 200; ++i) {
        UnixPipeClient c(r.service->pipePath);
        if (c.Open()) {
            if (i % 3 == 0)
                SendEnumerate(c, 100);
            c.Close();
        }
        if (i == 20)
            r.ready.Set();
    }
    r.ready.Set();
    r.finished.Wait(10000);
}

const FaultCase kFaults[] = {
    {"ClientThatNeverReads", &NeverReads},          {"ClientThatLeavesMidStream", &LeavesMidStream},
    {"ClientThatNeverSends", &NeverSends},          {"StopDuringRawStream", &StreamsRaw},
    {"ConnectDisconnectCyclesDuringStop", &Churns},
};

class PipeFault : public testing::TestWithParam<FaultCase> {};

TEST_P(PipeFault, TheServiceStopsPromptlyAndEveryThreadEnds) {
    test::ServiceFixture s;
    ASSERT_TRUE(s.manager.StartService());
    FaultRun run;
    run.service = &s;
    run.pen = s.PlugPen("virtual/pen");
    Thread client;
    ASSERT_TRUE(client.Start(
        [](void* p) {
            auto* r = static_cast<FaultRun*>(p);
            GetParam().client(*r);
            r->ready.Set();  // also when the fault could not be set up: the test then fails
        },
        &run));
    ASSERT_TRUE(run.ready.Wait(20000));
    const uint64_t start = MonotonicMs();
    run.stopping = true;
    EXPECT_TRUE(s.manager.StopService());
    EXPECT_LT(MonotonicMs() - start, kPromptStopMs);
    EXPECT_FALSE(s.manager.PipeThreadRunning());
    EXPECT_FALSE(s.manager.LeftThreadsBehind());
    EXPECT_EQ(s.manager.DeviceCount(), 0);
    run.finished.Set();
    EXPECT_TRUE(client.Join(15000));
}

INSTANTIATE_TEST_SUITE_P(Cases, PipeFault, testing::ValuesIn(kFaults),
                         [](const auto& c) { return std::string(c.param.name); });

// A client that does not take its reply within the bound is let go, so the one instance is
// free for the next client.
TEST(PipeFaultAfter, AClientThatNeverReadsIsLetGoAndTheNextIsServed) {
    test::ServiceFixture s;
    ASSERT_TRUE(s.manager.StartService());
    UnixPipeClient flood(s.pipePath);
    ASSERT_TRUE(Connect(flood));
    bool sent = true;
    int requests = 0;
    for (; requests < 5000 && sent; ++requests)
        SendEnumerate(flood, 50, &sent);
    EXPECT_GT(requests, 10);
    UnixPipeClient next(s.pipePath);
    const uint64_t start = MonotonicMs();
    ASSERT_TRUE(Connect(next) || Connect(next));  // 3 s each: the reply bound is 2 s
    EXPECT_GE(MonotonicMs() - start, kReplyTimeoutMs - 100);
    uint8_t m[24];
    BeginRequest(m, sizeof m, kEnumerateDevices, 0);
    ASSERT_TRUE(next.TimedWrite(m, sizeof m, 5000));
    EXPECT_TRUE(next.TimedRead(m, sizeof m, 5000));
    EXPECT_TRUE(s.manager.StopService());
}

// An empty message is no end of the connection: the next request is answered.
TEST(PipeFaultAfter, AnEmptyMessageLeavesTheConnectionUsable) {
    test::ServiceFixture s;
    ASSERT_TRUE(s.manager.StartService());
    UnixPipeClient c(s.pipePath);
    ASSERT_TRUE(Connect(c));
    EXPECT_TRUE(c.TimedWrite(nullptr, 0, 1000));
    uint8_t m[24];
    BeginRequest(m, sizeof m, kEnumerateDevices, 0);
    ASSERT_TRUE(c.TimedWrite(m, sizeof m, 5000));
    EXPECT_TRUE(c.TimedRead(m, sizeof m, 5000));
    EXPECT_EQ(m[0], kEnumerateDevices);
    EXPECT_TRUE(s.manager.StopService());
}

// The name belongs to the first server for its whole life: a rival never gets it, neither
// while a client is connected (the first does not listen then) nor between clients.
TEST(PipeOwnership, ARivalNeverTakesTheName) {
    test::ServiceFixture a;
    ASSERT_TRUE(a.manager.StartService());
    UnixPipeClient client(a.pipePath);
    ASSERT_TRUE(Connect(client));
    uint8_t m[24];
    BeginRequest(m, sizeof m, kEnumerateDevices, 0);  // served: the client has been taken
    ASSERT_TRUE(client.TimedWrite(m, sizeof m, 5000));
    ASSERT_TRUE(client.TimedRead(m, sizeof m, 5000));
    {
        UnixPipeServer rival(a.pipePath);
        long owner = 0;
        EXPECT_FALSE(rival.Claim(&owner));
        EXPECT_EQ(owner, static_cast<long>(getpid()));
        EXPECT_FALSE(rival.Create());
    }  // the rival's end leaves the name alone
    UnixPipeClient second(a.pipePath);
    EXPECT_FALSE(second.Open());  // busy: refused at once
    EXPECT_EQ(second.OpenError(), ECONNREFUSED);
    client.Close();
    UnixPipeClient after(a.pipePath);
    ASSERT_TRUE(Connect(after));  // the first still serves
    BeginRequest(m, sizeof m, kEnumerateDevices, 0);
    ASSERT_TRUE(after.TimedWrite(m, sizeof m, 5000));
    EXPECT_TRUE(after.TimedRead(m, sizeof m, 5000));
    after.Close();
    EXPECT_TRUE(a.manager.StopService());
    // Once the first has stopped, the name is free for the next server.
    UnixPipeServer next(a.pipePath);
    EXPECT_TRUE(next.Create());
}

// Clients come and go as fast as they can while rivals try to claim the name: no rival ever
// gets it, and the name always names the first server's socket.
TEST(PipeOwnership, NoMomentInWhichTheNameLooksFree) {
    test::ServiceFixture a;
    ASSERT_TRUE(a.manager.StartService());
    {
        UnixPipeClient probe(a.pipePath);  // the pipe thread has made the pipe
        ASSERT_TRUE(Connect(probe));
    }
    struct Churn {
        std::string path;
        std::atomic<bool> stop{false};
        std::atomic<int> served{0};
    } churn{a.pipePath};
    Thread t;
    ASSERT_TRUE(t.Start(
        [](void* p) {
            auto* c = static_cast<Churn*>(p);
            while (!c->stop) {
                UnixPipeClient client(c->path);
                if (client.Open()) {
                    uint8_t m[24];
                    BeginRequest(m, sizeof m, kEnumerateDevices, 0);
                    if (client.TimedWrite(m, sizeof m, 1000) && client.TimedRead(m, 24, 1000))
                        ++c->served;
                    client.Close();
                }
            }
        },
        &churn));
    int rivalsRefused = 0, rivals = 0;
    for (; rivals < 200 || (churn.served < 50 && rivals < 100000); ++rivals) {
        UnixPipeServer rival(a.pipePath);
        if (!rival.Create())
            ++rivalsRefused;
        struct stat st {};
        ASSERT_EQ(lstat(a.pipePath.c_str(), &st), 0) << rivals;
    }
    churn.stop = true;
    ASSERT_TRUE(t.Join(5000));
    EXPECT_EQ(rivalsRefused, rivals);
    EXPECT_GT(churn.served.load(), 0);
    EXPECT_TRUE(a.manager.StopService());
}

// A pipe that cannot be had at start is tried again until it can.
TEST(PipeOwnership, APipeTakenAtStartIsHadOnceItIsFree) {
    const std::string path = test::ServiceFixture::TempPipePath();
    auto holder = std::make_unique<UnixPipeServer>(path);
    ASSERT_TRUE(holder->Create());
    struct Log final : IServiceLog {
        void Error(uint32_t, const char* what) override {
            EXPECT_STREQ(what, "CreateNamedPipe");
            ++errors;
        }
        std::atomic<int> errors{0};
    } log;
    VirtualHidBackend backend;
    VirtualDeviceWatcher watcher(backend);
    FixedDisplayOrientation display;
    test::MemorySettingsStore store;
    RecordingPointerOutput output{16};
    UnixPipeServer pipe(path);
    CQmTabMgr manager(ServicePlatform{backend, watcher, display, store, output, pipe, &log});
    ASSERT_TRUE(manager.StartService());
    SleepMs(2500);  // two retries: still said only once
    EXPECT_EQ(log.errors.load(), 1);
    holder.reset();
    UnixPipeClient c(path);
    ASSERT_TRUE(Connect(c));
    uint8_t m[24];
    BeginRequest(m, sizeof m, kEnumerateDevices, 0);
    ASSERT_TRUE(c.TimedWrite(m, sizeof m, 5000));
    EXPECT_TRUE(c.TimedRead(m, sizeof m, 5000));
    c.Close();
    EXPECT_TRUE(manager.StopService());
}

}  // namespace
}  // namespace qm
