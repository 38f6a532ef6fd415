#include "e2e_resources.h"

#include <psapi.h>
#include <stdio.h>
#include <tlhelp32.h>

#include <vector>

namespace {

// SystemHandleInformation's records. The first field is the owner's process
// ID (on Windows its low 16 bits, the rest a back-trace index).
struct HandleEntry {
    ULONG owner;
    UCHAR type;
    UCHAR flags;
    USHORT value;
    PVOID object;
    ULONG access;
};

struct HandleTable {
    ULONG count;
    HandleEntry entries[1];
};

typedef LONG(WINAPI* QuerySystem)(ULONG, PVOID, ULONG, PULONG);
const ULONG kSystemHandleInformation = 16;
const LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);

long CountThreads(DWORD pid) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    long count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == pid) ++count;
    }
    CloseHandle(snapshot);
    return count;
}

// GetProcessHandleCount answers 0 under Wine; the system handle table
// lists every handle with its owner.
long CountHandles(DWORD pid) {
    QuerySystem query = reinterpret_cast<QuerySystem>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return -1;
    std::vector<char> buffer(1 << 18);
    LONG status;
    while ((status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), nullptr)) ==
               kInfoLengthMismatch &&
           buffer.size() < (64u << 20)) {
        buffer.resize(buffer.size() * 2);
    }
    if (status != 0) return -1;
    const HandleTable* table = reinterpret_cast<const HandleTable*>(buffer.data());
    long count = 0;
    for (ULONG i = 0; i < table->count; ++i) {
        if ((table->entries[i].owner & 0xFFFF) == (pid & 0xFFFF)) ++count;
    }
    return count;
}

}  // namespace

Resources ReadResources(HANDLE process, DWORD pid) {
    Resources r;
    r.threads = CountThreads(pid);
    r.handles = CountHandles(pid);
    PROCESS_MEMORY_COUNTERS pmc;
    pmc.cb = sizeof pmc;
    if (GetProcessMemoryInfo(process, &pmc, sizeof pmc)) r.privateBytes = pmc.PagefileUsage;
    return r;
}

std::string DescribeResources(const Resources& r) {
    char text[160];
    snprintf(text, sizeof text, "%ld threads, %ld kernel handles, %llu KB private", r.threads, r.handles,
             static_cast<unsigned long long>(r.privateBytes >> 10));
    return text;
}
