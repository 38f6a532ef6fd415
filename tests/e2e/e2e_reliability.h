// Runs that show morvane holds up: long use, processes that end while they
// are inspected, and hostile input to the PID field. They start a morvane
// of their own and start it again when one stops answering.
#pragma once

#include <windows.h>

#include <string>

void RunReliability(const std::wstring& morvaneExe, const std::wstring& targetExe);

// After 查询 for a live process: its dialog opens, the first counter line
// shows the PID and the first map pass is announced; the dialog is closed
// again. "" when so, otherwise what went wrong.
std::string AfterInspection(DWORD pid);
