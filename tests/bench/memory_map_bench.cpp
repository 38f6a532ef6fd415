// The marking work of one memory map pass over spans totalling 1.5 GB:
// one line per 50 bytes against one line per pixel row. Both paint the same
// picture; the counter `line_draws` is what each costs the platform.
#include <benchmark/benchmark.h>

#include "inspect/painter.h"
#include "inspect/regions.h"
#include "resources/resource.h"
#include "tests/fake/fake_platform.h"

namespace {

// 1.5 GB committed as a process might hold it: one large block, a few
// hundred megabytes of middling ones and many small ones.
void FillCommitted() {
    EmptyRegionLists();
    DWORD base = 0x00400000;
    auto add = [&](DWORD size, int count) {
        for (int i = 0; i < count; ++i) {
            KeepRegionSpan(&CommittedRegions, base, size);
            base += size + 0x10000;
        }
    };
    add(0x30000000, 1);   // 768 MB
    add(0x01000000, 40);  // 640 MB
    add(0x00010000, 2048);  // 128 MB
}

void MarkBySteps(HDC dc) {
    for (size_t i = 0; i < CommittedRegions.count; ++i) {
        DWORD base = static_cast<DWORD>(CommittedRegions.spans[i].base);
        DWORD end = base + static_cast<DWORD>(CommittedRegions.spans[i].size);
        if (end < base) continue;
        for (DWORD a = base;;) {
            int y = MapRowOf(a);
            MoveToEx(dc, MAP_COMMITTED_LEFT, y, nullptr);
            LineTo(dc, MAP_COMMITTED_RIGHT, y);
            DWORD next = a + MAP_ADDRESS_STEP;
            if (next < a || next > end) break;
            a = next;
        }
    }
}

// The product's pass: its 200 background lines are left out of the count.
void PaintPass(HDC dc) { PaintMemoryMap(dc); }
const long long BackgroundLines = 2 * (MAP_BOTTOM - MAP_TOP) / 4;

template <void (*Mark)(HDC), long long Background>
void MarkingPass(benchmark::State& state) {
    fake::Reset();
    fake::SetLineRecording(false);
    FillCommitted();
    HWND window = fake::NewDialog(IDD_PROCESS_MEMORY);
    HDC dc = GetDC(window);
    long long draws = 0;
    for (auto _ : state) {
        fake::ClearDrawnLines();
        Mark(dc);
        draws = fake::LineDrawCount() - Background;
    }
    ReleaseDC(window, dc);
    state.counters["line_draws"] = static_cast<double>(draws);
    state.counters["spans"] = static_cast<double>(CommittedRegions.count);
}

BENCHMARK(MarkingPass<MarkBySteps, 0>)->Name("MarkingPass/every_50_bytes")->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(MarkingPass<PaintPass, BackgroundLines>)->Name("MarkingPass/every_row")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
