// The module browser: the modules loaded in the inspected process.
#pragma once

#include "platform/platform.h"

// The open ModuleDialog, stored when it opens.
extern HWND ModuleWindow;

struct ModuleJob {
    DWORD pid;
};

DWORD WINAPI ListModules(LPVOID job);
INT_PTR CALLBACK ModuleDialog(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
