// The end-to-end driver: starts a target process whose memory it knows and
// morvane.exe, then works morvane as a person would, by window messages
// only: it finds windows by their titles, reads fields and list boxes,
// types into the edit field, presses buttons, and reads and dismisses every
// message box by its text. It checks what morvane shows against its own
// queries of the platform and of the target.
//
//   e2e_driver MORVANE_EXE TARGET_EXE OUT_DIR [--measure]
//
// Writes OUT_DIR\e2e.log and screenshots OUT_DIR\NN-name.bmp; prints
// "N passed, N failed" alone on its last line; exit code 0 when none failed.
// This file holds the checks and the runs; the log, the windows, the
// screen and the notices have files of their own.
#include <windows.h>

#include <commctrl.h>
#include <psapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "e2e_copy.h"
#include "e2e_expect.h"
#include "e2e_notices.h"
#include "e2e_process_list.h"
#include "e2e_reliability.h"
#include "e2e_report.h"
#include "e2e_responsive.h"
#include "e2e_screen.h"
#include "e2e_uses.h"
#include "e2e_windows.h"

// "内存用途" (e2e_uses.cpp): opened from the process dialog on the known
// target and checked against it; timed on 20,000 allocations.
void CheckUses(HWND dialog, const Target& known);
void MeasureUses(HWND query, const std::wstring& targetExe);
void CheckContents(HWND dialog, const Target& known);
void MeasureContents(HWND query, const std::wstring& targetExe);
// e2e_messages.cpp: junk private messages to every window while the module
// dialog of `dialog` lists; the list must still come to `want`.
void CheckForeignMessages(HWND dialog, const std::vector<std::string>& want);

