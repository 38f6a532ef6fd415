// The fake's world for reading another process. See fake_process_read.h.
#include "tests/fake/fake_process_read.h"

#include <string.h>

#include <algorithm>

// The module handle GetModuleHandleW gives for ntdll.
struct HINSTANCE__ {
    int unused;
};

namespace {

enum Tag { TagProcess = 0, TagThreadSnapshot = 1, TagThread = 2 };
const MORVANE_NTSTATUS StatusAccessDenied = static_cast<MORVANE_NTSTATUS>(0xC0000022u);

HINSTANCE__ ntdll;
std::map<DWORD, fake::ProcessReading> processes;
std::map<HANDLE, size_t> snapshotSteps;  // a thread snapshot's next step
std::map<char, std::u16string> dosDevices;  // by drive letter

// The process an open handle names with all of `rights`, or null; or the
// id of a handle of another tag.
fake::ProcessReading* Opened(HANDLE handle, DWORD rights, int wantedTag = TagProcess, DWORD* id = nullptr) {
    int tag;
    DWORD pid, access;
    if (!fake::HandleInfo(handle, &tag, &pid, &access) || tag != wantedTag || !(access & rights)) return nullptr;
    if (id) *id = pid;
    return &processes[pid];
}

// Every thread, with its process.
std::vector<std::pair<DWORD, const fake::Thread*>> Threads() {
    std::vector<std::pair<DWORD, const fake::Thread*>> all;
    for (auto& p : processes)
        for (const fake::Thread& t : p.second.threads) all.push_back({p.first, &t});
    return all;
}

BOOL ThreadStep(HANDLE snapshot, LPTHREADENTRY32 entry, bool first) {
    std::lock_guard<std::recursive_mutex> lock(fake::WorldLock());
    if (!Opened(snapshot, ~0u, TagThreadSnapshot) || entry->dwSize != sizeof(THREADENTRY32)) return FALSE;
    size_t& step = snapshotSteps[snapshot];
    if (first) step = 0;
    auto all = Threads();
    if (step >= all.size()) return FALSE;
    entry->th32OwnerProcessID = all[step].first;
    entry->th32ThreadID = all[step++].second->id;
    return TRUE;
}

MORVANE_NTSTATUS WINAPI QueryThread(HANDLE thread, ULONG infoClass, PVOID info, ULONG size, ULONG*) {
    std::lock_guard<std::recursive_mutex> lock(fake::WorldLock());
    DWORD id = 0;
    if (!Opened(thread, THREAD_QUERY_LIMITED_INFORMATION | THREAD_QUERY_INFORMATION, TagThread, &id) ||
        infoClass != MORVANE_INFO_THREAD_BASIC || size != sizeof(THREAD_BASIC_INFORMATION))
        return StatusAccessDenied;
    for (auto& t : Threads()) {
        if (t.second->id != id) continue;
        auto* basic = static_cast<THREAD_BASIC_INFORMATION*>(info);
        basic->TebBaseAddress = reinterpret_cast<PVOID>(t.second->teb);
        DWORD owner = t.second->processNow ? t.second->processNow : t.first;
        basic->UniqueProcess = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(owner));
    }
    return 0;
}

MORVANE_NTSTATUS WINAPI QueryProcess(HANDLE process, ULONG infoClass, PVOID info, ULONG size, ULONG*) {
    std::lock_guard<std::recursive_mutex> lock(fake::WorldLock());
    fake::ProcessReading* p = Opened(process, PROCESS_QUERY_INFORMATION);
    if (p && infoClass == MORVANE_INFO_PROCESS_WOW64 && size == sizeof(ULONG_PTR)) {
        *static_cast<ULONG_PTR*>(info) = p->peb32;
        return 0;
    }
    if (!p || infoClass != MORVANE_INFO_PROCESS_BASIC || size != sizeof(MORVANE_PROCESS_BASIC_INFORMATION))
        return StatusAccessDenied;
    static_cast<MORVANE_PROCESS_BASIC_INFORMATION*>(info)->PebBaseAddress = reinterpret_cast<PVOID>(p->peb);
    return 0;
}

}  // namespace

BOOL Thread32First(HANDLE snapshot, LPTHREADENTRY32 entry) { return ThreadStep(snapshot, entry, true); }
BOOL Thread32Next(HANDLE snapshot, LPTHREADENTRY32 entry) { return ThreadStep(snapshot, entry, false); }

