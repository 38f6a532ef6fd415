// The region records of the last walk, kept beside the region table so that
// the "内存用途" window sums exactly what the table shows.
#pragma once

#include "platform/platform.h"

// One region as the walk found it. Record i is the table's lines 6 * i to
// 6 * i + 5.
struct RegionRecord {
    ULONGLONG base;
    ULONGLONG allocationBase;
    ULONGLONG size;
    DWORD state;  // MEM_COMMIT, MEM_RESERVE or MEM_FREE
    DWORD type;   // MEM_IMAGE, MEM_MAPPED or MEM_PRIVATE; 0 for free
    DWORD allocationProtect;
    DWORD protect = 0;  // the region's own protection; 0 when free or reserved
};

// Written by the walk on the UI thread, read on the UI thread only. The list
// grows as the walk goes; `complete` is FALSE when memory ran out before the
// walk's last region (the records then stop short of the table).
struct RegionRecordList {
    RegionRecord* records;
    size_t count;
    size_t capacity;
    BOOL complete;
    // When the walked process was created (ProcessCreationTime), 0 when
    // unknown: with the PID it tells that a process opened later is the
    // one walked, and not another given the PID since.
    ULONGLONG created;
};
extern RegionRecordList WalkedRegions;

// The creation time of the process `process` opens (query rights), as the
// platform's 100 ns count; 0 when it cannot be read.
ULONGLONG ProcessCreationTime(HANDLE process);

// Empties the list at a walk's start.
void ClearRegionRecords();
// Appends one region's record; FALSE (and `complete` cleared) when the list
// cannot grow.
BOOL KeepRegionRecord(const MEMORY_BASIC_INFORMATION& region);
