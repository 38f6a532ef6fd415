#include "uses/uses_view.h"

#include <stdlib.h>

#include <algorithm>

#include "app/format.h"
#include "inspect/regions.h"

namespace {

const LPCWSTR SummaryColumnNames[USES_SUMMARY_COLUMNS] = {L"用途", L"大小",  L"已调拨", L"已预留",
                                                          L"块数", L"最大块", L"变化"};
const LPCWSTR AllocationColumnNames[USES_ALLOCATION_COLUMNS] = {L"基址",   L"大小", L"已调拨", L"类型", L"用途",
                                                                L"保护",   L"区域数", L"详情", L"状态", L"变化"};

void CopyCell(LPCWSTR text, WCHAR* out, size_t units) {
    size_t i = 0;
    for (; text[i] && i + 1 < units; ++i) out[i] = text[i];
    out[i] = 0;
}

// Ordinal comparison, code unit by code unit.
int CompareText(LPCWSTR a, LPCWSTR b) {
    while (*a && *a == *b) ++a, ++b;
    return *a < *b ? -1 : *a > *b ? 1 : 0;
}

int CompareNumber(ULONGLONG a, ULONGLONG b) { return a < b ? -1 : a > b ? 1 : 0; }

long long ItemChange(const UsesView& view, size_t item) {
    return view.changes.change && item < view.changes.itemCount ? view.changes.change[item] : 0;
}

void SummaryCell(const UsesView& view, size_t row, int column, WCHAR* out, size_t units) {
    WCHAR text[USES_CELL_UNITS];
    text[0] = 0;
    const UseSum& sum = view.table.sums[row];
    switch (column) {
    case 0: CopyCell(UseRowName(static_cast<int>(row)), text, USES_CELL_UNITS); break;
    case 1: FormatKilobytes(sum.size, text); break;
    case 2: FormatKilobytes(sum.committed, text); break;
    case 3: FormatKilobytes(sum.reserved, text); break;
    case 4: FormatDecimal(sum.blocks, text); break;
    case 5: FormatKilobytes(sum.largest, text); break;
    case SUMMARY_CHANGE: FormatChange(view.changes.status ? view.changes.sums[row] : 0, text); break;
    default: break;
    }
    CopyCell(text, out, units);
}

// The allocation protection as the region table writes it, without the
// blank the table leaves after the last name.
void ProtectionText(DWORD protect, WCHAR* out, size_t units) {
    FormatProtection(protect, out, units);
    size_t length = static_cast<size_t>(lstrlenW(out));
    if (length > 0 && out[length - 1] == L' ') out[length - 1] = 0;
}

// The committed size an item has now: 0 for one freed since the baseline.
ULONGLONG ItemCommitted(const UsesView& view, size_t item) {
    return item < view.table.count ? UsesItemAllocation(view, item).committed : 0;
}

void AllocationCell(const UsesView& view, size_t item, int column, WCHAR* out, size_t units) {
    WCHAR text[USES_CELL_UNITS];
    text[0] = 0;
    const Allocation& a = UsesItemAllocation(view, item);
    switch (column) {
    case ALLOC_BASE: FormatHexLine(text, L"", a.base, L""); break;
    case ALLOC_SIZE: FormatKilobytes(a.size, text); break;
    case ALLOC_COMMITTED: FormatKilobytes(ItemCommitted(view, item), text); break;
    case ALLOC_TYPE: CopyCell(RegionTypeText(a.type), text, USES_CELL_UNITS); break;
    case ALLOC_KIND: CopyCell(UseRowName(a.kind), text, USES_CELL_UNITS); break;
    case ALLOC_PROTECTION: ProtectionText(a.allocationProtect, text, USES_CELL_UNITS); break;
    case ALLOC_REGIONS: FormatDecimal(a.regionCount, text); break;
    case ALLOC_DETAIL: CopyCell(UsesItemDetail(view, item), text, USES_CELL_UNITS); break;
    case ALLOC_STATUS: CopyCell(UseStatusText(UsesItemStatus(view, item)), text, USES_CELL_UNITS); break;
    case ALLOC_CHANGE: FormatChange(ItemChange(view, item), text); break;
    default: break;
    }
    CopyCell(text, out, units);
}

// The protection texts met during one sort, each formatted once: a process
// has a handful of allocation protections, and 20,000 allocations make
// hundreds of thousands of comparisons.
struct ProtectionTexts {
    static const int Capacity = 32;
    DWORD values[Capacity];
    WCHAR texts[Capacity][REGION_LINE_UNITS];
    int count = 0;
    WCHAR spare[2][REGION_LINE_UNITS];

