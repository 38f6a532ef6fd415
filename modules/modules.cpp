// The module browser: ModuleDialog and the ListModules worker, which lists
// the modules of the inspected process with name, base, size and entry.
#include "modules/modules.h"

#include <stdlib.h>

#include "app/format.h"
#include "app/shell.h"
#include "inspect/inspect.h"

HWND ModuleWindow = nullptr;

namespace {

// The newest request of ModuleDialog: changed on its thread at every listing
// it starts and at its end. A listing serves the request current when it was
// started and stops as soon as that is no longer the newest.
DWORD ModuleRequest = 0;

// The module handles the listing asks for first; a process with more gets
// an array as large as the count the platform gives. The size of the name
// and line buffers in UTF-16 units.
const DWORD MODULE_FIRST_HANDLES = 100;
const size_t MODULE_TEXT_UNITS = 500;
// How often the array is grown when the process keeps loading modules
// between two calls; the handles of the last call are listed then.
const int MODULE_ENUM_TRIES = 8;

const WCHAR MODULE_SEPARATOR[] = L"---------------------------------------------";
const WCHAR NAME_LABEL[] = L"模块名称为:";

// "模块名称为:" and the name, the name cut short if the two would not fit
// in the line buffer.
BOOL AppendNameLine(const DialogJob& served, HWND list, WCHAR* name) {
    WCHAR line[MODULE_TEXT_UNITS];
    wcscpy_s(line, MODULE_TEXT_UNITS, NAME_LABEL);
    size_t room = MODULE_TEXT_UNITS - 1 - static_cast<size_t>(lstrlenW(NAME_LABEL));
    if (static_cast<size_t>(lstrlenW(name)) > room) name[room] = 0;
    wcscat_s(line, MODULE_TEXT_UNITS, name);
    return JobAppend(served, list, line);
}

// The lines of the index-th module (counting from 1): six when everything
// can be read, fewer with an error line when the name or the record cannot.
// FALSE as soon as the dialog refuses a line.
BOOL AppendModule(const DialogJob& served, HWND list, HANDLE process, HMODULE module, int index) {
    WCHAR line[MODULE_TEXT_UNITS];
    wsprintfW(line, L"第%d个模块信息", index);
    if (!JobAppend(served, list, line)) return FALSE;

    WCHAR name[MODULE_TEXT_UNITS];
    if (GetModuleBaseNameW(process, module, name, static_cast<DWORD>(MODULE_TEXT_UNITS)) == 0)
        return JobAppend(served, list, L"获取模块名有错误发生......") && JobAppend(served, list, MODULE_SEPARATOR);
    if (!AppendNameLine(served, list, name)) return FALSE;

    MODULEINFO info = {};
    if (!GetModuleInformation(process, module, &info, sizeof(MODULEINFO)))
        return JobAppend(served, list, L"获取模块信息有错误发生......") && JobAppend(served, list, MODULE_SEPARATOR);
    FormatHexLine(line, L"模块基址为:", reinterpret_cast<ULONG_PTR>(info.lpBaseOfDll), L"");
    if (!JobAppend(served, list, line)) return FALSE;
    wsprintfW(line, L"模块大小为:0x%08x", info.SizeOfImage);
    if (!JobAppend(served, list, line)) return FALSE;
    FormatHexLine(line, L"模块入口地址为:", reinterpret_cast<ULONG_PTR>(info.EntryPoint), L"");
    return JobAppend(served, list, line) && JobAppend(served, list, MODULE_SEPARATOR);
}

// Starts ListModules for SelectedPid on a new thread. The new listing replaces any earlier one; FALSE when no
// thread could be started, and then the earlier one goes on.
BOOL StartModuleListing(HWND dialog) {
    ModuleJob* job = static_cast<ModuleJob*>(malloc(sizeof(ModuleJob)));
    if (!job) return FALSE;
    job->pid = SelectedPid;
    return StartDialogJob(dialog, &ModuleRequest, &job->served, ListModules, job);
}

// The module handles of `process`: first into `first` (MODULE_FIRST_HANDLES),
// then, while the count the platform gives is larger, into an array of that
// count (freed by the caller when it is not `first`). *count is the
// process's module count, *held how many handles the array holds (fewer
// only when memory ran out). FALSE when a call fails.
BOOL EnumerateModules(HANDLE process, HMODULE* first, HMODULE** handles, DWORD* count, DWORD* held) {
    *handles = first;
    DWORD capacity = MODULE_FIRST_HANDLES;
    DWORD needed = 0;
    BOOL enumerated = EnumProcessModules(process, first, capacity * static_cast<DWORD>(sizeof(HMODULE)), &needed);
    for (int tries = 0; enumerated && tries < MODULE_ENUM_TRIES && needed / sizeof(HMODULE) > capacity; ++tries) {
        // Room for a few modules more, loaded before the next call.
        DWORD wanted = needed / static_cast<DWORD>(sizeof(HMODULE)) + 16;
        HMODULE* more = static_cast<HMODULE*>(malloc(wanted * sizeof(HMODULE)));
        if (!more) break;
        DWORD moreNeeded = 0;
        enumerated = EnumProcessModules(process, more, wanted * static_cast<DWORD>(sizeof(HMODULE)), &moreNeeded);
        if (*handles != first) free(*handles);
        *handles = more;
        capacity = wanted;
        needed = moreNeeded;
    }
    *count = needed / static_cast<DWORD>(sizeof(HMODULE));
    *held = *count < capacity ? *count : capacity;
    return enumerated;
}

void NoticeNoWorker(HWND dialog) { Notice(dialog, L"显示堆信息有错误发生\n错误码:0x00000001", MB_ICONERROR); }

BOOL ModuleDialog_OnInitDialog(HWND dialog) {
    ModuleWindow = dialog;
    CenterOnScreen(dialog);
    if (!StartModuleListing(dialog)) {
        NoticeNoWorker(dialog);
        EndDialog(dialog, 0);
    }
    return TRUE;
}

INT_PTR ModuleDialog_OnCommand(HWND dialog, WPARAM wParam) {
    if (LOWORD(wParam) != IDC_REFRESH) return TRUE;
    if (StartModuleListing(dialog)) return FALSE;
    NoticeNoWorker(dialog);
    return TRUE;
}

}  // namespace

