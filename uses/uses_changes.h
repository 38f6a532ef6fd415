// What changed in the inspected process since a baseline reading: each
// allocation's state and committed change, each kind's change, and the
// line that says when the two readings were made. Pure functions, so the
// tests call them directly.
#pragma once

#include "platform/platform.h"
#include "uses/uses.h"

// The 状态 of an allocation.
enum UseStatus {
    STATUS_NONE,     // unchanged (or a free region, which is no allocation)
    STATUS_NEW,      // 新增
    STATUS_FREED,    // 已释放
    STATUS_GROWN,    // 增长
    STATUS_SHRUNK,   // 缩小
    STATUS_CHANGED,  // 改变: the same committed size, other regions or use
};
LPCWSTR UseStatusText(UseStatus status);

// A current reading compared with the baseline. Its items are the current
// reading's allocations (0 to current.count - 1), then the baseline's
// allocations that are gone, in address order: item current.count + i is
// baseline.allocations[freed[i]].
struct UseChanges {
    unsigned char* status;  // the UseStatus of each item
    long long* change;      // committed now minus at the baseline, in bytes
    size_t* freed;
    size_t freedCount;
    size_t itemCount;
    long long sums[USE_SUMMARY_ROWS];  // the same for each summary row
};

// Compares two readings of one process, both in address order. An
// allocation is the same one in both when it has the same base and type.
// O(n), one pass over both. FALSE when memory runs out (then empty).
BOOL CompareUses(const UseTable& baseline, const UseTable& current, UseChanges* changes);
void FreeUseChanges(UseChanges* changes);

// "+1,024 KB", "-64 KB", "0 KB". `out` holds USE_CHANGE_UNITS units.
#define USE_CHANGE_UNITS 40
void FormatChange(long long bytes, WCHAR* out);

// "2分18秒"; "45秒" under a minute, "1小时2分5秒" from an hour.
void FormatElapsed(DWORD seconds, WCHAR* out, size_t units);

// The line above the lists: "基准 14:05:22  现在 14:07:40 (2分18秒)  已调拨
// +12,288 KB (每分钟 +5,340 KB)", the rate rounded to three significant
// digits and left out under a second; "基准 14:05:22" alone while the
// current reading is the baseline (`sameReading`).
#define USE_NOTE_UNITS 160
void FormatChangeNote(const SYSTEMTIME& baseline, const SYSTEMTIME& now, DWORD seconds, long long committedChange,
                      BOOL sameReading, WCHAR* out, size_t units);
