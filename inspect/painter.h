// The memory map painter: a thread that, on request, paints where the
// inspected process's committed and reserved memory lies in the lower 2 GB.
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

// One pass's drawing into `dc`, from copies of the two region lists taken
// together.
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
