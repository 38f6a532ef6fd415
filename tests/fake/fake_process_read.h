// The fake's world for reading what another process's memory is: the files
// behind its mappings, its threads with their TEBs, its PEB, the bytes of
// its memory, and the drives' devices. See platform/process_read.h.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/process_read.h"
#include "tests/fake/fake_platform.h"

namespace fake {

struct Thread {
    DWORD id = 0;
    ULONG_PTR teb = 0;                 // NtQueryInformationThread's TebBaseAddress
    DWORD grantedAccess = 0xFFFFFFFFu;  // OpenThread fails for rights outside this
};

// What a process tells when read (fake::AddProcess makes the process).
struct ProcessReading {
    // GetMappedFileNameW's answer for an allocation base; any other address
    // fails with ERROR_FILE_INVALID, as a section with no file does.
    std::map<ULONG_PTR, std::u16string> mappedFiles;
    std::vector<Thread> threads;        // in the thread snapshot, in this order
    ULONG_PTR peb = 0;                  // ProcessBasicInformation's PebBaseAddress
    std::map<ULONG_PTR, std::vector<BYTE>> memory;  // what ReadProcessMemory reads, by start
};
ProcessReading& ReadingOf(DWORD pid);
// Puts `size` bytes at `address` of the process's readable memory.
void WriteMemory(DWORD pid, ULONG_PTR address, const void* bytes, size_t size);
// The logical drives and the device QueryDosDeviceW names for each.
void SetDosDevices(const std::map<char16_t, std::u16string>& devices);

// For fake_platform.cpp: the thread snapshot, and emptying this world.
HANDLE ThreadSnapshot();
void ResetProcessReading();

}  // namespace fake
