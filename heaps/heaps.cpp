// The heap browser: HeapDialog, the heap list scan on the UI thread and the
// block walk on a worker thread per selection.
#include "heaps/heaps.h"

#include <stdlib.h>

#include "app/format.h"
#include "app/shell.h"
#include "inspect/inspect.h"

ULONG_PTR* HeapIdTable = nullptr;
UINT HeapIdCount = 0;
HWND HeapWindow = nullptr;

namespace {

// The newest request of HeapDialog: changed on its thread at every opening,
// selection that starts a walk, and end. A walk serves the request current
// when it was started and stops as soon as that is no longer the newest.
DWORD HeapRequest = 0;

// Whether the heap list scan runs (its notice open): button 1 is disabled
// then, and a refresh sent by another program does nothing either.
BOOL Scanning = FALSE;

// Lines are composed in buffers of this many UTF-16 units.
const size_t HEAP_LINE_UNITS = 100;

// The heap table's storage, in identifiers; it starts at 64 and doubles.
UINT HeapIdCapacity = 0;

// Appends a heap to the table; FALSE when the table cannot grow.
BOOL KeepHeapId(ULONG_PTR id) {
    if (HeapIdCount == HeapIdCapacity) {
        UINT capacity = HeapIdCapacity ? 2 * HeapIdCapacity : 64;
        void* grown = capacity > HeapIdCapacity ? realloc(HeapIdTable, capacity * sizeof(ULONG_PTR)) : nullptr;
        if (!grown) return FALSE;
        HeapIdTable = static_cast<ULONG_PTR*>(grown);
        HeapIdCapacity = capacity;
    }
    HeapIdTable[HeapIdCount++] = id;
    return TRUE;
}

// What one tool-help step did. A step that returned success advanced, no
// matter what the last-error value holds: a successful call need not clear
// it, so a value left by an earlier call says nothing. Only a step that
// returned failure is judged by its last-error value.
enum StepOutcome { STEP_ADVANCED, STEP_FINISHED, STEP_FAILED };

StepOutcome JudgeStep(BOOL returned) {
    if (returned) return STEP_ADVANCED;
    return GetLastError() == ERROR_NO_MORE_FILES ? STEP_FINISHED : STEP_FAILED;
}

// The kind of a block by its flags; empty when it is none of the three.
LPCWSTR BlockKindText(DWORD flags) {
    switch (flags) {
    case LF32_FIXED:
        return L"固定块";
    case LF32_FREE:
        return L"未用块";
    case LF32_MOVEABLE:
        return L"可移动块";
    default:
        return L"";
    }
}

void AppendHeapLine(HWND list, UINT number, DWORD flags) {
    WCHAR line[HEAP_LINE_UNITS];
    wsprintfW(line, L"第%u个堆的信息", number);
    if (flags == HF32_DEFAULT) wcscat_s(line, HEAP_LINE_UNITS, L"----默认堆");
    LineListAppend(list, line);
}

// The five lines of a block; FALSE as soon as the dialog refuses one.
BOOL AppendBlockLines(const DialogJob& served, HWND list, UINT number, const HEAPENTRY32& entry) {
    WCHAR line[HEAP_LINE_UNITS];
    wsprintfW(line, L"第%u个块的信息", number);
    if (!JobAppend(served, list, line)) return FALSE;
    FormatHexLine(line, L"块句柄为:", reinterpret_cast<ULONG_PTR>(entry.hHandle), L"");
    if (!JobAppend(served, list, line)) return FALSE;
    FormatHexLine(line, L"块基地址为:", entry.dwAddress, L"");
    if (!JobAppend(served, list, line)) return FALSE;
    FormatHexLine(line, L"块大小为:", entry.dwBlockSize, L"");
    if (!JobAppend(served, list, line)) return FALSE;
    wcscpy_s(line, HEAP_LINE_UNITS, BlockKindText(entry.dwFlags));
    return JobAppend(served, list, line);
}

// A failed walk tells so and ends the dialog it serves, if it still serves it.
DWORD FailWalk(const DialogJob& served, LPCWSTR text) {
    JobFail(served, text);
    return 0;
}

void EnableRefresh(HWND dialog, BOOL enable) { EnableWindow(GetDlgItem(dialog, IDC_REFRESH), enable); }

// Ends HeapDialog on its own thread; a walk still running for it stops.
void EndHeapDialog(HWND dialog) {
    HeapRequest = NewJobRequest();
    EndDialog(dialog, 0);
}

void HeapDialog_Scan(HWND dialog) {
    if (Scanning) return;
    Scanning = TRUE;
    EnableRefresh(dialog, FALSE);
    ScanHeapList();
    EnableRefresh(dialog, TRUE);
    Scanning = FALSE;
}

// Another program's WM_INITDIALOG opens the dialog afresh, as closing and
// opening it would; not during the scan.
BOOL HeapDialog_OnInitDialog(HWND dialog) {
    if (Scanning) return TRUE;
    HeapWindow = dialog;
    HeapRequest = NewJobRequest();
    CenterOnScreen(dialog);
    HWND blocks = GetDlgItem(dialog, IDC_BLOCK_LIST);
    LineListClear(blocks);
    LineListAppend(blocks, L"没有选择");
    HeapDialog_Scan(dialog);
    return TRUE;
}

// Starts a block walk of the heap shown at the selected line of the heap
// list. If no thread can be started nothing is shown.
void HeapDialog_OnHeapSelected(HWND dialog) {
    LRESULT index = SendDlgItemMessageW(dialog, IDC_HEAP_LIST, LB_GETCURSEL, 0, 0);
    if (index < 0 || index >= static_cast<LRESULT>(HeapIdCount)) return;
    HeapWalkJob* job = static_cast<HeapWalkJob*>(malloc(sizeof(HeapWalkJob)));
    if (!job) return;
    job->heapId = HeapIdTable[index];
    job->pid = SelectedPid;
    // The new walk replaces any earlier one; if it cannot start, the
    // earlier one goes on.
    StartDialogJob(dialog, &HeapRequest, &job->served, WalkHeapBlocks, job);
}

INT_PTR HeapDialog_OnCommand(HWND dialog, WPARAM wParam) {
    if (LOWORD(wParam) == IDC_REFRESH) {
        HeapDialog_Scan(dialog);
        return FALSE;
    }
    if (HIWORD(wParam) == LBN_SELCHANGE) {
        if (LOWORD(wParam) == IDC_HEAP_LIST) HeapDialog_OnHeapSelected(dialog);
        return FALSE;
    }
    return TRUE;
}

}  // namespace

