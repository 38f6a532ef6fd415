// The one seam between Morvane and the operating system.
//
// On Windows builds this includes the real headers. On the Linux host it
// declares the same subset of types, constants, records and operations with
// the same names; the unit tests link a fake world that defines them. The
// host build uses -fshort-wchar so that WCHAR and L"" literals are UTF-16
// there as well. No other directory includes a Windows header.
#pragma once

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <wchar.h>

#else  // Linux host: the subset Morvane uses, laid out as on 64-bit Windows.

#include <stddef.h>
#include <stdint.h>

#define WINAPI
#define CALLBACK
#define APIENTRY

typedef int BOOL;
typedef BOOL* PBOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef unsigned int DWORD;
typedef unsigned int UINT;
typedef int INT;
typedef int LONG;
typedef unsigned int ULONG;
typedef unsigned long long ULONGLONG;
typedef unsigned long long DWORDLONG;
typedef size_t SIZE_T;
typedef uintptr_t ULONG_PTR;
typedef intptr_t LONG_PTR;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef DWORD COLORREF;
typedef wchar_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef void* PVOID;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef DWORD* LPDWORD;
typedef void* HANDLE;
typedef int errno_t;

static_assert(sizeof(WCHAR) == 2, "the host build needs -fshort-wchar");

struct HWND__;
struct HDC__;
struct HPEN__;
struct HGDIOBJ__;
struct HINSTANCE__;
struct HICON__;
typedef HWND__* HWND;
typedef HDC__* HDC;
typedef HGDIOBJ__* HGDIOBJ;
typedef HGDIOBJ HPEN;
typedef HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef HICON__* HICON;

#ifndef NULL
#define NULL nullptr
#endif
#define TRUE 1
#define FALSE 0
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0u
#define WAIT_FAILED 0xFFFFFFFFu
#define WAIT_TIMEOUT 0x102u
#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)

#define LOWORD(l) ((WORD)(((ULONG_PTR)(l)) & 0xffff))
#define HIWORD(l) ((WORD)((((ULONG_PTR)(l)) >> 16) & 0xffff))
#define MAKELONG(a, b) ((LONG)(((WORD)(a)) | ((DWORD)((WORD)(b))) << 16))
#define MAKELPARAM(l, h) ((LPARAM)(DWORD)MAKELONG(l, h))
#define MAKEWPARAM(l, h) ((WPARAM)(DWORD)MAKELONG(l, h))
#define RGB(r, g, b) ((COLORREF)(((BYTE)(r) | ((WORD)((BYTE)(g)) << 8)) | (((DWORD)(BYTE)(b)) << 16)))
#define GetRValue(c) ((BYTE)(c))
#define GetGValue(c) ((BYTE)(((WORD)(c)) >> 8))
#define GetBValue(c) ((BYTE)((c) >> 16))
#define MAKEINTRESOURCEW(i) ((LPWSTR)((ULONG_PTR)((WORD)(i))))
#define IS_INTRESOURCE(p) ((((ULONG_PTR)(p)) >> 16) == 0)

// Window messages and notifications.
#define WM_NULL 0x0000
#define WM_DESTROY 0x0002
#define WM_SETREDRAW 0x000B
#define WM_SETTEXT 0x000C
#define WM_GETTEXT 0x000D
#define WM_GETTEXTLENGTH 0x000E
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_ERASEBKGND 0x0014
#define WM_SETICON 0x0080
#define WM_KEYDOWN 0x0100
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_TIMER 0x0113
#define WM_USER 0x0400
#define WM_APP 0x8000
#define ICON_BIG 1

#define IDOK 1
#define IDCANCEL 2

#define LB_ADDSTRING 0x0180
#define LB_RESETCONTENT 0x0184
#define LB_SETCURSEL 0x0186
#define LB_GETCURSEL 0x0188
#define LB_GETTEXT 0x0189
#define LB_GETTEXTLEN 0x018A
#define LB_GETCOUNT 0x018B
#define LB_INITSTORAGE 0x01A8
#define LB_ERR (-1)
#define LBN_SELCHANGE 1
#define BN_CLICKED 0

