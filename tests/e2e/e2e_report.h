// The driver's log and its checks: every check passes or fails with a line
// in the log that says what was expected and what was got.
#pragma once

#include <windows.h>

#include <stdio.h>

#include <string>
#include <vector>

extern FILE* logFile;
extern int passed;
extern int failed;

// One line to standard output and to the log file.
void Log(const char* format, ...);
// Line breaks written as "\n" and other control characters as "\xNN", so
// that a text stays on one line and shows what it holds.
std::string Escape(const std::string& s);

bool Check(bool ok, const std::string& what, const std::string& expected = std::string(),
           const std::string& got = std::string());
bool CheckEq(const std::string& expected, const std::string& got, const std::string& what);
// Compares two lists of lines; reports the count and the first difference.
bool CheckLines(const std::vector<std::string>& expected, const std::vector<std::string>& got,
                const std::string& what);

DWORD Now();
