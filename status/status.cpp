// The system memory read-out: once a second the main window shows the
// memory load, seven memory sizes in bytes, the local time and the gauge.
#include "status/status.h"

#include "app/format.h"
#include "resources/resource.h"

static_assert(sizeof(MEMORYSTATUSEX) == 64, "MEMORYSTATUSEX is 64 bytes");

// The last status and time read; overwritten on every tick.
static MEMORYSTATUSEX MemoryStatus;
static SYSTEMTIME LocalTime;

int FormatByteCount(WCHAR* out, int size, ULONGLONG bytes) {
    if (out == nullptr || size <= 0) return 0;
    WCHAR digits[DECIMAL64_UNITS];
    FormatDecimal(bytes, digits);
    if (lstrlenW(digits) + 2 + 1 > size) {  // the digits, "字节" and the terminator
        out[0] = 0;
        return 0;
    }
    return wsprintfW(out, L"%s字节", digits);
}

static void ShowByteCount(HWND mainWindow, int id, ULONGLONG bytes) {
    WCHAR text[BYTE_COUNT_CHARS];
    FormatByteCount(text, BYTE_COUNT_CHARS, bytes);
    SetDlgItemTextW(mainWindow, id, text);
}

static void ShowClockField(HWND mainWindow, int id, WORD value) {
    WCHAR text[8];
    wsprintfW(text, L"%u", static_cast<UINT>(value));
    SetDlgItemTextW(mainWindow, id, text);
}

void ShowSystemStatus(HWND mainWindow) {
    // The query fails unless the record's length is set, every time.
    MemoryStatus.dwLength = sizeof(MEMORYSTATUSEX);
    GlobalMemoryStatusEx(&MemoryStatus);

    WCHAR load[16];
    wsprintfW(load, L"%u%%", static_cast<UINT>(MemoryStatus.dwMemoryLoad));
    SetDlgItemTextW(mainWindow, IDC_MEMORY_LOAD, load);
    ShowByteCount(mainWindow, IDC_TOTAL_PHYS, MemoryStatus.ullTotalPhys);
    ShowByteCount(mainWindow, IDC_AVAIL_PHYS, MemoryStatus.ullAvailPhys);
    ShowByteCount(mainWindow, IDC_TOTAL_PAGEFILE, MemoryStatus.ullTotalPageFile);
    ShowByteCount(mainWindow, IDC_AVAIL_PAGEFILE, MemoryStatus.ullAvailPageFile);
    ShowByteCount(mainWindow, IDC_TOTAL_VIRTUAL, MemoryStatus.ullTotalVirtual);
    ShowByteCount(mainWindow, IDC_AVAIL_VIRTUAL, MemoryStatus.ullAvailVirtual);
    ShowByteCount(mainWindow, IDC_AVAIL_EXTENDED, MemoryStatus.ullAvailExtendedVirtual);

    GetLocalTime(&LocalTime);
    ShowClockField(mainWindow, IDC_HOUR, LocalTime.wHour);
    ShowClockField(mainWindow, IDC_MINUTE, LocalTime.wMinute);
    ShowClockField(mainWindow, IDC_SECOND, LocalTime.wSecond);

    SendDlgItemMessageW(mainWindow, IDC_LOAD_GAUGE, PBM_SETPOS, MemoryStatus.dwMemoryLoad, 0);
}
