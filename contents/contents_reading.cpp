#include "contents/contents_reading.h"

#include <string.h>

#include "platform/process_contents.h"

BOOL ProcessEnded(HANDLE process) {
    DWORD code = 0;
    return !GetExitCodeProcess(process, &code) || code != STILL_ACTIVE;
}

BOOL PageMayBeRead(DWORD state, DWORD protect) {
    const DWORD reading = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                          PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    return state == MEM_COMMIT && (protect & reading) && !(protect & (PAGE_GUARD | PAGE_NOACCESS));
}

size_t ReadContentsPiece(HANDLE process, ULONGLONG address, ULONGLONG limit, BYTE* buffer, size_t capacity,
                         BOOL* readable) {
    *readable = FALSE;
    if (address >= limit) return 0;
    ULONGLONG left = limit - address;
    size_t piece = left < CONTENTS_PAGE ? static_cast<size_t>(left) : CONTENTS_PAGE;
    MEMORY_BASIC_INFORMATION region;
    if (VirtualQueryEx(process, reinterpret_cast<LPCVOID>(static_cast<ULONG_PTR>(address)), &region,
                       sizeof region) != sizeof region)
        return piece;
    ULONGLONG regionEnd = reinterpret_cast<ULONG_PTR>(region.BaseAddress) + region.RegionSize;
    // The piece never runs past the region the query answered for: the next
    // region may be a guard page.
    if (regionEnd > address) {
        ULONGLONG run = regionEnd - address;
        if (run > left) run = left;
        if (run > capacity) run = capacity;
        piece = static_cast<size_t>(run);
    }
    if (!PageMayBeRead(region.State, region.Protect)) return piece;
    SIZE_T read = 0;
    LPCVOID from = reinterpret_cast<LPCVOID>(static_cast<ULONG_PTR>(address));
    if (ReadProcessMemory(process, from, buffer, piece, &read) && read == piece) {
        *readable = TRUE;
        return piece;
    }
    // The run failed as a whole: this page alone, the rest at the next call.
    if (piece > CONTENTS_PAGE) piece = CONTENTS_PAGE;
    *readable = ReadProcessMemory(process, from, buffer, piece, &read) && read == piece;
    return piece;
}

void ReadContentsBytes(HANDLE process, ULONGLONG address, size_t size, BYTE* buffer, BYTE* readable) {
    BYTE page[CONTENTS_PAGE];
    size_t done = 0;
    while (done < size) {
        ULONGLONG at = address + done;
        ULONGLONG pageStart = at - at % CONTENTS_PAGE;
        BOOL ok;
        size_t covered = ReadContentsPiece(process, pageStart, pageStart + CONTENTS_PAGE, page, CONTENTS_PAGE, &ok);
        size_t offset = static_cast<size_t>(at - pageStart);
        size_t n = covered > offset ? covered - offset : 0;
        if (n == 0) n = CONTENTS_PAGE - offset;
        if (n > size - done) n = size - done;
        if (ok) memcpy(buffer + done, page + offset, n);
        memset(readable + done, ok ? 1 : 0, n);
        done += n;
    }
}
