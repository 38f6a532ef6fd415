// The query dialog: asks for a process ID, typed or chosen from the process
// list, and opens the process memory dialog for it.
#include <stdlib.h>

#include "app/shell.h"
#include "inspect/inspect.h"

DWORD SelectedPid = 0;
HWND QueryWindow = nullptr;

// Whether a dialog or notice this dialog opened (an inspection, the process
// list, "请正确输入!") is still open. A user cannot press this dialog's
// buttons or close it then; the inspection's region walk handles the UI
// thread's messages, and another program can send any, so a 查询, 进程列表
// or close that reaches this dialog meanwhile does nothing.
static BOOL Busy = FALSE;

static INT_PTR Query_OnInitDialog(HWND dialog) {
    QueryWindow = dialog;
    CenterOnScreen(dialog);
    return TRUE;
}

BOOL ReadPidText(LPCWSTR text, DWORD* pid) {
    const WCHAR* c = text;
    while (*c == L' ') ++c;
    if (*c < L'0' || *c > L'9') return FALSE;
    ULONGLONG value = 0;
    for (; *c >= L'0' && *c <= L'9'; ++c) {
        value = value * 10 + static_cast<ULONGLONG>(*c - L'0');
        if (value > 0xFFFFFFFFull) return FALSE;
    }
    while (*c == L' ') ++c;
    if (*c != 0) return FALSE;
    *pid = static_cast<DWORD>(value);
    return TRUE;
}

// Reads field 1005 whole and judges it here rather than with the platform's
// reading of a number, which differs between platforms (Wine's wraps a minus
// sign into a large number). A number becomes the process under inspection
// and opens ProcessMemoryDialog; this dialog stays open afterwards so that
// another process can be asked for.
static INT_PTR Query_OnQuery(HWND dialog) {
    if (Busy) return TRUE;
    int units = static_cast<int>(SendDlgItemMessageW(dialog, IDC_PID, WM_GETTEXTLENGTH, 0, 0)) + 1;
    WCHAR* text = static_cast<WCHAR*>(malloc(static_cast<size_t>(units) * sizeof(WCHAR)));
    if (!text) return TRUE;
    GetDlgItemTextW(dialog, IDC_PID, text, units);
    DWORD pid = 0;
    BOOL accepted = ReadPidText(text, &pid);
    free(text);
    Busy = TRUE;
    if (accepted) {
        SelectedPid = pid;
        DialogBoxParamW(ModuleInstance, MAKEINTRESOURCEW(IDD_PROCESS_MEMORY), dialog, ProcessMemoryDialog, 0);
    } else {
        Notice(dialog, L"请正确输入!", MB_ICONERROR);
    }
    Busy = FALSE;
    return accepted ? FALSE : TRUE;
}

// Opens the process list; a process chosen there has its PID in the field
// now, and the focus goes to "查询", which the user presses as after typing.
static INT_PTR Query_OnProcessList(HWND dialog) {
    if (Busy) return FALSE;
    Busy = TRUE;
    INT_PTR chosen = DialogBoxParamW(ModuleInstance, MAKEINTRESOURCEW(IDD_PROCESS_LIST), dialog, ProcessListDialog, 0);
    Busy = FALSE;
    if (chosen == IDOK) SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, IDC_QUERY)), TRUE);
    return FALSE;
}

// Only "查询" inspects; Enter and Escape send commands 1 and 2, which do
// nothing.
static INT_PTR Query_OnCommand(HWND dialog, WPARAM wParam) {
    switch (LOWORD(wParam)) {
    case IDC_QUERY:
        return Query_OnQuery(dialog);
    case IDC_SHOW_PROCESS_LIST:
        return Query_OnProcessList(dialog);
    default:
        return TRUE;
    }
}

INT_PTR CALLBACK QueryDialog(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
    case WM_INITDIALOG:
        return Query_OnInitDialog(dialog);
    case WM_CLOSE:
        if (!Busy) EndDialog(dialog, 0);
        return TRUE;
    case WM_COMMAND:
        return Query_OnCommand(dialog, wParam);
    default:
        return FALSE;
    }
}
