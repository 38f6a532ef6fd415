// The "内存用途" dialog: two virtual report list views over a UsesView, the
// summary by kind above and the allocations below. The lists hold no text:
// each cell is asked for (LVN_GETDISPINFOW) as it is drawn, so filling,
// filtering and sorting 20,000 allocations only reorders an index array.
//
// Every message is checked before anything is read through it: a
// notification only when it comes from this thread and names one of this
// dialog's two lists, by number and by window, and a row index only when it
// lies among the rows the list shows now.
#include "uses/uses_dialog.h"

#include <stdlib.h>

#include "app/shell.h"
#include "contents/contents_dialog.h"
#include "inspect/inspect.h"
#include "inspect/region_records.h"
#include "uses/uses_view.h"

namespace {

// Posted when a summary row lost its selection; its handling selects the
// row of what is shown again unless another row took the selection.
// Carries nothing.
#define WM_USES_KEEP_ROW (WM_APP + 3)

// The layout, in dialog units, as the template has it.
const int SummaryHeight = 86;
const int ListGap = 4;
const int NoteBand = 14;
const int NoteMargin = 4;
const int NoteHeight = 9;
const int ContentsBand = 18;  // the 查看内容 button's row under the allocations

const int SummaryWidths[USES_SUMMARY_COLUMNS] = {60, 70, 70, 70, 40, 70};
const int AllocationWidths[USES_ALLOCATION_COLUMNS] = {62, 56, 56, 28, 40, 84, 38, 140};

// The one open "内存用途" (it is modal) and what it shows.
struct UsesWindow {
    BOOL opening;       // ShowUsesDialog has asked for the dialog
    HWND dialog;        // the dialog, once initialised
    HWND owner;         // the process memory dialog whose table it describes
    HWND summary;
    HWND allocations;
    BOOL built;         // the table and the row order were had
    UsesView view;
};
UsesWindow Uses;

HWND ListWindow(UsesList list) { return list == USES_SUMMARY ? Uses.summary : Uses.allocations; }

int DialogUnitsAcross(HWND dialog, int units) {
    RECT r = {0, 0, units, 0};
    MapDialogRect(dialog, &r);
    return r.right;
}

int DialogUnitsDown(HWND dialog, int units) {
    RECT r = {0, 0, 0, units};
    MapDialogRect(dialog, &r);
    return r.bottom;
}

// Whether a notification comes from one of this dialog's lists: it was not
// sent by another thread (the lists notify from this one, and the platform
// does not carry a WM_NOTIFY's header across programs, so another
// program's lParam is an address in its own space, not ours), its number
// (wParam) names the list, and the header it points to names that list's
// window and number. lParam is read only once all the rest holds.
BOOL FromOwnList(HWND dialog, WPARAM wParam, LPARAM lParam, UsesList* list) {
    if (dialog != Uses.dialog || lParam == 0 || InSendMessage()) return FALSE;
    if (wParam == IDC_USES_SUMMARY) *list = USES_SUMMARY;
    else if (wParam == IDC_USES_ALLOCATIONS) *list = USES_ALLOCATIONS;
    else return FALSE;
    const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
    return header->hwndFrom == ListWindow(*list) && header->idFrom == wParam;
}

void SetUpList(HWND dialog, UsesList list, const int* widths) {
    HWND window = ListWindow(list);
    DWORD extended = LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES;
    SendMessageW(window, LVM_SETEXTENDEDLISTVIEWSTYLE, extended, extended);
    for (int c = 0; c < UsesColumnCount(list); ++c) {
        LVCOLUMNW column = {};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = UsesColumnIsNumber(list, c) ? LVCFMT_RIGHT : LVCFMT_LEFT;
        column.cx = DialogUnitsAcross(dialog, widths[c]);
        column.pszText = const_cast<LPWSTR>(UsesColumnName(list, c));
        column.iSubItem = c;
        SendMessageW(window, LVM_INSERTCOLUMNW, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&column));
    }
    SendMessageW(window, LVM_SETITEMCOUNT, UsesRowCount(Uses.view, list), 0);
}

// The line under the lists: empty when everything was read.
void WriteNote(HWND dialog) {
    LPCWSTR note = L"";
    if (!Uses.built) note = L"内存不足,无法列出内存用途";
    else if (!Uses.view.table.processRead && !WalkedRegions.complete) note = L"进程已无法打开,只按类型分类;区域记录不全";
    else if (!Uses.view.table.processRead) note = L"进程已无法打开,只按类型分类";
    else if (!WalkedRegions.complete) note = L"内存不足,区域记录不全";
    SetDlgItemTextW(dialog, IDC_USES_NOTE, note);
}

