// The fake world behind platform/platform.h on the host. See fake_platform.h.
#include "tests/fake/fake_platform.h"
#include "tests/fake/fake_process_read.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

struct HWND__ {
    int templateId = 0;
    int controlId = 0;        // non-zero for a control
    HWND parent = nullptr;    // the dialog of a control
    HWND owner = nullptr;
    DLGPROC proc = nullptr;
    std::thread::id thread;   // the thread that created it runs its procedure
    bool alive = true;
    bool ended = false;
    INT_PTR endResult = 0;
    int width = 400;
    int height = 300;
    std::map<int, fake::Control> controls;
    std::map<int, HWND> controlWindows;
    std::deque<fake::SentMessage> posted;
    std::vector<fake::SentMessage> sent;
    std::vector<fake::Placement> placements;
};

struct HGDIOBJ__ {
    int style = 0;
    int width = 0;
    COLORREF color = 0;
    bool deleted = false;
    bool stock = false;
};

struct HDC__ {
    HWND window = nullptr;
    HGDIOBJ pen = nullptr;
    int x = 0;
    int y = 0;
    bool released = false;
};

struct HICON__ {
    int id;
};

namespace {

enum class Kind { Process, Snapshot, Event, Thread, Tagged };

struct KernelHandle {
    Kind kind;
    bool closed = false;
    bool earlier = false;  // open across a Reset: a thread of an earlier test may still close it
    DWORD pid = 0;
    DWORD access = 0;
    int cursor = 0;  // next heap or process of a snapshot
    bool processList = false;  // a snapshot of the processes
    int tag = 0;  // what a Tagged handle is, to the fake's file that made it
    // events
    std::mutex m;
    std::condition_variable cv;
    bool manual = true;
    bool signalled = false;
    // threads: set when the routine has returned
    std::shared_ptr<std::atomic<bool>> threadDone;
};

struct BlockWalk {
    DWORD pid;
    ULONG_PTR heapId;
    int next;  // index of the next block
};

struct World {
    std::recursive_mutex m;
    std::map<DWORD, fake::Process> processes;
    std::vector<fake::OpenCall> openCalls;
    std::vector<std::unique_ptr<KernelHandle>> handles;
    std::vector<std::unique_ptr<HWND__>> windows;
    std::vector<std::unique_ptr<HDC__>> dcs;
    std::vector<std::unique_ptr<HGDIOBJ__>> pens;
    std::vector<fake::OpenedDialog> opened;
    std::map<int, std::function<void(HWND)>> scripts;
    std::vector<fake::Box> boxes;
    std::function<void(const fake::Box&)> boxHook;
    std::vector<fake::DrawnLine> lines;
    bool recordLines = true;
    long long lineCount = 0;
    int pensDeletedWhileSelected = 0;
    std::vector<HWND> dcWindows;
    MEMORYSTATUSEX status = {};
    SYSTEMTIME time = {};
    int screenW = 1280;
    int screenH = 1024;
    std::vector<fake::Timer> timers;
    DWORD iccFlags = 0;
    std::map<int, int> iconLoads;
    int failThreads = 0;
    ULONGLONG creations = 0;  // the last creation time given to a process
    DWORD threadStartError = 0;
    struct Thread {
        LPTHREAD_START_ROUTINE routine;
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::vector<Thread> threads;
    std::map<HEAPENTRY32*, BlockWalk> blockWalks;
    int failDCs = 0;
    std::function<void(const fake::DrawnLine&)> lineHook;
    std::function<void(const std::string&)> callHook;
    HWND active = nullptr;  // the last window placed with SetWindowPos
    std::function<void(HWND, UINT)> sentHook;
    int closedHandleQueries = 0;
    // the process snapshot
    std::vector<DWORD> processOrder;
    bool processSnapshotFails = false;
    fake::StepFailure processStepFailure;
    bool selfWow64 = false;
};

World& W() {
    static World* world = new World;  // never destroyed: detached threads may outlive main
    return *world;
}

std::mutex boxMutex;
std::condition_variable boxCv;

HGDIOBJ__ stockPen = {PS_SOLID, 1, 0, false, true};
HICON__ icons[1] = {{138}};

thread_local DWORD lastError = 0;
thread_local bool handlingSent = false;  // a procedure runs a message sent from another thread
std::atomic<int> foreverWaits(0);  // threads in WaitForSingleObject with INFINITE

KernelHandle* AsKernel(HANDLE h) {
    World& w = W();
    for (auto& k : w.handles)
        if (k.get() == h) return k.get();
    return nullptr;
}

KernelHandle* NewHandle(Kind kind) {
    W().handles.push_back(std::make_unique<KernelHandle>());
    KernelHandle* k = W().handles.back().get();
    k->kind = kind;
    return k;
}

fake::Process* ProcessOf(KernelHandle* k) {
    if (!k || k->closed || k->earlier) return nullptr;
    auto it = W().processes.find(k->pid);
    return it == W().processes.end() ? nullptr : &it->second;
}

bool IsLiveWindow(HWND h) {
    for (auto& w : W().windows)
        if (w.get() == h) return h->alive;
    return false;
}


fake::Control* ControlOf(HWND dialog, int id) {
    if (!IsLiveWindow(dialog)) return nullptr;
    return &dialog->controls[id];
}

std::u16string ToU16(const WCHAR* s) {
    std::u16string out;
    if (!s) return out;
    for (; *s; ++s) out.push_back(static_cast<char16_t>(*s));
    return out;
}

LRESULT ControlMessage(fake::Control& c, UINT msg, WPARAM wParam, LPARAM lParam) {
    c.messages.push_back(msg);
    switch (msg) {
    case LB_RESETCONTENT:
        c.lines.clear();
        c.selection = LB_ERR;
        c.selected.clear();
        return 0;
    case LB_ADDSTRING:
        c.lines.push_back(ToU16(reinterpret_cast<const WCHAR*>(lParam)));
        return static_cast<LRESULT>(c.lines.size() - 1);
    case LB_GETCOUNT:
        return static_cast<LRESULT>(c.lines.size());
    case LB_GETCURSEL:
        return c.selection;
    case LB_SETCURSEL:
        c.selection = static_cast<int>(wParam) < static_cast<int>(c.lines.size()) ? static_cast<int>(wParam) : LB_ERR;
        return c.selection;
    case LB_GETTEXTLEN:
        return wParam < c.lines.size() ? static_cast<LRESULT>(c.lines[wParam].size()) : LB_ERR;
    case LB_GETTEXT: {
        if (wParam >= c.lines.size()) return LB_ERR;
        WCHAR* out = reinterpret_cast<WCHAR*>(lParam);
        const std::u16string& line = c.lines[wParam];
        for (size_t i = 0; i < line.size(); ++i) out[i] = static_cast<WCHAR>(line[i]);
        out[line.size()] = 0;
        return static_cast<LRESULT>(line.size());
    }
    case LB_SETSEL: {
        int index = static_cast<int>(lParam);
        if (!c.extendedSelection || index < -1 || index >= static_cast<int>(c.lines.size())) return LB_ERR;
        for (int i = index < 0 ? 0 : index; i < (index < 0 ? static_cast<int>(c.lines.size()) : index + 1); ++i) {
            if (wParam) c.selected.insert(i);
            else c.selected.erase(i);
        }
        return 0;
    }
    case LB_GETSELCOUNT:
        return c.extendedSelection ? static_cast<LRESULT>(c.selected.size()) : LB_ERR;
    case LB_GETSELITEMS: {
        if (!c.extendedSelection) return LB_ERR;
        int* out = reinterpret_cast<int*>(lParam);
        LRESULT n = 0;
        for (auto it = c.selected.begin(); it != c.selected.end() && n < static_cast<LRESULT>(wParam); ++it) out[n++] = *it;
        return n;
    }
    case LB_SELITEMRANGEEX: {
        if (!c.extendedSelection || wParam > static_cast<WPARAM>(lParam) || static_cast<size_t>(lParam) >= c.lines.size())
            return LB_ERR;
        for (WPARAM i = wParam; i <= static_cast<WPARAM>(lParam); ++i) c.selected.insert(static_cast<int>(i));
        return 0;
    }
    case LB_SETTOPINDEX:
        if (wParam >= c.lines.size()) return LB_ERR;
        c.topIndex = static_cast<int>(wParam);
        return 0;
    case LVM_SETITEMCOUNT:
        c.itemCount = static_cast<int>(wParam);
        c.selected.clear();
        return TRUE;
    case LVM_SETITEMSTATE: {  // the selected state only; row -1 is every row
        const LVITEMW* item = reinterpret_cast<const LVITEMW*>(lParam);
        int row = static_cast<int>(wParam);
        if (!(item->stateMask & LVIS_SELECTED) || row < -1 || row >= c.itemCount) return TRUE;
        for (int i = row < 0 ? 0 : row; i < (row < 0 ? c.itemCount : row + 1); ++i) {
            if (item->state & LVIS_SELECTED) c.selected.insert(i);
            else c.selected.erase(i);
        }
        return TRUE;
    }
    case LVM_GETNEXTITEM: {  // LVNI_SELECTED: the next selected row after wParam
        if (!(lParam & LVNI_SELECTED)) return -1;
        auto next = c.selected.upper_bound(static_cast<int>(wParam));
        return next == c.selected.end() ? -1 : *next;
    }
    case LVM_INSERTCOLUMNW: {
        const LVCOLUMNW* column = reinterpret_cast<const LVCOLUMNW*>(lParam);
        c.columns.push_back(ToU16(column->pszText));
        return static_cast<LRESULT>(c.columns.size() - 1);
    }
    case BM_SETCHECK:
        c.check = static_cast<int>(wParam);
        return 0;
    case BM_GETCHECK:
        return c.check;
    case LB_INITSTORAGE:
        c.storageItems += wParam;
        return static_cast<LRESULT>(c.storageItems);
    case WM_SETREDRAW:
        (wParam ? c.redrawOnCount : c.redrawOffCount)++;
        return 0;
    case WM_SETTEXT:
        c.text = ToU16(reinterpret_cast<const WCHAR*>(lParam));
        return TRUE;
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(c.text.size());
    case PBM_SETBARCOLOR: {
        COLORREF old = c.barColor;
        c.barColor = static_cast<COLORREF>(lParam);
        return old;
    }
    case PBM_SETBKCOLOR: {
        COLORREF old = c.backColor;
        c.backColor = static_cast<COLORREF>(lParam);
        return old;
    }
    case PBM_SETRANGE:
        c.range = lParam;
        return 0;
    case PBM_SETPOS: {
        WPARAM old = c.position;
        c.position = wParam;
        return static_cast<LRESULT>(old);
    }
    default:
        return 0;
    }
}

void AppendNumber(std::u16string& out, unsigned long long v, int base, int width, bool zero) {
    char digits[32];
    int n = 0;
    do {
        unsigned d = static_cast<unsigned>(v % base);
        digits[n++] = static_cast<char>(d < 10 ? '0' + d : 'a' + d - 10);
        v /= base;
    } while (v);
    for (int i = n; i < width; ++i) out.push_back(zero ? u'0' : u' ');
    while (n) out.push_back(static_cast<char16_t>(digits[--n]));
}

// Runs the test's hook for a call, outside the world's lock, so that it may
// block the calling thread.
void CallHook(const char* call) {
    std::function<void(const std::string&)> hook;
    {
        std::lock_guard<std::recursive_mutex> lock(W().m);
        hook = W().callHook;
    }
    if (hook) hook(call);
}

bool LiveWindow(HWND window) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    return IsLiveWindow(window);
}

// A message sent to a dialog from a thread other than its own: it waits in
// this queue until the dialog's thread takes it (fake::DeliverSent), as the
// platform runs a window's procedure only on the thread that owns it.
struct PendingSend {
    HWND window;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
    std::thread::id to;
    enum { Queued, Running, Done } state;
    LRESULT result;
};
std::mutex sendMutex;
std::condition_variable sendCv;
std::deque<PendingSend*> sendQueue;

LRESULT SendToOtherThread(HWND window, UINT msg, WPARAM wParam, LPARAM lParam, std::thread::id to) {
    PendingSend pending = {window, msg, wParam, lParam, to, PendingSend::Queued, 0};
    std::unique_lock<std::mutex> lock(sendMutex);
    sendQueue.push_back(&pending);
    sendCv.notify_all();
    for (;;) {
        if (pending.state == PendingSend::Done) return pending.result;
        // A window destroyed before its thread took the message never
        // handles it.
        if (pending.state == PendingSend::Queued && !LiveWindow(window)) {
            sendQueue.erase(std::find(sendQueue.begin(), sendQueue.end(), &pending));
            return 0;
        }
        sendCv.wait_for(lock, std::chrono::milliseconds(10));
    }
}

}  // namespace

