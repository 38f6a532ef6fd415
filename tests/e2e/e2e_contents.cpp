// "内存内容" as a person uses it: the allocation chosen in "内存用途", 查看内容
// pressed, its lists copied with Ctrl+A and Ctrl+C, find and 转到 typed and
// pressed; what it shows compared with the bytes the platform reads from
// the target, whose guard page must keep its guard. Timed on a 64 MB
// allocation.
#include <windows.h>

#include <commctrl.h>

#include <string.h>

#include <string>
#include <vector>

#include "e2e_copy.h"
#include "e2e_expect.h"
#include "e2e_notices.h"
#include "e2e_report.h"
#include "e2e_screen.h"
#include "e2e_uses.h"
#include "e2e_windows.h"

namespace {

const int kShowContents = 1053;
const int kBytes = 1070, kStrings = 1071, kNote = 1072, kFindText = 1073, kFind = 1074, kGotoText = 1076,
          kGoto = 1077, kCount = 1081;
const ULONGLONG kBase = 0x20500000;

// Opens "内存用途", selects the allocation at `base` with the keyboard and
// presses 查看内容 (at `*pressed`): the "内存内容" window, or null.
HWND OpenContents(HWND dialog, ULONGLONG base, HWND* uses, DWORD* pressed) {
    *uses = OpenUses(dialog);
    if (!*uses) return nullptr;
    std::string rows = CopyList(*uses, kAllocations, false);
    size_t at = rows.find("\r\n" + Hex(base) + "\t");
    if (at == std::string::npos) return nullptr;
    int index = 0;
    for (size_t i = 0; i < at; i = rows.find("\r\n", i) + 2) ++index;  // the header is line 0
    Keystroke(VK_HOME, 0, 50);
    for (int i = 1; i < index; ++i) Keystroke(VK_DOWN, 0, 5);
    Sleep(200);
    char caption[64];
    snprintf(caption, sizeof caption, "内存内容 - 0x%08llX 私有数据", base);
    *pressed = Now();
    Press(GetDlgItem(*uses, kShowContents));
    return WaitDialog(Wide(caption).c_str(), 20000);
}

// The note line, once it no longer says that something is under way.
std::string SettledNote(HWND contents, DWORD timeout) {
    DWORD start = Now();
    std::string note = FieldText(contents, kNote);
    // A note read while it changes may come cut short: "正" is still "正在...".
    while (note.compare(0, strlen("正"), "正") == 0 && Now() - start < timeout) {
        Sleep(20);
        note = FieldText(contents, kNote);
    }
    return note;
}

// Types `text` into the find box and presses 查找: the settled note.
std::string Find(HWND contents, const wchar_t* text) {
    SetText(GetDlgItem(contents, kFindText), text);
    Press(GetDlgItem(contents, kFind));
    return SettledNote(contents, 10000);
}

// Types `address` into the 转到 box and presses 转到.
void Goto(HWND contents, const wchar_t* address) {
    SetText(GetDlgItem(contents, kGotoText), address);
    Press(GetDlgItem(contents, kGoto));
    Sleep(200);
}

// Whether the bytes list's selected line is the one of `address`.
bool Selects(HWND contents, ULONGLONG address) {
    return CopyList(contents, kBytes, false).find("\r\n" + Hex(address) + "\t") != std::string::npos;
}

// The lines the bytes list shows, from the target's own memory: its two
// readable pages, the guard page as "??" (never read here: reading it would
// clear its guard), the reserved rest.
std::string ExpectedBytes(HANDLE target) {
    std::vector<BYTE> bytes(0x2000);
    SIZE_T read = 0;
    if (!ReadProcessMemory(target, reinterpret_cast<LPCVOID>(kBase), bytes.data(), bytes.size(), &read)) return "";
    std::string out = "地址\t十六进制\t文本\r\n";
    for (size_t line = 0; line < 0x300; ++line) {
        std::string hex, text;
        for (int i = 0; i < 16; ++i) {
            char pair[4];
            BYTE b = line < 0x200 ? bytes[line * 16 + i] : 0;
            snprintf(pair, sizeof pair, "%02X", b);
            hex += (i ? " " : "") + std::string(line < 0x200 ? pair : "??");
            text += line < 0x200 ? std::string(1, b >= 0x20 && b <= 0x7E ? static_cast<char>(b) : '.') : "??";
        }
        out += Hex(kBase + line * 16) + "\t" + hex + "\t" + text + "\r\n";
    }
    return out + Hex(kBase + 0x3000) + "\t已预留 52 KB\t\r\n";
}

}  // namespace

