// The memory-use table: allocations, their kinds and the sums by kind.
#include "uses/uses.h"

#include <stdint.h>
#include <stdlib.h>

#include "app/format.h"
#include "uses/use_reading.h"

namespace {

const WCHAR* const RowNames[USE_SUMMARY_ROWS] = {
    L"镜像", L"映射文件", L"共享内存", L"堆", L"线程栈", L"私有数据", L"未用", L"总计",
};

UseKind KindOfType(DWORD type) {
    switch (type) {
    case MEM_IMAGE:
        return USE_IMAGE;
    case MEM_MAPPED:
        return USE_MAPPED_FILE;
    default:
        return USE_PRIVATE_DATA;
    }
}

// The address one past an allocation's last region.
ULONGLONG AllocationEnd(const Allocation& a, const RegionRecord* regions) {
    const RegionRecord& last = regions[a.firstRegion + a.regionCount - 1];
    return last.base + last.size;
}

int CompareMarks(const void* a, const void* b) {
    const UseMark* x = static_cast<const UseMark*>(a);
    const UseMark* y = static_cast<const UseMark*>(b);
    if (x->address != y->address) return x->address < y->address ? -1 : 1;
    if (x->what != y->what) return x->what < y->what ? -1 : 1;
    return x->threadId < y->threadId ? -1 : x->threadId > y->threadId ? 1 : 0;
}

// The text a mark adds to 详情.
void MarkLabel(const UseMark& mark, WCHAR* label) {
    switch (mark.what) {
    case MARK_STACK:
        wsprintfW(label, L"线程ID:%u", mark.threadId);
        break;
    case MARK_DEFAULT_HEAP:
        wcscpy_s(label, USE_DETAIL_UNITS, L"默认堆");
        break;
    case MARK_HEAP:
        FormatHexLine(label, L"堆 ", mark.address, L"");
        break;
    case MARK_PEB:
        wcscpy_s(label, USE_DETAIL_UNITS, L"进程环境块");
        break;
    case MARK_TEB:
        wsprintfW(label, L"线程环境块 线程ID:%u", mark.threadId);
        break;
    }
}

bool SameText(const WCHAR* a, const WCHAR* b) {
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
}

// Appends a label to 详情, after "; " when it is not the first; a label
// already there, or one that does not fit whole, is left out.
void AppendLabel(WCHAR* detail, const WCHAR* label, WCHAR* last) {
    if (detail[0] && SameText(label, last)) return;
    size_t have = static_cast<size_t>(lstrlenW(detail));
    size_t need = (have ? 2 : 0) + static_cast<size_t>(lstrlenW(label)) + 1;
    if (have + need > USE_DETAIL_UNITS) return;
    if (have) wcscat_s(detail, USE_DETAIL_UNITS, L"; ");
    wcscat_s(detail, USE_DETAIL_UNITS, label);
    wcscpy_s(last, USE_DETAIL_UNITS, label);
}

// The kind a mark gives the allocation based at `base` it falls in. A heap
// handle is its heap's base: one inside an allocation is no heap of it.
UseKind KindOfMark(const UseMark& mark, ULONGLONG base) {
    switch (mark.what) {
    case MARK_STACK:
        return USE_THREAD_STACK;
    case MARK_DEFAULT_HEAP:
    case MARK_HEAP:
        return mark.address == base ? USE_HEAP : USE_KIND_COUNT;
    default:
        return USE_PRIVATE_DATA;
    }
}

// Labels one private allocation from the marks that fall in it: a stack
// before a heap before the TEBs and PEB; 详情 names the marks of that kind.
void LabelAllocation(Allocation* a, const UseMark* marks, size_t count, UseTexts* texts) {
    const UseKind order[] = {USE_THREAD_STACK, USE_HEAP, USE_PRIVATE_DATA};
    UseKind kind = USE_KIND_COUNT;
    for (UseKind k : order)
        for (size_t i = 0; i < count && kind == USE_KIND_COUNT; ++i)
            if (KindOfMark(marks[i], a->base) == k) kind = k;
    if (kind == USE_KIND_COUNT) return;
    a->kind = kind;
    WCHAR label[USE_DETAIL_UNITS];
    WCHAR last[USE_DETAIL_UNITS] = L"";
    WCHAR detail[USE_DETAIL_UNITS] = L"";
    for (size_t i = 0; i < count; ++i) {
        if (KindOfMark(marks[i], a->base) != kind) continue;
        MarkLabel(marks[i], label);
        AppendLabel(detail, label, last);
    }
    a->detail = KeepUseText(texts, detail);
}

// Folds one region into its allocation's signature (FNV-1a over the
// region's offset in the allocation, size, state and protection).
DWORD FoldRegion(DWORD signature, ULONGLONG base, const RegionRecord& r) {
    const ULONGLONG parts[4] = {r.base - base, r.size, r.state, r.protect};
    for (ULONGLONG part : parts)
        for (int byte = 0; byte < 8; ++byte) {
            signature ^= static_cast<DWORD>((part >> (8 * byte)) & 0xFF);
            signature *= 16777619u;
        }
    return signature;
}

}  // namespace

