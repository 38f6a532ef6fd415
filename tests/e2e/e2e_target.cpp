// The end-to-end target: a process whose memory the driver knows.
//
//   e2e_target REPORT MODE [PARENT_PID]
//
// MODE "known":   regions at fixed low addresses with chosen allocation
//                 protections and free gaps between them (on x86_64 also a
//                 committed and a reserved region above 4 GB), a few DLLs
//                 loaded on purpose, a view of a file it writes beside
//                 REPORT, a thread of its own that waits, and allocations
//                 it changes on the driver's signal (kChanging).
// MODE "regions": 10,000 allocations below 4 GB, each 64 KB reserved with its
//                 first 4 KB committed: 20,000 regions.
// MODE "commit":  1.5 GB committed below 2 GB (never touched).
// MODE "allocations": 20,000 allocations of 64 KB committed whole, below
//                 4 GB: 20,000 regions that are 20,000 allocations.
// MODE "contents": one 64 MB allocation at 0x30000000 committed whole and
//                 full of text lines, for the timed "内存内容" runs.
//
// It writes REPORT (UTF-8, one record a line: its PID, its regions, then
// every module as its own psapi sees it, in "known" mode the mapped file as
// "mapped BASE PATH" and the waiting thread as "thread ID", then "ready"),
// and then waits until
// PARENT_PID ends (or forever without one) or the driver sets the event
// "morvane-e2e-exit-PID", when it exits with 0.
#include <windows.h>
#include <psapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const ULONG_PTR kGranularity = 0x10000;

struct KnownRegion {
    ULONG_PTR base;
    SIZE_T reserve;
    SIZE_T commit;  // committed from base; 0 = reserve only
    DWORD protect;
};

// Free 64 KB-aligned gaps lie between all of them.
const KnownRegion kKnown[] = {
    {0x20000000, 0x40000, 0x10000, PAGE_READWRITE},
    {0x20100000, 0x20000, 0x20000, PAGE_EXECUTE_READWRITE},
    {0x20200000, 0x10000, 0x10000, PAGE_READWRITE | PAGE_GUARD},
    {0x20300000, 0x80000, 0, PAGE_NOACCESS},
};

#ifdef _WIN64
// Above 4 GB, where only a 64-bit process has address space. Their low 32
// bits (0x40000000, 0x48000000) fall where nothing lies below 4 GB, so a span
// cut to its low half would mark map rows that are otherwise plain blue.
const KnownRegion kKnownHigh[] = {
    {0x540000000ull, 0x10000, 0x10000, PAGE_READWRITE},
    {0x548000000ull, 0x40000, 0, PAGE_READWRITE},
};
#endif

FILE* report = nullptr;
HANDLE exitEvent = nullptr;

void Fail(const char* what) {
    fprintf(stderr, "e2e_target: %s failed (error %lu)\n", what, GetLastError());
    if (report) fprintf(report, "error %s %lu\n", what, GetLastError());
}

// Reserves and commits `r`, written into REPORT when `reported`.
bool Place(const KnownRegion& r, bool reported = true) {
    void* base = VirtualAlloc(reinterpret_cast<void*>(r.base), r.reserve, MEM_RESERVE, r.protect);
    if (base != reinterpret_cast<void*>(r.base)) {
        Fail("fixed reserve");
        return false;
    }
    if (r.commit && !VirtualAlloc(base, r.commit, MEM_COMMIT, r.protect)) {
        Fail("commit");
        return false;
    }
    if (reported)
        fprintf(report, "region 0x%llx 0x%llx 0x%llx 0x%lx\n", (unsigned long long)r.base,
                (unsigned long long)r.reserve, (unsigned long long)r.commit, r.protect);
    return true;
}

// Writes 64 KB into REPORT.PID.map (a name of its own, as two targets may
// share REPORT) and maps a view of it, both kept open; the file goes when
// the target ends.
bool MapFile(const wchar_t* reportPath) {
    wchar_t name[MAX_PATH], path[MAX_PATH];
    _snwprintf(name, MAX_PATH, L"%ls.%lu.map", reportPath, GetCurrentProcessId());
    name[MAX_PATH - 1] = 0;
    DWORD length = GetFullPathNameW(name, MAX_PATH, path, nullptr);
    HANDLE file = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    static char content[0x10000];
    DWORD written = 0;
    HANDLE mapping = length > 0 && length < MAX_PATH && file != INVALID_HANDLE_VALUE &&
                             WriteFile(file, content, sizeof content, &written, nullptr) && written == sizeof content
                         ? CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr)
                         : nullptr;
    void* view = mapping ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
    if (!view) {
        Fail("mapped file");
        return false;
    }
    char utf8[MAX_PATH * 3];
    WideCharToMultiByte(CP_UTF8, 0, path, -1, utf8, sizeof utf8, nullptr, nullptr);
    fprintf(report, "mapped 0x%llx %s\n", (unsigned long long)reinterpret_cast<ULONG_PTR>(view), utf8);
    return true;
}

