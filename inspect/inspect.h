// Process inspection: the query dialog, the process list, the process memory
// dialog and the counters summary.
#pragma once

#include "platform/platform.h"

// The process under inspection; written only by QueryDialog.
extern DWORD SelectedPid;
// The most recent ProcessMemoryDialog, stored when it opens.
extern HWND ProcessMemoryWindow;
// The QueryDialog, stored when it opens; the process list writes into it.
extern HWND QueryWindow;

// Six counter lines into list 1020 of ProcessMemoryDialog. 1 on success;
// 0 with last-error 1 (cannot open) or 2 (cannot read counters).
int ShowCounters();

// Judges the text of the PID field: optional blanks before and after, then
// decimal digits (leading zeros allowed) whose value fits 32 bits. TRUE with
// the value in *pid for such a text; FALSE for anything else (an empty text,
// a sign, any other character, an inner blank, 4294967296 and up).
BOOL ReadPidText(LPCWSTR text, DWORD* pid);

INT_PTR CALLBACK QueryDialog(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
// Lists every running process, opened from QueryDialog; a chosen process's
// PID is written into the field 1005 of QueryWindow and the list ends with
// IDOK. It takes no window from its messages.
INT_PTR CALLBACK ProcessListDialog(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ProcessMemoryDialog(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);

// What the process dialog's 刷新 does (counters, region table, map), for
// the dialog itself (`notes` null: each failure told in a notice box, the
// map's pass announced) or for a window that reads the process again for
// itself: then the failures' texts go into `notes` (`units` units, joined
// by two blanks, "" when none) and the map is redrawn silently. TRUE when
// the region lists were rebuilt. The walk handles the UI thread's messages.
BOOL RefreshProcessMemory(HWND dialog, WCHAR* notes, size_t units);

// A notice of the inspection (the counters, the walk): a box owned by
// `owner`, or a part of the notes of the RefreshProcessMemory running.
void InspectNotice(HWND owner, LPCWSTR text, UINT icon);
