// Start-up and the main window: the system memory read-out, the clock, the
// load gauge and the way into the process inspection.
#include "app/shell.h"
#include "inspect/inspect.h"
#include "inspect/painter.h"
#include "status/status.h"

// The read-out's timer: fires every second as WM_TIMER, no callback.
#define STATUS_TIMER_ID 1
#define STATUS_TIMER_PERIOD 1000

// The load gauge: light green bar on a light blue background, 0 to 100.
#define GAUGE_BAR_COLOR 0x0095FF95u
#define GAUGE_BACK_COLOR 0x00FFE0C1u
#define GAUGE_RANGE_0_TO_100 0x00640000

int RunMorvane(HINSTANCE instance) {
    ModuleInstance = instance;
    // The load gauge is a common control; its class must be registered
    // before the main window's template creates it.
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_PROGRESS_CLASS;
    InitCommonControlsEx(&controls);
    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_MAIN_WINDOW), nullptr, MainWindow,
                    reinterpret_cast<LPARAM>(instance));
    return 0;
}

static INT_PTR MainWindow_OnInitDialog(HWND dialog) {
    CenterOnScreen(dialog);
    SetTimer(dialog, STATUS_TIMER_ID, STATUS_TIMER_PERIOD, nullptr);
    SendDlgItemMessageW(dialog, IDC_LOAD_GAUGE, PBM_SETBARCOLOR, 0, static_cast<LPARAM>(GAUGE_BAR_COLOR));
    SendDlgItemMessageW(dialog, IDC_LOAD_GAUGE, PBM_SETBKCOLOR, 0, static_cast<LPARAM>(GAUGE_BACK_COLOR));
    SendDlgItemMessageW(dialog, IDC_LOAD_GAUGE, PBM_SETRANGE, 0, GAUGE_RANGE_0_TO_100);
    StartMemoryMapPainter();
    return TRUE;
}

static INT_PTR MainWindow_OnTimer(HWND dialog, WPARAM timerId) {
    if (timerId == STATUS_TIMER_ID) ShowSystemStatus(dialog);
    return TRUE;
}

// Whether the query dialog or the about box is open over the main window. A
// user can neither press its buttons nor close it then, and a command or
// close another program sends does nothing: a second query dialog would
// open a second inspection inside the first.
static BOOL ChildOpen = FALSE;

static INT_PTR MainWindow_OnCommand(HWND dialog, int id) {
    if (ChildOpen) return TRUE;
    switch (id) {
    case IDC_SHOW_PROCESS:
        ChildOpen = TRUE;
        DialogBoxParamW(ModuleInstance, MAKEINTRESOURCEW(IDD_QUERY), dialog, QueryDialog, 0);
        ChildOpen = FALSE;
        return FALSE;
    case IDC_ABOUT:
        ChildOpen = TRUE;
        MessageBoxW(dialog, L"本程序用于查看进程虚拟内存状态", L"Morvane", MB_OK | MB_ICONINFORMATION);
        ChildOpen = FALSE;
        return FALSE;
    default:
        // Enter and Escape (IDOK, IDCANCEL) land here: the main window
        // closes only through its close box or system menu.
        return TRUE;
    }
}

static INT_PTR MainWindow_OnClose(HWND dialog) {
    if (!ChildOpen) EndDialog(dialog, 0);
    return TRUE;
}

INT_PTR CALLBACK MainWindow(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
    case WM_INITDIALOG:
        return MainWindow_OnInitDialog(dialog);
    case WM_TIMER:
        return MainWindow_OnTimer(dialog, wParam);
    case WM_COMMAND:
        return MainWindow_OnCommand(dialog, LOWORD(wParam));
    case WM_CLOSE:
        return MainWindow_OnClose(dialog);
    default:
        return FALSE;
    }
}