#define PBM_SETRANGE (WM_USER + 1)
#define PBM_SETPOS (WM_USER + 2)
#define PBM_GETPOS (WM_USER + 8)
#define PBM_SETBARCOLOR (WM_USER + 9)
#define PBM_SETBKCOLOR 0x2001
#define ICC_PROGRESS_CLASS 0x00000020

#define MB_OK 0x00000000
#define MB_ICONERROR 0x00000010
#define MB_ICONINFORMATION 0x00000040

#define SM_CXSCREEN 0
#define SM_CYSCREEN 1
#define HWND_TOP ((HWND)0)
#define SWP_NOSIZE 0x0001
#define SWP_SHOWWINDOW 0x0040

#define PS_SOLID 0

// Message queue.
#define PM_REMOVE 0x0001
#define QS_ALLINPUT 0x04FF

// Processes and memory.
#define PROCESS_VM_READ 0x0010
#define PROCESS_QUERY_INFORMATION 0x0400
#define MEM_COMMIT 0x00001000
#define MEM_RESERVE 0x00002000
#define MEM_FREE 0x00010000
#define MEM_PRIVATE 0x00020000
#define MEM_MAPPED 0x00040000
#define MEM_IMAGE 0x01000000
#define PAGE_NOACCESS 0x01
#define PAGE_READONLY 0x02
#define PAGE_READWRITE 0x04
#define PAGE_WRITECOPY 0x08
#define PAGE_EXECUTE 0x10
#define PAGE_EXECUTE_READ 0x20
#define PAGE_EXECUTE_READWRITE 0x40
#define PAGE_EXECUTE_WRITECOPY 0x80
#define PAGE_GUARD 0x100
#define PAGE_NOCACHE 0x200
#define PAGE_WRITECOMBINE 0x400

#define TH32CS_SNAPHEAPLIST 0x00000001
#define HF32_DEFAULT 1
#define LF32_FIXED 0x00000001
#define LF32_FREE 0x00000002
#define LF32_MOVEABLE 0x00000004

// The process list: its snapshot, the bitness of a process and the name
// comparison it is sorted by.
#define TH32CS_SNAPPROCESS 0x00000002
#define MAX_PATH 260
#define CSTR_LESS_THAN 1
#define CSTR_EQUAL 2
#define CSTR_GREATER_THAN 3
#define WM_NEXTDLGCTL 0x0028
#define LBN_DBLCLK 2

#define ERROR_SUCCESS 0
#define ERROR_INVALID_PARAMETER 87
#define ERROR_NO_MORE_FILES 18
#define ERROR_ACCESS_DENIED 5
#define ERROR_PARTIAL_COPY 299
#define ERROR_CALL_NOT_IMPLEMENTED 120
#define ERROR_INVALID_WINDOW_HANDLE 1400

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
typedef RECT* LPRECT;

struct POINT {
    LONG x;
    LONG y;
};
typedef POINT* LPPOINT;

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};
typedef MSG* LPMSG;

struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};
typedef SYSTEMTIME* LPSYSTEMTIME;

struct MEMORYSTATUSEX {
    DWORD dwLength;
    DWORD dwMemoryLoad;
    DWORDLONG ullTotalPhys;
    DWORDLONG ullAvailPhys;
    DWORDLONG ullTotalPageFile;
    DWORDLONG ullAvailPageFile;
    DWORDLONG ullTotalVirtual;
    DWORDLONG ullAvailVirtual;
    DWORDLONG ullAvailExtendedVirtual;
};
typedef MEMORYSTATUSEX* LPMEMORYSTATUSEX;

struct MEMORY_BASIC_INFORMATION {
    PVOID BaseAddress;
    PVOID AllocationBase;
    DWORD AllocationProtect;
    WORD PartitionId;
    SIZE_T RegionSize;
    DWORD State;
    DWORD Protect;
    DWORD Type;
};
typedef MEMORY_BASIC_INFORMATION* PMEMORY_BASIC_INFORMATION;

