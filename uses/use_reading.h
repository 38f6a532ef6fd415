// The steps BuildUseTable is made of: the pure ones (grouping, marking,
// summing, the drive-letter path), which the tests call directly, and the
// reading of the process, in uses/use_reading.cpp.
#pragma once

#include "uses/uses.h"

// Groups `count` walked regions into allocations, in address order, each
// with the kind its type alone gives (镜像, 映射文件, 私有数据, 未用) and no
// 详情. `allocations` holds `count` entries; returns how many were made.
size_t GroupAllocations(const RegionRecord* regions, size_t count, Allocation* allocations);

// What the process tells of an address: the thread stack, heap, TEB or
// PEB that lies there.
enum UseMarkWhat {
    MARK_STACK,         // an address inside a thread's stack
    MARK_DEFAULT_HEAP,  // a heap's base: the PEB's ProcessHeap
    MARK_HEAP,          // a heap's base: another one the PEB lists
    MARK_PEB,
    MARK_TEB,
};
struct UseMark {
    ULONGLONG address;
    UseMarkWhat what;
    DWORD threadId;  // for MARK_STACK and MARK_TEB
};
struct UseMarks {
    UseMark* items;
    size_t count;
    size_t capacity;
};
// FALSE when memory runs out (the mark is then left out).
BOOL AddUseMark(UseMarks* marks, ULONGLONG address, UseMarkWhat what, DWORD threadId);
void FreeUseMarks(UseMarks* marks);

// Labels the private allocations the marks fall in (sorting the marks):
// a stack makes it 线程栈 ("线程ID:N"); a heap whose base is the
// allocation's base makes it 堆 ("默认堆", "堆 0x..."); the PEB and TEBs
// leave it 私有数据 with "进程环境块" and "线程环境块 线程ID:N" as 详情.
void ApplyUseMarks(Allocation* allocations, size_t count, const RegionRecord* regions, UseMarks* marks,
                   UseTexts* texts);

// Sums the allocations by kind into sums[USE_SUMMARY_ROWS].
void SumUses(const Allocation* allocations, size_t count, UseSum* sums);

// A drive letter and the device it names (QueryDosDeviceW's first answer
// for "X:"), e.g. 'C' and "\Device\HarddiskVolume2".
struct DosDrive {
    WCHAR letter;
    WCHAR device[MAX_PATH];
};
#define DOS_DRIVE_CAPACITY 26

// Writes into `out` (`units` units, terminator included; a longer path is
// cut) the path `mapped` as a person writes it: "\Device\HarddiskVolumeN\x"
// with the drive of that device ("C:\x"), "\??\C:\x" and "\\?\C:\x" as
// "C:\x", "\??\UNC\s\x" and "\Device\Mup\s\x" as "\\s\x"; any other path as
// it is.
void DrivePath(LPCWSTR mapped, const DosDrive* drives, size_t driveCount, WCHAR* out, size_t units);

// ---- Reading the process (uses/use_reading.cpp) ------------------------

// The files behind the image and mapped allocations: 详情 and, for a
// mapped section with no file, the kind 共享内存.
void ReadAllocationFiles(HANDLE process, Allocation* allocations, size_t count, UseTexts* texts);

// The most heap handles read from one PEB's list: far more heaps than any
// process makes, and a bound on what a garbage or hostile count costs.
#define USE_HEAP_LIST_CAPACITY 4096

// The marks of the process's threads (TEBs and stacks) and of its PEBs and
// heaps. `process` needs query rights and PROCESS_VM_READ; only threads
// that belong to process `pid` are read.
void ReadUseMarks(HANDLE process, DWORD pid, UseMarks* marks);
