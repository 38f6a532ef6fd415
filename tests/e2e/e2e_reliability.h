// Runs that show morvane holds up: long use, processes that end while they
// are inspected, and hostile input to the PID field. They start a morvane
// of their own and start it again when one stops answering.
#pragma once

#include <string>

void RunReliability(const std::wstring& morvaneExe, const std::wstring& targetExe);
