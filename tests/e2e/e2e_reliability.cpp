#include "e2e_reliability.h"

#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "e2e_expect.h"
#include "e2e_notices.h"
#include "e2e_report.h"
#include "e2e_resources.h"
#include "e2e_responsive.h"
#include "e2e_windows.h"

namespace {

const wchar_t kMainTitle[] = L"Morvane by Quorvid";
const wchar_t kQueryTitle[] = L"进程详细信息";
const wchar_t kProcessTitle[] = L"进程虚拟内存信息";
const char kRefused[] = "请正确输入!";
const char kCannot[] = "无法执行!";
const char kCountersGone[] = "显示简单信息有错误发生\n错误码:0x00000001";
const char kRegionsGone[] = "显示虚拟内存表有错误发生,内存分布无法显示\n错误码:0x00000001";

std::wstring morvaneExe;
std::wstring targetExe;

// Starts morvane afresh, ending one that still runs (frozen or not), and
// opens its query dialog.
HWND FreshQuery() {
    if (morvane) {
        TerminateProcess(morvane, 99);
        WaitForSingleObject(morvane, 10000);
        CloseHandle(morvane);
    }
    morvane = Start(L"\"" + morvaneExe + L"\"", &morvanePid);
    HWND main = morvane ? WaitDialog(kMainTitle, 30000) : nullptr;
    if (!main) return nullptr;
    Press(GetDlgItem(main, 1013));
    return WaitDialog(kQueryTitle, 5000);
}

void Ask(HWND query, const std::wstring& text) {
    SetText(GetDlgItem(query, 1005), text.c_str());
    Press(GetDlgItem(query, 1013));
}

std::string Texts(const std::vector<Notice>& notices) {
    std::string all;
    for (const Notice& n : notices) all += (all.empty() ? "\"" : ", \"") + Escape(n.text) + "\"";
    return all;
}

// "" when the notices have these texts in this order, each owned by
// `owner`; otherwise what came.
std::string Expect(const std::vector<Notice>& notices, const std::vector<std::string>& texts, HWND owner) {
    for (size_t i = 0; i < texts.size(); ++i) {
        if (i >= notices.size() || notices[i].text != texts[i]) return "notices " + Texts(notices);
        if (notices[i].owner != owner) return "\"" + Escape(texts[i]) + "\" owned by " + Describe(notices[i].owner);
    }
    return std::string();
}

// Dismisses every notice and closes an inspection left open, until nothing
// has shown for 100 ms; says what there was.
std::string Settle(HWND query) {
    Send(query, WM_NULL, 0, 0, nullptr, 5000);  // morvane's UI thread back in a message loop
    std::string seen;
    DWORD start = Now(), quiet = Now();
    while (Now() - quiet < 100 && Now() - start < 20000) {
        Sleep(20);
        Notice n = TakeNotices(1, 0)[0];
        HWND open = n.box ? nullptr : FindDialog(kProcessTitle);
        if (n.box) seen += " notice \"" + Escape(n.text) + "\"";
        if (open) {
            seen += " an inspection left open";
            PostMessageW(open, WM_CLOSE, 0, 0);
            WaitGone(open, 5000);
        }
        if (n.box || open) quiet = Now();
    }
    return seen;
}

// The dialog of a process that has ended: a refresh tells it in four
// notices and the dialog stays without a map pass; the module dialog tells
// it with code 1. Closes both.
void CheckGoneDialog(HWND dialog, DWORD pid, const std::string& label) {
    if (!Check(WaitUnopenable(pid, 10000), label + ": the ended process can no longer be opened")) return;
    Press(GetDlgItem(dialog, 1));
    std::string wrong = Expect(TakeNotices(4, 10000), {kCannot, kCountersGone, kCannot, kRegionsGone}, dialog);
    Check(wrong.empty(), label + ": a refresh gives its four notices in order", "", wrong);
    Notice late = TakeNotices(1, 1500)[0];
    Check(!Gone(dialog) && !late.box, label + ": the dialog stays, no map pass follows", "",
          late.box ? "notice \"" + Escape(late.text) + "\"" : "");
    Press(GetDlgItem(dialog, 1031));
    HWND modules = WaitDialog(L"模块信息", 5000);
    wrong = modules ? Expect(TakeNotices(1, 10000), {"无法执行!\n错误码:0x00000001"}, modules) : "no module dialog";
    Check(wrong.empty(), label + ": the module dialog gives its code 1 notice", "", wrong);
    if (modules) PostMessageW(modules, WM_CLOSE, 0, 0);
    WaitGone(modules, 5000);
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    WaitGone(dialog, 5000);
}

void LogTime(const char* run, DWORD start) {
    Log("TIME %s: %.1f s", run, (Now() - start) / 1000.0);
}

// ---------------------------------------------------------------- long use

// Runs `step` `times` times, or until it has gone wrong 3 times (each
// wrong step costs its time-outs); one check naming the first thing that
// went wrong and how often.
void Repeat(int times, const std::string& what, const std::function<std::string()>& step) {
    int bad = 0;
    std::string first;
    for (int i = 1; i <= times && bad < 3; ++i) {
        std::string wrong = step();
        if (!wrong.empty() && bad++ == 0) first = "#" + std::to_string(i) + " " + wrong;
    }
    Check(bad == 0, "long use: " + what, "", bad ? std::to_string(bad) + " wrong, first " + first : "");
}

void LongUse(HWND query, const Target& known) {
    DWORD began = Now();
    const std::wstring pid = std::to_wstring(known.pid);
    const std::vector<std::string> moduleLines = ModuleListLines(known.modules);
    HWND dialog = nullptr;
    std::vector<DWORD> refreshTimes;
    auto open = [&]() -> std::string {
        if (dialog) PostMessageW(dialog, WM_CLOSE, 0, 0);
        if (dialog && !WaitGone(dialog, 5000)) return "the process dialog stays";
        Ask(query, pid);
        dialog = WaitDialog(kProcessTitle, 10000);
        return dialog ? Expect(TakeNotices(1, 30000), {kMapDone}, dialog) : "no process dialog";
    };
    auto refresh = [&]() {
        DWORD start = Now();
        Press(GetDlgItem(dialog, 1));
        std::vector<Notice> n = TakeNotices(1, 30000);
        refreshTimes.push_back(Now() - start);
        return Expect(n, {kMapDone}, dialog);
    };
    auto modules = [&]() -> std::string {
        Press(GetDlgItem(dialog, 1031));
        HWND m = WaitDialog(L"模块信息", 5000);
        if (!m) return "no module dialog";
        std::vector<std::string> got;
        DWORD start = Now();
        while (ReadList(GetDlgItem(m, 1020), &got) && got.size() < moduleLines.size() && Now() - start < 10000) Sleep(20);
        PostMessageW(m, WM_CLOSE, 0, 0);
        if (!WaitGone(m, 5000)) return "the module dialog stays";
        return got == moduleLines ? std::string() : std::to_string(got.size()) + " module lines not the target's";
    };
    auto heap = [&]() -> std::string {
        Press(GetDlgItem(dialog, 1028));
        HWND h = WaitDialog(L"堆信息", 5000);
        if (!h) return "no heap dialog";
        std::string wrong = Expect(TakeNotices(1, 10000), {"显示堆信息有错误发生\n错误码:0x00000001"}, h);
        return WaitGone(h, 5000) || !wrong.empty() ? wrong : "the heap dialog stays";
    };

    // Everything once first, so that what is made once and kept is counted
    // before.
    std::string wrong = open();
    if (wrong.empty()) wrong = refresh();
    if (wrong.empty()) wrong = modules();
    if (wrong.empty()) wrong = heap();
    if (!Check(wrong.empty(), "long use: the target's dialog, a refresh, the module and heap dialogs once", "", wrong)) return;
    refreshTimes.clear();
    Sleep(1000);
    Resources before = ReadResources(morvane, morvanePid);
    Log("SOAK before: %s", DescribeResources(before).c_str());

    Repeat(200, "200 refreshes, each announced by its map notice", refresh);
    Notice extra = TakeNotices(1, 1500)[0];
    Check(!extra.box, "long use: no notice beyond one per refresh", "", "notice \"" + Escape(extra.text) + "\"");
    Repeat(20, "20 module dialogs, each filled with the target's modules", modules);
    Repeat(20, "20 heap dialogs, each with its failure notice under Wine", heap);
    Repeat(20, "20 process dialogs opened and closed, each with its map", open);

    // Threads that have finished their work may take a moment to go.
    Resources after;
    DWORD start = Now();
    do {
        Sleep(250);
        after = ReadResources(morvane, morvanePid);
    } while (after.threads > before.threads && Now() - start < 5000);
    Log("SOAK after: %s", DescribeResources(after).c_str());
    std::sort(refreshTimes.begin(), refreshTimes.end());
    if (!refreshTimes.empty()) {
        Log("SOAK refresh to its notice: %zu refreshes, min %lu ms, median %lu ms, max %lu ms", refreshTimes.size(),
            static_cast<unsigned long>(refreshTimes.front()),
            static_cast<unsigned long>(refreshTimes[refreshTimes.size() / 2]),
            static_cast<unsigned long>(refreshTimes.back()));
    }
    Log("SOAK GUI objects (pens, drawing contexts, windows) cannot be counted from outside under Wine: "
        "GetGuiResources answers 0; the unit tests' pen and context checks stand for them");
    Check(before.threads > 0 && after.threads == before.threads, "long use: threads back to their count",
          std::to_string(before.threads), std::to_string(after.threads));
    Check(before.handles > 0 && labs(after.handles - before.handles) <= 4, "long use: kernel handles within 4 of their count",
          std::to_string(before.handles), std::to_string(after.handles));
    Check(before.privateBytes > 0 && after.privateBytes < before.privateBytes + (2u << 20),
          "long use: private bytes grown by less than 2 MB", "below " + std::to_string((before.privateBytes >> 10) + 2048) + " KB",
          std::to_string(after.privateBytes >> 10) + " KB");
    if (dialog) PostMessageW(dialog, WM_CLOSE, 0, 0);
    WaitGone(dialog, 5000);
    LogTime("long use", began);
}

// ----------------------------------------------------------- hostile input

// The field's rule: blanks around, then decimal digits (leading zeros
// allowed) whose value fits 32 bits.
bool JudgePid(const std::string& text, DWORD* value) {
    size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return false;
    std::string digits = text.substr(first, text.find_last_not_of(' ') + 1 - first);
    if (digits.find_first_not_of("0123456789") != std::string::npos) return false;
    size_t significant = std::min(digits.find_first_not_of('0'), digits.size() - 1);
    if (digits.size() - significant > 10) return false;
    unsigned long long v = strtoull(digits.c_str() + significant, nullptr, 10);
    *value = static_cast<DWORD>(v);
    return v <= 0xFFFFFFFFull;
}

bool NamesOtherProcess(const std::wstring& text, DWORD pid) {
    DWORD value = 0;
    if (!JudgePid(Utf8(text.c_str()), &value) || value == pid) return false;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, value);
    if (process) CloseHandle(process);
    return process != nullptr;
}

