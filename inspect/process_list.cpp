// The process list: ProcessListDialog, opened from QueryDialog, shows every
// running process by executable name and PID, and writes the PID of the one
// chosen into QueryDialog's field.
#include <stdlib.h>

#include "app/shell.h"
#include "inspect/inspect.h"

namespace {

struct ProcessListEntry {
    DWORD pid;
    BOOL sixtyFourBit;  // marked: a 32-bit build sees it only below 4 GB
    WCHAR name[MAX_PATH];
};

struct ProcessTable {
    ProcessListEntry* entries;
    int count;
    int capacity;
};

// The lines of the open ProcessListDialog, in the order shown: line i is
// entry i. Read on its opening and on each refresh, freed when it ends.
ProcessTable ProcessList = {};

// A name, four blanks, "进程ID:" and the PID, and " (64位)" at the end when
// marked.
const size_t PROCESS_LINE_UNITS = MAX_PATH + 32;

void FreeProcessTable(ProcessTable* table) {
    free(table->entries);
    *table = {};
}

BOOL GrowProcessTable(ProcessTable* table) {
    if (table->count < table->capacity) return TRUE;
    int capacity = table->capacity ? table->capacity * 2 : 256;
    void* grown = realloc(table->entries, static_cast<size_t>(capacity) * sizeof(ProcessListEntry));
    if (!grown) return FALSE;
    table->entries = static_cast<ProcessListEntry*>(grown);
    table->capacity = capacity;
    return TRUE;
}

// Whether a process can be asked and answers that it is no WOW64 process:
// on a 64-bit system, a 64-bit one. Asked with query-limited rights only.
BOOL IsSixtyFourBitProcess(DWORD pid) {
    HANDLE process = OpenProcess(MORVANE_ACCESS_LIMITED, FALSE, pid);
    if (!process) return FALSE;
    BOOL wow64 = TRUE;
    BOOL asked = IsWow64Process(process, &wow64);
    CloseHandle(process);
    return asked && !wow64;
}

// By name, ignoring case; the same name by PID as a number.
int CompareProcessEntries(const void* left, const void* right) {
    const ProcessListEntry* a = static_cast<const ProcessListEntry*>(left);
    const ProcessListEntry* b = static_cast<const ProcessListEntry*>(right);
    int byName = CompareStringOrdinal(a->name, -1, b->name, -1, TRUE);
    if (byName != CSTR_EQUAL) return byName == CSTR_LESS_THAN ? -1 : 1;
    if (a->pid != b->pid) return a->pid < b->pid ? -1 : 1;
    return 0;
}

// Adds the snapshot's entry; marks it when this program is a 32-bit one on
// a 64-bit system (`wow64Self`) and the process is a 64-bit one.
BOOL AddProcessEntry(ProcessTable* table, PROCESSENTRY32W* entry, BOOL wow64Self) {
    if (!GrowProcessTable(table)) return FALSE;
    ProcessListEntry* added = &table->entries[table->count++];
    added->pid = entry->th32ProcessID;
    entry->szExeFile[MAX_PATH - 1] = 0;
    wcscpy_s(added->name, MAX_PATH, entry->szExeFile);
    added->sixtyFourBit = wow64Self && IsSixtyFourBitProcess(entry->th32ProcessID);
    return TRUE;
}

// Reads the platform's process snapshot into `table`, sorted. Returns 0, or
// the step that failed: 1 the snapshot, 2 its first entry, 3 a later one;
// the table is then left empty. A snapshot without entries is no failure.
DWORD ReadProcessTable(ProcessTable* table) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 1;
    BOOL wow64Self = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &wow64Self)) wow64Self = FALSE;

    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(PROCESSENTRY32W);
    DWORD step = 2;
    DWORD failed = 0;
    BOOL more = Process32FirstW(snapshot, &entry);
    // A step that returns FALSE has reached the end when the last error
    // says there are no more entries, and failed otherwise.
    for (;;) {
        if (!more) {
            if (GetLastError() != ERROR_NO_MORE_FILES) failed = step;
            break;
        }
        if (!AddProcessEntry(table, &entry, wow64Self)) {
            failed = step;
            break;
        }
        step = 3;
        more = Process32NextW(snapshot, &entry);
    }
    CloseHandle(snapshot);
    if (failed) {
        FreeProcessTable(table);
        return failed;
    }
    if (table->count > 1)
        qsort(table->entries, static_cast<size_t>(table->count), sizeof(ProcessListEntry), CompareProcessEntries);
    return 0;
}