namespace {

// ----------------------------------------------------------------- checks

bool AllDigits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// "<digits>字节"
bool ByteCount(const std::string& s) {
    return EndsWith(s, "字节") && AllDigits(s.substr(0, s.size() - strlen("字节")));
}

void CheckMainWindow(HWND main) {
    const int fields[] = {1005, 1006, 1007, 1008, 1009, 1010, 1011, 1012, 1023, 1024, 1025};
    DWORD start = Now();
    bool filled = false;
    while (!filled && Now() - start <= 2000) {
        filled = true;
        for (int id : fields) filled = filled && !FieldText(main, id).empty();
        if (!filled) Sleep(50);
    }
    Check(filled, "main window: fields 1005-1012 and the clock filled within two seconds");

    MEMORYSTATUSEX ms;
    ms.dwLength = sizeof ms;
    GlobalMemoryStatusEx(&ms);
    CheckEq(std::to_string(ms.ullTotalPhys) + "字节", FieldText(main, 1006), "main window: field 1006 is the total physical memory");
    CheckEq(std::to_string(ms.ullTotalVirtual) + "字节", FieldText(main, 1010), "main window: field 1010 is the total virtual size");
    CheckEq(std::to_string(ms.ullAvailExtendedVirtual) + "字节", FieldText(main, 1012), "main window: field 1012 is the extended virtual size");
    std::string load = FieldText(main, 1005);
    Check(EndsWith(load, "%") && AllDigits(load.substr(0, load.size() - 1)) && atoi(load.c_str()) <= 100,
          "main window: field 1005 is a load in percent", "<0-100>%", load);
    for (int id = 1007; id <= 1011; ++id) {
        if (id == 1010) continue;
        std::string t = FieldText(main, id);
        Check(ByteCount(t), "main window: field " + std::to_string(id) + " is a byte count", "<digits>字节", t);
    }

    // The clock: hour, minute, second without leading zeros, close to ours.
    SYSTEMTIME now;
    GetLocalTime(&now);
    std::string h = FieldText(main, 1023), m = FieldText(main, 1024), sec = FieldText(main, 1025);
    bool plain = AllDigits(h) && AllDigits(m) && AllDigits(sec) && (h.size() == 1 || h[0] != '0') &&
                 (m.size() == 1 || m[0] != '0') && (sec.size() == 1 || sec[0] != '0');
    long shown = atol(h.c_str()) * 3600 + atol(m.c_str()) * 60 + atol(sec.c_str());
    long ours = now.wHour * 3600L + now.wMinute * 60L + now.wSecond;
    long diff = labs(ours - shown);
    if (diff > 43200) diff = 86400 - diff;
    Check(plain && diff <= 2, "main window: the clock shows the local time",
          std::to_string(now.wHour) + ":" + std::to_string(now.wMinute) + ":" + std::to_string(now.wSecond),
          h + ":" + m + ":" + sec);

    // The gauge: its colours, range and position, as set and as drawn.
    HWND gauge = GetDlgItem(main, 1026);
    LRESULT bar = 0, bk = 0, low = -1, high = -1, pos = -1;
    Send(gauge, PBM_GETBARCOLOR, 0, 0, &bar);
    Send(gauge, PBM_GETBKCOLOR, 0, 0, &bk);
    Send(gauge, PBM_GETRANGE, TRUE, 0, &low);
    Send(gauge, PBM_GETRANGE, FALSE, 0, &high);
    Send(gauge, PBM_GETPOS, 0, 0, &pos);
    char got[64];
    snprintf(got, sizeof got, "0x%08lx", static_cast<unsigned long>(bar));
    CheckEq("0x0095ff95", got, "main window: gauge bar colour");
    snprintf(got, sizeof got, "0x%08lx", static_cast<unsigned long>(bk));
    CheckEq("0x00ffe0c1", got, "main window: gauge background colour");
    CheckEq("0-100", std::to_string(low) + "-" + std::to_string(high), "main window: gauge range");
    Check(pos >= 0 && pos <= 100 && std::abs(static_cast<int>(pos) - atoi(FieldText(main, 1005).c_str())) <= 5,
          "main window: gauge position follows the load", FieldText(main, 1005), std::to_string(pos));
    RECT gr;
    GetWindowRect(gauge, &gr);
    Screen s = Capture();
    int barPixels = 0, bkPixels = 0;
    for (int y = gr.top; y < gr.bottom; ++y) {
        for (int x = gr.left; x < gr.right; ++x) {
            COLORREF c = s.At(x, y);
            if (c == RGB(149, 255, 149)) ++barPixels;
            if (c == RGB(193, 224, 255)) ++bkPixels;
        }
    }
    Check(bkPixels > 0 && (pos < 3 || barPixels > 0), "main window: gauge drawn in its own colours",
          "bar and background pixels", std::to_string(barPixels) + " bar, " + std::to_string(bkPixels) + " background");
}

void CheckKeysKeepOpen(HWND main) {
    const struct {
        WPARAM key;
        const char* name;
    } keys[] = {{VK_RETURN, "Enter"}, {VK_ESCAPE, "Escape"}};
    for (const auto& k : keys) {
        Key(main, k.key);
        Sleep(700);
        bool open = !Gone(main) && !FindDialog(L"进程详细信息") && IsWindowEnabled(main);
        Check(open, std::string("main window: ") + k.name + " does not close it or open anything");
    }
}

// The region table against the driver's own walk of the target. The target
// is idle, so two walks around the reading must agree with the table.
void CheckRegionTable(HWND dialog, HANDLE query, const char* when, std::vector<WalkedRegion>* walked) {
    std::vector<WalkedRegion> before = WalkAddressSpace(query);
    std::vector<std::string> table;
    bool read = ReadList(GetDlgItem(dialog, 1021), &table);
    std::vector<WalkedRegion> after = WalkAddressSpace(query);
    Check(read, std::string("process dialog: region table readable ") + when);
    std::vector<std::string> want = RegionTableLines(after);
    if (table != want && table == RegionTableLines(before)) want = RegionTableLines(before);
    CheckLines(want, table, std::string("process dialog: region table equals the walk ") + when);
    size_t high = static_cast<size_t>(
        std::count_if(after.begin(), after.end(), [](const WalkedRegion& r) { return r.base >= kFourGb; }));
    Log("  %zu regions below 4 GB", after.size() - high);
    if (high) Log("  %zu regions above 4 GB", high);
    *walked = after;

    // The known regions, line by line.
    struct Known {
        const char* base;
        const char* protection;
        const char* state;
        const char* type;
        const char* size;
    };
    std::vector<Known> known = {
        {"0x20000000", "PAGE_READWRITE ", "已调拨", "私有", "0x00010000"},
        {"0x20010000", "PAGE_READWRITE ", "已预留", "私有", "0x00030000"},
        {"0x20040000", "", "未用", "", "0x000c0000"},
        {"0x20100000", "PAGE_EXECUTE_READWRITE ", "已调拨", "私有", "0x00020000"},
        {"0x20120000", "", "未用", "", "0x000e0000"},
        {"0x20200000", "PAGE_READWRITE PAGE_GUARD ", "已调拨", "私有", "0x00010000"},
        {"0x20300000", "PAGE_NOACCESS ", "已预留", "私有", "0x00080000"},
    };
#ifdef _WIN64
    known.push_back({"0x540000000", "PAGE_READWRITE ", "已调拨", "私有", "0x00010000"});
    known.push_back({"0x548000000", "PAGE_READWRITE ", "已预留", "私有", "0x00040000"});
#endif
    for (const Known& k : known) {
        std::string head = std::string("区域基址为:") + k.base;
        auto it = std::find(table.begin(), table.end(), head);
        if (it == table.end() || it == table.begin() || table.end() - it < 5) {
            Check(false, std::string("process dialog: region ") + k.base + " listed " + when, head, "missing");
            continue;
        }
        std::vector<std::string> got(it - 1, it + 5);
        std::vector<std::string> expect = {std::string(52, '-'), head, k.protection, k.state, k.type,
                                           std::string("大小:") + k.size + "字节"};
        // 32-bit Wine answers MEM_RESERVE, PAGE_NOACCESS, MEM_PRIVATE for free
        // space outside the area it reserved at start-up (VirtualAlloc there
        // still succeeds). Show that, and hold the table to what the
        // platform answered, which the whole-table check above already did.
        if (std::string(k.state) == "未用") {
            for (const WalkedRegion& r : after) {
                if (Hex(r.base) != k.base || r.state == MEM_FREE) continue;
                Log("WINE free gap %s reported as state 0x%lx, allocation protection 0x%lx, type 0x%lx, size 0x%llx",
                    k.base, static_cast<unsigned long>(r.state), static_cast<unsigned long>(r.allocationProtect),
                    static_cast<unsigned long>(r.type), static_cast<unsigned long long>(r.size));
                expect = RegionTableLines(std::vector<WalkedRegion>(1, r));
            }
        }
        CheckLines(expect, got, std::string("process dialog: region ") + k.base + " " + when);
    }
}

void CheckCounters(HWND dialog, DWORD pid) {
    std::vector<std::string> lines;
    ReadList(GetDlgItem(dialog, 1020), &lines);
    Check(lines.size() == 6, "process dialog: six counter lines", "6", std::to_string(lines.size()));
    if (lines.size() != 6) return;
    CheckEq("进程ID:" + std::to_string(pid), lines[0], "process dialog: counter line 1");
    const char* prefixes[] = {"页面错误数:", "工作集峰值:", "当前工作集:", "当前已分配的页面字节数:", "分配页面峰值字节数:"};
    for (int i = 1; i < 6; ++i) {
        const std::string& line = lines[static_cast<size_t>(i)];
        std::string prefix = prefixes[i - 1];
        bool ok = line.compare(0, prefix.size(), prefix) == 0;
        std::string rest = ok ? line.substr(prefix.size()) : std::string();
        ok = ok && (i == 1 ? AllDigits(rest) : ByteCount(rest));
        Check(ok, "process dialog: counter line " + std::to_string(i + 1), prefix + (i == 1 ? "<digits>" : "<digits>字节"), line);
    }
}

// Waits for the pass's notice; checks the map under and around it.
bool CheckMapPass(HWND dialog, const std::vector<WalkedRegion>& regions, const char* when, const char* shot) {
    Notice n;
    if (!WaitNotice(kNoticeCaption, 30000, &n, kMapNotice, dialog)) {
        return Check(false, std::string("process dialog: map pass notice ") + when, kMapDone, "no notice");
    }
    CheckEq(kMapDone, n.text, std::string("process dialog: map pass notice ") + when);
    Check(n.owner == dialog, std::string("process dialog: map notice owned by the dialog ") + when, Describe(dialog),
          Describe(n.owner));
    CheckEq("information", n.icon, std::string("process dialog: map notice icon ") + when);
    RECT box;
    GetWindowRect(n.box, &box);
    MapCheck m = CompareMap(dialog, regions, &box);
    Check(m.checked > 0 && m.wrong == 0,
          std::string("process dialog: map pixels as the pass left them ") + when + " (" + std::to_string(m.checked) + " points)",
          "0 wrong", std::to_string(m.wrong) + " wrong, first " + m.first);
    if (shot) Screenshot(shot);
    Dismiss(n);
    return true;
}

// After the notice is gone the dialog repaints and the map is drawn again;
// the whole map must come back.
void CheckWholeMap(HWND dialog, const std::vector<WalkedRegion>& regions, const char* when) {
    DWORD start = Now();
    MapCheck m;
    do {
        Sleep(200);
        DrainMapNotices(0);
        m = CompareMap(dialog, regions, nullptr);
    } while (m.wrong && Now() - start < 8000);
    Check(m.checked > 0 && m.wrong == 0,
          std::string("process dialog: whole map equals the walk ") + when + " (" + std::to_string(m.checked) + " points)",
          "0 wrong", std::to_string(m.wrong) + " wrong, first " + m.first);
}

// ------------------------------------------------------------ measurements

// Types the PID and presses 查询; returns the process dialog (null when
// none opened). `*filled` is the time from the press until the region table
// held `lines` lines or, when it never does, until its count last changed
// (it then stayed the same for two seconds); `*count` is that count.
HWND OpenTimed(HWND query, DWORD pid, LRESULT lines, DWORD* start, DWORD* filled, LRESULT* count) {
    SetText(GetDlgItem(query, 1005), std::to_wstring(pid).c_str());
    *start = Now();
    Press(GetDlgItem(query, 1013));
    HWND dialog = WaitDialog(L"进程虚拟内存信息", 120000);
    *count = -1;
    DWORD changed = Now();
    while (dialog && Now() - *start < 180000) {
        LRESULT c = ListCount(GetDlgItem(dialog, 1021), 120000);
        if (c != *count) {
            *count = c;
            changed = Now();
        }
        if (c >= lines || (c > 0 && Now() - changed >= 2000)) break;
        Sleep(5);
    }
    *filled = changed - *start;
    return dialog;
}

// Waits for the first map pass of a dialog opened by OpenTimed, then does
// `before` with the dialog (if given) and closes it.
void CloseTimed(HWND dialog, DWORD start, const char* what, void (*before)(HWND) = nullptr) {
    Notice n;
    if (WaitNotice(kNoticeCaption, 120000, &n, kMapNotice, dialog)) {
        Log("MEASURE %s: first map pass ended %lu ms after pressing 查询", what, static_cast<unsigned long>(Now() - start));
        Dismiss(n);
    }
    if (dialog && before) before(dialog);
    if (dialog) {
        PostMessageW(dialog, WM_CLOSE, 0, 0);
        WaitGone(dialog, 30000);
    }
    DrainMapNotices(1000);
}

void MeasureRegionTable(HWND query, const std::wstring& targetExe) {
    Target t;
    if (!StartTarget(targetExe, "regions", &t)) {
        Log("MEASURE region table: the target could not make its regions");
        return;
    }
    HANDLE q = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, t.pid);
    DWORD walkStart = Now();
    std::vector<WalkedRegion> regions = WalkAddressSpace(q);
    DWORD walked = Now() - walkStart;
    CloseHandle(q);
    // What the platform's queries alone cost, for comparison with the table.
    Log("MEASURE region walk: the driver's own walk of the %zu regions took %lu ms", regions.size(),
        static_cast<unsigned long>(walked));
    LRESULT expected = static_cast<LRESULT>(regions.size() * 6);
    DWORD start = 0, filled = 0;
    LRESULT count = -1;
    HWND dialog = OpenTimed(query, t.pid, expected, &start, &filled, &count);
    if (count == expected) {
        Log("MEASURE region table: %zu regions (%ld lines) filled %lu ms after pressing 查询", regions.size(),
            static_cast<long>(count), static_cast<unsigned long>(filled));
    } else {
        Log("MEASURE region table: %ld lines of %ld after %lu ms", static_cast<long>(count), static_cast<long>(expected),
            static_cast<unsigned long>(filled));
    }
    CloseTimed(dialog, start, "region target", count == expected ? MeasureCopyTable : nullptr);
    TerminateProcess(t.process, 0);
}

