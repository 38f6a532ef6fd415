// The heap browser: HeapDialog, the heap list scan on the UI thread and the
// block walk on a worker thread per selection.
#include "heaps/heaps.h"

#include <stdlib.h>

#include "app/format.h"
#include "app/shell.h"
#include "inspect/inspect.h"

ULONG_PTR HeapIdTable[HEAP_ID_CAPACITY];
HWND HeapWindow = nullptr;

namespace {

// Lines are composed in buffers of this many UTF-16 units.
const size_t HEAP_LINE_UNITS = 100;

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

void AppendBlockLines(HWND list, UINT number, const HEAPENTRY32& entry) {
    WCHAR line[HEAP_LINE_UNITS];
    wsprintfW(line, L"第%u个块的信息", number);
    LineListAppend(list, line);
    FormatHexLine(line, L"块句柄为:", reinterpret_cast<ULONG_PTR>(entry.hHandle), L"");
    LineListAppend(list, line);
    FormatHexLine(line, L"块基地址为:", entry.dwAddress, L"");
    LineListAppend(list, line);
    FormatHexLine(line, L"块大小为:", entry.dwBlockSize, L"");
    LineListAppend(list, line);
    wcscpy_s(line, HEAP_LINE_UNITS, BlockKindText(entry.dwFlags));
    LineListAppend(list, line);
}

void EnableRefresh(HWND dialog, BOOL enable) { EnableWindow(GetDlgItem(dialog, IDC_REFRESH), enable); }

// Ends HeapDialog from a worker. EndDialog is only reliable on the dialog's
// own thread, so the close message is posted and the dialog ends itself.
void EndHeapDialogFromWorker() { PostMessageW(HeapWindow, WM_CLOSE, 0, 0); }

void HeapDialog_Scan(HWND dialog) {
    EnableRefresh(dialog, FALSE);
    ScanHeapList();
    EnableRefresh(dialog, TRUE);
}

BOOL HeapDialog_OnInitDialog(HWND dialog) {
    HeapWindow = dialog;
    CenterOnScreen(dialog);
    LineListAppend(GetDlgItem(dialog, IDC_BLOCK_LIST), L"没有选择");
    HeapDialog_Scan(dialog);
    return TRUE;
}

// Starts a block walk of the heap shown at the selected line of the heap
// list. If no thread can be started nothing is shown.
void HeapDialog_OnHeapSelected(HWND dialog) {
    LRESULT index = SendDlgItemMessageW(dialog, IDC_HEAP_LIST, LB_GETCURSEL, 0, 0);
    if (index < 0 || index >= HEAP_ID_CAPACITY) return;
    HeapWalkJob* job = static_cast<HeapWalkJob*>(malloc(sizeof(HeapWalkJob)));
    if (!job) return;
    job->heapId = HeapIdTable[index];
    job->pid = SelectedPid;
    HANDLE thread = CreateThread(nullptr, 0, WalkHeapBlocks, job, 0, nullptr);
    if (!thread) {
        free(job);
        return;
    }
    CloseHandle(thread);
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
        EndDialog(dialog, 0);
        return 0;
    }
    HWND list = GetDlgItem(dialog, IDC_HEAP_LIST);
    LineListClear(list);

    HEAPLIST32 record = {};
    record.dwSize = sizeof(HEAPLIST32);
    StepOutcome step = JudgeStep(Heap32ListFirst(snapshot, &record));
    if (step == STEP_FAILED) {
        Notice(dialog, L"显示堆信息有错误发生\n错误码:0x00000002", MB_ICONERROR);
        CloseHandle(snapshot);
        EndDialog(dialog, 0);
        return 0;
    }
    // Heaps past the table's capacity are left out; the scan still counts
    // as complete.
    UINT count = 0;
    while (step == STEP_ADVANCED && count < HEAP_ID_CAPACITY) {
        HeapIdTable[count] = record.th32HeapID;
        ++count;
        AppendHeapLine(list, count, record.dwFlags);
        step = JudgeStep(Heap32ListNext(snapshot, &record));
        if (step == STEP_FAILED) {
            Notice(dialog, L"显示堆信息有错误发生\n错误码:0x00000003", MB_ICONERROR);
            CloseHandle(snapshot);
            EndDialog(dialog, 0);
            return 0;
        }
    }
    CloseHandle(snapshot);
    Notice(dialog, L"堆扫描完成!", MB_ICONINFORMATION);
    EnableRefresh(dialog, TRUE);
    return 1;
}

DWORD WINAPI WalkHeapBlocks(LPVOID param) {
    HeapWalkJob* job = static_cast<HeapWalkJob*>(param);
    HWND list = GetDlgItem(HeapWindow, IDC_BLOCK_LIST);
    LineListClear(list);

    HEAPENTRY32 entry = {};
    entry.dwSize = sizeof(HEAPENTRY32);
    StepOutcome step = JudgeStep(Heap32First(&entry, job->pid, job->heapId));
    free(job);
    if (step == STEP_FAILED) {
        Notice(HeapWindow, L"显示堆信息有错误发生\n错误码:0x00000001", MB_ICONERROR);
        EndHeapDialogFromWorker();
        return 0;
    }
    UINT number = 1;
    while (step == STEP_ADVANCED) {
        AppendBlockLines(list, number, entry);
        step = JudgeStep(Heap32Next(&entry));
        if (step == STEP_FAILED) {
            Notice(HeapWindow, L"显示堆信息有错误发生\n错误码:0x00000002", MB_ICONERROR);
            EndHeapDialogFromWorker();
            return 0;
        }
        ++number;
    }
    Notice(HeapWindow, L"堆扫描完成!", MB_ICONINFORMATION);
    EnableRefresh(HeapWindow, TRUE);
    return 1;
}

INT_PTR CALLBACK HeapDialog(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
    case WM_INITDIALOG:
        return HeapDialog_OnInitDialog(dialog);
    case WM_CLOSE:
        EndDialog(dialog, 0);
        return TRUE;
    case WM_COMMAND:
        return HeapDialog_OnCommand(dialog, wParam);
    default:
        return FALSE;
    }
}
