// The main window driven as the platform drives it: initialisation, the
// timer, its buttons, Enter/Escape and the close box; and the start-up.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "app/shell.h"
#include "inspect/painter.h"
#include "tests/fake/fake_platform.h"

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake::Reset();
        window = fake::NewDialog(IDD_MAIN_WINDOW, MainWindow);
    }

    HWND window = nullptr;
};

TEST_F(MainWindowTest, InitialisationStartsTheOneSecondTimerWithoutCallback) {
    EXPECT_EQ(TRUE, fake::Send(window, WM_INITDIALOG, 0, 0));
    auto timers = fake::Timers();
    ASSERT_EQ(1u, timers.size());
    EXPECT_EQ(window, timers[0].window);
    EXPECT_EQ(1u, timers[0].id);
    EXPECT_EQ(1000u, timers[0].elapse);
    EXPECT_FALSE(timers[0].hasProc);
    // The fields stay empty until the first tick.
    EXPECT_EQ("", fake::Text(window, IDC_MEMORY_LOAD));
    EXPECT_EQ("", fake::Text(window, IDC_TOTAL_PHYS));
}

TEST_F(MainWindowTest, InitialisationColoursTheGaugeThenSetsItsRange) {
    fake::Send(window, WM_INITDIALOG, 0, 0);
    const fake::Control& gauge = fake::Item(window, IDC_LOAD_GAUGE);
    EXPECT_EQ(0x0095FF95u, gauge.barColor);
    EXPECT_EQ(0x00FFE0C1u, gauge.backColor);
    EXPECT_EQ(0x00640000, gauge.range);
    ASSERT_EQ(3u, gauge.messages.size());
    EXPECT_EQ(static_cast<UINT>(PBM_SETBARCOLOR), gauge.messages[0]);
    EXPECT_EQ(static_cast<UINT>(PBM_SETBKCOLOR), gauge.messages[1]);
    EXPECT_EQ(static_cast<UINT>(PBM_SETRANGE), gauge.messages[2]);
}

// The painter starts once per process, so whether the main window starts it
// can only be seen in a fresh process: the check runs in a child.
TEST(MainWindowDeathTest, InitialisationStartsThePainter) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            fake::Reset();
            HWND main = fake::NewDialog(IDD_MAIN_WINDOW, MainWindow);
            bool idleBefore = DrawRequest == nullptr;
            fake::Send(main, WM_INITDIALOG, 0, 0);
            bool startedAfter = DrawRequest != nullptr && fake::OpenThreadHandles() == 0;
            std::exit(idleBefore && startedAfter ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(MainWindowTest, InitialisationCentresWithTheBigIcon) {
    // Screen 1024 wide, window 577 wide: 512 - 288 = 224 (each half
    // truncated), not (1024 - 577) / 2 = 223.
    fake::SetScreen(1024, 769);
    fake::SetWindowSize(window, 577, 401);
    fake::Send(window, WM_INITDIALOG, 0, 0);

    bool iconSet = false;
    for (const fake::SentMessage& m : fake::SentTo(window))
        if (m.msg == WM_SETICON && m.wParam == ICON_BIG && m.lParam != 0) iconSet = true;
    EXPECT_TRUE(iconSet);
    EXPECT_GE(fake::LoadIconCalls(IDI_MORVANE), 1);

    auto placements = fake::Placements(window);
    ASSERT_EQ(1u, placements.size());
    EXPECT_EQ(HWND_TOP, placements[0].after);
    EXPECT_EQ(224, placements[0].x);
    EXPECT_EQ(384 - 200, placements[0].y);
    EXPECT_EQ(static_cast<UINT>(SWP_NOSIZE | SWP_SHOWWINDOW), placements[0].flags);
}

TEST_F(MainWindowTest, TimerOneFillsTheReadoutOtherTimersDoNothing) {
    fake::Send(window, WM_INITDIALOG, 0, 0);
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof(status);
    status.dwMemoryLoad = 61;
    status.ullTotalPhys = 8ull << 30;
    fake::SetMemoryStatus(status);
    fake::SetLocalTime(9, 5, 7);

    EXPECT_EQ(TRUE, fake::Send(window, WM_TIMER, 2, 0));
    EXPECT_EQ("", fake::Text(window, IDC_MEMORY_LOAD));
    EXPECT_EQ("", fake::Text(window, IDC_HOUR));
    EXPECT_EQ(0u, fake::Item(window, IDC_LOAD_GAUGE).position);

    EXPECT_EQ(TRUE, fake::Send(window, WM_TIMER, 1, 0));
    EXPECT_EQ("61%", fake::Text(window, IDC_MEMORY_LOAD));
    EXPECT_EQ("8589934592字节", fake::Text(window, IDC_TOTAL_PHYS));
    EXPECT_EQ("9", fake::Text(window, IDC_HOUR));
    EXPECT_EQ("5", fake::Text(window, IDC_MINUTE));
    EXPECT_EQ("7", fake::Text(window, IDC_SECOND));
    EXPECT_EQ(61u, fake::Item(window, IDC_LOAD_GAUGE).position);
}

TEST_F(MainWindowTest, EnterAndEscapeLeaveTheWindowOpen) {
    fake::Send(window, WM_INITDIALOG, 0, 0);
    EXPECT_EQ(TRUE, fake::Command(window, IDOK));
    EXPECT_EQ(TRUE, fake::Command(window, IDCANCEL));
    EXPECT_FALSE(fake::Ended(window));
    EXPECT_TRUE(fake::Boxes().empty());
    EXPECT_TRUE(fake::OpenedDialogs().empty());
}

TEST_F(MainWindowTest, CloseEndsTheWindowWithZero) {
    fake::Send(window, WM_INITDIALOG, 0, 0);
    EXPECT_EQ(TRUE, fake::Send(window, WM_CLOSE, 0, 0));
    EXPECT_TRUE(fake::Ended(window));
    EXPECT_EQ(0, fake::EndResult(window));
}

TEST_F(MainWindowTest, OtherMessagesAreLeftToThePlatform) {
    fake::Send(window, WM_INITDIALOG, 0, 0);
    EXPECT_EQ(FALSE, fake::Send(window, WM_PAINT, 0, 0));
    EXPECT_EQ(FALSE, fake::Send(window, WM_ERASEBKGND, 0, 0));
    EXPECT_FALSE(fake::Ended(window));
}

TEST_F(MainWindowTest, AboutBoxIsOwnedByTheWindowWithItsOwnCaption) {
    fake::Send(window, WM_INITDIALOG, 0, 0);
    EXPECT_EQ(FALSE, fake::Command(window, IDC_ABOUT));
    auto boxes = fake::Boxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(window, boxes[0].owner);
    EXPECT_EQ("本程序用于查看进程虚拟内存状态", boxes[0].text);
    EXPECT_EQ("Morvane", boxes[0].caption);
    EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONINFORMATION), boxes[0].type);
    EXPECT_FALSE(fake::Ended(window));
}

