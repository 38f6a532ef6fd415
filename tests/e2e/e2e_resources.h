// Another process's resources as read from outside: its threads, its kernel
// handles and its private bytes.
#pragma once

#include <windows.h>

#include <string>

struct Resources {
    long threads = -1;         // from a tool-help thread snapshot
    long handles = -1;         // its entries in the system handle table
    ULONGLONG privateBytes = 0;  // PagefileUsage
};

// Fields that cannot be read keep -1 (or 0 bytes).
Resources ReadResources(HANDLE process, DWORD pid);
std::string DescribeResources(const Resources& r);
