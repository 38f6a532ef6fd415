#include "e2e_windows.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "e2e_report.h"

HANDLE morvane = nullptr;
DWORD morvanePid = 0;
std::vector<HANDLE> targets;
std::wstring outDir;

void KillAll() {
    if (morvane) TerminateProcess(morvane, 99);
    for (HANDLE t : targets) TerminateProcess(t, 99);
}

DWORD WINAPI Watchdog(LPVOID limit) {
    Sleep(static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(limit)));
    Log("FAIL the run did not end within its time limit");
    ++failed;
    KillAll();
    Log("%d passed, %d failed", passed, failed);
    ExitProcess(2);
}

HANDLE Start(const std::wstring& commandLine, DWORD* pid) {
    STARTUPINFOW si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(0);
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        return nullptr;
    }
    CloseHandle(pi.hThread);
    if (pid) *pid = pi.dwProcessId;
    return pi.hProcess;
}

bool StartTarget(const std::wstring& exe, const char* mode, Target* target) {
    std::wstring wmode = Wide(mode);
    std::wstring report = outDir + L"\\target-" + wmode + L".txt";
    DeleteFileW(report.c_str());
    std::wstring cmd = L"\"" + exe + L"\" \"" + report + L"\" " + wmode + L" " + std::to_wstring(GetCurrentProcessId());
    target->process = Start(cmd, &target->pid);
    if (!target->process) return false;
    targets.push_back(target->process);
    DWORD start = Now();
    FILE* f = nullptr;
    while (!(f = _wfopen(report.c_str(), L"r"))) {
        if (Now() - start > 60000 || WaitForSingleObject(target->process, 0) == WAIT_OBJECT_0) {
            Log("target %s: no report", mode);
            return false;
        }
        Sleep(50);
    }
    char line[1024];
    bool ready = false;
    while (fgets(line, sizeof line, f)) {
        line[strcspn(line, "\r\n")] = 0;
        unsigned long long base = 0, entry = 0;
        unsigned long size = 0;
        int used = 0;
        if (sscanf(line, "module %llx %lx %llx %n", &base, &size, &entry, &used) == 3 && used > 0) {
            target->modules.push_back({line + used, base, static_cast<DWORD>(size), entry});
        }
        unsigned long id = 0;
        if (sscanf(line, "mapped %llx %n", &target->mappedBase, &used) == 1 && used > 0) target->mappedPath = line + used;
        if (sscanf(line, "thread %lu", &id) == 1) target->waitingThread = id;
        if (strcmp(line, "ready") == 0) ready = true;
        if (strncmp(line, "error", 5) == 0 || strncmp(line, "placed", 6) == 0) Log("target %s: %s", mode, line);
    }
    fclose(f);
    return ready;
}

bool EndTarget(Target* target, bool signal) {
    bool asked;
    if (signal) {
        std::wstring name = L"morvane-e2e-exit-" + std::to_wstring(target->pid);
        HANDLE exit = OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str());
        asked = exit && SetEvent(exit);
        if (exit) CloseHandle(exit);
    } else {
        asked = TerminateProcess(target->process, 1) != 0;
    }
    bool ended = WaitForSingleObject(target->process, 10000) == WAIT_OBJECT_0;
    targets.erase(std::remove(targets.begin(), targets.end(), target->process), targets.end());
    CloseHandle(target->process);
    target->process = nullptr;
    return asked && ended;
}

bool WaitUnopenable(DWORD pid, DWORD timeout) {
    DWORD start = Now();
    HANDLE still;
    while ((still = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid)) && Now() - start < timeout) {
        CloseHandle(still);
        Sleep(20);
    }
    if (still) CloseHandle(still);
    return !still;
}

bool Send(HWND window, UINT msg, WPARAM wp, LPARAM lp, LRESULT* result, UINT timeout) {
    DWORD_PTR r = 0;
    if (!SendMessageTimeoutW(window, msg, wp, lp, SMTO_ABORTIFHUNG, timeout, &r)) return false;
    if (result) *result = static_cast<LRESULT>(r);
    return true;
}

