#include "contents/contents_lines.h"

#include <stdlib.h>

#include "app/format.h"

BOOL BuildContentsLayout(const RegionRecord* regions, size_t count, ContentsLayout* layout) {
    *layout = ContentsLayout();
    layout->spans = static_cast<ContentsSpan*>(calloc(count ? count : 1, sizeof(ContentsSpan)));
    if (!layout->spans) return FALSE;
    for (size_t i = 0; i < count; ++i) {
        const RegionRecord& r = regions[i];
        if (r.state != MEM_COMMIT && r.state != MEM_RESERVE) continue;
        ContentsSpan& s = layout->spans[layout->count++];
        s.base = r.base;
        s.size = r.size;
        s.committed = r.state == MEM_COMMIT;
        s.firstLine = layout->lineCount;
        s.lineCount = s.committed ? (r.size + CONTENTS_LINE_BYTES - 1) / CONTENTS_LINE_BYTES : 1;
        layout->lineCount += s.lineCount;
        if (layout->count == 1) layout->base = r.base;
        layout->end = r.base + r.size;
    }
    return TRUE;
}

void FreeContentsLayout(ContentsLayout* layout) {
    free(layout->spans);
    *layout = ContentsLayout();
}

namespace {

// The span whose lines hold `line` (binary search over firstLine).
const ContentsSpan* SpanOfLine(const ContentsLayout& layout, ULONGLONG line) {
    size_t low = 0, high = layout.count;
    while (low < high) {
        size_t mid = low + (high - low) / 2;
        const ContentsSpan& s = layout.spans[mid];
        if (line < s.firstLine) high = mid;
        else if (line >= s.firstLine + s.lineCount) low = mid + 1;
        else return &s;
    }
    return nullptr;
}

}  // namespace

BOOL ContentsLineAt(const ContentsLayout& layout, ULONGLONG line, ContentsLine* out) {
    const ContentsSpan* s = SpanOfLine(layout, line);
    if (!s) return FALSE;
    out->reserved = !s->committed;
    if (out->reserved) {
        out->address = s->base;
        out->size = s->size;
        return TRUE;
    }
    ULONGLONG offset = (line - s->firstLine) * CONTENTS_LINE_BYTES;
    out->address = s->base + offset;
    out->size = s->size - offset < CONTENTS_LINE_BYTES ? s->size - offset : CONTENTS_LINE_BYTES;
    return TRUE;
}

BOOL ContentsLineOf(const ContentsLayout& layout, ULONGLONG address, ULONGLONG* line) {
    size_t low = 0, high = layout.count;
    while (low < high) {
        size_t mid = low + (high - low) / 2;
        const ContentsSpan& s = layout.spans[mid];
        if (address < s.base) high = mid;
        else if (address - s.base >= s.size) low = mid + 1;
        else {
            *line = s.firstLine + (s.committed ? (address - s.base) / CONTENTS_LINE_BYTES : 0);
            return TRUE;
        }
    }
    return FALSE;
}

void FormatHexColumn(const BYTE* bytes, const BYTE* readable, size_t count, WCHAR* out) {
    static const WCHAR digits[] = L"0123456789ABCDEF";
    size_t n = 0;
    for (size_t i = 0; i < count && i < CONTENTS_LINE_BYTES; ++i) {
        if (i > 0) out[n++] = L' ';
        out[n++] = readable[i] ? digits[bytes[i] >> 4] : L'?';
        out[n++] = readable[i] ? digits[bytes[i] & 15] : L'?';
    }
    out[n] = 0;
}

void FormatTextColumn(const BYTE* bytes, const BYTE* readable, size_t count, WCHAR* out, size_t units) {
    size_t n = 0;
    for (size_t i = 0; i < count && n + 2 < units; ++i) {
        if (!readable[i]) {
            out[n++] = L'?';
            out[n++] = L'?';
        } else {
            out[n++] = bytes[i] >= 0x20 && bytes[i] <= 0x7E ? static_cast<WCHAR>(bytes[i]) : L'.';
        }
    }
    out[n] = 0;
}

void FormatReservedLine(ULONGLONG size, WCHAR* out) {
    WCHAR digits[DECIMAL64_UNITS];
    FormatDecimal(size / 1024, digits);
    wsprintfW(out, L"已预留 %s KB", digits);
}
