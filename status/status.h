// The once-a-second system memory read-out of the main window.
#pragma once

#include "platform/platform.h"

// Fills fields 1005 to 1012, the clock 1023 to 1025 and the gauge 1026.
void ShowSystemStatus(HWND mainWindow);

// Room for the longest byte count: 20 digits, "字节" and the terminator.
#define BYTE_COUNT_CHARS 23

// Writes `bytes` as a full decimal number (no separators, no leading zeros)
// followed by "字节" into `out`, which holds `size` characters. Returns the
// length written; when the text does not fit, writes "" (if it can) and
// returns 0.
int FormatByteCount(WCHAR* out, int size, ULONGLONG bytes);
