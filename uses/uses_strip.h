// The strip of "内存用途": the 总计 committed size of every reading since the
// window opened, drawn over time, the baseline's reading marked.
#pragma once

#include "platform/platform.h"

// The readings the strip keeps: the last ones, oldest first.
#define STRIP_READINGS 512

struct UsesStrip {
    ULONGLONG totals[STRIP_READINGS];  // a ring: reading r at r % STRIP_READINGS
    size_t readings;                   // every reading since the window opened
    size_t baseline;                   // the number of the baseline's reading
};

// A new reading, and the last reading made the baseline.
void AddStripReading(UsesStrip* strip, ULONGLONG committed);
void MarkStripBaseline(UsesStrip* strip);

// How many readings the strip shows, the largest and smallest of them, and
// where reading `shown` (0 the oldest shown) is drawn in `area`: from left
// to right, the smallest at the bottom and the largest at the top, so that
// a growth of a few pages still shows (all in the middle when they are
// equal).
size_t StripShown(const UsesStrip& strip);
ULONGLONG StripLargest(const UsesStrip& strip);
ULONGLONG StripSmallest(const UsesStrip& strip);
POINT StripPoint(const UsesStrip& strip, size_t shown, const RECT& area);

// Draws the strip into `area` of `dc`: a white ground, the baseline's
// reading as an orange upright line, the totals as a blue line.
void DrawUsesStrip(HDC dc, const RECT& area, const UsesStrip& strip);