HANDLE OpenThread(DWORD access, BOOL, DWORD threadId) {
    std::lock_guard<std::recursive_mutex> lock(fake::WorldLock());
    for (auto& t : Threads())
        if (t.second->id == threadId && !(access & ~t.second->grantedAccess))
            return fake::NewTaggedHandle(TagThread, threadId, access);
    return nullptr;
}

BOOL ReadProcessMemory(HANDLE process, LPCVOID address, LPVOID buffer, SIZE_T size, SIZE_T* read) {
    std::lock_guard<std::recursive_mutex> lock(fake::WorldLock());
    fake::ProcessReading* p = Opened(process, PROCESS_VM_READ);
    ULONG_PTR start = reinterpret_cast<ULONG_PTR>(address);
    auto block = p ? p->memory.upper_bound(start) : decltype(p->memory.end())();
    if (!p || block == p->memory.begin()) return FALSE;
    --block;
    ULONG_PTR offset = start - block->first;
    if (offset > block->second.size() || size > block->second.size() - offset) return FALSE;
    memcpy(buffer, block->second.data() + offset, size);
    *read = size;
    return TRUE;
}

DWORD GetMappedFileNameW(HANDLE process, LPVOID address, LPWSTR name, DWORD units) {
    std::lock_guard<std::recursive_mutex> lock(fake::WorldLock());
    fake::ProcessReading* p = Opened(process, PROCESS_QUERY_INFORMATION);
    auto file = p ? p->mappedFiles.find(reinterpret_cast<ULONG_PTR>(address)) : decltype(p->mappedFiles.end())();
    if (!p || file == p->mappedFiles.end()) {
        SetLastError(p ? ERROR_FILE_INVALID : ERROR_ACCESS_DENIED);
        return 0;
    }
    // Cut to the buffer, as the platform does.
    DWORD n = static_cast<DWORD>(std::min<size_t>(file->second.size(), units - 1));
    std::copy(file->second.begin(), file->second.begin() + n, name);
    name[n] = 0;
    return n;
}

DWORD GetLogicalDrives(void) {
    std::lock_guard<std::recursive_mutex> lock(fake::WorldLock());
    DWORD mask = 0;
    for (auto& d : dosDevices) mask |= 1u << (d.first - 'A');
    return mask;
}

// "X:" only; the device and two terminators, as the platform writes a list.
DWORD QueryDosDeviceW(LPCWSTR device, LPWSTR target, DWORD units) {
    std::lock_guard<std::recursive_mutex> lock(fake::WorldLock());
    auto d = lstrlenW(device) == 2 && device[1] == L':' ? dosDevices.find(static_cast<char>(device[0]))
                                                          : dosDevices.end();
    if (d == dosDevices.end() || d->second.size() + 2 > units) return 0;
    std::copy(d->second.begin(), d->second.end(), target);
    target[d->second.size()] = target[d->second.size() + 1] = 0;
    return static_cast<DWORD>(d->second.size() + 2);
}

HMODULE GetModuleHandleW(LPCWSTR name) { return fake::Utf8(name) == "ntdll.dll" ? &ntdll : nullptr; }

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
    void (*routine)(void) = nullptr;
    if (module == &ntdll && strcmp(name, "NtQueryInformationThread") == 0)
        routine = reinterpret_cast<void (*)(void)>(QueryThread);
    if (module == &ntdll && strcmp(name, "NtQueryInformationProcess") == 0)
        routine = reinterpret_cast<void (*)(void)>(QueryProcess);
    return reinterpret_cast<FARPROC>(routine);
}

namespace fake {

ProcessReading& ReadingOf(DWORD pid) {
    std::lock_guard<std::recursive_mutex> lock(WorldLock());
    return processes[pid];
}

void WriteMemory(DWORD pid, ULONG_PTR address, const void* bytes, size_t size) {
    std::lock_guard<std::recursive_mutex> lock(WorldLock());
    processes[pid].memory[address].assign(static_cast<const BYTE*>(bytes), static_cast<const BYTE*>(bytes) + size);
}

void SetDosDevice(char letter, const std::u16string& device) {
    std::lock_guard<std::recursive_mutex> lock(WorldLock());
    dosDevices[letter] = device;
}

HANDLE ThreadSnapshot() { return NewTaggedHandle(TagThreadSnapshot, 0, ~0u); }

void ResetProcessReading() {
    std::lock_guard<std::recursive_mutex> lock(WorldLock());
    processes.clear();
    snapshotSteps.clear();
    dosDevices.clear();
}

}  // namespace fake