// ---- user32 -----------------------------------------------------------------

INT_PTR DialogBoxParamW(HINSTANCE, LPCWSTR templateName, HWND owner, DLGPROC proc, LPARAM param) {
    HWND dialog;
    std::function<void(HWND)> script;
    {
        std::lock_guard<std::recursive_mutex> lock(W().m);
        int id = static_cast<int>(reinterpret_cast<ULONG_PTR>(templateName));
        dialog = fake::NewDialog(id, proc, owner);
        W().opened.push_back({id, owner, dialog, param});
        auto it = W().scripts.find(id);
        if (it != W().scripts.end()) script = it->second;
    }
    proc(dialog, WM_INITDIALOG, 0, param);
    if (!fake::Ended(dialog) && script) script(dialog);
    fake::DeliverPosted(dialog);
    if (!fake::Ended(dialog)) proc(dialog, WM_CLOSE, 0, 0);
    fake::DeliverPosted(dialog);
    std::lock_guard<std::recursive_mutex> lock(W().m);
    dialog->alive = false;
    sendCv.notify_all();
    return dialog->endResult;
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    if (!IsLiveWindow(dialog) || dialog->controlId) return FALSE;
    dialog->ended = true;
    dialog->endResult = result;
    return TRUE;
}

LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT msg, WPARAM wParam, LPARAM lParam) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    fake::Control* c = ControlOf(dialog, id);
    return c ? ControlMessage(*c, msg, wParam, lParam) : 0;
}

BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    fake::Control* c = ControlOf(dialog, id);
    if (!c) return FALSE;
    c->messages.push_back(WM_SETTEXT);
    c->text = ToU16(text);
    return TRUE;
}

// Copies as much of the field's text as fits, with its terminator.
UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR text, int size) {
    std::u16string field;
    {
        std::lock_guard<std::recursive_mutex> lock(W().m);
        fake::Control* c = ControlOf(dialog, id);
        if (c) field = c->text;
    }
    if (size <= 0) return 0;
    size_t n = field.size() < static_cast<size_t>(size - 1) ? field.size() : static_cast<size_t>(size - 1);
    for (size_t i = 0; i < n; ++i) text[i] = static_cast<WCHAR>(field[i]);
    text[n] = 0;
    return static_cast<UINT>(n);
}

HWND GetDlgItem(HWND dialog, int id) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    if (!IsLiveWindow(dialog)) return nullptr;
    auto it = dialog->controlWindows.find(id);
    if (it != dialog->controlWindows.end()) return it->second;
    W().windows.push_back(std::make_unique<HWND__>());
    HWND control = W().windows.back().get();
    control->controlId = id;
    control->parent = dialog;
    dialog->controlWindows[id] = control;
    dialog->controls[id];
    return control;
}

BOOL EnableWindow(HWND window, BOOL enable) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    if (!IsLiveWindow(window) || !window->controlId) return FALSE;
    fake::Control& c = window->parent->controls[window->controlId];
    bool wasDisabled = !c.enabled;
    c.enabled = enable != FALSE;
    return wasDisabled;
}

BOOL IsWindow(HWND window) {
    CallHook("IsWindow");
    return LiveWindow(window);
}

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    fake::Box box{owner, fake::Utf8(text), fake::Utf8(caption), type};
    std::function<void(const fake::Box&)> hook;
    {
        std::lock_guard<std::recursive_mutex> lock(W().m);
        hook = W().boxHook;
    }
    {
        std::lock_guard<std::mutex> lock(boxMutex);
        W().boxes.push_back(box);
    }
    boxCv.notify_all();
    if (hook) hook(box);
    // The real message box runs a message loop and may leave any value in
    // the last error; callers must set theirs after it.
    lastError = ERROR_INVALID_WINDOW_HANDLE;
    return IDOK;
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC proc) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    // As on the platform, the same window and id replace the timer.
    KillTimer(window, id);
    W().timers.push_back({window, id, elapse, proc != nullptr});
    return id;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    auto& t = W().timers;
    size_t before = t.size();
    t.erase(std::remove_if(t.begin(), t.end(), [&](const fake::Timer& x) { return x.window == window && x.id == id; }), t.end());
    return t.size() < before;
}

