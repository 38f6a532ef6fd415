#include "app/dialog_jobs.h"

#include <stdlib.h>

#include "app/shell.h"

namespace {

DWORD LastJobRequest = 0;

// The steps workers have sent and still wait on, under StepsLock. A worker
// enters its step before it sends it and takes it out once the send has
// returned. The dialog's thread marks a step it carries out as running and
// takes it out when it has finished, so a step runs once at most, and its
// worker does not go on while it runs. The table grows with the workers
// waiting at once.
struct WaitingStep {
    JobStep* step;
    BOOL running;
};
CRITICAL_SECTION StepsLock;
bool StepsReady = false;
WaitingStep* Waiting = nullptr;
size_t WaitingCount = 0;
size_t WaitingCapacity = 0;

// Prepares StepsLock: on the UI thread, before any worker starts and before
// any step message is judged.
void PrepareSteps() {
    if (StepsReady) return;
    InitializeCriticalSection(&StepsLock);
    StepsReady = true;
}

// The step's place in the table, or WaitingCount. Under StepsLock.
size_t FindStep(LPARAM value) {
    size_t i = 0;
    while (i < WaitingCount && reinterpret_cast<LPARAM>(Waiting[i].step) != value) ++i;
    return i;
}

void RemoveStep(size_t i) { Waiting[i] = Waiting[--WaitingCount]; }

// FALSE when the table cannot grow: the step is not sent then.
BOOL EnterStep(JobStep* step) {
    EnterCriticalSection(&StepsLock);
    if (WaitingCount == WaitingCapacity) {
        size_t capacity = WaitingCapacity ? WaitingCapacity * 2 : 16;
        void* grown = realloc(Waiting, capacity * sizeof(WaitingStep));
        if (grown) {
            Waiting = static_cast<WaitingStep*>(grown);
            WaitingCapacity = capacity;
        }
    }
    BOOL entered = WaitingCount < WaitingCapacity;
    if (entered) Waiting[WaitingCount++] = {step, FALSE};
    LeaveCriticalSection(&StepsLock);
    return entered;
}

// Takes the step out once it is not running. It runs after the worker's own
// send has returned only when another program sent its value as well.
void LeaveStep(JobStep* step) {
    for (;;) {
        EnterCriticalSection(&StepsLock);
        size_t i = FindStep(reinterpret_cast<LPARAM>(step));
        BOOL running = i < WaitingCount && Waiting[i].running;
        if (i < WaitingCount && !running) RemoveStep(i);
        LeaveCriticalSection(&StepsLock);
        if (!running) return;
        Sleep(1);
    }
}

// Sends one step to the job's dialog and waits until it has been handled.
// A dialog that no longer exists handles nothing, so the step stays undone.
BOOL SendStep(const DialogJob& job, JobAction action, HWND list, LPCWSTR line, UINT icon = 0) {
    JobStep step = {job.request, action, list, line, icon, FALSE};
    if (!EnterStep(&step)) return FALSE;
    SendMessageW(job.dialog, WM_JOB_STEP, 0, reinterpret_cast<LPARAM>(&step));
    LeaveStep(&step);
    return step.done;
}

// The waiting step `value` names, marked running; null for any other value
// and for a step already running.
JobStep* TakeStep(LPARAM value) {
    EnterCriticalSection(&StepsLock);
    size_t i = FindStep(value);
    JobStep* step = i < WaitingCount && !Waiting[i].running ? Waiting[i].step : nullptr;
    if (step) Waiting[i].running = TRUE;
    LeaveCriticalSection(&StepsLock);
    return step;
}

// The step has finished: its worker may go on.
void FinishStep(JobStep* step) {
    EnterCriticalSection(&StepsLock);
    RemoveStep(FindStep(reinterpret_cast<LPARAM>(step)));
    LeaveCriticalSection(&StepsLock);
}

}  // namespace

DWORD NewJobRequest() {
    PrepareSteps();
    return ++LastJobRequest;
}

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

void CarryOutJobStep(HWND dialog, DWORD newest, LPARAM lParam) {
    PrepareSteps();
    JobStep* step = TakeStep(lParam);
    if (!step) return;
    if (step->request == newest) {
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
    FinishStep(step);
}