size_t KeepUseText(UseTexts* texts, LPCWSTR text) {
    size_t length = 0;
    while (text[length] && length + 1 < USE_DETAIL_UNITS) ++length;
    if (length == 0) return 0;
    // The first unit is the empty text every offset 0 names.
    size_t need = (texts->length ? texts->length : 1) + length + 1;
    if (need > texts->capacity) {
        size_t capacity = texts->capacity ? texts->capacity : 4096;
        while (capacity < need && capacity <= SIZE_MAX / 2 / sizeof(WCHAR)) capacity *= 2;
        void* grown = capacity >= need ? realloc(texts->units, capacity * sizeof(WCHAR)) : nullptr;
        if (!grown) return 0;
        texts->units = static_cast<WCHAR*>(grown);
        texts->capacity = capacity;
    }
    if (texts->length == 0) texts->units[texts->length++] = 0;
    size_t offset = texts->length;
    for (size_t i = 0; i < length; ++i) texts->units[offset + i] = text[i];
    texts->units[offset + length] = 0;
    texts->length = offset + length + 1;
    return offset;
}

LPCWSTR UseText(const UseTexts& texts, size_t offset) {
    return texts.units && offset < texts.length ? texts.units + offset : L"";
}

void FreeUseTexts(UseTexts* texts) {
    free(texts->units);
    *texts = {};
}

LPCWSTR UseRowName(int row) { return row >= 0 && row < USE_SUMMARY_ROWS ? RowNames[row] : L""; }

size_t GroupAllocations(const RegionRecord* regions, size_t count, Allocation* allocations) {
    size_t n = 0;
    for (size_t i = 0; i < count; ++i) {
        const RegionRecord& r = regions[i];
        ULONGLONG committed = r.state == MEM_COMMIT ? r.size : 0;
        if (r.state != MEM_FREE && n > 0) {
            Allocation& last = allocations[n - 1];
            if (last.kind != USE_FREE && last.base == r.allocationBase && AllocationEnd(last, regions) == r.base) {
                last.size += r.size;
                last.committed += committed;
                last.regionCount++;
                last.signature = FoldRegion(last.signature, last.base, r);
                continue;
            }
        }
        Allocation& a = allocations[n++];
        bool free = r.state == MEM_FREE;
        a.base = free || r.allocationBase == 0 ? r.base : r.allocationBase;
        a.size = r.size;
        a.committed = committed;
        a.type = free ? 0 : r.type;
        a.allocationProtect = free ? 0 : r.allocationProtect;
        a.regionCount = 1;
        a.firstRegion = i;
        a.kind = free ? USE_FREE : KindOfType(r.type);
        a.detail = 0;
        a.signature = FoldRegion(2166136261u, a.base, r);
    }
    return n;
}

