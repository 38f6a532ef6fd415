#include "e2e_responsive.h"

#include <set>
#include <vector>

#include "e2e_expect.h"
#include "e2e_notices.h"
#include "e2e_reliability.h"
#include "e2e_report.h"
#include "e2e_screen.h"
#include "e2e_windows.h"

Probe::Probe(HWND window) : window_(window) { thread_ = CreateThread(nullptr, 0, Loop, this, 0, nullptr); }

Probe::~Probe() { Stop(); }

DWORD Probe::Stop() {
    if (thread_) {
        InterlockedExchange(&stop_, 1);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        thread_ = nullptr;
    }
    return static_cast<DWORD>(longest_);
}

DWORD WINAPI Probe::Loop(LPVOID param) {
    Probe* self = static_cast<Probe*>(param);
    while (!InterlockedCompareExchange(&self->stop_, 0, 0)) {
        DWORD start = Now();
        DWORD_PTR unused = 0;
        // Not SMTO_ABORTIFHUNG: a window that has not answered for 5 s must
        // still be waited for, or the longest waits would go unseen.
        bool answered = SendMessageTimeoutW(self->window_, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &unused) != 0;
        LONG waited = static_cast<LONG>(Now() - start);
        if (answered && waited > self->longest_) InterlockedExchange(&self->longest_, waited);
        InterlockedIncrement(&self->probes_);
        Sleep(25);
    }
    return 0;
}

bool CheckAnswered(Probe* probe, const std::string& what) {
    DWORD longest = probe->Stop();
    Log("WAIT %s: the longest wait for an answer to WM_NULL was %lu ms", what.c_str(),
        static_cast<unsigned long>(longest));
    return Check(longest <= 1000, "morvane answers within 1 s " + what, "at most 1000 ms",
                 std::to_string(longest) + " ms");
}

namespace {

const wchar_t kProcessTitle[] = L"进程虚拟内存信息";

std::string Clock(HWND main) {
    return FieldText(main, 1023) + ":" + FieldText(main, 1024) + ":" + FieldText(main, 1025);
}

// Waits for the table to hold `lines` lines; meanwhile reads the main
// window's clock, and keeps each time it showed while the table was still
// filling (read before a count short of full). *filled is the time from
// `start` until full, 0 when it never was; *partly how long the table was
// seen partly filled.
void WatchFilling(HWND main, HWND dialog, LRESULT lines, DWORD start, std::set<std::string>* clocks,
                  DWORD* filled, DWORD* partly) {
    *filled = 0;
    *partly = 0;
    DWORD firstPartly = 0;
    HWND table = GetDlgItem(dialog, 1021);
    while (Now() - start < 120000 && !Gone(dialog)) {
        std::string clock = Clock(main);
        LRESULT count = ListCount(table, 30000);
        if (count >= lines) {
            *filled = Now() - start;
            return;
        }
        if (count > 0) {
            clocks->insert(clock);
            if (!firstPartly) firstPartly = Now();
            *partly = Now() - firstPartly;
        }
        Sleep(50);
    }
}

// Closes the dialog while its table fills: it must be gone at once, with
// no notice. `refresh` starts a refresh's walk; otherwise `pid` is asked
// for and the dialog's opening walk is interrupted.
void CloseDuringWalk(HWND query, HWND dialog, DWORD pid, LRESULT lines, const std::string& when) {
    const std::string label = "dialog closed during " + when;
    if (dialog) {
        Press(GetDlgItem(dialog, 1));
    } else {
        SetText(GetDlgItem(query, 1005), std::to_wstring(pid).c_str());
        Press(GetDlgItem(query, 1013));
        dialog = WaitDialog(kProcessTitle, 10000);
    }
    Sleep(700);
    LRESULT count = dialog ? ListCount(GetDlgItem(dialog, 1021), 5000) : -1;
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    DWORD start = Now();
    bool gone = dialog && WaitGone(dialog, 10000);
    DWORD took = Now() - start;
    Log("CLOSE %s: the table held %ld of %ld lines; the dialog was gone %lu ms after WM_CLOSE", when.c_str(),
        static_cast<long>(count), static_cast<long>(lines), static_cast<unsigned long>(took));
    Check(count >= 0 && count < lines, label + ": closed while the table was still filling", "fewer than " +
          std::to_string(lines) + " lines", std::to_string(count));
    Check(gone && took <= 1000, label + ": gone within 1 s", "at most 1000 ms", gone ? std::to_string(took) + " ms" : "stays");
    Notice late = TakeNotices(1, 1500)[0];
    Check(!late.box, label + ": no notice follows", "", "notice \"" + Escape(late.text) + "\"");
}

// The map of the 20,000-region target, repainted after its notice, equals
// the walk, where the committed regions past the first 10,000 (the DLLs
// above the 10,000 allocations) mark rows of their own.
void CheckManyRegionsMap(HWND dialog, DWORD pid) {
    HANDLE q = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
    std::vector<WalkedRegion> walked = WalkAddressSpace(q);
    if (q) CloseHandle(q);
    std::vector<bool> early = MarkedRows(walked, MEM_COMMIT, kRows, 0, 10000), late = MarkedRows(walked, MEM_COMMIT, kRows, 10000);
    int own = 0;
    for (size_t y = 0; y < early.size(); ++y) own += late[y] && !early[y];
    MapCheck m;
    for (DWORD start = Now(); (m = CompareMap(dialog, walked, nullptr)).wrong && Now() - start < 8000;) Sleep(200);
    Check(own > 0 && m.checked > 0 && m.wrong == 0, "map of 20,000 regions equals the walk, " + std::to_string(own) +
          " rows marked only by committed regions past the first 10,000", "0 wrong", std::to_string(m.wrong) + " wrong, first " + m.first);
    Screenshot("many-regions-map");
}

}  // namespace

