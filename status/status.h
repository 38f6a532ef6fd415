// The once-a-second system memory read-out of the main window.
#pragma once

#include "platform/platform.h"

// Fills fields 1005 to 1012, the clock 1023 to 1025 and the gauge 1026.
void ShowSystemStatus(HWND mainWindow);
