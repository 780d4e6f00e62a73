// The control pipe on Linux: request round trips and raw pen report pushes through the real
// AF_UNIX pipe, against a bare SOCK_SEQPACKET ping-pong between two threads measured in the
// same run. Each reports its mean and p99 in microseconds and, after the bare one has run,
// its ratio to the bare mean (machine-independent: the goal is at most 1.3).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "shared/PipeMessages.h"
#include "support/Service.h"

namespace {

using namespace qm::pipe;
using Clock = std::chrono::steady_clock;

double g_bareMeanUs = 0;  // set by BM_BarePingPong, which runs first

// Latencies of one run, kept in storage reserved before the timed loop.
class Latencies {
public:
    Latencies() { us_.reserve(1 << 20); }
    void Add(Clock::duration d) {
        if (us_.size() < us_.capacity())
            us_.push_back(std::chrono::duration<double, std::micro>(d).count());
    }
    void Report(benchmark::State& state, bool bare) {
        if (us_.empty())
            return;
        double sum = 0;
        for (double v : us_)
            sum += v;
        const double mean = sum / static_cast<double>(us_.size());
        std::sort(us_.begin(), us_.end());
        const double p99 = us_[std::min(us_.size() - 1, us_.size() * 99 / 100)];
        state.counters["mean_us"] = mean;
        state.counters["p99_us"] = p99;
        if (bare)
            g_bareMeanUs = mean;
        else if (g_bareMeanUs > 0)
            state.counters["ratio_to_bare"] = mean / g_bareMeanUs;
    }

private:
    std::vector<double> us_;
};

// The baseline: one thread echoes each 32-byte message back over a socket pair.
void BM_BarePingPong(benchmark::State& state) {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0) {
        state.SkipWithError("no socket pair");
        return;
    }
    qm::Thread echo;
    echo.Start(
        [](void* p) {
            const int fd = *static_cast<int*>(p);
            uint8_t m[1024];
            for (;;) {
                const ssize_t n = recv(fd, m, sizeof m, 0);
                if (n <= 0 || send(fd, m, static_cast<size_t>(n), MSG_NOSIGNAL) != n)
                    return;
            }
        },
        &fds[1]);
    Latencies latencies;
    uint8_t m[32] = {};
    for (auto _ : state) {
        const auto start = Clock::now();
        if (send(fds[0], m, sizeof m, MSG_NOSIGNAL) != sizeof m ||
            recv(fds[0], m, sizeof m, 0) != sizeof m) {
            state.SkipWithError("echo failed");
            break;
        }
        latencies.Add(Clock::now() - start);
    }
    shutdown(fds[0], SHUT_RDWR);
    echo.Join(5000);
    close(fds[0]);
    close(fds[1]);
    latencies.Report(state, true);
    state.counters["messages_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BarePingPong)->UseRealTime();

struct Connected {
    Connected() {
        s.manager.StartService();
        pen = s.PlugPen("bench/pen");
        for (int i = 0; i < 500 && !client.Open(); ++i)
            qm::SleepMs(10);
        uint8_t m[24];
        BeginRequest(m, 24, kEnumerateDevices, 0);
        client.TimedWrite(m, 24, 5000);
        client.TimedRead(m, 24, 5000);
        token = Get64(m + 8);
    }
    ~Connected() {
        client.Close();
        s.manager.StopService();
    }
    qm::test::ServiceFixture s;
    std::shared_ptr<qm::VirtualHidDevice> pen;
    qm::UnixPipeClient client{s.pipePath};
    uint64_t token = 0;
};

void BM_RequestRoundTrip(benchmark::State& state) {
    Connected c;
    Latencies latencies;
    uint8_t m[32];
    for (auto _ : state) {
        const auto start = Clock::now();
        BeginRequest(m, 32, kGetCalibration, c.token);
        if (!c.client.TimedWrite(m, 32, 5000) || !c.client.TimedRead(m, 32, 5000)) {
            state.SkipWithError("no reply");
            break;
        }
        latencies.Add(Clock::now() - start);
    }
    latencies.Report(state, false);
    state.counters["messages_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RequestRoundTrip)->UseRealTime();

// Raw mode: each report fed to the virtual tablet becomes one pushed 32-byte report; the
// time is from the feed to the client's read.
void BM_RawReportPush(benchmark::State& state) {
    Connected c;
    uint8_t m[32];
    BeginRequest(m, 24, kSetRawMode, c.token);
    m[16] = 1;
    c.client.TimedWrite(m, 24, 5000);
    qm::SleepMs(20);
    Latencies latencies;
    uint64_t lost = 0;
    uint16_t x = 0;
    for (auto _ : state) {
        ++x;
        const auto start = Clock::now();
        c.s.Feed(*c.pen, x, 0, 0);
        if (!c.client.TimedRead(m, 32, 5000) || Get32(m + 16) != x)
            ++lost;
        latencies.Add(Clock::now() - start);
    }
    latencies.Report(state, false);
    state.counters["messages_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["lost"] = static_cast<double>(lost);
    if (lost != 0)
        state.SkipWithError("reports were lost");
}
BENCHMARK(BM_RawReportPush)->UseRealTime();

}  // namespace