BOOL AddUseMark(UseMarks* marks, ULONGLONG address, UseMarkWhat what, DWORD threadId) {
    if (marks->count == marks->capacity) {
        size_t capacity = marks->capacity ? marks->capacity * 2 : 64;
        void* grown = capacity <= SIZE_MAX / sizeof(UseMark) ? realloc(marks->items, capacity * sizeof(UseMark))
                                                              : nullptr;
        if (!grown) return FALSE;
        marks->items = static_cast<UseMark*>(grown);
        marks->capacity = capacity;
    }
    marks->items[marks->count++] = {address, what, threadId};
    return TRUE;
}

void FreeUseMarks(UseMarks* marks) {
    free(marks->items);
    *marks = {};
}

void ApplyUseMarks(Allocation* allocations, size_t count, const RegionRecord* regions, UseMarks* marks,
                   UseTexts* texts) {
    if (!marks->count) return;
    qsort(marks->items, marks->count, sizeof(UseMark), CompareMarks);
    // Both are in address order: one pass over the two.
    size_t m = 0;
    for (size_t i = 0; i < count && m < marks->count; ++i) {
        Allocation& a = allocations[i];
        ULONGLONG start = regions[a.firstRegion].base;
        ULONGLONG end = AllocationEnd(a, regions);
        while (m < marks->count && marks->items[m].address < start) ++m;
        size_t first = m;
        while (m < marks->count && marks->items[m].address < end) ++m;
        if (m > first && a.kind == USE_PRIVATE_DATA && a.type == MEM_PRIVATE)
            LabelAllocation(&a, marks->items + first, m - first, texts);
    }
}

void SumUses(const Allocation* allocations, size_t count, UseSum* sums) {
    for (int row = 0; row < USE_SUMMARY_ROWS; ++row) sums[row] = {};
    for (size_t i = 0; i < count; ++i) {
        const Allocation& a = allocations[i];
        bool free = a.kind == USE_FREE;
        UseSum* rows[2] = {&sums[a.kind], free ? nullptr : &sums[USE_TOTAL_ROW]};
        for (UseSum* s : rows) {
            if (!s) continue;
            s->size += a.size;
            s->committed += free ? 0 : a.committed;
            s->reserved += free ? 0 : a.size - a.committed;
            if (a.size > s->largest) s->largest = a.size;
            s->blocks++;
        }
    }
}

BOOL BuildUseTable(DWORD pid, ULONGLONG created, const RegionRecord* regions, size_t count, UseTable* table) {
    *table = {};
    if (count > SIZE_MAX / sizeof(Allocation)) return FALSE;
    Allocation* allocations = static_cast<Allocation*>(malloc((count ? count : 1) * sizeof(Allocation)));
    if (!allocations) return FALSE;
    size_t n = GroupAllocations(regions, count, allocations);

    // Query rights and memory reads; with query rights alone the files can
    // still be named.
    HANDLE process = OpenProcess(MORVANE_ACCESS_QUERY | PROCESS_VM_READ, FALSE, pid);
    BOOL canRead = process != nullptr;
    if (!process) process = OpenProcess(MORVANE_ACCESS_QUERY, FALSE, pid);
    // The walked process may have ended and its PID gone to another one
    // since: only the process created when the walked one was is read.
    if (process && (created == 0 || ProcessCreationTime(process) != created)) {
        CloseHandle(process);
        process = nullptr;
    }
    if (process) {
        table->processRead = TRUE;
        ReadAllocationFiles(process, allocations, n, &table->texts);
        if (canRead) {
            UseMarks marks = {};
            ReadUseMarks(process, pid, &marks);
            ApplyUseMarks(allocations, n, regions, &marks, &table->texts);
            FreeUseMarks(&marks);
        }
        CloseHandle(process);
    }
    table->allocations = allocations;
    table->count = n;
    SumUses(allocations, n, table->sums);
    return TRUE;
}

void FreeUseTable(UseTable* table) {
    free(table->allocations);
    FreeUseTexts(&table->texts);
    *table = {};
}
