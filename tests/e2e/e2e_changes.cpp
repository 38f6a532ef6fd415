// What changed, as a person finds it in "内存用途": the known target changes
// five allocations on the driver's signal; after 刷新 each shows its 状态
// and 变化, 总计's 变化 is the change of the committed regions the platform
// reports, 只看变化 leaves those rows, and with 自动刷新 a further change
// comes without a click.
#include <windows.h>

#include <commctrl.h>

#include <string>
#include <vector>

#include "e2e_expect.h"
#include "e2e_report.h"
#include "e2e_responsive.h"
#include "e2e_screen.h"
#include "e2e_uses.h"
#include "e2e_windows.h"

namespace {

const int kChanges = 1054;
const int kRefresh = 1055;
const int kOnlyChanges = 1057;
const int kAutoRefresh = 1058;

ULONGLONG Committed(DWORD pid) {
    ULONGLONG sum = 0;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
    for (const WalkedRegion& r : WalkAddressSpace(process))
        if (r.state == MEM_COMMIT) sum += r.size;
    if (process) CloseHandle(process);
    return sum;
}

// Sets the target's change event and waits until it says it has changed.
bool ChangeTarget(DWORD pid) {
    HANDLE change = OpenEventW(EVENT_MODIFY_STATE, FALSE, (L"morvane-e2e-change-" + std::to_wstring(pid)).c_str());
    HANDLE changed = OpenEventW(SYNCHRONIZE, FALSE, (L"morvane-e2e-changed-" + std::to_wstring(pid)).c_str());
    bool done = change && changed && SetEvent(change) && WaitForSingleObject(changed, 10000) == WAIT_OBJECT_0;
    if (change) CloseHandle(change);
    if (changed) CloseHandle(changed);
    return done;
}

// "+64 KB", "-64 KB", "0 KB".
std::string Change(long long bytes) {
    if (bytes / 1024 == 0) return "0 KB";
    return (bytes < 0 ? "-" : "+") + Kilobytes(static_cast<ULONGLONG>(bytes < 0 ? -bytes : bytes));
}

bool HasChange(const std::vector<Row>& rows, ULONGLONG base, const std::string& status, const std::string& change) {
    for (const Row& r : rows)
        if (r.size() == 10 && r[0] == Hex(base) && r[8] == status && r[9] == change) return true;
    return false;
}

LRESULT RowCount(HWND uses) {
    LRESULT rows = -1;
    Send(GetDlgItem(uses, kAllocations), LVM_GETITEMCOUNT, 0, 0, &rows);
    return rows;
}

}  // namespace

void CheckChanges(HWND dialog, const Target& known) {
    HWND uses = OpenUses(dialog);
    if (!Check(uses != nullptr, "changes: \"内存用途\" opened again")) return;
    ULONGLONG before = Committed(known.pid);
    if (!Check(ChangeTarget(known.pid), "changes: the target changed its allocations")) return;
    ULONGLONG after = Committed(known.pid);

    Press(GetDlgItem(uses, kRefresh));
    DWORD start = Now();
    while (FieldText(uses, kChanges).find("现在") == std::string::npos && Now() - start < 30000) Sleep(50);
    std::string note = FieldText(uses, kChanges);
    Check(note.find("现在") != std::string::npos && note.find("进程") == std::string::npos,
          "changes: 刷新 writes both readings' times in the line above the lists", "基准 .. 现在 ..", note);

    const struct {
        ULONGLONG base;
        const char* status;
        long long change;
    } wanted[] = {{0x21000000, "新增", 0x10000},
                  {0x21100000, "已释放", -0x10000},
                  {0x21200000, "增长", 0x20000},
                  {0x21300000, "缩小", -0x10000},
                  {0x21400000, "改变", 0}};
    std::vector<Row> rows = CopyRows(uses, kAllocations);
    for (const auto& w : wanted)
        Check(HasChange(rows, w.base, w.status, Change(w.change)), "changes: " + Hex(w.base) + " is " + w.status,
              Change(w.change), "no such row");
    std::vector<Row> summary = CopyRows(uses, kSummary);
    std::string total = summary.size() == 9 && summary[8].size() == 7 ? summary[8][6] : "<none>";
    CheckEq(Change(static_cast<long long>(after - before)), total,
            "changes: 总计's 变化 is the change of the committed regions the platform reports");

    Press(GetDlgItem(uses, kOnlyChanges));
    for (start = Now(); RowCount(uses) == static_cast<LRESULT>(rows.size() - 1) && Now() - start < 5000;) Sleep(50);
    std::vector<Row> changed = CopyRows(uses, kAllocations);
    std::string shown;
    for (size_t i = 1; i < changed.size(); ++i) shown += changed[i][0] + " " + (changed[i].size() == 10 ? changed[i][8] : "") + "; ";
    Check(changed.size() == 6 && HasChange(changed, 0x21000000, "新增", "+64 KB") &&
              HasChange(changed, 0x21400000, "改变", "0 KB"),
          "changes: 只看变化 shows only the five changed allocations", "5 rows", shown);
    Screenshot("changes");

    Press(GetDlgItem(uses, kAutoRefresh));
    Check(ChangeTarget(known.pid), "changes: the target made one more allocation");
    for (start = Now(); RowCount(uses) < 6 && Now() - start < 15000;) Sleep(100);
    rows = CopyRows(uses, kAllocations);
    Check(HasChange(rows, 0x21500000, "新增", "+64 KB"), "changes: with 自动刷新 the new allocation comes without a click",
          "0x21500000 新增", std::to_string(rows.size() - 1) + " rows");
    Press(GetDlgItem(uses, kAutoRefresh));
    PostMessageW(uses, WM_CLOSE, 0, 0);
    Check(WaitGone(uses, 10000), "changes: closed by its close box");
}

void MeasureRefresh(HWND uses, DWORD pid) {
    for (int run = 1; run <= 3; ++run) {
        // The driver's own walk just before and just after: the machine's
        // load moves both.
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
        DWORD start = Now();
        size_t regions = WalkAddressSpace(process).size();
        DWORD walkBefore = Now() - start;
        std::string before = FieldText(uses, kChanges);
        start = Now();
        Press(GetDlgItem(uses, kRefresh));
        while (FieldText(uses, kChanges) == before && Now() - start < 60000) Sleep(5);
        DWORD took = Now() - start;
        start = Now();
        WalkAddressSpace(process);
        DWORD walkAfter = Now() - start;
        if (process) CloseHandle(process);
        DWORD walk = (walkBefore + walkAfter) / 2;
        Log("MEASURE uses refresh %d: the new reading shown %lu ms after 刷新; the driver's own walk of the %zu regions "
            "took %lu and %lu ms just before and after (%.2f times their mean)",
            run, static_cast<unsigned long>(took), regions, static_cast<unsigned long>(walkBefore),
            static_cast<unsigned long>(walkAfter), walk ? static_cast<double>(took) / walk : 0.0);
        Sleep(1000);
    }
    Press(GetDlgItem(uses, kAutoRefresh));
    Probe probe(uses);
    Sleep(10000);
    DWORD longest = probe.Stop();
    Press(GetDlgItem(uses, kAutoRefresh));
    Log("MEASURE uses automatic refresh: over 10 s the longest wait for an answer to WM_NULL was %lu ms (%s)",
        static_cast<unsigned long>(longest), FieldText(uses, kChanges).c_str());
    Sleep(2500);  // a reading that had started ends
}
