// Reading what another process tells of its allocations: the files behind
// its mappings, its threads' TEBs and stacks, its PEBs and heaps.
//
// Every address read from the other process is only compared with region
// addresses (or read again from that process, a fixed number of bytes):
// none is ever dereferenced here. A part that cannot be read is left out.
#include "uses/use_reading.h"

#include <stdlib.h>

#include "platform/process_read.h"

namespace {

bool StartsWith(LPCWSTR text, LPCWSTR prefix) {
    int length = lstrlenW(prefix);
    return lstrlenW(text) >= length && CompareStringOrdinal(text, length, prefix, length, TRUE) == CSTR_EQUAL;
}

bool IsDriveLetter(WCHAR c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// "X:" followed by the end or a backslash.
bool StartsWithDrive(LPCWSTR text) {
    return IsDriveLetter(text[0]) && text[1] == L':' && (text[2] == 0 || text[2] == L'\\');
}

// Copies as much of `text` as fits in `out` after what it holds.
void AppendCut(WCHAR* out, size_t units, LPCWSTR text) {
    size_t have = static_cast<size_t>(lstrlenW(out));
    while (*text && have + 1 < units) out[have++] = *text++;
    out[have] = 0;
}

// The drives and their devices, asked for once per reading and only when a
// file name begins with a device.
struct DriveTable {
    bool asked;
    size_t count;
    DosDrive drives[DOS_DRIVE_CAPACITY];
};

void AskDrives(DriveTable* table) {
    table->asked = true;
    table->count = 0;
    DWORD mask = GetLogicalDrives();
    for (int i = 0; i < DOS_DRIVE_CAPACITY; ++i) {
        if (!(mask & (1u << i))) continue;
        DosDrive& d = table->drives[table->count];
        d.letter = static_cast<WCHAR>(L'A' + i);
        WCHAR name[3] = {d.letter, L':', 0};
        DWORD got = QueryDosDeviceW(name, d.device, MAX_PATH);
        if (got == 0 || got > MAX_PATH) continue;
        d.device[MAX_PATH - 1] = 0;
        table->count++;
    }
}

void Mark(UseMarks* marks, ULONGLONG address, UseMarkWhat what, DWORD threadId) {
    if (address) AddUseMark(marks, address, what, threadId);
}

// Reads exactly `size` bytes at `address` of the other process.
bool ReadRemote(HANDLE process, ULONGLONG address, void* buffer, SIZE_T size) {
    if (address == 0 || address > static_cast<ULONG_PTR>(-1)) return false;
    SIZE_T read = 0;
    return ReadProcessMemory(process, reinterpret_cast<LPCVOID>(static_cast<ULONG_PTR>(address)), buffer, size,
                             &read) &&
           read == size;
}

// The TEB at `teb` in one layout: marks it and its thread's stack when its
// NT_TIB's Self names that address (which tells that the layout is the
// right one).
bool ReadTeb(HANDLE process, ULONGLONG teb, bool wide, DWORD threadId, UseMarks* marks) {
    ULONGLONG self, stackBase;
    if (wide) {
        REMOTE_TIB64 tib;
        if (!ReadRemote(process, teb, &tib, sizeof tib)) return false;
        self = tib.Self;
        stackBase = tib.StackBase;
    } else {
        REMOTE_TIB32 tib;
        if (!ReadRemote(process, teb, &tib, sizeof tib)) return false;
        self = tib.Self;
        stackBase = tib.StackBase;
    }
    if (self != teb) return false;
    Mark(marks, teb, MARK_TEB, threadId);
    // StackBase is one past the stack's highest byte.
    if (stackBase) Mark(marks, stackBase - 1, MARK_STACK, threadId);
    return true;
}

// The layouts of the process's TEBs and PEBs, by its bitness and ours.
struct Layouts {
    bool native;     // TEBs and the PEB in this program's width
    bool wow64Half;  // a 64-bit program looking at a WoW64 process: its 32-bit TEBs and PEB too
};

Layouts LayoutsOf(HANDLE process) {
    BOOL selfWow64 = FALSE, targetWow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &selfWow64);
    if (!IsWow64Process(process, &targetWow64)) targetWow64 = selfWow64;
    if (sizeof(void*) == 8) return {true, targetWow64 != FALSE};
    // A 32-bit program reads a 32-bit process; a 64-bit one's records lie
    // out of its reach.
    return {selfWow64 == targetWow64, false};
}

// One thread the snapshot gave to process `pid`. The thread may have ended
// since, and its ID been given to a thread of another process: a thread
// whose client ID names another process is left out.
void ReadThread(HANDLE process, DWORD pid, NtQueryInformationThreadFn query, DWORD threadId, Layouts layouts,
                UseMarks* marks) {
    HANDLE thread = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, threadId);
    if (!thread) thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, threadId);
    if (!thread) return;
    THREAD_BASIC_INFORMATION info = {};
    MORVANE_NTSTATUS status = query(thread, MORVANE_INFO_THREAD_BASIC, &info, sizeof info, nullptr);
    CloseHandle(thread);
    ULONGLONG teb = reinterpret_cast<ULONG_PTR>(info.TebBaseAddress);
    if (!MORVANE_NT_SUCCESS(status) || teb == 0 || reinterpret_cast<ULONG_PTR>(info.UniqueProcess) != pid) return;
    const bool wide = sizeof(void*) == 8;
    if (!layouts.wow64Half) {
        ReadTeb(process, teb, wide, threadId, marks);
        return;
    }
    // A WoW64 thread: the 64-bit TEB and, 0x2000 above it, the 32-bit one.
    // Wine's older WoW64 answers with the 32-bit TEB instead, the 64-bit one
    // then lying 0x2000 below it: the Self check keeps the right ones.
    bool got64 = ReadTeb(process, teb, true, threadId, marks);
    bool got32 = ReadTeb(process, teb + WOW64_TEB32_OFFSET, false, threadId, marks);
    if (!got64 && !got32 && ReadTeb(process, teb, false, threadId, marks) && teb > WOW64_TEB32_OFFSET)
        ReadTeb(process, teb - WOW64_TEB32_OFFSET, true, threadId, marks);
}