int ScanHeapList() {
    HWND dialog = HeapWindow;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPHEAPLIST, SelectedPid);
    if (snapshot == INVALID_HANDLE_VALUE) {
        Notice(dialog, L"显示堆信息有错误发生\n错误码:0x00000001", MB_ICONERROR);
        EndHeapDialog(dialog);
        return 0;
    }
    HWND list = GetDlgItem(dialog, IDC_HEAP_LIST);
    LineListClear(list);
    HeapIdCount = 0;

    HEAPLIST32 record = {};
    record.dwSize = sizeof(HEAPLIST32);
    StepOutcome step = JudgeStep(Heap32ListFirst(snapshot, &record));
    if (step == STEP_FAILED) {
        Notice(dialog, L"显示堆信息有错误发生\n错误码:0x00000002", MB_ICONERROR);
        CloseHandle(snapshot);
        EndHeapDialog(dialog);
        return 0;
    }
    // Every heap is listed; should memory for the table run out, the list
    // ends with the heaps it holds, and the scan still counts as complete.
    while (step == STEP_ADVANCED && KeepHeapId(record.th32HeapID)) {
        AppendHeapLine(list, HeapIdCount, record.dwFlags);
        step = JudgeStep(Heap32ListNext(snapshot, &record));
        if (step == STEP_FAILED) {
            Notice(dialog, L"显示堆信息有错误发生\n错误码:0x00000003", MB_ICONERROR);
            CloseHandle(snapshot);
            EndHeapDialog(dialog);
            return 0;
        }
    }
    CloseHandle(snapshot);
    Notice(dialog, L"堆扫描完成!", MB_ICONINFORMATION);
    EnableRefresh(dialog, TRUE);
    return 1;
}

DWORD WINAPI WalkHeapBlocks(LPVOID param) {
    HeapWalkJob job = *static_cast<HeapWalkJob*>(param);
    free(param);
    HWND list = GetDlgItem(job.served.dialog, IDC_BLOCK_LIST);
    if (!JobClear(job.served, list)) return 0;

    HEAPENTRY32 entry = {};
    entry.dwSize = sizeof(HEAPENTRY32);
    StepOutcome step = JudgeStep(Heap32First(&entry, job.pid, job.heapId));
    if (step == STEP_FAILED) return FailWalk(job.served, L"显示堆信息有错误发生\n错误码:0x00000001");
    UINT number = 1;
    while (step == STEP_ADVANCED) {
        if (!AppendBlockLines(job.served, list, number, entry)) return 0;
        step = JudgeStep(Heap32Next(&entry));
        if (step == STEP_FAILED) return FailWalk(job.served, L"显示堆信息有错误发生\n错误码:0x00000002");
        ++number;
    }
    if (!JobNotice(job.served, L"堆扫描完成!", MB_ICONINFORMATION)) return 0;
    JobEnableRefresh(job.served);
    return 1;
}

INT_PTR CALLBACK HeapDialog(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_INITDIALOG:
        return HeapDialog_OnInitDialog(dialog);
    case WM_CLOSE:
        EndHeapDialog(dialog);
        return TRUE;
    case WM_COMMAND:
        return HeapDialog_OnCommand(dialog, wParam);
    case WM_VKEYTOITEM:
        return LineListKey(dialog, wParam, lParam);
    case WM_CHARTOITEM:
        return LIST_KEY_DEFAULT;
    case WM_JOB_STEP:
        CarryOutJobStep(dialog, HeapRequest, lParam);
        return TRUE;
    default:
        return FALSE;
    }
}
