// The "内存内容" dialog: an allocation's bytes and strings in two virtual
// report list views, with find, 转到 and 刷新.
//
// The window holds one handle of the process, opened with the query right
// and PROCESS_VM_READ only, for its whole life: nothing it does can write
// to the process or change a protection. The bytes list reads the pages of
// the lines it draws (through a small page cache); the strings search and
// find run on a worker (contents_jobs.h), which the window stops and waits
// for before it ends.
//
// The bytes list shows a window of at most WINDOW_LINES lines of the
// allocation's lines at once, since a list view counts its items in an int
// and cannot usefully scroll hundreds of millions of them: 转到 and find
// move the window to the line they show, and scrolling to the first or last
// line of the window moves it by half its size, keeping the same lines in
// view.
//
// Every message is checked before anything is read through it: a
// notification only when it names one of the two lists by number and by
// window and comes from this thread (a list view notifies from the thread
// that owns it), a row index only among the rows the list shows now.
#include "contents/contents_dialog.h"

#include <stdlib.h>
#include <string.h>

#include "app/format.h"
#include "app/shell.h"
#include "contents/contents_jobs.h"
#include "contents/contents_lines.h"
#include "contents/contents_reading.h"
#include "contents/contents_strings.h"
#include "inspect/inspect.h"
#include "platform/process_contents.h"

