// morvane's windows keep answering while a region walk runs: the longest
// wait for an answer to WM_NULL during an opening, a refresh and a walk of
// a process that ended, the clock ticking during an opening, and a dialog
// closed in the middle of its walk.
#pragma once

#include <windows.h>

#include <string>

// Sends WM_NULL to `window` back to back, 25 ms apart, from a thread of its
// own, and keeps the longest wait for an answer.
class Probe {
public:
    explicit Probe(HWND window);
    ~Probe();
    Probe(const Probe&) = delete;
    Probe& operator=(const Probe&) = delete;
    // Stops probing (once); returns the longest wait in ms.
    DWORD Stop();

private:
    HWND window_;
    HANDLE thread_ = nullptr;
    volatile LONG stop_ = 0;
    volatile LONG longest_ = 0;
    volatile LONG probes_ = 0;
    static DWORD WINAPI Loop(LPVOID self);
};

// Logs the longest wait ("WAIT" lines) and fails only past one second: a UI
// thread that blocks, not a slow machine.
bool CheckAnswered(Probe* probe, const std::string& what);

// A target of 20,000 regions opened, refreshed, and its dialog closed during
// a refresh and during an opening; then `livePid` is inspected.
void RunResponsiveness(HWND main, HWND query, const std::wstring& targetExe, DWORD livePid);