HICON LoadIconW(HINSTANCE, LPCWSTR name) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    int id = static_cast<int>(reinterpret_cast<ULONG_PTR>(name));
    W().iconLoads[id]++;
    return id == 138 ? &icons[0] : nullptr;
}

LRESULT SendMessageW(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    DLGPROC proc = nullptr;
    std::thread::id owner;
    {
        std::lock_guard<std::recursive_mutex> lock(W().m);
        if (!IsLiveWindow(window)) return 0;
        if (window->controlId) return ControlMessage(window->parent->controls[window->controlId], msg, wParam, lParam);
        window->sent.push_back({msg, wParam, lParam});
        proc = window->proc;
        owner = window->thread;
    }
    if (!proc) return 0;
    if (owner == std::this_thread::get_id()) return proc(window, msg, wParam, lParam);
    return SendToOtherThread(window, msg, wParam, lParam, owner);
}

BOOL PostMessageW(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    if (!IsLiveWindow(window)) return FALSE;
    window->posted.push_back({msg, wParam, lParam});
    return TRUE;
}

namespace {

// Every window lives on the test's thread, whose queue is what was posted
// to them, oldest window first.
bool AnyPosted() {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    for (auto& w : W().windows)
        if (w->alive && !w->posted.empty()) return true;
    return false;
}

}  // namespace

// As on the platform, a look at the queue first runs the messages other
// threads have sent to this thread's windows.
BOOL PeekMessageW(LPMSG msg, HWND, UINT, UINT, UINT) {
    fake::DeliverSent();
    std::lock_guard<std::recursive_mutex> lock(W().m);
    for (auto& w : W().windows) {
        if (!w->alive || w->posted.empty()) continue;
        fake::SentMessage m = w->posted.front();
        w->posted.pop_front();
        *msg = {};
        msg->hwnd = w.get();
        msg->message = m.msg;
        msg->wParam = m.wParam;
        msg->lParam = m.lParam;
        return TRUE;
    }
    return FALSE;
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

LRESULT DispatchMessageW(const MSG* msg) { return SendMessageW(msg->hwnd, msg->message, msg->wParam, msg->lParam); }

// A message for the dialog or one of its controls counts as handled. The
// dialog keys are the dialog's, as the platform's dialog manager takes them
// (the lists want none of them): Escape sends it IDCANCEL, Enter IDOK (the
// fake does not know the templates' default buttons), Tab moves the focus,
// which the fake does not track; the control sees none of them. Anything
// else is dispatched.
BOOL IsDialogMessageW(HWND dialog, LPMSG msg) {
    {
        std::lock_guard<std::recursive_mutex> lock(W().m);
        if (!IsLiveWindow(dialog) || (msg->hwnd != dialog && msg->hwnd->parent != dialog)) return FALSE;
    }
    if (msg->message == WM_KEYDOWN && (msg->wParam == VK_ESCAPE || msg->wParam == VK_RETURN)) {
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(msg->wParam == VK_ESCAPE ? IDCANCEL : IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(msg->hwnd == dialog ? nullptr : msg->hwnd));
        return TRUE;
    }
    if (msg->message == WM_KEYDOWN && msg->wParam == VK_TAB) return TRUE;
    DispatchMessageW(msg);
    return TRUE;
}

// Inside a message another thread sent, messages this thread sends itself
// (a control's notification among them) count as sent by another thread
// too, as under Wine.
BOOL InSendMessage(void) { return handlingSent; }

HWND GetActiveWindow(void) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    return IsLiveWindow(W().active) ? W().active : nullptr;
}

int GetSystemMetrics(int index) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    if (index == SM_CXSCREEN) return W().screenW;
    if (index == SM_CYSCREEN) return W().screenH;
    return 0;
}

BOOL GetWindowRect(HWND window, LPRECT rect) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    if (!IsLiveWindow(window)) return FALSE;
    rect->left = 0;
    rect->top = 0;
    rect->right = window->width;
    rect->bottom = window->height;
    return TRUE;
}

BOOL GetClientRect(HWND window, LPRECT rect) { return GetWindowRect(window, rect); }

BOOL MoveWindow(HWND window, int, int, int, int, BOOL) { return LiveWindow(window); }

BOOL MapDialogRect(HWND, LPRECT) { return TRUE; }  // dialog units as pixels

BOOL SetWindowPos(HWND window, HWND after, int x, int y, int cx, int cy, UINT flags) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    if (!IsLiveWindow(window)) return FALSE;
    window->placements.push_back({after, x, y, cx, cy, flags});
    W().active = window;
    return TRUE;
}

BOOL InvalidateRect(HWND window, const RECT*, BOOL) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    if (!IsLiveWindow(window)) return FALSE;
    if (window->controlId) window->parent->controls[window->controlId].invalidated++;
    return TRUE;
}

HDC GetDC(HWND window) {
    CallHook("GetDC");
    std::lock_guard<std::recursive_mutex> lock(W().m);
    W().dcWindows.push_back(window);
    if (!IsLiveWindow(window)) return nullptr;
    if (W().failDCs > 0) {
        W().failDCs--;
        return nullptr;
    }
    W().dcs.push_back(std::make_unique<HDC__>());
    HDC dc = W().dcs.back().get();
    dc->window = window;
    dc->pen = &stockPen;
    return dc;
}

int ReleaseDC(HWND, HDC dc) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    for (auto& d : W().dcs)
        if (d.get() == dc && !dc->released) {
            dc->released = true;
            return 1;
        }
    return 0;
}

// The subset of wsprintfW's formats Morvane uses: %u %d %x %X %s %%, with an
// optional 0 flag and width, and the I64 and ll size prefixes.
int wsprintfW(LPWSTR out, LPCWSTR format, ...) {
    va_list args;
    va_start(args, format);
    std::u16string s;
    for (const WCHAR* f = format; *f; ++f) {
        if (*f != L'%') {
            s.push_back(static_cast<char16_t>(*f));
            continue;
        }
        ++f;
        if (*f == L'%') {
            s.push_back(u'%');
            continue;
        }
        bool zero = false;
        int width = 0;
        if (*f == L'0') {
            zero = true;
            ++f;
        }
        while (*f >= L'0' && *f <= L'9') width = width * 10 + (*f++ - L'0');
        bool wide64 = false;
        if (f[0] == L'I' && f[1] == L'6' && f[2] == L'4') {
            wide64 = true;
            f += 3;
        } else if (f[0] == L'l' && f[1] == L'l') {
            wide64 = true;
            f += 2;
        } else if (*f == L'l') {
            ++f;
        }
        switch (*f) {
        case L'u':
            AppendNumber(s, wide64 ? va_arg(args, unsigned long long) : va_arg(args, unsigned int), 10, width, zero);
            break;
        case L'x':
        case L'X': {
            size_t at = s.size();
            AppendNumber(s, wide64 ? va_arg(args, unsigned long long) : va_arg(args, unsigned int), 16, width, zero);
            if (*f == L'X')
                for (size_t i = at; i < s.size(); ++i) s[i] = static_cast<char16_t>(toupper(s[i]));
            break;
        }
        case L'd': {
            long long v = wide64 ? va_arg(args, long long) : va_arg(args, int);
            if (v < 0) s.push_back(u'-');
            AppendNumber(s, v < 0 ? 0ull - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v), 10,
                         width, zero);
            break;
        }
        case L's':
            s += ToU16(va_arg(args, const WCHAR*));
            break;
        default:
            std::fprintf(stderr, "fake wsprintfW: unsupported format\n");
            std::abort();
        }
    }
    va_end(args);
    if (s.size() > 1024) {  // wsprintfW writes at most 1024 characters
        std::fprintf(stderr, "fake wsprintfW: output longer than 1024 characters\n");
        std::abort();
    }
    for (size_t i = 0; i < s.size(); ++i) out[i] = static_cast<WCHAR>(s[i]);
    out[s.size()] = 0;
    return static_cast<int>(s.size());
}

int lstrlenW(LPCWSTR text) {
    if (!text) return 0;
    int n = 0;
    while (text[n]) ++n;
    return n;
}

