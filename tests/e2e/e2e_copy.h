// Copying from morvane's lists as a person does: a click, keys pressed on
// the keyboard and the clipboard read back. The input goes through the
// platform's input queue (SendInput), so morvane sees Ctrl and Shift held
// as it would for a person's keys; posted key messages would not change
// the key state it reads.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

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
