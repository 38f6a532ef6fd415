// The process memory dialog: the counters of the process under inspection,
// its region table and its memory map, with a refresh and the ways into the
// heap and module browsers and to "内存用途".
#include "app/shell.h"
#include "heaps/heaps.h"
#include "inspect/inspect.h"
#include "inspect/painter.h"
#include "inspect/regions.h"
#include "modules/modules.h"
#include "uses/uses_dialog.h"

HWND ProcessMemoryWindow = NULL;

// Posted to the dialog while it handles a paint message; its handling asks
// the painter for a pass. Its parameters mean nothing: whether the pass ends
// with its notice is the dialog's own state (FirstPassOwed), so another
// program posting it gets at most a silent redraw.
#define WM_REQUEST_MEMORY_MAP (WM_APP + 1)

// Whether this opening of the dialog shows a process: set once its
// initialisation has filled both lists. A failing initialisation shows its
// notices with the dialog already on screen, and the paint messages those
// notices let through must not start a pass (and a third notice) for a
// dialog that is about to close.
static BOOL MapWanted = FALSE;

// Whether this opening of the dialog has had its first paint. The first
// paint's pass announces itself; passes asked for by later repaints (among
// them the one that follows closing the pass's own notice) do not, or every
// notice would bring the next. FirstPassOwed: the first paint has been
// seen and the pass it announces not yet asked for.
static BOOL FirstPaintSeen = FALSE;
static BOOL FirstPassOwed = FALSE;

// Whether a heap or module dialog opened by this one is open over it. This
// dialog is disabled then, so a user can neither press its buttons nor
// close it; a command or close sent by another program does nothing too.
static BOOL BrowserOpen = FALSE;

// Whether the dialog's region walk is running. The walk handles the UI
// thread's messages while it waits, so this dialog's procedure runs inside
// it: its commands then do nothing, a map asked for is held until the walk
// has finished the lists (a pass drawn now would show them half-built),
// and closing the dialog stops the walk.
static BOOL Walking = FALSE;
static BOOL MapHeld = FALSE;
static BOOL HeldMapAnnounces = FALSE;
static BOOL ClosedDuringWalk = FALSE;

// Whether this opening of the dialog has ended (its close handled). A
// notice shown from the dialog's own handling lets messages through, among
// them another program's WM_CLOSE: what follows the notice stops then.
static BOOL DialogEnded = FALSE;

static int WalkForDialog() {
    Walking = TRUE;
    MapHeld = FALSE;
    HeldMapAnnounces = FALSE;
    ClosedDuringWalk = FALSE;
    int walked = WalkRegions();
    Walking = FALSE;
    return walked;
}

static void AskForMap(BOOL announce) {
    if (!Walking) {
        RequestMemoryMap(announce);
        return;
    }
    MapHeld = TRUE;
    if (announce) HeldMapAnnounces = TRUE;
}

// Where the notices of a RefreshProcessMemory for another window go.
struct NoticeNotes {
    WCHAR* text;
    size_t units;
    size_t length;
};
static NoticeNotes* RefreshNotes = nullptr;

void InspectNotice(HWND owner, LPCWSTR text, UINT icon) {
    NoticeNotes* notes = RefreshNotes;
    if (!notes) {
        Notice(owner, text, icon);
        return;
    }
    // One line: the parts joined by two blanks, a line break as a blank.
    if (notes->length && notes->length + 2 < notes->units) {
        notes->text[notes->length++] = L' ';
        notes->text[notes->length++] = L' ';
    }
    for (; *text && notes->length + 1 < notes->units; ++text)
        notes->text[notes->length++] = *text == L'\n' ? L' ' : *text;
    notes->text[notes->length] = 0;
}

// A coded error text for the last-error value the failed routine left.
static void ShowCodedError(HWND dialog, LPCWSTR format) {
    DWORD code = GetLastError();
    WCHAR text[128];
    wsprintfW(text, format, code);
    InspectNotice(dialog, text, MB_ICONERROR);
}

static INT_PTR ProcessMemory_OnInitDialog(HWND dialog) {
    // Only another program sends it again: not inside the walk, whose
    // dialog state it would reset, nor under an open browser.
    if (Walking || BrowserOpen) return FALSE;
    ProcessMemoryWindow = dialog;
    DialogEnded = FALSE;
    MapWanted = FALSE;
    FirstPaintSeen = FALSE;
    FirstPassOwed = FALSE;
    CenterOnScreen(dialog);
    if (!ShowCounters()) {
        ShowCodedError(dialog, L"显示简单信息有错误发生\n错误码:0x%08x");
        EndDialog(dialog, 0);
        return FALSE;
    }
    int walked = WalkForDialog();
    if (ClosedDuringWalk) return FALSE;  // already ended, with nothing to tell
    if (!walked) {
        ShowCodedError(dialog, L"显示虚拟内存表有错误发生\n错误码:0x%08x");
        EndDialog(dialog, 0);
        return FALSE;
    }
    // The map is asked for by the first paint, not here; a paint during
    // the walk asked already, and its request was held until now.
    ShowMapCoverage(dialog);
    MapWanted = TRUE;
    if (MapHeld) RequestMemoryMap(HeldMapAnnounces);
    return TRUE;
}

