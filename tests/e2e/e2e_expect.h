// What morvane.exe should show for a process, computed by the end-to-end
// driver on its own from the platform's answers. Strings are UTF-8.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

const ULONGLONG kFourGb = 0x100000000ull;

struct WalkedRegion {
    ULONGLONG base;
    ULONGLONG size;
    DWORD allocationProtect;
    DWORD state;
    DWORD type;
};

// The regions of `process` from address 0 up, one query per region, the
// cursor advanced by each region's size. The walk ends where a query fails,
// a region's size is 0, or the next address would reach 2^32 (a 32-bit
// driver) or wrap past 2^64 (a 64-bit one, which so reaches the top of the
// user address space, where the query fails).
std::vector<WalkedRegion> WalkAddressSpace(HANDLE process);

// The region table: six lines a region.
std::vector<std::string> RegionTableLines(const std::vector<WalkedRegion>& regions);
std::string ProtectionLine(DWORD allocationProtect);

// "0x%08x", or the high part without leading zeros before eight digits.
std::string Hex(ULONGLONG value);

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

// The x86_64 picture's stretches (docs/design.md), empty for the lower 2 GB;
// the row of an address in either picture (-1: none).
struct Stretch {
    ULONGLONG first, last;
    int top, rows;
};
std::vector<Stretch> MapStretches(const std::vector<WalkedRegion>& regions);
int MapRowIn(const std::vector<Stretch>& stretches, ULONGLONG address);
// Rows [0, rows) that the [from, to)-th regions of one state mark in their
// column; the grey rows between stretches.
std::vector<bool> MarkedRows(const std::vector<WalkedRegion>& regions, DWORD state, int rows, size_t from = 0,
                             size_t to = ~static_cast<size_t>(0));
std::vector<bool> BreakRows(const std::vector<WalkedRegion>& regions, int rows);

std::string Utf8(const wchar_t* text);
std::wstring Wide(const std::string& text);
