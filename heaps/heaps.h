// The heap browser: the heaps of the inspected process, and the blocks of
// the heap the user selects.
#pragma once

#include "app/dialog_jobs.h"
#include "platform/platform.h"

#define HEAP_ID_CAPACITY 1000

// Heap identifiers are pointer-sized: 32 bits in the product, 64 on x86_64.
extern ULONG_PTR HeapIdTable[HEAP_ID_CAPACITY];
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