std::wstring Generate(std::mt19937& rng, DWORD pid) {
    auto pick = [&](unsigned n) { return static_cast<unsigned>(rng() % n); };
    auto digits = [&](unsigned n) {
        std::wstring s;
        while (n--) s += static_cast<wchar_t>(L'0' + pick(10));
        return s;
    };
    auto blanks = [&](unsigned most) { return std::wstring(pick(most + 1), L' '); };
    std::wstring s;
    switch (pick(11)) {
    case 0:  // every length, some past 32 bits
        return digits(1 + pick(12));
    case 1:  // signs
        return std::wstring(1, L"+-"[pick(2)]) + blanks(1) + digits(1 + pick(6));
    case 2:  // blanks inside
        return blanks(2) + digits(1 + pick(4)) + blanks(1) + L" " + digits(1 + pick(4)) + blanks(2);
    case 3:  // blanks around
        return blanks(4) + digits(1 + pick(9)) + blanks(4);
    case 4: {  // letters
        std::wstring d = digits(1 + pick(5)), l(1 + pick(2), L"abexzAEX"[pick(8)]);
        const std::wstring forms[] = {d + l, l + d, L"0x" + d, l, d.substr(0, 1) + l + d};
        return forms[pick(5)];
    }
    case 5:  // full-width digits, alone or after ASCII ones
        s = pick(2) ? digits(1 + pick(3)) : L"";
        for (unsigned n = 1 + pick(5); n; --n) s += static_cast<wchar_t>(0xFF10 + pick(10));
        return s;
    case 6:  // CJK digits
        for (unsigned n = 1 + pick(4); n; --n) s += L"〇一二三四五六七八九十百千万"[pick(14)];
        return s;
    case 7:  // control characters, between digits or alone
        s.assign(1, static_cast<wchar_t>(pick(4) ? 1 + pick(31) : 0x7F));
        return pick(3) ? digits(1 + pick(3)) + s + digits(1 + pick(3)) : s;
    case 8:  // around 2^32
        return std::to_wstring(4294967290ull + pick(12)) + (pick(4) ? L"" : L"0");
    case 9:  // the target, with leading zeros and blanks around
        return blanks(3) + std::wstring(pick(6), L'0') + std::to_wstring(pid) + blanks(3);
    default: {  // nothing, blanks only, a lone sign
        const wchar_t* empty[] = {L"", L"   ", L"-", L"+"};
        return empty[pick(4)];
    }
    }
}