struct PROCESS_MEMORY_COUNTERS {
    DWORD cb;
    DWORD PageFaultCount;
    SIZE_T PeakWorkingSetSize;
    SIZE_T WorkingSetSize;
    SIZE_T QuotaPeakPagedPoolUsage;
    SIZE_T QuotaPagedPoolUsage;
    SIZE_T QuotaPeakNonPagedPoolUsage;
    SIZE_T QuotaNonPagedPoolUsage;
    SIZE_T PagefileUsage;
    SIZE_T PeakPagefileUsage;
};
typedef PROCESS_MEMORY_COUNTERS* PPROCESS_MEMORY_COUNTERS;

struct HEAPLIST32 {
    SIZE_T dwSize;
    DWORD th32ProcessID;
    ULONG_PTR th32HeapID;
    DWORD dwFlags;
};
typedef HEAPLIST32* LPHEAPLIST32;

struct HEAPENTRY32 {
    SIZE_T dwSize;
    HANDLE hHandle;
    ULONG_PTR dwAddress;
    SIZE_T dwBlockSize;
    DWORD dwFlags;
    DWORD dwLockCount;
    DWORD dwResvd;
    DWORD th32ProcessID;
    ULONG_PTR th32HeapID;
};
typedef HEAPENTRY32* LPHEAPENTRY32;

struct PROCESSENTRY32W {
    DWORD dwSize;
    DWORD cntUsage;
    DWORD th32ProcessID;
    ULONG_PTR th32DefaultHeapID;
    DWORD th32ModuleID;
    DWORD cntThreads;
    DWORD th32ParentProcessID;
    LONG pcPriClassBase;
    DWORD dwFlags;
    WCHAR szExeFile[MAX_PATH];
};
typedef PROCESSENTRY32W* LPPROCESSENTRY32W;

struct MODULEINFO {
    LPVOID lpBaseOfDll;
    DWORD SizeOfImage;
    LPVOID EntryPoint;
};
typedef MODULEINFO* LPMODULEINFO;

struct INITCOMMONCONTROLSEX {
    DWORD dwSize;
    DWORD dwICC;
};

struct SECURITY_ATTRIBUTES;
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;

// A critical section is an opaque record the platform initialises.
struct CRITICAL_SECTION {
    void* impl;
};
typedef CRITICAL_SECTION* LPCRITICAL_SECTION;

typedef INT_PTR(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);
typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID);
typedef void(CALLBACK* TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);

// user32
INT_PTR DialogBoxParamW(HINSTANCE instance, LPCWSTR templateName, HWND owner, DLGPROC proc, LPARAM param);
BOOL EndDialog(HWND dialog, INT_PTR result);
LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text);
UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR text, int size);
HWND GetDlgItem(HWND dialog, int id);
BOOL EnableWindow(HWND window, BOOL enable);
BOOL IsWindow(HWND window);
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC proc);
HICON LoadIconW(HINSTANCE instance, LPCWSTR name);
LRESULT SendMessageW(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL PostMessageW(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL PeekMessageW(LPMSG msg, HWND window, UINT first, UINT last, UINT remove);
BOOL TranslateMessage(const MSG* msg);
LRESULT DispatchMessageW(const MSG* msg);
BOOL IsDialogMessageW(HWND dialog, LPMSG msg);
HWND GetActiveWindow(void);
// Whether the message being handled was sent by another thread (or program).
BOOL InSendMessage(void);
int GetSystemMetrics(int index);
BOOL GetWindowRect(HWND window, LPRECT rect);
BOOL SetWindowPos(HWND window, HWND after, int x, int y, int cx, int cy, UINT flags);
BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase);
HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);
int wsprintfW(LPWSTR out, LPCWSTR format, ...);
int lstrlenW(LPCWSTR text);

// gdi32
HPEN CreatePen(int style, int width, COLORREF color);
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
BOOL MoveToEx(HDC dc, int x, int y, LPPOINT previous);
BOOL LineTo(HDC dc, int x, int y);
BOOL DeleteObject(HGDIOBJ object);

// comctl32
BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* init);

