// The fake's world for reading another process. See fake_process_read.h.
#include "tests/fake/fake_process_read.h"

#include <string.h>

#include <algorithm>

namespace {

enum Tag { TagProcess = 0, TagThreadSnapshot = 1, TagThread = 2 };

const MORVANE_NTSTATUS StatusAccessDenied = static_cast<MORVANE_NTSTATUS>(0xC0000022u);
const MORVANE_NTSTATUS StatusInvalidInfoClass = static_cast<MORVANE_NTSTATUS>(0xC0000003u);

struct Reading {
    std::map<DWORD, fake::ProcessReading> processes;
    std::map<char16_t, std::u16string> devices;
    // A thread snapshot's threads (ID, owner) and its next step.
    struct Snapshot {
        std::vector<std::pair<DWORD, DWORD>> threads;
        size_t next = 0;
    };
    std::map<HANDLE, Snapshot> snapshots;
};

Reading& R() {
    static Reading* reading = new Reading;
    return *reading;
}

// The process a handle with all of `rights` names, or null.
fake::ProcessReading* ProcessFor(HANDLE handle, DWORD rights) {
    int tag;
    DWORD pid, access;
    if (!fake::HandleInfo(handle, &tag, &pid, &access) || tag != TagProcess || (access & rights) != rights)
        return nullptr;
    return &R().processes[pid];
}

const fake::Thread* FindThread(DWORD id, DWORD* owner) {
    for (auto& p : R().processes)
        for (const fake::Thread& t : p.second.threads)
            if (t.id == id) {
                if (owner) *owner = p.first;
                return &t;
            }
    return nullptr;
}

BOOL ThreadStep(HANDLE snapshot, LPTHREADENTRY32 entry, bool first) {
    std::lock_guard<std::recursive_mutex> lock(fake::WorldLock());
    auto it = R().snapshots.find(snapshot);
    int tag;
    DWORD id, access;
    if (it == R().snapshots.end() || !fake::HandleInfo(snapshot, &tag, &id, &access) || !entry ||
        entry->dwSize != sizeof(THREADENTRY32)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (first) it->second.next = 0;
    if (it->second.next >= it->second.threads.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    const auto& t = it->second.threads[it->second.next++];
    entry->th32ThreadID = t.first;
    entry->th32OwnerProcessID = t.second;
    return TRUE;
}

MORVANE_NTSTATUS WINAPI FakeQueryThread(HANDLE thread, ULONG infoClass, PVOID info, ULONG size, ULONG* returned) {
    std::lock_guard<std::recursive_mutex> lock(fake::WorldLock());
    int tag;
    DWORD id, access;
    if (!fake::HandleInfo(thread, &tag, &id, &access) || tag != TagThread ||
        !(access & (THREAD_QUERY_LIMITED_INFORMATION | THREAD_QUERY_INFORMATION)))
        return StatusAccessDenied;
    const fake::Thread* t = FindThread(id, nullptr);
    if (infoClass != MORVANE_INFO_THREAD_BASIC || size != sizeof(THREAD_BASIC_INFORMATION) || !t)
        return StatusInvalidInfoClass;
    THREAD_BASIC_INFORMATION* basic = static_cast<THREAD_BASIC_INFORMATION*>(info);
    *basic = {};
    basic->TebBaseAddress = reinterpret_cast<PVOID>(t->teb);
    if (returned) *returned = size;
    return 0;
}

MORVANE_NTSTATUS WINAPI FakeQueryProcess(HANDLE process, ULONG infoClass, PVOID info, ULONG size, ULONG* returned) {
    std::lock_guard<std::recursive_mutex> lock(fake::WorldLock());
    fake::ProcessReading* p = ProcessFor(process, PROCESS_QUERY_INFORMATION);
    if (!p) return StatusAccessDenied;
    if (infoClass != MORVANE_INFO_PROCESS_BASIC || size != sizeof(MORVANE_PROCESS_BASIC_INFORMATION))
        return StatusInvalidInfoClass;
    MORVANE_PROCESS_BASIC_INFORMATION* basic = static_cast<MORVANE_PROCESS_BASIC_INFORMATION*>(info);
    *basic = {};
    basic->PebBaseAddress = reinterpret_cast<PVOID>(p->peb);
    if (returned) *returned = size;
    return 0;
}

}  // namespace

// The module handle GetModuleHandleW gives for ntdll.
struct HINSTANCE__ {
    int unused;
};
static HINSTANCE__ ntdll;

// ---- kernel32 and psapi -----------------------------------------------------

BOOL Thread32First(HANDLE snapshot, LPTHREADENTRY32 entry) { return ThreadStep(snapshot, entry, true); }
BOOL Thread32Next(HANDLE snapshot, LPTHREADENTRY32 entry) { return ThreadStep(snapshot, entry, false); }

HANDLE OpenThread(DWORD access, BOOL, DWORD threadId) {
    std::lock_guard<std::recursive_mutex> lock(fake::WorldLock());
    const fake::Thread* t = FindThread(threadId, nullptr);
    if (!t || (access & ~t->grantedAccess)) {
        SetLastError(t ? ERROR_ACCESS_DENIED : ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return fake::NewTaggedHandle(TagThread, threadId, access);
}

BOOL ReadProcessMemory(HANDLE process, LPCVOID address, LPVOID buffer, SIZE_T size, SIZE_T* read) {
    std::lock_guard<std::recursive_mutex> lock(fake::WorldLock());
    if (read) *read = 0;
    fake::ProcessReading* p = ProcessFor(process, PROCESS_VM_READ);
    ULONG_PTR start = reinterpret_cast<ULONG_PTR>(address);
    if (p) {
        auto block = p->memory.upper_bound(start);
        if (block != p->memory.begin()) {
            --block;
            ULONG_PTR offset = start - block->first;
            if (offset <= block->second.size() && size <= block->second.size() - offset) {
                memcpy(buffer, block->second.data() + offset, size);
                if (read) *read = size;
                return TRUE;
            }
        }
    }
    SetLastError(p ? ERROR_PARTIAL_COPY : ERROR_ACCESS_DENIED);
    return FALSE;
}

DWORD GetMappedFileNameW(HANDLE process, LPVOID address, LPWSTR name, DWORD units) {
    std::lock_guard<std::recursive_mutex> lock(fake::WorldLock());
    fake::ProcessReading* p = ProcessFor(process, PROCESS_QUERY_INFORMATION);
    auto file = p ? p->mappedFiles.find(reinterpret_cast<ULONG_PTR>(address)) : decltype(p->mappedFiles.end())();
    if (!p || file == p->mappedFiles.end() || units == 0) {
        SetLastError(p ? ERROR_FILE_INVALID : ERROR_ACCESS_DENIED);
        return 0;
    }
    // Cut to the buffer, as the platform does.
    DWORD n = static_cast<DWORD>(std::min<size_t>(file->second.size(), units - 1));
    for (DWORD i = 0; i < n; ++i) name[i] = static_cast<WCHAR>(file->second[i]);
    name[n] = 0;
    return n;
}

DWORD GetLogicalDrives(void) {
    std::lock_guard<std::recursive_mutex> lock(fake::WorldLock());
    DWORD mask = 0;
    for (const auto& d : R().devices) mask |= 1u << (d.first - u'A');
    return mask;
}

DWORD QueryDosDeviceW(LPCWSTR device, LPWSTR target, DWORD units) {
    std::lock_guard<std::recursive_mutex> lock(fake::WorldLock());
    auto d = lstrlenW(device) == 2 && device[1] == L':' ? R().devices.find(static_cast<char16_t>(device[0]))
                                                         : R().devices.end();
    if (d == R().devices.end() || d->second.size() + 2 > units) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // The names, each with its terminator, and one more terminator.
    for (size_t i = 0; i < d->second.size(); ++i) target[i] = static_cast<WCHAR>(d->second[i]);
    target[d->second.size()] = 0;
    target[d->second.size() + 1] = 0;
    return static_cast<DWORD>(d->second.size() + 2);
}

HMODULE GetModuleHandleW(LPCWSTR name) {
    return fake::Utf8(name) == "ntdll.dll" ? &ntdll : nullptr;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
    if (module != &ntdll) return nullptr;
    void (*routine)(void) = nullptr;
    if (strcmp(name, "NtQueryInformationThread") == 0) routine = reinterpret_cast<void (*)(void)>(FakeQueryThread);
    if (strcmp(name, "NtQueryInformationProcess") == 0) routine = reinterpret_cast<void (*)(void)>(FakeQueryProcess);
    return reinterpret_cast<FARPROC>(routine);
}

// ---- the test-facing side ---------------------------------------------------

namespace fake {

ProcessReading& ReadingOf(DWORD pid) {
    std::lock_guard<std::recursive_mutex> lock(WorldLock());
    return R().processes[pid];
}

void WriteMemory(DWORD pid, ULONG_PTR address, const void* bytes, size_t size) {
    std::lock_guard<std::recursive_mutex> lock(WorldLock());
    const BYTE* b = static_cast<const BYTE*>(bytes);
    R().processes[pid].memory[address].assign(b, b + size);
}

void SetDosDevices(const std::map<char16_t, std::u16string>& devices) {
    std::lock_guard<std::recursive_mutex> lock(WorldLock());
    R().devices = devices;
}

HANDLE ThreadSnapshot() {
    std::lock_guard<std::recursive_mutex> lock(WorldLock());
    HANDLE snapshot = NewTaggedHandle(TagThreadSnapshot, 0, 0);
    Reading::Snapshot& s = R().snapshots[snapshot];
    for (const auto& p : R().processes)
        for (const Thread& t : p.second.threads) s.threads.push_back({t.id, p.first});
    return snapshot;
}

void ResetProcessReading() {
    std::lock_guard<std::recursive_mutex> lock(WorldLock());
    R().processes.clear();
    R().devices.clear();
    R().snapshots.clear();
}

}  // namespace fake