struct Tally {
    int refused = 0, accepted = 0, inspections = 0, wrong = 0;
};

// Presses 查询 and holds what follows to the rule, judged on the text the
// field holds: refused, one "请正确输入!" and nothing else; a number naming
// no process, the two notices of a process that cannot be opened; the
// target's PID, its inspection. "" when so, otherwise what went wrong.
std::string Query(HWND query, DWORD pid, Tally* tally) {
    std::string held = Text(GetDlgItem(query, 1005));
    DWORD value = 0;
    bool accepted = JudgePid(held, &value);
    Press(GetDlgItem(query, 1013));
    std::string wrong;
    if (!accepted) {
        ++tally->refused;
        wrong = Expect(TakeNotices(1, 5000), {kRefused}, query);
    } else if (value != pid) {
        ++tally->accepted;
        HWND dialog = WaitDialog(kProcessTitle, 5000);
        wrong = dialog ? Expect(TakeNotices(2, 5000), {kCannot, kCountersGone}, dialog) : "no process dialog";
        if (wrong.empty() && !WaitGone(dialog, 5000)) wrong = "the process dialog stays";
    } else {
        ++tally->inspections;
        wrong = AfterInspection(pid);
    }
    std::string then = Settle(query);
    if (!then.empty()) wrong += (wrong.empty() ? "then" : ", then") + then;
    if (!wrong.empty()) {
        ++tally->wrong;
        wrong = (accepted ? "accepted as " + std::to_string(value) : std::string("refused")) + ", got " + wrong;
    }
    return wrong;
}

