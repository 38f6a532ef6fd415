// The comparison 刷新 makes of two readings of 20,000 allocations: every
// seventh grown by 8 KB, every eleventh gone.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include "uses/use_reading.h"
#include "uses/uses_changes.h"

namespace {

UseTable Reading(bool changed) {
    UseTable t = {static_cast<Allocation*>(calloc(20000, sizeof(Allocation))), 0, {}, {}, TRUE};
    for (size_t i = 0; i < 20000; ++i)
        if (!changed || i % 11) {
            ULONGLONG committed = 0x1000 + (changed && i % 7 == 0 ? 0x2000 : 0);
            t.allocations[t.count++] = {0x10000000ull + i * 0x10000, 0x10000, committed, 0, 0, MEM_PRIVATE, 0, 2, USE_PRIVATE_DATA, 0};
        }
    SumUses(t.allocations, t.count, t.sums);
    return t;
}

void CompareTwoReadings(benchmark::State& state) {
    UseTable baseline = Reading(false), current = Reading(true);
    for (auto _ : state) {
        UseChanges changes;
        benchmark::DoNotOptimize(CompareUses(baseline, current, &changes));
        FreeUseChanges(&changes);
    }
    FreeUseTable(&baseline);
    FreeUseTable(&current);
}
BENCHMARK(CompareTwoReadings)->Unit(benchmark::kMillisecond);

}  // namespace
