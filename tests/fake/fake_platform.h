// A scriptable stand-in for the operating system, for the host unit tests.
//
// It defines every operation platform/platform.h declares on the host: a
// world of processes (regions, counters, modules, heaps, refusals and
// failures part way), dialog windows whose controls record what they are
// given, message boxes, pens and line draws. Threads and events are real.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fake {

struct Region {
    ULONG_PTR base = 0;
    SIZE_T size = 0;
    DWORD allocationProtect = 0;
    DWORD state = MEM_FREE;
    DWORD type = 0;
    DWORD protect = 0;
};

struct Module {
    std::u16string name;
    ULONG_PTR base = 0;
    DWORD size = 0;
    ULONG_PTR entry = 0;
    bool nameFails = false;  // GetModuleBaseNameW returns 0 for it
    bool infoFails = false;  // GetModuleInformation returns FALSE for it
};

struct Block {
    ULONG_PTR handle = 0;
    ULONG_PTR address = 0;
    SIZE_T size = 0;
    DWORD flags = LF32_FIXED;
};

struct Heap {
    ULONG_PTR id = 0;
    DWORD flags = 0;
    std::vector<Block> blocks;
};

// A step of a tool-help walk that fails: step 0 is the First call, step n
// the n-th Next call. The step returns FALSE with this last-error value.
struct StepFailure {
    int step = -1;
    DWORD error = ERROR_ACCESS_DENIED;
};

struct Process {
    std::vector<Region> regions;            // in address order
    int queryFailsAtRegion = -1;            // VirtualQueryEx returns 0 from this region on
    int queryHangsAtRegion = -1;            // VirtualQueryEx of this region waits until
                                            // ReleaseHungQueries (or Reset), then fails
    std::map<int, DWORD> queryLate;         // region index -> ms its VirtualQueryEx takes
    DWORD grantedAccess = 0xFFFFFFFFu;      // OpenProcess fails for rights outside this
    int opensBeforeExit = -1;               // when >= 0: OpenProcess succeeds this many more
                                            // times, then fails as for a process that has exited
    PROCESS_MEMORY_COUNTERS counters = {};
    bool countersFail = false;
    std::vector<Module> modules;
    bool enumModulesFails = false;
    std::vector<Heap> heaps;
    bool snapshotFails = false;
    StepFailure heapListFailure;
    StepFailure blockFailure;
    std::u16string exeName;                 // its name in the process snapshot
    bool wow64 = false;                     // IsWow64Process answers this for it
    ULONGLONG created = 0;                  // its creation time: AddProcess gives each
                                            // process (a PID used again too) a later one
};

// Everything is cleared: processes, windows, records, hooks, failures.
void Reset();

Process& AddProcess(DWORD pid);
void RemoveProcess(DWORD pid);
// Lets every VirtualQueryEx that hangs return (it fails).
void ReleaseHungQueries();

struct OpenCall {
    DWORD pid;
    DWORD access;
    BOOL inherit;
};
std::vector<OpenCall> OpenCalls();
// Process, snapshot and thread-object handles not yet closed.
int OpenKernelHandles();
// Thread handles not yet closed.
int OpenThreadHandles();
// Events not yet closed.
int OpenEvents();
// VirtualQueryEx calls begun with a process handle that was already closed
// (on the platform its value may by then name another process).
int QueriesWithClosedHandles();

// ---- Windows and dialogs -------------------------------------------------

struct Control {
    std::vector<std::u16string> lines;  // list box items, in order
    std::u16string text;                // edit field or static text
    bool enabled = true;
    int selection = LB_ERR;
    int redrawOffCount = 0;             // WM_SETREDRAW FALSE received
    int redrawOnCount = 0;              // WM_SETREDRAW TRUE received
    int invalidated = 0;                // InvalidateRect calls
    WPARAM storageItems = 0;            // items reserved by LB_INITSTORAGE, in all
    COLORREF barColor = 0;
    COLORREF backColor = 0;
    LPARAM range = 0;
    WPARAM position = 0;
    std::vector<UINT> messages;         // every message it was sent, in order
    // A list of extended selection (LBS_EXTENDEDSEL) and its selected lines;
    // a list without it refuses the selection messages of many lines.
    bool extendedSelection = false;
    std::set<int> selected;
    int topIndex = 0;  // a list box's top line (LB_SETTOPINDEX)
    // A virtual list view: its rows (LVM_SETITEMCOUNT) and column names;
    // its selected rows are `selected`.
    int itemCount = 0;
    std::vector<std::u16string> columns;
    int check = 0;  // a check box's state (BM_SETCHECK, BM_GETCHECK)
};

