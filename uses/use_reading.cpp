// Reading what another process tells of its allocations.
#include "uses/use_reading.h"

#include "platform/process_read.h"

void ReadAllocationFiles(HANDLE, Allocation*, size_t) {}

void ReadUseMarks(HANDLE, DWORD, UseMarks*) {}
