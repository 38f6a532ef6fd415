// Any program can send morvane's private messages (WM_APP + 1, the map
// request; WM_APP + 2, a worker's step): with junk parameters, to every
// window of morvane while its module dialog lists, they change nothing.
#include <windows.h>

#include <string>
#include <vector>

#include "e2e_notices.h"
#include "e2e_report.h"
#include "e2e_windows.h"

static BOOL CALLBACK SendJunk(HWND window, LPARAM) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    for (UINT msg : {WM_APP + 1u, WM_APP + 2u}) {
        for (LPARAM junk : {LPARAM(0), LPARAM(1), LPARAM(0x10), LPARAM(0x7FFE0000), LPARAM(-1)}) {
            DWORD_PTR ignored = 0;
            if (pid == morvanePid) SendMessageTimeoutW(window, msg, 1, junk, SMTO_ABORTIFHUNG, 500, &ignored);
            if (pid == morvanePid) PostMessageW(window, msg, static_cast<WPARAM>(junk), junk);
        }
    }
    return TRUE;
}

void CheckForeignMessages(HWND dialog, const std::vector<std::string>& want) {
    Press(GetDlgItem(dialog, 1031));
    HWND modules = WaitDialog(L"模块信息", 5000);
    for (int round = 0; modules && round < 5; ++round) {
        Press(GetDlgItem(modules, 1));  // a listing runs while the junk comes
        EnumWindows(SendJunk, 0);
    }
    std::vector<std::string> got;
    for (DWORD start = Now(); ReadList(GetDlgItem(modules, 1020), &got) && got != want && Now() - start < 10000;) Sleep(100);
    Sleep(1000);  // what was posted is handled
    Check(WaitForSingleObject(morvane, 0) == WAIT_TIMEOUT, "foreign messages: morvane keeps running");
    std::vector<HWND> boxes = Boxes(kNoticeCaption);
    Check(boxes.empty(), "foreign messages: no notice", "", boxes.empty() ? "" : BoxText(boxes[0]));
    CheckLines(want, got, "foreign messages: the module list still fills");
    PostMessageW(modules, WM_CLOSE, 0, 0);
    WaitGone(modules, 3000);
}