    LPCWSTR Of(DWORD value, int side) {
        for (int i = 0; i < count; ++i)
            if (values[i] == value) return texts[i];
        WCHAR* text = count < Capacity ? texts[count] : spare[side];
        ProtectionText(value, text, REGION_LINE_UNITS);
        if (count < Capacity) values[count++] = value;
        return text;
    }
};

int CompareItems(const UsesView& view, size_t x, size_t y, int column, ProtectionTexts* protections) {
    const Allocation& a = UsesItemAllocation(view, x);
    const Allocation& b = UsesItemAllocation(view, y);
    switch (column) {
    case ALLOC_BASE: return CompareNumber(a.base, b.base);
    case ALLOC_SIZE: return CompareNumber(a.size, b.size);
    case ALLOC_COMMITTED: return CompareNumber(ItemCommitted(view, x), ItemCommitted(view, y));
    case ALLOC_TYPE: return CompareText(RegionTypeText(a.type), RegionTypeText(b.type));
    case ALLOC_KIND: return CompareNumber(a.kind, b.kind);
    case ALLOC_PROTECTION:
        if (a.allocationProtect == b.allocationProtect) return 0;
        return CompareText(protections->Of(a.allocationProtect, 0), protections->Of(b.allocationProtect, 1));
    case ALLOC_REGIONS: return CompareNumber(a.regionCount, b.regionCount);
    case ALLOC_DETAIL: return CompareText(UsesItemDetail(view, x), UsesItemDetail(view, y));
    case ALLOC_STATUS: return CompareNumber(UsesItemStatus(view, x), UsesItemStatus(view, y));
    case ALLOC_CHANGE: {
        long long c = ItemChange(view, x), d = ItemChange(view, y);
        return c < d ? -1 : c > d ? 1 : 0;
    }
    default: return 0;
    }
}

int CompareSummaryRows(const UsesView& view, int a, int b, int column) {
    const UseSum& x = view.table.sums[a];
    const UseSum& y = view.table.sums[b];
    switch (column) {
    case 1: return CompareNumber(x.size, y.size);
    case 2: return CompareNumber(x.committed, y.committed);
    case 3: return CompareNumber(x.reserved, y.reserved);
    case 4: return CompareNumber(x.blocks, y.blocks);
    case 5: return CompareNumber(x.largest, y.largest);
    case SUMMARY_CHANGE:
        if (!view.changes.status) return 0;
        return view.changes.sums[a] < view.changes.sums[b] ? -1 : view.changes.sums[a] > view.changes.sums[b] ? 1 : 0;
    default: return 0;  // 用途: the kinds' order, which the tie keeps
    }
}

// Puts the list's rows in the order its sort says; ties keep the natural
// order (address or kind), and a descending sort is the exact reverse.
void ApplySort(UsesView* view, UsesList list) {
    if (list == USES_SUMMARY) {
        for (int i = 0; i < USE_SUMMARY_ROWS; ++i) view->summary[i] = i;
        UsesSort sort = view->summarySort;
        if (sort.column == USES_UNSORTED) return;
        std::sort(view->summary, view->summary + USE_SUMMARY_ROWS, [&](int a, int b) {
            int d = CompareSummaryRows(*view, a, b, sort.column);
            if (d == 0) d = a < b ? -1 : 1;
            return sort.descending ? d > 0 : d < 0;
        });
        return;
    }
    UsesSort sort = view->allocationSort;
    if (!view->rows || sort.column == USES_UNSORTED) return;  // rows are made in address order
    ProtectionTexts protections;
    std::sort(view->rows, view->rows + view->rowCount, [&](size_t a, size_t b) {
        int d = CompareItems(*view, a, b, sort.column, &protections);
        if (d == 0) d = a < b ? -1 : 1;
        return sort.descending ? d > 0 : d < 0;
    });
}

// Gathers the text Ctrl+C copies, counting what does not fit.
struct CopyWriter {
    WCHAR* out;
    size_t units;
    size_t length;

