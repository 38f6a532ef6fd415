// What changed, as a person finds it in "内存用途": the known target changes
// five allocations on the driver's signal; after 刷新 each shows its 状态
// and 变化, 总计's 变化 is the platform's change of committed regions, 只看变化
// leaves those rows, and with 自动刷新 a further change comes by itself.
#include <windows.h>

#include <commctrl.h>

#include "e2e_expect.h"
#include "e2e_report.h"
#include "e2e_responsive.h"
#include "e2e_screen.h"
#include "e2e_uses.h"

namespace {

const int kChanges = 1054, kRefresh = 1055, kOnlyChanges = 1057, kAutoRefresh = 1058;

ULONGLONG Committed(HANDLE process) {
    ULONGLONG sum = 0;
    for (const WalkedRegion& r : WalkAddressSpace(process)) sum += r.state == MEM_COMMIT ? r.size : 0;
    return sum;
}

// Sets the target's change event and waits for its answer.
bool ChangeTarget(DWORD pid) {
    HANDLE change = OpenEventW(EVENT_MODIFY_STATE, FALSE, (L"morvane-e2e-change-" + std::to_wstring(pid)).c_str());
    HANDLE changed = OpenEventW(SYNCHRONIZE, FALSE, (L"morvane-e2e-changed-" + std::to_wstring(pid)).c_str());
    bool done = change && changed && SetEvent(change) && WaitForSingleObject(changed, 10000) == WAIT_OBJECT_0;
    if (change) CloseHandle(change);
    if (changed) CloseHandle(changed);
    return done;
}

std::string Change(long long bytes) {
    return bytes / 1024 == 0 ? "0 KB" : (bytes < 0 ? "-" : "+") + Kilobytes(bytes < 0 ? -bytes : bytes);
}

bool HasChange(const std::vector<Row>& rows, ULONGLONG base, const std::string& status, long long change) {
    for (const Row& r : rows)
        if (r.size() == 10 && r[0] == Hex(base) && r[8] == status && r[9] == Change(change)) return true;
    return false;
}

LRESULT RowCount(HWND uses) {
    LRESULT rows = -1;
    Send(GetDlgItem(uses, kAllocations), LVM_GETITEMCOUNT, 0, 0, &rows);
    return rows;
}

// Presses 刷新 and waits until the line above the lists changes.
DWORD Refresh(HWND uses) {
    std::string before = FieldText(uses, kChanges);
    DWORD start = Now();
    Press(GetDlgItem(uses, kRefresh));
    while (FieldText(uses, kChanges) == before && Now() - start < 60000) Sleep(5);
    return Now() - start;
}

}  // namespace

void CheckChanges(HWND dialog, const Target& known) {
    HWND uses = OpenUses(dialog);
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, known.pid);
    ULONGLONG before = Committed(process);
    bool changed = uses && ChangeTarget(known.pid);
    long long grown = static_cast<long long>(Committed(process) - before);
    if (process) CloseHandle(process);
    if (!Check(changed, "changes: \"内存用途\" opened and the target changed its allocations")) return;
    Refresh(uses);
    const struct {
        ULONGLONG base;
        const char* status;
        long long change;
    } wanted[] = {{0x21000000, "新增", 0x10000}, {0x21100000, "已释放", -0x10000}, {0x21200000, "增长", 0x20000},
                  {0x21300000, "缩小", -0x10000}, {0x21400000, "改变", 0}};
    std::vector<Row> rows = CopyRows(uses, kAllocations), summary = CopyRows(uses, kSummary);
    for (const auto& w : wanted)
        Check(HasChange(rows, w.base, w.status, w.change), "changes: " + Hex(w.base) + " is " + w.status, Change(w.change));
    CheckEq(Change(grown), summary.size() == 9 && summary[8].size() == 7 ? summary[8][6] : "<none>",
            "changes: 总计's 变化 is the platform's change of committed regions");

    Press(GetDlgItem(uses, kOnlyChanges));
    for (DWORD start = Now(); RowCount(uses) > 5 && Now() - start < 5000;) Sleep(50);
    rows = CopyRows(uses, kAllocations);
    bool only = rows.size() == 6;
    for (const auto& w : wanted) only = only && HasChange(rows, w.base, w.status, w.change);
    Check(only, "changes: 只看变化 shows only the five changed allocations", "5 rows", std::to_string(rows.size() - 1));
    Screenshot("changes");

    Press(GetDlgItem(uses, kAutoRefresh));
    Check(ChangeTarget(known.pid), "changes: the target made one more allocation");
    for (DWORD start = Now(); RowCount(uses) < 6 && Now() - start < 15000;) Sleep(100);
    Check(HasChange(CopyRows(uses, kAllocations), 0x21500000, "新增", 0x10000),
          "changes: with 自动刷新 the new allocation comes without a click");
    Press(GetDlgItem(uses, kAutoRefresh));
    PostMessageW(uses, WM_CLOSE, 0, 0);
    Check(WaitGone(uses, 10000), "changes: closed by its close box");
}

void MeasureRefresh(HWND uses, DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
    for (int run = 1; run <= 3; ++run, Sleep(1000)) {
        // The driver's own walk just before and just after: the load moves both.
        DWORD start = Now();
        size_t regions = WalkAddressSpace(process).size();
        DWORD walkBefore = Now() - start, took = Refresh(uses);
        start = Now();
        WalkAddressSpace(process);
        DWORD walk = (walkBefore + Now() - start) / 2;
        Log("MEASURE uses refresh %d: the new reading shown %lu ms after 刷新; the driver's own walk of the %zu "
            "regions took %lu ms before and %lu ms after (%.2f times their mean)",
            run, took, regions, walkBefore, 2 * walk - walkBefore, walk ? static_cast<double>(took) / walk : 0.0);
    }
    if (process) CloseHandle(process);
    Press(GetDlgItem(uses, kAutoRefresh));
    Probe probe(uses);
    Sleep(10000);
    Log("MEASURE uses automatic refresh: over 10 s the longest wait for an answer to WM_NULL was %lu ms (%s)",
        probe.Stop(), FieldText(uses, kChanges).c_str());
    Press(GetDlgItem(uses, kAutoRefresh));
    Sleep(2500);  // a reading that had started ends
}