void RunResponsiveness(HWND main, HWND query, const std::wstring& targetExe, DWORD livePid) {
    Target t;
    if (!Check(StartTarget(targetExe, "regions", &t), "responsive: target with 20,000 regions started")) return;
    HANDLE q = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, t.pid);
    LRESULT lines = static_cast<LRESULT>(WalkAddressSpace(q).size() * 6);
    if (q) CloseHandle(q);

    // The opening: the table fills, the clock goes on, the map follows.
    Probe opening(main);
    SetText(GetDlgItem(query, 1005), std::to_wstring(t.pid).c_str());
    DWORD start = Now();
    Press(GetDlgItem(query, 1013));
    HWND dialog = WaitDialog(kProcessTitle, 30000);
    std::set<std::string> clocks;
    DWORD filled = 0, partly = 0;
    if (dialog) WatchFilling(main, dialog, lines, start, &clocks, &filled, &partly);
    Notice n;
    bool mapped = dialog && WaitNotice(kNoticeCaption, 60000, &n, kMapNotice, dialog);
    DWORD mapAt = Now() - start;
    Log("RESPONSIVE opening of %ld regions: table filled %lu ms and map notice %lu ms after pressing 查询; "
        "the clock showed %zu times in the %lu ms the table was seen filling",
        static_cast<long>(lines / 6), static_cast<unsigned long>(filled), static_cast<unsigned long>(mapAt),
        clocks.size(), static_cast<unsigned long>(partly));
    Check(filled > 0 && mapped, "responsive: the 20,000-region table filled and its map announced");
    // A clock that ticks shows a second time once the table has been
    // filling for more than a second.
    size_t times = partly >= 2000 ? 2 : 1;
    Check(clocks.size() >= times, "main window: the clock ticks while the 20,000-region table fills",
          std::to_string(times) + " or more times", std::to_string(clocks.size()));
    CheckAnswered(&opening, "during a 20,000-region opening");
    if (mapped) Dismiss(n);
    DrainMapNotices(1500);
    if (!dialog) return;
    CheckManyRegionsMap(dialog, t.pid);

    Probe refresh(main);
    start = Now();
    Press(GetDlgItem(dialog, 1));
    mapped = WaitNotice(kNoticeCaption, 60000, &n, kMapNotice, dialog);
    Log("RESPONSIVE refresh of %ld regions: map notice %lu ms after pressing 刷新", static_cast<long>(lines / 6),
        static_cast<unsigned long>(Now() - start));
    CheckAnswered(&refresh, "during a 20,000-region refresh");
    if (mapped) Dismiss(n);
    DrainMapNotices(1500);

    CloseDuringWalk(query, dialog, t.pid, lines, "a refresh");
    CloseDuringWalk(query, nullptr, t.pid, lines, "its opening");
    TerminateProcess(t.process, 0);
    SetText(GetDlgItem(query, 1005), std::to_wstring(livePid).c_str());
    Press(GetDlgItem(query, 1013));
    std::string wrong = AfterInspection(livePid);
    Check(wrong.empty(), "responsive: a later inspection of a live process works", "", wrong);
}