std::string Shown(const std::wstring& text) {
    std::string s = Escape(Utf8(text.c_str()));
    if (text.size() > 40) s = Escape(Utf8(text.substr(0, 24).c_str())) + "...(" + std::to_string(text.size()) + " characters)";
    return "\"" + s + "\"";
}

bool PutClipboard(const std::wstring& text) {
    if (!OpenClipboard(nullptr)) return false;
    EmptyClipboard();
    SIZE_T bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    bool put = false;
    if (memory) {
        memcpy(GlobalLock(memory), text.c_str(), bytes);
        GlobalUnlock(memory);
        put = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
        if (!put) GlobalFree(memory);
    }
    CloseClipboard();
    return put;
}

void HostileInput(HWND query, DWORD pid) {
    DWORD began = Now();
    wchar_t seedText[32] = L"";
    GetEnvironmentVariableW(L"MORVANE_E2E_SEED", seedText, 32);
    unsigned seed = seedText[0] ? static_cast<unsigned>(wcstoul(seedText, nullptr, 10)) : GetTickCount();
    std::mt19937 rng(seed);
    Log("HOSTILE seed %u (MORVANE_E2E_SEED=%u repeats this run)", seed, seed);
    Tally tally;
    std::string first;
    const int kInputs = 300;
    // Up to 30 wrong answers are told one by one; then the run stops.
    for (int i = 0; i < kInputs && tally.wrong < 30; ++i) {
        std::wstring input;
        if (i == 0) input.assign(10000, L'7');
        else if (i == 1) input = std::wstring(5000, L'0') + std::to_wstring(pid);
        else do input = Generate(rng, pid); while (NamesOtherProcess(input, pid));
        SetText(GetDlgItem(query, 1005), input.c_str());
        std::string wrong = Query(query, pid, &tally);
        if (wrong.empty()) continue;
        Log("  input %d %s: %s", i + 1, Shown(input).c_str(), wrong.c_str());
        if (first.empty()) first = Shown(input) + " " + wrong;
    }
    Log("HOSTILE %d inputs: %d refused, %d accepted naming no process, %d inspections of the target; %d answered wrongly",
        tally.refused + tally.accepted + tally.inspections, tally.refused, tally.accepted, tally.inspections, tally.wrong);
    Check(tally.wrong == 0, "PID field: " + std::to_string(kInputs) + " generated inputs each answered by the rule", "",
          std::to_string(tally.wrong) + " wrong, first " + first);

    // The field's own limit: pasted text longer than it holds.
    HWND field = GetDlgItem(query, 1005);
    LRESULT limit = 0;
    Send(field, EM_GETLIMITTEXT, 0, 0, &limit);
    size_t room = static_cast<size_t>(std::min<LRESULT>(std::max<LRESULT>(limit, 16), 1 << 20));
    const std::wstring target = std::to_wstring(pid);
    // What fits names the target; what fits is too large.
    const std::wstring pastes[] = {std::wstring(room - target.size(), L'0') + target + std::wstring(5000, L'9'),
                                   L"4" + std::wstring(room + 5000, L'0')};
    for (const std::wstring& text : pastes) {
        SetText(field, L"");
        std::string wrong = PutClipboard(text) ? std::string() : "the clipboard could not be set";
        Send(field, WM_PASTE, 0, 0, nullptr);
        size_t held = Text(field).size();
        if (wrong.empty()) wrong = Query(query, pid, &tally);
        if (held > room) wrong += " the field holds " + std::to_string(held);
        if (WaitForSingleObject(morvane, 0) != WAIT_TIMEOUT) wrong += " morvane ended";
        Check(wrong.empty(), "PID field: " + std::to_string(text.size()) + " characters pasted into a field that holds " +
                                 std::to_string(limit) + " (" + std::to_string(held) + " taken)",
              "", wrong);
    }
    LogTime("hostile input", began);
}

