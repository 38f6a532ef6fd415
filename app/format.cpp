#include "app/format.h"

void FormatDecimal(ULONGLONG value, WCHAR* out) {
    WCHAR reversed[DECIMAL64_UNITS];
    int n = 0;
    do {
        reversed[n++] = static_cast<WCHAR>(L'0' + static_cast<int>(value % 10));
        value /= 10;
    } while (value != 0);
    int i = 0;
    while (n > 0) out[i++] = reversed[--n];
    out[i] = 0;
}

void FormatHexLine(WCHAR* line, LPCWSTR label, ULONGLONG value, LPCWSTR suffix) {
    DWORD high = static_cast<DWORD>(value >> 32);
    DWORD low = static_cast<DWORD>(value);
    if (high == 0)
        wsprintfW(line, L"%s0x%08x%s", label, low, suffix);
    else
        wsprintfW(line, L"%s0x%x%08x%s", label, high, low, suffix);
}
