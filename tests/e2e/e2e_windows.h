// The processes the driver starts, and morvane's windows as a person meets
// them: found by title, read and typed into by window messages, pressed.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "e2e_expect.h"

extern HANDLE morvane;
extern DWORD morvanePid;
extern std::vector<HANDLE> targets;  // every target started, ended by KillAll
extern std::wstring outDir;

// Ends morvane and every target.
void KillAll();
// Thread routine: after `limit` ms fails the run, ends everything, exits 2.
DWORD WINAPI Watchdog(LPVOID limit);
HANDLE Start(const std::wstring& commandLine, DWORD* pid);

struct Target {
    HANDLE process = nullptr;
    DWORD pid = 0;
    std::vector<ReportedModule> modules;
    // In "known" mode: the view of the file it maps, and its waiting thread.
    unsigned long long mappedBase = 0;
    std::string mappedPath;
    DWORD waitingThread = 0;
};

// Starts the target in `mode` and reads its report once it is complete.
bool StartTarget(const std::wstring& exe, const char* mode, Target* target);

// Ends a target, by the exit event it waits on (`signal`) or terminated,
// waits until it has ended and closes every handle the driver has to it.
bool EndTarget(Target* target, bool signal);
// Waits until a process that has ended can no longer be opened: Wine lets
// it be opened for a moment after its last handle is closed, and as long as
// another process (morvane, during its walk) holds a handle to it.
bool WaitUnopenable(DWORD pid, DWORD timeout);

const UINT kTimeout = 15000;

bool Send(HWND window, UINT msg, WPARAM wp, LPARAM lp, LRESULT* result, UINT timeout = kTimeout);
// A window's text; "<no answer>" when it does not answer in time.
std::string Text(HWND window);
std::string FieldText(HWND dialog, int id);
bool SetText(HWND window, const wchar_t* text);
// Every line of a list box; false when the list does not answer.
bool ReadList(HWND list, std::vector<std::string>* lines, UINT timeout = kTimeout);
// -1 when the list does not answer.
LRESULT ListCount(HWND list, UINT timeout = kTimeout);
void Press(HWND button);

// A visible dialog (dialogs and message boxes alike) of morvane's with this
// title.
bool IsMorvaneDialog(HWND window, const wchar_t* wanted);
// A shown dialog of morvane's with this title (class "#32770").
HWND FindDialog(const wchar_t* title);
HWND WaitDialog(const wchar_t* title, DWORD timeout);
bool Gone(HWND window);
bool WaitGone(HWND window, DWORD timeout);

// Sends a key to whatever has the focus in morvane's UI thread.
void Key(HWND dialog, WPARAM key);
