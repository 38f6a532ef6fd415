#include "app/shell.h"

HINSTANCE ModuleInstance = nullptr;

void CenterOnScreen(HWND dialog) {
    SendMessageW(dialog, WM_SETICON, ICON_BIG,
                 reinterpret_cast<LPARAM>(LoadIconW(ModuleInstance, MAKEINTRESOURCEW(IDI_MORVANE))));
    int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    RECT rect = {};
    GetWindowRect(dialog, &rect);
    int width = rect.right - rect.left;
    int height = rect.bottom - rect.top;
    SetWindowPos(dialog, HWND_TOP, screenWidth / 2 - width / 2, screenHeight / 2 - height / 2, 0, 0,
                 SWP_NOSIZE | SWP_SHOWWINDOW);
}

void Notice(HWND owner, LPCWSTR text, UINT icon) { MessageBoxW(owner, text, L"提示", MB_OK | icon); }

void LineListClear(HWND list) { SendMessageW(list, LB_RESETCONTENT, 0, 0); }

void LineListAppend(HWND list, LPCWSTR line) { SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line)); }

int DialogUnitsAcross(HWND dialog, int units) {
    RECT r = {0, 0, units, 0};
    MapDialogRect(dialog, &r);
    return r.right;
}

int DialogUnitsDown(HWND dialog, int units) {
    RECT r = {0, 0, 0, units};
    MapDialogRect(dialog, &r);
    return r.bottom;
}
