// morvane's message boxes as a person meets them: found by caption, read
// (text, owner, icon from its pixels) and dismissed with OK.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct Notice {
    HWND box = nullptr;
    std::string caption;
    std::string text;
    HWND owner = nullptr;
    std::string icon;  // "error", "information" or "unknown"
};

const wchar_t kNoticeCaption[] = L"提示";
const char kMapDone[] = "内存分布绘制完成!";

// Every shown message box of morvane's with this caption, topmost first.
std::vector<HWND> Boxes(const wchar_t* caption);
std::string Describe(HWND window);
// The first non-empty static text of a box; empty while it is being filled.
std::string BoxText(HWND box);
void ReadNotice(HWND box, const wchar_t* caption, Notice* notice);

enum Want { kAnyNotice, kMapNotice, kOtherNotice };

// Waits for a message box with this caption. The painter's map notices come
// whenever a pass ends, independently of the dialogs' own notices: when
// waiting for another notice they are dismissed on the way; when waiting
// for a map notice of `mapOwner`, those owned by another window (a dialog
// that has closed) are dismissed too.
bool WaitNotice(const wchar_t* caption, DWORD timeout, Notice* notice, Want want = kAnyNotice,
                HWND mapOwner = nullptr);
// Presses OK and waits for the box to go.
bool Dismiss(const Notice& notice);
// Waits for a notice, checks its text, owner and icon, dismisses it.
bool ExpectNotice(const std::string& text, HWND owner, const char* icon, const std::string& what,
                  DWORD timeout = 10000, const char* shot = nullptr);
// Reads the next `count` notices with this caption in the order they come,
// dismissing each; one that does not come within `timeout` ms reads
// "<none>" with no box, and ends the reading. Reads no icons (a screen
// capture each), so it suits runs of hundreds of notices.
std::vector<Notice> TakeNotices(size_t count, DWORD timeout);
// Watches for `watch` ms (from the last one seen) and dismisses every map
// notice that shows; returns how many.
int DrainMapNotices(DWORD watch);
