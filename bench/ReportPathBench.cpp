// The report path, piece by piece: time per sample, and allocations per sample (must be 0).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

#include "AllocationCounter.h"
#include "QmHidSrv/HidDevMgr.h"
#include "QmHidSrv/HidTablet.h"
#include "QmHidSrv/PointerMapping.h"
#include "platform/virtual/VirtualHid.h"
#include "support/Descriptors.h"
#include "support/VirtualTablet.h"

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

// A tablet whose samples go through the mapping to the output, as the product tablet's do.
class MappingTablet final : public qm::CHidTablet {
public:
    MappingTablet(qm::CHidDevMgr& m, const char* path) : CHidTablet(m, path) {}
    void OnPenData(uint32_t x, uint32_t y, uint32_t, uint32_t buttons, uint32_t) override {
        qm::MapAndEmit(out, calibration, 0, pointer, static_cast<int32_t>(x),
                       static_cast<int32_t>(y), static_cast<uint8_t>(buttons), false);
    }
    NullOutput out;
    qm::PointerState pointer;
    qm::Calibration calibration{0, 0, 32767, 32767};
};

// Decode plus mapping of one report: what the read thread does per report after the read.
void BM_DecodeAndMap(benchmark::State& state) {
    qm::VirtualHidBackend backend;
    std::string error;
    for (auto& d : qm::VirtualHidDevice::FromDescriptor("bench/pen", qm::test::kPenNoIds, &error))
        backend.Add(d);
    qm::test::TestDevMgr manager(backend);
    MappingTablet tablet(manager, "bench/pen");
    uint8_t report[8] = {0, 0x05, 0x00, 0x10, 0x00, 0x08, 0x00, 0x02};
    uint16_t x = 0;
    const uint64_t before = qm::bench::AllocationCount();
    for (auto _ : state) {
        x = static_cast<uint16_t>((x + 37) & 0x7FFF);
        report[2] = static_cast<uint8_t>(x);
        report[3] = static_cast<uint8_t>(x >> 8);
        report[1] = static_cast<uint8_t>(0x04 | ((x >> 6) & 1));
        tablet.OnReport(report, sizeof report);
        benchmark::DoNotOptimize(tablet.out.last);
    }
    RequireNoAllocation(state, before);
    if (tablet.out.last.flags == 0)
        state.SkipWithError("no event was emitted");
}
BENCHMARK(BM_DecodeAndMap);

}  // namespace

BENCHMARK_MAIN();
