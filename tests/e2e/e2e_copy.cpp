#include "e2e_copy.h"

#include "e2e_expect.h"
#include "e2e_notices.h"
#include "e2e_report.h"
#include "e2e_windows.h"

namespace {

const DWORD kInputTimeout = 5000;

INPUT KeyInput(WORD key, bool up) {
    INPUT in;
    ZeroMemory(&in, sizeof in);
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = key;
    in.ki.wScan = static_cast<WORD>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
    bool extended = key == VK_DOWN || key == VK_UP || key == VK_HOME || key == VK_END;
    in.ki.dwFlags = (up ? KEYEVENTF_KEYUP : 0u) | (extended ? KEYEVENTF_EXTENDEDKEY : 0u);
    return in;
}

}  // namespace

void Keystroke(WORD key, WORD modifier, DWORD settle) {
    std::vector<INPUT> in;
    if (modifier) in.push_back(KeyInput(modifier, false));
    in.push_back(KeyInput(key, false));
    in.push_back(KeyInput(key, true));
    if (modifier) in.push_back(KeyInput(modifier, true));
    SendInput(static_cast<UINT>(in.size()), in.data(), sizeof(INPUT));
    Sleep(settle);
}

HWND Focused(HWND window) {
    GUITHREADINFO info;
    ZeroMemory(&info, sizeof info);
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
    return info.hwndFocus;
}

void ClearClipboard() {
    if (!OpenClipboard(nullptr)) return;
    EmptyClipboard();
    CloseClipboard();
}

