// The memory map painter: a thread that, on request, paints where the
// inspected process's committed and reserved memory lies: in the lower 2 GB,
// or on the x86_64 build, for a process with memory at or above 2 GB, over
// the stretches of address space it uses.
#pragma once

#include "platform/platform.h"

// The manual-reset event that asks for a pass.
extern HANDLE DrawRequest;

// Creates DrawRequest and starts the painter thread. Only the first call
// does anything. Requests can be made (and are kept) before it.
void StartMemoryMapPainter();

// Asks for a pass into the dialog ProcessMemoryWindow names now: the
// painter takes the window with the request and never reads the variable
// itself. `announce` asks for the notice "内存分布绘制完成!" at the end of
// the pass; requests merge until the painter wakes, and a merged pass
// announces when any of its requests did. A request made after the painter
// woke is not lost when the painter lets go of what it woke for without a
// pass: it keeps its own.
void RequestMemoryMap(BOOL announce);

// Ends the requests a pass serves: resets DrawRequest and returns whether
// any of them asked for the notice. The painter calls it before it copies
// the region lists.
BOOL TakeMapRequest();

// The painter thread's routine.
DWORD WINAPI MemoryMapPainter(LPVOID);

// One pass's drawing into `dc`, from the two region lists read together
// under one hold of their lock.
void PaintMemoryMap(HDC dc);

// Geometry, in device pixels of the dialog's client area.
#define MAP_COMMITTED_LEFT 570
#define MAP_COMMITTED_RIGHT 720
#define MAP_RESERVED_LEFT 740
#define MAP_RESERVED_RIGHT 890
#define MAP_TOP 20
#define MAP_BOTTOM 420
#define MAP_ADDRESS_STEP 50

// The row of an address: trunc(a * 396 / 2147483647 + 20).
int MapRowOf(DWORD address);

// The rows a span marks, as [first, last]; false when it marks none (its
// end passes 2^32). Equal to the rows of stepping through it every 50 bytes.
bool MapSpanRows(DWORD base, DWORD size, int* first, int* last);

// ---- The picture of the whole used address space (x86_64 build) ----------
//
// When the walk covers more than 4 GB (RegionWalkLimit above 2^32) and a
// committed or reserved region has memory at or above 2 GB, the columns
// stand for the stretches of address space the process uses instead of the
// lower 2 GB. A stretch runs from the first byte of a committed or reserved
// region to the last byte of another, with no free gap of
// MAP_GAP_BREAK_BYTES or more inside; such a gap separates two stretches and
// is left out. The stretches lie top to bottom in address order over rows
// MAP_FIRST_ROW to MAP_LAST_ROW, each separating gap a break of
// MAP_BREAK_ROWS light grey rows; every stretch has at least
// MAP_STRETCH_MIN_ROWS rows and the rows left over are shared in proportion
// to the stretches' sizes in 4 KB pages. Within a stretch an address's row
// is linear.
// When more stretches would come than the rows hold (MAP_STRETCH_CAPACITY),
// only the largest gaps separate them.
#define MAP_FIRST_ROW 20
#define MAP_LAST_ROW 416
#define MAP_BREAK_ROWS 2
#define MAP_STRETCH_MIN_ROWS 4
#define MAP_GAP_BREAK_BYTES 0x40000000ull
#define MAP_WIDE_FROM 0x80000000ull
#define MAP_STRETCH_CAPACITY \
    ((MAP_LAST_ROW - MAP_FIRST_ROW + 1 + MAP_BREAK_ROWS) / (MAP_STRETCH_MIN_ROWS + MAP_BREAK_ROWS))
#define MAP_BREAK_COLOR RGB(192, 192, 192)

struct MapStretch {
    ULONGLONG first;  // its lowest address
    ULONGLONG last;   // its highest address
    int top;          // its first row
    int rows;         // its rows; the break after it (if any) follows them
};

// How addresses map to rows for one pass. `count` 0 is the lower-2-GB
// picture, where MapRowOf decides.
struct MapLayout {
    int count;
    MapStretch stretches[MAP_STRETCH_CAPACITY];
};

struct RegionList;

// Lays the map out for the spans of the two lists (each in address order,
// as the walk keeps them). `wide` is whether the build's walk covers more
// than 4 GB; without it, or when every span ends below 2 GB, the layout is
// the lower-2-GB picture.
void LayOutMap(const RegionList& committed, const RegionList& reserved, bool wide, MapLayout* layout);

// The map's rule: the row of an address. In the lower-2-GB picture
// MapRowOf(address) (-1 at or above 4 GB). In the stretches' picture, for
// the stretch holding the address,
//     top + floor((address - first) * rows / (last - first + 1)),
// linear from its first row to its last; -1 for an address in a left-out
// gap or outside every stretch.
int MapRowOfAddress(ULONGLONG address, const MapLayout& layout);

// The rows a region marks, as [first, last]; false when it marks none. In
// the lower-2-GB picture those of MapSpanRows (a region at or above 4 GB
// marks none; a size wider than 32 bits is taken as 0xFFFFFFFF); in the
// stretches' picture the rows of its first and last bytes and all between.
bool MapRegionRows(const MapLayout& layout, ULONGLONG base, ULONGLONG size, int* first, int* last);

// What the columns cover, for the text above them: "共 3 段, 0x00010000 至
// 0x7fffffff0000" (the stretches, the first address of the first and the
// end of the last), or empty for the lower-2-GB picture. `units` counts the
// terminator.
#define MAP_COVERAGE_UNITS 80
void FormatMapCoverage(const MapLayout& layout, WCHAR* text, size_t units);

// Sets that text into the dialog's control IDC_MAP_COVERAGE from the lists
// as the last walk left them. On the UI thread, after a walk.
void ShowMapCoverage(HWND dialog);
