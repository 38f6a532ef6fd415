// What each allocation of the inspected process is: the kinds, their sums
// and one record per allocation, for the "内存用途" window.
#pragma once

#include "inspect/region_records.h"
#include "platform/platform.h"

// The kinds, in the summary's order; the summary's last row, 总计, sums
// every kind but USE_FREE.
enum UseKind {
    USE_IMAGE,          // 镜像
    USE_MAPPED_FILE,    // 映射文件
    USE_SHARED_MEMORY,  // 共享内存: a mapped section with no file behind it
    USE_HEAP,           // 堆
    USE_THREAD_STACK,   // 线程栈
    USE_PRIVATE_DATA,   // 私有数据
    USE_FREE,           // 未用
    USE_KIND_COUNT
};
#define USE_TOTAL_ROW USE_KIND_COUNT
#define USE_SUMMARY_ROWS (USE_KIND_COUNT + 1)

// The name of a summary row (a kind, or USE_TOTAL_ROW for "总计").
LPCWSTR UseRowName(int row);

// The text of 详情: a file path, "线程ID:N", "线程环境块 线程ID:N",
// "进程环境块", "默认堆" or "堆 0x...". Empty when nothing is known.
#define USE_DETAIL_UNITS (MAX_PATH + 40)

// The 详情 texts of a table, one after another, each with its terminator:
// an allocation names its text by its offset, 0 being the empty text, so a
// reading costs the length of its texts rather than a fixed buffer each.
struct UseTexts {
    WCHAR* units;
    size_t length;
    size_t capacity;
};
// Keeps a copy of `text` (cut to USE_DETAIL_UNITS - 1 units); its offset, or
// 0 (the empty text) for an empty text or when memory runs out.
size_t KeepUseText(UseTexts* texts, LPCWSTR text);
// The text at `offset`; "" for 0 or an offset out of range.
LPCWSTR UseText(const UseTexts& texts, size_t offset);
void FreeUseTexts(UseTexts* texts);

// One allocation: the regions that share one allocation base, or one free
// region. Its regions are WalkedRegions.records[firstRegion] onward,
// regionCount of them, so its table lines are 6 * firstRegion up to
// 6 * (firstRegion + regionCount) - 1.
struct Allocation {
    ULONGLONG base;     // the allocation base; a free region's own base
    ULONGLONG size;     // all its regions
    ULONGLONG committed;
    size_t firstRegion;
    size_t detail;      // 详情: an offset into its table's texts
    DWORD type;         // MEM_IMAGE, MEM_MAPPED or MEM_PRIVATE; 0 when free
    DWORD allocationProtect;
    DWORD regionCount;
    UseKind kind;
    // A digest of its regions' offsets, sizes, states and protections: two
    // readings of one allocation with the same digest have the same regions.
    DWORD signature;
};
// A reading costs this per allocation, its 详情 text apart.
static_assert(sizeof(Allocation) <= 64, "an allocation's record stays small");

// One summary row's figures. For USE_FREE, `largest` is the largest free
// region; for the others the largest allocation (by size).
struct UseSum {
    ULONGLONG size;  // committed + reserved
    ULONGLONG committed;
    ULONGLONG reserved;
    ULONGLONG largest;
    size_t blocks;   // allocations
};

struct UseTable {
    Allocation* allocations;  // in address order
    size_t count;
    UseTexts texts;
    UseSum sums[USE_SUMMARY_ROWS];
    // FALSE when the process could not be opened any more (or its PID names
    // another process by now): the kinds then come from the region types
    // alone (镜像, 映射文件 without 详情, 私有数据).
    BOOL processRead;
};

// Groups `count` walked regions into allocations, reads what the process
// `pid` tells of them (files, thread stacks, TEBs, the PEB, heaps) and sums
// them by kind. `created` is the walked process's creation time
// (WalkedRegions.created): a process under that PID created at another time
// (or at an unknown one) is not read, as one that cannot be opened.
// Returns FALSE only when memory for the table runs out (the table is then
// empty). Never fails for a part that cannot be read.
BOOL BuildUseTable(DWORD pid, ULONGLONG created, const RegionRecord* regions, size_t count, UseTable* table);

// Frees what BuildUseTable allocated and empties the table.
void FreeUseTable(UseTable* table);