BOOL HasNote(HWND dialog) {
    WCHAR first[2] = {0, 0};
    GetDlgItemTextW(dialog, IDC_USES_NOTE, first, 2);
    return first[0] != 0;
}

// The summary on top at its template height, the allocations below it
// down to the note's band (or the bottom), both across the whole width.
void LayOut(HWND dialog) {
    RECT client;
    if (!GetClientRect(dialog, &client)) return;
    int width = client.right;
    int height = client.bottom;
    int summary = DialogUnitsDown(dialog, SummaryHeight);
    if (summary > height) summary = height;
    int top = summary + DialogUnitsDown(dialog, ListGap);
    int band = HasNote(dialog) ? DialogUnitsDown(dialog, NoteBand) : 0;
    int buttons = DialogUnitsDown(dialog, ContentsBand);
    int rest = height - top - band - buttons;
    MoveWindow(Uses.summary, 0, 0, width, summary, TRUE);
    MoveWindow(Uses.allocations, 0, top, width, rest > 0 ? rest : 0, TRUE);
    int margin = DialogUnitsAcross(dialog, NoteMargin);
    MoveWindow(GetDlgItem(dialog, IDC_USES_CONTENTS), margin, height - band - buttons + DialogUnitsDown(dialog, 2),
               DialogUnitsAcross(dialog, 60), DialogUnitsDown(dialog, 14), TRUE);
    MoveWindow(GetDlgItem(dialog, IDC_USES_NOTE), margin, height - band + DialogUnitsDown(dialog, 2),
               width - 2 * margin > 0 ? width - 2 * margin : 0, band ? DialogUnitsDown(dialog, NoteHeight) : 0, TRUE);
}

void SetRowState(HWND list, int position, UINT state, UINT mask) {
    LVITEMW item = {};
    item.state = state;
    item.stateMask = mask;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(position), reinterpret_cast<LPARAM>(&item));
}

// The summary position of what the allocations list shows; -1 for none.
int ShownPosition() {
    for (int i = 0; i < USE_SUMMARY_ROWS; ++i)
        if (Uses.view.summary[i] == Uses.view.shown) return i;
    return -1;
}

BOOL AnySelected(HWND list) { return SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED) >= 0; }

