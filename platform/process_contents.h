// The platform seam's part for the "内存内容" window: whether the inspected
// process still runs, its controls (check box, edit boxes, a question
// before a large copy) and the list view's scroll position. Kept apart
// from platform/platform.h so that the two grow without touching each
// other.
#pragma once

#include "platform/platform.h"
#include "platform/process_read.h"

#ifndef _WIN32  // Linux host: the subset the window needs.

#define STILL_ACTIVE 259
#define BM_GETCHECK 0x00F0
#define BST_CHECKED 1
#define EN_CHANGE 0x0300
#define MB_YESNO 0x00000004
#define MB_ICONQUESTION 0x00000020
#define IDYES 6
#define VK_F3 0x72
#define LVM_GETTOPINDEX 0x1027
#define LVM_GETCOUNTPERPAGE 0x1028
#define LVM_GETSELECTEDCOUNT 0x1032

BOOL GetExitCodeProcess(HANDLE process, LPDWORD code);

#endif  // _WIN32