// A dialog window as the test drives it. `proc` may be null when the test
// only needs a window to hand to a routine.
HWND NewDialog(int templateId, DLGPROC proc = nullptr, HWND owner = nullptr);
// A new dialog with the window handle of a closed one, as the platform may
// hand a handle on; the old one's controls are gone.
HWND ReopenDialog(HWND closed, int templateId, DLGPROC proc);
Control& Item(HWND dialog, int id);
std::vector<std::string> Lines(HWND dialog, int id);
std::string Text(HWND dialog, int id);
void SetText(HWND dialog, int id, const std::string& utf8);
bool Enabled(HWND dialog, int id);
bool Ended(HWND dialog);
INT_PTR EndResult(HWND dialog);
void SetWindowSize(HWND dialog, int width, int height);
int TemplateOf(HWND dialog);
HWND OwnerOf(HWND dialog);

// A message sent to a dialog by another thread than the one that created it
// waits, as on the platform, until that thread takes it: DeliverSent runs
// every one waiting for the calling thread's dialogs, in order, and returns
// how many. DeliverPosted, WaitUntil, WaitForBoxes, JoinThreads and
// Hold::WaitReached deliver them while they wait, as a message loop would.
int DeliverSent();
// Called on the dialog's thread right after its procedure handled a message
// sent from another thread, before the sender goes on.
void SetSentHook(std::function<void(HWND, UINT)> hook);

// Calls the dialog's procedure as the platform would, and returns its result.
INT_PTR Send(HWND dialog, UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);
INT_PTR Command(HWND dialog, int id, int code = BN_CLICKED);
// Delivers what was posted to the dialog, in order, on this thread.
int DeliverPosted(HWND dialog);
std::vector<UINT> Posted(HWND dialog);
// Messages sent or dispatched to the dialog window itself (not its
// controls), in order. PeekMessageW takes what was posted to any window,
// oldest window first; IsDialogMessageW dispatches what is for the dialog
// or its controls; the active window is the last one SetWindowPos placed.
struct SentMessage {
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
};
std::vector<SentMessage> SentTo(HWND dialog);
// Posts a message to the window, from any thread, and waits until it has
// been dispatched to it (by the thread that handles the window's queue).
bool PostAndWaitDispatched(HWND window, UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);

struct Placement {
    HWND after;
    int x, y, cx, cy;
    UINT flags;
};
std::vector<Placement> Placements(HWND dialog);

// DialogBoxParamW opens a window for the template, initialises it, runs the
// script for that template (if any), delivers posted messages and, unless
// the dialog has ended by then, sends it the close message as a user would.
struct OpenedDialog {
    int templateId;
    HWND owner;
    HWND window;
    LPARAM param;
};
std::vector<OpenedDialog> OpenedDialogs();
void OnDialog(int templateId, std::function<void(HWND)> script);

// ---- Message boxes -------------------------------------------------------

struct Box {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
};
// A notice as the program shows it: the caption "提示", an OK button only,
// and the icon (MB_ICONERROR or MB_ICONINFORMATION).
Box Notice(HWND owner, const std::string& text, UINT icon);
bool operator==(const Box& a, const Box& b);
void PrintTo(const Box& box, std::ostream* out);
std::vector<Box> Boxes();
std::vector<std::string> BoxTexts();
// Blocks until at least `count` boxes were shown, or the time-out passes.
bool WaitForBoxes(size_t count, int timeoutMs = 5000);
// Called inside MessageBoxW (on the showing thread) before it returns; it
// may block to keep the box "open".
void SetBoxHook(std::function<void(const Box&)> hook);

// ---- Drawing -------------------------------------------------------------

