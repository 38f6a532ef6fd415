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
    static const WCHAR unit[] = L"字节";
    const int unitLength = static_cast<int>(sizeof(unit) / sizeof(unit[0])) - 1;
    // wsprintfW's 64-bit support differs between platform versions, so the
    // digits are written here.
    WCHAR digits[DECIMAL64_UNITS];
    FormatDecimal(bytes, digits);
    int count = lstrlenW(digits);
    if (out == nullptr || size <= 0) return 0;
    if (count + unitLength + 1 > size) {
        out[0] = 0;
        return 0;
    }
    int length = 0;
    for (int i = 0; i < count; ++i) out[length++] = digits[i];
    for (int i = 0; i < unitLength; ++i) out[length++] = unit[i];
    out[length] = 0;
    return length;
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
