// Number texts shared by the dialogs.
#pragma once

#include "platform/platform.h"

// A 64-bit count has at most 20 decimal digits, plus the terminator.
#define DECIMAL64_UNITS 21

// Writes `value` in unsigned decimal, without separators or leading zeros,
// into `out` (DECIMAL64_UNITS units). Byte counts and pointer-sized counters
// are shown whole, never cut to 32 bits.
void FormatDecimal(ULONGLONG value, WCHAR* out);

// Writes "<label>0x%08x<suffix>": eight lower-case digits for a 32-bit value.
// A wider value (addresses and sizes on x86_64) is written whole, e.g.
// 0x7ffefff0000, rather than cut to its low half.
void FormatHexLine(WCHAR* line, LPCWSTR label, ULONGLONG value, LPCWSTR suffix);