// kernel32
HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD pid);
SIZE_T VirtualQueryEx(HANDLE process, LPCVOID address, PMEMORY_BASIC_INFORMATION record, SIZE_T length);
BOOL CloseHandle(HANDLE handle);
HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD pid);
BOOL Heap32ListFirst(HANDLE snapshot, LPHEAPLIST32 record);
BOOL Heap32ListNext(HANDLE snapshot, LPHEAPLIST32 record);
BOOL Heap32First(LPHEAPENTRY32 entry, DWORD pid, ULONG_PTR heapId);
BOOL Heap32Next(LPHEAPENTRY32 entry);
BOOL Process32FirstW(HANDLE snapshot, LPPROCESSENTRY32W entry);
BOOL Process32NextW(HANDLE snapshot, LPPROCESSENTRY32W entry);
HANDLE GetCurrentProcess(void);
BOOL IsWow64Process(HANDLE process, PBOOL wow64);
struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
typedef FILETIME* LPFILETIME;
BOOL GetProcessTimes(HANDLE process, LPFILETIME creation, LPFILETIME exit, LPFILETIME kernel, LPFILETIME user);
int CompareStringOrdinal(LPCWSTR a, int aLength, LPCWSTR b, int bLength, BOOL ignoreCase);
BOOL GlobalMemoryStatusEx(LPMEMORYSTATUSEX status);
void GetLocalTime(LPSYSTEMTIME time);
HANDLE CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCWSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds, DWORD wakeMask);
HANDLE CreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stack, LPTHREAD_START_ROUTINE start, LPVOID param,
                    DWORD flags, LPDWORD threadId);
DWORD GetLastError(void);
DWORD GetTickCount(void);
void Sleep(DWORD milliseconds);
void SetLastError(DWORD code);
void InitializeCriticalSection(LPCRITICAL_SECTION section);
void EnterCriticalSection(LPCRITICAL_SECTION section);
void LeaveCriticalSection(LPCRITICAL_SECTION section);
void DeleteCriticalSection(LPCRITICAL_SECTION section);

// psapi
BOOL GetProcessMemoryInfo(HANDLE process, PPROCESS_MEMORY_COUNTERS counters, DWORD size);
BOOL EnumProcessModules(HANDLE process, HMODULE* modules, DWORD size, LPDWORD needed);
DWORD GetModuleBaseNameW(HANDLE process, HMODULE module, LPWSTR name, DWORD size);
BOOL GetModuleInformation(HANDLE process, HMODULE module, LPMODULEINFO info, DWORD size);

// The runtime's bounded wide-string copy and concatenation. As in the
// runtime, a destination too small for the result is a fatal error: callers
// check that a text fits before they copy it.
errno_t wcscpy_s(WCHAR* dest, size_t size, const WCHAR* src);
errno_t wcscat_s(WCHAR* dest, size_t size, const WCHAR* src);

// Copying what a list shows: keys that reach the dialog from its lists, the
// lists' selection and the clipboard.
typedef short SHORT;
typedef HANDLE HGLOBAL;
#define WM_VKEYTOITEM 0x002E
#define WM_CHARTOITEM 0x002F
#define VK_TAB 0x09
#define VK_RETURN 0x0D
#define VK_CONTROL 0x11
#define VK_ESCAPE 0x1B
#define LB_SETSEL 0x0185
#define LB_GETSELCOUNT 0x0190
#define LB_GETSELITEMS 0x0191
#define CF_UNICODETEXT 13
#define GMEM_MOVEABLE 0x0002
SHORT GetKeyState(int key);
BOOL OpenClipboard(HWND owner);
BOOL EmptyClipboard(void);
HANDLE SetClipboardData(UINT format, HANDLE data);
BOOL CloseClipboard(void);
HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
LPVOID GlobalLock(HGLOBAL memory);
BOOL GlobalUnlock(HGLOBAL memory);
HGLOBAL GlobalFree(HGLOBAL memory);

