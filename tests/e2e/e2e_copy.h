// Copying from morvane's lists as a person does: a click, keys pressed on
// the keyboard and the clipboard read back. The input goes through the
// platform's input queue (SendInput), so morvane sees Ctrl and Shift held
// as it would for a person's keys; posted key messages would not change
// the key state it reads.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Presses `key` with `modifier` (0 for none) held, as a keyboard would,
// and gives morvane `settle` ms to take it.
void Keystroke(WORD key, WORD modifier = 0, DWORD settle = 50);
HWND Focused(HWND window);
// Empties the clipboard; the copy that follows is the only text on it.
void ClearClipboard();
// Waits for Unicode text on the clipboard, without opening it (morvane
// must find it free), then reads it; *came is the time it was seen. "<none>"
// when none came in time.
std::string WaitClipboardText(DWORD timeout, DWORD* came = nullptr);

// Three lines of the region table selected with the keyboard and copied;
// the selection stays.
void CheckCopyRegionLines(HWND dialog);
// Ctrl+A and Ctrl+C in the module list copy every line; with the clipboard
// held open by the driver, Ctrl+C gives "无法复制到剪贴板!" and the
// clipboard keeps what it held.
void CheckCopyModuleList(HWND modules, const std::vector<std::string>& want);
// Times Ctrl+C on a region table with nothing selected (every line is
// copied): from the key to the text on the clipboard.
void MeasureCopyTable(HWND dialog);
