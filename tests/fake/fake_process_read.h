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
};

struct ProcessReading {
    // GetMappedFileNameW's answer by allocation base; any other address
    // fails with ERROR_FILE_INVALID, as a section with no file does.
    std::map<ULONG_PTR, std::u16string> mappedFiles;
    std::vector<Thread> threads;
    ULONG_PTR peb = 0;
    std::map<ULONG_PTR, std::vector<BYTE>> memory;  // what ReadProcessMemory reads, by start
    std::vector<std::pair<ULONG_PTR, SIZE_T>> reads;  // every ReadProcessMemory asked: address, size
};
// Cleared by Reset.
ProcessReading& ReadingOf(DWORD pid);
void WriteMemory(DWORD pid, ULONG_PTR address, const void* bytes, size_t size);

// For fake_platform.cpp.
HANDLE ThreadSnapshot();
void ResetProcessReading();

}  // namespace fake
