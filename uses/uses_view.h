// What the "内存用途" window shows of a UseTable: the cells' texts, the
// order of each list's rows after a header click, the allocations a summary
// row leaves in view, and the text Ctrl+C copies. Pure functions of the
// table, so the tests call them directly.
#pragma once

#include "platform/platform.h"
#include "uses/uses.h"

enum UsesList { USES_SUMMARY, USES_ALLOCATIONS };

// Summary columns: 用途, 大小, 已调拨, 已预留, 块数, 最大块.
#define USES_SUMMARY_COLUMNS 6
// Allocation columns: 基址, 大小, 已调拨, 类型, 用途, 保护, 区域数, 详情.
#define USES_ALLOCATION_COLUMNS 8
enum AllocationColumn {
    ALLOC_BASE, ALLOC_SIZE, ALLOC_COMMITTED, ALLOC_TYPE, ALLOC_KIND, ALLOC_PROTECTION, ALLOC_REGIONS, ALLOC_DETAIL
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

// The text of one cell: `item` is a summary row (a kind, or USE_TOTAL_ROW)
// or an index into table.allocations, not a position in a sorted list.
// An item or column out of range gives an empty text.
void UsesCellText(const UseTable& table, UsesList list, size_t item, int column, WCHAR* out, size_t units);

// No summary row chosen: the allocations list shows every allocation.
#define USES_SHOW_ALL (-1)

// Sorted by no column: the summary in its kinds' order, the allocations in
// address order.
#define USES_UNSORTED (-1)

struct UsesSort {
    int column;  // USES_UNSORTED, or the column clicked last
    BOOL descending;
};

// What the window shows: the table, the summary rows in their order, and
// the allocations the chosen summary row leaves, in their order.
struct UsesView {
    UseTable table;
    int summary[USE_SUMMARY_ROWS];  // summary rows, in list order
    size_t* rows;                   // allocation indexes, in list order
    size_t rowCount;
    int shown;                      // USES_SHOW_ALL, a kind or USE_TOTAL_ROW
    UsesSort summarySort;
    UsesSort allocationSort;
};

// Sets the view up for its table, showing every allocation in address
// order; FALSE when there is no memory for the row order (the allocations
// list then shows nothing).
BOOL InitUsesView(UsesView* view);
// Frees the row order and the table.
void FreeUsesView(UsesView* view);

// The number of rows a list shows, and the item (a summary row or an
// allocation index) at a list position; FALSE for a position past the end.
size_t UsesRowCount(const UsesView& view, UsesList list);
BOOL UsesItemAt(const UsesView& view, UsesList list, size_t position, size_t* item);

// Shows only the allocations of one summary row (USE_TOTAL_ROW: every
// allocation but free ones; USES_SHOW_ALL: every allocation), in the
// allocations list's current order. A row out of range is ignored.
void ShowUsesRow(UsesView* view, int row);

// A click on a column header: sorts the list by that column, ascending, or
// reverses it when the column was the last one clicked. Numbers and
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
