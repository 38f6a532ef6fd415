// "内存用途" as a person meets it, for the files that check it.
#pragma once

#include "e2e_windows.h"

const int kSummary = 1050;
const int kAllocations = 1051;
using Row = std::vector<std::string>;

// Presses 查看内存用途 in the process dialog; the window once it is in front.
HWND OpenUses(HWND dialog);
// Tab until list `id` has the focus, then Ctrl+A when `all` and Ctrl+C:
// the clipboard's text ("<none>" when the focus never came).
std::string CopyList(HWND window, int id, bool all);
// CopyList's text as rows of tab-separated cells (none without the focus).
std::vector<Row> CopyRows(HWND uses, int id);
// "1,024 KB", as the window writes sizes.
std::string Kilobytes(ULONGLONG bytes);

// e2e_changes.cpp: 刷新, 只看变化 and 自动刷新 after the known target's
// changes; 刷新 timed against the driver's own walk, and the longest
// unanswered WM_NULL during 自动刷新.
void CheckChanges(HWND dialog, const Target& known);
void MeasureRefresh(HWND uses, DWORD pid);