// ------------------------------------------------------ processes that end

// A process that exits, on the driver's signal, between the opening of its
// dialog and a refresh.
void EndedBeforeRefresh(HWND query) {
    const std::string label = "process exited before a refresh";
    Target t;
    if (!Check(StartTarget(targetExe, "known", &t), label + ": target started")) return;
    Ask(query, std::to_wstring(t.pid));
    HWND dialog = WaitDialog(kProcessTitle, 10000);
    std::string wrong = dialog ? Expect(TakeNotices(1, 30000), {kMapDone}, dialog) : "no process dialog";
    if (!Check(wrong.empty(), label + ": its dialog opened with its map", "", wrong)) return;
    Check(EndTarget(&t, true), label + ": the target exits on the driver's signal");
    CheckGoneDialog(dialog, t.pid, label);
}

// A process with 20,000 regions ends (terminated, every handle to it
// closed) `delay` ms after its dialog showed, while the region table
// fills. morvane must answer within 10 s: with the regions read and their
// map, or with its failure notices and the dialog closed. A morvane that
// does not answer is ended and started again.
void EndedDuringWalk(HWND* query, DWORD delay, DWORD livePid) {
    DWORD began = Now();
    const std::string label = "process ended " + std::to_string(delay) + " ms into its walk";
    Target t;
    if (!Check(StartTarget(targetExe, "regions", &t), label + ": target with 20,000 regions started")) return;
    Probe probe(FindDialog(kMainTitle));
    Ask(*query, std::to_wstring(t.pid));
    HWND dialog = WaitDialog(kProcessTitle, 10000);
    Sleep(delay);
    bool ended = EndTarget(&t, false);
    DWORD endedAt = Now();
    Notice first = TakeNotices(1, 10000)[0];
    DWORD answered = Now() - endedAt;
    CheckAnswered(&probe, "while its walk waits on a process ended " + std::to_string(delay) + " ms in");
    Check(dialog && ended, label + ": its dialog showed and the target was ended");
    if (!Check(first.box != nullptr, label + ": morvane answers within 10 s", "a notice", "none: morvane froze")) {
        Log("ENDED %lu ms into the walk: no answer within 10 s; morvane ended and started again",
            static_cast<unsigned long>(delay));
        *query = FreshQuery();
        return;
    }
    if (first.text == kMapDone) {
        LRESULT lines = ListCount(GetDlgItem(dialog, 1021));
        Log("ENDED %lu ms into the walk: answered after %lu ms with the table of %ld lines (%ld regions) and its map; "
            "the dialog stays",
            static_cast<unsigned long>(delay), static_cast<unsigned long>(answered),
            static_cast<long>(lines), static_cast<long>(lines / 6));
        Check(first.owner == dialog && lines > 0 && lines % 6 == 0, label + ": the dialog shows what was read, with its map");
        CheckGoneDialog(dialog, t.pid, label);
    } else {
        Notice second = TakeNotices(1, 5000)[0];
        bool closes = WaitGone(dialog, 5000);
        Log("ENDED %lu ms into the walk: answered after %lu ms with %s; the dialog %s",
            static_cast<unsigned long>(delay), static_cast<unsigned long>(answered),
            Texts({first, second}).c_str(), closes ? "closes" : "stays");
        Check(first.text == kCannot && second.text.compare(0, 6, "显示") == 0 &&
                  second.text.find("错误码:0x") != std::string::npos && closes,
              label + ": failure notices, then the dialog closes", "", Texts({first, second}));
    }
    Ask(*query, std::to_wstring(livePid));
    std::string wrong = AfterInspection(livePid);
    Check(wrong.empty(), label + ": a later inspection of a live process works", "", wrong);
    LogTime(label.c_str(), began);
}

}  // namespace