void ReadThreads(HANDLE process, DWORD pid, NtQueryInformationThreadFn query, Layouts layouts, UseMarks* marks) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == pid) ReadThread(process, pid, query, entry.th32ThreadID, layouts, marks);
    }
    CloseHandle(snapshot);
}

// A PEB in one layout: marks it, its ProcessHeap and the heaps it lists.
// The list is taken only when it begins with ProcessHeap; of a list longer
// than USE_HEAP_LIST_CAPACITY (which no real process has: the count is
// then garbage, or hostile) the first entries are read.
void ReadPeb(HANDLE process, ULONGLONG peb, bool wide, bool defaultHeap, UseMarks* marks) {
    ULONGLONG processHeap = 0, list = 0;
    DWORD heaps = 0;
    if (wide) {
        REMOTE_PEB64 head;
        if (!ReadRemote(process, peb, &head, sizeof head)) return;
        processHeap = head.ProcessHeap;
        heaps = head.NumberOfHeaps;
        list = head.ProcessHeaps;
    } else {
        REMOTE_PEB32 head;
        if (!ReadRemote(process, peb, &head, sizeof head)) return;
        processHeap = head.ProcessHeap;
        heaps = head.NumberOfHeaps;
        list = head.ProcessHeaps;
    }
    Mark(marks, peb, MARK_PEB, 0);
    Mark(marks, processHeap, defaultHeap ? MARK_DEFAULT_HEAP : MARK_HEAP, 0);
    if (heaps == 0) return;
    if (heaps > USE_HEAP_LIST_CAPACITY) heaps = USE_HEAP_LIST_CAPACITY;
    // Room for the handles in either width, the narrow ones widened in place
    // from the last down.
    ULONGLONG* handles = static_cast<ULONGLONG*>(malloc(heaps * sizeof(ULONGLONG)));
    if (!handles) return;
    bool read = ReadRemote(process, list, handles, heaps * (wide ? sizeof(ULONGLONG) : sizeof(DWORD)));
    if (read && !wide) {
        const DWORD* narrow = reinterpret_cast<const DWORD*>(handles);
        for (DWORD i = heaps; i-- > 0;) handles[i] = narrow[i];
    }
    if (read && handles[0] == processHeap) {
        for (DWORD i = 1; i < heaps; ++i)
            if (handles[i] != processHeap) Mark(marks, handles[i], MARK_HEAP, 0);
    }
    free(handles);
}

