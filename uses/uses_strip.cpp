#include "uses/uses_strip.h"

namespace {

const COLORREF Ground = RGB(255, 255, 255);
const COLORREF BaselineMark = RGB(255, 128, 0);
const COLORREF TotalLine = RGB(0, 0, 192);

// A 1-pixel margin inside the area keeps the line off its border.
const int Margin = 2;

ULONGLONG ShownTotal(const UsesStrip& strip, size_t shown) {
    size_t first = strip.readings - StripShown(strip);
    return strip.totals[(first + shown) % STRIP_READINGS];
}

void Line(HDC dc, COLORREF color, int width, POINT from, POINT to) {
    HPEN pen = CreatePen(PS_SOLID, width, color);
    if (!pen) return;
    HGDIOBJ old = SelectObject(dc, pen);
    MoveToEx(dc, from.x, from.y, nullptr);
    LineTo(dc, to.x, to.y);
    SelectObject(dc, old);
    DeleteObject(pen);
}

}  // namespace

void AddStripReading(UsesStrip* strip, ULONGLONG committed) { strip->totals[strip->readings++ % STRIP_READINGS] = committed; }

void MarkStripBaseline(UsesStrip* strip) { strip->baseline = strip->readings ? strip->readings - 1 : 0; }

size_t StripShown(const UsesStrip& strip) { return strip.readings < STRIP_READINGS ? strip.readings : STRIP_READINGS; }

ULONGLONG StripLargest(const UsesStrip& strip) {
    ULONGLONG largest = 0;
    for (size_t i = 0; i < StripShown(strip); ++i)
        if (ShownTotal(strip, i) > largest) largest = ShownTotal(strip, i);
    return largest;
}

ULONGLONG StripSmallest(const UsesStrip& strip) {
    ULONGLONG smallest = StripLargest(strip);
    for (size_t i = 0; i < StripShown(strip); ++i)
        if (ShownTotal(strip, i) < smallest) smallest = ShownTotal(strip, i);
    return smallest;
}

POINT StripPoint(const UsesStrip& strip, size_t shown, const RECT& area) {
    long long width = area.right - area.left - 2 * Margin - 1;
    long long height = area.bottom - area.top - 2 * Margin - 1;
    if (width < 0) width = 0;
    if (height < 0) height = 0;
    size_t count = StripShown(strip);
    ULONGLONG smallest = StripSmallest(strip);
    ULONGLONG range = StripLargest(strip) - smallest;
    long long x = count > 1 ? static_cast<long long>(shown) * width / static_cast<long long>(count - 1) : width;
    // The height within the range, in steps of at most 1/65536 of it, so
    // that no product overflows.
    ULONGLONG step = range / 65536 + 1;
    ULONGLONG whole = range / step;
    long long y = whole ? static_cast<long long>((ShownTotal(strip, shown) - smallest) / step *
                                                 static_cast<ULONGLONG>(height) / whole)
                        : height / 2;
    POINT p;
    p.x = static_cast<LONG>(area.left + Margin + x);
    p.y = static_cast<LONG>(area.bottom - 1 - Margin - y);
    return p;
}

void DrawUsesStrip(HDC dc, const RECT& area, const UsesStrip& strip) {
    HBRUSH ground = CreateSolidBrush(Ground);
    if (ground) {
        FillRect(dc, &area, ground);
        DeleteObject(ground);
    }
    size_t count = StripShown(strip);
    if (!count) return;
    size_t first = strip.readings - count;
    if (strip.baseline >= first) {
        POINT mark = StripPoint(strip, strip.baseline - first, area);
        Line(dc, BaselineMark, 1, {mark.x, area.top + Margin}, {mark.x, area.bottom - 1 - Margin});
    }
    HPEN pen = CreatePen(PS_SOLID, 2, TotalLine);
    if (!pen) return;
    HGDIOBJ old = SelectObject(dc, pen);
    POINT p = StripPoint(strip, 0, area);
    MoveToEx(dc, count > 1 ? p.x : area.left + Margin, p.y, nullptr);
    for (size_t i = 0; i < count; ++i) {
        p = StripPoint(strip, i, area);
        LineTo(dc, p.x, p.y);
    }
    SelectObject(dc, old);
    DeleteObject(pen);
}
