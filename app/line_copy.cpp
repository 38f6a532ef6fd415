// Copying what a list shows. Ctrl+C in a list puts its selected lines, or
// every line when none is selected, on the clipboard as Unicode text, one
// line per list line joined with CR LF; Ctrl+A selects every line of a list
// that allows many. The keys reach the dialog as WM_VKEYTOITEM from lists
// that want keyboard input.
#include <stdlib.h>

#include "app/shell.h"

namespace {

const LRESULT LIST_KEY_HANDLED = -2;

// The lines to copy, in list order: the `count` lines whose indexes `items`
// holds (allocated), or without `items` the first `count` lines of the
// list, that is every line.
struct ChosenLines {
    int count;
    int* items;
};

int ChosenIndex(const ChosenLines& chosen, int i) { return chosen.items ? chosen.items[i] : i; }

// The selected lines, or every line when none is selected. A list of single
// selection answers LB_GETSELCOUNT with LB_ERR and is asked for its one
// selected line instead. FALSE when there is no memory for the indexes.
BOOL ChooseLines(HWND list, ChosenLines* chosen) {
    LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    chosen->count = count > 0 ? static_cast<int>(count) : 0;
    chosen->items = nullptr;
    LRESULT selected = SendMessageW(list, LB_GETSELCOUNT, 0, 0);
    if (selected == LB_ERR) {
        LRESULT current = SendMessageW(list, LB_GETCURSEL, 0, 0);
        if (current < 0 || current >= count) return TRUE;
        chosen->items = static_cast<int*>(malloc(sizeof(int)));
        if (!chosen->items) return FALSE;
        chosen->items[0] = static_cast<int>(current);
        chosen->count = 1;
        return TRUE;
    }
    if (selected <= 0) return TRUE;
    chosen->items = static_cast<int*>(malloc(static_cast<size_t>(selected) * sizeof(int)));
    if (!chosen->items) return FALSE;
    LRESULT got = SendMessageW(list, LB_GETSELITEMS, static_cast<WPARAM>(selected), reinterpret_cast<LPARAM>(chosen->items));
    chosen->count = got > 0 ? static_cast<int>(got) : 0;
    return TRUE;
}

// The chosen lines as one terminated text in a movable memory block, for
// the clipboard; null when the memory cannot be had. The lines' lengths are
// summed first so the block is allocated once; each line is then read
// straight into its place, and only while it fits the room counted for it.
HGLOBAL ComposeText(HWND list, const ChosenLines& chosen) {
    SIZE_T units = 1;  // the terminator
    for (int i = 0; i < chosen.count; ++i) {
        LRESULT length = SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(ChosenIndex(chosen, i)), 0);
        if (length > 0) units += static_cast<SIZE_T>(length);
        units += 2;  // CR LF
    }
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, units * sizeof(WCHAR));
    if (!memory) return nullptr;
    WCHAR* text = static_cast<WCHAR*>(GlobalLock(memory));
    if (!text) {
        GlobalFree(memory);
        return nullptr;
    }
    SIZE_T used = 0;
    for (int i = 0; i < chosen.count; ++i) {
        if (i > 0) {
            text[used++] = L'\r';
            text[used++] = L'\n';
        }
        WPARAM index = static_cast<WPARAM>(ChosenIndex(chosen, i));
        LRESULT length = SendMessageW(list, LB_GETTEXTLEN, index, 0);
        if (length <= 0 || used + static_cast<SIZE_T>(length) >= units) continue;
        SendMessageW(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text + used));
        used += static_cast<SIZE_T>(length);
    }
    text[used] = 0;
    GlobalUnlock(memory);
    return memory;
}

// Whether `list` is one of the dialog's own lists. The key messages name
// their list in lParam, and another program can send them naming any window.
BOOL IsOwnList(HWND dialog, HWND list) {
    const int listIds[] = {IDC_COUNTERS, IDC_REGIONS, IDC_HEAP_LIST, IDC_BLOCK_LIST, IDC_MODULE_LIST, IDC_PROCESS_LIST};
    for (int id : listIds)
        if (list && GetDlgItem(dialog, id) == list) return TRUE;
    return FALSE;
}

}  // namespace

void LineListCopy(HWND dialog, HWND list) {
    ChosenLines chosen;
    HGLOBAL text = nullptr;
    if (ChooseLines(list, &chosen)) text = ComposeText(list, chosen);
    free(chosen.items);
    PlaceClipboardText(dialog, text);
}

void PlaceClipboardText(HWND dialog, HGLOBAL text) {
    // The text is composed before the clipboard is opened, so another
    // program waits only for the hand-over.
    if (text && OpenClipboard(dialog)) {
        EmptyClipboard();
        BOOL placed = SetClipboardData(CF_UNICODETEXT, text) != nullptr;
        CloseClipboard();
        if (placed) return;  // the clipboard owns the text now
    }
    if (text) GlobalFree(text);
    Notice(dialog, L"无法复制到剪贴板!", MB_ICONERROR);
}

INT_PTR LineListKey(HWND dialog, WPARAM wParam, LPARAM lParam) {
    if (GetKeyState(VK_CONTROL) >= 0) return LIST_KEY_DEFAULT;
    HWND list = reinterpret_cast<HWND>(lParam);
    if (!IsOwnList(dialog, list)) return LIST_KEY_DEFAULT;
    switch (LOWORD(wParam)) {
    case 'C':
        LineListCopy(dialog, list);
        return LIST_KEY_HANDLED;
    case 'A':
        // A list of single selection refuses this and stays as it is.
        SendMessageW(list, LB_SETSEL, TRUE, -1);
        return LIST_KEY_HANDLED;
    default:
        return LIST_KEY_DEFAULT;
    }
}