std::string WaitClipboardText(DWORD timeout, DWORD* came) {
    DWORD start = Now();
    while (!IsClipboardFormatAvailable(CF_UNICODETEXT)) {
        if (Now() - start > timeout) return "<none>";
        Sleep(1);
    }
    if (came) *came = Now();
    std::string text = "<unreadable>";
    for (int tries = 0; tries < 100 && !OpenClipboard(nullptr); ++tries) Sleep(20);
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    const wchar_t* p = data ? static_cast<const wchar_t*>(GlobalLock(data)) : nullptr;
    if (p) {
        text = Utf8(p);
        GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
}

namespace {

// A left click at a point of the screen.
void Click(int x, int y) {
    INPUT in[3];
    ZeroMemory(in, sizeof in);
    int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    in[0].type = INPUT_MOUSE;
    in[0].mi.dx = MulDiv(x, 65535, w - 1);
    in[0].mi.dy = MulDiv(y, 65535, h - 1);
    in[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    in[1].type = INPUT_MOUSE;
    in[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    in[2].type = INPUT_MOUSE;
    in[2].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(3, in, sizeof(INPUT));
    Sleep(200);
}

// Clicks the line `line` of a list, which must be in view, once its dialog
// is in front, and again (as a person would) while the focus has not come
// to the list; false when it never does.
bool ClickLine(HWND dialog, HWND list, LRESULT line) {
    DWORD start = Now();
    while (GetForegroundWindow() != dialog && Now() - start < kInputTimeout) Sleep(20);
    for (int tries = 0; tries < 3; ++tries) {
        LRESULT top = 0, height = 0;
        Send(list, LB_GETTOPINDEX, 0, 0, &top);
        Send(list, LB_GETITEMHEIGHT, 0, 0, &height);
        RECT r;
        GetWindowRect(list, &r);
        Click(r.left + 30, r.top + 2 + static_cast<int>((line - top) * height + height / 2));
        if (Focused(dialog) == list) return true;
        Sleep(500);
    }
    Log("  the focus is on %s, %s in front", Describe(Focused(dialog)).c_str(), Describe(GetForegroundWindow()).c_str());
    return false;
}

LRESULT SelCount(HWND list) {
    LRESULT n = -1;
    Send(list, LB_GETSELCOUNT, 0, 0, &n);
    return n;
}

bool WaitSelCount(HWND list, LRESULT want) {
    DWORD start = Now();
    while (SelCount(list) != want && Now() - start < kInputTimeout) Sleep(20);
    return SelCount(list) == want;
}

std::string Joined(std::vector<std::string>::const_iterator first, std::vector<std::string>::const_iterator last) {
    std::string text;
    for (auto it = first; it != last; ++it) text += (it == first ? "" : "\r\n") + *it;
    return text;
}

}  // namespace

void CheckCopyRegionLines(HWND dialog) {
    HWND list = GetDlgItem(dialog, 1021);
    std::vector<std::string> table;
    if (!Check(ReadList(list, &table) && table.size() > 10, "copy: region table readable")) return;
    // The seventh line in view is clicked; Down moves to the next one, and
    // Shift+Down twice takes the two after it into the selection. The lines
    // count from the one the click chose (the caret): on a loaded machine a
    // click may land after the list has scrolled.
    LRESULT top = 0;
    Send(list, LB_GETTOPINDEX, 0, 0, &top);
    if (!Check(ClickLine(dialog, list, top + 6), "copy: a click puts the focus in the region table")) return;
    LRESULT clicked = -1;
    Send(list, LB_GETCARETINDEX, 0, 0, &clicked);
    LRESULT first = clicked + 1;
    if (!Check(clicked >= 0 && first + 3 <= static_cast<LRESULT>(table.size()), "copy: region table long enough"))
        return;
    Keystroke(VK_DOWN);
    Keystroke(VK_DOWN, VK_SHIFT);
    Keystroke(VK_DOWN, VK_SHIFT);
    bool three = WaitSelCount(list, 3);
    LRESULT anchor = -1;
    Send(list, LB_GETANCHORINDEX, 0, 0, &anchor);
    Check(three && anchor == first, "copy: Down and Shift+Down twice select three region table lines",
          "3 lines from " + std::to_string(first), std::to_string(SelCount(list)) + " lines from " + std::to_string(anchor));
    ClearClipboard();
    Keystroke('C', VK_CONTROL);
    CheckEq(Joined(table.begin() + first, table.begin() + first + 3), WaitClipboardText(kInputTimeout),
            "copy: Ctrl+C copies the three selected lines of the region table");
    Sleep(300);
    LRESULT last = 0;
    Send(list, LB_GETANCHORINDEX, 0, 0, &anchor);
    Send(list, LB_GETSEL, static_cast<WPARAM>(first + 2), 0, &last);
    Check(SelCount(list) == 3 && last > 0 && anchor == first, "copy: the selection stays after Ctrl+C",
          "3 lines from " + std::to_string(first), std::to_string(SelCount(list)) + " lines from " + std::to_string(anchor));
}

void CheckCopyModuleList(HWND modules, const std::vector<std::string>& want) {
    HWND list = GetDlgItem(modules, 1020);
    if (!Check(ClickLine(modules, list, 1), "copy: a click puts the focus in the module list")) return;
    Keystroke('A', VK_CONTROL);
    Check(WaitSelCount(list, static_cast<LRESULT>(want.size())), "copy: Ctrl+A selects every line of the module list",
          std::to_string(want.size()), std::to_string(SelCount(list)));
    ClearClipboard();
    Keystroke('C', VK_CONTROL);
    std::string copied = WaitClipboardText(kInputTimeout);
    CheckEq(Joined(want.begin(), want.end()), copied, "copy: Ctrl+C copies the whole module list");

    // Held open by the driver, the clipboard cannot take morvane's text.
    if (!Check(OpenClipboard(nullptr) != FALSE, "copy: the driver holds the clipboard open")) return;
    Keystroke('C', VK_CONTROL);
    ExpectNotice("无法复制到剪贴板!", modules, "error", "copy: Ctrl+C with the clipboard held elsewhere");
    CloseClipboard();
    CheckEq(copied, WaitClipboardText(kInputTimeout), "copy: a refused copy leaves the clipboard as it was");
}

void MeasureCopyTable(HWND dialog) {
    HWND list = GetDlgItem(dialog, 1021);
    LRESULT lines = ListCount(list);
    // A click on the title bar brings the dialog to the front; Tab then
    // moves the focus into the table, selecting nothing.
    RECT r;
    GetWindowRect(dialog, &r);
    Click((r.left + r.right) / 2, r.top + GetSystemMetrics(SM_CYCAPTION) / 2 + 2);
    for (int i = 0; i < 8 && Focused(dialog) != list; ++i) Keystroke(VK_TAB);
    if (!Check(Focused(dialog) == list && SelCount(list) == 0, "copy: Tab reaches the region table, nothing selected")) return;
    ClearClipboard();
    DWORD start = Now(), came = start;
    Keystroke('C', VK_CONTROL, 0);
    std::string text = WaitClipboardText(60000, &came);
    size_t copied = text == "<none>" ? 0 : 1;
    for (size_t at = text.find("\r\n"); copied && at != std::string::npos; at = text.find("\r\n", at + 2)) ++copied;
    Check(copied == static_cast<size_t>(lines), "copy: Ctrl+C with nothing selected copies the whole table",
          std::to_string(lines) + " lines", std::to_string(copied) + " lines");
    Log("MEASURE copy: the whole region table (%ld lines, %zu bytes of UTF-8) on the clipboard %lu ms after Ctrl+C",
        static_cast<long>(lines), text.size(), static_cast<unsigned long>(came - start));
}