DWORD WINAPI ListModules(LPVOID param) {
    ModuleJob job = *static_cast<ModuleJob*>(param);
    free(param);

    // Query information and read memory: all the listing needs, and granted
    // where all access would be refused.
    HANDLE process = OpenProcess(MORVANE_ACCESS_COUNTERS, FALSE, job.pid);
    if (!process) {
        JobNotice(job.served, L"无法执行!\n错误码:0x00000001", MB_ICONERROR);
        return 0;
    }
    HMODULE first[MODULE_FIRST_HANDLES];
    HMODULE* handles = first;
    DWORD count = 0, held = 0;
    if (!EnumerateModules(process, first, &handles, &count, &held)) {
        if (handles != first) free(handles);
        JobNotice(job.served, L"无法执行!\n错误码:0x00000002", MB_ICONERROR);
        CloseHandle(process);
        return 0;
    }

    HWND list = GetDlgItem(job.served.dialog, IDC_MODULE_LIST);
    WCHAR line[MODULE_TEXT_UNITS];
    wsprintfW(line, L"模块总数量:%d个", static_cast<int>(count));
    BOOL listed = JobClear(job.served, list) && JobAppend(job.served, list, line) &&
                  JobAppend(job.served, list, MODULE_SEPARATOR);
    for (DWORD i = 0; listed && i < held; ++i)
        listed = AppendModule(job.served, list, process, handles[i], static_cast<int>(i + 1));
    if (handles != first) free(handles);
    CloseHandle(process);
    return listed ? 1 : 0;
}

INT_PTR CALLBACK ModuleDialog(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_INITDIALOG:
        return ModuleDialog_OnInitDialog(dialog);
    case WM_CLOSE:
        ModuleRequest = NewJobRequest();  // a listing still running for it stops
        EndDialog(dialog, 0);
        return TRUE;
    case WM_COMMAND:
        return ModuleDialog_OnCommand(dialog, wParam);
    case WM_VKEYTOITEM:
        return LineListKey(dialog, wParam, lParam);
    case WM_CHARTOITEM:
        return LIST_KEY_DEFAULT;
    case WM_JOB_STEP:
        CarryOutJobStep(dialog, ModuleRequest, lParam);
        return TRUE;
    default:
        return FALSE;
    }
}
