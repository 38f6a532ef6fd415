// The platform seam's part for reading what another process's memory is:
// the files behind its mappings, its threads and their stacks, its process
// environment block and heaps. Kept apart from platform/platform.h so that
// the two grow without touching each other.
//
// The native calls (NtQueryInformationThread, NtQueryInformationProcess)
// are found in ntdll at run time, so the program imports nothing new; the
// records they answer and the layouts read from the other process are
// defined here for both sides, since windows.h lacks them.
#pragma once

#include <stddef.h>

#include "platform/platform.h"

#ifndef _WIN32  // Linux host: the subset the memory-use reading needs.

typedef ULONG* PULONG;
typedef const char* LPCSTR;
typedef SIZE_T* PSIZE_T;
typedef INT_PTR(WINAPI* FARPROC)();

#define TH32CS_SNAPTHREAD 0x00000004
#define THREAD_QUERY_INFORMATION 0x0040
#define THREAD_QUERY_LIMITED_INFORMATION 0x0800
#define ERROR_FILE_INVALID 1006

struct THREADENTRY32 {
    DWORD dwSize;
    DWORD cntUsage;
    DWORD th32ThreadID;
    DWORD th32OwnerProcessID;
    LONG tpBasePri;
    LONG tpDeltaPri;
    DWORD dwFlags;
};
typedef THREADENTRY32* LPTHREADENTRY32;

// kernel32
BOOL Thread32First(HANDLE snapshot, LPTHREADENTRY32 entry);
BOOL Thread32Next(HANDLE snapshot, LPTHREADENTRY32 entry);
HANDLE OpenThread(DWORD access, BOOL inherit, DWORD threadId);
BOOL ReadProcessMemory(HANDLE process, LPCVOID address, LPVOID buffer, SIZE_T size, SIZE_T* read);
DWORD QueryDosDeviceW(LPCWSTR device, LPWSTR target, DWORD units);
DWORD GetLogicalDrives(void);
HMODULE GetModuleHandleW(LPCWSTR name);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);

// psapi
DWORD GetMappedFileNameW(HANDLE process, LPVOID address, LPWSTR name, DWORD units);

#endif  // _WIN32

// ---- Both sides --------------------------------------------------------

// ntdll's answer codes are signed 32-bit numbers; 0 and above is success.
typedef LONG MORVANE_NTSTATUS;
#define MORVANE_NT_SUCCESS(status) ((status) >= 0)

// The information classes asked for.
#define MORVANE_INFO_THREAD_BASIC 0   // ThreadBasicInformation
#define MORVANE_INFO_PROCESS_BASIC 0  // ProcessBasicInformation
#define MORVANE_INFO_PROCESS_WOW64 26 // ProcessWow64Information: the 32-bit PEB

typedef MORVANE_NTSTATUS(WINAPI* NtQueryInformationThreadFn)(HANDLE thread, ULONG infoClass, PVOID info,
                                                             ULONG size, ULONG* returned);
typedef MORVANE_NTSTATUS(WINAPI* NtQueryInformationProcessFn)(HANDLE process, ULONG infoClass, PVOID info,
                                                              ULONG size, ULONG* returned);

// NtQueryInformationThread's ThreadBasicInformation, in the caller's width.
struct THREAD_BASIC_INFORMATION {
    LONG ExitStatus;
    PVOID TebBaseAddress;
    HANDLE UniqueProcess;  // the CLIENT_ID
    HANDLE UniqueThread;
    ULONG_PTR AffinityMask;
    LONG Priority;
    LONG BasePriority;
};

// NtQueryInformationProcess's ProcessBasicInformation, in the caller's
// width. (Named apart from winternl.h's, which is never included.)
struct MORVANE_PROCESS_BASIC_INFORMATION {
    LONG ExitStatus;
    PVOID PebBaseAddress;
    ULONG_PTR AffinityMask;
    LONG BasePriority;
    ULONG_PTR UniqueProcessId;
    ULONG_PTR InheritedFromUniqueProcessId;
};

// The head of a thread environment block: its NT_TIB, in the two layouts
// (a 32-bit process's, and a 64-bit process's or the 64-bit half of a
// WoW64 thread). Self holds the block's own address.
struct REMOTE_TIB32 {
    DWORD ExceptionList;
    DWORD StackBase;   // the top of the stack, one past its last byte
    DWORD StackLimit;  // the lowest committed address of the stack
    DWORD SubSystemTib;
    DWORD FiberData;
    DWORD ArbitraryUserPointer;
    DWORD Self;
};
struct REMOTE_TIB64 {
    ULONGLONG ExceptionList;
    ULONGLONG StackBase;
    ULONGLONG StackLimit;
    ULONGLONG SubSystemTib;
    ULONGLONG FiberData;
    ULONGLONG ArbitraryUserPointer;
    ULONGLONG Self;
};
static_assert(sizeof(REMOTE_TIB32) == 0x1C && sizeof(REMOTE_TIB64) == 0x38, "NT_TIB layouts");

// On WoW64 a thread has two TEBs: the 64-bit one, and 0x2000 bytes above
// it the 32-bit one (Windows' layout, which Wine keeps: its unix_private.h
// sets teb_offset to 0x2000 and init_teb places the TEB32 there).
#define WOW64_TEB32_OFFSET 0x2000

// The documented offsets of the heap fields of a process environment
// block: ProcessHeap, NumberOfHeaps, MaximumNumberOfHeaps, ProcessHeaps
// (an array of NumberOfHeaps heap handles; each handle is its heap's base).
struct REMOTE_PEB32 {
    BYTE before[0x18];
    DWORD ProcessHeap;           // 0x18
    BYTE between[0x88 - 0x1C];
    DWORD NumberOfHeaps;         // 0x88
    DWORD MaximumNumberOfHeaps;  // 0x8C
    DWORD ProcessHeaps;          // 0x90
};
struct REMOTE_PEB64 {
    BYTE before[0x30];
    ULONGLONG ProcessHeap;       // 0x30
    BYTE between[0xE8 - 0x38];
    DWORD NumberOfHeaps;         // 0xE8
    DWORD MaximumNumberOfHeaps;  // 0xEC
    ULONGLONG ProcessHeaps;      // 0xF0
};
static_assert(offsetof(REMOTE_PEB32, ProcessHeap) == 0x18 && offsetof(REMOTE_PEB32, NumberOfHeaps) == 0x88 &&
                  offsetof(REMOTE_PEB32, ProcessHeaps) == 0x90,
              "PEB32 heap fields");
static_assert(offsetof(REMOTE_PEB64, ProcessHeap) == 0x30 && offsetof(REMOTE_PEB64, NumberOfHeaps) == 0xE8 &&
                  offsetof(REMOTE_PEB64, ProcessHeaps) == 0xF0,
              "PEB64 heap fields");