// ---- gdi32 ------------------------------------------------------------------

HPEN CreatePen(int style, int width, COLORREF color) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    W().pens.push_back(std::make_unique<HGDIOBJ__>());
    HGDIOBJ pen = W().pens.back().get();
    pen->style = style;
    pen->width = width;
    pen->color = color;
    return pen;
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    if (!dc || !object || object->deleted) return nullptr;
    HGDIOBJ previous = dc->pen;
    dc->pen = object;
    return previous;
}

BOOL MoveToEx(HDC dc, int x, int y, LPPOINT previous) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    if (!dc) return FALSE;
    if (previous) {
        previous->x = dc->x;
        previous->y = dc->y;
    }
    dc->x = x;
    dc->y = y;
    return TRUE;
}

BOOL LineTo(HDC dc, int x, int y) {
    fake::DrawnLine line;
    std::function<void(const fake::DrawnLine&)> hook;
    {
        std::lock_guard<std::recursive_mutex> lock(W().m);
        if (!dc) return FALSE;
        W().lineCount++;
        line = {dc->pen->color, dc->pen->width, dc->x, dc->y, x, y};
        if (W().recordLines) W().lines.push_back(line);
        dc->x = x;
        dc->y = y;
        hook = W().lineHook;
    }
    if (hook) hook(line);
    return TRUE;
}

HBRUSH CreateSolidBrush(COLORREF color) { return CreatePen(PS_SOLID, 0, color); }

int FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    return dc && rect && brush && !brush->deleted;
}

BOOL DeleteObject(HGDIOBJ object) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    if (!object || object->stock || object->deleted) return FALSE;
    for (auto& d : W().dcs)
        if (!d->released && d->pen == object) W().pensDeletedWhileSelected++;
    object->deleted = true;
    return TRUE;
}

// ---- comctl32 ---------------------------------------------------------------

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* init) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    if (!init || init->dwSize != sizeof(INITCOMMONCONTROLSEX)) return FALSE;
    W().iccFlags |= init->dwICC;
    return TRUE;
}

// ---- kernel32 ---------------------------------------------------------------

HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD pid) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    W().openCalls.push_back({pid, access, inherit});
    auto it = W().processes.find(pid);
    if (it == W().processes.end()) {
        lastError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    if (it->second.opensBeforeExit == 0) {
        lastError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    if (access & ~it->second.grantedAccess) {
        lastError = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    if (it->second.opensBeforeExit > 0) it->second.opensBeforeExit--;
    KernelHandle* k = NewHandle(Kind::Process);
    k->pid = pid;
    k->access = access;
    return k;
}

namespace {

std::mutex hangMutex;
std::condition_variable hangCv;
unsigned hangReleases = 0;

// The index of the region holding `a`, or -1.
int RegionIndexAt(const fake::Process& p, ULONG_PTR a) {
    auto after = std::upper_bound(p.regions.begin(), p.regions.end(), a,
                                  [](ULONG_PTR x, const fake::Region& r) { return x < r.base; });
    size_t i = static_cast<size_t>(after - p.regions.begin());
    if (i == 0 || a - p.regions[i - 1].base >= p.regions[i - 1].size) return -1;
    return static_cast<int>(i - 1);
}

bool QueryHangs(HANDLE process, LPCVOID address) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    fake::Process* p = ProcessOf(AsKernel(process));
    return p && p->queryHangsAtRegion >= 0 &&
           RegionIndexAt(*p, reinterpret_cast<ULONG_PTR>(address)) == p->queryHangsAtRegion;
}

// How long the query at `address` takes to answer, in milliseconds.
DWORD QueryDelay(HANDLE process, LPCVOID address) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    fake::Process* p = ProcessOf(AsKernel(process));
    if (!p) return 0;
    auto late = p->queryLate.find(RegionIndexAt(*p, reinterpret_cast<ULONG_PTR>(address)));
    return late == p->queryLate.end() ? 0 : late->second;
}

}  // namespace

SIZE_T VirtualQueryEx(HANDLE process, LPCVOID address, PMEMORY_BASIC_INFORMATION record, SIZE_T length) {
    CallHook("VirtualQueryEx");
    {
        std::lock_guard<std::recursive_mutex> lock(W().m);
        KernelHandle* k = AsKernel(process);
        if (k && k->closed) W().closedHandleQueries++;
    }
    // A late answer: the query was made with the handle as it was then.
    if (DWORD delay = QueryDelay(process, address)) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    if (QueryHangs(process, address)) {
        std::unique_lock<std::mutex> hang(hangMutex);
        unsigned releases = hangReleases;
        hangCv.wait(hang, [releases] { return hangReleases != releases; });
        lastError = ERROR_ACCESS_DENIED;
        return 0;
    }
    std::lock_guard<std::recursive_mutex> lock(W().m);
    KernelHandle* k = AsKernel(process);
    fake::Process* p = ProcessOf(k);
    if (!p || k->kind != Kind::Process || !(k->access & PROCESS_QUERY_INFORMATION)) {
        lastError = ERROR_ACCESS_DENIED;
        return 0;
    }
    if (length < sizeof(MEMORY_BASIC_INFORMATION)) {
        lastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    int i = RegionIndexAt(*p, reinterpret_cast<ULONG_PTR>(address));
    bool failing = p->queryFailsAtRegion >= 0 && i >= p->queryFailsAtRegion;
    if (i >= 0 && !failing) {
        const fake::Region& r = p->regions[static_cast<size_t>(i)];
        *record = {};
        record->BaseAddress = reinterpret_cast<PVOID>(r.base);
        record->AllocationBase = r.state == MEM_FREE ? nullptr : reinterpret_cast<PVOID>(r.base);
        record->AllocationProtect = r.allocationProtect;
        record->RegionSize = r.size;
        record->State = r.state;
        record->Protect = r.protect;
        record->Type = r.type;
        return sizeof(MEMORY_BASIC_INFORMATION);
    }
    lastError = ERROR_INVALID_PARAMETER;
    return 0;
}

BOOL CloseHandle(HANDLE handle) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    KernelHandle* k = AsKernel(handle);
    if (!k || k->closed) {
        std::fprintf(stderr, "fake CloseHandle: handle %p is not open\n", handle);
        std::abort();
    }
    k->closed = true;
    return TRUE;
}

HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD pid) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    if (flags == TH32CS_SNAPTHREAD) return fake::ThreadSnapshot();
    if (flags == TH32CS_SNAPPROCESS) {
        if (W().processSnapshotFails) {
            lastError = ERROR_ACCESS_DENIED;
            return INVALID_HANDLE_VALUE;
        }
        KernelHandle* k = NewHandle(Kind::Snapshot);
        k->processList = true;
        return k;
    }
    auto it = W().processes.find(pid);
    if (flags != TH32CS_SNAPHEAPLIST || it == W().processes.end() || it->second.snapshotFails) {
        lastError = it == W().processes.end() ? ERROR_INVALID_PARAMETER : ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    KernelHandle* k = NewHandle(Kind::Snapshot);
    k->pid = pid;
    return k;
}