#ifdef _WIN64
// The region table of a process as it opens: its regions (those below 4 GB
// by the driver's own walk beside them) and the time from pressing 查询 to
// the table filled.
void MeasureOpening(HWND query, DWORD pid, const char* what) {
    HANDLE q = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
    std::vector<WalkedRegion> regions = WalkAddressSpace(q);
    if (q) CloseHandle(q);
    size_t low = static_cast<size_t>(
        std::count_if(regions.begin(), regions.end(), [](const WalkedRegion& r) { return r.base < kFourGb; }));
    DWORD start = 0, filled = 0;
    LRESULT count = -1;
    HWND dialog = OpenTimed(query, pid, static_cast<LRESULT>(regions.size() * 6), &start, &filled, &count);
    Log("MEASURE opening %s: the table shows %ld regions (%ld lines), filled %lu ms after pressing 查询; "
        "the driver's walk: %zu regions, %zu below 4 GB",
        what, static_cast<long>(count / 6), static_cast<long>(count), static_cast<unsigned long>(filled), regions.size(),
        low);
    CloseTimed(dialog, start, what);
}

// Wine's own notepad, started for the figures and ended after them.
void MeasureNotepadOpening(HWND query) {
    DWORD pid = 0;
    HANDLE notepad = Start(L"notepad.exe", &pid);
    if (!notepad) {
        Log("MEASURE opening notepad: notepad.exe could not be started");
        return;
    }
    targets.push_back(notepad);
    WaitForInputIdle(notepad, 10000);
    Sleep(1000);
    MeasureOpening(query, pid, "notepad");
    TerminateProcess(notepad, 0);
}
#endif