namespace {

// Posted by a worker with news; carries nothing.
#define WM_CONTENTS_NEWS (WM_APP + 4)
// Posted when the bytes list drew the first or last line of its window;
// carries nothing: the list's scroll position says which way to move.
#define WM_CONTENTS_SHIFT (WM_APP + 5)

const ULONGLONG WINDOW_LINES = 1ull << 20;  // 16 MB of bytes at most in the list at once
const size_t CACHE_PAGES = 64;
const size_t COPY_ASK_LINES = 1000000;
const int NOTE_UNITS = 128;

enum ContentsList { BYTES_LIST, STRINGS_LIST };

const int BytesWidths[] = {70, 200, 90};
LPCWSTR const BytesColumns[] = {L"地址", L"十六进制", L"文本"};
const int StringsWidths[] = {60, 34, 30, 160};
LPCWSTR const StringsColumns[] = {L"地址", L"编码", L"长度", L"字符串"};
#define BYTES_COLUMNS 3
#define STRINGS_COLUMNS 4

struct CachedPage {
    ULONGLONG page;
    DWORD used;  // the stamp of its last use; 0 when empty
    BOOL readable;
    BYTE bytes[CONTENTS_PAGE];
};

// The one open "内存内容" (it is modal) and what it shows.
struct ContentsWindow {
    BOOL opening;
    HWND dialog;
    HWND bytes;
    HWND strings;
    HANDLE process;       // null when the process could not be opened
    BOOL ended;           // the process has ended: what was read stays
    ContentsLayout layout;
    ULONGLONG windowFirst;  // the allocation line shown as the bytes list's row 0
    int windowRows;
    CachedPage* cache;
    DWORD stamp;
    ContentsJob* stringsJob;
    ContentsJob* findJob;
    StringList found;     // the last finished strings search
    size_t* shown;        // the found strings the filter lets through
    size_t shownCount;
    int shortest;
    WCHAR note[NOTE_UNITS];
    WCHAR caption[80];
};
ContentsWindow Contents;

HWND ListWindow(ContentsList list) { return list == BYTES_LIST ? Contents.bytes : Contents.strings; }

void SetNote(LPCWSTR text) {
    wcscpy_s(Contents.note, NOTE_UNITS, text);
    SetDlgItemTextW(Contents.dialog, IDC_CONTENTS_NOTE, text);
}

// Whether a notification is from one of this dialog's lists, sent by this
// thread: the number names the list and the header names its window and
// number. Nothing else of lParam is read before this holds.
BOOL FromOwnList(HWND dialog, WPARAM wParam, LPARAM lParam, ContentsList* list) {
    if (dialog != Contents.dialog || lParam == 0 || InSendMessage()) return FALSE;
    if (wParam == IDC_CONTENTS_BYTES) *list = BYTES_LIST;
    else if (wParam == IDC_CONTENTS_STRINGS) *list = STRINGS_LIST;
    else return FALSE;
    const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
    return header->hwndFrom == ListWindow(*list) && header->idFrom == wParam;
}

int RowCount(ContentsList list) {
    return list == BYTES_LIST ? Contents.windowRows : static_cast<int>(Contents.shownCount);
}

// ---- The bytes ------------------------------------------------------------

// The page holding `address`, read when not cached; null when no memory
// for the cache.
const CachedPage* PageAt(ULONGLONG address) {
    if (!Contents.cache) return nullptr;
    ULONGLONG page = address - address % CONTENTS_PAGE;
    CachedPage* oldest = &Contents.cache[0];
    for (size_t i = 0; i < CACHE_PAGES; ++i) {
        CachedPage& c = Contents.cache[i];
        if (c.used && c.page == page) {
            c.used = ++Contents.stamp;
            return &c;
        }
        if (c.used < oldest->used) oldest = &c;
    }
    oldest->page = page;
    oldest->used = ++Contents.stamp;
    oldest->readable = FALSE;
    if (Contents.process) {
        BOOL readable;
        ReadContentsPiece(Contents.process, page, page + CONTENTS_PAGE, oldest->bytes, CONTENTS_PAGE, &readable);
        oldest->readable = readable;
    }
    return oldest;
}

void ForgetPages() {
    if (Contents.cache) memset(Contents.cache, 0, CACHE_PAGES * sizeof(CachedPage));
}

void BytesCellText(int row, int column, WCHAR* text, size_t units) {
    text[0] = 0;
    ContentsLine line;
    if (row < 0 || row >= Contents.windowRows ||
        !ContentsLineAt(Contents.layout, Contents.windowFirst + static_cast<ULONGLONG>(row), &line))
        return;
    WCHAR cell[CONTENTS_HEX_UNITS + 1] = L"";
    if (column == 0) {
        FormatHexLine(cell, L"", line.address, L"");
    } else if (line.reserved) {
        if (column == 1) FormatReservedLine(line.size, cell);
    } else {
        const CachedPage* page = PageAt(line.address);
        BYTE readable[CONTENTS_LINE_BYTES];
        size_t count = static_cast<size_t>(line.size);
        memset(readable, page && page->readable ? 1 : 0, sizeof readable);
        const BYTE* bytes = page ? page->bytes + line.address % CONTENTS_PAGE : readable;
        if (column == 1) FormatHexColumn(bytes, readable, count, cell);
        else if (column == 2) FormatTextColumn(bytes, readable, count, cell, CONTENTS_TEXT_UNITS);
    }
    if (lstrlenW(cell) < static_cast<int>(units)) wcscpy_s(text, units, cell);
}

// ---- The strings ----------------------------------------------------------

void StringsCellText(int row, int column, WCHAR* text, size_t units) {
    text[0] = 0;
    if (row < 0 || static_cast<size_t>(row) >= Contents.shownCount) return;
    const FoundString& s = Contents.found.items[Contents.shown[row]];
    WCHAR cell[DECIMAL64_UNITS + 20] = L"";
    switch (column) {
    case 0: FormatHexLine(cell, L"", s.address, L""); break;
    case 1: wcscpy_s(cell, DECIMAL64_UNITS + 20, s.encoding == STRING_ASCII ? L"ASCII" : L"UTF-16"); break;
    case 2: FormatDecimal(s.characters, cell); break;
    case 3: {
        // The kept text, cut to the cell.
        size_t n = s.units < units - 1 ? s.units : units - 1;
        memcpy(text, Contents.found.pool + s.text, n * sizeof(WCHAR));
        text[n] = 0;
        for (size_t i = 0; i < n; ++i)
            if (text[i] == L'\t') text[i] = L' ';
        return;
    }
    default: return;
    }
    if (lstrlenW(cell) < static_cast<int>(units)) wcscpy_s(text, units, cell);
}

void ShowStringCount() {
    WCHAR line[96], all[DECIMAL64_UNITS], shown[DECIMAL64_UNITS];
    FormatDecimal(Contents.found.count, all);
    FormatDecimal(Contents.shownCount, shown);
    wsprintfW(line, L"找到 %s 个字符串, 显示 %s 个", all, shown);
    SetDlgItemTextW(Contents.dialog, IDC_CONTENTS_COUNT, line);
}

// The strings the filter box lets through, in address order.
void FilterStrings() {
    WCHAR filter[STRING_KEPT_UNITS + 1] = L"";
    GetDlgItemTextW(Contents.dialog, IDC_CONTENTS_FILTER, filter, STRING_KEPT_UNITS + 1);
    size_t* shown = static_cast<size_t*>(realloc(Contents.shown, (Contents.found.count + 1) * sizeof(size_t)));
    Contents.shownCount = 0;
    if (shown) {
        Contents.shown = shown;
        for (size_t i = 0; i < Contents.found.count; ++i) {
            const FoundString& s = Contents.found.items[i];
            if (StringHolds(Contents.found.pool + s.text, s.units, filter)) shown[Contents.shownCount++] = i;
        }
    }
    LVITEMW none = {};
    none.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(Contents.strings, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
    SendMessageW(Contents.strings, LVM_SETITEMCOUNT, static_cast<WPARAM>(Contents.shownCount), 0);
    InvalidateRect(Contents.strings, nullptr, TRUE);
    ShowStringCount();
}

// ---- Workers --------------------------------------------------------------

int ReadShortest() {
    WCHAR text[8] = L"";
    GetDlgItemTextW(Contents.dialog, IDC_CONTENTS_SHORTEST, text, 8);
    int n = 0, i = 0;
    while (text[i] == L' ') ++i;
    for (; text[i] >= L'0' && text[i] <= L'9' && n < 1000; ++i) n = n * 10 + (text[i] - L'0');
    if (n < STRING_MIN_SHORTEST) n = STRING_MIN_SHORTEST;
    if (n > STRING_MIN_LONGEST) n = STRING_MIN_LONGEST;
    return n;
}

void WriteProgress(LPCWSTR what, ULONGLONG looked, ULONGLONG total) {
    WCHAR done[DECIMAL64_UNITS], all[DECIMAL64_UNITS], line[NOTE_UNITS];
    FormatDecimal(looked / 1024, done);
    FormatDecimal(total / 1024, all);
    wsprintfW(line, L"%s: 已读 %s / %s KB", what, done, all);
    SetNote(line);
}

ContentsJob* StartJob(ContentsJobKind kind) {
    ContentsJob* job = NewContentsJob(kind, Contents.process, &Contents.layout, Contents.dialog, WM_CONTENTS_NEWS);
    if (!job) SetNote(L"内存不足");
    return job;
}

void StartStrings() {
    EndContentsJob(Contents.stringsJob);
    Contents.stringsJob = nullptr;
    if (!Contents.process || Contents.ended) return;
    ContentsJob* job = StartJob(CONTENTS_STRINGS_JOB);
    if (!job) return;
    job->shortest = Contents.shortest;
    Contents.stringsJob = job;
    WriteProgress(L"正在查找字符串", 0, job->total);
    StartContentsJob(job);
}

void SelectBytesLine(ULONGLONG line);

void TakeStrings(ContentsJob* job) {
    FreeStringList(&Contents.found);
    Contents.found = job->strings;
    memset(&job->strings, 0, sizeof job->strings);
    FilterStrings();
    if (Contents.found.full) {
        WCHAR line[NOTE_UNITS], limit[DECIMAL64_UNITS];
        FormatDecimal(STRINGS_MAX, limit);
        wsprintfW(line, L"字符串太多, 只列出前 %s 个", limit);
        SetNote(line);
    }
}

// Takes the news of the workers: their progress, and what a finished one
// found.
INT_PTR Contents_OnNews(HWND dialog) {
    if (dialog != Contents.dialog) return TRUE;
    ContentsJob** jobs[2] = {&Contents.stringsJob, &Contents.findJob};
    for (ContentsJob** slot : jobs) {
        ContentsJob* job = *slot;
        ULONGLONG looked;
        if (!job) continue;
        if (!ContentsJobDone(job, &looked)) {
            WriteProgress(job->kind == CONTENTS_STRINGS_JOB ? L"正在查找字符串" : L"正在查找", looked, job->total);
            continue;
        }
        SetNote(L"");
        if (job->kind == CONTENTS_STRINGS_JOB) TakeStrings(job);
        ULONGLONG line;
        if (job->kind == CONTENTS_FIND_JOB && job->found && ContentsLineOf(Contents.layout, job->foundAt, &line))
            SelectBytesLine(line);
        else if (job->kind == CONTENTS_FIND_JOB && !job->ended)
            SetNote(L"未找到");
        if (job->ended) Contents.ended = TRUE;
        EndContentsJob(job);
        *slot = nullptr;
    }
    if (Contents.ended) SetNote(L"进程已结束");
    return TRUE;
}

// ---- The bytes list's window of lines -------------------------------------

// Makes the bytes list show lines from `first` (cut to the lines there are).
void SetWindowFirst(ULONGLONG first) {
    ULONGLONG total = Contents.layout.lineCount;
    if (total > WINDOW_LINES && first > total - WINDOW_LINES) first = total - WINDOW_LINES;
    if (total <= WINDOW_LINES) first = 0;
    ULONGLONG rows = total - first < WINDOW_LINES ? total - first : WINDOW_LINES;
    Contents.windowFirst = first;
    Contents.windowRows = static_cast<int>(rows);
    LVITEMW none = {};
    none.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(Contents.bytes, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
    SendMessageW(Contents.bytes, LVM_SETITEMCOUNT, static_cast<WPARAM>(Contents.windowRows), 0);
    InvalidateRect(Contents.bytes, nullptr, TRUE);
}

// Selects and shows allocation line `line`, moving the window when it lies
// outside it; the bytes list takes the focus (so F3 finds the next).
void SelectBytesLine(ULONGLONG line) {
    if (line >= Contents.layout.lineCount) return;
    if (line < Contents.windowFirst || line >= Contents.windowFirst + static_cast<ULONGLONG>(Contents.windowRows))
        SetWindowFirst(line > WINDOW_LINES / 2 ? line - WINDOW_LINES / 2 : 0);
    int row = static_cast<int>(line - Contents.windowFirst);
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(Contents.bytes, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&item));
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(Contents.bytes, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    SendMessageW(Contents.bytes, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
    SendMessageW(Contents.dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Contents.bytes), TRUE);
}

// The list drew the first or last row of its window: when that row is in
// view and more lines lie beyond it, the window moves by half its size and
// the list scrolls so that the same lines stay in view.
INT_PTR Contents_OnShift(HWND dialog) {
    if (dialog != Contents.dialog || Contents.windowRows <= 0) return TRUE;
    LRESULT top = SendMessageW(Contents.bytes, LVM_GETTOPINDEX, 0, 0);
    LRESULT page = SendMessageW(Contents.bytes, LVM_GETCOUNTPERPAGE, 0, 0);
    if (top < 0 || page <= 0 || top >= Contents.windowRows) return TRUE;
    const ULONGLONG half = WINDOW_LINES / 2;
    ULONGLONG end = Contents.windowFirst + static_cast<ULONGLONG>(Contents.windowRows);
    if (top + page >= Contents.windowRows && end < Contents.layout.lineCount) {
        ULONGLONG topLine = Contents.windowFirst + static_cast<ULONGLONG>(top);
        SetWindowFirst(Contents.windowFirst + half);
        SendMessageW(Contents.bytes, LVM_ENSUREVISIBLE, static_cast<WPARAM>(topLine - Contents.windowFirst), FALSE);
    } else if (top == 0 && Contents.windowFirst > 0) {
        ULONGLONG lastLine = Contents.windowFirst + static_cast<ULONGLONG>(page - 1);
        SetWindowFirst(Contents.windowFirst > half ? Contents.windowFirst - half : 0);
        SendMessageW(Contents.bytes, LVM_ENSUREVISIBLE, static_cast<WPARAM>(lastLine - Contents.windowFirst), FALSE);
    }
    return TRUE;
}

// ---- Commands -------------------------------------------------------------

// The allocation line after the selected one of the bytes list (its first
// line when none is selected).
ULONGLONG LineAfterSelection() {
    LRESULT row = SendMessageW(Contents.bytes, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED);
    if (row < 0 || row >= Contents.windowRows) return 0;
    ULONGLONG next = Contents.windowFirst + static_cast<ULONGLONG>(row) + 1;
    return next < Contents.layout.lineCount ? next : 0;
}

void Contents_OnFind() {
    if (Contents.findJob) return;  // one find at a time
    WCHAR text[FIND_TEXT_UNITS] = L"";
    GetDlgItemTextW(Contents.dialog, IDC_CONTENTS_FIND_TEXT, text, FIND_TEXT_UNITS);
    BOOL hex = SendDlgItemMessageW(Contents.dialog, IDC_CONTENTS_HEX, BM_GETCHECK, 0, 0) == BST_CHECKED;
    FindPattern pattern;
    FindParse parse = ParseFindText(text, hex, &pattern);
    if (parse == FIND_BAD_HEX) SetNote(L"十六进制字节应为成对的数字, 如 4D 6F 72");
    if (parse != FIND_OK || !Contents.process) return;
    ContentsJob* job = StartJob(CONTENTS_FIND_JOB);
    if (!job) return;
    ContentsLine line;
    job->pattern = pattern;
    job->from = ContentsLineAt(Contents.layout, LineAfterSelection(), &line) ? line.address : Contents.layout.base;
    Contents.findJob = job;
    WriteProgress(L"正在查找", 0, job->total);
    StartContentsJob(job);
}

// Reads an address: hex digits with or without "0x", blanks around.
BOOL ReadAddress(LPCWSTR text, ULONGLONG* address) {
    size_t i = 0;
    while (text[i] == L' ') ++i;
    if (text[i] == L'0' && (text[i + 1] == L'x' || text[i + 1] == L'X')) i += 2;
    ULONGLONG value = 0;
    int digits = 0;
    for (;; ++i, ++digits) {
        WCHAR c = text[i];
        int d = c >= L'0' && c <= L'9' ? c - L'0' : c >= L'a' && c <= L'f' ? c - L'a' + 10 : c >= L'A' && c <= L'F' ? c - L'A' + 10 : -1;
        if (d < 0) break;
        if (digits == 16) return FALSE;
        value = value * 16 + static_cast<ULONGLONG>(d);
    }
    while (text[i] == L' ') ++i;
    *address = value;
    return digits > 0 && text[i] == 0;
}

void Contents_OnGoto() {
    WCHAR text[40] = L"";
    GetDlgItemTextW(Contents.dialog, IDC_CONTENTS_GOTO_TEXT, text, 40);
    ULONGLONG address, line;
    if (!ReadAddress(text, &address) || !ContentsLineOf(Contents.layout, address, &line)) {
        SetNote(L"地址不在此分配内");
        return;
    }
    SetNote(Contents.ended ? L"进程已结束" : L"");
    SelectBytesLine(line);
}

void Contents_OnRefresh() {
    if (Contents.process && ProcessEnded(Contents.process)) Contents.ended = TRUE;
    if (Contents.ended) {
        SetNote(L"进程已结束");
        return;
    }
    ForgetPages();
    InvalidateRect(Contents.bytes, nullptr, TRUE);
    StartStrings();
}

// ---- Copying --------------------------------------------------------------

struct TextBuffer {
    WCHAR* text;
    size_t used;
    size_t capacity;
    BOOL failed;
};

void Append(TextBuffer* buffer, LPCWSTR piece) {
    size_t n = static_cast<size_t>(lstrlenW(piece));
    if (buffer->failed) return;
    if (buffer->used + n + 1 > buffer->capacity) {
        size_t next = buffer->capacity ? buffer->capacity : 4096;
        while (buffer->used + n + 1 > next) next *= 2;
        WCHAR* grown = static_cast<WCHAR*>(realloc(buffer->text, next * sizeof(WCHAR)));
        if (!grown) {
            buffer->failed = TRUE;
            return;
        }
        buffer->text = grown;
        buffer->capacity = next;
    }
    memcpy(buffer->text + buffer->used, piece, n * sizeof(WCHAR));
    buffer->used += n;
    buffer->text[buffer->used] = 0;
}

void AppendRow(TextBuffer* buffer, ContentsList list, int row) {
    int columns = list == BYTES_LIST ? BYTES_COLUMNS : STRINGS_COLUMNS;
    WCHAR cell[STRING_KEPT_UNITS + 1];
    for (int c = 0; c < columns; ++c) {
        if (c > 0) Append(buffer, L"\t");
        if (row < 0) {
            Append(buffer, list == BYTES_LIST ? BytesColumns[c] : StringsColumns[c]);
            continue;
        }
        if (list == BYTES_LIST) BytesCellText(row, c, cell, STRING_KEPT_UNITS + 1);
        else StringsCellText(row, c, cell, STRING_KEPT_UNITS + 1);
        Append(buffer, cell);
    }
    Append(buffer, L"\r\n");
}

// Ctrl+C: the selected rows with the column names first, tab-separated;
// more than COPY_ASK_LINES rows are copied only when the user agrees.
void CopyList(HWND dialog, ContentsList list) {
    HWND window = ListWindow(list);
    int rows = RowCount(list);
    LRESULT selected = SendMessageW(window, LVM_GETSELECTEDCOUNT, 0, 0);
    if (selected <= 0 || rows <= 0) return;
    if (static_cast<size_t>(selected) > COPY_ASK_LINES) {
        WCHAR question[NOTE_UNITS], count[DECIMAL64_UNITS];
        FormatDecimal(static_cast<ULONGLONG>(selected), count);
        wsprintfW(question, L"要复制 %s 行吗? 这需要一些时间和内存。", count);
        if (MessageBoxW(dialog, question, L"提示", MB_YESNO | MB_ICONQUESTION) != IDYES) return;
    }
    TextBuffer buffer = {};
    AppendRow(&buffer, list, -1);
    LRESULT next = SendMessageW(window, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED);
    int last = -1;
    // Each answer must lie past the one before and among the rows.
    while (next > last && next < rows && !buffer.failed) {
        AppendRow(&buffer, list, static_cast<int>(next));
        last = static_cast<int>(next);
        next = SendMessageW(window, LVM_GETNEXTITEM, static_cast<WPARAM>(next), LVNI_SELECTED);
    }
    HGLOBAL memory = buffer.failed ? nullptr : GlobalAlloc(GMEM_MOVEABLE, (buffer.used + 1) * sizeof(WCHAR));
    WCHAR* text = memory ? static_cast<WCHAR*>(GlobalLock(memory)) : nullptr;
    if (text) {
        memcpy(text, buffer.text, (buffer.used + 1) * sizeof(WCHAR));
        GlobalUnlock(memory);
    } else if (memory) {
        GlobalFree(memory);
        memory = nullptr;
    }
    free(buffer.text);
    PlaceClipboardText(dialog, memory);
}

void Contents_OnKeyDown(HWND dialog, ContentsList list, WORD key) {
    if (key == VK_F3) {
        Contents_OnFind();
        return;
    }
    if (GetKeyState(VK_CONTROL) >= 0) return;
    if (key == 'C') CopyList(dialog, list);
    if (key == 'A') {
        LVITEMW item = {};
        item.state = LVIS_SELECTED;
        item.stateMask = LVIS_SELECTED;
        SendMessageW(ListWindow(list), LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&item));
    }
}

void Contents_OnGetDisplayInfo(HWND dialog, ContentsList list, NMLVDISPINFOW* info) {
    LVITEMW& item = info->item;
    if (!(item.mask & LVIF_TEXT) || !item.pszText || item.cchTextMax <= 0) return;
    if (list == BYTES_LIST) {
        BytesCellText(item.iItem, item.iSubItem, item.pszText, static_cast<size_t>(item.cchTextMax));
        BOOL edge = (item.iItem == 0 && Contents.windowFirst > 0) ||
                    (item.iItem == Contents.windowRows - 1 &&
                     Contents.windowFirst + static_cast<ULONGLONG>(Contents.windowRows) < Contents.layout.lineCount);
        if (edge && item.iSubItem == 0) PostMessageW(dialog, WM_CONTENTS_SHIFT, 0, 0);
    } else {
        StringsCellText(item.iItem, item.iSubItem, item.pszText, static_cast<size_t>(item.cchTextMax));
    }
}

INT_PTR Contents_OnNotify(HWND dialog, WPARAM wParam, LPARAM lParam) {
    ContentsList list;
    if (!FromOwnList(dialog, wParam, lParam, &list)) return FALSE;
    switch (reinterpret_cast<const NMHDR*>(lParam)->code) {
    case LVN_GETDISPINFOW:
        Contents_OnGetDisplayInfo(dialog, list, reinterpret_cast<NMLVDISPINFOW*>(lParam));
        return TRUE;
    case LVN_KEYDOWN:
        Contents_OnKeyDown(dialog, list, reinterpret_cast<const NMLVKEYDOWN*>(lParam)->wVKey);
        return TRUE;
    default:
        return FALSE;
    }
}

// ---- Layout and opening ---------------------------------------------------

void SetUpList(HWND dialog, ContentsList list) {
    HWND window = ListWindow(list);
    int columns = list == BYTES_LIST ? BYTES_COLUMNS : STRINGS_COLUMNS;
    DWORD extended = LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES;
    SendMessageW(window, LVM_SETEXTENDEDLISTVIEWSTYLE, extended, extended);
    for (int c = 0; c < columns; ++c) {
        LVCOLUMNW column = {};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = list == STRINGS_LIST && c == 2 ? LVCFMT_RIGHT : LVCFMT_LEFT;
        column.cx = DialogUnitsAcross(dialog, list == BYTES_LIST ? BytesWidths[c] : StringsWidths[c]);
        column.pszText = const_cast<LPWSTR>(list == BYTES_LIST ? BytesColumns[c] : StringsColumns[c]);
        column.iSubItem = c;
        SendMessageW(window, LVM_INSERTCOLUMNW, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&column));
    }
}

// The template's two rows of controls stay where they are; the two lists
// share the width below them (the bytes list 60 %) down to the note line,
// which stays at the bottom.
void LayOut(HWND dialog) {
    RECT client;
    if (!GetClientRect(dialog, &client)) return;
    int width = client.right, height = client.bottom;
    int top = DialogUnitsDown(dialog, 36);
    int band = DialogUnitsDown(dialog, 14);
    int gap = DialogUnitsAcross(dialog, 4);
    int split = width * 3 / 5;
    int rest = height - band - top > 0 ? height - band - top : 0;
    MoveWindow(Contents.bytes, 0, top, split, rest, TRUE);
    MoveWindow(Contents.strings, split + gap, top, width - split - gap > 0 ? width - split - gap : 0, rest, TRUE);
    MoveWindow(GetDlgItem(dialog, IDC_CONTENTS_NOTE), gap, height - band + DialogUnitsDown(dialog, 3),
               width - 2 * gap > 0 ? width - 2 * gap : 0, DialogUnitsDown(dialog, 9), TRUE);
}

INT_PTR Contents_OnInitDialog(HWND dialog) {
    if (!Contents.opening || Contents.dialog) return TRUE;
    Contents.opening = FALSE;
    Contents.dialog = dialog;
    Contents.bytes = GetDlgItem(dialog, IDC_CONTENTS_BYTES);
    Contents.strings = GetDlgItem(dialog, IDC_CONTENTS_STRINGS);
    SendMessageW(dialog, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Contents.caption));
    SetUpList(dialog, BYTES_LIST);
    SetUpList(dialog, STRINGS_LIST);
    WCHAR shortest[8];
    wsprintfW(shortest, L"%d", Contents.shortest);
    SetDlgItemTextW(dialog, IDC_CONTENTS_SHORTEST, shortest);
    SetWindowFirst(0);
    ShowStringCount();
    LayOut(dialog);
    CenterOnScreen(dialog);
    if (Contents.ended) SetNote(L"进程已结束");
    else if (!Contents.process) SetNote(L"无法打开进程, 内容无法读取");
    else if (!Contents.cache) SetNote(L"内存不足");
    StartStrings();
    return TRUE;
}