std::string Text(HWND window) {
    LRESULT length = 0;
    if (!Send(window, WM_GETTEXTLENGTH, 0, 0, &length) || length < 0) return "<no answer>";
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 2, 0);
    LRESULT got = 0;
    if (!Send(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()), &got)) return "<no answer>";
    return Utf8(buffer.data());
}

std::string FieldText(HWND dialog, int id) { return Text(GetDlgItem(dialog, id)); }

bool SetText(HWND window, const wchar_t* text) {
    return Send(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text), nullptr);
}

bool ReadList(HWND list, std::vector<std::string>* lines, UINT timeout) {
    lines->clear();
    LRESULT count = 0;
    if (!list || !Send(list, LB_GETCOUNT, 0, 0, &count, timeout) || count < 0) return false;
    std::vector<wchar_t> buffer;
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT length = 0;
        if (!Send(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0, &length) || length < 0) return false;
        // The marshalled reply needs room for the length and the terminator.
        buffer.assign(static_cast<size_t>(length) + 2, 0);
        LRESULT got = 0;
        if (!Send(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buffer.data()), &got)) return false;
        lines->push_back(Utf8(buffer.data()));
    }
    return true;
}

LRESULT ListCount(HWND list, UINT timeout) {
    LRESULT count = -1;
    if (!Send(list, LB_GETCOUNT, 0, 0, &count, timeout)) return -1;
    return count;
}

void Press(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

bool IsMorvaneDialog(HWND window, const wchar_t* wanted) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != morvanePid || !IsWindowVisible(window)) return false;
    wchar_t cls[64], title[256];
    if (!GetClassNameW(window, cls, 64) || wcscmp(cls, L"#32770") != 0) return false;
    GetWindowTextW(window, title, 256);
    return wcscmp(title, wanted) == 0;
}

namespace {

struct FindArgs {
    const wchar_t* title;
    HWND found;
};

BOOL CALLBACK FindProc(HWND window, LPARAM param) {
    FindArgs* args = reinterpret_cast<FindArgs*>(param);
    if (!IsMorvaneDialog(window, args->title)) return TRUE;
    args->found = window;
    return FALSE;
}

}  // namespace

HWND FindDialog(const wchar_t* title) {
    FindArgs args = {title, nullptr};
    EnumWindows(FindProc, reinterpret_cast<LPARAM>(&args));
    return args.found;
}

HWND WaitDialog(const wchar_t* title, DWORD timeout) {
    DWORD start = Now();
    for (;;) {
        HWND w = FindDialog(title);
        if (w || Now() - start > timeout) return w;
        Sleep(20);
    }
}

bool Gone(HWND window) { return !IsWindow(window) || !IsWindowVisible(window); }

bool WaitGone(HWND window, DWORD timeout) {
    DWORD start = Now();
    while (!Gone(window)) {
        if (Now() - start > timeout) return false;
        Sleep(20);
    }
    return true;
}


void Key(HWND dialog, WPARAM key) {
    GUITHREADINFO info;
    ZeroMemory(&info, sizeof info);
    info.cbSize = sizeof info;
    DWORD thread = GetWindowThreadProcessId(dialog, nullptr);
    HWND target = dialog;
    if (GetGUIThreadInfo(thread, &info) && info.hwndFocus) target = info.hwndFocus;
    UINT scan = MapVirtualKeyW(static_cast<UINT>(key), MAPVK_VK_TO_VSC);
    DWORD down = 1u | (scan << 16);
    DWORD up = down | 0xC0000000u;  // previous state down, key being released
    PostMessageW(target, WM_KEYDOWN, key, static_cast<LPARAM>(static_cast<LONG>(down)));
    PostMessageW(target, WM_KEYUP, key, static_cast<LPARAM>(static_cast<LONG>(up)));
}
