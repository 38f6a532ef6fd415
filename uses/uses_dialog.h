// The "内存用途" window: what each allocation of the inspected process is,
// summed by kind, for the regions of the process memory dialog's last walk.
#pragma once

#include "platform/platform.h"

// Builds the uses of SelectedPid's walked regions and shows them in the
// modal dialog IDD_USES owned by `processDialog`; returns when it closes.
// A double-click on an allocation closes it and selects that allocation's
// lines in `processDialog`'s region table.
void ShowUsesDialog(HWND processDialog);

INT_PTR CALLBACK UsesDialog(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