void MeasureMapPass(HWND query, const std::wstring& targetExe) {
    Target t;
    if (!StartTarget(targetExe, "commit", &t)) {
        Log("MEASURE map pass: the target could not commit 1.5 GB");
        return;
    }
    SetText(GetDlgItem(query, 1005), std::to_wstring(t.pid).c_str());
    Press(GetDlgItem(query, 1013));
    HWND dialog = WaitDialog(L"进程虚拟内存信息", 60000);
    Notice n;
    if (!dialog || !WaitNotice(kNoticeCaption, 300000, &n, kMapNotice, dialog)) {
        Log("MEASURE map pass: no first pass");
        return;
    }
    Dismiss(n);
    DrainMapNotices(1500);
    Sleep(1500);  // let the repaint's own pass end before timing one
    DWORD start = Now();
    Press(GetDlgItem(dialog, 1));
    if (WaitNotice(kNoticeCaption, 300000, &n, kMapNotice, dialog)) {
        DWORD took = Now() - start;
        HANDLE q = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, t.pid);
        ULONGLONG committed = 0;
        size_t spans = 0;
        for (const WalkedRegion& r : WalkAddressSpace(q)) {
            if (r.state != MEM_COMMIT || r.base >= 0x80000000ull) continue;
            committed += r.size;
            ++spans;
        }
        CloseHandle(q);
        Log("MEASURE map pass: %lu ms from 刷新 to \"%s\" (%llu MB committed below 2 GB in %zu regions)",
            static_cast<unsigned long>(took), kMapDone, static_cast<unsigned long long>(committed >> 20), spans);
        Dismiss(n);
    }
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    WaitGone(dialog, 30000);
    DrainMapNotices(1000);
    TerminateProcess(t.process, 0);
}