DWORD WINAPI Wait(LPVOID) {
    WaitForSingleObject(exitEvent, INFINITE);
    return 0;
}

bool StartWaitingThread() {
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, Wait, nullptr, 0, &id);
    if (!thread) Fail("CreateThread");
    else CloseHandle(thread), fprintf(report, "thread %lu\n", id);
    return thread != nullptr;
}

// The allocation the "内存内容" checks read, at 0x20500000: known bytes and
// strings in its first two pages, a guard page after them, the rest
// reserved.
bool MakeContents() {
    BYTE* p = reinterpret_cast<BYTE*>(0x20500000);
    DWORD old;
    if (!Place({0x20500000, 0x10000, 0x3000, PAGE_READWRITE}, false)) return false;
    memcpy(p + 0x10, "Morvane e2e bytes", 17);
    memcpy(p + 0x100, L"内存内容测试", 12);
    memcpy(p + 0xFF8, "CrossPageString", 15);
    for (int i = 0; i < 256; ++i) p[0x1800 + i] = static_cast<BYTE>(i);
    if (!VirtualProtect(p + 0x2000, 0x1000, PAGE_READWRITE | PAGE_GUARD, &old)) return Fail("guard page"), false;
    return true;
}

// 64 MB of numbered text lines, one each 128 bytes, zeros between them.
bool MakeBigContents() {
    const SIZE_T size = 64 << 20;
    char* p = static_cast<char*>(VirtualAlloc(reinterpret_cast<void*>(0x30000000), size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (!p) {
        Fail("64 MB allocation");
        return false;
    }
    for (SIZE_T at = 0; at < size; at += 128) snprintf(p + at, 100, "Morvane strings line %08lu of the 64 MB test", static_cast<unsigned long>(at / 128));
    return true;
}

// The allocations the driver's signal "morvane-e2e-change-PID" changes,
// each signal answered by "morvane-e2e-changed-PID": on the first,
// 0x21000000 is made (64 KB), 0x21100000 freed (64 KB), 0x21200000 grown
// (+128 KB), 0x21300000 shrunk (-64 KB) and the first page of 0x21400000
// made read-only; on the second 0x21500000 is made (64 KB).
const KnownRegion kChanging[] = {{0x21100000, 0x10000, 0x10000, PAGE_READWRITE},
                                 {0x21200000, 0x40000, 0x10000, PAGE_READWRITE},
                                 {0x21300000, 0x40000, 0x20000, PAGE_READWRITE},
                                 {0x21400000, 0x10000, 0x10000, PAGE_READWRITE}};

HANDLE NamedEvent(const wchar_t* prefix) {
    wchar_t name[64];
    _snwprintf(name, 64, L"%ls%lu", prefix, GetCurrentProcessId());
    name[63] = 0;
    return CreateEventW(nullptr, FALSE, FALSE, name);
}

DWORD WINAPI MakeChanges(LPVOID signal) {
    HANDLE changed = NamedEvent(L"morvane-e2e-changed-");
    DWORD old;
    WaitForSingleObject(signal, INFINITE);
    VirtualAlloc(reinterpret_cast<void*>(0x21000000), 0x10000, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    VirtualFree(reinterpret_cast<void*>(0x21100000), 0, MEM_RELEASE);
    VirtualAlloc(reinterpret_cast<void*>(0x21210000), 0x20000, MEM_COMMIT, PAGE_READWRITE);
    VirtualFree(reinterpret_cast<void*>(0x21310000), 0x10000, MEM_DECOMMIT);
    VirtualProtect(reinterpret_cast<void*>(0x21400000), 0x1000, PAGE_READONLY, &old);
    SetEvent(changed);
    WaitForSingleObject(signal, INFINITE);
    VirtualAlloc(reinterpret_cast<void*>(0x21500000), 0x10000, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    SetEvent(changed);
    return 0;
}

bool PrepareChanges() {
    for (const KnownRegion& r : kChanging)
        if (!Place(r, false)) return false;
    HANDLE thread = CreateThread(nullptr, 0, MakeChanges, NamedEvent(L"morvane-e2e-change-"), 0, nullptr);
    if (!thread) return Fail("change thread"), false;
    CloseHandle(thread);
    return true;
}

bool MakeKnown(const wchar_t* reportPath) {
    if (!MakeContents()) return false;
    for (const KnownRegion& r : kKnown) {
        if (!Place(r)) return false;
    }
#ifdef _WIN64
    for (const KnownRegion& r : kKnownHigh) {
        if (!Place(r)) return false;
    }
#endif
    const wchar_t* dlls[] = {L"version.dll", L"comctl32.dll", L"shlwapi.dll"};
    for (const wchar_t* dll : dlls) {
        if (!LoadLibraryW(dll)) {
            Fail("LoadLibrary");
            return false;
        }
    }
    return MapFile(reportPath) && StartWaitingThread() && PrepareChanges();
}

// Places `count` allocations of `size` bytes at fixed addresses below
// `limit`, trying each allocation-granularity step from `from` up.
// `commit` bytes of each are committed (all of it when commit == size).
bool PlaceBelow(ULONG_PTR from, ULONG_PTR limit, unsigned count, SIZE_T size, SIZE_T commit) {
    // Tries every 64 KB step: 32-bit Wine reports some free space as
    // reserved, so the reported state cannot tell where a reservation fits.
    ULONG_PTR cursor = from;
    unsigned placed = 0;
    while (placed < count && cursor + size <= limit) {
        void* p = VirtualAlloc(reinterpret_cast<void*>(cursor), size, MEM_RESERVE, PAGE_READWRITE);
        if (p != reinterpret_cast<void*>(cursor)) {
            if (p) VirtualFree(p, 0, MEM_RELEASE);
            cursor += kGranularity;
            continue;
        }
        if (!VirtualAlloc(p, commit, MEM_COMMIT, PAGE_READWRITE)) {
            Fail("commit");
            return false;
        }
        ++placed;
        cursor += (size + kGranularity - 1) & ~(kGranularity - 1);
    }
    fprintf(report, "placed %u of %u\n", placed, count);
    return placed == count;
}

bool MakeManyRegions() {
    return PlaceBelow(0x10000000, 0xF0000000, 10000, 0x10000, 0x1000);
}

bool MakeBigCommit() {
    // 1.5 GB in six pieces of 256 MB, wherever they fit below 2 GB.
    return PlaceBelow(0x01000000, 0x80000000, 6, 0x10000000, 0x10000000);
}

bool ReportModules() {
    HMODULE modules[512];
    DWORD needed = 0;
    HANDLE self = GetCurrentProcess();
    if (!EnumProcessModules(self, modules, sizeof modules, &needed)) {
        Fail("EnumProcessModules");
        return false;
    }
    DWORD count = needed / sizeof(HMODULE);
    if (count > 512) count = 512;
    for (DWORD i = 0; i < count; ++i) {
        wchar_t name[MAX_PATH];
        MODULEINFO info;
        if (!GetModuleBaseNameW(self, modules[i], name, MAX_PATH) ||
            !GetModuleInformation(self, modules[i], &info, sizeof info)) {
            Fail("module query");
            return false;
        }
        char utf8[MAX_PATH * 3];
        WideCharToMultiByte(CP_UTF8, 0, name, -1, utf8, sizeof utf8, nullptr, nullptr);
        fprintf(report, "module 0x%llx 0x%lx 0x%llx %s\n",
                (unsigned long long)reinterpret_cast<ULONG_PTR>(info.lpBaseOfDll), info.SizeOfImage,
                (unsigned long long)reinterpret_cast<ULONG_PTR>(info.EntryPoint), utf8);
    }
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: e2e_target REPORT known|regions|commit [PARENT_PID]\n");
        return 2;
    }
    wchar_t partial[MAX_PATH];
    _snwprintf(partial, MAX_PATH, L"%ls.part", argv[1]);
    partial[MAX_PATH - 1] = 0;
    report = _wfopen(partial, L"w");
    if (!report) return 3;
    fprintf(report, "pid %lu\n", GetCurrentProcessId());
    wchar_t exitName[64];
    _snwprintf(exitName, 64, L"morvane-e2e-exit-%lu", GetCurrentProcessId());
    exitName[63] = 0;
    exitEvent = CreateEventW(nullptr, TRUE, FALSE, exitName);
    HANDLE waits[2] = {exitEvent, nullptr};
    if (!waits[0]) {
        Fail("exit event");
        return 5;
    }

    bool ok = true;
    if (wcscmp(argv[2], L"known") == 0) ok = MakeKnown(argv[1]);
    else if (wcscmp(argv[2], L"regions") == 0) ok = MakeManyRegions();
    else if (wcscmp(argv[2], L"commit") == 0) ok = MakeBigCommit();
    else if (wcscmp(argv[2], L"contents") == 0) ok = MakeBigContents();
    else if (wcscmp(argv[2], L"allocations") == 0) ok = PlaceBelow(0x10000000, 0xF0000000, 20000, 0x10000, 0x10000);
    else ok = false;
    ok = ok && ReportModules();
    fprintf(report, ok ? "ready\n" : "failed\n");
    fclose(report);
    // The driver waits for the finished name: it never reads half a report.
    if (!MoveFileExW(partial, argv[1], MOVEFILE_REPLACE_EXISTING)) return 4;
    if (!ok) return 1;

    if (argc > 3) {
        waits[1] = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(wcstoul(argv[3], nullptr, 10)));
    }
    WaitForMultipleObjects(waits[1] ? 2 : 1, waits, FALSE, INFINITE);
    return 0;
}