// Each press opens the query dialog owned by the main window; opening and
// closing it again and again leaves the main window open, with one timer,
// and its read-out still follows the ticks.
TEST_F(MainWindowTest, ShowProcessOpensQueryDialogsAndTheReadoutStaysCurrent) {
    fake::Send(window, WM_INITDIALOG, 0, 0);
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof(status);
    for (DWORD round = 1; round <= 3; ++round) {
        EXPECT_EQ(FALSE, fake::Command(window, IDC_SHOW_PROCESS));
        auto opened = fake::OpenedDialogs();
        ASSERT_EQ(round, opened.size());
        EXPECT_EQ(IDD_QUERY, opened.back().templateId);
        EXPECT_EQ(window, opened.back().owner);
        EXPECT_EQ(0, opened.back().param);
        status.dwMemoryLoad = 10 * round;
        fake::SetMemoryStatus(status);
        fake::SetLocalTime(12, 0, static_cast<WORD>(round));
        fake::Send(window, WM_TIMER, 1, 0);
        EXPECT_EQ(std::to_string(10 * round) + "%", fake::Text(window, IDC_MEMORY_LOAD));
        EXPECT_EQ(std::to_string(round), fake::Text(window, IDC_SECOND));
    }
    EXPECT_EQ(1u, fake::Timers().size());
    EXPECT_FALSE(fake::Ended(window));
}

class StartUp : public ::testing::Test {
protected:
    void SetUp() override { fake::Reset(); }
};

TEST_F(StartUp, OpensTheMainWindowUnownedOnceTheGaugeClassIsReady) {
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(static_cast<ULONG_PTR>(0x00400000));
    DWORD flagsWhenOpen = 0;
    bool opened = false;
    fake::OnDialog(IDD_MAIN_WINDOW, [&](HWND) {
        opened = true;
        flagsWhenOpen = fake::InitCommonControlsFlags();
    });

    EXPECT_EQ(0, RunMorvane(instance));

    ASSERT_TRUE(opened);
    EXPECT_EQ(static_cast<DWORD>(ICC_PROGRESS_CLASS), flagsWhenOpen & ICC_PROGRESS_CLASS);
    EXPECT_EQ(instance, ModuleInstance);
    auto dialogs = fake::OpenedDialogs();
    ASSERT_EQ(1u, dialogs.size());
    EXPECT_EQ(IDD_MAIN_WINDOW, dialogs[0].templateId);
    EXPECT_EQ(nullptr, dialogs[0].owner);
    EXPECT_EQ(reinterpret_cast<LPARAM>(instance), dialogs[0].param);
    // The fake closed it as a user would, and it ended.
    EXPECT_TRUE(fake::Ended(dialogs[0].window));
    EXPECT_EQ(0, fake::EndResult(dialogs[0].window));
}

}  // namespace
