// The "内存内容" window: what one allocation of the inspected process holds,
// as bytes and as strings, with find and 转到. It only reads the process.
#pragma once

#include "platform/platform.h"
#include "uses/uses.h"

// Shows the modal dialog IDD_CONTENTS, owned by `owner`, for `allocation`
// (one of the walk's allocations of SelectedPid); returns when it closes.
// A free allocation shows nothing.
void ShowContentsDialog(HWND owner, const Allocation& allocation);

INT_PTR CALLBACK ContentsDialog(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
