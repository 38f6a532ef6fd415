// The memory map painter: two blue columns at the right of the process
// memory dialog, with committed spans marked in red on the left one and
// reserved spans in green on the right one: address 0 at the top and the
// 2 GB mark at the bottom, or (x86_64) the stretches the process uses, top
// to bottom, with a light grey break between two.
#include "inspect/painter.h"

#include <string.h>

#include "app/format.h"
#include "app/shell.h"
#include "inspect/inspect.h"
#include "inspect/regions.h"
#include "resources/resource.h"

HANDLE DrawRequest = nullptr;

namespace {

bool PainterStarted = false;
CRITICAL_SECTION RequestLock;
BOOL PendingAnnounce = FALSE;
// Counts the requests, so that the painter, letting go of the requests it
// woke for, can see whether another came meanwhile; and the dialog the
// newest one was made for. Both under RequestLock.
DWORD RequestSerial = 0;
HWND RequestWindow = nullptr;

// The rows a pass can mark: MapRowOf reaches 812 for spans between 2 and
// 4 GB, which today's picture draws below the columns.
#define MAP_MARK_ROWS 1024

// What one pass draws, gathered from the two region lists under one hold of
// their lock, so that a walk rewriting the lists never hands it a
// half-written span, a count beyond what was written, or one column from
// one walk and the other from the next. Gathering reads each span once and
// marks each row once: the drawing that follows is one line per marked row.
struct PassMarks {
    MapLayout layout;
    bool committed[MAP_MARK_ROWS];
    bool reserved[MAP_MARK_ROWS];
};

// Whether the build's walk covers more than 4 GB: only then may the map
// stand for stretches above 2 GB.
bool WideWalk() { return RegionWalkLimit > REGION_WALK_LIMIT_32; }

void MarkRows(const MapLayout& layout, const RegionList& list, bool* rows) {
    for (size_t i = 0; i < list.count; ++i) {
        int first, last;
        if (!MapRegionRows(layout, list.spans[i].base, list.spans[i].size, &first, &last)) continue;
        for (int y = first; y <= last && y < MAP_MARK_ROWS; ++y) rows[y] = true;
    }
}

void GatherPassMarks(PassMarks* marks) {
    memset(marks->committed, 0, sizeof marks->committed);
    memset(marks->reserved, 0, sizeof marks->reserved);
    EnterCriticalSection(&RegionListsLock);
    LayOutMap(CommittedRegions, ReservedRegions, WideWalk(), &marks->layout);
    MarkRows(marks->layout, CommittedRegions, marks->committed);
    MarkRows(marks->layout, ReservedRegions, marks->reserved);
    LeaveCriticalSection(&RegionListsLock);
}

// Creates the request event and its lock. Called on the UI thread only,
// before the painter thread exists.
void PrepareRequests() {
    if (DrawRequest) return;
    InitRegionLists();
    InitializeCriticalSection(&RequestLock);
    DrawRequest = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

// The dialog of the newest request, and the request count as the painter
// woke to them.
HWND RequestedWindow(DWORD* serial) {
    EnterCriticalSection(&RequestLock);
    HWND window = RequestWindow;
    *serial = RequestSerial;
    LeaveCriticalSection(&RequestLock);
    return window;
}

// Lets go of the requests counted up to `serial` without a pass: for a
// dialog that has closed (and its notice with them), or while the platform
// gives no drawing context (the notice stays pending for the next pass that
// draws). The event is reset so the painter does not spin, unless a request
// came after `serial`: that one is kept for a pass of its own.
void DropMapRequests(DWORD serial, BOOL dropNotice) {
    EnterCriticalSection(&RequestLock);
    if (RequestSerial == serial) {
        ResetEvent(DrawRequest);
        if (dropNotice) PendingAnnounce = FALSE;
    }
    LeaveCriticalSection(&RequestLock);
}

void DrawRow(HDC dc, int left, int right, int y) {
    MoveToEx(dc, left, y, nullptr);
    LineTo(dc, right, y);
}

void PaintBackground(HDC dc) {
    HPEN pen = CreatePen(PS_SOLID, 4, RGB(0, 0, 255));
    HGDIOBJ previous = SelectObject(dc, pen);
    for (int y = MAP_TOP; y < MAP_BOTTOM; y += 4) {
        DrawRow(dc, MAP_COMMITTED_LEFT, MAP_COMMITTED_RIGHT, y);
        DrawRow(dc, MAP_RESERVED_LEFT, MAP_RESERVED_RIGHT, y);
    }
    SelectObject(dc, previous);
    DeleteObject(pen);
}

// The breaks between stretches, across both columns.
void PaintBreaks(HDC dc, const MapLayout& layout) {
    if (layout.count < 2) return;
    HPEN pen = CreatePen(PS_SOLID, 1, MAP_BREAK_COLOR);
    HGDIOBJ previous = SelectObject(dc, pen);
    for (int i = 0; i + 1 < layout.count; ++i) {
        int below = layout.stretches[i].top + layout.stretches[i].rows;
        for (int y = below; y < below + MAP_BREAK_ROWS; ++y) {
            DrawRow(dc, MAP_COMMITTED_LEFT, MAP_COMMITTED_RIGHT, y);
            DrawRow(dc, MAP_RESERVED_LEFT, MAP_RESERVED_RIGHT, y);
        }
    }
    SelectObject(dc, previous);
    DeleteObject(pen);
}

// One line in one column for every marked row.
void MarkColumn(HDC dc, const bool* rows, COLORREF color, int left, int right) {
    int y = 0;
    while (y < MAP_MARK_ROWS && !rows[y]) ++y;
    if (y == MAP_MARK_ROWS) return;
    HPEN pen = CreatePen(PS_SOLID, 1, color);
    HGDIOBJ previous = SelectObject(dc, pen);
    for (; y < MAP_MARK_ROWS; ++y)
        if (rows[y]) DrawRow(dc, left, right, y);
    SelectObject(dc, previous);
    DeleteObject(pen);
}

// Keeps a gap as a break: the first MAP_STRETCH_CAPACITY - 1 gaps, then
// only one larger than the smallest kept, which it replaces.
struct MapGap {
    ULONGLONG first;
    ULONGLONG last;
};

void KeepGap(MapGap* kept, int* count, MapGap gap) {
    if (*count < MAP_STRETCH_CAPACITY - 1) {
        kept[(*count)++] = gap;
        return;
    }
    int smallest = 0;
    for (int i = 1; i < *count; ++i)
        if (kept[i].last - kept[i].first < kept[smallest].last - kept[smallest].first) smallest = i;
    if (gap.last - gap.first > kept[smallest].last - kept[smallest].first) kept[smallest] = gap;
}

// The last byte of a span of at least one byte, 2^64 - 1 when it would pass.
ULONGLONG LastByte(ULONGLONG base, ULONGLONG size) { return size - 1 > ~0ull - base ? ~0ull : base + size - 1; }

ULONGLONG StretchPages(const MapStretch& s) { return (s.last - s.first) / 4096 + 1; }

}  // namespace

int MapRowOf(DWORD address) { return static_cast<int>(static_cast<double>(address) * 396.0 / 2147483647.0 + 20.0); }

// Stepping from base in 50-byte steps while the address stays within
// base + size visits base, base + 50, ... up to base + 50 * (size / 50). One
// pixel row covers millions of bytes, so the steps mark every row from the
// first address's to the last's, and no other.
bool MapSpanRows(DWORD base, DWORD size, int* first, int* last) {
    if (size > 0xFFFFFFFFu - base) return false;  // base + size reaches 2^32
    DWORD lastStep = base + size / MAP_ADDRESS_STEP * MAP_ADDRESS_STEP;
    *first = MapRowOf(base);
    *last = MapRowOf(lastStep);
    return true;
}

void LayOutMap(const RegionList& committed, const RegionList& reserved, bool wide, MapLayout* layout) {
    layout->count = 0;
    if (!wide) return;
    // The spans of both lists merged in address order: the used space from
    // `first` to `last`, with its gaps of 1 GB or more.
    MapGap kept[MAP_STRETCH_CAPACITY - 1];
    int gaps = 0;
    bool any = false, high = false;
    ULONGLONG first = 0, last = 0;
    size_t c = 0, r = 0;
    while (c < committed.count || r < reserved.count) {
        bool takeCommitted =
            r == reserved.count || (c < committed.count && committed.spans[c].base <= reserved.spans[r].base);
        const RegionSpan& span = takeCommitted ? committed.spans[c++] : reserved.spans[r++];
        if (span.size == 0) continue;
        ULONGLONG end = LastByte(span.base, span.size);
        if (end >= MAP_WIDE_FROM) high = true;
        if (!any) {
            first = span.base;
            last = end;
            any = true;
            continue;
        }
        if (span.base > last && span.base - last - 1 >= MAP_GAP_BREAK_BYTES) KeepGap(kept, &gaps, {last + 1, span.base - 1});
        if (end > last) last = end;
    }
    if (!high) return;  // the lower-2-GB picture

    // The kept gaps in address order split the used space into stretches.
    for (int i = 1; i < gaps; ++i)
        for (int j = i; j > 0 && kept[j].first < kept[j - 1].first; --j) {
            MapGap g = kept[j];
            kept[j] = kept[j - 1];
            kept[j - 1] = g;
        }
    int count = gaps + 1;
    layout->count = count;
    layout->stretches[0].first = first;
    for (int i = 0; i < gaps; ++i) {
        layout->stretches[i].last = kept[i].first - 1;
        layout->stretches[i + 1].first = kept[i].last + 1;
    }
    layout->stretches[count - 1].last = last;

    // Each stretch its minimum, and the rows left over by the running total
    // of the pages, so that the shares add up to exactly those rows.
    ULONGLONG total = 0;
    for (int i = 0; i < count; ++i) total += StretchPages(layout->stretches[i]);
    ULONGLONG extra = static_cast<ULONGLONG>(MAP_LAST_ROW - MAP_FIRST_ROW + 1 - MAP_BREAK_ROWS * (count - 1) -
                                             MAP_STRETCH_MIN_ROWS * count);
    ULONGLONG running = 0;
    int given = 0;
    int top = MAP_FIRST_ROW;
    for (int i = 0; i < count; ++i) {
        running += StretchPages(layout->stretches[i]);
        int share = static_cast<int>(extra * running / total);
        layout->stretches[i].top = top;
        layout->stretches[i].rows = MAP_STRETCH_MIN_ROWS + share - given;
        given = share;
        top += layout->stretches[i].rows + MAP_BREAK_ROWS;
    }
}

int MapRowOfAddress(ULONGLONG address, const MapLayout& layout) {
    if (layout.count == 0) return address <= 0xFFFFFFFFull ? MapRowOf(static_cast<DWORD>(address)) : -1;
    // The last stretch that begins at or below the address.
    int low = 0, high = layout.count - 1;
    while (low < high) {
        int middle = (low + high + 1) / 2;
        if (layout.stretches[middle].first <= address) low = middle;
        else high = middle - 1;
    }
    const MapStretch& s = layout.stretches[low];
    if (address < s.first || address > s.last) return -1;
    // Byte by byte; only a stretch wider than 2^54 bytes, far beyond any
    // user address space, is counted in coarser units so that the product
    // fits 64 bits.
    ULONGLONG offset = address - s.first, span = s.last - s.first;
    while (span >> 54) {
        offset >>= 1;
        span >>= 1;
    }
    return s.top + static_cast<int>(offset * static_cast<ULONGLONG>(s.rows) / (span + 1));
}

bool MapRegionRows(const MapLayout& layout, ULONGLONG base, ULONGLONG size, int* first, int* last) {
    if (layout.count == 0) {
        // MapSpanRows, through the one rule.
        if (base > 0xFFFFFFFFull) return false;
        DWORD size32 = size > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(size);
        if (size32 > 0xFFFFFFFFu - static_cast<DWORD>(base)) return false;
        *first = MapRowOfAddress(base, layout);
        *last = MapRowOfAddress(base + size32 / MAP_ADDRESS_STEP * MAP_ADDRESS_STEP, layout);
        return true;
    }
    *first = MapRowOfAddress(base, layout);
    *last = MapRowOfAddress(size == 0 ? base : LastByte(base, size), layout);
    return *first >= 0 && *last >= *first;
}

void FormatMapCoverage(const MapLayout& layout, WCHAR* text, size_t units) {
    if (units == 0) return;
    text[0] = 0;
    if (layout.count == 0) return;
    WCHAR from[24], to[24], line[MAP_COVERAGE_UNITS];
    ULONGLONG last = layout.stretches[layout.count - 1].last;
    FormatHexLine(from, L"", layout.stretches[0].first, L"");
    FormatHexLine(to, L"", last == ~0ull ? last : last + 1, L"");
    wsprintfW(line, L"共 %d 段, %s 至 %s", layout.count, from, to);
    if (static_cast<size_t>(lstrlenW(line)) < units) wcscpy_s(text, units, line);
}

void ShowMapCoverage(HWND dialog) {
    InitRegionLists();
    MapLayout layout;
    EnterCriticalSection(&RegionListsLock);
    LayOutMap(CommittedRegions, ReservedRegions, WideWalk(), &layout);
    LeaveCriticalSection(&RegionListsLock);
    WCHAR text[MAP_COVERAGE_UNITS];
    FormatMapCoverage(layout, text, MAP_COVERAGE_UNITS);
    SetDlgItemTextW(dialog, IDC_MAP_COVERAGE, text);
}

void PaintMemoryMap(HDC dc) {
    PassMarks marks;
    GatherPassMarks(&marks);
    PaintBackground(dc);
    PaintBreaks(dc, marks.layout);
    MarkColumn(dc, marks.committed, RGB(255, 0, 0), MAP_COMMITTED_LEFT, MAP_COMMITTED_RIGHT);
    MarkColumn(dc, marks.reserved, RGB(0, 255, 0), MAP_RESERVED_LEFT, MAP_RESERVED_RIGHT);
}

void StartMemoryMapPainter() {
    if (PainterStarted) return;
    PainterStarted = true;
    PrepareRequests();
    HANDLE thread = CreateThread(nullptr, 0, MemoryMapPainter, nullptr, 0, nullptr);
    if (thread) CloseHandle(thread);
}

void RequestMemoryMap(BOOL announce) {
    PrepareRequests();
    EnterCriticalSection(&RequestLock);
    if (announce) PendingAnnounce = TRUE;
    RequestWindow = ProcessMemoryWindow;
    ++RequestSerial;
    SetEvent(DrawRequest);
    LeaveCriticalSection(&RequestLock);
}

BOOL TakeMapRequest() {
    EnterCriticalSection(&RequestLock);
    ResetEvent(DrawRequest);
    BOOL announce = PendingAnnounce;
    PendingAnnounce = FALSE;
    LeaveCriticalSection(&RequestLock);
    return announce;
}

DWORD WINAPI MemoryMapPainter(LPVOID) {
    for (;;) {
        if (WaitForSingleObject(DrawRequest, INFINITE) != WAIT_OBJECT_0) return 0;
        DWORD serial;
        HWND dialog = RequestedWindow(&serial);
        // A request left by a dialog that has since closed has no window to
        // draw into or to own the notice.
        if (!IsWindow(dialog)) {
            DropMapRequests(serial, TRUE);
            continue;
        }
        HDC dc = GetDC(dialog);
        if (!dc) {
            DropMapRequests(serial, FALSE);
            continue;
        }
        // The requests are taken before the lists are read: one made
        // after the reading (a refresh whose walk has just ended) is left set
        // and gets a pass of its own, so a pass that announces always shows
        // the lists as a completed walk left them.
        BOOL announce = TakeMapRequest();
        PaintMemoryMap(dc);
        ReleaseDC(dialog, dc);
        if (announce) Notice(dialog, L"内存分布绘制完成!", MB_ICONINFORMATION);
    }
}
