// The control pipe on Linux: request round trips and raw pen report pushes through the real
// AF_UNIX pipe, in messages per second, with nothing lost while the client reads.
#include <benchmark/benchmark.h>

#include <atomic>

#include "shared/PipeMessages.h"
#include "support/Service.h"

namespace {

using namespace qm::pipe;

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
    uint8_t m[32];
    for (auto _ : state) {
        BeginRequest(m, 32, kGetCalibration, c.token);
        if (!c.client.TimedWrite(m, 32, 5000) || !c.client.TimedRead(m, 32, 5000)) {
            state.SkipWithError("no reply");
            break;
        }
    }
    state.counters["messages_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RequestRoundTrip)->UseRealTime();

// Raw mode: each report fed to the virtual tablet becomes one pushed 32-byte report.
void BM_RawReportPush(benchmark::State& state) {
    Connected c;
    uint8_t m[32];
    BeginRequest(m, 24, kSetRawMode, c.token);
    m[16] = 1;
    c.client.TimedWrite(m, 24, 5000);
    qm::SleepMs(20);
    uint64_t lost = 0;
    uint16_t x = 0;
    for (auto _ : state) {
        ++x;
        c.s.Feed(*c.pen, x, 0, 0);
        if (!c.client.TimedRead(m, 32, 5000) || Get32(m + 16) != x)
            ++lost;
    }
    state.counters["messages_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["lost"] = static_cast<double>(lost);
    if (lost != 0)
        state.SkipWithError("reports were lost");
}
BENCHMARK(BM_RawReportPush)->UseRealTime();

}  // namespace
