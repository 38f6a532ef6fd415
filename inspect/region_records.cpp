// The region records of the last walk.
#include "inspect/region_records.h"

#include <stdint.h>
#include <stdlib.h>

RegionRecordList WalkedRegions = {nullptr, 0, 0, TRUE, 0};

namespace {

// The first storage holds this many records; it doubles when full.
const size_t FirstRecordCapacity = 1024;

}  // namespace

void ClearRegionRecords() {
    WalkedRegions.count = 0;
    WalkedRegions.complete = TRUE;
}

BOOL KeepRegionRecord(const MEMORY_BASIC_INFORMATION& region) {
    RegionRecordList& list = WalkedRegions;
    // Once a record is missing, the later ones would no longer match the
    // table's lines: the list stops there.
    if (!list.complete) return FALSE;
    if (list.count == list.capacity) {
        size_t capacity = list.capacity ? list.capacity * 2 : FirstRecordCapacity;
        void* grown = capacity <= SIZE_MAX / sizeof(RegionRecord) ? realloc(list.records, capacity * sizeof(RegionRecord)) : nullptr;
        if (!grown) {
            list.complete = FALSE;
            return FALSE;
        }
        list.records = static_cast<RegionRecord*>(grown);
        list.capacity = capacity;
    }
    RegionRecord& record = list.records[list.count++];
    record.base = reinterpret_cast<ULONG_PTR>(region.BaseAddress);
    record.allocationBase = reinterpret_cast<ULONG_PTR>(region.AllocationBase);
    record.size = region.RegionSize;
    record.state = region.State;
    record.type = region.State == MEM_FREE ? 0 : region.Type;
    record.allocationProtect = region.AllocationProtect;
    record.protect = region.State == MEM_COMMIT ? region.Protect : 0;
    return TRUE;
}

ULONGLONG ProcessCreationTime(HANDLE process) {
    FILETIME creation, exit, kernel, user;
    if (!GetProcessTimes(process, &creation, &exit, &kernel, &user)) return 0;
    return (static_cast<ULONGLONG>(creation.dwHighDateTime) << 32) | creation.dwLowDateTime;
}
