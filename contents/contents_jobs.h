// The "内存内容" window's worker: the strings search and find, run on a
// thread of their own over the allocation's committed regions, a piece
// (at most CONTENTS_RUN_BYTES of one query answer) at a time.
//
// The worker touches no window: it posts its dialog a message that carries
// nothing when it has news (at most every 50 ms, and when it ends), and
// the dialog reads the progress and, once done, the result under the job's
// lock. Stopping sets a flag the worker looks at before every piece and
// waits for the thread, so a stopped job leaves nothing behind.
#pragma once

#include "contents/contents_find.h"
#include "contents/contents_lines.h"
#include "contents/contents_strings.h"
#include "platform/platform.h"

enum ContentsJobKind { CONTENTS_STRINGS_JOB, CONTENTS_FIND_JOB };

struct ContentsJob {
    CRITICAL_SECTION lock;
    BOOL stop;            // under lock
    BOOL done;            // under lock
    BOOL ended;           // the process ended while the job ran; under lock
    ULONGLONG looked;     // committed bytes looked at so far, under lock
    ULONGLONG total;      // the committed bytes to look at
    ContentsJobKind kind;
    HANDLE process;       // the window's, open for the job's life
    HWND dialog;          // posted `message` when there is news
    UINT message;
    const ContentsLayout* layout;  // the window's, unchanged for the job's life
    HANDLE thread;
    // CONTENTS_STRINGS_JOB: the strings found (the dialog takes them once done)
    int shortest;
    StringList strings;
    // CONTENTS_FIND_JOB: from `from` to the end, then from the start
    FindPattern pattern;
    ULONGLONG from;
    BOOL found;
    ULONGLONG foundAt;
};

// A new job of `kind` for the layout's allocation; the caller fills in the
// kind's inputs and starts it. Null when memory runs out.
ContentsJob* NewContentsJob(ContentsJobKind kind, HANDLE process, const ContentsLayout* layout, HWND dialog,
                            UINT message);
// Starts the job's thread; FALSE when none can be started (the job is
// then run to its end on the calling thread).
BOOL StartContentsJob(ContentsJob* job);
// Runs the job to its end (or its stop) on the calling thread.
void RunContentsJob(ContentsJob* job);
// Whether the job has ended; `*looked` its progress.
BOOL ContentsJobDone(ContentsJob* job, ULONGLONG* looked);
// Stops the job (when it runs), waits for its thread and frees it.
void EndContentsJob(ContentsJob* job);
