#include "contents/contents_jobs.h"

#include <stdlib.h>

#include "contents/contents_reading.h"

namespace {

const DWORD NewsInterval = 50;

struct Pass {
    ContentsJob* job;
    BYTE* buffer;
    DWORD lastNews;
};

// Whether the job is to stop: asked to, or its process ended (what was
// read so far stays). Records the progress.
BOOL Stopped(ContentsJob* job, ULONGLONG looked) {
    BOOL ended = ProcessEnded(job->process);
    EnterCriticalSection(&job->lock);
    job->ended = job->ended || ended;
    BOOL stop = job->stop || ended;
    job->looked = looked < job->total ? looked : job->total;
    LeaveCriticalSection(&job->lock);
    return stop;
}

void News(Pass* pass) {
    DWORD now = GetTickCount();
    if (now - pass->lastNews < NewsInterval) return;
    pass->lastNews = now;
    if (pass->job->dialog) PostMessageW(pass->job->dialog, pass->job->message, 0, 0);
}

// Strings: every committed piece, in address order.
void FindStrings(Pass* pass) {
    ContentsJob* job = pass->job;
    StringScanner* scanner = static_cast<StringScanner*>(malloc(sizeof(StringScanner)));
    if (!scanner) {
        job->strings.full = TRUE;
        return;
    }
    StartStringScan(scanner, job->shortest);
    ULONGLONG looked = 0;
    for (size_t i = 0; i < job->layout->count; ++i) {
        const ContentsSpan& s = job->layout->spans[i];
        if (!s.committed) continue;
        for (ULONGLONG at = s.base; at < s.base + s.size;) {
            if (Stopped(job, looked)) {
                free(scanner);
                return;
            }
            BOOL readable;
            size_t n = ReadContentsPiece(job->process, at, s.base + s.size, pass->buffer, CONTENTS_RUN_BYTES, &readable);
            ScanStrings(scanner, at, pass->buffer, n, readable, &job->strings);
            at += n;
            looked += n;
            News(pass);
        }
    }
    EndStringScan(scanner, &job->strings);
    free(scanner);
    Stopped(job, looked);
}

// One pass of find over [start, end) of the allocation: matches that
// begin in [from, before). TRUE when found, or stopped.
BOOL FindPass(Pass* pass, ULONGLONG start, ULONGLONG end, ULONGLONG from, ULONGLONG before, ULONGLONG* looked) {
    ContentsJob* job = pass->job;
    FindScanner* scanner = static_cast<FindScanner*>(malloc(sizeof(FindScanner)));
    if (!scanner) return TRUE;
    StartFind(scanner, job->pattern);
    BOOL over = FALSE;
    for (size_t i = 0; i < job->layout->count && !over; ++i) {
        const ContentsSpan& s = job->layout->spans[i];
        ULONGLONG first = s.base > start ? s.base : start - start % CONTENTS_PAGE;
        ULONGLONG last = s.base + s.size < end ? s.base + s.size : end;
        if (!s.committed) continue;
        for (ULONGLONG at = first; at < last && !over;) {
            if (Stopped(job, *looked)) {
                over = TRUE;
                break;
            }
            BOOL readable;
            size_t n = ReadContentsPiece(job->process, at, last, pass->buffer, CONTENTS_RUN_BYTES, &readable);
            ULONGLONG where;
            if (FindInBytes(scanner, at, pass->buffer, n, readable, from, before, &where)) {
                EnterCriticalSection(&job->lock);
                job->found = TRUE;
                job->foundAt = where;
                LeaveCriticalSection(&job->lock);
                over = TRUE;
            }
            at += n;
            *looked += n;
            News(pass);
        }
    }
    free(scanner);
    return over;
}

void Find(Pass* pass) {
    ContentsJob* job = pass->job;
    const ContentsLayout& layout = *job->layout;
    ULONGLONG looked = 0;
    if (FindPass(pass, job->from, layout.end, job->from, layout.end, &looked)) return;
    // From the start: the matches that begin before `from`, which may run
    // on past it.
    ULONGLONG until = job->from + job->pattern.longest;
    if (until > layout.end || until < job->from) until = layout.end;
    FindPass(pass, layout.base, until, layout.base, job->from, &looked);
}

DWORD WINAPI ContentsJobThread(LPVOID parameter) {
    RunContentsJob(static_cast<ContentsJob*>(parameter));
    return 0;
}

}  // namespace

ContentsJob* NewContentsJob(ContentsJobKind kind, HANDLE process, const ContentsLayout* layout, HWND dialog,
                            UINT message) {
    ContentsJob* job = static_cast<ContentsJob*>(calloc(1, sizeof(ContentsJob)));
    if (!job) return nullptr;
    InitializeCriticalSection(&job->lock);
    job->kind = kind;
    job->process = process;
    job->layout = layout;
    job->dialog = dialog;
    job->message = message;
    for (size_t i = 0; i < layout->count; ++i)
        if (layout->spans[i].committed) job->total += layout->spans[i].size;
    return job;
}

void RunContentsJob(ContentsJob* job) {
    Pass pass = {job, static_cast<BYTE*>(malloc(CONTENTS_RUN_BYTES)), GetTickCount()};
    if (pass.buffer && job->kind == CONTENTS_STRINGS_JOB) FindStrings(&pass);
    if (pass.buffer && job->kind == CONTENTS_FIND_JOB) Find(&pass);
    if (!pass.buffer) job->strings.full = TRUE;
    free(pass.buffer);
    EnterCriticalSection(&job->lock);
    job->done = TRUE;
    LeaveCriticalSection(&job->lock);
    if (job->dialog) PostMessageW(job->dialog, job->message, 0, 0);
}

BOOL StartContentsJob(ContentsJob* job) {
    job->thread = CreateThread(nullptr, 0, ContentsJobThread, job, 0, nullptr);
    if (job->thread) return TRUE;
    RunContentsJob(job);
    return FALSE;
}

BOOL ContentsJobDone(ContentsJob* job, ULONGLONG* looked) {
    EnterCriticalSection(&job->lock);
    BOOL done = job->done;
    *looked = job->looked;
    LeaveCriticalSection(&job->lock);
    return done;
}

void EndContentsJob(ContentsJob* job) {
    if (!job) return;
    EnterCriticalSection(&job->lock);
    job->stop = TRUE;
    LeaveCriticalSection(&job->lock);
    if (job->thread) {
        WaitForSingleObject(job->thread, INFINITE);
        CloseHandle(job->thread);
    }
    FreeStringList(&job->strings);
    DeleteCriticalSection(&job->lock);
    free(job);
}