void ReadPebs(HANDLE process, NtQueryInformationProcessFn query, Layouts layouts, UseMarks* marks) {
    const bool wide = sizeof(void*) == 8;
    MORVANE_PROCESS_BASIC_INFORMATION basic = {};
    if (layouts.native &&
        MORVANE_NT_SUCCESS(query(process, MORVANE_INFO_PROCESS_BASIC, &basic, sizeof basic, nullptr)))
        // A WoW64 process's program uses the 32-bit PEB's default heap.
        ReadPeb(process, reinterpret_cast<ULONG_PTR>(basic.PebBaseAddress), wide, !layouts.wow64Half, marks);
    ULONG_PTR peb32 = 0;
    if (layouts.wow64Half &&
        MORVANE_NT_SUCCESS(query(process, MORVANE_INFO_PROCESS_WOW64, &peb32, sizeof peb32, nullptr)) && peb32)
        ReadPeb(process, peb32, false, true, marks);
}

// An ntdll routine, found at run time.
template <typename Fn>
Fn NtdllRoutine(const char* name) {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    FARPROC routine = ntdll ? GetProcAddress(ntdll, name) : nullptr;
    // Through the generic function type, which any routine converts to.
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)(void)>(routine));
}

}  // namespace

void DrivePath(LPCWSTR mapped, const DosDrive* drives, size_t driveCount, WCHAR* out, size_t units) {
    if (units == 0) return;
    out[0] = 0;
    if ((StartsWith(mapped, L"\\??\\") || StartsWith(mapped, L"\\\\?\\")) && StartsWithDrive(mapped + 4)) {
        AppendCut(out, units, mapped + 4);
        return;
    }
    const WCHAR* uncPrefixes[] = {L"\\??\\UNC\\", L"\\Device\\Mup\\"};
    for (const WCHAR* prefix : uncPrefixes) {
        if (!StartsWith(mapped, prefix)) continue;
        AppendCut(out, units, L"\\\\");
        AppendCut(out, units, mapped + lstrlenW(prefix));
        return;
    }
    // The longest device that begins the path, as a whole name.
    const DosDrive* best = nullptr;
    int bestLength = 0;
    for (size_t i = 0; i < driveCount; ++i) {
        int length = lstrlenW(drives[i].device);
        WCHAR after = lstrlenW(mapped) >= length ? mapped[length] : 0;
        if (length > bestLength && drives[i].device[0] == L'\\' && StartsWith(mapped, drives[i].device) &&
            (after == 0 || after == L'\\')) {
            best = &drives[i];
            bestLength = length;
        }
    }
    if (!best) {
        AppendCut(out, units, mapped);
        return;
    }
    WCHAR drive[3] = {best->letter, L':', 0};
    AppendCut(out, units, drive);
    AppendCut(out, units, mapped + bestLength);
}

void ReadAllocationFiles(HANDLE process, Allocation* allocations, size_t count, UseTexts* texts) {
    DriveTable drives;
    drives.asked = false;
    WCHAR name[USE_DETAIL_UNITS], path[USE_DETAIL_UNITS];
    for (size_t i = 0; i < count; ++i) {
        Allocation& a = allocations[i];
        if (a.type != MEM_IMAGE && a.type != MEM_MAPPED) continue;
        LPVOID base = reinterpret_cast<LPVOID>(static_cast<ULONG_PTR>(a.base));
        DWORD length = GetMappedFileNameW(process, base, name, USE_DETAIL_UNITS);
        if (length == 0) {
            // A section with no file behind it; any other failure leaves the
            // allocation as its type says, without 详情.
            if (a.type == MEM_MAPPED && GetLastError() == ERROR_FILE_INVALID) a.kind = USE_SHARED_MEMORY;
            continue;
        }
        name[length < USE_DETAIL_UNITS ? length : USE_DETAIL_UNITS - 1] = 0;
        if (StartsWith(name, L"\\Device\\") && !drives.asked) AskDrives(&drives);
        DrivePath(name, drives.drives, drives.asked ? drives.count : 0, path, USE_DETAIL_UNITS);
        a.detail = KeepUseText(texts, path);
    }
}

void ReadUseMarks(HANDLE process, DWORD pid, UseMarks* marks) {
    Layouts layouts = LayoutsOf(process);
    if (!layouts.native && !layouts.wow64Half) return;
    auto queryThread = NtdllRoutine<NtQueryInformationThreadFn>("NtQueryInformationThread");
    auto queryProcess = NtdllRoutine<NtQueryInformationProcessFn>("NtQueryInformationProcess");
    if (queryThread) ReadThreads(process, pid, queryThread, layouts, marks);
    if (queryProcess) ReadPebs(process, queryProcess, layouts, marks);
}