// Stops the workers (waiting for them) and ends the dialog.
void Close(HWND dialog, INT_PTR result) {
    EndContentsJob(Contents.stringsJob);
    EndContentsJob(Contents.findJob);
    Contents.stringsJob = Contents.findJob = nullptr;
    EndDialog(dialog, result);
}

INT_PTR Contents_OnCommand(HWND dialog, WPARAM wParam) {
    if (dialog != Contents.dialog) return TRUE;
    switch (LOWORD(wParam)) {
    case IDCANCEL:  // Escape
        Close(dialog, IDCANCEL);
        break;
    case IDOK:  // Enter
    case IDC_CONTENTS_FIND:
        Contents_OnFind();
        break;
    case IDC_CONTENTS_GOTO:
        Contents_OnGoto();
        break;
    case IDC_CONTENTS_REFRESH:
        Contents_OnRefresh();
        break;
    case IDC_CONTENTS_FILTER:
        if (HIWORD(wParam) == EN_CHANGE) FilterStrings();
        break;
    case IDC_CONTENTS_SHORTEST:
        if (HIWORD(wParam) == EN_CHANGE && ReadShortest() != Contents.shortest) {
            Contents.shortest = ReadShortest();
            if (!Contents.ended) StartStrings();
        }
        break;
    default:
        break;
    }
    return TRUE;
}