// Asks for the pass a paint wants, announced when it is the first paint's.
// Also what another program's WM_REQUEST_MEMORY_MAP gets, whatever it
// carries: no pass while the dialog shows no process.
static INT_PTR ProcessMemory_OnRequestMemoryMap() {
    if (!MapWanted && !Walking) return TRUE;
    BOOL announce = FirstPassOwed;
    FirstPassOwed = FALSE;
    AskForMap(announce);
    return TRUE;
}

// The platform erases and paints the dialog after this returns FALSE. A pass
// asked for now could finish before that erase and be wiped, so the request
// is posted and made once the platform's painting for this message is over.
static INT_PTR ProcessMemory_OnPaint(HWND dialog) {
    if (!MapWanted && !Walking) return FALSE;
    if (!FirstPaintSeen) FirstPassOwed = TRUE;
    FirstPaintSeen = TRUE;
    // Without the posted message the map would never come; asking at once
    // at least draws it.
    if (!PostMessageW(dialog, WM_REQUEST_MEMORY_MAP, 0, 0)) ProcessMemory_OnRequestMemoryMap();
    return FALSE;
}

// A heap, module or memory-use dialog over this one; this one takes no
// command and no close until it has ended.
static void OpenBrowser(HWND dialog, int templateId, DLGPROC procedure) {
    BrowserOpen = TRUE;
    DialogBoxParamW(ModuleInstance, MAKEINTRESOURCEW(templateId), dialog, procedure, 0);
    BrowserOpen = FALSE;
}

// Both walks again. A failure is told and the dialog stays; the map is asked
// for only when the region lists were rebuilt.
BOOL RefreshProcessMemory(HWND dialog, WCHAR* notes, size_t units) {
    NoticeNotes line = {notes, units, 0};
    if (notes && units) {
        notes[0] = 0;
        RefreshNotes = &line;
    }
    if (!ShowCounters() && !DialogEnded) ShowCodedError(dialog, L"显示简单信息有错误发生\n错误码:0x%08x");
    BOOL rebuilt = FALSE;
    // Not when the dialog was closed while a notice was up.
    int walked = DialogEnded ? 0 : WalkForDialog();
    if (!DialogEnded && !ClosedDuringWalk) {
        if (walked) {
            // Any request held during the walk is served by this one.
            ShowMapCoverage(dialog);
            RequestMemoryMap(RefreshNotes == nullptr);
            rebuilt = TRUE;
        } else {
            ShowCodedError(dialog, L"显示虚拟内存表有错误发生,内存分布无法显示\n错误码:0x%08x");
        }
    }
    RefreshNotes = nullptr;
    return rebuilt;
}

// While the walk runs, a refresh would start a walk inside it and the
// browsers would open over a half-built table: the commands (and the
// lists' copying keys) do nothing. Nor do they while a browser is open.
static INT_PTR ProcessMemory_OnCommand(HWND dialog, WPARAM wParam) {
    BOOL idle = !Walking && !BrowserOpen;
    switch (LOWORD(wParam)) {
    case IDC_REFRESH:  // also what Enter sends
        if (idle) RefreshProcessMemory(dialog, nullptr, 0);
        return FALSE;
    case IDC_SHOW_HEAPS:
        if (idle) OpenBrowser(dialog, IDD_HEAP, HeapDialog);
        return FALSE;
    case IDC_SHOW_MODULES:
        if (idle) OpenBrowser(dialog, IDD_MODULE, ModuleDialog);
        return FALSE;
    case IDC_SHOW_USES:
        if (idle) {
            BrowserOpen = TRUE;
            ShowUsesDialog(dialog);
            BrowserOpen = FALSE;
        }
        return FALSE;
    default:  // Escape among them
        return TRUE;
    }
}

// Closing during the walk stops it at once; the opening or refresh that
// ran it then ends quietly.
static INT_PTR ProcessMemory_OnClose(HWND dialog) {
    if (BrowserOpen) return TRUE;
    if (Walking) {
        ClosedDuringWalk = TRUE;
        StopRegionWalk();
    }
    DialogEnded = TRUE;
    EndDialog(dialog, 0);
    return TRUE;
}

INT_PTR CALLBACK ProcessMemoryDialog(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_INITDIALOG:
        return ProcessMemory_OnInitDialog(dialog);
    case WM_PAINT:
        return ProcessMemory_OnPaint(dialog);
    case WM_REQUEST_MEMORY_MAP:
        return ProcessMemory_OnRequestMemoryMap();
    case WM_CLOSE:
        return ProcessMemory_OnClose(dialog);
    case WM_COMMAND:
        return ProcessMemory_OnCommand(dialog, wParam);
    case WM_VKEYTOITEM:  // Ctrl+C would copy a half-built table during the walk
        return Walking ? LIST_KEY_DEFAULT : LineListKey(dialog, wParam, lParam);
    case WM_CHARTOITEM:
        return LIST_KEY_DEFAULT;
    default:
        return FALSE;
    }
}