// ---------------------------------------------------------------- the run

void Run(const std::wstring& morvaneExe, const std::wstring& targetExe, bool measure) {
    Target known;
    if (!Check(StartTarget(targetExe, "known", &known), "target: known regions and DLLs in place")) return;
    Log("target PID %lu, %zu modules", static_cast<unsigned long>(known.pid), known.modules.size());

    morvane = Start(L"\"" + morvaneExe + L"\"", &morvanePid);
    if (!Check(morvane != nullptr, "morvane.exe started")) return;

    // ---- main window
    HWND main = WaitDialog(L"Morvane by Quorvid", 30000);
    if (!Check(main != nullptr, "main window shown")) return;
    CheckMainWindow(main);
    Screenshot("main-window");
    CheckKeysKeepOpen(main);

    Press(GetDlgItem(main, 1021));
    {
        Notice n;
        bool shown = WaitNotice(L"Morvane", 5000, &n);
        Check(shown, "about box shown with the caption \"Morvane\"");
        if (shown) {
            CheckEq("本程序用于查看进程虚拟内存状态", n.text, "about box text");
            Check(n.owner == main, "about box owned by the main window");
            CheckEq("information", n.icon, "about box icon");
            Screenshot("about-box");
            Check(Dismiss(n), "about box dismissed");
        }
    }

    // ---- query dialog
    Press(GetDlgItem(main, 1013));
    HWND query = WaitDialog(L"进程详细信息", 5000);
    if (!Check(query != nullptr, "query dialog opened by 显示详细进程信息")) return;
    Screenshot("query-dialog");
    {
        // The read-out goes on while a dialog of the chain is open.
        std::string before = FieldText(main, 1024) + ":" + FieldText(main, 1025);
        Sleep(1200);
        std::string after = FieldText(main, 1024) + ":" + FieldText(main, 1025);
        Check(before != after, "main window: the clock keeps ticking while the query dialog is open", "a new time",
              before + " then " + after);
    }
    HWND pidField = GetDlgItem(query, 1005);
    HWND queryButton = GetDlgItem(query, 1013);
    // A sign, digits followed by other characters and a value past 32 bits
    // are refused on every platform (Wine's own reading of a number would
    // take "-5" as 4294967291 and "12abc" as 12).
    const wchar_t* refused[] = {L"", L"abc", L"-5", L"+5", L"4294967296", L"12abc"};
    for (const wchar_t* input : refused) {
        std::string label = "query dialog: \"" + Utf8(input) + "\"";
        SetText(pidField, input);
        Press(queryButton);
        ExpectNotice("请正确输入!", query, "error", label, 5000, input[0] ? nullptr : "query-refused");
        Check(!FindDialog(L"进程虚拟内存信息") && !Gone(query), label + " opens nothing and stays");
    }
    Key(query, VK_ESCAPE);
    Sleep(700);
    Check(!Gone(query) && Boxes(kNoticeCaption).empty(), "query dialog: Escape does nothing");

    // Process IDs that name no process; blanks around the digits are taken.
    struct NoProcess {
        DWORD pid;
        const wchar_t* input;
        const char* screenshot;
    } noProcesses[] = {{4000000000u, L"4000000000", "no-such-process"}, {42, L" 42 ", nullptr}};
    for (const NoProcess& n : noProcesses) {
        std::string label = "no such process \"" + Utf8(n.input) + "\"";
        HANDLE probe = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, n.pid);
        if (probe) CloseHandle(probe);
        Check(probe == nullptr, std::to_string(n.pid) + " names no process");
        SetText(pidField, n.input);
        Press(queryButton);
        HWND dialog = WaitDialog(L"进程虚拟内存信息", 5000);
        ExpectNotice("无法执行!", dialog, "error", label + ", first notice");
        ExpectNotice("显示简单信息有错误发生\n错误码:0x00000001", dialog, "error", label + ", second notice", 5000,
                     n.screenshot);
        Check(dialog && WaitGone(dialog, 3000), label + ": the process dialog closes");
        Check(!Gone(query), label + ": the query dialog stays");
        // The failed dialog was painted before it closed; the pass that
        // asked for may still announce itself.
        int late = DrainMapNotices(1500);
        if (late) Log("  %d map pass notice(s) after the failed dialog closed", late);
    }

    // ---- process memory dialog on the target, chosen from the process list
    // (typed when the choice failed, so that the run goes on)
    if (!ChooseFromProcessList(query, known.pid, "e2e_target.exe")) SetText(pidField, std::to_wstring(known.pid).c_str());
    Press(queryButton);
    HWND dialog = WaitDialog(L"进程虚拟内存信息", 10000);
    if (!Check(dialog != nullptr, "process dialog opened for the target")) return;
    HANDLE targetQuery = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, known.pid);
    std::vector<WalkedRegion> walked;
    {
        // The table fills while the dialog opens, and the dialog answers
        // meanwhile: its lines are read once there are as many as the
        // target has regions. The map follows.
        LRESULT want = static_cast<LRESULT>(WalkAddressSpace(targetQuery).size() * 6);
        DWORD start = Now();
        while (ListCount(GetDlgItem(dialog, 1021), 30000) < want && Now() - start < 30000) Sleep(20);
    }
    CheckCounters(dialog, known.pid);
    CheckRegionTable(dialog, targetQuery, "at opening", &walked);
