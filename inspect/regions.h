// The region walk: the region table of ProcessMemoryDialog and the lists of
// committed and reserved spans that the memory map is painted from.
#pragma once

#include "platform/platform.h"

// A committed or reserved region as the map is painted from it, with every
// digit of its base and size.
struct RegionSpan {
    ULONGLONG base;
    ULONGLONG size;
};

// The spans of one state in address order, as many as the walk found: the
// storage grows as the walk goes. `complete` is FALSE when a span could not
// be kept because memory ran out (the spans then stop short of the walk).
struct RegionList {
    RegionSpan* spans;
    size_t count;
    size_t capacity;
    BOOL complete;
};

// Written by WalkRegions on the UI thread, read by the painter thread. Every
// access to either list holds RegionListsLock.
extern RegionList CommittedRegions;
extern RegionList ReservedRegions;
extern CRITICAL_SECTION RegionListsLock;

// Appends a span to a list under RegionListsLock, growing its storage when
// it is full; FALSE (and the list marked incomplete) when it cannot grow.
BOOL KeepRegionSpan(RegionList* list, ULONGLONG base, ULONGLONG size);
// Empties both lists (keeping their storage), under RegionListsLock.
void EmptyRegionLists();

// Prepares RegionListsLock; called once before any walk or pass.
void InitRegionLists();

// The highest address the region walk covers: 2^32 - 1 on a 32-bit build,
// where a process has nothing above 4 GB, and 2^64 - 1 on a 64-bit build,
// whose walk goes on to the top of the user address space (where the query
// fails). Picked by the build's pointer width; tests may set either value.
extern ULONGLONG RegionWalkLimit;
#define REGION_WALK_LIMIT_32 0xFFFFFFFFull
#define REGION_WALK_LIMIT_64 0xFFFFFFFFFFFFFFFFull

// Whether the walk goes on after the region of `size` bytes queried at
// `cursor`: not after a region of size 0, nor when cursor + size would pass
// `limit` (or wrap past 2^64).
bool RegionWalkContinues(ULONGLONG cursor, ULONGLONG size, ULONGLONG limit);

// Walks the address space of SelectedPid from 0 upward, six lines a region
// into the region table of ProcessMemoryDialog, and keeps the span of every
// committed and every reserved region. Returns 1 when the walk ran; 0 with
// last-error 1 when the process cannot be opened (after the notice "无法执行!"). While it waits for
// regions the UI thread handles its messages, so the dialog procedures may
// run inside it.
int WalkRegions();

// Ends the running walk as soon as the message being handled returns to
// it: with what was read, writing nothing more into the table. For a dialog
// that closes during its walk; the walk still returns 1, once the querying
// thread has made its last query (or no region has come for the stall
// limit), handling the UI thread's messages until then, and only then
// closes the process handle.
void StopRegionWalk();

// The walk's platform queries are made by a thread of their own, which hands
// the regions over as they come; the walk ends, with what was read, when
// none has come for this long. A query about a process that ends while it
// is asked may never return, and must not hold the dialogs with it.
#define REGION_STALL_LIMIT_MS 5000
int WalkRegionsWithStallLimit(DWORD stallLimitMs);

// The querying thread's routine.
DWORD WINAPI QueryRegions(LPVOID feed);

// The line buffer of the region table, terminator included.
#define REGION_LINE_UNITS 100

// Composes the protection line: every name whose bit is set in `protect`,
// each followed by a blank, in the table's order. A name that would not fit
// in `units` (terminator included) is left out.
void FormatProtection(DWORD protect, WCHAR* line, size_t units);

// The type line: 私有, 映射 or 镜像 for MEM_PRIVATE, MEM_MAPPED, MEM_IMAGE;
// empty for anything else (a free region).
const WCHAR* RegionTypeText(DWORD type);

// The six lines of one region, as the table shows them.
struct RegionLines {
    WCHAR text[6][REGION_LINE_UNITS];
};
void FormatRegion(const MEMORY_BASIC_INFORMATION& region, RegionLines* lines);