namespace {

// One heap-list step; like the platform, success leaves the last error alone.
BOOL HeapListStep(HANDLE snapshot, LPHEAPLIST32 record, bool first) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    KernelHandle* k = AsKernel(snapshot);
    fake::Process* p = ProcessOf(k);
    if (!p || k->kind != Kind::Snapshot || !record || record->dwSize != sizeof(HEAPLIST32)) {
        lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    if (first) k->cursor = 0;
    int step = k->cursor;
    if (p->heapListFailure.step == step) {
        lastError = p->heapListFailure.error;
        return FALSE;
    }
    if (k->cursor >= static_cast<int>(p->heaps.size())) {
        lastError = ERROR_NO_MORE_FILES;
        return FALSE;
    }
    const fake::Heap& h = p->heaps[static_cast<size_t>(k->cursor++)];
    record->th32ProcessID = k->pid;
    record->th32HeapID = h.id;
    record->dwFlags = h.flags;
    return TRUE;
}

BOOL BlockStep(LPHEAPENTRY32 entry) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    auto walk = W().blockWalks.find(entry);
    if (walk == W().blockWalks.end() || entry->dwSize != sizeof(HEAPENTRY32)) {
        lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    auto p = W().processes.find(walk->second.pid);
    const fake::Heap* heap = nullptr;
    if (p != W().processes.end())
        for (const fake::Heap& h : p->second.heaps)
            if (h.id == walk->second.heapId) heap = &h;
    if (!heap) {
        lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    int step = walk->second.next;
    if (p->second.blockFailure.step == step) {
        lastError = p->second.blockFailure.error;
        return FALSE;
    }
    if (step >= static_cast<int>(heap->blocks.size())) {
        lastError = ERROR_NO_MORE_FILES;
        return FALSE;
    }
    const fake::Block& b = heap->blocks[static_cast<size_t>(step)];
    walk->second.next++;
    entry->hHandle = reinterpret_cast<HANDLE>(b.handle);
    entry->dwAddress = b.address;
    entry->dwBlockSize = b.size;
    entry->dwFlags = b.flags;
    entry->th32ProcessID = walk->second.pid;
    entry->th32HeapID = heap->id;
    return TRUE;
}

}  // namespace

BOOL Heap32ListFirst(HANDLE snapshot, LPHEAPLIST32 record) { return HeapListStep(snapshot, record, true); }
BOOL Heap32ListNext(HANDLE snapshot, LPHEAPLIST32 record) { return HeapListStep(snapshot, record, false); }

BOOL Heap32First(LPHEAPENTRY32 entry, DWORD pid, ULONG_PTR heapId) {
    CallHook("Heap32First");
    {
        std::lock_guard<std::recursive_mutex> lock(W().m);
        W().blockWalks[entry] = {pid, heapId, 0};
    }
    return BlockStep(entry);
}

BOOL Heap32Next(LPHEAPENTRY32 entry) { return BlockStep(entry); }

namespace {

// One step of the process snapshot, which the world is read through live.
BOOL ProcessStep(HANDLE snapshot, LPPROCESSENTRY32W entry, bool first) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    KernelHandle* k = AsKernel(snapshot);
    if (!k || k->closed || !k->processList || !entry || entry->dwSize != sizeof(PROCESSENTRY32W)) {
        lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    if (first) k->cursor = 0;
    if (W().processStepFailure.step == k->cursor) {
        lastError = W().processStepFailure.error;
        return FALSE;
    }
    if (k->cursor >= static_cast<int>(W().processOrder.size())) {
        lastError = ERROR_NO_MORE_FILES;
        return FALSE;
    }
    DWORD pid = W().processOrder[static_cast<size_t>(k->cursor++)];
    const std::u16string& name = W().processes[pid].exeName;
    entry->th32ProcessID = pid;
    size_t n = std::min(name.size(), static_cast<size_t>(MAX_PATH - 1));
    for (size_t i = 0; i < n; ++i) entry->szExeFile[i] = static_cast<WCHAR>(name[i]);
    entry->szExeFile[n] = 0;
    return TRUE;
}

}  // namespace

BOOL Process32FirstW(HANDLE snapshot, LPPROCESSENTRY32W entry) { return ProcessStep(snapshot, entry, true); }
BOOL Process32NextW(HANDLE snapshot, LPPROCESSENTRY32W entry) { return ProcessStep(snapshot, entry, false); }

HANDLE GetCurrentProcess(void) { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)); }

// The process a handle opened with a query right names; null (access
// denied) for any other handle.
static fake::Process* QueriedProcess(HANDLE process) {
    KernelHandle* k = AsKernel(process);
    fake::Process* p = ProcessOf(k);
    if (!p || k->kind != Kind::Process || !(k->access & (MORVANE_ACCESS_LIMITED | PROCESS_QUERY_INFORMATION))) {
        lastError = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    return p;
}

// Answers for the current process and for a process opened with query
// rights (query-limited or full).
BOOL IsWow64Process(HANDLE process, PBOOL wow64) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    if (process == GetCurrentProcess()) {
        *wow64 = W().selfWow64;
        return TRUE;
    }
    fake::Process* p = QueriedProcess(process);
    if (!p) return FALSE;
    *wow64 = p->wow64;
    return TRUE;
}

// Only the creation time is kept.
BOOL GetProcessTimes(HANDLE process, LPFILETIME creation, LPFILETIME exit, LPFILETIME kernel, LPFILETIME user) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    fake::Process* p = QueriedProcess(process);
    if (!p) return FALSE;
    *creation = {static_cast<DWORD>(p->created), static_cast<DWORD>(p->created >> 32)};
    *exit = *kernel = *user = {0, 0};
    return TRUE;
}

// Ordinal, with ASCII letters folded when case is ignored.
int CompareStringOrdinal(LPCWSTR a, int aLength, LPCWSTR b, int bLength, BOOL ignoreCase) {
    size_t na = aLength < 0 ? static_cast<size_t>(lstrlenW(a)) : static_cast<size_t>(aLength);
    size_t nb = bLength < 0 ? static_cast<size_t>(lstrlenW(b)) : static_cast<size_t>(bLength);
    auto fold = [ignoreCase](WCHAR c) { return ignoreCase && c >= L'a' && c <= L'z' ? c - L'a' + L'A' : c; };
    for (size_t i = 0; i < na && i < nb; ++i) {
        int d = static_cast<int>(fold(a[i])) - static_cast<int>(fold(b[i]));
        if (d) return d < 0 ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
    }
    return na == nb ? CSTR_EQUAL : na < nb ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
}

BOOL GlobalMemoryStatusEx(LPMEMORYSTATUSEX status) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    if (status->dwLength != sizeof(MEMORYSTATUSEX)) {
        lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    *status = W().status;
    status->dwLength = sizeof(MEMORYSTATUSEX);
    return TRUE;
}

void GetLocalTime(LPSYSTEMTIME time) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    *time = W().time;
}

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCWSTR) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    KernelHandle* k = NewHandle(Kind::Event);
    k->manual = manualReset != FALSE;
    k->signalled = initialState != FALSE;
    return k;
}

BOOL SetEvent(HANDLE event) {
    KernelHandle* k;
    {
        std::lock_guard<std::recursive_mutex> lock(W().m);
        k = AsKernel(event);
    }
    if (!k || k->kind != Kind::Event) return FALSE;
    {
        std::lock_guard<std::mutex> lock(k->m);
        k->signalled = true;
    }
    k->cv.notify_all();
    return TRUE;
}

