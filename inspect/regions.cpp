// The region walk and the region table.
#include "inspect/regions.h"

#include "app/format.h"
#include "app/shell.h"
#include "inspect/inspect.h"

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

// Keeps the span of a region that has one; a full list keeps its first
// REGION_LIST_CAPACITY spans.
void KeepSpan(RegionList* list, ULONGLONG base, ULONGLONG size) {
    RegionSpan span;
    if (!SpanOfRegion(base, size, &span)) return;
    EnterCriticalSection(&RegionListsLock);
    if (list->count < REGION_LIST_CAPACITY) list->spans[list->count++] = span;
    LeaveCriticalSection(&RegionListsLock);
}

void EmptyRegionLists() {
    EnterCriticalSection(&RegionListsLock);
    CommittedRegions.count = 0;
    ReservedRegions.count = 0;
    LeaveCriticalSection(&RegionListsLock);
}

}  // namespace

void InitRegionLists() {
    if (RegionListsReady) return;
    InitializeCriticalSection(&RegionListsLock);
    RegionListsReady = true;
}

bool RegionWalkContinues(ULONGLONG cursor, ULONGLONG size, ULONGLONG limit) {
    return size != 0 && cursor <= limit && size <= limit - cursor;
}

bool SpanOfRegion(ULONGLONG base, ULONGLONG size, RegionSpan* span) {
    if (base > 0xFFFFFFFFull) return false;
    span->base = static_cast<DWORD>(base);
    span->size = size > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(size);
    return true;
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

void FormatRegion(const MEMORY_BASIC_INFORMATION& region, RegionLines* lines) {
    wcscpy_s(lines->text[0], REGION_LINE_UNITS, RegionSeparator);
    FormatHexLine(lines->text[1], L"区域基址为:", reinterpret_cast<ULONG_PTR>(region.BaseAddress), L"");
    FormatProtection(region.AllocationProtect, lines->text[2], REGION_LINE_UNITS);
    wcscpy_s(lines->text[3], REGION_LINE_UNITS, StateText(region.State));
    wcscpy_s(lines->text[4], REGION_LINE_UNITS, TypeText(region.Type));
    FormatHexLine(lines->text[5], L"大小:", region.RegionSize, L"字节");
}

int WalkRegions() {
    InitRegionLists();
    EmptyRegionLists();

    HANDLE process = OpenProcess(MORVANE_ACCESS_QUERY, FALSE, SelectedPid);
    if (!process) {
        Notice(ProcessMemoryWindow, L"无法执行!", MB_ICONERROR);
        SetLastError(1);
        return 0;
    }

    // Thousands of regions make tens of thousands of lines: the table is
    // filled with its redrawing off and its storage reserved, then redrawn
    // once.
    HWND table = GetDlgItem(ProcessMemoryWindow, IDC_REGIONS);
    SendMessageW(table, WM_SETREDRAW, FALSE, 0);
    LineListClear(table);
    WPARAM reserved = FirstReservedLines;
    WPARAM appended = 0;
    ReserveTableLines(table, reserved);

    ULONGLONG cursor = 0;
    MEMORY_BASIC_INFORMATION region;
    while (VirtualQueryEx(process, reinterpret_cast<LPCVOID>(static_cast<ULONG_PTR>(cursor)), &region,
                          sizeof region)) {
        RegionLines lines;
        FormatRegion(region, &lines);
        if (region.State == MEM_COMMIT) KeepSpan(&CommittedRegions, reinterpret_cast<ULONG_PTR>(region.BaseAddress), region.RegionSize);
        if (region.State == MEM_RESERVE) KeepSpan(&ReservedRegions, reinterpret_cast<ULONG_PTR>(region.BaseAddress), region.RegionSize);
        if (appended + 6 > reserved) {
            ReserveTableLines(table, reserved);
            reserved *= 2;
        }
        for (const WCHAR* line : lines.text) LineListAppend(table, line);
        appended += 6;

        if (!RegionWalkContinues(cursor, region.RegionSize, RegionWalkLimit)) break;
        cursor += region.RegionSize;
    }

    SendMessageW(table, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(table, nullptr, TRUE);
    CloseHandle(process);
    return 1;
}
