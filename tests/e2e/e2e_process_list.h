// The process list as a person uses it: opened from the query dialog, read,
// and a process chosen from it with a double click.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// What the list should show, from the driver's own process snapshot: one
// line a process, "<name>    进程ID:<pid>", with " (64位)" at the end of a
// 64-bit process's line when the driver (built like morvane) is a 32-bit
// program on a 64-bit system; by name ignoring case, then by PID.
std::vector<std::string> ProcessListLines();

// Opens the process list from `query`, prints how many processes it showed
// and how long it took to open, checks its lines against the driver's
// snapshot, and double-clicks the line of `pid`, named `exeName`. True when
// the list closed with that PID in field 1005 and the focus on "查询".
bool ChooseFromProcessList(HWND query, DWORD pid, const std::string& exeName);
