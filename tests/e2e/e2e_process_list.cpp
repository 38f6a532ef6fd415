#include "e2e_process_list.h"

#include <tlhelp32.h>

#include <algorithm>

#include "e2e_expect.h"
#include "e2e_notices.h"
#include "e2e_report.h"
#include "e2e_screen.h"
#include "e2e_windows.h"

namespace {

const std::string kMark = " (64位)";

struct Listed {
    std::wstring name;
    DWORD pid;
    bool marked;
};

bool SixtyFourBit(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) return false;
    BOOL wow64 = TRUE;
    BOOL asked = IsWow64Process(process, &wow64);
    CloseHandle(process);
    return asked && !wow64;
}

std::string Line(const Listed& p) {
    return Utf8(p.name.c_str()) + "    进程ID:" + std::to_string(p.pid) + (p.marked ? kMark : "");
}

// Where a line of the list lies, in the list's client coordinates, once it
// is scrolled into view as a person would scroll to it.
bool LinePoint(HWND list, int index, POINT* at) {
    LRESULT top = -1, height = 0;
    if (!Send(list, LB_SETTOPINDEX, static_cast<WPARAM>(index), 0, nullptr) ||
        !Send(list, LB_GETTOPINDEX, 0, 0, &top) || !Send(list, LB_GETITEMHEIGHT, 0, 0, &height) || top < 0 ||
        top > index || height <= 0)
        return false;
    at->x = 12;
    at->y = static_cast<LONG>((index - top) * height + height / 2);
    return true;
}

void DoubleClick(HWND window, POINT at) {
    LPARAM where = MAKELPARAM(at.x, at.y);
    PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, where);
    PostMessageW(window, WM_LBUTTONUP, 0, where);
    PostMessageW(window, WM_LBUTTONDBLCLK, MK_LBUTTON, where);
    PostMessageW(window, WM_LBUTTONUP, 0, where);
}

HWND FocusOf(HWND window) {
    GUITHREADINFO info;
    ZeroMemory(&info, sizeof info);
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

}  // namespace

std::vector<std::string> ProcessListLines() {
    std::vector<Listed> listed;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return {};
    BOOL wow64Self = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64Self);
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        listed.push_back({entry.szExeFile, entry.th32ProcessID, wow64Self && SixtyFourBit(entry.th32ProcessID)});
    CloseHandle(snapshot);
    std::sort(listed.begin(), listed.end(), [](const Listed& a, const Listed& b) {
        int byName = CompareStringOrdinal(a.name.c_str(), -1, b.name.c_str(), -1, TRUE);
        return byName != CSTR_EQUAL ? byName == CSTR_LESS_THAN : a.pid < b.pid;
    });
    std::vector<std::string> lines;
    for (const Listed& p : listed) lines.push_back(Line(p));
    return lines;
}

bool ChooseFromProcessList(HWND query, DWORD pid, const std::string& exeName) {
    std::vector<std::string> before = ProcessListLines();
    DWORD start = Now();
    Press(GetDlgItem(query, 1040));
    HWND dialog = WaitDialog(L"选择进程", 10000);
    if (!Check(dialog != nullptr, "process list: opened by 进程列表")) return false;
    HWND list = GetDlgItem(dialog, 1020);
    // The list is filled while the dialog opens, before it answers.
    LRESULT count = 0;
    while ((count = ListCount(list)) <= 0 && Now() - start < 10000) Sleep(5);
    DWORD opened = Now() - start;
    std::vector<std::string> lines;
    bool read = ReadList(list, &lines);
    std::vector<std::string> after = ProcessListLines();
    size_t marked = static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
        return l.size() > kMark.size() && l.compare(l.size() - kMark.size(), kMark.size(), kMark) == 0;
    }));
    Log("MEASURE process list: %ld processes (%zu marked 64位), filled %lu ms after pressing 进程列表",
        static_cast<long>(count), marked, static_cast<unsigned long>(opened));
    Check(GetWindow(dialog, GW_OWNER) == query, "process list: owned by the query dialog", Describe(query),
          Describe(GetWindow(dialog, GW_OWNER)));
    Check(read, "process list: readable");
    // Processes may start or end around the reading: the list must equal
    // the driver's snapshot from before or from after it.
    CheckLines(lines == before ? before : after, lines, "process list: every process by name and PID, sorted");
    Sleep(500);  // painted
    Screenshot("process-list");

    std::string want = exeName + "    进程ID:" + std::to_string(pid);
    auto it = std::find_if(lines.begin(), lines.end(),
                           [&](const std::string& l) { return l.compare(0, want.size(), want) == 0; });
    POINT at = {};
    if (!Check(it != lines.end(), "process list: shows the target", want, "missing") ||
        !Check(LinePoint(list, static_cast<int>(it - lines.begin()), &at), "process list: the target's line in view"))
        return false;
    DoubleClick(list, at);
    bool closed = WaitGone(dialog, 5000);
    Check(closed, "process list: a double click on a line closes it");
    std::string field = FieldText(query, 1005);
    CheckEq(std::to_string(pid), field, "process list: the chosen PID in field 1005");
    HWND queryButton = GetDlgItem(query, 1013);
    DWORD waited = Now();
    while (FocusOf(query) != queryButton && Now() - waited < 2000) Sleep(20);
    Check(FocusOf(query) == queryButton, "process list: the focus on 查询 after the choice", Describe(queryButton),
          Describe(FocusOf(query)));
    return closed && field == std::to_string(pid);
}
