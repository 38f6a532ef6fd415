#include "app/dialog_jobs.h"

#include <stdlib.h>

#include "app/shell.h"

namespace {

DWORD LastJobRequest = 0;

// Sends one step to the job's dialog and waits until it has been handled.
// A dialog that no longer exists handles nothing, so the step stays undone.
BOOL SendStep(const DialogJob& job, JobAction action, HWND list, LPCWSTR line, UINT icon = 0) {
    JobStep step = {job.request, action, list, line, icon, FALSE};
    SendMessageW(job.dialog, WM_JOB_STEP, 0, reinterpret_cast<LPARAM>(&step));
    return step.done;
}

}  // namespace

DWORD NewJobRequest() { return ++LastJobRequest; }

BOOL StartDialogJob(HWND dialog, DWORD* newest, DialogJob* served, LPTHREAD_START_ROUTINE routine, void* job) {
    DWORD earlier = *newest;
    *newest = NewJobRequest();
    *served = {dialog, *newest};
    HANDLE thread = CreateThread(nullptr, 0, routine, job, 0, nullptr);
    if (!thread) {
        *newest = earlier;
        free(job);
        return FALSE;
    }
    CloseHandle(thread);
    return TRUE;
}

BOOL JobClear(const DialogJob& job, HWND list) { return SendStep(job, JOB_CLEAR, list, nullptr); }

BOOL JobAppend(const DialogJob& job, HWND list, LPCWSTR line) { return SendStep(job, JOB_APPEND, list, line); }

BOOL JobEnableRefresh(const DialogJob& job) { return SendStep(job, JOB_ENABLE_REFRESH, nullptr, nullptr); }

BOOL JobNotice(const DialogJob& job, LPCWSTR text, UINT icon) { return SendStep(job, JOB_NOTICE, nullptr, text, icon); }

BOOL JobFail(const DialogJob& job, LPCWSTR text) { return SendStep(job, JOB_NOTICE_END, nullptr, text, MB_ICONERROR); }

void CarryOutJobStep(HWND dialog, DWORD newest, JobStep* step) {
    if (step->request != newest) return;
    switch (step->action) {
    case JOB_CLEAR:
        LineListClear(step->list);
        break;
    case JOB_APPEND:
        LineListAppend(step->list, step->line);
        break;
    case JOB_ENABLE_REFRESH:
        EnableWindow(GetDlgItem(dialog, IDC_REFRESH), TRUE);
        break;
    case JOB_NOTICE:
    case JOB_NOTICE_END:
        Notice(dialog, step->line, step->icon);
        if (step->action == JOB_NOTICE_END) EndDialog(dialog, 0);
        break;
    }
    step->done = TRUE;
}