// The "内存用途" window: its two virtual report list views, their
// notifications, its layout when resized, and the region table's selection
// of an allocation's lines.
#define WM_SIZE 0x0005
#define WM_NOTIFY 0x004E
#define LB_SELITEMRANGEEX 0x0183
#define LB_SETTOPINDEX 0x0197
#define LB_SETCARETINDEX 0x019E
#define ICC_LISTVIEW_CLASSES 0x00000001
#define LVM_GETITEMCOUNT 0x1004
#define LVM_GETNEXTITEM 0x100C
#define LVM_ENSUREVISIBLE 0x1013
#define LVM_SETITEMSTATE 0x102B
#define LVM_SETITEMCOUNT 0x102F
#define LVM_SETEXTENDEDLISTVIEWSTYLE 0x1036
#define LVM_INSERTCOLUMNW 0x1061
#define LVS_EX_GRIDLINES 0x00000001
#define LVS_EX_FULLROWSELECT 0x00000020
#define LVSICF_NOINVALIDATEALL 0x00000001
#define LVNI_SELECTED 0x0002
#define LVIS_FOCUSED 0x0001
#define LVIS_SELECTED 0x0002
#define LVIF_TEXT 0x0001
#define LVIF_STATE 0x0008
#define LVCF_FMT 0x0001
#define LVCF_WIDTH 0x0002
#define LVCF_TEXT 0x0004
#define LVCF_SUBITEM 0x0008
#define LVCFMT_LEFT 0x0000
#define LVCFMT_RIGHT 0x0001
#define NM_DBLCLK (0U - 3U)
#define LVN_ITEMCHANGED (0U - 101U)
#define LVN_COLUMNCLICK (0U - 108U)
#define LVN_KEYDOWN (0U - 155U)
#define LVN_GETDISPINFOW (0U - 177U)

typedef UINT* PUINT;

struct NMHDR {
    HWND hwndFrom;
    UINT_PTR idFrom;
    UINT code;
};

struct LVCOLUMNW {
    UINT mask;
    int fmt;
    int cx;
    LPWSTR pszText;
    int cchTextMax;
    int iSubItem;
    int iImage;
    int iOrder;
    int cxMin;
    int cxDefault;
    int cxIdeal;
};

struct LVITEMW {
    UINT mask;
    int iItem;
    int iSubItem;
    UINT state;
    UINT stateMask;
    LPWSTR pszText;
    int cchTextMax;
    int iImage;
    LPARAM lParam;
    int iIndent;
    int iGroupId;
    UINT cColumns;
    PUINT puColumns;
    int* piColFmt;
    int iGroup;
};

struct NMLVDISPINFOW {
    NMHDR hdr;
    LVITEMW item;
};

struct NMLISTVIEW {
    NMHDR hdr;
    int iItem;
    int iSubItem;
    UINT uNewState;
    UINT uOldState;
    UINT uChanged;
    POINT ptAction;
    LPARAM lParam;
};

struct NMITEMACTIVATE {
    NMHDR hdr;
    int iItem;
    int iSubItem;
    UINT uNewState;
    UINT uOldState;
    UINT uChanged;
    POINT ptAction;
    LPARAM lParam;
    UINT uKeyFlags;
};

#pragma pack(push, 1)
struct NMLVKEYDOWN {
    NMHDR hdr;
    WORD wVKey;
    UINT flags;
};
#pragma pack(pop)

BOOL GetClientRect(HWND window, LPRECT rect);
BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint);
BOOL MapDialogRect(HWND dialog, LPRECT rect);

// Reading "内存用途" again: its check boxes, the automatic refresh's timer
// and the process's creation time, which tells one process from another
// that has been given the same PID since.
#define BM_GETCHECK 0x00F0
#define BM_SETCHECK 0x00F1
#define BST_UNCHECKED 0
#define BST_CHECKED 1
BOOL KillTimer(HWND window, UINT_PTR id);
// The strip, an owner-drawn static control.
#define WM_DRAWITEM 0x002B
#define ODT_STATIC 5
typedef HGDIOBJ HBRUSH;
struct DRAWITEMSTRUCT {
    UINT CtlType;
    UINT CtlID;
    UINT itemID;
    UINT itemAction;
    UINT itemState;
    HWND hwndItem;
    HDC hDC;
    RECT rcItem;
    ULONG_PTR itemData;
};
HBRUSH CreateSolidBrush(COLORREF color);
int FillRect(HDC dc, const RECT* rect, HBRUSH brush);

#endif  // _WIN32

// The access masks Morvane asks for, as numbers: the SDK's own
// PROCESS_ALL_ACCESS differs between header versions.
#define MORVANE_ACCESS_QUERY 0x0400u
#define MORVANE_ACCESS_COUNTERS 0x0410u
// Query-limited information: enough to ask a process's bitness.
#define MORVANE_ACCESS_LIMITED 0x1000u
