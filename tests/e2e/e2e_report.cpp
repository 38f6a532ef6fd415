#include "e2e_report.h"

#include <stdarg.h>

#include <algorithm>

FILE* logFile = nullptr;
int passed = 0;
int failed = 0;

void Log(const char* format, ...) {
    char line[4096];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    fputs(line, stdout);
    fputs("\n", stdout);
    fflush(stdout);
    if (logFile) {
        fputs(line, logFile);
        fputs("\n", logFile);
        fflush(logFile);
    }
}

std::string Escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        unsigned char u = static_cast<unsigned char>(c);
        if (c == '\n') {
            out += "\\n";
        } else if (u < 0x20 || u == 0x7F) {
            char code[8];
            snprintf(code, sizeof code, "\\x%02x", u);
            out += code;
        } else {
            out += c;
        }
    }
    return out;
}

bool Check(bool ok, const std::string& what, const std::string& expected,
           const std::string& got) {
    if (ok) {
        ++passed;
        Log("PASS %s", what.c_str());
    } else {
        ++failed;
        if (expected.empty() && got.empty()) Log("FAIL %s", what.c_str());
        else Log("FAIL %s: expected \"%s\", got \"%s\"", what.c_str(), Escape(expected).c_str(), Escape(got).c_str());
    }
    return ok;
}

bool CheckEq(const std::string& expected, const std::string& got, const std::string& what) {
    return Check(expected == got, what, expected, got);
}

bool CheckLines(const std::vector<std::string>& expected, const std::vector<std::string>& got,
                const std::string& what) {
    size_t n = std::min(expected.size(), got.size());
    for (size_t i = 0; i < n; ++i) {
        if (expected[i] != got[i]) {
            return Check(false, what + " (line " + std::to_string(i) + " of " + std::to_string(got.size()) + ")",
                         expected[i], got[i]);
        }
    }
    if (expected.size() != got.size()) {
        return Check(false, what + " (line count)", std::to_string(expected.size()), std::to_string(got.size()));
    }
    return Check(true, what + " (" + std::to_string(got.size()) + " lines)");
}

DWORD Now() { return GetTickCount(); }