// The memory map painter: two blue columns at the right of the process
// memory dialog, with committed spans marked in red on the left one and
// reserved spans in green on the right one, address 0 at the top and the
// 2 GB mark at the bottom.
#include "inspect/painter.h"

#include "app/shell.h"
#include "inspect/inspect.h"
#include "inspect/regions.h"

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

// The painter's own copies of the two region lists, taken together under
// one hold of the lock before a pass draws, so that a walk rewriting the
// lists never hands it a half-written span, a count beyond what was
// written, or one column from one walk and the other from the next.
RegionSpan PassCommitted[REGION_LIST_CAPACITY];
RegionSpan PassReserved[REGION_LIST_CAPACITY];
DWORD PassCommittedCount = 0;
DWORD PassReservedCount = 0;

// Creates the request event and its lock. Called on the UI thread only,
// before the painter thread exists.
void PrepareRequests() {
    if (DrawRequest) return;
    InitRegionLists();
    InitializeCriticalSection(&RequestLock);
    DrawRequest = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

DWORD CopySpans(const RegionList& list, RegionSpan* spans) {
    DWORD count = list.count <= REGION_LIST_CAPACITY ? list.count : REGION_LIST_CAPACITY;
    for (DWORD i = 0; i < count; ++i) spans[i] = list.spans[i];
    return count;
}

void CopyRegionLists() {
    EnterCriticalSection(&RegionListsLock);
    PassCommittedCount = CopySpans(CommittedRegions, PassCommitted);
    PassReservedCount = CopySpans(ReservedRegions, PassReserved);
    LeaveCriticalSection(&RegionListsLock);
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

// Marks every span of a copied list in one column, one line per row it covers.
void MarkSpans(HDC dc, const RegionSpan* spans, DWORD count, COLORREF color, int left, int right) {
    if (count == 0) return;
    HPEN pen = CreatePen(PS_SOLID, 1, color);
    HGDIOBJ previous = SelectObject(dc, pen);
    for (DWORD i = 0; i < count; ++i) {
        int first, last;
        if (!MapSpanRows(spans[i].base, spans[i].size, &first, &last)) continue;
        for (int y = first; y <= last; ++y) DrawRow(dc, left, right, y);
    }
    SelectObject(dc, previous);
    DeleteObject(pen);
}

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

void PaintMemoryMap(HDC dc) {
    CopyRegionLists();
    PaintBackground(dc);
    MarkSpans(dc, PassCommitted, PassCommittedCount, RGB(255, 0, 0), MAP_COMMITTED_LEFT, MAP_COMMITTED_RIGHT);
    MarkSpans(dc, PassReserved, PassReservedCount, RGB(0, 255, 0), MAP_RESERVED_LEFT, MAP_RESERVED_RIGHT);
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
        // The requests are taken before the lists are copied: one made
        // after the copy (a refresh whose walk has just ended) is left set
        // and gets a pass of its own, so a pass that announces always shows
        // the lists as a completed walk left them.
        BOOL announce = TakeMapRequest();
        PaintMemoryMap(dc);
        ReleaseDC(dialog, dc);
        if (announce) Notice(dialog, L"内存分布绘制完成!", MB_ICONINFORMATION);
    }
}
