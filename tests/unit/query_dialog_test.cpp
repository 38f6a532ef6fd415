// The query dialog, driven with the messages the platform sends it.
#include <gtest/gtest.h>

#include <thread>

#include "app/shell.h"
#include "inspect/inspect.h"
#include "inspect/regions.h"
#include "tests/fake/fake_platform.h"

namespace {

using Lines = std::vector<std::string>;

class Query : public ::testing::Test {
protected:
    void SetUp() override {
        fake::Reset();
        mainWindow = fake::NewDialog(IDD_MAIN_WINDOW);
        dialog = fake::NewDialog(IDD_QUERY, QueryDialog, mainWindow);
        ASSERT_EQ(TRUE, fake::Send(dialog, WM_INITDIALOG));
        EXPECT_EQ(1u, fake::Placements(dialog).size()) << "the dialog is centred when it opens";
        SelectedPid = 77;
    }
    void TearDown() override {
        fake::JoinThreads(QueryRegions);
        EXPECT_EQ(0, fake::OpenKernelHandles()) << "a process handle was left open";
    }

    INT_PTR Ask(const std::string& input) {
        fake::SetText(dialog, IDC_PID, input);
        return fake::Command(dialog, IDC_QUERY);
    }

    HWND mainWindow = nullptr;
    HWND dialog = nullptr;
};

TEST_F(Query, InputThatIsNoUnsignedNumberIsRefused) {
    // "+5" is what the platform's own reading of a number would let through.
    for (const char* input : {"", "abc", "-1", "4294967296", "+5", "12abc"}) {
        SCOPED_TRACE(std::string("input \"") + input + "\"");
        fake::Reset();
        dialog = fake::NewDialog(IDD_QUERY, QueryDialog, mainWindow);
        SelectedPid = 77;

        EXPECT_EQ(TRUE, Ask(input));

        EXPECT_EQ(std::vector<fake::Box>{fake::Notice(dialog, "请正确输入!", MB_ICONERROR)}, fake::Boxes());
        EXPECT_TRUE(fake::OpenedDialogs().empty());
        EXPECT_TRUE(fake::OpenCalls().empty());
        EXPECT_EQ(77u, SelectedPid);
        EXPECT_FALSE(fake::Ended(dialog));
    }
}

TEST_F(Query, ThePidTextIsDigitsFittingThirtyTwoBitsBetweenOptionalBlanks) {
    struct Case {
        const char16_t* text;
        BOOL accepted;
        DWORD pid;
    } cases[] = {
        {u"0", TRUE, 0},
        {u"42", TRUE, 42},
        {u" 42 ", TRUE, 42},
        {u"   42", TRUE, 42},
        {u"42   ", TRUE, 42},
        {u"0042", TRUE, 42},
        {u"0000000000004294967295", TRUE, 4294967295u},
        {u"4294967295", TRUE, 4294967295u},
        {u"", FALSE, 0},
        {u"   ", FALSE, 0},
        {u"-5", FALSE, 0},
        {u"+5", FALSE, 0},
        {u"-0", FALSE, 0},
        {u" -5", FALSE, 0},
        {u"4294967296", FALSE, 0},
        {u"99999999999999999999", FALSE, 0},
        {u"18446744073709551658", FALSE, 0},  // 2^64 + 42, which wraps to 42
        {u"12abc", FALSE, 0},
        {u"abc", FALSE, 0},
        {u"4 2", FALSE, 0},
        {u"0x10", FALSE, 0},
        {u"4.2", FALSE, 0},
        {u"\t42", FALSE, 0},
        {u"42\t", FALSE, 0},
        {u"\uff14\uff12", FALSE, 0},  // full-width digits
        {u"\u00a042", FALSE, 0},        // a no-break space
    };
    for (const Case& c : cases) {
        std::u16string text(c.text);
        SCOPED_TRACE("text \"" + fake::Utf8(text) + "\"");
        std::vector<WCHAR> units(text.begin(), text.end());
        units.push_back(0);
        DWORD pid = 12345;
        EXPECT_EQ(c.accepted, ReadPidText(units.data(), &pid));
        EXPECT_EQ(c.accepted ? c.pid : 12345u, pid) << "a refused text leaves the value alone";
    }
}

TEST_F(Query, ZeroIsAcceptedAndItsInspectionFailsInsideTheProcessDialog) {
    EXPECT_EQ(FALSE, Ask("0"));

    EXPECT_EQ(0u, SelectedPid);
    std::vector<fake::OpenedDialog> opened = fake::OpenedDialogs();
    ASSERT_EQ(1u, opened.size());
    EXPECT_EQ(IDD_PROCESS_MEMORY, opened[0].templateId);
    EXPECT_EQ(dialog, opened[0].owner);
    EXPECT_EQ(0, opened[0].param);
    // No process 0: the process dialog tells so and closes; this one stays.
    EXPECT_EQ((Lines{"无法执行!", "显示简单信息有错误发生\n错误码:0x00000001"}), fake::BoxTexts());
    for (const fake::Box& box : fake::Boxes()) EXPECT_EQ(opened[0].window, box.owner);
    EXPECT_TRUE(fake::Ended(opened[0].window));
    EXPECT_FALSE(fake::Ended(dialog));
}

TEST_F(Query, TheLargestIdIsAcceptedWithBlanksAndLeadingZerosReadWhole) {
    EXPECT_EQ(FALSE, Ask(" " + std::string(300, '0') + "4294967295 "));

    EXPECT_EQ(4294967295u, SelectedPid);
    std::vector<fake::OpenedDialog> opened = fake::OpenedDialogs();
    ASSERT_EQ(1u, opened.size());
    EXPECT_EQ(IDD_PROCESS_MEMORY, opened[0].templateId);
    EXPECT_EQ(dialog, opened[0].owner);
    std::vector<fake::OpenCall> calls = fake::OpenCalls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(4294967295u, calls[0].pid);
}

TEST_F(Query, TheTypedIdHeadsTheCountersAndAnotherProcessCanFollow) {
    fake::AddProcess(4321).regions.push_back({0, 0x10000, 0, MEM_FREE, 0, 0});
    fake::AddProcess(88).regions.push_back({0, 0x10000, 0, MEM_FREE, 0, 0});

    EXPECT_EQ(FALSE, Ask("4321"));
    EXPECT_EQ(FALSE, Ask("88"));

    std::vector<fake::OpenedDialog> opened = fake::OpenedDialogs();
    ASSERT_EQ(2u, opened.size());
    Lines first = fake::Lines(opened[0].window, IDC_COUNTERS);
    Lines second = fake::Lines(opened[1].window, IDC_COUNTERS);
    ASSERT_EQ(6u, first.size());
    ASSERT_EQ(6u, second.size());
    EXPECT_EQ("进程ID:4321", first[0]);
    EXPECT_EQ("进程ID:88", second[0]);
    EXPECT_EQ(6u, fake::Lines(opened[1].window, IDC_REGIONS).size());
    EXPECT_TRUE(fake::Boxes().empty());
    EXPECT_FALSE(fake::Ended(dialog));
}

TEST_F(Query, EnterAndEscapeDoNothing) {
    fake::AddProcess(4321);
    fake::SetText(dialog, IDC_PID, "4321");

    EXPECT_EQ(TRUE, fake::Send(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0));
    EXPECT_EQ(TRUE, fake::Send(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0));

    EXPECT_TRUE(fake::OpenedDialogs().empty());
    EXPECT_TRUE(fake::Boxes().empty());
    EXPECT_EQ(77u, SelectedPid);
    EXPECT_FALSE(fake::Ended(dialog));
}

TEST_F(Query, OnlyTheCloseBoxEndsIt) {
    EXPECT_EQ(FALSE, fake::Send(dialog, WM_PAINT));
    EXPECT_EQ(FALSE, fake::Send(dialog, WM_TIMER, 1));
    EXPECT_FALSE(fake::Ended(dialog));

    EXPECT_EQ(TRUE, fake::Send(dialog, WM_CLOSE));
    EXPECT_TRUE(fake::Ended(dialog));
    EXPECT_EQ(0, fake::EndResult(dialog));
}

// The inspection's region walk handles the UI thread's messages while it
// waits for regions; a 查询 or 进程列表 that reaches this dialog meanwhile
// opens nothing.
TEST_F(Query, NoSecondInspectionStartsWhileOneOpens) {
    fake::AddProcess(5).regions.push_back({0, 0x10000, 0, MEM_FREE, 0, 0});
    HWND d = dialog;
    bool dispatched = false;
    fake::Hold hold("VirtualQueryEx");
    std::thread during([&] {
        if (hold.WaitReached())
            dispatched = fake::PostAndWaitDispatched(d, WM_COMMAND, MAKEWPARAM(IDC_QUERY, BN_CLICKED)) &&
                         fake::PostAndWaitDispatched(d, WM_COMMAND, MAKEWPARAM(IDC_SHOW_PROCESS_LIST, BN_CLICKED));
        hold.Release();
    });

    EXPECT_EQ(FALSE, Ask("5"));
    during.join();
    fake::JoinThreads(QueryRegions);

    EXPECT_TRUE(dispatched) << "the command reaches the dialog during the walk";
    EXPECT_EQ(1u, fake::OpenedDialogs().size());
}

}  // namespace