struct DrawnLine {
    COLORREF color;
    int width;
    int x0, y0, x1, y1;
};
std::vector<DrawnLine> DrawnLines();
// With recording off, line draws are only counted (for benchmarks that
// draw tens of millions of lines).
void SetLineRecording(bool on);
long long LineDrawCount();
void ClearDrawnLines();
int OpenDCs();          // taken with GetDC, not yet released
int LivePens();         // created, not yet deleted
int PensDeletedWhileSelected();
std::vector<HWND> DCWindows();  // the window of every GetDC call
// The next `count` GetDC calls on a live window fail.
void FailGetDC(int count);
// Called after every line draw, on the drawing thread, outside the fake's
// lock: it may make requests or change the region lists mid-pass.
void SetLineHook(std::function<void(const DrawnLine&)> hook);

// ---- System --------------------------------------------------------------

void SetMemoryStatus(const MEMORYSTATUSEX& status);
void SetLocalTime(WORD hour, WORD minute, WORD second);
void SetScreen(int width, int height);

struct Timer {
    HWND window;
    UINT_PTR id;
    UINT elapse;
    bool hasProc;
};
std::vector<Timer> Timers();
DWORD InitCommonControlsFlags();  // OR of every dwICC passed
int LoadIconCalls(int id);

// The next `count` CreateThread calls fail.
void FailThreadCreation(int count);
// Threads started from now on begin with this last-error value, as if an
// earlier call on the thread had left it there. Reset sets it back to 0.
void SetThreadStartLastError(DWORD code);
// Called on entry to VirtualQueryEx, EnumProcessModules, Heap32First, GetDC
// and IsWindow with the call's name, on the calling thread and outside the
// fake's lock: it may block to hold a worker at that step, or act just then.
void SetCallHook(std::function<void(const std::string&)> hook);
// Whether the event was created manual-reset.
bool EventManualReset(HANDLE event);

// Holds the first thread that makes `call` (one SetCallHook knows) at that
// call until Release or the end of the Hold; later callers pass. Installs
// the call hook for its lifetime.
class Hold {
public:
    explicit Hold(const std::string& call);
    ~Hold();
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
    // Waits until a thread is held.
    bool WaitReached(int timeoutMs = 5000);
    void Release();

private:
    struct State;
    std::shared_ptr<State> state_;
};

// Polls until the condition holds or the time-out passes.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 5000);
// Joins every thread started with this routine so far; with a time-out,
// false when one is still running after it.
bool JoinThreads(LPTHREAD_START_ROUTINE routine, int timeoutMs = -1);

// ---- The process snapshot ----------------------------------------------

// CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS) lists every process by its
// exeName, in the order the processes were added. It fails when
// `snapshotFails`; its steps fail as `stepFailure` says.
void SetProcessSnapshotFaults(bool snapshotFails, StepFailure stepFailure = {});
// What IsWow64Process answers for the current process.
void SetSelfWow64(bool wow64);

// ---- Keyboard and clipboard ----------------------------------------------

// Whether GetKeyState reports the key down.
void SetKeyDown(int key, bool down);
// Another program holds the clipboard open: OpenClipboard fails.
void HoldClipboard(bool held);
void SetClipboardText(const std::string& utf8);
// The CF_UNICODETEXT text on the clipboard, as UTF-8.
std::string ClipboardText();
bool ClipboardOpen();
// Memory blocks from GlobalAlloc neither freed nor handed to the clipboard.
int LiveGlobals();

// ---- For the fake's other files -------------------------------------------

// The lock every part of the fake world is read and changed under.
std::recursive_mutex& WorldLock();
// A kernel handle that another file of the fake gives its own meaning,
// `tag` (above 0); OpenKernelHandles counts it until it is closed.
HANDLE NewTaggedHandle(int tag, DWORD id, DWORD access);
// What an open handle is: tag 0 and the PID for a handle of a process that
// is still there, or a tagged handle's tag and id. False otherwise.
bool HandleInfo(HANDLE handle, int* tag, DWORD* id, DWORD* access);

// UTF-16 to UTF-8, for assertions.
std::string Utf8(const WCHAR* text);
std::string Utf8(const std::u16string& text);
std::u16string Utf16(const std::string& utf8);

}  // namespace fake