// "内存内容 - 0x2A000000 私有数据": the base in upper-case digits, then the kind.
void WriteCaption(const Allocation& allocation) {
    DWORD high = static_cast<DWORD>(allocation.base >> 32), low = static_cast<DWORD>(allocation.base);
    if (high) wsprintfW(Contents.caption, L"内存内容 - 0x%X%08X %s", high, low, UseRowName(allocation.kind));
    else wsprintfW(Contents.caption, L"内存内容 - 0x%08X %s", low, UseRowName(allocation.kind));
}

}  // namespace

void ShowContentsDialog(HWND owner, const Allocation& allocation) {
    if (Contents.opening || Contents.dialog || allocation.type == 0 || allocation.regionCount == 0) return;
    // The allocation's regions must be those of the walk's records: a reading
    // kept from before a later walk names records that are no longer there.
    if (allocation.firstRegion >= WalkedRegions.count ||
        allocation.regionCount > WalkedRegions.count - allocation.firstRegion ||
        WalkedRegions.records[allocation.firstRegion].base != allocation.base)
        return;
    Contents = ContentsWindow();
    if (!BuildContentsLayout(WalkedRegions.records + allocation.firstRegion, allocation.regionCount, &Contents.layout))
        return;
    Contents.shortest = STRING_MIN_DEFAULT;
    Contents.cache = static_cast<CachedPage*>(calloc(CACHE_PAGES, sizeof(CachedPage)));
    Contents.process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, SelectedPid);
    // Only the walked process is read: one created at another time has the
    // PID of the walked one, which has ended.
    if (Contents.process && ProcessCreationTime(Contents.process) != WalkedRegions.created) {
        CloseHandle(Contents.process);
        Contents.process = nullptr;
        Contents.ended = TRUE;
    }
    Contents.ended = Contents.ended || (Contents.process && ProcessEnded(Contents.process));
    WriteCaption(allocation);
    Contents.opening = TRUE;
    DialogBoxParamW(ModuleInstance, MAKEINTRESOURCEW(IDD_CONTENTS), owner, ContentsDialog, 0);
    EndContentsJob(Contents.stringsJob);
    EndContentsJob(Contents.findJob);
    if (Contents.process) CloseHandle(Contents.process);
    FreeContentsLayout(&Contents.layout);
    FreeStringList(&Contents.found);
    free(Contents.shown);
    free(Contents.cache);
    Contents = ContentsWindow();
}

INT_PTR CALLBACK ContentsDialog(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_INITDIALOG:
        return Contents_OnInitDialog(dialog);
    case WM_NOTIFY:
        return Contents_OnNotify(dialog, wParam, lParam);
    case WM_SIZE:
        if (dialog == Contents.dialog) LayOut(dialog);
        return TRUE;
    case WM_CONTENTS_NEWS:
        return Contents_OnNews(dialog);
    case WM_CONTENTS_SHIFT:
        return Contents_OnShift(dialog);
    case WM_COMMAND:
        return Contents_OnCommand(dialog, wParam);
    case WM_CLOSE:
        if (dialog == Contents.dialog) Close(dialog, 0);
        return TRUE;
    default:
        return FALSE;
    }
}
