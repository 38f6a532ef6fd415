// Reading another process's memory without changing it: a page is read
// only when VirtualQueryEx, asked just before, says it is committed and
// its protection allows reading without a guard (reading a guard page
// would clear its guard in the other process).
#pragma once

#include "platform/platform.h"

#define CONTENTS_PAGE 4096u
// The most read at once: pages of one query answer, up to this many bytes.
#define CONTENTS_RUN_BYTES 0x10000u

// Whether the process has ended (or can no longer be asked).
BOOL ProcessEnded(HANDLE process);

// Whether a page of this state and protection may be read.
BOOL PageMayBeRead(DWORD state, DWORD protect);

// Reads from `address` (page-aligned) towards `limit`: the pages that one
// query answer covers, at most `capacity` bytes (a multiple of the page).
// Returns the bytes the piece covers (at least one page, never past
// `limit`), and in `*readable` whether they were read into `buffer`; bytes
// of pages that may not be read, or whose read failed, are not.
size_t ReadContentsPiece(HANDLE process, ULONGLONG address, ULONGLONG limit, BYTE* buffer, size_t capacity,
                         BOOL* readable);

// Reads `size` bytes from `address` (within one allocation) into
// `buffer`, page by page through ReadContentsPiece; `readable[i]` says
// whether byte i was read.
void ReadContentsBytes(HANDLE process, ULONGLONG address, size_t size, BYTE* buffer, BYTE* readable);
