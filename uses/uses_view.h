// What the "内存用途" window shows of a UseTable: the cells' texts, the
// order of each list's rows after a header click, the allocations a summary
// row leaves in view, and the text Ctrl+C copies. Pure functions of the
// table, so the tests call them directly.
#pragma once

#include "platform/platform.h"
#include "uses/uses.h"
#include "uses/uses_changes.h"

enum UsesList { USES_SUMMARY, USES_ALLOCATIONS };

// Summary columns: 用途, 大小, 已调拨, 已预留, 块数, 最大块, 变化.
#define USES_SUMMARY_COLUMNS 7
#define SUMMARY_CHANGE 6
// Allocation columns: 基址, 大小, 已调拨, 类型, 用途, 保护, 区域数, 详情, 状态,
// 变化.
#define USES_ALLOCATION_COLUMNS 10
enum AllocationColumn {
    ALLOC_BASE, ALLOC_SIZE, ALLOC_COMMITTED, ALLOC_TYPE, ALLOC_KIND, ALLOC_PROTECTION, ALLOC_REGIONS, ALLOC_DETAIL,
    ALLOC_STATUS, ALLOC_CHANGE
};

int UsesColumnCount(UsesList list);
LPCWSTR UsesColumnName(UsesList list, int column);
// Whether the column holds a number (written right-aligned).
BOOL UsesColumnIsNumber(UsesList list, int column);

// Room for any cell's text, terminator included (详情 is the longest).
#define USES_CELL_UNITS USE_DETAIL_UNITS

// "1,024 KB": whole kilobytes with digit grouping (every size here is a
// multiple of 4 KB). `out` holds USES_CELL_UNITS units.
void FormatKilobytes(ULONGLONG bytes, WCHAR* out);

struct UsesView;

// The text of one cell: `item` is a summary row (a kind, or USE_TOTAL_ROW)
// or an allocation item (UsesItemCount), not a position in a sorted list.
// An item or column out of range gives an empty text. An allocation freed
// since the baseline shows its baseline figures with 已调拨 0.
void UsesCellText(const UsesView& view, UsesList list, size_t item, int column, WCHAR* out, size_t units);

// No summary row chosen: the allocations list shows every allocation.
#define USES_SHOW_ALL (-1)

// Sorted by no column: the summary in its kinds' order, the allocations in
// address order.
#define USES_UNSORTED (-1)

struct UsesSort {
    int column;  // USES_UNSORTED, or the column clicked last
    BOOL descending;
};

// What the window shows: the current reading compared with the baseline,
// the summary rows in their order, and the allocation items the chosen
// summary row (and 只看变化) leave, in their order. The window keeps these
// two readings and no other.
struct UsesView {
    UseTable table;     // the current reading
    UseTable baseline;  // the same storage as `table` while that is the baseline
    UseChanges changes;
    int summary[USE_SUMMARY_ROWS];  // summary rows, in list order
    size_t* rows;                   // allocation items, in list order
    size_t rowCount;
    int shown;                      // USES_SHOW_ALL, a kind or USE_TOTAL_ROW
    BOOL onlyChanged;               // only the items with a 状态
    UsesSort summarySort;
    UsesSort allocationSort;
};

// Sets the view up for its table, which is also the baseline, showing
// every allocation in address order; FALSE when there is no memory for the
// row order (the allocations list then shows nothing).
BOOL InitUsesView(UsesView* view);
// Frees the row order, the comparison and both readings.
void FreeUsesView(UsesView* view);

// Makes `fresh` the current reading (the view takes it over), compared with
// the baseline, or also the baseline with `asBaseline` (another process
// now has the PID). The sort, the summary row and 只看变化 are kept. FALSE
// when memory runs out: the view keeps its reading and `fresh` is freed.
BOOL TakeUsesReading(UsesView* view, UseTable* fresh, BOOL asBaseline);
// 设为基准: the current reading becomes the baseline. FALSE as above.
BOOL SetUsesBaseline(UsesView* view);
// 只看变化 on or off.
void ShowOnlyChanges(UsesView* view, BOOL only);

// The allocation items: the current allocations, then those freed since
// the baseline. The allocation of an item (a freed one's as it was), and
// whether the item is one of the current reading.
size_t UsesItemCount(const UsesView& view);
const Allocation& UsesItemAllocation(const UsesView& view, size_t item);
UseStatus UsesItemStatus(const UsesView& view, size_t item);
LPCWSTR UsesItemDetail(const UsesView& view, size_t item);

// The number of rows a list shows, and the item (a summary row or an
// allocation index) at a list position; FALSE for a position past the end.
size_t UsesRowCount(const UsesView& view, UsesList list);
BOOL UsesItemAt(const UsesView& view, UsesList list, size_t position, size_t* item);

// Shows only the allocations of one summary row (USE_TOTAL_ROW: every
// allocation but free ones; USES_SHOW_ALL: every allocation), in the
// allocations list's current order. A row out of range is ignored.
void ShowUsesRow(UsesView* view, int row);

// A click on a column header: sorts the list by that column, ascending
// (变化 descending: the largest growth first), or reverses it when the
// column was the last one clicked. Numbers and
// addresses sort as numbers, 用途 in the kinds' order, texts by code unit;
// rows that tie keep address (or kind) order. A column out of range is
// ignored.
void SortUsesList(UsesView* view, UsesList list, int column);

// The text Ctrl+C copies: the column names, then the rows at the `count`
// list positions `positions` (every row when `positions` is null), columns
// separated by a tab and rows by CR LF. Writes into `out` (`units` units,
// terminator included) when given; returns the length in units, without
// the terminator, so a first call without `out` sizes the buffer.
size_t UsesCopyText(const UsesView& view, UsesList list, const size_t* positions, size_t count, WCHAR* out,
                    size_t units);

// The region table's lines of an allocation: six per region, from
// 6 * firstRegion; FALSE when they do not all lie among the table's
// `tableLines` lines.
BOOL AllocationLines(const Allocation& allocation, size_t tableLines, size_t* first, size_t* last);
