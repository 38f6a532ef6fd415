// The heap browser: the heaps of the inspected process, and the blocks of
// the heap the user selects.
#pragma once

#include "app/dialog_jobs.h"
#include "platform/platform.h"

// The identifier of the heap at each line of the heap list, as many as the
// last scan listed (HeapIdCount); the table grows as the scan goes. Heap
// identifiers are pointer-sized: 32 bits in the product, 64 on x86_64.
extern ULONG_PTR* HeapIdTable;
extern UINT HeapIdCount;
// The open HeapDialog, stored when it opens.
extern HWND HeapWindow;

// A block walk: the heap and process to walk, and the selection of the
// HeapDialog it serves.
struct HeapWalkJob {
    ULONG_PTR heapId;
    DWORD pid;
    DialogJob served;
};

int ScanHeapList();
DWORD WINAPI WalkHeapBlocks(LPVOID job);
INT_PTR CALLBACK HeapDialog(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
