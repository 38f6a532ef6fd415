// The process list, driven with the messages the platform sends it, over
// the fake's process snapshot.
#include <gtest/gtest.h>

#include "app/shell.h"
#include "inspect/inspect.h"
#include "tests/fake/fake_platform.h"

namespace {

using Lines = std::vector<std::string>;

class ProcessList : public ::testing::Test {
protected:
    void SetUp() override {
        fake::Reset();
        query = fake::NewDialog(IDD_QUERY, QueryDialog, fake::NewDialog(IDD_MAIN_WINDOW));
        fake::Send(query, WM_INITDIALOG);
        fake::SetText(query, IDC_PID, "77");
        SelectedPid = 77;
    }
    void TearDown() override { EXPECT_EQ(0, fake::OpenKernelHandles()) << "a snapshot or process handle was left open"; }

    static fake::Process& Add(DWORD pid, const std::string& name, bool wow64 = false) {
        fake::Process& p = fake::AddProcess(pid);
        p.exeName = fake::Utf16(name);
        p.wow64 = wow64;
        return p;
    }
    HWND Open() {
        list = fake::NewDialog(IDD_PROCESS_LIST, ProcessListDialog, query);
        fake::Send(list, WM_INITDIALOG, 0, reinterpret_cast<LPARAM>(query));
        return list;
    }
    Lines Shown() { return fake::Lines(list, IDC_PROCESS_LIST); }
    void Select(int line) { fake::Item(list, IDC_PROCESS_LIST).selection = line; }
    bool FocusWentToQuery() {
        for (const fake::SentMessage& m : fake::SentTo(query))
            if (m.msg == WM_NEXTDLGCTL)
                return m.wParam == reinterpret_cast<WPARAM>(GetDlgItem(query, IDC_QUERY)) && m.lParam == TRUE;
        return false;
    }

