// The counters summary in the upper list of the process memory dialog.
#include <gtest/gtest.h>

#include "app/shell.h"
#include "inspect/inspect.h"
#include "resources/resource.h"
#include "tests/fake/fake_platform.h"

namespace {

using Lines = std::vector<std::string>;

class Counters : public ::testing::Test {
protected:
    void SetUp() override {
        fake::Reset();
        ProcessMemoryWindow = fake::NewDialog(IDD_PROCESS_MEMORY);
        SelectedPid = 4321;
    }
    void TearDown() override { EXPECT_EQ(0, fake::OpenKernelHandles()) << "a process handle was left open"; }

    static fake::Process& AddCountedProcess(DWORD pid) {
        fake::Process& p = fake::AddProcess(pid);
        p.counters.PageFaultCount = 17;
        p.counters.PeakWorkingSetSize = 2097152;
        p.counters.WorkingSetSize = 1048576;
        p.counters.QuotaPagedPoolUsage = 111;  // pool quotas are not shown
        p.counters.PagefileUsage = 4096;
        p.counters.PeakPagefileUsage = 8192;
        return p;
    }

    static void ExpectOneFailureNotice() {
        EXPECT_EQ(std::vector<fake::Box>{fake::Notice(ProcessMemoryWindow, "无法执行!", MB_ICONERROR)}, fake::Boxes());
    }
};

TEST_F(Counters, SixLinesReplaceTheEarlierOnes) {
    AddCountedProcess(4321);
    LineListAppend(GetDlgItem(ProcessMemoryWindow, IDC_COUNTERS), L"旧的一行");

    EXPECT_EQ(1, ShowCounters());

    EXPECT_EQ((Lines{"进程ID:4321", "页面错误数:17", "工作集峰值:2097152字节", "当前工作集:1048576字节",
                     "当前已分配的页面字节数:4096字节", "分配页面峰值字节数:8192字节"}),
              fake::Lines(ProcessMemoryWindow, IDC_COUNTERS));
    EXPECT_TRUE(fake::Boxes().empty());
}

TEST_F(Counters, OpensTheSelectedProcessForQueryAndReadNotInheritable) {
    AddCountedProcess(4321);
    ASSERT_EQ(1, ShowCounters());

    std::vector<fake::OpenCall> calls = fake::OpenCalls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(4321u, calls[0].pid);
    EXPECT_EQ(0x410u, calls[0].access);
    EXPECT_EQ(FALSE, calls[0].inherit);
}

TEST_F(Counters, ExtremeCountsAreWrittenInFull) {
    fake::Process& p = fake::AddProcess(4321);
    p.counters.PageFaultCount = 0xFFFFFFFFu;
    p.counters.PeakWorkingSetSize = 0;
    p.counters.WorkingSetSize = 0xFFFFFFFFu;
    // Pointer-sized counts past 4 GB (possible on x86_64) keep every digit.
    p.counters.PagefileUsage = static_cast<SIZE_T>(0x200000005ull);
    p.counters.PeakPagefileUsage = static_cast<SIZE_T>(~0ull);

    ASSERT_EQ(1, ShowCounters());

    EXPECT_EQ((Lines{"进程ID:4321", "页面错误数:4294967295", "工作集峰值:0字节", "当前工作集:4294967295字节",
                     "当前已分配的页面字节数:8589934597字节", "分配页面峰值字节数:18446744073709551615字节"}),
              fake::Lines(ProcessMemoryWindow, IDC_COUNTERS));
}

// No such process, or one that refuses to be queried and read.
TEST_F(Counters, AProcessThatCannotBeOpenedFailsWithCodeOneAndKeepsTheList) {
    for (bool exists : {false, true}) {
        SCOPED_TRACE(exists ? "access refused" : "no such process");
        fake::Reset();
        ProcessMemoryWindow = fake::NewDialog(IDD_PROCESS_MEMORY);
        if (exists) AddCountedProcess(4321).grantedAccess = PROCESS_QUERY_INFORMATION;
        LineListAppend(GetDlgItem(ProcessMemoryWindow, IDC_COUNTERS), L"进程ID:9");

        EXPECT_EQ(0, ShowCounters());
        EXPECT_EQ(1u, GetLastError());

        ExpectOneFailureNotice();
        EXPECT_EQ(Lines{"进程ID:9"}, fake::Lines(ProcessMemoryWindow, IDC_COUNTERS));
    }
}

TEST_F(Counters, UnreadableCountersFailWithCodeTwoAndLeaveTheListEmpty) {
    AddCountedProcess(4321).countersFail = true;
    LineListAppend(GetDlgItem(ProcessMemoryWindow, IDC_COUNTERS), L"进程ID:9");

    EXPECT_EQ(0, ShowCounters());
    EXPECT_EQ(2u, GetLastError());

    ExpectOneFailureNotice();
    EXPECT_TRUE(fake::Lines(ProcessMemoryWindow, IDC_COUNTERS).empty());
}

// The message box may change the thread's last error; the caller must still
// read the step number.
TEST_F(Counters, TheCodeIsSetAfterTheNoticeIsDismissed) {
    AddCountedProcess(4321).countersFail = true;
    fake::SetBoxHook([](const fake::Box&) { SetLastError(1400); });

    EXPECT_EQ(0, ShowCounters());
    EXPECT_EQ(2u, GetLastError());
}

}  // namespace
