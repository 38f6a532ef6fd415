// The comparison of two readings of 20,000 allocations, as 刷新 makes it:
// the comparison alone, and the view taking the reading (comparison, row
// order, sort by 变化).
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include "uses/use_reading.h"
#include "uses/uses_view.h"

namespace {

const size_t Allocations = 20000;

// 20,000 private allocations of 64 KB; every seventh one `grown` KB more
// committed, every eleventh one missing.
UseTable Reading(ULONGLONG grown) {
    UseTable t = {static_cast<Allocation*>(calloc(Allocations, sizeof(Allocation))), 0, {}, {}, TRUE};
    for (size_t i = 0; i < Allocations; ++i) {
        if (grown && i % 11 == 0) continue;
        Allocation& a = t.allocations[t.count++];
        a.base = 0x10000000ull + i * 0x10000;
        a.size = 0x10000;
        a.committed = 0x1000 + (grown && i % 7 == 0 ? grown * 1024 : 0);
        a.type = MEM_PRIVATE;
        a.regionCount = 2;
        a.kind = USE_PRIVATE_DATA;
    }
    SumUses(t.allocations, t.count, t.sums);
    return t;
}

void CompareTwoReadings(benchmark::State& state) {
    UseTable baseline = Reading(0), current = Reading(8);
    for (auto _ : state) {
        UseChanges changes;
        benchmark::DoNotOptimize(CompareUses(baseline, current, &changes));
        FreeUseChanges(&changes);
    }
    FreeUseTable(&baseline);
    FreeUseTable(&current);
}
BENCHMARK(CompareTwoReadings)->Unit(benchmark::kMillisecond);

void TakeReadingSortedByChange(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        UsesView view = {};
        view.table = Reading(0);
        InitUsesView(&view);
        SortUsesList(&view, USES_ALLOCATIONS, ALLOC_CHANGE);
        UseTable current = Reading(8);
        state.ResumeTiming();
        benchmark::DoNotOptimize(TakeUsesReading(&view, &current, FALSE));
        state.PauseTiming();
        FreeUsesView(&view);
        state.ResumeTiming();
    }
}
BENCHMARK(TakeReadingSortedByChange)->Unit(benchmark::kMillisecond);

}  // namespace