    void Put(LPCWSTR text) {
        for (; *text; ++text, ++length)
            if (out && length + 1 < units) out[length] = *text;
    }
};

}  // namespace

int UsesColumnCount(UsesList list) { return list == USES_SUMMARY ? USES_SUMMARY_COLUMNS : USES_ALLOCATION_COLUMNS; }

LPCWSTR UsesColumnName(UsesList list, int column) {
    if (column < 0 || column >= UsesColumnCount(list)) return L"";
    return list == USES_SUMMARY ? SummaryColumnNames[column] : AllocationColumnNames[column];
}

BOOL UsesColumnIsNumber(UsesList list, int column) {
    if (list == USES_SUMMARY) return column >= 1 && column < USES_SUMMARY_COLUMNS;
    return column == ALLOC_SIZE || column == ALLOC_COMMITTED || column == ALLOC_REGIONS || column == ALLOC_CHANGE;
}

void FormatKilobytes(ULONGLONG bytes, WCHAR* out) {
    WCHAR digits[DECIMAL64_UNITS];
    FormatDecimal(bytes / 1024, digits);
    int n = lstrlenW(digits);
    int at = 0;
    for (int i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0) out[at++] = L',';
        out[at++] = digits[i];
    }
    out[at++] = L' ';
    out[at++] = L'K';
    out[at++] = L'B';
    out[at] = 0;
}

void UsesCellText(const UsesView& view, UsesList list, size_t item, int column, WCHAR* out, size_t units) {
    if (units == 0) return;
    out[0] = 0;
    if (list == USES_SUMMARY) {
        if (item < USE_SUMMARY_ROWS) SummaryCell(view, item, column, out, units);
    } else if (item < UsesItemCount(view)) {
        AllocationCell(view, item, column, out, units);
    }
}

size_t UsesItemCount(const UsesView& view) {
    return view.changes.status ? view.changes.itemCount : view.table.count;
}

const Allocation& UsesItemAllocation(const UsesView& view, size_t item) {
    if (item < view.table.count) return view.table.allocations[item];
    return view.baseline.allocations[view.changes.freed[item - view.table.count]];
}

LPCWSTR UsesItemDetail(const UsesView& view, size_t item) {
    const UseTable& table = item < view.table.count ? view.table : view.baseline;
    return UseText(table.texts, UsesItemAllocation(view, item).detail);
}

UseStatus UsesItemStatus(const UsesView& view, size_t item) {
    if (!view.changes.status || item >= view.changes.itemCount) return STATUS_NONE;
    return static_cast<UseStatus>(view.changes.status[item]);
}

namespace {

// The comparison of the view's two readings and room for its rows; on
// failure the view is left as it was.
BOOL Recompare(UsesView* view) {
    UseChanges changes;
    if (!CompareUses(view->baseline, view->table, &changes)) return FALSE;
    size_t* rows = static_cast<size_t*>(realloc(view->rows, (changes.itemCount ? changes.itemCount : 1) * sizeof(size_t)));
    if (!rows) {
        FreeUseChanges(&changes);
        return FALSE;
    }
    view->rows = rows;
    FreeUseChanges(&view->changes);
    view->changes = changes;
    ShowUsesRow(view, view->shown);
    ApplySort(view, USES_SUMMARY);
    return TRUE;
}

void FreeBaselineIfOwn(UsesView* view) {
    if (view->baseline.allocations != view->table.allocations) FreeUseTable(&view->baseline);
    view->baseline = {};
}

}  // namespace

BOOL InitUsesView(UsesView* view) {
    view->summarySort = {USES_UNSORTED, FALSE};
    view->allocationSort = {USES_UNSORTED, FALSE};
    view->baseline = view->table;
    view->changes = {};
    view->rows = nullptr;
    view->rowCount = 0;
    view->shown = USES_SHOW_ALL;
    view->onlyChanged = FALSE;
    ApplySort(view, USES_SUMMARY);
    return Recompare(view);
}

void FreeUsesView(UsesView* view) {
    free(view->rows);
    view->rows = nullptr;
    view->rowCount = 0;
    FreeUseChanges(&view->changes);
    FreeBaselineIfOwn(view);
    FreeUseTable(&view->table);
}

