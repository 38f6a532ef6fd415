#include "e2e_screen.h"

#include <stdio.h>

#include "e2e_report.h"
#include "e2e_windows.h"

Screen Capture() {
    Screen s;
    HDC screen = GetDC(nullptr);
    s.width = GetDeviceCaps(screen, HORZRES);
    s.height = GetDeviceCaps(screen, VERTRES);
    BITMAPINFO bi;
    ZeroMemory(&bi, sizeof bi);
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = s.width;
    bi.bmiHeader.biHeight = -s.height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (memory && bitmap && bits) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, s.width, s.height, screen, 0, 0, SRCCOPY | CAPTUREBLT);
        GdiFlush();
        const DWORD* p = static_cast<const DWORD*>(bits);
        s.pixels.assign(p, p + static_cast<size_t>(s.width) * static_cast<size_t>(s.height));
        SelectObject(memory, old);
    }
    if (bitmap) DeleteObject(bitmap);
    if (memory) DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return s;
}

static int shotNumber = 0;

bool SaveBmp(const Screen& s, RECT area, const wchar_t* file) {
    RECT screen = {0, 0, s.width, s.height};
    IntersectRect(&area, &area, &screen);
    int width = area.right - area.left, height = area.bottom - area.top;
    if (width <= 0 || height <= 0) return false;
    FILE* f = _wfopen(file, L"wb");
    if (!f) return false;
    DWORD rowBytes = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    BITMAPFILEHEADER fh;
    BITMAPINFOHEADER ih;
    ZeroMemory(&fh, sizeof fh);
    ZeroMemory(&ih, sizeof ih);
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof ih;
    fh.bfSize = fh.bfOffBits + rowBytes * static_cast<DWORD>(height);
    ih.biSize = sizeof ih;
    ih.biWidth = width;
    ih.biHeight = height;
    ih.biPlanes = 1;
    ih.biBitCount = 24;
    ih.biCompression = BI_RGB;
    fwrite(&fh, sizeof fh, 1, f);
    fwrite(&ih, sizeof ih, 1, f);
    std::vector<unsigned char> row(rowBytes, 0);
    for (int y = height - 1; y >= 0; --y) {
        for (int x = 0; x < width; ++x) {
            COLORREF c = s.At(area.left + x, area.top + y);
            row[static_cast<size_t>(x) * 3] = GetBValue(c);
            row[static_cast<size_t>(x) * 3 + 1] = GetGValue(c);
            row[static_cast<size_t>(x) * 3 + 2] = GetRValue(c);
        }
        fwrite(row.data(), 1, rowBytes, f);
    }
    return fclose(f) == 0;
}

// A window just opened is drawn by its own thread some time after it
// appears, and a capture taken at once shows what lies beneath it. Each
// visible top-level window first handles what it was sent and paints what
// is due (its thread answers the sent message only from its message loop);
// then the screen is captured until two captures a moment apart agree.
static BOOL CALLBACK PaintNow(HWND window, LPARAM) {
    if (!IsWindowVisible(window)) return TRUE;
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored);
    RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    return TRUE;
}

static Screen SettledCapture() {
    EnumWindows(PaintNow, 0);
    Screen last = Capture();
    for (int i = 0; i < 30; ++i) {
        Sleep(100);
        Screen next = Capture();
        if (next.pixels == last.pixels) return next;
        last = next;
    }
    return last;
}

void Screenshot(const char* name) {
    Screen s = SettledCapture();
    if (s.pixels.empty()) return;
    wchar_t file[MAX_PATH];
    _snwprintf(file, MAX_PATH, L"%ls\\%02d-%hs.bmp", outDir.c_str(), ++shotNumber, name);
    file[MAX_PATH - 1] = 0;
    RECT all = {0, 0, s.width, s.height};
    if (SaveBmp(s, all, file)) Log("screenshot %02d-%s", shotNumber, name);
}


MapCheck CompareMap(HWND dialog, const std::vector<WalkedRegion>& regions, const RECT* skip) {
    MapCheck result;
    POINT origin = {0, 0};
    ClientToScreen(dialog, &origin);
    RECT client;
    GetClientRect(dialog, &client);
    Screen s = Capture();
    struct Column {
        int left, right;
        DWORD state;
        COLORREF mark;
    } columns[2] = {{kCommittedLeft, kCommittedRight, MEM_COMMIT, RGB(255, 0, 0)},
                    {kReservedLeft, kReservedRight, MEM_RESERVE, RGB(0, 255, 0)}};
    std::vector<bool> breaks = BreakRows(regions, kRows);
    for (const Column& c : columns) {
        std::vector<bool> marked = MarkedRows(regions, c.state, kRows);
        int xs[3] = {c.left + 8, (c.left + c.right) / 2, c.right - 8};
        for (int y = 0; y < client.bottom && y < kRows; ++y) {
            COLORREF want;
            if (marked[static_cast<size_t>(y)]) want = c.mark;
            else if (breaks[static_cast<size_t>(y)]) want = RGB(192, 192, 192);
            else if (y >= 22 && y <= 414) want = RGB(0, 0, 255);
            else continue;
            for (int x : xs) {
                if (x >= client.right) continue;
                POINT p = {origin.x + x, origin.y + y};
                if (skip && PtInRect(skip, p)) continue;
                ++result.checked;
                COLORREF got = s.At(p.x, p.y);
                if (got != want) {
                    if (result.wrong++ == 0) {
                        char text[160];
                        snprintf(text, sizeof text, "(%d,%d) of the client area: want #%02x%02x%02x, got #%02x%02x%02x", x,
                                 y, GetRValue(want), GetGValue(want), GetBValue(want), GetRValue(got), GetGValue(got),
                                 GetBValue(got));
                        result.first = text;
                    }
                }
            }
        }
    }
    return result;
}
