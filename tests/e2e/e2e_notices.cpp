#include "e2e_notices.h"

#include <stdio.h>

#include "e2e_expect.h"
#include "e2e_report.h"
#include "e2e_screen.h"
#include "e2e_windows.h"

namespace {

struct BoxFind {
    const wchar_t* caption;
    std::vector<HWND> found;
};

BOOL CALLBACK FindBoxProc(HWND window, LPARAM param) {
    BoxFind* args = reinterpret_cast<BoxFind*>(param);
    if (IsMorvaneDialog(window, args->caption)) args->found.push_back(window);
    return TRUE;
}

}  // namespace

std::vector<HWND> Boxes(const wchar_t* caption) {
    BoxFind args = {caption, {}};
    EnumWindows(FindBoxProc, reinterpret_cast<LPARAM>(&args));
    return args.found;
}

namespace {

struct ChildScan {
    std::string text;
    HWND icon;
};

BOOL CALLBACK ChildProc(HWND child, LPARAM param) {
    ChildScan* scan = reinterpret_cast<ChildScan*>(param);
    wchar_t cls[64];
    if (!GetClassNameW(child, cls, 64) || lstrcmpiW(cls, L"Static") != 0) return TRUE;
    if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        scan->icon = child;
        return TRUE;
    }
    std::string t = Text(child);
    if (!t.empty() && scan->text.empty()) scan->text = t;
    return TRUE;
}

}  // namespace

std::string Describe(HWND window) {
    if (!window) return "no window";
    wchar_t title[256] = L"", cls[64] = L"";
    GetWindowTextW(window, title, 256);
    GetClassNameW(window, cls, 64);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char text[400];
    snprintf(text, sizeof text, "window %p \"%s\" (class %s, process %lu%s)", static_cast<void*>(window),
             Utf8(title).c_str(), Utf8(cls).c_str(), static_cast<unsigned long>(pid),
             IsWindowVisible(window) ? "" : ", hidden");
    return text;
}

namespace {

// Tells the error icon (red) from the information icon (blue) by its pixels.
std::string IconKind(HWND icon) {
    if (!icon) return "unknown";
    RECT r;
    GetWindowRect(icon, &r);
    POINT centre = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    HWND front = WindowFromPoint(centre);
    if (front != icon && GetAncestor(front, GA_ROOT) != GetAncestor(icon, GA_ROOT)) {
        return "covered by " + Describe(front);
    }
    Screen s = Capture();
    int red = 0, blue = 0;
    for (int y = r.top; y < r.bottom; ++y) {
        for (int x = r.left; x < r.right; ++x) {
            COLORREF c = s.At(x, y);
            if (c == 0xFFFFFFFF) continue;
            int R = GetRValue(c), G = GetGValue(c), B = GetBValue(c);
            if (R > 160 && G < 100 && B < 100) ++red;
            if (B > 160 && R < 120 && G < 170) ++blue;
        }
    }
    if (red > 10 && red > blue) return "error";
    if (blue > 10 && blue > red) return "information";
    return "unknown";
}

ChildScan ScanBox(HWND box) {
    ChildScan scan = {std::string(), nullptr};
    EnumChildWindows(box, ChildProc, reinterpret_cast<LPARAM>(&scan));
    return scan;
}

}  // namespace

std::string BoxText(HWND box) { return ScanBox(box).text; }

void ReadNotice(HWND box, const wchar_t* caption, Notice* notice) {
    notice->box = box;
    notice->caption = Utf8(caption);
    notice->owner = GetWindow(box, GW_OWNER);
    ChildScan scan = ScanBox(box);
    notice->text = scan.text;
    // A box is shown before it is drawn: wait until its icon is on screen,
    // so that what is read from the screen includes the box.
    DWORD start = Now();
    do {
        notice->icon = IconKind(scan.icon);
        if (notice->icon == "error" || notice->icon == "information") break;
        Sleep(50);
    } while (Now() - start < 2000);
}

bool WaitNotice(const wchar_t* caption, DWORD timeout, Notice* notice, Want want, HWND mapOwner) {
    DWORD start = Now();
    for (;;) {
        for (HWND box : Boxes(caption)) {
            std::string text = ScanBox(box).text;
            // Not filled in yet, or its thread not yet in the box's loop.
            if (text.empty() || text == "<no answer>") continue;
            bool map = text == kMapDone;
            bool stale = map && want == kMapNotice && mapOwner && GetWindow(box, GW_OWNER) != mapOwner;
            if ((map && want == kOtherNotice) || stale) {
                Notice other;
                other.box = box;
                Log("  (a map pass notice %s; dismissed)", stale ? "of another window" : "came in between");
                Dismiss(other);
                continue;
            }
            if (want == kMapNotice && !map) continue;
            ReadNotice(box, caption, notice);
            if (want == kOtherNotice && notice->icon.compare(0, 7, "covered") == 0 && DrainMapNotices(0)) {
                // A map notice came up in front of this one meanwhile.
                Log("  (a map pass notice came in front; dismissed)");
                ReadNotice(box, caption, notice);
            }
            return true;
        }
        if (Now() - start > timeout) return false;
        Sleep(20);
    }
}

bool Dismiss(const Notice& notice) {
    HWND ok = GetDlgItem(notice.box, IDOK);
    if (ok) Press(ok);
    else PostMessageW(notice.box, WM_COMMAND, IDOK, 0);
    if (WaitGone(notice.box, 3000)) return true;
    PostMessageW(notice.box, WM_COMMAND, IDOK, 0);
    return WaitGone(notice.box, 3000);
}

bool ExpectNotice(const std::string& text, HWND owner, const char* icon, const std::string& what,
                  DWORD timeout, const char* shot) {
    Notice n;
    if (!WaitNotice(kNoticeCaption, timeout, &n, text == kMapDone ? kMapNotice : kOtherNotice)) {
        return Check(false, what + ": notice shown", text, "no notice");
    }
    bool ok = CheckEq(text, n.text, what + ": notice text");
    ok = Check(n.owner == owner, what + ": notice owned by its dialog", Describe(owner), Describe(n.owner)) && ok;
    ok = CheckEq(icon, n.icon, what + ": notice icon") && ok;
    if (shot) Screenshot(shot);
    ok = Check(Dismiss(n), what + ": notice dismissed") && ok;
    return ok;
}

int DrainMapNotices(DWORD watch) {
    int count = 0;
    DWORD start = Now();
    do {
        for (HWND box : Boxes(kNoticeCaption)) {
            if (ScanBox(box).text != kMapDone) continue;
            Notice n;
            n.box = box;
            Dismiss(n);
            ++count;
            start = Now();
        }
        Sleep(50);
    } while (Now() - start < watch);
    return count;
}

std::vector<Notice> TakeNotices(size_t count, DWORD timeout) {
    std::vector<Notice> got;
    while (got.size() < count) {
        Notice n;
        DWORD start = Now();
        while (!n.box && Now() - start <= timeout) {
            for (HWND box : Boxes(kNoticeCaption)) {
                // A box shown by a thread that has not pumped messages for a
                // while reads as not answering until its loop runs.
                n.text = ScanBox(box).text;
                if (n.text.empty() || n.text == "<no answer>") continue;
                n.box = box;
                n.owner = GetWindow(box, GW_OWNER);
                break;
            }
            if (!n.box) Sleep(10);
        }
        if (!n.box) break;
        Dismiss(n);
        got.push_back(n);
    }
    Notice none;
    none.text = "<none>";
    got.resize(count, none);
    return got;
}
