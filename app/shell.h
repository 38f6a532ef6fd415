// The application shell: the module instance, the main window, and the
// helpers every dialog uses (centring, notices, line lists).
#pragma once

#include "platform/platform.h"
#include "resources/resource.h"

// The module instance, stored at start-up; templates and the icon load from it.
extern HINSTANCE ModuleInstance;

// Runs the program: opens MainWindow modally and returns 0 when it closes.
int RunMorvane(HINSTANCE instance);

INT_PTR CALLBACK MainWindow(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);

// Sets the dialog's big icon to icon 138 and moves it, unsized, to the
// centre of the primary screen, at the top of the Z order, shown.
void CenterOnScreen(HWND dialog);
// A width or height in the dialog's units, in pixels (the resizable
// dialogs lay their controls out again at each size).
int DialogUnitsAcross(HWND dialog, int units);
int DialogUnitsDown(HWND dialog, int units);

// The platform's message box with the caption "提示" and an OK button,
// owned by `owner`; `icon` is MB_ICONERROR or MB_ICONINFORMATION. Blocks
// the calling thread until dismissed.
void Notice(HWND owner, LPCWSTR text, UINT icon);

// A list box used as an append-only list of lines, named by its window.
// Callers look the list up once and keep its window: looking a control up
// by number for every line costs a round trip to the window server under
// Wine, seconds over a table of a hundred thousand lines.
void LineListClear(HWND list);
void LineListAppend(HWND list, LPCWSTR line);

// Copying what a list shows. Lists that want keyboard input send their
// dialog WM_VKEYTOITEM for every key and (under Wine, for every list of
// that style) WM_CHARTOITEM for every character; the dialog returns what
// LineListKey returns for the first and LIST_KEY_DEFAULT for the second, so
// that every other key and character works in the list as usual.
#define LIST_KEY_DEFAULT (-1)
// Ctrl+C copies the list's selected lines (every line when none is
// selected) to the clipboard, Ctrl+A selects every line of a list that
// allows many.
INT_PTR LineListKey(HWND dialog, WPARAM wParam, LPARAM lParam);
// Puts those lines on the clipboard as Unicode text joined with CR LF, or
// shows the error Notice "无法复制到剪贴板!" owned by the dialog when it
// cannot (a clipboard that another program holds open is left as it was).
void LineListCopy(HWND dialog, HWND list);
// Hands a movable block holding a terminated Unicode text to the clipboard,
// or, when the clipboard cannot be opened or `text` is null (no memory for
// it), frees the block and shows that same notice.
void PlaceClipboardText(HWND dialog, HGLOBAL text);
