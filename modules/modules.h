// The module browser: the modules loaded in the inspected process.
#pragma once

#include "app/dialog_jobs.h"
#include "platform/platform.h"

// The open ModuleDialog, stored when it opens.
extern HWND ModuleWindow;

// A listing: the process to list, and the opening or refresh of the
// ModuleDialog it serves.
struct ModuleJob {
    DWORD pid;
    DialogJob served;
};

DWORD WINAPI ListModules(LPVOID job);
INT_PTR CALLBACK ModuleDialog(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
