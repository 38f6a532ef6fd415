// Copying what the lists show: Ctrl+C and Ctrl+A as the lists pass them to
// their dialogs (WM_VKEYTOITEM), through the fake's clipboard.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/shell.h"
#include "heaps/heaps.h"
#include "inspect/inspect.h"
#include "modules/modules.h"
#include "tests/fake/fake_platform.h"

namespace {

struct CopyList {
    const char* name;
    int templateId;
    DLGPROC proc;
    int listId;
};

// Every list that shows and selects many lines.
const CopyList kManyLineLists[] = {
    {"counters", IDD_PROCESS_MEMORY, ProcessMemoryDialog, IDC_COUNTERS},
    {"region table", IDD_PROCESS_MEMORY, ProcessMemoryDialog, IDC_REGIONS},
    {"block list", IDD_HEAP, HeapDialog, IDC_BLOCK_LIST},
    {"module list", IDD_MODULE, ModuleDialog, IDC_MODULE_LIST},
};

class LineCopy : public ::testing::Test {
protected:
    void SetUp() override { fake::Reset(); }
    void TearDown() override {
        EXPECT_FALSE(fake::ClipboardOpen()) << "the clipboard was left open";
        EXPECT_EQ(0, fake::LiveGlobals()) << "a text block was neither handed over nor freed";
    }

    // A dialog whose list shows `lines`.
    HWND Dialog(int templateId, DLGPROC proc, int listId, const std::vector<std::string>& lines, bool many) {
        HWND dialog = fake::NewDialog(templateId, proc);
        list = GetDlgItem(dialog, listId);
        fake::Control& c = fake::Item(dialog, listId);
        c.extendedSelection = many;
        for (const std::string& line : lines) c.lines.push_back(fake::Utf16(line));
        return dialog;
    }

    // A key pressed in the list, with Ctrl held or not, as the list passes
    // it to the dialog; what the dialog answers.
    INT_PTR Key(HWND dialog, int key, bool control = true) {
        fake::SetKeyDown(VK_CONTROL, control);
        INT_PTR answer = fake::Send(dialog, WM_VKEYTOITEM, MAKEWPARAM(key, 0), reinterpret_cast<LPARAM>(list));
        fake::SetKeyDown(VK_CONTROL, false);
        return answer;
    }

    HWND list = nullptr;
};

TEST_F(LineCopy, SelectedLinesInListOrderElseEveryLine) {
    const std::vector<std::string> lines = {"进程ID:42", "区域基址为:0x00010000", "", "大小:0x00001000字节"};
    for (const CopyList& l : kManyLineLists) {
        SCOPED_TRACE(l.name);
        fake::Reset();
        HWND dialog = Dialog(l.templateId, l.proc, l.listId, lines, true);

        SendMessageW(list, LB_SETSEL, TRUE, 3);
        SendMessageW(list, LB_SETSEL, TRUE, 1);
        SendMessageW(list, LB_SETSEL, TRUE, 2);
        EXPECT_EQ(-2, Key(dialog, 'C'));
        EXPECT_EQ("区域基址为:0x00010000\r\n\r\n大小:0x00001000字节", fake::ClipboardText());

        SendMessageW(list, LB_SETSEL, FALSE, -1);
        EXPECT_EQ(-2, Key(dialog, 'C'));
        EXPECT_EQ("进程ID:42\r\n区域基址为:0x00010000\r\n\r\n大小:0x00001000字节", fake::ClipboardText());

        SendMessageW(list, LB_SETSEL, TRUE, 0);
        EXPECT_EQ(-2, Key(dialog, 'A'));
        EXPECT_EQ(4, SendMessageW(list, LB_GETSELCOUNT, 0, 0)) << "Ctrl+A selects every line";
        EXPECT_TRUE(fake::Boxes().empty());
    }
}

// The heap list selects one line, since a selection starts a block walk,
// and so does the process list: Ctrl+C copies that line (every line when
// none is selected), and Ctrl+A neither selects nor starts anything.
TEST_F(LineCopy, OneLineListsCopyTheirOneLine) {
    const CopyList oneLineLists[] = {
        {"heap list", IDD_HEAP, HeapDialog, IDC_HEAP_LIST},
        {"process list", IDD_PROCESS_LIST, ProcessListDialog, IDC_PROCESS_LIST},
    };
    for (const CopyList& l : oneLineLists) {
        SCOPED_TRACE(l.name);
        fake::Reset();
        HWND dialog = Dialog(l.templateId, l.proc, l.listId, {"第1个堆的信息----默认堆", "第2个堆的信息"}, false);
        EXPECT_EQ(-2, Key(dialog, 'C'));
        EXPECT_EQ("第1个堆的信息----默认堆\r\n第2个堆的信息", fake::ClipboardText());

        SendMessageW(list, LB_SETCURSEL, 1, 0);
        EXPECT_EQ(-2, Key(dialog, 'C'));
        EXPECT_EQ("第2个堆的信息", fake::ClipboardText());

        EXPECT_EQ(-2, Key(dialog, 'A'));
        EXPECT_EQ(1, SendMessageW(list, LB_GETCURSEL, 0, 0));
        EXPECT_EQ(0, fake::OpenThreadHandles());
        EXPECT_EQ(-1, fake::Send(dialog, WM_CHARTOITEM, MAKEWPARAM('c', 0), reinterpret_cast<LPARAM>(list)));
    }
}

// Every other key, and C and A without Ctrl, get the list's own handling
// (-1): a dialog that answered 0 would send the caret to the first line on
// every key. Wine also asks the dialog about typed characters.
TEST_F(LineCopy, OtherKeysAndCharactersAreTheListsOwn) {
    for (const CopyList& l : kManyLineLists) {
        SCOPED_TRACE(l.name);
        fake::Reset();
        fake::SetClipboardText("earlier");
        HWND dialog = Dialog(l.templateId, l.proc, l.listId, {"a", "b"}, true);
        EXPECT_EQ(-1, Key(dialog, 'C', false));
        EXPECT_EQ(-1, Key(dialog, 'A', false));
        EXPECT_EQ(-1, Key(dialog, 0x28 /* VK_DOWN */));
        EXPECT_EQ(-1, fake::Send(dialog, WM_CHARTOITEM, MAKEWPARAM('c', 0), reinterpret_cast<LPARAM>(list)));
        EXPECT_EQ(-1, fake::Send(dialog, WM_CHARTOITEM, MAKEWPARAM(3, 0), reinterpret_cast<LPARAM>(list)));
        EXPECT_EQ("earlier", fake::ClipboardText());
        EXPECT_EQ(0, SendMessageW(list, LB_GETSELCOUNT, 0, 0));
    }
}

TEST_F(LineCopy, AClipboardHeldElsewhereGivesTheNoticeAndStaysAsItWas) {
    HWND dialog = Dialog(IDD_MODULE, ModuleDialog, IDC_MODULE_LIST, {"模块总数量:1个"}, true);
    fake::SetClipboardText("earlier");
    fake::HoldClipboard(true);
    EXPECT_EQ(-2, Key(dialog, 'C'));
    EXPECT_EQ(std::vector<fake::Box>{fake::Notice(dialog, "无法复制到剪贴板!", MB_ICONERROR)}, fake::Boxes());
    EXPECT_EQ("earlier", fake::ClipboardText());
}

}  // namespace