    HWND query = nullptr;
    HWND list = nullptr;
};

TEST_F(ProcessList, LinesAreSortedByNameIgnoringCaseThenByNumericPid) {
    Add(1000, "svchost.exe");
    Add(260, "notepad.exe");
    Add(200, "svchost.exe");
    Add(64, "explorer.exe");
    Add(12, "Explorer.EXE");
    Add(3000, "Zeta.exe");
    Add(8, "alpha.exe");

    Open();

    EXPECT_EQ((Lines{"alpha.exe    进程ID:8", "Explorer.EXE    进程ID:12", "explorer.exe    进程ID:64",
                     "notepad.exe    进程ID:260", "svchost.exe    进程ID:200", "svchost.exe    进程ID:1000",
                     "Zeta.exe    进程ID:3000"}),
              Shown());
    EXPECT_TRUE(fake::Boxes().empty());
    EXPECT_FALSE(fake::Ended(list));
    EXPECT_EQ(LB_ERR, fake::Item(list, IDC_PROCESS_LIST).selection) << "nothing is chosen for the user";
    EXPECT_EQ(1u, fake::Placements(list).size()) << "the list is centred when it opens";
    EXPECT_TRUE(fake::OpenCalls().empty()) << "a 64-bit or 32-bit-system build opens no process to list them";
}

TEST_F(ProcessList, A32BitBuildOnA64BitSystemMarksThe64BitProcesses) {
    struct Case {
        bool selfWow64;
        Lines shown;
    } cases[] = {
        {true, {"a.exe    进程ID:4 (64位)", "b.exe    进程ID:8", "c.exe    进程ID:12"}},
        {false, {"a.exe    进程ID:4", "b.exe    进程ID:8", "c.exe    进程ID:12"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.selfWow64 ? "32-bit build on a 64-bit system" : "64-bit build or 32-bit system");
        SetUp();
        fake::SetSelfWow64(c.selfWow64);
        Add(4, "a.exe");        // 64-bit
        Add(8, "b.exe", true);  // 32-bit
        Add(12, "c.exe").grantedAccess = 0;  // cannot be asked

        Open();

        EXPECT_EQ(c.shown, Shown());
        for (const fake::OpenCall& call : fake::OpenCalls()) EXPECT_EQ(0x1000u, call.access) << "pid " << call.pid;
        EXPECT_EQ(c.selfWow64 ? 3u : 0u, fake::OpenCalls().size());
        EXPECT_TRUE(fake::Boxes().empty());
    }
}

TEST_F(ProcessList, AChosenLineWritesItsPidAndTheFocusGoesToQuery) {
    struct Case {
        const char* way;
        int control;
        int code;
    } cases[] = {
        {"double click", IDC_PROCESS_LIST, LBN_DBLCLK},
        {"确定 or Enter", IDOK, BN_CLICKED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.way);
        SetUp();
        Add(4321, "notepad.exe");
        Add(88, "e2e_target.exe");
        fake::OnDialog(IDD_PROCESS_LIST, [&](HWND opened) {
            list = opened;
            Select(1);
            fake::Command(opened, c.control, c.code);
        });

        fake::Command(query, IDC_SHOW_PROCESS_LIST);

        std::vector<fake::OpenedDialog> opened = fake::OpenedDialogs();
        ASSERT_EQ(1u, opened.size()) << "only 查询 starts an inspection";
        EXPECT_EQ(IDD_PROCESS_LIST, opened[0].templateId);
        EXPECT_EQ(query, opened[0].owner);
        EXPECT_EQ(IDOK, fake::EndResult(list));
        EXPECT_EQ("4321", fake::Text(query, IDC_PID));
        EXPECT_TRUE(FocusWentToQuery());
        EXPECT_EQ(77u, SelectedPid);
        EXPECT_FALSE(fake::Ended(query));
    }
}

TEST_F(ProcessList, WithoutAChoiceTheFieldStaysAsItWas) {
    struct Case {
        const char* way;
        int selected;
        int control;  // 0: the close box
    } cases[] = {
        {"确定 with nothing selected, then the close box", LB_ERR, IDOK},
        {"Escape with a line selected", 0, IDCANCEL},
        {"the close box with a line selected", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.way);
        SetUp();
        Add(4321, "notepad.exe");
        bool stayedOpen = false;
        fake::OnDialog(IDD_PROCESS_LIST, [&](HWND opened) {
            list = opened;
            Select(c.selected);
            if (c.control) fake::Command(opened, c.control);
            stayedOpen = !fake::Ended(opened);
        });

        fake::Command(query, IDC_SHOW_PROCESS_LIST);

        EXPECT_EQ(c.control != IDCANCEL, stayedOpen);
        EXPECT_TRUE(fake::Ended(list));
        EXPECT_EQ(0, fake::EndResult(list));
        EXPECT_EQ("77", fake::Text(query, IDC_PID));
        EXPECT_FALSE(FocusWentToQuery());
        EXPECT_EQ(1u, fake::OpenedDialogs().size());
    }
}

TEST_F(ProcessList, RefreshTakesANewSnapshotAndKeepsTheSelectedPid) {
    Add(30, "c.exe");
    Add(20, "b.exe");
    Add(10, "d.exe");
    Open();
    Select(0);  // b.exe

    Add(40, "a.exe");
    fake::RemoveProcess(30);
    fake::Command(list, IDC_LIST_REFRESH);

    EXPECT_EQ((Lines{"a.exe    进程ID:40", "b.exe    进程ID:20", "d.exe    进程ID:10"}), Shown());
    EXPECT_EQ(1, fake::Item(list, IDC_PROCESS_LIST).selection);

    Add(5, "a.exe");
    fake::Command(list, IDC_LIST_REFRESH);
    EXPECT_EQ(2, fake::Item(list, IDC_PROCESS_LIST).selection) << "b.exe moved down a line";

    fake::RemoveProcess(20);
    fake::Command(list, IDC_LIST_REFRESH);
    EXPECT_EQ(LB_ERR, fake::Item(list, IDC_PROCESS_LIST).selection) << "the selected process is gone";
    EXPECT_TRUE(fake::Boxes().empty());
    EXPECT_FALSE(fake::Ended(list));
}

TEST_F(ProcessList, AnEmptySnapshotIsNoFailure) {
    Open();
    fake::Command(list, IDOK);

    EXPECT_TRUE(Shown().empty());
    EXPECT_TRUE(fake::Boxes().empty());
    EXPECT_FALSE(fake::Ended(list));
}

TEST_F(ProcessList, ASnapshotThatCannotBeReadIsNoticedWithItsStep) {
    struct Case {
        bool snapshotFails;
        int failingStep;
        const char* text;
    } cases[] = {
        {true, -1, "无法列出进程!\n错误码:0x00000001"},
        {false, 0, "无法列出进程!\n错误码:0x00000002"},
        {false, 2, "无法列出进程!\n错误码:0x00000003"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        for (bool atRefresh : {false, true}) {
            SCOPED_TRACE(atRefresh ? "at refresh" : "at opening");
            SetUp();
            Add(8, "b.exe");
            Add(4, "a.exe");
            Add(12, "c.exe");
            if (atRefresh) {
                Open();
                Select(2);
            }
            fake::SetProcessSnapshotFaults(c.snapshotFails, {c.failingStep, ERROR_ACCESS_DENIED});

            if (atRefresh)
                fake::Command(list, IDC_LIST_REFRESH);
            else
                Open();

            EXPECT_EQ(std::vector<fake::Box>{fake::Notice(list, c.text, MB_ICONERROR)}, fake::Boxes());
            EXPECT_EQ(!atRefresh, fake::Ended(list));
            Lines before = {"a.exe    进程ID:4", "b.exe    进程ID:8", "c.exe    进程ID:12"};
            EXPECT_EQ(atRefresh ? before : Lines{}, Shown());
            if (atRefresh) {
                EXPECT_EQ(2, fake::Item(list, IDC_PROCESS_LIST).selection);
                fake::Command(list, IDOK);
                EXPECT_EQ("12", fake::Text(query, IDC_PID)) << "the lines it kept can still be chosen";
            }
            TearDown();
        }
    }
}

}  // namespace
