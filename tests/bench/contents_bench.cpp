// The "内存内容" worker's own work on 64 MB of text lines (one each 128
// bytes, as the end-to-end suite's timed target holds): the string finder
// and a find that matches nothing, without the platform's reads.
#include <benchmark/benchmark.h>

#include <stdio.h>

#include <vector>

#include "contents/contents_find.h"
#include "contents/contents_reading.h"
#include "contents/contents_strings.h"

namespace {

const size_t kSize = 64u << 20;

const std::vector<BYTE>& Lines() {
    static std::vector<BYTE> bytes = [] {
        std::vector<BYTE> b(kSize, 0);
        for (size_t at = 0; at < kSize; at += 128)
            snprintf(reinterpret_cast<char*>(b.data() + at), 100, "Morvane strings line %08zu of the 64 MB test", at / 128);
        return b;
    }();
    return bytes;
}

void BM_Strings64MB(benchmark::State& state) {
    const std::vector<BYTE>& bytes = Lines();
    for (auto _ : state) {
        StringScanner scanner;
        StringList list = {};
        StartStringScan(&scanner, STRING_MIN_DEFAULT);
        for (size_t at = 0; at < kSize; at += CONTENTS_RUN_BYTES)
            ScanStrings(&scanner, 0x30000000 + at, bytes.data() + at, CONTENTS_RUN_BYTES, TRUE, &list);
        EndStringScan(&scanner, &list);
        state.counters["strings"] = static_cast<double>(list.count);
        FreeStringList(&list);
    }
}
BENCHMARK(BM_Strings64MB)->Unit(benchmark::kMillisecond);

void BM_FindNothing64MB(benchmark::State& state) {
    const std::vector<BYTE>& bytes = Lines();
    FindPattern pattern;
    ParseFindText(reinterpret_cast<const WCHAR*>(u"NoSuchText"), FALSE, &pattern);
    for (auto _ : state) {
        FindScanner scanner;
        ULONGLONG found;
        StartFind(&scanner, pattern);
        for (size_t at = 0; at < kSize; at += CONTENTS_RUN_BYTES)
            benchmark::DoNotOptimize(FindInBytes(&scanner, 0x30000000 + at, bytes.data() + at, CONTENTS_RUN_BYTES,
                                                 TRUE, 0, ~0ull, &found));
    }
}
BENCHMARK(BM_FindNothing64MB)->Unit(benchmark::kMillisecond);

}  // namespace
