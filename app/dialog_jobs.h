// Workers bound to the dialog they serve.
//
// A worker thread (the heap block walk, the module listing) serves one
// request of one opening of its dialog. It does not touch the dialog's
// controls itself: it sends each step to the dialog, which carries it out on
// its own thread only while the worker's request is still its newest. A
// worker whose dialog has closed, or whose request a newer one has replaced,
// is refused and stops, leaving nothing behind. The check and the step are
// one action of the dialog's thread, which is also the only thread that
// makes a new request. A notice is such a step too: shown by the dialog's
// thread while the worker waits, it cannot come after the dialog has ended.
//
// The step message carries nothing the dialog trusts: any program on the
// desktop can send it. A step is carried out only when its lParam is, as a
// value, one of the steps a worker of this process has sent and is still
// waiting on; anything else is ignored before anything is read through it.
#pragma once

#include "platform/platform.h"

// The dialog and the request of it that a worker serves.
struct DialogJob {
    HWND dialog;
    DWORD request;
};

// A new request of a dialog, taken on the UI thread. The heap and module
// dialogs take theirs from this one count, so a dialog whose window handle
// was a closed dialog's of the other kind never matches an old worker.
DWORD NewJobRequest();

// Starts `routine` on a new thread with `job`, whose `served` becomes a new
// request of `dialog`, made the dialog's newest (`*newest`); the thread's
// handle is closed. When no thread can be started, `job` is freed and
// `*newest` goes back to what it was, so an earlier worker goes on: FALSE.
BOOL StartDialogJob(HWND dialog, DWORD* newest, DialogJob* served, LPTHREAD_START_ROUTINE routine, void* job);

// The private message that carries a step; lParam names a JobStep of a
// waiting worker (CarryOutJobStep judges that).
#define WM_JOB_STEP (WM_APP + 2)

enum JobAction { JOB_CLEAR, JOB_APPEND, JOB_ENABLE_REFRESH, JOB_NOTICE, JOB_NOTICE_END };

struct JobStep {
    DWORD request;
    JobAction action;
    HWND list;     // JOB_CLEAR and JOB_APPEND
    LPCWSTR line;  // JOB_APPEND; the text of JOB_NOTICE and JOB_NOTICE_END
    UINT icon;     // JOB_NOTICE and JOB_NOTICE_END
    BOOL done;     // set by the dialog when it carried the step out
};

// Worker side. Each returns FALSE when the dialog refused the step (or is
// gone): the worker stops then.
BOOL JobClear(const DialogJob& job, HWND list);
BOOL JobAppend(const DialogJob& job, HWND list, LPCWSTR line);
// Enables the dialog's button 1.
BOOL JobEnableRefresh(const DialogJob& job);
// Shows a Notice owned by the dialog, on the dialog's thread.
BOOL JobNotice(const DialogJob& job, LPCWSTR text, UINT icon);
// Shows an error Notice and then ends the dialog with 0, as one step.
BOOL JobFail(const DialogJob& job, LPCWSTR text);

// Dialog side, for WM_JOB_STEP: carries the step out when `lParam` is a step
// a worker has sent and still waits on, not yet carried out, and its request
// is `newest`, the dialog's newest request. Any other lParam is ignored.
// Called on the UI thread only.
void CarryOutJobStep(HWND dialog, DWORD newest, LPARAM lParam);