void CheckContents(HWND dialog, const Target& known) {
    HWND uses = nullptr;
    DWORD pressed;
    HWND contents = OpenContents(dialog, kBase, &uses, &pressed);
    if (!Check(contents != nullptr, "contents: \"内存内容 - 0x20500000 私有数据\" opened by 查看内容")) {
        if (uses) PostMessageW(uses, WM_CLOSE, 0, 0), WaitGone(uses, 5000);
        return;
    }
    Check(GetWindow(contents, GW_OWNER) == uses, "contents: owned by 内存用途");
    DWORD start = Now();
    while (FieldText(contents, kCount).find("找到 0 ") == 0 && Now() - start < 10000) Sleep(20);
    SettledNote(contents, 10000);
    Screenshot("contents");

    CheckEq(ExpectedBytes(known.process), CopyList(contents, kBytes, true),
            "contents: every line of the bytes list, as the target holds them, its guard page as ??");
    std::string strings = CopyList(contents, kStrings, true);
    for (const char* row : {"0x20500010\tASCII\t17\tMorvane e2e bytes\r\n", "0x20500100\tUTF-16\t6\t内存内容测试\r\n",
                            "0x20500ff8\tASCII\t15\tCrossPageString\r\n"})
        Check(strings.find(row) != std::string::npos, "contents: the strings list holds a known string", Escape(row),
              Escape(strings.substr(0, 400)));

    Find(contents, L"CrossPage");
    Check(Selects(contents, kBase + 0xFF0), "contents: 查找 selects the line of the text", Hex(kBase + 0xFF0));
    Keystroke(VK_F3);
    SettledNote(contents, 10000);
    Check(Selects(contents, kBase + 0xFF0), "contents: F3 wraps to the start and finds the one match again",
          Hex(kBase + 0xFF0));
    // The note may still show the last find's outcome when first read.
    Find(contents, L"NoSuchText");
    DWORD asked = Now();
    while (SettledNote(contents, 10000) != "未找到" && Now() - asked < 10000) Sleep(50);
    CheckEq("未找到", SettledNote(contents, 10000), "contents: a text that is not there");
    Goto(contents, L"0x20501004");
    Check(Selects(contents, kBase + 0x1000), "contents: 转到 selects the address's line", Hex(kBase + 0x1000));
    Goto(contents, L"0x10");
    CheckEq("地址不在此分配内", FieldText(contents, kNote), "contents: 转到 an address outside the allocation");

    MEMORY_BASIC_INFORMATION page = {};
    VirtualQueryEx(known.process, reinterpret_cast<LPCVOID>(kBase + 0x2000), &page, sizeof page);
    Check((page.Protect & PAGE_GUARD) != 0, "contents: the guard page keeps its guard", "PAGE_GUARD",
          std::to_string(page.Protect));
    PostMessageW(contents, WM_CLOSE, 0, 0);
    Check(WaitGone(contents, 5000), "contents: closed by its close box");
    PostMessageW(uses, WM_CLOSE, 0, 0);
    WaitGone(uses, 5000);
}

void MeasureContents(HWND query, const std::wstring& targetExe) {
    Target t;
    if (!StartTarget(targetExe, "contents", &t)) {
        Log("MEASURE contents: the target could not make its 64 MB allocation");
        return;
    }
    SetText(GetDlgItem(query, 1005), std::to_wstring(t.pid).c_str());
    Press(GetDlgItem(query, 1013));
    HWND dialog = WaitDialog(L"进程虚拟内存信息", 60000);
    Notice n;
    if (dialog && WaitNotice(kNoticeCaption, 60000, &n, kMapNotice, dialog)) Dismiss(n);
    DrainMapNotices(1500);
    HWND uses = nullptr;
    DWORD start = Now();
    HWND contents = dialog ? OpenContents(dialog, 0x30000000, &uses, &start) : nullptr;
    if (contents) {
        // From the press of 查看内容 until the list has its lines.
        LRESULT rows = 0;
        while (rows <= 0 && Now() - start < 10000) Send(GetDlgItem(contents, kBytes), LVM_GETITEMCOUNT, 0, 0, &rows);
        DWORD shown = Now();
        while (FieldText(contents, kCount).find("找到 0 ") == 0 && Now() - start < 60000) Sleep(5);
        DWORD strings = Now();
        Log("MEASURE contents: 64 MB allocation, its %ld bytes lines listed %lu ms after pressing 查看内容; "
            "its strings found %lu ms later: %s",
            static_cast<long>(rows), static_cast<unsigned long>(shown - start), static_cast<unsigned long>(strings - shown),
            FieldText(contents, kCount).c_str());
        SetText(GetDlgItem(contents, kFindText), L"NoSuchText");
        DWORD find = Now();
        Press(GetDlgItem(contents, kFind));
        while (FieldText(contents, kNote) != "未找到" && Now() - find < 60000) Sleep(5);
        Log("MEASURE contents: find through 64 MB, not found, %lu ms", static_cast<unsigned long>(Now() - find));
        PostMessageW(contents, WM_CLOSE, 0, 0);
        WaitGone(contents, 5000);
    } else {
        Log("MEASURE contents: \"内存内容\" did not open");
    }
    if (uses) PostMessageW(uses, WM_CLOSE, 0, 0), WaitGone(uses, 5000);
    if (dialog) PostMessageW(dialog, WM_CLOSE, 0, 0), WaitGone(dialog, 30000);
    DrainMapNotices(1000);
    EndTarget(&t, false);
}