#ifdef _WIN64
    // The regions above 4 GB stand among stretches with breaks between; the
    // whole-map checks hold their rows' and the breaks' pixels to that.
    std::vector<Stretch> stretches = MapStretches(walked);
    Check(stretches.size() >= 2 && MapRowIn(stretches, 0x540000000ull) >= 0 && MapRowIn(stretches, 0x548000000ull) >= 0,
          "map: stretches with breaks, regions 0x540000000 and 0x548000000 on them");
    std::string text = stretches.empty() ? "" : "共 " + std::to_string(stretches.size()) + " 段, " +
                       Hex(stretches.front().first) + " 至 " + Hex(stretches.back().last + 1);
#else
    std::string text;  // nothing above the lower-2-GB picture
#endif
    CheckMapPass(dialog, walked, "at opening", "process-memory-map-notice");
    CheckWholeMap(dialog, walked, "after its notice");
    CheckEq(text, FieldText(dialog, 1060), "map: the text above the columns");
    DrainMapNotices(1500);
    Screenshot("process-memory");

    // Refresh: the walks again and exactly one more announced pass.
    Press(GetDlgItem(dialog, 1));
    {
        Notice n;
        DWORD start = Now();
        bool shown = WaitNotice(kNoticeCaption, 30000, &n);
        Check(shown && n.text == kMapDone, "refresh: one more map pass announced", kMapDone, shown ? n.text : "no notice");
        if (shown) {
            Log("  refresh to notice: %lu ms", static_cast<unsigned long>(Now() - start));
            Dismiss(n);
        }
        int extra = DrainMapNotices(2500);
        Check(extra == 0, "refresh: no further announced pass", "0", std::to_string(extra));
    }
    CheckCounters(dialog, known.pid);
    CheckRegionTable(dialog, targetQuery, "after refresh", &walked);
    CheckWholeMap(dialog, walked, "after refresh");

    // Escape does nothing; Enter refreshes (the focus is on 刷新 now).
    Key(dialog, VK_ESCAPE);
    Sleep(700);
    Check(!Gone(dialog) && Boxes(kNoticeCaption).empty(), "process dialog: Escape does nothing");
    Key(dialog, VK_RETURN);
    {
        Notice n;
        bool shown = WaitNotice(kNoticeCaption, 30000, &n);
        Check(shown && n.text == kMapDone, "process dialog: Enter refreshes", kMapDone, shown ? n.text : "no notice");
        if (shown) Dismiss(n);
        DrainMapNotices(1000);
    }
    CloseHandle(targetQuery);
    CheckCopyRegionLines(dialog);
    DrainMapNotices(500);

    // ---- heap dialog: Wine's tool-help has no heap list
    Press(GetDlgItem(dialog, 1028));
    {
        HWND heap = WaitDialog(L"堆信息", 5000);
        Check(heap != nullptr, "heap dialog opened by 查看堆信息");
        if (heap) {
            // Answered once the scan's notice is up: the block list shows
            // that nothing is selected, the heap list is empty, and the
            // refresh button is off while the scan runs.
            std::vector<std::string> blocks, heaps;
            ReadList(GetDlgItem(heap, 1021), &blocks);
            ReadList(GetDlgItem(heap, 1020), &heaps);
            CheckLines({"没有选择"}, blocks, "heap dialog: block list before any selection");
            CheckLines({}, heaps, "heap dialog: heap list when Wine has none");
            Check(!IsWindowEnabled(GetDlgItem(heap, 1)), "heap dialog: 刷新 disabled during the scan");
        }
        ExpectNotice("显示堆信息有错误发生\n错误码:0x00000001", heap, "error", "heap dialog", 10000, "heap-dialog-notice");
        Check(heap && WaitGone(heap, 3000), "heap dialog: closes after the snapshot failure");
        Check(!Gone(dialog), "heap dialog: the process dialog stays");
    }
    DrainMapNotices(1000);

    // ---- module dialog
    Press(GetDlgItem(dialog, 1031));
    {
        HWND modules = WaitDialog(L"模块信息", 5000);
        if (Check(modules != nullptr, "module dialog opened by 查看模块信息")) {
            std::vector<std::string> want = ModuleListLines(known.modules);
            std::vector<std::string> got;
            DWORD start = Now();
            do {
                Sleep(100);
                ReadList(GetDlgItem(modules, 1020), &got);
            } while (got.size() < want.size() && Now() - start < 10000);
            // The picture of the list as it opens, before the copy selects every line.
            Screenshot("module-dialog");
            if (CheckLines(want, got, "module dialog: every module as the target reports it")) {
                CheckCopyModuleList(modules, want);
            }
            PostMessageW(modules, WM_CLOSE, 0, 0);
            Check(WaitGone(modules, 3000), "module dialog: closed by its close box");
        }
    }
    DrainMapNotices(1000);
    CheckForeignMessages(dialog, ModuleListLines(known.modules));

    CheckUses(dialog, known);
    DrainMapNotices(1000);
    CheckContents(dialog, known);
    DrainMapNotices(1000);
    CheckChanges(dialog, known);
    DrainMapNotices(1000);

    PostMessageW(dialog, WM_CLOSE, 0, 0);
    Check(WaitGone(dialog, 5000), "process dialog: closed by its close box");
    DrainMapNotices(1000);

    RunResponsiveness(main, query, targetExe, known.pid);

    if (measure) {
#ifdef _WIN64
        MeasureOpening(query, known.pid, "e2e target");
        MeasureNotepadOpening(query);
#endif
        MeasureRegionTable(query, targetExe);
        MeasureMapPass(query, targetExe);
        MeasureUses(query, targetExe);
        MeasureContents(query, targetExe);
    }

    PostMessageW(query, WM_CLOSE, 0, 0);
    Check(WaitGone(query, 5000), "query dialog: closed by its close box");
    DrainMapNotices(500);
    Check(!Gone(main), "main window: still open after the chain closed");
    PostMessageW(main, WM_CLOSE, 0, 0);
    DWORD code = 99;
    bool ended = WaitForSingleObject(morvane, 10000) == WAIT_OBJECT_0 && GetExitCodeProcess(morvane, &code);
    Check(ended && code == 0, "closing the main window ends morvane with 0", "exit code 0",
          ended ? "exit code " + std::to_string(code) : "still running");
}