std::string AfterInspection(DWORD pid) {
    HWND dialog = WaitDialog(kProcessTitle, 10000);
    if (!dialog) return "no process dialog";
    std::vector<std::string> lines;
    DWORD start = Now();
    while (ReadList(GetDlgItem(dialog, 1020), &lines) && lines.size() < 6 && Now() - start < 10000) Sleep(50);
    std::string first = lines.empty() ? "<empty>" : lines[0];
    std::string wrong = first == "进程ID:" + std::to_string(pid)
                            ? Expect(TakeNotices(1, 30000), {kMapDone}, dialog)
                            : "first counter line \"" + first + "\"";
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    if (!WaitGone(dialog, 5000) && wrong.empty()) wrong = "the process dialog stays";
    return wrong;
}

void RunReliability(const std::wstring& morvanePath, const std::wstring& targetPath) {
    morvaneExe = morvanePath;
    targetExe = targetPath;
    Target known;
    if (!Check(StartTarget(targetExe, "known", &known), "reliability: target with known regions started")) return;
    HWND query = FreshQuery();
    if (!Check(query != nullptr, "reliability: a fresh morvane's query dialog")) return;
    LongUse(query, known);
    HostileInput(query, known.pid);
    EndedBeforeRefresh(query);
    const DWORD delays[] = {100, 300, 700, 1100, 1500};
    for (DWORD delay : delays) {
        EndedDuringWalk(&query, delay, known.pid);
        if (!Check(query != nullptr, "reliability: morvane answers after the ended process")) return;
    }
}
