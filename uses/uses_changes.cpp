#include "uses/uses_changes.h"

#include <stdint.h>
#include <stdlib.h>

#include "app/format.h"
#include "uses/uses_view.h"

namespace {

const LPCWSTR StatusTexts[] = {L"", L"新增", L"已释放", L"增长", L"缩小", L"改变"};

bool SameText(const WCHAR* a, const WCHAR* b) {
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
}

UseStatus StatusOfPair(const UseTable& baseline, const Allocation& was, const UseTable& current, const Allocation& is) {
    if (is.committed > was.committed) return STATUS_GROWN;
    if (is.committed < was.committed) return STATUS_SHRUNK;
    if (is.size != was.size || is.regionCount != was.regionCount || is.signature != was.signature ||
        is.kind != was.kind || !SameText(UseText(current.texts, is.detail), UseText(baseline.texts, was.detail)))
        return STATUS_CHANGED;
    return STATUS_NONE;
}

// -1, 0 or 1 as the allocation a lies before, at or after b by (base, type).
int CompareKeys(const Allocation& a, const Allocation& b) {
    if (a.base != b.base) return a.base < b.base ? -1 : 1;
    if (a.type != b.type) return a.type < b.type ? -1 : 1;
    return 0;
}

// Skips free regions: they are no allocation and are never compared.
size_t NextAllocation(const UseTable& table, size_t i) {
    while (i < table.count && table.allocations[i].kind == USE_FREE) ++i;
    return i;
}

void Append(WCHAR* out, size_t units, size_t* at, LPCWSTR text) {
    for (; *text && *at + 1 < units; ++text) out[(*at)++] = *text;
    out[*at] = 0;
}

// Three significant digits: 5,342 as 5,340.
ULONGLONG RoundToThreeDigits(ULONGLONG value) {
    ULONGLONG step = 1;
    while (value >= 1000 * step) step *= 10;
    return (value + step / 2) / step * step;
}

void FormatClock(const SYSTEMTIME& t, WCHAR* out) { wsprintfW(out, L"%02u:%02u:%02u", t.wHour, t.wMinute, t.wSecond); }

}  // namespace

LPCWSTR UseStatusText(UseStatus status) {
    return status >= STATUS_NONE && status <= STATUS_CHANGED ? StatusTexts[status] : L"";
}

BOOL CompareUses(const UseTable& baseline, const UseTable& current, UseChanges* changes) {
    *changes = {};
    size_t items = current.count + baseline.count;
    if (baseline.count > SIZE_MAX / sizeof(long long) - current.count) return FALSE;
    changes->status = static_cast<unsigned char*>(calloc(items ? items : 1, 1));
    changes->change = static_cast<long long*>(calloc(items ? items : 1, sizeof(long long)));
    changes->freed = static_cast<size_t*>(malloc((baseline.count ? baseline.count : 1) * sizeof(size_t)));
    if (!changes->status || !changes->change || !changes->freed) {
        FreeUseChanges(changes);
        return FALSE;
    }
    size_t b = NextAllocation(baseline, 0);
    size_t c = NextAllocation(current, 0);
    while (b < baseline.count || c < current.count) {
        int order = b == baseline.count ? 1 : c == current.count ? -1 : CompareKeys(baseline.allocations[b], current.allocations[c]);
        if (order < 0) {  // gone since the baseline
            changes->freed[changes->freedCount++] = b;
            b = NextAllocation(baseline, b + 1);
        } else if (order > 0) {
            changes->status[c] = STATUS_NEW;
            changes->change[c] = static_cast<long long>(current.allocations[c].committed);
            c = NextAllocation(current, c + 1);
        } else {
            const Allocation& was = baseline.allocations[b];
            const Allocation& is = current.allocations[c];
            changes->status[c] = static_cast<unsigned char>(StatusOfPair(baseline, was, current, is));
            changes->change[c] = static_cast<long long>(is.committed) - static_cast<long long>(was.committed);
            b = NextAllocation(baseline, b + 1);
            c = NextAllocation(current, c + 1);
        }
    }
    for (size_t i = 0; i < changes->freedCount; ++i) {
        size_t item = current.count + i;
        changes->status[item] = STATUS_FREED;
        changes->change[item] = -static_cast<long long>(baseline.allocations[changes->freed[i]].committed);
    }
    changes->itemCount = current.count + changes->freedCount;
    for (int row = 0; row < USE_SUMMARY_ROWS; ++row)
        changes->sums[row] =
            static_cast<long long>(current.sums[row].committed) - static_cast<long long>(baseline.sums[row].committed);
    return TRUE;
}

void FreeUseChanges(UseChanges* changes) {
    free(changes->status);
    free(changes->change);
    free(changes->freed);
    *changes = {};
}

void FormatChange(long long bytes, WCHAR* out) {
    ULONGLONG magnitude = bytes < 0 ? 0 - static_cast<ULONGLONG>(bytes) : static_cast<ULONGLONG>(bytes);
    size_t at = 0;
    if (magnitude / 1024 != 0) out[at++] = bytes < 0 ? L'-' : L'+';
    FormatKilobytes(magnitude, out + at);
}

void FormatElapsed(DWORD seconds, WCHAR* out, size_t units) {
    WCHAR text[48];
    DWORD h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
    if (h) wsprintfW(text, L"%u小时%u分%u秒", h, m, s);
    else if (m) wsprintfW(text, L"%u分%u秒", m, s);
    else wsprintfW(text, L"%u秒", s);
    size_t at = 0;
    if (units) Append(out, units, &at, text);
}

void FormatChangeNote(const SYSTEMTIME& baseline, const SYSTEMTIME& now, DWORD seconds, long long committedChange,
                      BOOL sameReading, WCHAR* out, size_t units) {
    if (units == 0) return;
    size_t at = 0;
    out[0] = 0;
    WCHAR part[USE_CHANGE_UNITS];
    FormatClock(baseline, part);
    Append(out, units, &at, L"基准 ");
    Append(out, units, &at, part);
    if (sameReading) return;
    FormatClock(now, part);
    Append(out, units, &at, L"  现在 ");
    Append(out, units, &at, part);
    FormatElapsed(seconds, part, USE_CHANGE_UNITS);
    Append(out, units, &at, L" (");
    Append(out, units, &at, part);
    Append(out, units, &at, L")  已调拨 ");
    FormatChange(committedChange, part);
    Append(out, units, &at, part);
    if (seconds == 0) return;
    ULONGLONG magnitude = committedChange < 0 ? 0 - static_cast<ULONGLONG>(committedChange)
                                              : static_cast<ULONGLONG>(committedChange);
    ULONGLONG perMinute = RoundToThreeDigits(magnitude / 1024 * 60 / seconds);
    FormatChange(committedChange < 0 ? -static_cast<long long>(perMinute * 1024) : static_cast<long long>(perMinute * 1024),
                 part);
    Append(out, units, &at, L" (每分钟 ");
    Append(out, units, &at, part);
    Append(out, units, &at, L")");
}
