// What morvane.exe should show for a process, computed by the end-to-end
// driver on its own from the platform's answers. Strings are UTF-8.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct WalkedRegion {
    ULONGLONG base;
    ULONGLONG size;
    DWORD allocationProtect;
    DWORD state;
    DWORD type;
};

// The regions of `process` from address 0 up, one query per region, the
// cursor advanced by each region's size and the walk ending where it
// reaches 2^32 or a query fails.
std::vector<WalkedRegion> WalkLowRegions(HANDLE process);

// The region table: six lines a region.
std::vector<std::string> RegionTableLines(const std::vector<WalkedRegion>& regions);
std::string ProtectionLine(DWORD allocationProtect);

// "0x%08x", or sixteen digits for a value wider than 32 bits.
std::string RegionHex(ULONGLONG value);
// "0x%08x", or the high part without leading zeros before eight digits.
std::string ModuleHex(ULONGLONG value);

struct ReportedModule {
    std::string name;
    ULONGLONG base;
    DWORD size;
    ULONGLONG entry;
};

// The module list: the count line, the separator, six lines a module.
std::vector<std::string> ModuleListLines(const std::vector<ReportedModule>& modules);

// The memory map's row of an address: trunc(a * 396 / 2147483647 + 20).
int MapRow(DWORD address);

// Rows [0, rows) that the spans of one state mark in their column.
std::vector<bool> MarkedRows(const std::vector<WalkedRegion>& regions, DWORD state, int rows);

std::string Utf8(const wchar_t* text);
std::wstring Wide(const std::string& text);
