// The counters summary: six lines about the inspected process's memory use
// in the upper list of ProcessMemoryDialog.
#include "app/format.h"
#include "app/shell.h"
#include "inspect/inspect.h"

// Room for the longest line (34 units): a 12-unit label, 20 digits, "字节".
static const int COUNTER_LINE_UNITS = 64;

// The working-set and page-file counters are pointer-sized: 32 bits in the
// product, where this reads exactly as "%u" does, and 64 bits on x86_64,
// where a count past 4 GB is shown whole.
static void AppendCountLine(HWND list, LPCWSTR format, SIZE_T value) {
    WCHAR digits[DECIMAL64_UNITS];
    WCHAR line[COUNTER_LINE_UNITS];
    FormatDecimal(static_cast<ULONGLONG>(value), digits);
    wsprintfW(line, format, digits);
    LineListAppend(list, line);
}

// Shows "无法执行!" and only then leaves `code` as the last error, so the
// message box cannot overwrite it before the caller reads it.
static int CountersFailed(DWORD code) {
    InspectNotice(ProcessMemoryWindow, L"无法执行!", MB_ICONERROR);
    SetLastError(code);
    return 0;
}

int ShowCounters() {
    HANDLE process = OpenProcess(MORVANE_ACCESS_COUNTERS, FALSE, SelectedPid);
    if (process == NULL) return CountersFailed(1);

    HWND list = GetDlgItem(ProcessMemoryWindow, IDC_COUNTERS);
    LineListClear(list);

    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof pmc;
    BOOL read = GetProcessMemoryInfo(process, &pmc, sizeof pmc);
    CloseHandle(process);
    if (!read) return CountersFailed(2);

    WCHAR line[COUNTER_LINE_UNITS];
    wsprintfW(line, L"进程ID:%u", SelectedPid);
    LineListAppend(list, line);
    wsprintfW(line, L"页面错误数:%u", pmc.PageFaultCount);
    LineListAppend(list, line);
    AppendCountLine(list, L"工作集峰值:%s字节", pmc.PeakWorkingSetSize);
    AppendCountLine(list, L"当前工作集:%s字节", pmc.WorkingSetSize);
    AppendCountLine(list, L"当前已分配的页面字节数:%s字节", pmc.PagefileUsage);
    AppendCountLine(list, L"分配页面峰值字节数:%s字节", pmc.PeakPagefileUsage);
    return 1;
}
