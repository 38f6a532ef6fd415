// The counters summary: six lines about the inspected process's memory use
// in the upper list of ProcessMemoryDialog.
#include "app/shell.h"
#include "inspect/inspect.h"

// Room for the longest line (34 units): a 12-unit label, 20 digits, "字节".
static const int COUNTER_LINE_UNITS = 64;
// A 64-bit count has at most 20 decimal digits.
static const int COUNT_DIGIT_UNITS = 21;

// Writes `value` in unsigned decimal, no separators, no leading zeros.
// The working-set and page-file counters are pointer-sized: 32 bits in the
// product, where this reads exactly as "%u" does, and 64 bits on x86_64,
// where a count past 4 GB must not be cut to its low 32 bits.
static void FormatCount(ULONGLONG value, WCHAR* out) {
    WCHAR reversed[COUNT_DIGIT_UNITS];
    int n = 0;
    do {
        reversed[n++] = static_cast<WCHAR>(L'0' + static_cast<int>(value % 10));
        value /= 10;
    } while (value != 0 && n < COUNT_DIGIT_UNITS - 1);
    int i = 0;
    while (n > 0) out[i++] = reversed[--n];
    out[i] = 0;
}

static void AppendCountLine(LPCWSTR format, SIZE_T value) {
    WCHAR digits[COUNT_DIGIT_UNITS];
    WCHAR line[COUNTER_LINE_UNITS];
    FormatCount(static_cast<ULONGLONG>(value), digits);
    wsprintfW(line, format, digits);
    LineListAppend(ProcessMemoryWindow, IDC_COUNTERS, line);
}

// Shows "无法执行!" and only then leaves `code` as the last error, so the
// message box cannot overwrite it before the caller reads it.
static int CountersFailed(DWORD code) {
    Notice(ProcessMemoryWindow, L"无法执行!", MB_ICONERROR);
    SetLastError(code);
    return 0;
}

int ShowCounters() {
    HANDLE process = OpenProcess(MORVANE_ACCESS_COUNTERS, FALSE, SelectedPid);
    if (process == NULL) return CountersFailed(1);

    LineListClear(ProcessMemoryWindow, IDC_COUNTERS);

    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof pmc;
    BOOL read = GetProcessMemoryInfo(process, &pmc, sizeof pmc);
    CloseHandle(process);
    if (!read) return CountersFailed(2);

    WCHAR line[COUNTER_LINE_UNITS];
    wsprintfW(line, L"进程ID:%u", SelectedPid);
    LineListAppend(ProcessMemoryWindow, IDC_COUNTERS, line);
    wsprintfW(line, L"页面错误数:%u", pmc.PageFaultCount);
    LineListAppend(ProcessMemoryWindow, IDC_COUNTERS, line);
    AppendCountLine(L"工作集峰值:%s字节", pmc.PeakWorkingSetSize);
    AppendCountLine(L"当前工作集:%s字节", pmc.WorkingSetSize);
    AppendCountLine(L"当前已分配的页面字节数:%s字节", pmc.PagefileUsage);
    AppendCountLine(L"分配页面峰值字节数:%s字节", pmc.PeakPagefileUsage);
    return 1;
}
