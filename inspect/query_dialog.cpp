// The query dialog: asks for a process ID and opens the process memory
// dialog for it.
#include "app/shell.h"
#include "inspect/inspect.h"

DWORD SelectedPid = 0;

static INT_PTR Query_OnInitDialog(HWND dialog) {
    CenterOnScreen(dialog);
    return TRUE;
}

// Reads field 1005 as an unsigned decimal number. A number becomes the
// process under inspection and opens ProcessMemoryDialog; this dialog stays
// open afterwards so that another process can be asked for.
static INT_PTR Query_OnQuery(HWND dialog) {
    BOOL translated = FALSE;
    UINT pid = GetDlgItemInt(dialog, IDC_PID, &translated, FALSE);
    if (!translated) {
        Notice(dialog, L"请正确输入!", MB_ICONERROR);
        return TRUE;
    }
    SelectedPid = pid;
    DialogBoxParamW(ModuleInstance, MAKEINTRESOURCEW(IDD_PROCESS_MEMORY), dialog, ProcessMemoryDialog, 0);
    return FALSE;
}

// Only "查询" acts; Enter and Escape send commands 1 and 2, which do nothing.
static INT_PTR Query_OnCommand(HWND dialog, WPARAM wParam) {
    if (LOWORD(wParam) == IDC_QUERY) return Query_OnQuery(dialog);
    return TRUE;
}

INT_PTR CALLBACK QueryDialog(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
    case WM_INITDIALOG:
        return Query_OnInitDialog(dialog);
    case WM_CLOSE:
        EndDialog(dialog, 0);
        return TRUE;
    case WM_COMMAND:
        return Query_OnCommand(dialog, wParam);
    default:
        return FALSE;
    }
}
