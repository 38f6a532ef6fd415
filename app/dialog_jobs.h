// Workers bound to the dialog they serve.
//
// A worker thread (the heap block walk, the module listing) serves one
// request of one opening of its dialog. It does not touch the dialog's
// controls itself: it sends each step to the dialog, which carries it out on
// its own thread only while the worker's request is still its newest. A
// worker whose dialog has closed, or whose request a newer one has replaced,
// is refused and stops, leaving nothing behind. The check and the step are
// one action of the dialog's thread, which is also the only thread that
// makes a new request.
#pragma once

#include "platform/platform.h"

// The dialog and the request of it that a worker serves.
struct DialogJob {
    HWND dialog;
    DWORD request;
};

// The private message that carries a step; lParam points to a JobStep.
#define WM_JOB_STEP (WM_APP + 2)

enum JobAction { JOB_CHECK, JOB_CLEAR, JOB_APPEND, JOB_ENABLE_REFRESH, JOB_END };

struct JobStep {
    DWORD request;
    JobAction action;
    HWND list;     // JOB_CLEAR and JOB_APPEND
    LPCWSTR line;  // JOB_APPEND
    BOOL done;     // set by the dialog when it carried the step out
};

// Worker side. Each returns FALSE when the dialog refused the step (or is
// gone): the worker stops then.
BOOL JobClear(const DialogJob& job, HWND list);
BOOL JobAppend(const DialogJob& job, HWND list, LPCWSTR line);
// Enables the dialog's button 1.
BOOL JobEnableRefresh(const DialogJob& job);
// Ends the dialog with 0, on its own thread.
BOOL JobEndDialog(const DialogJob& job);
// Shows a Notice owned by the dialog, from the worker's thread, if the
// worker's request is still the dialog's newest.
BOOL JobNotice(const DialogJob& job, LPCWSTR text, UINT icon);

// Dialog side, for WM_JOB_STEP: carries the step out when its request is
// `newest`, the dialog's newest request.
void CarryOutJobStep(HWND dialog, DWORD newest, JobStep* step);
