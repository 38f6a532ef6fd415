// What the screen shows: captures, screenshots, and the memory map's pixels
// against the rows a walk of the target gives.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "e2e_expect.h"

struct Screen {
    int width = 0;
    int height = 0;
    std::vector<DWORD> pixels;  // 0x00RRGGBB, top-down
    COLORREF At(int x, int y) const {
        if (x < 0 || y < 0 || x >= width || y >= height) return 0xFFFFFFFF;
        DWORD p = pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
        return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }
};

Screen Capture();
// Writes the part `area` of the screen as a 24-bit bottom-up BMP file.
bool SaveBmp(const Screen& s, RECT area, const wchar_t* file);
// Saves the whole screen as OUT_DIR\NN-name.bmp.
void Screenshot(const char* name);

const int kCommittedLeft = 570, kCommittedRight = 720;
const int kReservedLeft = 740, kReservedRight = 890;
const int kRows = 900;

struct MapCheck {
    int checked = 0;
    int wrong = 0;
    std::string first;
};

// Compares the map's pixels on screen with the rows the walk gives.
// Points inside `skip` (a window in front, in screen coordinates) are left
// out. Rows near the bars' ends, where the wide pen's caps decide, are only
// checked where a span marks them.
MapCheck CompareMap(HWND dialog, const std::vector<WalkedRegion>& regions, const RECT* skip);
