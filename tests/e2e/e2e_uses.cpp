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

#include "e2e_copy.h"
#include "e2e_expect.h"
#include "e2e_notices.h"
#include "e2e_report.h"
#include "e2e_screen.h"
#include "e2e_uses.h"
#include "e2e_windows.h"

namespace {

const int kShowUses = 1032;

}  // namespace

std::string CopyList(HWND window, int id, bool all) {
    for (int i = 0; i < 16 && Focused(window) != GetDlgItem(window, id); ++i) Keystroke(VK_TAB, 0, 80);
    if (Focused(window) != GetDlgItem(window, id)) return "<none>";
    ClearClipboard();
    if (all) Keystroke('A', VK_CONTROL);
    Keystroke('C', VK_CONTROL);
    return WaitClipboardText(10000);
}

std::vector<Row> CopyRows(HWND uses, int id) {
    std::string text = CopyList(uses, id, false);
    if (!Check(text != "<none>", "uses: Tab reaches list " + std::to_string(id))) return {};
    std::vector<Row> rows(1, Row(1));
    for (char c : text) {
        if (c == '\t') rows.back().emplace_back();
        else if (c == '\r') rows.emplace_back(1);
        else if (c != '\n') rows.back().back() += c;
    }
    return rows;
}

std::string Kilobytes(ULONGLONG bytes) {
    std::string digits = std::to_string(bytes / 1024), out;
    for (size_t i = 0; i < digits.size(); ++i) out += (i > 0 && (digits.size() - i) % 3 == 0 ? "," : "") + digits.substr(i, 1);
    return out + " KB";
}

namespace {

// Whether an allocation row has this 用途 and 详情 (without regard to case)
// and, when given, this 基址.
bool HasRow(const std::vector<Row>& rows, const std::string& kind, const std::string& detail, const std::string& base = "") {
    for (const Row& r : rows)
        if (r.size() >= 8 && r[4] == kind && (base.empty() || r[0] == base) &&
            CompareStringOrdinal(Wide(r[7]).c_str(), -1, Wide(detail).c_str(), -1, TRUE) == CSTR_EQUAL)
            return true;
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

}  // namespace

HWND OpenUses(HWND dialog) {
    Press(GetDlgItem(dialog, kShowUses));
    HWND uses = WaitDialog(L"内存用途", 60000);
    for (DWORD start = Now(); uses && GetForegroundWindow() != uses && Now() - start < 5000;) Sleep(20);
    return uses;
}

namespace {

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

void CheckUses(HWND dialog, const Target& known) {
    HWND uses = OpenUses(dialog);
    if (!Check(uses != nullptr, "uses: \"内存用途\" opened by 查看内存用途")) return;
    Check(GetWindow(uses, GW_OWNER) == dialog, "uses: owned by the process dialog");
    Screenshot("uses");

    std::vector<Row> summary = CopyRows(uses, kSummary), allocations = CopyRows(uses, kAllocations);
    std::string names;
    for (const Row& r : summary) names += r[0] + " ";
    CheckEq("用途 镜像 映射文件 共享内存 堆 线程栈 私有数据 未用 总计 ", names, "uses: one summary row per kind, then 总计");

    // The target's executable, as the platform names it.
    wchar_t exe[MAX_PATH] = L"";
    if (HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, known.pid))
        GetModuleFileNameExW(process, nullptr, exe, MAX_PATH), CloseHandle(process);
    std::string exeBase = known.modules.empty() ? "" : Hex(known.modules[0].base);
    const struct {
        const char* kind;
        std::string detail, base, what;
    } wanted[] = {{"镜像", Utf8(exe), exeBase, "executable is 镜像 with its path"},
                  {"映射文件", known.mappedPath, Hex(known.mappedBase), "mapped file is 映射文件 with its path"},
                  {"线程栈", "线程ID:" + std::to_string(known.waitingThread), "", "thread's stack is 线程栈 with its ID"}};
    for (const auto& w : wanted)
        Check(HasRow(allocations, w.kind, w.detail, w.base), "uses: the target's " + w.what, w.base + " " + w.detail,
              "no such row");

    std::string total = summary.size() == 9 && summary[8].size() >= 6 ? summary[8][2] : "<none>";
    CheckEq(Kilobytes(TableCommitted(dialog)), total, "uses: 总计's 已调拨 is the region table's committed regions");
    PostMessageW(uses, WM_CLOSE, 0, 0);
    Check(WaitGone(uses, 5000), "uses: closed by its close box");
}

void MeasureUses(HWND query, const std::wstring& targetExe) {
    Target t;
    if (!StartTarget(targetExe, "allocations", &t)) {
        Log("MEASURE uses: the target could not make its allocations");
        return;
    }
    HANDLE q = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, t.pid);
    size_t regions = WalkAddressSpace(q).size();
    if (q) CloseHandle(q);
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
        HWND header = nullptr;
        LRESULT first = 0, second = 0;
        Send(list, LVM_GETHEADER, 0, 0, reinterpret_cast<LRESULT*>(&header));
        Send(list, LVM_GETCOLUMNWIDTH, 0, 0, &first);
        Send(list, LVM_GETCOLUMNWIDTH, 1, 0, &second);
        RECT h;
        GetWindowRect(header, &h);
        std::vector<DWORD> before = Pixels(list);
        SetCursorPos(h.left + static_cast<int>(first + second / 2), (h.top + h.bottom) / 2);
        DWORD click = Now();
        mouse_event(MOUSEEVENTF_LEFTDOWN, 0, 0, 0, 0);
        mouse_event(MOUSEEVENTF_LEFTUP, 0, 0, 0, 0);
        while (Pixels(list) == before && Now() - click < 10000) Sleep(1);
        Log("MEASURE uses: %ld allocations sorted by 大小 and shown %lu ms after the header click", static_cast<long>(rows),
            static_cast<unsigned long>(Now() - click));
        MeasureRefresh(uses, t.pid);
        PostMessageW(uses, WM_CLOSE, 0, 0);
        WaitGone(uses, 5000);
    }
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    WaitGone(dialog, 30000);
    DrainMapNotices(1000);
    EndTarget(&t, false);
}
