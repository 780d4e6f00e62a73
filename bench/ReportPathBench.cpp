// The report path, piece by piece: time per sample, and allocations per sample (must be 0).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

#include "AllocationCounter.h"
#include "QmHidSrv/PointerMapping.h"

namespace {

// An output that only keeps the last event, as cheap as injection can be made here.
class NullOutput final : public qm::IPointerOutput {
public:
    uint32_t Inject(const qm::PointerEvent& e) override {
        last = e;
        return 1;
    }
    qm::PointerEvent last;
};

// Fails the run when the measured loop allocated.
void RequireNoAllocation(benchmark::State& state, uint64_t before) {
    const uint64_t allocations = qm::bench::AllocationCount() - before;
    state.counters["allocs_per_sample"] =
        benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
    if (allocations != 0) {
        std::fprintf(stderr, "the report path allocated %llu times\n",
                     static_cast<unsigned long long>(allocations));
        std::exit(1);
    }
}

void BM_MapAndEmit(benchmark::State& state) {
    NullOutput out;
    qm::PointerState pointer;
    const qm::Calibration calibration{100, 200, 20000, -15000};
    const auto rotation = static_cast<uint32_t>(state.range(0));
    int32_t x = 0;
    const uint64_t before = qm::bench::AllocationCount();
    for (auto _ : state) {
        x = (x + 37) & 0x7FFF;
        const auto buttons = static_cast<uint8_t>((x >> 4) & 3);
        qm::MapAndEmit(out, calibration, rotation, pointer, x, 32767 - x, buttons, false);
        benchmark::DoNotOptimize(out.last);
    }
    RequireNoAllocation(state, before);
}
BENCHMARK(BM_MapAndEmit)->Arg(0)->Arg(1)->Arg(3);

}  // namespace

BENCHMARK_MAIN();