// The run command's picture: starts morvane, waits until its main window's
// fields are filled, saves the main window as a BMP file and closes it.
int ShootMainWindow(const std::wstring& morvaneExe, const wchar_t* file) {
    morvane = Start(L"\"" + morvaneExe + L"\"", &morvanePid);
    if (!morvane) {
        Log("could not start morvane.exe");
        return 1;
    }
    HWND main = WaitDialog(L"Morvane by Quorvid", 60000);
    bool filled = false;
    DWORD start = Now();
    while (main && !filled && Now() - start < 10000) {
        filled = true;
        for (int id = 1005; id <= 1012; ++id) filled = filled && !FieldText(main, id).empty();
        for (int id = 1023; id <= 1025; ++id) filled = filled && !FieldText(main, id).empty();
        Sleep(100);
    }
    int result = 1;
    if (filled) {
        Sleep(300);  // let the gauge and the fields be drawn
        RECT r;
        GetWindowRect(main, &r);
        if (SaveBmp(Capture(), r, file)) result = 0;
    } else {
        Log(main ? "the main window's fields stayed empty" : "no main window");
    }
    if (main) PostMessageW(main, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(morvane, 10000) != WAIT_OBJECT_0) TerminateProcess(morvane, 1);
    return result;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 4 && wcscmp(argv[1], L"--shoot-main-window") == 0) {
        return ShootMainWindow(argv[2], argv[3]);
    }
    if (argc < 4) {
        fprintf(stderr, "usage: e2e_driver MORVANE_EXE TARGET_EXE OUT_DIR [--measure]\n"
                        "       e2e_driver --shoot-main-window MORVANE_EXE FILE.bmp\n");
        return 2;
    }
    outDir = argv[3];
    CreateDirectoryW(outDir.c_str(), nullptr);
    logFile = _wfopen((outDir + L"\\e2e.log").c_str(), L"w");
    bool measure = argc > 4 && wcscmp(argv[4], L"--measure") == 0;
    HANDLE watchdog = CreateThread(nullptr, 0, Watchdog, reinterpret_cast<LPVOID>(static_cast<ULONG_PTR>(measure ? 900000 : 780000)),
                                   0, nullptr);
    if (watchdog) CloseHandle(watchdog);

    Run(argv[1], argv[2], measure);
    RunReliability(argv[1], argv[2]);

    KillAll();
    Log("%d passed, %d failed", passed, failed);
    if (logFile) fclose(logFile);
    return failed ? 1 : 0;
}