// The "内存用途" dialog: two virtual report list views over a UsesView, the
// summary by kind above and the allocations below. The lists hold no text:
// each cell is asked for (LVN_GETDISPINFOW) as it is drawn, so filling,
// filtering and sorting 20,000 allocations only reorders an index array.
//
// Every message is checked before anything is read through it: a
// notification only when it comes from this thread and names one of this
// dialog's two lists, by number and by window, and a row index only when it
// lies among the rows the list shows now.
//
// 刷新 reads the process again through the process dialog's own refresh,
// whose walk handles the UI thread's messages: this procedure then runs
// inside it, so a second 刷新, the timer, 设为基准 and a double-click do
// nothing until the reading is over, and a close ends the dialog at once
// but leaves the walk to finish, so the table behind is never left half
// built. The view is changed only after the walk, in one step.
#include "uses/uses_dialog.h"

#include <stdlib.h>

#include "app/shell.h"
#include "contents/contents_dialog.h"
#include "inspect/inspect.h"
#include "inspect/region_records.h"
#include "uses/uses_changes.h"
#include "uses/uses_strip.h"
#include "uses/uses_view.h"

namespace {

// Posted when a summary row lost its selection; its handling selects the
// row of what is shown again unless another row took the selection.
// Carries nothing.
#define WM_USES_KEEP_ROW (WM_APP + 3)

// The layout, in dialog units, as the template has it.
const int ChangesBand = 13;
const int SummaryHeight = 86;
const int SummaryWidth = 448;
const int ListGap = 4;
const int NoteBand = 12;
const int NoteMargin = 4;
const int NoteHeight = 9;
const int ButtonBand = 18;
const int ButtonWidth = 50;
const int ButtonHeight = 14;
const int StripLabelBand = 12;

// 大小 and 最大块 hold 未用's figures, up to "137,438,953,408 KB" on x86_64.
const int SummaryWidths[USES_SUMMARY_COLUMNS] = {52, 84, 60, 60, 32, 84, 56};
const int AllocationWidths[USES_ALLOCATION_COLUMNS] = {62, 50, 50, 26, 40, 84, 34, 110, 34, 56};

// The row of buttons under the lists, left to right; 查看内容 stands alone
// at the right.
const int LeftButtons[] = {IDC_USES_REFRESH, IDC_USES_SET_BASELINE, IDC_USES_ONLY_CHANGES, IDC_USES_AUTO_REFRESH};

// The automatic refresh: the next reading this long after the end of the
// previous one.
const UINT_PTR RefreshTimer = 1;
const UINT RefreshInterval = 2000;

// What each reading is stamped with.
struct ReadingTime {
    SYSTEMTIME clock;
    DWORD tick;
};

// The one open "内存用途" (it is modal) and what it shows.
struct UsesWindow {
    BOOL opening;       // ShowUsesDialog has asked for the dialog
    HWND dialog;        // the dialog, once initialised
    HWND owner;         // the process memory dialog whose table it describes
    HWND summary;
    HWND allocations;
    BOOL built;         // the table and the row order were had
    UsesView view;
    BOOL reading;       // 刷新's reading runs (its walk handles messages)
    BOOL closed;        // the dialog ended (a reading under way is dropped)
    BOOL ended;         // the process has ended: no more readings
    BOOL autoRefresh;   // 自动刷新 is checked
    BOOL tableBehind;   // the region table behind shows the current reading
    BOOL viewing;       // "内存内容" is open over this window: no reading
    ULONGLONG created;  // the inspected process's creation time
    ReadingTime baselineTime;
    ReadingTime currentTime;
    WCHAR extra[USE_NOTE_UNITS];  // what the last reading adds to the line
    UsesStrip strip;
};
UsesWindow Uses;

HWND ListWindow(UsesList list) { return list == USES_SUMMARY ? Uses.summary : Uses.allocations; }

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

// The line above the lists: the baseline's time and the current one's,
// the committed total's change, and what the last reading adds.
void WriteChangeNote(HWND dialog) {
    WCHAR note[2 * USE_NOTE_UNITS];
    BOOL same = Uses.view.baseline.allocations == Uses.view.table.allocations;
    DWORD seconds = (Uses.currentTime.tick - Uses.baselineTime.tick + 500) / 1000;
    long long change = Uses.view.changes.status ? Uses.view.changes.sums[USE_TOTAL_ROW] : 0;
    FormatChangeNote(Uses.baselineTime.clock, Uses.currentTime.clock, seconds, change, same, note, USE_NOTE_UNITS);
    if (Uses.extra[0]) {
        wcscat_s(note, 2 * USE_NOTE_UNITS, L"  ");
        wcscat_s(note, 2 * USE_NOTE_UNITS, Uses.extra);
    }
    SetDlgItemTextW(dialog, IDC_USES_CHANGES, note);
}

void SetExtra(LPCWSTR text) {
    size_t i = 0;
    for (; text[i] && i + 1 < USE_NOTE_UNITS; ++i) Uses.extra[i] = text[i];
    Uses.extra[i] = 0;
}

BOOL HasNote(HWND dialog) {
    WCHAR first[2] = {0, 0};
    GetDlgItemTextW(dialog, IDC_USES_NOTE, first, 2);
    return first[0] != 0;
}

int AtLeastZero(int value) { return value > 0 ? value : 0; }

// From the top: the line of changes, the summary with the strip beside it
// at the template's height, the allocations down to the note's band (when
// there is a note) and the row of buttons at the bottom.
void LayOut(HWND dialog) {
    RECT client;
    if (!GetClientRect(dialog, &client)) return;
    int width = client.right;
    int height = client.bottom;
    int margin = DialogUnitsAcross(dialog, NoteMargin);
    int line = DialogUnitsDown(dialog, NoteHeight);
    MoveWindow(GetDlgItem(dialog, IDC_USES_CHANGES), margin, DialogUnitsDown(dialog, 2), AtLeastZero(width - 2 * margin),
               line, TRUE);
    int summaryTop = DialogUnitsDown(dialog, ChangesBand);
    int summary = DialogUnitsDown(dialog, SummaryHeight);
    if (summaryTop + summary > height) summary = AtLeastZero(height - summaryTop);
    int summaryWidth = DialogUnitsAcross(dialog, SummaryWidth);
    if (summaryWidth > width) summaryWidth = width;
    int stripLeft = summaryWidth + margin;
    int stripWidth = AtLeastZero(width - stripLeft - margin);
    int label = DialogUnitsDown(dialog, StripLabelBand);
    MoveWindow(Uses.summary, 0, summaryTop, summaryWidth, summary, TRUE);
    MoveWindow(GetDlgItem(dialog, IDC_USES_STRIP), stripLeft, summaryTop, stripWidth, AtLeastZero(summary - label), TRUE);
    MoveWindow(GetDlgItem(dialog, IDC_USES_STRIP_LABEL), stripLeft, summaryTop + AtLeastZero(summary - label) +
               DialogUnitsDown(dialog, 2), stripWidth, line, TRUE);

    int top = summaryTop + summary + DialogUnitsDown(dialog, ListGap);
    int buttons = DialogUnitsDown(dialog, ButtonBand);
    int band = HasNote(dialog) ? DialogUnitsDown(dialog, NoteBand) : 0;
    MoveWindow(Uses.allocations, 0, top, width, AtLeastZero(height - top - band - buttons), TRUE);
    MoveWindow(GetDlgItem(dialog, IDC_USES_NOTE), margin, height - buttons - band + DialogUnitsDown(dialog, 1),
               AtLeastZero(width - 2 * margin), band ? line : 0, TRUE);

    int buttonTop = height - buttons + DialogUnitsDown(dialog, 2);
    int buttonWidth = DialogUnitsAcross(dialog, ButtonWidth);
    int buttonHeight = DialogUnitsDown(dialog, ButtonHeight);
    int x = margin;
    for (int id : LeftButtons) {
        MoveWindow(GetDlgItem(dialog, id), x, buttonTop, buttonWidth, buttonHeight, TRUE);
        x += buttonWidth + margin;
    }
    MoveWindow(GetDlgItem(dialog, IDC_USES_CONTENTS), AtLeastZero(width - margin - buttonWidth), buttonTop, buttonWidth,
               buttonHeight, TRUE);
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
    UsesCellText(Uses.view, list, shown, item.iSubItem, item.pszText, static_cast<size_t>(item.cchTextMax));
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
    // The table is rebuilt during a reading; a freed allocation has no
    // lines in it, nor has any after a reading that was not taken.
    if (Uses.reading || !Uses.tableBehind) return;
    if (position < 0 || !UsesItemAt(Uses.view, USES_ALLOCATIONS, static_cast<size_t>(position), &item)) return;
    if (item >= Uses.view.table.count) return;
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

ReadingTime Now() {
    ReadingTime time;
    GetLocalTime(&time.clock);
    time.tick = GetTickCount();
    return time;
}

// The creation time of the process `pid` names now; FALSE when no process
// has it (it has ended) or its time cannot be read.
BOOL ProcessStart(DWORD pid, ULONGLONG* created) {
    HANDLE process = OpenProcess(MORVANE_ACCESS_QUERY, FALSE, pid);
    if (!process) return FALSE;
    *created = ProcessCreationTime(process);
    CloseHandle(process);
    return *created != 0;
}

void SetCheck(HWND dialog, int id, BOOL on) { SendDlgItemMessageW(dialog, id, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0); }
BOOL IsChecked(HWND dialog, int id) { return SendDlgItemMessageW(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED; }

void StopAutoRefresh(HWND dialog) {
    Uses.autoRefresh = FALSE;
    KillTimer(dialog, RefreshTimer);
    SetCheck(dialog, IDC_USES_AUTO_REFRESH, FALSE);
}

// The (base, type) of the selected current allocations, sorted, so that a
// new reading selects them again where they are still there.
struct AllocationKey {
    ULONGLONG base;
    DWORD type;
};

int CompareKeys(const void* a, const void* b) {
    const AllocationKey* x = static_cast<const AllocationKey*>(a);
    const AllocationKey* y = static_cast<const AllocationKey*>(b);
    if (x->base != y->base) return x->base < y->base ? -1 : 1;
    return x->type < y->type ? -1 : x->type > y->type ? 1 : 0;
}

AllocationKey* SelectedKeys(size_t* count) {
    size_t* positions;
    *count = 0;
    if (!SelectedPositions(USES_ALLOCATIONS, &positions, count) || !positions) return nullptr;
    AllocationKey* keys = static_cast<AllocationKey*>(malloc(*count * sizeof(AllocationKey)));
    size_t n = 0;
    for (size_t i = 0; keys && i < *count; ++i) {
        size_t item;
        if (!UsesItemAt(Uses.view, USES_ALLOCATIONS, positions[i], &item) || item >= Uses.view.table.count) continue;
        const Allocation& a = Uses.view.table.allocations[item];
        keys[n++] = {a.base, a.type};
    }
    free(positions);
    *count = n;
    if (keys) qsort(keys, n, sizeof(AllocationKey), CompareKeys);
    return keys;
}

void SelectKeys(const AllocationKey* keys, size_t count) {
    if (!keys || !count) return;
    for (size_t position = 0; position < Uses.view.rowCount; ++position) {
        size_t item = Uses.view.rows[position];
        if (item >= Uses.view.table.count) continue;
        const Allocation& a = Uses.view.table.allocations[item];
        AllocationKey key = {a.base, a.type};
        if (bsearch(&key, keys, count, sizeof(AllocationKey), CompareKeys))
            SetRowState(Uses.allocations, static_cast<int>(position), LVIS_SELECTED, LVIS_SELECTED);
    }
}

// The strip's largest and smallest totals, written under it.
void WriteStripLabel(HWND dialog) {
    WCHAR label[2 * USE_CHANGE_UNITS + 16] = L"最大 ";
    FormatKilobytes(StripLargest(Uses.strip), label + lstrlenW(label));
    wcscat_s(label, 2 * USE_CHANGE_UNITS + 16, L"  最小 ");
    FormatKilobytes(StripSmallest(Uses.strip), label + lstrlenW(label));
    SetDlgItemTextW(dialog, IDC_USES_STRIP_LABEL, label);
}

// The strip is drawn with a drawing context of its own: nothing is read
// through the message's lParam, which any program can send.
INT_PTR Uses_OnDrawItem(HWND dialog, WPARAM id) {
    if (dialog != Uses.dialog || id != IDC_USES_STRIP) return FALSE;
    HWND strip = GetDlgItem(dialog, IDC_USES_STRIP);
    RECT area;
    HDC dc = GetClientRect(strip, &area) ? GetDC(strip) : nullptr;
    if (!dc) return TRUE;
    DrawUsesStrip(dc, area, Uses.strip);
    ReleaseDC(strip, dc);
    return TRUE;
}

// Both lists again after the view took a reading or a baseline.
void ShowReading(HWND dialog, const AllocationKey* keys, size_t keyCount) {
    RefillAllocations();
    SelectKeys(keys, keyCount);
    SetRowState(Uses.summary, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    SelectShownRow();
    InvalidateRect(Uses.summary, nullptr, TRUE);
    InvalidateRect(GetDlgItem(dialog, IDC_USES_STRIP), nullptr, TRUE);
    WriteStripLabel(dialog);
    WriteNote(dialog);
    WriteChangeNote(dialog);
    LayOut(dialog);
}

// The reading of a refresh: the process dialog's own refresh (its notices
// into `notes`), then the uses of what it walked. The creation time of the
// process walked and of the one the PID names afterwards tell whether the
// walk and the reading of its files, threads and heaps were of one process.
void ReadAgain(HWND dialog) {
    ULONGLONG after = 0;
    WCHAR notes[USE_NOTE_UNITS];
    BOOL walked = RefreshProcessMemory(Uses.owner, notes, USE_NOTE_UNITS);
    if (Uses.closed) return;
    if (walked) Uses.tableBehind = FALSE;  // until this reading is taken
    UseTable fresh = {};
    ULONGLONG walkedStart = WalkedRegions.created;
    BOOL built = walked && BuildUseTable(SelectedPid, walkedStart, WalkedRegions.records, WalkedRegions.count, &fresh);
    if (!ProcessStart(SelectedPid, &after)) {
        // Nothing more to read: the last reading stays on show.
        FreeUseTable(&fresh);
        Uses.ended = TRUE;
        StopAutoRefresh(dialog);
        SetExtra(L"进程已结束");
        WriteChangeNote(dialog);
        return;
    }
    if (!built || walkedStart != after) {
        FreeUseTable(&fresh);
        SetExtra(!walked ? notes : built ? L"进程在读取时已换成另一进程,这次读数未采用" : L"内存不足,无法列出内存用途");
        WriteChangeNote(dialog);
        return;
    }
    BOOL another = after != Uses.created;
    size_t keyCount = 0;
    AllocationKey* keys = another ? nullptr : SelectedKeys(&keyCount);
    ReadingTime now = Now();
    if (!TakeUsesReading(&Uses.view, &fresh, another)) {
        free(keys);
        SetExtra(L"内存不足,无法列出内存用途");
        WriteChangeNote(dialog);
        return;
    }
    Uses.tableBehind = TRUE;
    Uses.currentTime = now;
    AddStripReading(&Uses.strip, Uses.view.table.sums[USE_TOTAL_ROW].committed);
    if (another) {
        Uses.created = after;
        Uses.baselineTime = now;
        MarkStripBaseline(&Uses.strip);
    }
    SetExtra(another ? L"进程ID已属另一进程,基准已设为新的读数" : notes);
    ShowReading(dialog, keys, keyCount);
    free(keys);
}

// 刷新, and each tick of the automatic refresh: one reading at a time,
// the next tick set only when this one is over.
void Uses_OnRefresh(HWND dialog) {
    if (dialog != Uses.dialog || Uses.reading || Uses.ended || Uses.viewing) return;
    Uses.reading = TRUE;
    KillTimer(dialog, RefreshTimer);
    ReadAgain(dialog);
    Uses.reading = FALSE;
    if (!Uses.closed && Uses.autoRefresh && !Uses.ended) SetTimer(dialog, RefreshTimer, RefreshInterval, nullptr);
}

void Uses_OnSetBaseline(HWND dialog) {
    if (Uses.reading || Uses.view.baseline.allocations == Uses.view.table.allocations) return;
    size_t keyCount = 0;
    AllocationKey* keys = SelectedKeys(&keyCount);
    if (SetUsesBaseline(&Uses.view)) {
        Uses.baselineTime = Uses.currentTime;
        MarkStripBaseline(&Uses.strip);
    }
    ShowReading(dialog, keys, keyCount);
    free(keys);
}

void Uses_OnOnlyChanges(HWND dialog) {
    size_t keyCount = 0;
    AllocationKey* keys = SelectedKeys(&keyCount);
    ShowOnlyChanges(&Uses.view, IsChecked(dialog, IDC_USES_ONLY_CHANGES));
    RefillAllocations();
    SelectKeys(keys, keyCount);
    free(keys);
}

void Uses_OnAutoRefresh(HWND dialog) {
    Uses.autoRefresh = IsChecked(dialog, IDC_USES_AUTO_REFRESH);
    if (Uses.ended) StopAutoRefresh(dialog);
    else if (!Uses.autoRefresh) KillTimer(dialog, RefreshTimer);
    else if (!Uses.reading) SetTimer(dialog, RefreshTimer, RefreshInterval, nullptr);
}

// A tick only of this dialog's timer, while 自动刷新 is checked; one sent
// by another program during a reading does nothing.
INT_PTR Uses_OnTimer(HWND dialog, WPARAM id) {
    if (id == RefreshTimer && dialog == Uses.dialog && Uses.autoRefresh) Uses_OnRefresh(dialog);
    return TRUE;
}

// Closing during a reading ends the dialog at once; the reading's walk
// finishes the table behind and the reading is dropped.
INT_PTR Uses_OnClose(HWND dialog, INT_PTR result) {
    if (dialog != Uses.dialog) return TRUE;
    Uses.closed = TRUE;
    KillTimer(dialog, RefreshTimer);
    EndDialog(dialog, result);
    return TRUE;
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
    WriteChangeNote(dialog);
    WriteStripLabel(dialog);
    LayOut(dialog);
    CenterOnScreen(dialog);
    return TRUE;
}

// 查看内容: the bytes and strings of the selected allocation; nothing with
// none selected, a freed one, or a free one (which ShowContentsDialog turns
// down).
void Uses_OnShowContents(HWND dialog) {
    LRESULT position = SendMessageW(Uses.allocations, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED);
    size_t item;
    if (position < 0 || !UsesItemAt(Uses.view, USES_ALLOCATIONS, static_cast<size_t>(position), &item)) return;
    // An allocation freed since the baseline is not there to read.
    // Nor is one of a reading the table behind no longer shows.
    if (UsesItemStatus(Uses.view, item) == STATUS_FREED || Uses.reading || !Uses.tableBehind) return;
    // No reading while it is open: the automatic refresh waits for its close.
    Uses.viewing = TRUE;
    KillTimer(dialog, RefreshTimer);
    ShowContentsDialog(dialog, UsesItemAllocation(Uses.view, item));
    Uses.viewing = FALSE;
    if (!Uses.closed && Uses.autoRefresh && !Uses.ended) SetTimer(dialog, RefreshTimer, RefreshInterval, nullptr);
}

INT_PTR Uses_OnCommand(HWND dialog, WPARAM wParam) {
    if (dialog != Uses.dialog) return TRUE;
    switch (LOWORD(wParam)) {
    case IDCANCEL:  // Escape
        return Uses_OnClose(dialog, IDCANCEL);
    case IDC_USES_REFRESH:
        Uses_OnRefresh(dialog);
        return TRUE;
    case IDC_USES_SET_BASELINE:
        Uses_OnSetBaseline(dialog);
        return TRUE;
    case IDC_USES_ONLY_CHANGES:
        Uses_OnOnlyChanges(dialog);
        return TRUE;
    case IDC_USES_CONTENTS:
        Uses_OnShowContents(dialog);
        return TRUE;
    case IDC_USES_AUTO_REFRESH:
        Uses_OnAutoRefresh(dialog);
        return TRUE;
    default:
        return TRUE;
    }
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
    Uses.tableBehind = TRUE;
    Uses.baselineTime = Uses.currentTime = Now();
    AddStripReading(&Uses.strip, Uses.view.table.sums[USE_TOTAL_ROW].committed);
    if (!ProcessStart(SelectedPid, &Uses.created)) {
        Uses.ended = TRUE;
        SetExtra(L"进程已结束");
    }
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
    case WM_TIMER:
        return Uses_OnTimer(dialog, wParam);
    case WM_DRAWITEM:
        return Uses_OnDrawItem(dialog, wParam);
    case WM_CLOSE:
        return Uses_OnClose(dialog, 0);
    default:
        return FALSE;
    }
}