void SelectShownRow() {
    int position = ShownPosition();
    if (position < 0) return;
    SetRowState(Uses.summary, position, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    SendMessageW(Uses.summary, LVM_ENSUREVISIBLE, static_cast<WPARAM>(position), FALSE);
}

// The allocations list again after its rows changed: nothing selected.
void RefillAllocations() {
    SetRowState(Uses.allocations, -1, 0, LVIS_SELECTED);
    SendMessageW(Uses.allocations, LVM_SETITEMCOUNT, Uses.view.rowCount, 0);
    InvalidateRect(Uses.allocations, nullptr, TRUE);
}

void Uses_OnGetDisplayInfo(UsesList list, NMLVDISPINFOW* info) {
    LVITEMW& item = info->item;
    if (!(item.mask & LVIF_TEXT) || !item.pszText || item.cchTextMax <= 0) return;
    item.pszText[0] = 0;
    size_t shown;
    if (item.iItem < 0 || !UsesItemAt(Uses.view, list, static_cast<size_t>(item.iItem), &shown)) return;
    UsesCellText(Uses.view.table, list, shown, item.iSubItem, item.pszText, static_cast<size_t>(item.cchTextMax));
}

// Sorting moves rows under their positions: the allocations' selection
// is dropped, and the summary keeps the row of what is shown selected.
void Uses_OnColumnClick(UsesList list, int column) {
    SortUsesList(&Uses.view, list, column);
    if (list == USES_SUMMARY) {
        SetRowState(Uses.summary, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
        SelectShownRow();
    } else {
        SetRowState(Uses.allocations, -1, 0, LVIS_SELECTED);
    }
    InvalidateRect(ListWindow(list), nullptr, TRUE);
}

void Uses_OnSummaryChanged(HWND dialog, const NMLISTVIEW* change) {
    if (!(change->uChanged & LVIF_STATE)) return;
    BOOL was = (change->uOldState & LVIS_SELECTED) != 0;
    BOOL is = (change->uNewState & LVIS_SELECTED) != 0;
    if (was && !is) {
        PostMessageW(dialog, WM_USES_KEEP_ROW, 0, 0);
        return;
    }
    size_t row;
    if (was || !is || change->iItem < 0 ||
        !UsesItemAt(Uses.view, USES_SUMMARY, static_cast<size_t>(change->iItem), &row))
        return;
    if (static_cast<int>(row) == Uses.view.shown) return;
    ShowUsesRow(&Uses.view, static_cast<int>(row));
    RefillAllocations();
}

INT_PTR Uses_OnKeepRow(HWND dialog) {
    if (dialog == Uses.dialog && Uses.view.shown != USES_SHOW_ALL && !AnySelected(Uses.summary)) SelectShownRow();
    return TRUE;
}

// The selected positions of a list in ascending order, or null with *count
// 0 when none is selected (every row is copied then). FALSE when there is
// no memory for them.
BOOL SelectedPositions(UsesList list, size_t** positions, size_t* count) {
    *positions = nullptr;
    *count = 0;
    size_t rows = UsesRowCount(Uses.view, list);
    HWND window = ListWindow(list);
    LRESULT next = SendMessageW(window, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED);
    if (next < 0 || static_cast<size_t>(next) >= rows) return TRUE;
    size_t* chosen = static_cast<size_t*>(malloc(rows * sizeof(size_t)));
    if (!chosen) return FALSE;
    size_t n = 0;
    // Each answer must lie past the one before and among the rows.
    while (next >= 0 && static_cast<size_t>(next) < rows && (n == 0 || static_cast<size_t>(next) > chosen[n - 1])) {
        chosen[n++] = static_cast<size_t>(next);
        next = SendMessageW(window, LVM_GETNEXTITEM, static_cast<WPARAM>(next), LVNI_SELECTED);
    }
    *positions = chosen;
    *count = n;
    return TRUE;
}

// Ctrl+C: the selected rows (every row when none is) with the column
// names first, as tab-separated text on the clipboard.
void CopyList(HWND dialog, UsesList list) {
    size_t* positions;
    size_t count;
    HGLOBAL memory = nullptr;
    if (SelectedPositions(list, &positions, &count)) {
        size_t length = UsesCopyText(Uses.view, list, positions, count, nullptr, 0);
        memory = GlobalAlloc(GMEM_MOVEABLE, (length + 1) * sizeof(WCHAR));
        WCHAR* text = memory ? static_cast<WCHAR*>(GlobalLock(memory)) : nullptr;
        if (text) {
            UsesCopyText(Uses.view, list, positions, count, text, length + 1);
            GlobalUnlock(memory);
        } else if (memory) {
            GlobalFree(memory);
            memory = nullptr;
        }
        free(positions);
    }
    PlaceClipboardText(dialog, memory);
}

void Uses_OnKeyDown(HWND dialog, UsesList list, WORD key) {
    if (GetKeyState(VK_CONTROL) >= 0) return;
    if (key == 'C') CopyList(dialog, list);
    // The summary selects one row, which chooses what is shown.
    if (key == 'A' && list == USES_ALLOCATIONS) SetRowState(Uses.allocations, -1, LVIS_SELECTED, LVIS_SELECTED);
}

// Closes the window and selects the allocation's lines in the region
// table, the first of them at the top.
void Uses_OnAllocationDoubleClick(HWND dialog, int position) {
    size_t item;
    if (position < 0 || !UsesItemAt(Uses.view, USES_ALLOCATIONS, static_cast<size_t>(position), &item)) return;
    HWND table = GetDlgItem(Uses.owner, IDC_REGIONS);
    LRESULT lines = SendMessageW(table, LB_GETCOUNT, 0, 0);
    size_t first, last;
    if (lines <= 0 || !AllocationLines(Uses.view.table.allocations[item], static_cast<size_t>(lines), &first, &last))
        return;
    SendMessageW(table, LB_SETSEL, FALSE, -1);
    SendMessageW(table, LB_SELITEMRANGEEX, first, static_cast<LPARAM>(last));
    SendMessageW(table, LB_SETCARETINDEX, first, FALSE);
    SendMessageW(table, LB_SETTOPINDEX, first, 0);
    EndDialog(dialog, IDOK);
}

INT_PTR Uses_OnNotify(HWND dialog, WPARAM wParam, LPARAM lParam) {
    UsesList list;
    if (!FromOwnList(dialog, wParam, lParam, &list)) return FALSE;
    switch (reinterpret_cast<const NMHDR*>(lParam)->code) {
    case LVN_GETDISPINFOW:
        Uses_OnGetDisplayInfo(list, reinterpret_cast<NMLVDISPINFOW*>(lParam));
        return TRUE;
    case LVN_COLUMNCLICK:
        Uses_OnColumnClick(list, reinterpret_cast<const NMLISTVIEW*>(lParam)->iSubItem);
        return TRUE;
    case LVN_ITEMCHANGED:
        if (list == USES_SUMMARY) Uses_OnSummaryChanged(dialog, reinterpret_cast<const NMLISTVIEW*>(lParam));
        return TRUE;
    case LVN_KEYDOWN:
        Uses_OnKeyDown(dialog, list, reinterpret_cast<const NMLVKEYDOWN*>(lParam)->wVKey);
        return TRUE;
    case NM_DBLCLK:
        if (list == USES_ALLOCATIONS)
            Uses_OnAllocationDoubleClick(dialog, reinterpret_cast<const NMITEMACTIVATE*>(lParam)->iItem);
        return TRUE;
    default:
        return FALSE;
    }
}

// Only the opening ShowUsesDialog asked for is initialised; any other
// WM_INITDIALOG (sent by another program) changes nothing.
INT_PTR Uses_OnInitDialog(HWND dialog) {
    if (!Uses.opening || Uses.dialog) return TRUE;
    Uses.opening = FALSE;
    Uses.dialog = dialog;
    Uses.summary = GetDlgItem(dialog, IDC_USES_SUMMARY);
    Uses.allocations = GetDlgItem(dialog, IDC_USES_ALLOCATIONS);
    SetUpList(dialog, USES_SUMMARY, SummaryWidths);
    SetUpList(dialog, USES_ALLOCATIONS, AllocationWidths);
    WriteNote(dialog);
    LayOut(dialog);
    CenterOnScreen(dialog);
    return TRUE;
}

// 查看内容: the bytes and strings of the selected allocation; nothing with
// none selected (or a free one, which ShowContentsDialog turns down).
void Uses_OnShowContents(HWND dialog) {
    LRESULT position = SendMessageW(Uses.allocations, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED);
    size_t item;
    if (position < 0 || !UsesItemAt(Uses.view, USES_ALLOCATIONS, static_cast<size_t>(position), &item)) return;
    ShowContentsDialog(dialog, Uses.view.table.allocations[item]);
}

INT_PTR Uses_OnCommand(HWND dialog, WPARAM wParam) {
    if (LOWORD(wParam) == IDCANCEL && dialog == Uses.dialog) EndDialog(dialog, IDCANCEL);  // Escape
    if (LOWORD(wParam) == IDC_USES_CONTENTS && dialog == Uses.dialog) Uses_OnShowContents(dialog);
    return TRUE;
}

}  // namespace

void ShowUsesDialog(HWND processDialog) {
    if (Uses.opening || Uses.dialog) return;  // one at a time
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    Uses = UsesWindow();
    Uses.owner = processDialog;
    Uses.built = BuildUseTable(SelectedPid, WalkedRegions.created, WalkedRegions.records, WalkedRegions.count,
                               &Uses.view.table);
    Uses.built = InitUsesView(&Uses.view) && Uses.built;
    Uses.opening = TRUE;
    DialogBoxParamW(ModuleInstance, MAKEINTRESOURCEW(IDD_USES), processDialog, UsesDialog, 0);
    FreeUsesView(&Uses.view);
    Uses = UsesWindow();
}

INT_PTR CALLBACK UsesDialog(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_INITDIALOG:
        return Uses_OnInitDialog(dialog);
    case WM_NOTIFY:
        return Uses_OnNotify(dialog, wParam, lParam);
    case WM_SIZE:
        if (dialog == Uses.dialog) LayOut(dialog);
        return TRUE;
    case WM_USES_KEEP_ROW:
        return Uses_OnKeepRow(dialog);
    case WM_COMMAND:
        return Uses_OnCommand(dialog, wParam);
    case WM_CLOSE:
        EndDialog(dialog, 0);
        return TRUE;
    default:
        return FALSE;
    }
}