BOOL ResetEvent(HANDLE event) {
    KernelHandle* k;
    {
        std::lock_guard<std::recursive_mutex> lock(W().m);
        k = AsKernel(event);
    }
    if (!k || k->kind != Kind::Event) return FALSE;
    std::lock_guard<std::mutex> lock(k->m);
    k->signalled = false;
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    KernelHandle* k;
    {
        std::lock_guard<std::recursive_mutex> lock(W().m);
        k = AsKernel(handle);
    }
    // A thread's handle is signalled when the thread has ended.
    if (k && k->kind == Kind::Thread && k->threadDone) {
        for (DWORD waited = 0; !*k->threadDone; ++waited) {
            if (milliseconds != INFINITE && waited >= milliseconds) return WAIT_TIMEOUT;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return WAIT_OBJECT_0;
    }
    if (!k || k->kind != Kind::Event) return WAIT_FAILED;
    std::unique_lock<std::mutex> lock(k->m);
    if (milliseconds == INFINITE) {
        foreverWaits++;
        k->cv.wait(lock, [k] { return k->signalled; });
        foreverWaits--;
    } else if (!k->cv.wait_for(lock, std::chrono::milliseconds(milliseconds), [k] { return k->signalled; })) {
        return WAIT_TIMEOUT;
    }
    if (!k->manual) k->signalled = false;
    return WAIT_OBJECT_0;
}

// Looks every millisecond, running messages sent from other threads as it
// waits; a message waiting counts as new input.
DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL, DWORD milliseconds, DWORD) {
    auto start = std::chrono::steady_clock::now();
    for (;;) {
        fake::DeliverSent();
        for (DWORD i = 0; i < count; ++i)
            if (WaitForSingleObject(handles[i], 0) == WAIT_OBJECT_0) return WAIT_OBJECT_0 + i;
        if (AnyPosted()) return WAIT_OBJECT_0 + count;
        auto waited = std::chrono::steady_clock::now() - start;
        if (milliseconds != INFINITE && waited >= std::chrono::milliseconds(milliseconds)) return WAIT_TIMEOUT;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

namespace {

// At exit every thread that has ended, or ends within a few seconds, is
// joined, so that none is reported as leaked; those waiting for good (the
// painter) are left.
void JoinThreadsAtExit() {
    fake::ReleaseHungQueries();
    for (int waited = 0; waited < 3000; waited += 5) {
        int running = 0;
        std::vector<std::thread> ended;
        {
            std::lock_guard<std::recursive_mutex> lock(W().m);
            for (auto& t : W().threads) {
                if (!t.thread.joinable()) continue;
                if (*t.done)
                    ended.push_back(std::move(t.thread));
                else
                    ++running;
            }
        }
        for (auto& t : ended) t.join();
        if (running <= foreverWaits) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID param, DWORD, LPDWORD id) {
    static bool joinAtExit = std::atexit(JoinThreadsAtExit) == 0;
    (void)joinAtExit;
    std::lock_guard<std::recursive_mutex> lock(W().m);
    if (W().failThreads > 0) {
        W().failThreads--;
        lastError = 8;  // ERROR_NOT_ENOUGH_MEMORY
        return nullptr;
    }
    KernelHandle* k = NewHandle(Kind::Thread);
    auto done = std::make_shared<std::atomic<bool>>(false);
    k->threadDone = done;
    DWORD startError = W().threadStartError;
    W().threads.push_back({start, std::thread([start, param, done, startError] {
                               lastError = startError;
                               start(param);
                               *done = true;
                           }),
                           done});
    if (id) *id = static_cast<DWORD>(W().threads.size());
    return k;
}

DWORD GetLastError(void) { return lastError; }

DWORD GetTickCount(void) {
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}
void SetLastError(DWORD code) { lastError = code; }
void Sleep(DWORD milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

void InitializeCriticalSection(LPCRITICAL_SECTION section) { section->impl = new std::recursive_mutex; }
void EnterCriticalSection(LPCRITICAL_SECTION section) { static_cast<std::recursive_mutex*>(section->impl)->lock(); }
void LeaveCriticalSection(LPCRITICAL_SECTION section) { static_cast<std::recursive_mutex*>(section->impl)->unlock(); }
void DeleteCriticalSection(LPCRITICAL_SECTION section) {
    delete static_cast<std::recursive_mutex*>(section->impl);
    section->impl = nullptr;
}

// ---- psapi ------------------------------------------------------------------

BOOL GetProcessMemoryInfo(HANDLE process, PPROCESS_MEMORY_COUNTERS counters, DWORD size) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    KernelHandle* k = AsKernel(process);
    fake::Process* p = ProcessOf(k);
    if (!p || (k->access & MORVANE_ACCESS_COUNTERS) != MORVANE_ACCESS_COUNTERS || p->countersFail) {
        lastError = ERROR_ACCESS_DENIED;
        return FALSE;
    }
    if (size < sizeof(PROCESS_MEMORY_COUNTERS)) {
        lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    *counters = p->counters;
    counters->cb = sizeof(PROCESS_MEMORY_COUNTERS);
    return TRUE;
}

BOOL EnumProcessModules(HANDLE process, HMODULE* modules, DWORD size, LPDWORD needed) {
    CallHook("EnumProcessModules");
    std::lock_guard<std::recursive_mutex> lock(W().m);
    KernelHandle* k = AsKernel(process);
    fake::Process* p = ProcessOf(k);
    if (!p || (k->access & MORVANE_ACCESS_COUNTERS) != MORVANE_ACCESS_COUNTERS || p->enumModulesFails) {
        lastError = ERROR_PARTIAL_COPY;
        return FALSE;
    }
    size_t fit = size / sizeof(HMODULE);
    for (size_t i = 0; i < p->modules.size() && i < fit; ++i)
        modules[i] = reinterpret_cast<HMODULE>(p->modules[i].base);
    *needed = static_cast<DWORD>(p->modules.size() * sizeof(HMODULE));
    return TRUE;
}

namespace {
const fake::Module* ModuleOf(HANDLE process, HMODULE module) {
    fake::Process* p = ProcessOf(AsKernel(process));
    if (!p) return nullptr;
    for (const fake::Module& m : p->modules)
        if (reinterpret_cast<HMODULE>(m.base) == module) return &m;
    return nullptr;
}
}  // namespace

DWORD GetModuleBaseNameW(HANDLE process, HMODULE module, LPWSTR name, DWORD size) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    const fake::Module* m = ModuleOf(process, module);
    if (!m || m->nameFails || size == 0) {
        lastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    DWORD n = static_cast<DWORD>(m->name.size());
    if (n >= size) n = size - 1;  // the platform cuts the name to the buffer
    for (DWORD i = 0; i < n; ++i) name[i] = static_cast<WCHAR>(m->name[i]);
    name[n] = 0;
    return n;
}

BOOL GetModuleInformation(HANDLE process, HMODULE module, LPMODULEINFO info, DWORD size) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    const fake::Module* m = ModuleOf(process, module);
    if (!m || m->infoFails || size < sizeof(MODULEINFO)) {
        lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    info->lpBaseOfDll = reinterpret_cast<LPVOID>(m->base);
    info->SizeOfImage = m->size;
    info->EntryPoint = reinterpret_cast<LPVOID>(m->entry);
    return TRUE;
}

// ---- runtime ----------------------------------------------------------------

errno_t wcscpy_s(WCHAR* dest, size_t size, const WCHAR* src) {
    size_t n = static_cast<size_t>(lstrlenW(src));
    if (!dest || n + 1 > size) {
        std::fprintf(stderr, "fake wcscpy_s: %zu units do not fit in %zu\n", n + 1, size);
        std::abort();
    }
    for (size_t i = 0; i <= n; ++i) dest[i] = src[i];
    return 0;
}

errno_t wcscat_s(WCHAR* dest, size_t size, const WCHAR* src) {
    size_t have = static_cast<size_t>(lstrlenW(dest));
    size_t n = static_cast<size_t>(lstrlenW(src));
    if (!dest || have + n + 1 > size) {
        std::fprintf(stderr, "fake wcscat_s: %zu units do not fit in %zu\n", have + n + 1, size);
        std::abort();
    }
    for (size_t i = 0; i <= n; ++i) dest[have + i] = src[i];
    return 0;
}

// ---- the test-facing side ---------------------------------------------------

namespace fake {

void ReleaseHungQueries() {
    {
        std::lock_guard<std::mutex> hang(hangMutex);
        hangReleases++;
    }
    hangCv.notify_all();
}

void ResetClipboard();

std::recursive_mutex& WorldLock() { return W().m; }

HANDLE NewTaggedHandle(int tag, DWORD id, DWORD access) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    KernelHandle* k = NewHandle(Kind::Tagged);
    k->tag = tag;
    k->pid = id;
    k->access = access;
    return k;
}

bool HandleInfo(HANDLE handle, int* tag, DWORD* id, DWORD* access) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    KernelHandle* k = AsKernel(handle);
    if (!k || k->closed || k->earlier || (k->kind != Kind::Tagged && !(k->kind == Kind::Process && ProcessOf(k))))
        return false;
    *tag = k->kind == Kind::Tagged ? k->tag : 0;
    *id = k->pid;
    *access = k->access;
    return true;
}

void Reset() {
    ReleaseHungQueries();
    // Threads that have finished are joined; one that never ends (a thread
    // that waits for requests for the whole run) is left running.
    std::vector<std::thread> finished;
    {
        std::lock_guard<std::recursive_mutex> lock(W().m);
        auto& threads = W().threads;
        for (auto it = threads.begin(); it != threads.end();) {
            if (*it->done) {
                finished.push_back(std::move(it->thread));
                it = threads.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& t : finished)
        if (t.joinable()) t.join();
    std::lock_guard<std::recursive_mutex> lock(W().m);
    World& w = W();
    w.processes.clear();
    w.openCalls.clear();
    // Open handles stay: a long-lived thread may be waiting on an event, and
    // a thread still ending may close what it holds. Only events count on.
    std::vector<std::unique_ptr<KernelHandle>> open;
    for (auto& k : w.handles) {
        if (k->closed) continue;
        if (k->kind != Kind::Event) k->earlier = true;
        open.push_back(std::move(k));
    }
    w.handles = std::move(open);
    for (auto& win : w.windows) win->alive = false;
    sendCv.notify_all();
    w.opened.clear();
    w.scripts.clear();
    {
        std::lock_guard<std::mutex> boxLock(boxMutex);
        w.boxes.clear();
    }
    w.boxHook = nullptr;
    w.lines.clear();
    w.recordLines = true;
    w.lineCount = 0;
    w.pensDeletedWhileSelected = 0;
    w.dcWindows.clear();
    w.status = {};
    w.time = {};
    w.screenW = 1280;
    w.screenH = 1024;
    w.timers.clear();
    w.iccFlags = 0;
    w.iconLoads.clear();
    w.failThreads = 0;
    w.threadStartError = 0;
    w.blockWalks.clear();
    w.failDCs = 0;
    w.lineHook = nullptr;
    w.callHook = nullptr;
    w.active = nullptr;
    w.sentHook = nullptr;
    w.closedHandleQueries = 0;
    w.processOrder.clear();
    w.processSnapshotFails = false;
    w.processStepFailure = {};
    w.selfWow64 = false;
    lastError = 0;
    ResetClipboard();
    ResetProcessReading();
}

Process& AddProcess(DWORD pid) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    if (!W().processes.count(pid)) W().processOrder.push_back(pid);
    W().processes[pid] = Process();
    W().processes[pid].created = ++W().creations;
    return W().processes[pid];
}

void RemoveProcess(DWORD pid) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    W().processes.erase(pid);
    auto& order = W().processOrder;
    order.erase(std::remove(order.begin(), order.end(), pid), order.end());
}

std::vector<OpenCall> OpenCalls() {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    return W().openCalls;
}

int OpenKernelHandles() {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    int n = 0;
    for (auto& k : W().handles)
        if (!k->closed && !k->earlier && (k->kind == Kind::Process || k->kind == Kind::Snapshot || k->kind == Kind::Tagged))
            ++n;
    return n;
}

int OpenEvents() {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    int n = 0;
    for (auto& k : W().handles)
        if (!k->closed && k->kind == Kind::Event) ++n;
    return n;
}

int QueriesWithClosedHandles() {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    return W().closedHandleQueries;
}

int OpenThreadHandles() {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    int n = 0;
    for (auto& k : W().handles)
        if (!k->closed && !k->earlier && k->kind == Kind::Thread) ++n;
    return n;
}

HWND NewDialog(int templateId, DLGPROC proc, HWND owner) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    W().windows.push_back(std::make_unique<HWND__>());
    HWND w = W().windows.back().get();
    w->templateId = templateId;
    w->proc = proc;
    w->owner = owner;
    w->thread = std::this_thread::get_id();
    return w;
}

HWND ReopenDialog(HWND closed, int templateId, DLGPROC proc) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    for (auto& control : closed->controlWindows) control.second->alive = false;
    *closed = HWND__();
    closed->templateId = templateId;
    closed->proc = proc;
    closed->thread = std::this_thread::get_id();
    return closed;
}

Control& Item(HWND dialog, int id) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    return dialog->controls[id];
}

std::vector<std::string> Lines(HWND dialog, int id) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    std::vector<std::string> out;
    for (const auto& l : dialog->controls[id].lines) out.push_back(Utf8(l));
    return out;
}

