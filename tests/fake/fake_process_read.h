// The fake's world for reading another process: the files behind its
// mappings, its threads' TEBs, its PEB and the bytes of its memory.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/process_read.h"
#include "tests/fake/fake_platform.h"

namespace fake {

struct Thread {
    DWORD id = 0;
    ULONG_PTR teb = 0;
    DWORD grantedAccess = 0xFFFFFFFFu;  // OpenThread fails for rights outside this
    // When set: the snapshot still lists it under its process, but it has
    // ended and its ID names a thread of this process by the time it is
    // opened (NtQueryInformationThread's client ID tells).
    DWORD processNow = 0;
};

struct ProcessReading {
    // GetMappedFileNameW's answer by allocation base; any other address
    // fails with ERROR_FILE_INVALID, as a section with no file does.
    std::map<ULONG_PTR, std::u16string> mappedFiles;
    std::vector<Thread> threads;
    ULONG_PTR peb = 0;
    ULONG_PTR peb32 = 0;  // a WoW64 process's 32-bit PEB (ProcessWow64Information)
    std::map<ULONG_PTR, std::vector<BYTE>> memory;  // what ReadProcessMemory reads, by start
};
// Cleared by Reset.
ProcessReading& ReadingOf(DWORD pid);
void WriteMemory(DWORD pid, ULONG_PTR address, const void* bytes, size_t size);
// Drive `letter` names `device` (GetLogicalDrives, QueryDosDeviceW); none
// after Reset.
void SetDosDevice(char letter, const std::u16string& device);

// For fake_platform.cpp.
HANDLE ThreadSnapshot();
void ResetProcessReading();

}  // namespace fake
