// The region walk and the region table.
#include "inspect/regions.h"

#include <stdlib.h>

#include "app/format.h"
#include "app/shell.h"
#include "inspect/inspect.h"
#include "inspect/region_records.h"

ULONGLONG RegionWalkLimit = sizeof(void*) > 4 ? REGION_WALK_LIMIT_64 : REGION_WALK_LIMIT_32;

RegionList CommittedRegions;
RegionList ReservedRegions;
CRITICAL_SECTION RegionListsLock;

namespace {

bool RegionListsReady = false;

struct ProtectionName {
    DWORD bit;
    const WCHAR* name;
};

// Tested against the allocation protection in this order.
const ProtectionName ProtectionNames[] = {
    {PAGE_EXECUTE, L"PAGE_EXECUTE "},
    {PAGE_EXECUTE_READ, L"PAGE_EXECUTE_READ "},
    {PAGE_EXECUTE_READWRITE, L"PAGE_EXECUTE_READWRITE "},
    {PAGE_EXECUTE_WRITECOPY, L"PAGE_EXECUTE_WRITECOPY "},
    {PAGE_NOACCESS, L"PAGE_NOACCESS "},
    {PAGE_READONLY, L"PAGE_READONLY "},
    {PAGE_READWRITE, L"PAGE_READWRITE "},
    {PAGE_WRITECOPY, L"PAGE_WRITECOPY "},
    {PAGE_GUARD, L"PAGE_GUARD "},
    {PAGE_NOCACHE, L"PAGE_NOCACHE "},
    {PAGE_WRITECOMBINE, L"PAGE_WRITECOMBINE "},
};

const WCHAR RegionSeparator[] = L"----------------------------------------------------";

// Most processes have a few hundred to a few thousand regions. The table's
// storage is reserved for this many lines first and doubled whenever the
// lines reach it: a list box left to grow by itself grows a few items at a
// time, which costs seconds over a hundred thousand lines.
const WPARAM FirstReservedLines = 6 * 2048;
const LPARAM BytesPerLine = 24 * sizeof(WCHAR);

void ReserveTableLines(HWND table, WPARAM lines) {
    SendMessageW(table, LB_INITSTORAGE, lines, static_cast<LPARAM>(lines) * BytesPerLine);
}

const WCHAR* StateText(DWORD state) {
    switch (state) {
    case MEM_COMMIT:
        return L"已调拨";
    case MEM_RESERVE:
        return L"已预留";
    case MEM_FREE:
        return L"未用";
    default:
        return L"";
    }
}

const WCHAR* TypeText(DWORD type) {
    switch (type) {
    case MEM_PRIVATE:
        return L"私有";
    case MEM_MAPPED:
        return L"映射";
    case MEM_IMAGE:
        return L"镜像";
    default:
        return L"";
    }
}

// The first storage of a list, in spans; it doubles whenever it is full.
const size_t FirstSpanCapacity = 1024;

// Queries the regions of `process` from address 0 upward and gives each to
// `take` (with `context`), until a query fails, the walk ends (at `limit`,
// or at a region of size 0), `take` returns FALSE or, asked before each
// query, `goOn` (when given) does.
void QueryEachRegion(HANDLE process, ULONGLONG limit, BOOL (*take)(void*, const MEMORY_BASIC_INFORMATION&),
                     BOOL (*goOn)(void*), void* context) {
    MEMORY_BASIC_INFORMATION region;
    ULONGLONG cursor = 0;
    while ((!goOn || goOn(context)) &&
           VirtualQueryEx(process, reinterpret_cast<LPCVOID>(static_cast<ULONG_PTR>(cursor)), &region,
                          sizeof region)) {
        if (!take(context, region)) return;
        if (!RegionWalkContinues(cursor, region.RegionSize, limit)) return;
        cursor += region.RegionSize;
    }
}

// The region table as it fills: its window, the lines its storage is
// reserved for, and the lines appended so far.
struct TableFill {
    HWND table;
    WPARAM reserved;
    WPARAM appended;
};

// One region into the table and, when committed or reserved, its span into
// its list.
void AddRegion(TableFill* fill, const MEMORY_BASIC_INFORMATION& region) {
    RegionLines lines;
    FormatRegion(region, &lines);
    KeepRegionRecord(region);
    ULONG_PTR base = reinterpret_cast<ULONG_PTR>(region.BaseAddress);
    if (region.State == MEM_COMMIT) KeepRegionSpan(&CommittedRegions, base, region.RegionSize);
    if (region.State == MEM_RESERVE) KeepRegionSpan(&ReservedRegions, base, region.RegionSize);
    if (fill->appended + 6 > fill->reserved) {
        ReserveTableLines(fill->table, fill->reserved);
        fill->reserved *= 2;
    }
    for (const WCHAR* line : lines.text) LineListAppend(fill->table, line);
    fill->appended += 6;
}

BOOL AddQueriedRegion(void* fill, const MEMORY_BASIC_INFORMATION& region) {
    AddRegion(static_cast<TableFill*>(fill), region);
    return TRUE;
}

// The hand-over between the thread that queries the platform and the UI
// thread that fills the table. A query about another process can wait for
// good (under Wine, when that process ends while it is asked), so the UI
// thread never makes one itself: it takes the regions as they come and
// stops waiting when none has come for the stall limit. The feed is freed
// by whichever of the two lets go of it last, so a querying thread stuck in
// the platform can be left behind safely. The process handle stays the UI
// thread's, closed when the walk ends: a stuck query may never return, and
// a handle held until it did would keep an ended process in existence for
// good (under Wine it stays openable, and each refresh would start another
// stuck walk). The querying thread looks, under the lock, whether the UI
// thread still takes regions before each query, and makes none once it
// does not. A walk that ends at its last region has had the thread's last
// query; a stopped walk keeps the handle open until the thread says it has
// made its last query (AwaitLastQuery). Only a walk given up at the stall
// limit closes the handle under a thread that may still be between its
// look and its query.
//
// Every signal costs a round trip to the platform and wakes the other
// thread, so the querying thread signals once a batch has gathered (or the
// ring is full, or it has ended), and the UI thread also looks at the ring
// every poll interval for the regions of a batch still gathering.
#define REGION_FEED_CAPACITY 256
#define REGION_FEED_BATCH 32
#define REGION_FEED_POLL_MS 20

struct RegionFeed {
    HANDLE process;    // the UI thread's; the querying thread only borrows it
    ULONGLONG limit;   // the highest address the walk covers
    HANDLE ready;      // auto-reset: a batch was handed over, or the queries ended
    HANDLE room;       // auto-reset: the UI thread took regions from a full ring
    CRITICAL_SECTION lock;
    MEMORY_BASIC_INFORMATION ring[REGION_FEED_CAPACITY];
    DWORD first;       // index of the oldest region not yet taken
    DWORD count;       // regions handed over and not yet taken
    BOOL finished;     // the querying thread has made its last query
    BOOL abandoned;    // the UI thread has stopped taking regions
    int holders;       // threads still using the feed
};

// How long a querying thread waits for room before it looks again whether
// the UI thread still takes regions.
const DWORD RoomWaitMs = 1000;

void FreeRegionFeed(RegionFeed* feed) {
    DeleteCriticalSection(&feed->lock);
    if (feed->ready) CloseHandle(feed->ready);
    if (feed->room) CloseHandle(feed->room);
    free(feed);
}

void LetGoOfRegionFeed(RegionFeed* feed) {
    EnterCriticalSection(&feed->lock);
    int holders = --feed->holders;
    LeaveCriticalSection(&feed->lock);
    if (holders == 0) FreeRegionFeed(feed);
}

// Hands one region over, waiting while the ring is full. FALSE when the UI
// thread no longer takes regions.
BOOL HandOver(void* context, const MEMORY_BASIC_INFORMATION& region) {
    RegionFeed* feed = static_cast<RegionFeed*>(context);
    for (;;) {
        EnterCriticalSection(&feed->lock);
        BOOL abandoned = feed->abandoned;
        BOOL stored = FALSE;
        if (!abandoned && feed->count < REGION_FEED_CAPACITY) {
            feed->ring[(feed->first + feed->count) % REGION_FEED_CAPACITY] = region;
            feed->count++;
            stored = TRUE;
        }
        BOOL signal = stored && (feed->count == REGION_FEED_BATCH || feed->count == REGION_FEED_CAPACITY);
        LeaveCriticalSection(&feed->lock);
        if (abandoned) return FALSE;
        if (signal) SetEvent(feed->ready);
        if (stored) return TRUE;
        WaitForSingleObject(feed->room, RoomWaitMs);
    }
}

// Whether the UI thread still takes regions; asked before each query.
BOOL StillTaken(void* context) {
    RegionFeed* feed = static_cast<RegionFeed*>(context);
    EnterCriticalSection(&feed->lock);
    BOOL taken = !feed->abandoned;
    LeaveCriticalSection(&feed->lock);
    return taken;
}

// The UI thread stops taking regions: the querying thread makes no query
// after the one it may be in.
void AbandonRegionFeed(RegionFeed* feed) {
    EnterCriticalSection(&feed->lock);
    feed->abandoned = TRUE;
    LeaveCriticalSection(&feed->lock);
    SetEvent(feed->room);
}

// Takes what was handed over, at most `capacity` regions; sets *finished
// when the querying thread has ended and nothing is left.
DWORD TakeOver(RegionFeed* feed, MEMORY_BASIC_INFORMATION* out, DWORD capacity, BOOL* finished) {
    EnterCriticalSection(&feed->lock);
    BOOL wasFull = feed->count == REGION_FEED_CAPACITY;
    DWORD taken = 0;
    while (taken < capacity && feed->count > 0) {
        out[taken++] = feed->ring[feed->first];
        feed->first = (feed->first + 1) % REGION_FEED_CAPACITY;
        feed->count--;
    }
    *finished = feed->finished && feed->count == 0;
    LeaveCriticalSection(&feed->lock);
    if (wasFull && taken) SetEvent(feed->room);
    return taken;
}

// A feed and its querying thread for `process`; nullptr when either cannot
// be had.
RegionFeed* StartRegionFeed(HANDLE process) {
    RegionFeed* feed = static_cast<RegionFeed*>(calloc(1, sizeof(RegionFeed)));
    if (!feed) return nullptr;
    InitializeCriticalSection(&feed->lock);
    feed->process = process;
    feed->limit = RegionWalkLimit;
    feed->ready = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    feed->room = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    feed->holders = 2;
    HANDLE thread = feed->ready && feed->room ? CreateThread(nullptr, 0, QueryRegions, feed, 0, nullptr) : nullptr;
    if (!thread) {
        FreeRegionFeed(feed);
        return nullptr;
    }
    CloseHandle(thread);
    return feed;
}

// Set by StopRegionWalk; the running walk ends at its next look at it.
BOOL WalkStopRequested = FALSE;

// The longest stretch the UI thread spends taking and appending regions
// before it looks at its messages again.
#define REGION_SLICE_MS 40

// Handles what is queued for the UI thread, keyboard input of the active
// dialog through its dialog handling (Enter, Escape, Tab). Nothing in this
// program posts WM_QUIT, so it is not looked for here. Morvane's timer has
// no callback: a timer message naming one came from another program, and is
// not handed to the platform, which would call it.
void HandleQueuedMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_TIMER && msg.lParam) continue;
        HWND active = GetActiveWindow();
        if (active && IsDialogMessageW(active, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// A stopped walk writes nothing more, but the process handle stays open
// until the querying thread has made its last query, or until no region
// has come for `stallLimitMs` since `lastArrival`; the UI thread handles
// its messages meanwhile.
void AwaitLastQuery(RegionFeed* feed, DWORD lastArrival, DWORD stallLimitMs) {
    AbandonRegionFeed(feed);
    for (;;) {
        EnterCriticalSection(&feed->lock);
        BOOL finished = feed->finished;
        LeaveCriticalSection(&feed->lock);
        if (finished || GetTickCount() - lastArrival >= stallLimitMs) return;
        MsgWaitForMultipleObjects(1, &feed->ready, FALSE, REGION_FEED_POLL_MS, QS_ALLINPUT);
        HandleQueuedMessages();
    }
}

// Fills the table from the feed until the queries end, none has come for
// `stallLimitMs` or the walk is stopped; the walk ends with what was read.
// The UI thread's windows keep answering meanwhile: it waits for regions
// and for its own messages at once, handles those as they come, and takes
// regions in slices of at most REGION_SLICE_MS between two looks at them.
// FALSE when the walk was stopped.
BOOL TakeFedRegions(RegionFeed* feed, TableFill* fill, DWORD stallLimitMs) {
    MEMORY_BASIC_INFORMATION taken[2 * REGION_FEED_BATCH];
    DWORD lastArrival = GetTickCount();
    DWORD sliceStart = lastArrival;
    for (;;) {
        BOOL finished = FALSE;
        DWORD n = TakeOver(feed, taken, 2 * REGION_FEED_BATCH, &finished);
        for (DWORD i = 0; i < n; ++i) AddRegion(fill, taken[i]);
        if (finished) return TRUE;
        DWORD now = GetTickCount();
        if (n > 0) {
            lastArrival = now;
            if (now - sliceStart < REGION_SLICE_MS) continue;
        } else if (now - lastArrival >= stallLimitMs) {
            return TRUE;
        }
        MsgWaitForMultipleObjects(1, &feed->ready, FALSE, n > 0 ? 0 : REGION_FEED_POLL_MS, QS_ALLINPUT);
        HandleQueuedMessages();
        if (WalkStopRequested) {
            AwaitLastQuery(feed, lastArrival, stallLimitMs);
            return FALSE;
        }
        sliceStart = GetTickCount();
    }
}

// The UI thread lets go of the feed. A querying thread still in the
// platform finds this out when its query returns, and makes no other.
void ReleaseRegionFeed(RegionFeed* feed) {
    AbandonRegionFeed(feed);
    LetGoOfRegionFeed(feed);
}

}  // namespace

DWORD WINAPI QueryRegions(LPVOID param) {
    RegionFeed* feed = static_cast<RegionFeed*>(param);
    QueryEachRegion(feed->process, feed->limit, HandOver, StillTaken, feed);
    EnterCriticalSection(&feed->lock);
    feed->finished = TRUE;
    LeaveCriticalSection(&feed->lock);
    SetEvent(feed->ready);
    LetGoOfRegionFeed(feed);
    return 0;
}

void StopRegionWalk() { WalkStopRequested = TRUE; }

void InitRegionLists() {
    if (RegionListsReady) return;
    InitializeCriticalSection(&RegionListsLock);
    RegionListsReady = true;
}

bool RegionWalkContinues(ULONGLONG cursor, ULONGLONG size, ULONGLONG limit) {
    return size != 0 && cursor <= limit && size <= limit - cursor;
}

BOOL KeepRegionSpan(RegionList* list, ULONGLONG base, ULONGLONG size) {
    BOOL kept = TRUE;
    EnterCriticalSection(&RegionListsLock);
    if (list->count == list->capacity) {
        // The painter reads the storage only under the lock, so it may move.
        size_t capacity = list->capacity ? 2 * list->capacity : FirstSpanCapacity;
        void* grown = capacity <= static_cast<size_t>(-1) / sizeof(RegionSpan)
                          ? realloc(list->spans, capacity * sizeof(RegionSpan))
                          : nullptr;
        if (grown) {
            list->spans = static_cast<RegionSpan*>(grown);
            list->capacity = capacity;
        }
    }
    if (list->count < list->capacity) {
        list->spans[list->count].base = base;
        list->spans[list->count].size = size;
        list->count++;
    } else {
        list->complete = FALSE;
        kept = FALSE;
    }
    LeaveCriticalSection(&RegionListsLock);
    return kept;
}

void EmptyRegionLists() {
    InitRegionLists();
    EnterCriticalSection(&RegionListsLock);
    CommittedRegions.count = 0;
    CommittedRegions.complete = TRUE;
    ReservedRegions.count = 0;
    ReservedRegions.complete = TRUE;
    LeaveCriticalSection(&RegionListsLock);
}

void FormatProtection(DWORD protect, WCHAR* line, size_t units) {
    if (units == 0) return;
    line[0] = 0;
    size_t used = 0;
    for (const ProtectionName& p : ProtectionNames) {
        if (!(protect & p.bit)) continue;
        size_t length = static_cast<size_t>(lstrlenW(p.name));
        if (used + length + 1 > units) continue;  // only whole names that fit
        wcscat_s(line, units, p.name);
        used += length;
    }
}

const WCHAR* RegionTypeText(DWORD type) { return TypeText(type); }

void FormatRegion(const MEMORY_BASIC_INFORMATION& region, RegionLines* lines) {
    wcscpy_s(lines->text[0], REGION_LINE_UNITS, RegionSeparator);
    FormatHexLine(lines->text[1], L"区域基址为:", reinterpret_cast<ULONG_PTR>(region.BaseAddress), L"");
    FormatProtection(region.AllocationProtect, lines->text[2], REGION_LINE_UNITS);
    wcscpy_s(lines->text[3], REGION_LINE_UNITS, StateText(region.State));
    wcscpy_s(lines->text[4], REGION_LINE_UNITS, TypeText(region.Type));
    FormatHexLine(lines->text[5], L"大小:", region.RegionSize, L"字节");
}

int WalkRegions() { return WalkRegionsWithStallLimit(REGION_STALL_LIMIT_MS); }

int WalkRegionsWithStallLimit(DWORD stallLimitMs) {
    InitRegionLists();
    EmptyRegionLists();
    WalkStopRequested = FALSE;

    HANDLE process = OpenProcess(MORVANE_ACCESS_QUERY, FALSE, SelectedPid);
    if (!process) {
        InspectNotice(ProcessMemoryWindow, L"无法执行!", MB_ICONERROR);
        SetLastError(1);
        return 0;
    }

    // Thousands of regions make tens of thousands of lines: the table is
    // filled with its redrawing off and its storage reserved, then redrawn
    // once.
    HWND table = GetDlgItem(ProcessMemoryWindow, IDC_REGIONS);
    SendMessageW(table, WM_SETREDRAW, FALSE, 0);
    LineListClear(table);
    ClearRegionRecords();
    WalkedRegions.created = ProcessCreationTime(process);
    TableFill fill = {table, FirstReservedLines, 0};
    ReserveTableLines(table, fill.reserved);

    RegionFeed* feed = StartRegionFeed(process);
    BOOL stopped = FALSE;
    if (feed) {
        stopped = !TakeFedRegions(feed, &fill, stallLimitMs);
        ReleaseRegionFeed(feed);
    } else {
        // No thread for the queries: they are made here instead, and the
        // UI thread answers no message until they end (or, for a process
        // that ends while it is asked, may never answer again).
        QueryEachRegion(process, RegionWalkLimit, AddQueriedRegion, nullptr, &fill);
    }

    // A stopped walk belongs to a dialog that has closed: nothing more is
    // written into it.
    if (!stopped) {
        SendMessageW(table, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(table, nullptr, TRUE);
    }
    CloseHandle(process);
    return 1;
}