std::string Text(HWND dialog, int id) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    return Utf8(dialog->controls[id].text);
}

void SetText(HWND dialog, int id, const std::string& utf8) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    dialog->controls[id].text = Utf16(utf8);
}

bool Enabled(HWND dialog, int id) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    return dialog->controls[id].enabled;
}

bool Ended(HWND dialog) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    return dialog->ended;
}

INT_PTR EndResult(HWND dialog) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    return dialog->endResult;
}

void SetWindowSize(HWND dialog, int width, int height) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    dialog->width = width;
    dialog->height = height;
}

int TemplateOf(HWND dialog) { return dialog->templateId; }
HWND OwnerOf(HWND dialog) { return dialog->owner; }

INT_PTR Send(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    DLGPROC proc;
    {
        std::lock_guard<std::recursive_mutex> lock(W().m);
        proc = dialog->proc;
    }
    if (!proc) {
        std::fprintf(stderr, "fake::Send: the dialog has no procedure\n");
        std::abort();
    }
    return proc(dialog, msg, wParam, lParam);
}

INT_PTR Command(HWND dialog, int id, int code) {
    HWND control = GetDlgItem(dialog, id);
    return Send(dialog, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(control));
}

int DeliverPosted(HWND dialog) {
    int n = 0;
    for (;;) {
        DeliverSent();
        SentMessage m;
        DLGPROC proc;
        {
            std::lock_guard<std::recursive_mutex> lock(W().m);
            if (dialog->posted.empty()) return n;
            m = dialog->posted.front();
            dialog->posted.pop_front();
            proc = dialog->proc;
        }
        if (proc) proc(dialog, m.msg, m.wParam, m.lParam);
        ++n;
    }
}

std::vector<UINT> Posted(HWND dialog) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    std::vector<UINT> out;
    for (const auto& m : dialog->posted) out.push_back(m.msg);
    return out;
}

std::vector<SentMessage> SentTo(HWND dialog) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    return dialog->sent;
}

bool PostAndWaitDispatched(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto count = [window, msg] {
        size_t n = 0;
        for (const SentMessage& m : SentTo(window)) n += m.msg == msg;
        return n;
    };
    size_t before = count();
    if (!PostMessageW(window, msg, wParam, lParam)) return false;
    return WaitUntil([&] { return count() > before; });
}

std::vector<Placement> Placements(HWND dialog) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    return dialog->placements;
}

std::vector<OpenedDialog> OpenedDialogs() {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    return W().opened;
}

void OnDialog(int templateId, std::function<void(HWND)> script) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    W().scripts[templateId] = std::move(script);
}

Box Notice(HWND owner, const std::string& text, UINT icon) { return {owner, text, "提示", MB_OK | icon}; }

bool operator==(const Box& a, const Box& b) {
    return a.owner == b.owner && a.text == b.text && a.caption == b.caption && a.type == b.type;
}

void PrintTo(const Box& box, std::ostream* out) {
    *out << "{owner " << static_cast<const void*>(box.owner) << ", \"" << box.text << "\", caption \"" << box.caption
         << "\", type 0x" << std::hex << box.type << std::dec << "}";
}

std::vector<Box> Boxes() {
    std::lock_guard<std::mutex> lock(boxMutex);
    return W().boxes;
}

std::vector<std::string> BoxTexts() {
    std::vector<std::string> out;
    for (const Box& b : Boxes()) out.push_back(b.text);
    return out;
}

bool WaitForBoxes(size_t count, int timeoutMs) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        DeliverSent();
        std::unique_lock<std::mutex> lock(boxMutex);
        if (W().boxes.size() >= count) return true;
        if (std::chrono::steady_clock::now() >= until) return false;
        boxCv.wait_for(lock, std::chrono::milliseconds(5));
    }
}

void SetBoxHook(std::function<void(const Box&)> hook) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    W().boxHook = std::move(hook);
}

std::vector<DrawnLine> DrawnLines() {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    return W().lines;
}

void ClearDrawnLines() {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    W().lines.clear();
    W().lineCount = 0;
}

void SetLineRecording(bool on) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    W().recordLines = on;
}

long long LineDrawCount() {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    return W().lineCount;
}

int OpenDCs() {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    int n = 0;
    for (auto& d : W().dcs)
        if (!d->released) ++n;
    return n;
}

int LivePens() {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    int n = 0;
    for (auto& p : W().pens)
        if (!p->deleted) ++n;
    return n;
}

int PensDeletedWhileSelected() {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    return W().pensDeletedWhileSelected;
}

std::vector<HWND> DCWindows() {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    return W().dcWindows;
}

void FailGetDC(int count) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    W().failDCs = count;
}

void SetLineHook(std::function<void(const DrawnLine&)> hook) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    W().lineHook = std::move(hook);
}

void SetCallHook(std::function<void(const std::string&)> hook) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    W().callHook = std::move(hook);
}

struct Hold::State {
    std::mutex m;
    std::condition_variable cv;
    bool reached = false;
    bool released = false;
};

Hold::Hold(const std::string& call) : state_(std::make_shared<State>()) {
    std::shared_ptr<State> state = state_;
    SetCallHook([state, call](const std::string& made) {
        if (made != call) return;
        std::unique_lock<std::mutex> lock(state->m);
        if (state->reached) return;
        state->reached = true;
        state->cv.notify_all();
        state->cv.wait(lock, [&] { return state->released; });
    });
}

Hold::~Hold() {
    Release();
    SetCallHook(nullptr);
}