BOOL TakeUsesReading(UsesView* view, UseTable* fresh, BOOL asBaseline) {
    UseTable old = view->table;
    UseTable oldBaseline = view->baseline;
    view->table = *fresh;
    if (asBaseline) view->baseline = *fresh;
    if (!Recompare(view)) {
        view->table = old;
        view->baseline = oldBaseline;
        FreeUseTable(fresh);
        return FALSE;
    }
    *fresh = {};
    // What is no longer shown goes: the replaced baseline, and the old
    // current reading unless it is the baseline kept.
    if (asBaseline && oldBaseline.allocations != old.allocations) FreeUseTable(&oldBaseline);
    if (old.allocations != view->baseline.allocations) FreeUseTable(&old);
    return TRUE;
}

BOOL SetUsesBaseline(UsesView* view) {
    UseTable oldBaseline = view->baseline;
    view->baseline = view->table;
    if (!Recompare(view)) {
        view->baseline = oldBaseline;
        return FALSE;
    }
    if (oldBaseline.allocations != view->table.allocations) FreeUseTable(&oldBaseline);
    return TRUE;
}

void ShowOnlyChanges(UsesView* view, BOOL only) {
    view->onlyChanged = only;
    ShowUsesRow(view, view->shown);
}

size_t UsesRowCount(const UsesView& view, UsesList list) {
    return list == USES_SUMMARY ? USE_SUMMARY_ROWS : view.rowCount;
}

BOOL UsesItemAt(const UsesView& view, UsesList list, size_t position, size_t* item) {
    if (position >= UsesRowCount(view, list)) return FALSE;
    *item = list == USES_SUMMARY ? static_cast<size_t>(view.summary[position]) : view.rows[position];
    return TRUE;
}

void ShowUsesRow(UsesView* view, int row) {
    if (row != USES_SHOW_ALL && (row < 0 || row >= USE_SUMMARY_ROWS)) return;
    view->shown = row;
    view->rowCount = 0;
    if (!view->rows) return;
    size_t items = UsesItemCount(*view);
    for (size_t i = 0; i < items; ++i) {
        UseKind kind = UsesItemAllocation(*view, i).kind;
        bool wanted = row == USES_SHOW_ALL || (row == USE_TOTAL_ROW ? kind != USE_FREE : kind == row);
        if (view->onlyChanged && UsesItemStatus(*view, i) == STATUS_NONE) wanted = false;
        if (wanted) view->rows[view->rowCount++] = i;
    }
    ApplySort(view, USES_ALLOCATIONS);
}

void SortUsesList(UsesView* view, UsesList list, int column) {
    if (column < 0 || column >= UsesColumnCount(list)) return;
    UsesSort* sort = list == USES_SUMMARY ? &view->summarySort : &view->allocationSort;
    BOOL change = column == (list == USES_SUMMARY ? SUMMARY_CHANGE : ALLOC_CHANGE);
    sort->descending = sort->column == column ? !sort->descending : change;
    sort->column = column;
    ApplySort(view, list);
}

size_t UsesCopyText(const UsesView& view, UsesList list, const size_t* positions, size_t count, WCHAR* out,
                    size_t units) {
    CopyWriter text = {out, units, 0};
    int columns = UsesColumnCount(list);
    for (int c = 0; c < columns; ++c) {
        if (c > 0) text.Put(L"\t");
        text.Put(UsesColumnName(list, c));
    }
    size_t rows = positions ? count : UsesRowCount(view, list);
    WCHAR cell[USES_CELL_UNITS];
    for (size_t r = 0; r < rows; ++r) {
        size_t item;
        if (!UsesItemAt(view, list, positions ? positions[r] : r, &item)) continue;
        text.Put(L"\r\n");
        for (int c = 0; c < columns; ++c) {
            if (c > 0) text.Put(L"\t");
            UsesCellText(view, list, item, c, cell, USES_CELL_UNITS);
            text.Put(cell);
        }
    }
    if (out && units > 0) out[text.length < units ? text.length : units - 1] = 0;
    return text.length;
}

BOOL AllocationLines(const Allocation& allocation, size_t tableLines, size_t* first, size_t* last) {
    size_t lines = tableLines / 6;  // whole regions
    if (allocation.regionCount == 0 || allocation.firstRegion >= lines ||
        allocation.regionCount > lines - allocation.firstRegion)
        return FALSE;
    *first = 6 * allocation.firstRegion;
    *last = 6 * (allocation.firstRegion + allocation.regionCount) - 1;
    return TRUE;
}