void ShowProcessTable(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_PROCESS_LIST);
    LineListClear(list);
    WCHAR line[PROCESS_LINE_UNITS];
    for (int i = 0; i < ProcessList.count; ++i) {
        const ProcessListEntry& e = ProcessList.entries[i];
        wsprintfW(line, L"%s    进程ID:%u%s", e.name, e.pid, e.sixtyFourBit ? L" (64位)" : L"");
        LineListAppend(list, line);
    }
}

// The index of the selected line, or -1.
int SelectedLine(HWND dialog) {
    LRESULT selected = SendDlgItemMessageW(dialog, IDC_PROCESS_LIST, LB_GETCURSEL, 0, 0);
    if (selected < 0 || selected >= ProcessList.count) return -1;
    return static_cast<int>(selected);
}

void NoticeListFailure(HWND dialog, DWORD step) {
    WCHAR text[64];
    wsprintfW(text, L"无法列出进程!\n错误码:0x%08x", step);
    Notice(dialog, text, MB_ICONERROR);
}

void EndProcessList(HWND dialog, INT_PTR result) {
    FreeProcessTable(&ProcessList);
    EndDialog(dialog, result);
}

INT_PTR ProcessList_OnInitDialog(HWND dialog) {
    CenterOnScreen(dialog);
    FreeProcessTable(&ProcessList);
    DWORD failed = ReadProcessTable(&ProcessList);
    if (failed) {
        NoticeListFailure(dialog, failed);
        EndProcessList(dialog, 0);
        return FALSE;
    }
    ShowProcessTable(dialog);
    return TRUE;
}

// Writes the selected line's PID into QueryDialog's field and ends with
// IDOK; nothing when no line is selected.
INT_PTR ProcessList_OnChoose(HWND dialog) {
    int line = SelectedLine(dialog);
    if (line < 0) return TRUE;
    WCHAR text[16];
    wsprintfW(text, L"%u", ProcessList.entries[line].pid);
    SetDlgItemTextW(QueryWindow, IDC_PID, text);
    EndProcessList(dialog, IDOK);
    return TRUE;
}

// A new snapshot; the selection stays on its PID while that is listed. When
// the snapshot cannot be read the lines stay as they were.
INT_PTR ProcessList_OnRefresh(HWND dialog) {
    int line = SelectedLine(dialog);
    BOOL keep = line >= 0;
    DWORD keptPid = keep ? ProcessList.entries[line].pid : 0;
    ProcessTable fresh = {};
    DWORD failed = ReadProcessTable(&fresh);
    if (failed) {
        NoticeListFailure(dialog, failed);
        return TRUE;
    }
    FreeProcessTable(&ProcessList);
    ProcessList = fresh;
    ShowProcessTable(dialog);
    for (int i = 0; keep && i < ProcessList.count; ++i) {
        if (ProcessList.entries[i].pid != keptPid) continue;
        SendDlgItemMessageW(dialog, IDC_PROCESS_LIST, LB_SETCURSEL, static_cast<WPARAM>(i), 0);
        break;
    }
    return TRUE;
}

INT_PTR ProcessList_OnCommand(HWND dialog, WPARAM wParam) {
    switch (LOWORD(wParam)) {
    case IDC_LIST_OK:
        return ProcessList_OnChoose(dialog);
    case IDC_PROCESS_LIST:
        if (HIWORD(wParam) == LBN_DBLCLK) return ProcessList_OnChoose(dialog);
        return TRUE;
    case IDC_LIST_REFRESH:
        return ProcessList_OnRefresh(dialog);
    case IDCANCEL:
        EndProcessList(dialog, 0);
        return TRUE;
    default:
        return TRUE;
    }
}

}  // namespace

INT_PTR CALLBACK ProcessListDialog(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_INITDIALOG:
        return ProcessList_OnInitDialog(dialog);
    case WM_CLOSE:
        EndProcessList(dialog, 0);
        return TRUE;
    case WM_COMMAND:
        return ProcessList_OnCommand(dialog, wParam);
    case WM_VKEYTOITEM:
        return LineListKey(dialog, wParam, lParam);
    case WM_CHARTOITEM:
        return LIST_KEY_DEFAULT;
    default:
        return FALSE;
    }
}