bool Hold::WaitReached(int timeoutMs) {
    return WaitUntil(
        [this] {
            std::lock_guard<std::mutex> lock(state_->m);
            return state_->reached;
        },
        timeoutMs);
}

void Hold::Release() {
    {
        std::lock_guard<std::mutex> lock(state_->m);
        state_->released = true;
    }
    state_->cv.notify_all();
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += 5) {
        DeliverSent();
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    DeliverSent();
    return condition();
}

int DeliverSent() {
    std::thread::id self = std::this_thread::get_id();
    int n = 0;
    for (;;) {
        PendingSend* pending = nullptr;
        {
            std::lock_guard<std::mutex> lock(sendMutex);
            auto it = std::find_if(sendQueue.begin(), sendQueue.end(), [self](PendingSend* p) { return p->to == self; });
            if (it == sendQueue.end()) return n;
            pending = *it;
            pending->state = PendingSend::Running;
            sendQueue.erase(it);
        }
        DLGPROC proc;
        std::function<void(HWND, UINT)> hook;
        {
            std::lock_guard<std::recursive_mutex> lock(W().m);
            proc = pending->window->proc;
            hook = W().sentHook;
        }
        bool outer = handlingSent;
        handlingSent = true;
        LRESULT result = proc(pending->window, pending->msg, pending->wParam, pending->lParam);
        handlingSent = outer;
        if (hook) hook(pending->window, pending->msg);
        {
            std::lock_guard<std::mutex> lock(sendMutex);
            pending->result = result;
            pending->state = PendingSend::Done;
        }
        sendCv.notify_all();
        ++n;
    }
}

void SetSentHook(std::function<void(HWND, UINT)> hook) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    W().sentHook = std::move(hook);
}

bool EventManualReset(HANDLE event) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    KernelHandle* k = AsKernel(event);
    return k && k->kind == Kind::Event && k->manual;
}

void SetProcessSnapshotFaults(bool snapshotFails, StepFailure stepFailure) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    W().processSnapshotFails = snapshotFails;
    W().processStepFailure = stepFailure;
}

void SetSelfWow64(bool wow64) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    W().selfWow64 = wow64;
}

void SetMemoryStatus(const MEMORYSTATUSEX& status) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    W().status = status;
}

void SetLocalTime(WORD hour, WORD minute, WORD second) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    W().time = {};
    W().time.wYear = 2026;
    W().time.wMonth = 12;
    W().time.wDay = 8;
    W().time.wHour = hour;
    W().time.wMinute = minute;
    W().time.wSecond = second;
}

void SetScreen(int width, int height) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    W().screenW = width;
    W().screenH = height;
}

std::vector<Timer> Timers() {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    return W().timers;
}

DWORD InitCommonControlsFlags() {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    return W().iccFlags;
}

int LoadIconCalls(int id) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    return W().iconLoads[id];
}

void FailThreadCreation(int count) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    W().failThreads = count;
}

void SetThreadStartLastError(DWORD code) {
    std::lock_guard<std::recursive_mutex> lock(W().m);
    W().threadStartError = code;
}

bool JoinThreads(LPTHREAD_START_ROUTINE routine, int timeoutMs) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        DeliverSent();
        std::thread t;
        bool running = false;
        {
            std::lock_guard<std::recursive_mutex> lock(W().m);
            for (auto& entry : W().threads) {
                if (entry.routine != routine || !entry.thread.joinable()) continue;
                if (*entry.done) {
                    t = std::move(entry.thread);
                    break;
                }
                running = true;
            }
        }
        if (t.joinable()) {
            t.join();
            continue;
        }
        if (!running) return true;
        if (timeoutMs >= 0 && std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

std::string Utf8(const std::u16string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<unsigned>(text[++i]) - 0xDC00);
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::string Utf8(const WCHAR* text) { return Utf8(ToU16(text)); }

std::u16string Utf16(const std::string& utf8) {
    std::u16string out;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char b = static_cast<unsigned char>(utf8[i]);
        unsigned c;
        int extra;
        if (b < 0x80) {
            c = b;
            extra = 0;
        } else if (b < 0xE0) {
            c = b & 0x1F;
            extra = 1;
        } else if (b < 0xF0) {
            c = b & 0x0F;
            extra = 2;
        } else {
            c = b & 0x07;
            extra = 3;
        }
        ++i;
        for (int k = 0; k < extra && i < utf8.size(); ++k, ++i)
            c = (c << 6) | (static_cast<unsigned char>(utf8[i]) & 0x3F);
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

}  // namespace fake

// ---- Keyboard and clipboard -------------------------------------------------

namespace {

struct Clipboard {
    std::mutex m;
    std::set<int> keysDown;
    bool held = false;  // by another program
    bool open = false;
    std::u16string text;
    // Live blocks; a block's handle is the address of its record.
    std::map<HGLOBAL, std::unique_ptr<std::vector<char>>> globals;
};

Clipboard& C() {
    static Clipboard* clipboard = new Clipboard;
    return *clipboard;
}

}  // namespace

SHORT GetKeyState(int key) {
    std::lock_guard<std::mutex> lock(C().m);
    return static_cast<SHORT>(C().keysDown.count(key) ? 0x8000 : 0);
}

BOOL OpenClipboard(HWND) {
    std::lock_guard<std::mutex> lock(C().m);
    if (C().held || C().open) return FALSE;
    C().open = true;
    return TRUE;
}

BOOL EmptyClipboard(void) {
    std::lock_guard<std::mutex> lock(C().m);
    if (!C().open) return FALSE;
    C().text.clear();
    return TRUE;
}

// Takes a terminated UTF-16 text; the block is the clipboard's from then on.
HANDLE SetClipboardData(UINT format, HANDLE data) {
    std::lock_guard<std::mutex> lock(C().m);
    auto it = C().globals.find(data);
    if (!C().open || format != CF_UNICODETEXT || it == C().globals.end()) return nullptr;
    const WCHAR* text = reinterpret_cast<const WCHAR*>(it->second->data());
    size_t units = it->second->size() / sizeof(WCHAR);
    C().text.clear();
    for (size_t i = 0; i < units && text[i]; ++i) C().text.push_back(static_cast<char16_t>(text[i]));
    C().globals.erase(it);
    return data;
}

BOOL CloseClipboard(void) {
    std::lock_guard<std::mutex> lock(C().m);
    if (!C().open) return FALSE;
    C().open = false;
    return TRUE;
}

HGLOBAL GlobalAlloc(UINT, SIZE_T bytes) {
    std::lock_guard<std::mutex> lock(C().m);
    auto block = std::make_unique<std::vector<char>>(bytes, '\x5A');  // not zeroed, as on the platform
    HGLOBAL handle = block.get();
    C().globals[handle] = std::move(block);
    return handle;
}

LPVOID GlobalLock(HGLOBAL memory) {
    std::lock_guard<std::mutex> lock(C().m);
    auto it = C().globals.find(memory);
    return it == C().globals.end() ? nullptr : it->second->data();
}

BOOL GlobalUnlock(HGLOBAL) { return FALSE; }

HGLOBAL GlobalFree(HGLOBAL memory) {
    std::lock_guard<std::mutex> lock(C().m);
    return C().globals.erase(memory) ? nullptr : memory;
}

namespace fake {

void ResetClipboard() {
    std::lock_guard<std::mutex> lock(C().m);
    C().keysDown.clear();
    C().held = false;
    C().open = false;
    C().text.clear();
    C().globals.clear();
}

void SetKeyDown(int key, bool down) {
    std::lock_guard<std::mutex> lock(C().m);
    if (down) C().keysDown.insert(key);
    else C().keysDown.erase(key);
}

void HoldClipboard(bool held) {
    std::lock_guard<std::mutex> lock(C().m);
    C().held = held;
}

void SetClipboardText(const std::string& utf8) {
    std::u16string text = Utf16(utf8);
    std::lock_guard<std::mutex> lock(C().m);
    C().text = text;
}

std::string ClipboardText() {
    std::lock_guard<std::mutex> lock(C().m);
    return Utf8(C().text);
}

bool ClipboardOpen() {
    std::lock_guard<std::mutex> lock(C().m);
    return C().open;
}

int LiveGlobals() {
    std::lock_guard<std::mutex> lock(C().m);
    return static_cast<int>(C().globals.size());
}

}  // namespace fake
