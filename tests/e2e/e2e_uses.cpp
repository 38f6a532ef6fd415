// "内存用途" as a person uses it: opened with its button in the process
// dialog, its two lists copied with Ctrl+C and read from the clipboard, and
// what they say checked against the platform's own answers, the target's
// report and the region table. Timed on the 20,000-allocation target.
#include <windows.h>

#include <commctrl.h>
#include <psapi.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include "e2e_expect.h"
#include "e2e_notices.h"
#include "e2e_report.h"
#include "e2e_screen.h"
#include "e2e_windows.h"

namespace {

const int kShowUses = 1032;
const int kSummary = 1050;
const int kAllocations = 1051;

using Row = std::vector<std::string>;

void Keystroke(WORD key, WORD modifier = 0) {
    INPUT in[4];
    ZeroMemory(in, sizeof in);
    UINT n = 0;
    auto add = [&](WORD k, bool up) {
        in[n].type = INPUT_KEYBOARD;
        in[n].ki.wVk = k;
        in[n].ki.wScan = static_cast<WORD>(MapVirtualKeyW(k, MAPVK_VK_TO_VSC));
        in[n++].ki.dwFlags = up ? KEYEVENTF_KEYUP : 0u;
    };
    if (modifier) add(modifier, false);
    add(key, false);
    add(key, true);
    if (modifier) add(modifier, true);
    SendInput(n, in, sizeof(INPUT));
    Sleep(100);
}

void ClickAt(int x, int y) {
    INPUT in[3];
    ZeroMemory(in, sizeof in);
    in[0].type = in[1].type = in[2].type = INPUT_MOUSE;
    in[0].mi.dx = MulDiv(x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
    in[0].mi.dy = MulDiv(y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
    in[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    in[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    in[2].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(3, in, sizeof(INPUT));
}

HWND Focused(HWND window) {
    GUITHREADINFO info;
    ZeroMemory(&info, sizeof info);
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
    return info.hwndFocus;
}

// Ctrl+C in the list that has the focus; the clipboard's text as rows of
// tab-separated cells (empty when no text came).
std::vector<Row> CopyRows() {
    if (OpenClipboard(nullptr)) {
        EmptyClipboard();
        CloseClipboard();
    }
    Keystroke('C', VK_CONTROL);
    DWORD start = Now();
    while (!IsClipboardFormatAvailable(CF_UNICODETEXT) && Now() - start < 10000) Sleep(10);
    std::string text;
    for (int tries = 0; tries < 100 && !OpenClipboard(nullptr); ++tries) Sleep(20);
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    const wchar_t* p = data ? static_cast<const wchar_t*>(GlobalLock(data)) : nullptr;
    if (p) {
        text = Utf8(p);
        GlobalUnlock(data);
    }
    CloseClipboard();
    std::vector<Row> rows;
    size_t at = 0;
    while (!text.empty() && at <= text.size()) {
        size_t end = text.find("\r\n", at);
        std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        Row row;
        for (size_t from = 0;;) {
            size_t tab = line.find('\t', from);
            row.push_back(line.substr(from, tab == std::string::npos ? std::string::npos : tab - from));
            if (tab == std::string::npos) break;
            from = tab + 1;
        }
        rows.push_back(row);
        if (end == std::string::npos) break;
        at = end + 2;
    }
    return rows;
}

// Tab until the list has the focus; false when it never does.
bool FocusList(HWND uses, HWND list) {
    for (int i = 0; i < 4 && Focused(uses) != list; ++i) Keystroke(VK_TAB);
    return Focused(uses) == list;
}

// "1,024 KB", as the window writes sizes.
std::string Kilobytes(ULONGLONG bytes) {
    std::string digits = std::to_string(bytes / 1024), out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out + " KB";
}

bool SameText(const std::string& a, const std::string& b) {
    return CompareStringOrdinal(Wide(a).c_str(), -1, Wide(b).c_str(), -1, TRUE) == CSTR_EQUAL;
}

// The target's report lines that start with `tag` and a blank, without it.
std::vector<std::string> Reported(const char* tag) {
    std::vector<std::string> out;
    FILE* f = _wfopen((outDir + L"\\target-known.txt").c_str(), L"r");
    if (!f) return out;
    char line[2048];
    std::string prefix = std::string(tag) + " ";
    while (fgets(line, sizeof line, f)) {
        std::string s(line);
        s.erase(s.find_last_not_of("\r\n") + 1);
        if (s.compare(0, prefix.size(), prefix) == 0) out.push_back(s.substr(prefix.size()));
    }
    fclose(f);
    return out;
}

// The allocation row whose 用途 and 详情 are these (详情 without regard to case).
bool HasRow(const std::vector<Row>& rows, const std::string& kind, const std::string& detail, const std::string& base = "") {
    for (const Row& r : rows)
        if (r.size() == 8 && r[4] == kind && SameText(r[7], detail) && (base.empty() || r[0] == base)) return true;
    return false;
}

// The committed bytes the region table shows: six lines a region, the
// state fourth and "大小:0x...字节" sixth.
ULONGLONG TableCommitted(HWND dialog) {
    std::vector<std::string> lines;
    ReadList(GetDlgItem(dialog, 1021), &lines);
    ULONGLONG sum = 0;
    for (size_t i = 0; i + 5 < lines.size(); i += 6)
        if (lines[i + 3] == "已调拨") sum += strtoull(lines[i + 5].c_str() + strlen("大小:"), nullptr, 16);
    return sum;
}

HWND OpenUses(HWND dialog) {
    Press(GetDlgItem(dialog, kShowUses));
    HWND uses = WaitDialog(L"内存用途", 60000);
    DWORD start = Now();
    while (uses && GetForegroundWindow() != uses && Now() - start < 5000) Sleep(20);
    return uses;
}

void CloseUses(HWND uses) {
    PostMessageW(uses, WM_CLOSE, 0, 0);
    Check(WaitGone(uses, 5000), "uses: closed by its close box");
}

// The pixels of a window's rectangle on screen.
std::vector<DWORD> Pixels(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    Screen s = Capture();
    std::vector<DWORD> out;
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x) out.push_back(s.At(x, y));
    return out;
}

}  // namespace

void CheckUses(HWND dialog, DWORD pid, ULONGLONG exeBase) {
    HWND uses = OpenUses(dialog);
    if (!Check(uses != nullptr, "uses: \"内存用途\" opened by 查看内存用途")) return;
    Check(GetWindow(uses, GW_OWNER) == dialog, "uses: owned by the process dialog", Describe(dialog),
          Describe(GetWindow(uses, GW_OWNER)));
    Screenshot("uses");

    std::vector<Row> summary, allocations;
    if (Check(FocusList(uses, GetDlgItem(uses, kSummary)), "uses: the summary takes the focus")) summary = CopyRows();
    if (Check(FocusList(uses, GetDlgItem(uses, kAllocations)), "uses: the allocations take the focus"))
        allocations = CopyRows();
    Log("  uses: %zu summary rows, %zu allocation rows copied", summary.size(), allocations.size());

    const char* kinds[] = {"镜像", "映射文件", "共享内存", "堆", "线程栈", "私有数据", "未用", "总计"};
    std::string names;
    for (size_t i = 1; i < summary.size(); ++i) names += (i > 1 ? "," : "") + summary[i][0];
    std::string want;
    for (const char* k : kinds) want += (want.empty() ? "" : ",") + std::string(k);
    CheckEq(want, names, "uses: one summary row per kind, then 总计");
    CheckEq("基址\t大小\t已调拨\t类型\t用途\t保护\t区域数\t详情",
            allocations.empty() ? "" : allocations[0][0] + "\t" + allocations[0][1] + "\t" + allocations[0][2] + "\t" +
                                          allocations[0][3] + "\t" + allocations[0][4] + "\t" + allocations[0][5] + "\t" +
                                          allocations[0][6] + "\t" + allocations[0][7],
            "uses: the allocations' column names come first");

    // The target's executable, as the platform names it.
    wchar_t exe[MAX_PATH] = L"";
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (process) {
        GetModuleFileNameExW(process, nullptr, exe, MAX_PATH);
        CloseHandle(process);
    }
    Check(HasRow(allocations, "镜像", Utf8(exe), Hex(exeBase)), "uses: the target's executable is 镜像 with its path",
          Hex(exeBase) + " 镜像 " + Utf8(exe), "no such row");
    for (const std::string& file : Reported("mapped"))
        Check(HasRow(allocations, "映射文件", file), "uses: the target's mapped file is 映射文件 with its path", file,
              "no such row");
    for (const std::string& thread : Reported("thread"))
        Check(HasRow(allocations, "线程栈", "线程ID:" + thread), "uses: the target's thread is 线程栈 with its ID",
              "线程ID:" + thread, "no such row");

    std::string total = summary.size() == 9 && summary[8].size() == 6 ? summary[8][2] : "<none>";
    CheckEq(Kilobytes(TableCommitted(dialog)), total, "uses: 总计's 已调拨 is the region table's committed regions");
    CloseUses(uses);
}

void MeasureUses(HWND query, const std::wstring& targetExe) {
    Target t;
    if (!StartTarget(targetExe, "allocations", &t)) {
        Log("MEASURE uses: the target could not make its allocations");
        return;
    }
    HANDLE q = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, t.pid);
    size_t regions = WalkAddressSpace(q).size();
    CloseHandle(q);
    SetText(GetDlgItem(query, 1005), std::to_wstring(t.pid).c_str());
    Press(GetDlgItem(query, 1013));
    HWND dialog = WaitDialog(L"进程虚拟内存信息", 60000);
    Notice n;
    if (!dialog || !WaitNotice(kNoticeCaption, 300000, &n, kMapNotice, dialog)) {
        Log("MEASURE uses: the process dialog did not finish its opening");
        return;
    }
    Dismiss(n);
    DrainMapNotices(1500);

    DWORD start = Now();
    HWND uses = OpenUses(dialog);
    LRESULT rows = 0;
    HWND list = uses ? GetDlgItem(uses, kAllocations) : nullptr;
    while (list && rows <= 0 && Now() - start < 60000) Send(list, LVM_GETITEMCOUNT, 0, 0, &rows);
    DWORD filled = Now() - start;
    if (uses) {
        Log("MEASURE uses: \"内存用途\" filled %lu ms after pressing 查看内存用途 (%ld allocations of %zu regions)",
            static_cast<unsigned long>(filled), static_cast<long>(rows), regions);
        // A click on 大小's header, timed until the list shows another picture.
        Screenshot("uses-20000");
        HWND header = nullptr;
        LRESULT first = 0, second = 0;
        Send(list, LVM_GETHEADER, 0, 0, reinterpret_cast<LRESULT*>(&header));
        Send(list, LVM_GETCOLUMNWIDTH, 0, 0, &first);
        Send(list, LVM_GETCOLUMNWIDTH, 1, 0, &second);
        RECT h;
        GetWindowRect(header, &h);
        std::vector<DWORD> before = Pixels(list);
        DWORD click = Now();
        ClickAt(h.left + static_cast<int>(first + second / 2), (h.top + h.bottom) / 2);
        while (Pixels(list) == before && Now() - click < 10000) Sleep(1);
        Log("MEASURE uses: %ld allocations sorted by 大小 and shown %lu ms after the header click", static_cast<long>(rows),
            static_cast<unsigned long>(Now() - click));
        CloseUses(uses);
    }
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    WaitGone(dialog, 30000);
    DrainMapNotices(1000);
    EndTarget(&t, false);
}
