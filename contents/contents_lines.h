// The lines of the "内存内容" bytes list: one line per 16 bytes of each
// committed region of an allocation, in address order, and one line for
// each reserved region; and the texts of a line's columns.
#pragma once

#include "inspect/region_records.h"
#include "platform/platform.h"

#define CONTENTS_LINE_BYTES 16
// "4D 6F ... 72" and the terminator.
#define CONTENTS_HEX_UNITS (CONTENTS_LINE_BYTES * 3)
#define CONTENTS_TEXT_UNITS (CONTENTS_LINE_BYTES * 2 + 1)

// One region of the allocation and the lines it takes.
struct ContentsSpan {
    ULONGLONG base;
    ULONGLONG size;
    BOOL committed;        // FALSE: reserved, one line
    ULONGLONG firstLine;
    ULONGLONG lineCount;
};

struct ContentsLayout {
    ContentsSpan* spans;
    size_t count;
    ULONGLONG lineCount;
    ULONGLONG base;  // the allocation's first byte
    ULONGLONG end;   // one past its last
};

// What one line shows: `size` bytes from `address` (16, fewer at the end of
// an odd-sized region), or a reserved region of `size` bytes.
struct ContentsLine {
    ULONGLONG address;
    ULONGLONG size;
    BOOL reserved;
};

// The lines of `count` regions (one allocation's, in address order; free
// regions are left out). FALSE when memory for them runs out.
BOOL BuildContentsLayout(const RegionRecord* regions, size_t count, ContentsLayout* layout);
void FreeContentsLayout(ContentsLayout* layout);

// Line `line` of the layout; FALSE past its last.
BOOL ContentsLineAt(const ContentsLayout& layout, ULONGLONG line, ContentsLine* out);
// The line that holds `address`; FALSE when no region of the layout holds it.
BOOL ContentsLineOf(const ContentsLayout& layout, ULONGLONG address, ULONGLONG* line);

// 十六进制: each of `count` bytes as two upper-case digits, one space between
// two, "??" for a byte that could not be read (`readable[i]` 0).
void FormatHexColumn(const BYTE* bytes, const BYTE* readable, size_t count, WCHAR* out);
// 文本: each byte from 0x20 to 0x7E as its character, any other as ".", and
// "??" for one that could not be read.
void FormatTextColumn(const BYTE* bytes, const BYTE* readable, size_t count, WCHAR* out, size_t units);
// 地址 as the region table writes addresses; for a reserved line 十六进制
// says "已预留 N KB".
void FormatReservedLine(ULONGLONG size, WCHAR* out);
