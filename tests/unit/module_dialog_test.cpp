// ModuleDialog driven as the platform would, with the ListModules worker
// listing the modules of a fake process.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/dialog_jobs.h"
#include "heaps/heaps.h"
#include "inspect/inspect.h"
#include "modules/modules.h"
#include "resources/resource.h"
#include "tests/fake/fake_platform.h"

namespace {

using Lines = std::vector<std::string>;

const DWORD kPid = 3131;
const char kSeparator[] = "---------------------------------------------";
const char kNoWorker[] = "显示堆信息有错误发生\n错误码:0x00000001";

fake::Module MakeModule(const std::string& name, ULONG_PTR base, DWORD size, ULONG_PTR entry) {
    fake::Module m;
    m.name = fake::Utf16(name);
    m.base = base;
    m.size = size;
    m.entry = entry;
    return m;
}

std::vector<fake::Module> ThreeModules() {
    return {MakeModule("target.exe", 0x00400000, 0x00023000, 0x00411234),
            MakeModule("kernel32.dll", 0x76540000, 0x000f0000, 0x7655e000),
            MakeModule("user32.dll", 0x77110000, 0x00190000, 0x77121a30)};
}

class ModuleDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake::Reset();
        SelectedPid = kPid;
    }

    void TearDown() override {
        fake::JoinThreads(ListModules);
        EXPECT_EQ(0, fake::OpenKernelHandles());
        EXPECT_EQ(0, fake::OpenThreadHandles());
    }

    fake::Process& Target() { return fake::AddProcess(kPid); }

    // Opens the dialog and waits for its first listing.
    HWND Open() {
        HWND d = fake::NewDialog(IDD_MODULE, ModuleDialog);
        EXPECT_EQ(TRUE, fake::Send(d, WM_INITDIALOG));
        fake::JoinThreads(ListModules);
        return d;
    }

    INT_PTR Refresh(HWND d) {
        INT_PTR result = fake::Command(d, IDC_REFRESH);
        fake::JoinThreads(ListModules);
        return result;
    }

    static void ExpectErrorBox(const fake::Box& box, HWND owner, const char* text) {
        EXPECT_EQ(fake::Notice(owner, text, MB_ICONERROR), box);
    }
};

// ---- listing ---------------------------------------------------------------

TEST_F(ModuleDialogTest, ThreeReadableModulesGiveTwentyLines) {
    fake::Process& p = Target();
    p.modules = ThreeModules();
    p.grantedAccess = MORVANE_ACCESS_COUNTERS;  // what the listing needs, and no more
    HWND d = Open();
    EXPECT_EQ(d, ModuleWindow);
    Lines expected = {"模块总数量:3个",          kSeparator,
                      "第1个模块信息",           "模块名称为:target.exe",
                      "模块基址为:0x00400000",   "模块大小为:0x00023000",
                      "模块入口地址为:0x00411234", kSeparator,
                      "第2个模块信息",           "模块名称为:kernel32.dll",
                      "模块基址为:0x76540000",   "模块大小为:0x000f0000",
                      "模块入口地址为:0x7655e000", kSeparator,
                      "第3个模块信息",           "模块名称为:user32.dll",
                      "模块基址为:0x77110000",   "模块大小为:0x00190000",
                      "模块入口地址为:0x77121a30", kSeparator};
    EXPECT_EQ(expected, fake::Lines(d, IDC_MODULE_LIST));
    EXPECT_TRUE(fake::Boxes().empty()) << "a successful listing shows no notice";
    std::vector<fake::OpenCall> opens = fake::OpenCalls();
    ASSERT_EQ(1u, opens.size());
    EXPECT_EQ(kPid, opens[0].pid);
    EXPECT_EQ(MORVANE_ACCESS_COUNTERS, opens[0].access) << "query information and read memory only";
    EXPECT_EQ(FALSE, opens[0].inherit);
    EXPECT_FALSE(fake::Ended(d));
    EXPECT_EQ(1u, fake::Placements(d).size()) << "the dialog is centred once";
}

TEST_F(ModuleDialogTest, MoreModulesThanTheFirstArrayHoldsAreAllListed) {
    fake::Process& p = Target();
    for (ULONG_PTR i = 0; i < 150; ++i)
        p.modules.push_back(MakeModule("m" + std::to_string(i) + ".dll", 0x10000000 + i * 0x10000, 0x1000, 0));
    HWND d = Open();
    Lines lines = fake::Lines(d, IDC_MODULE_LIST);
    ASSERT_EQ(2u + 150u * 6u, lines.size());
    EXPECT_EQ("模块总数量:150个", lines[0]);
    EXPECT_EQ("第150个模块信息", lines[2 + 149 * 6]);
    EXPECT_EQ("模块名称为:m149.dll", lines[2 + 149 * 6 + 1]);
    EXPECT_EQ(kSeparator, lines.back());
}

TEST_F(ModuleDialogTest, AModuleWhoseNameOrRecordCannotBeReadGetsAnErrorLineAndTheListingGoesOn) {
    std::vector<fake::Module> modules = ThreeModules();
    modules[0].nameFails = true;
    modules[1].infoFails = true;
    Target().modules = modules;
    HWND d = Open();
    Lines expected = {"模块总数量:3个", kSeparator,
                      "第1个模块信息", "获取模块名有错误发生......", kSeparator,
                      "第2个模块信息", "模块名称为:kernel32.dll", "获取模块信息有错误发生......", kSeparator,
                      "第3个模块信息", "模块名称为:user32.dll", "模块基址为:0x77110000", "模块大小为:0x00190000",
                      "模块入口地址为:0x77121a30", kSeparator};
    EXPECT_EQ(expected, fake::Lines(d, IDC_MODULE_LIST));
    EXPECT_TRUE(fake::Boxes().empty());
}

TEST_F(ModuleDialogTest, ANameTooLongForTheLineIsCutToFit) {
    std::string longName(600, 'n');
    Target().modules = {MakeModule(longName, 0x00400000, 0x1000, 0x00401000)};
    HWND d = Open();
    Lines lines = fake::Lines(d, IDC_MODULE_LIST);
    ASSERT_EQ(8u, lines.size());
    // The line buffer holds 500 units with its terminator; the prefix takes 6.
    EXPECT_EQ("模块名称为:" + std::string(499 - 6, 'n'), lines[3]);
    EXPECT_EQ("模块基址为:0x00400000", lines[4]);
}

TEST_F(ModuleDialogTest, AddressesWiderThanThirtyTwoBitsAreShownInFull) {
    if (sizeof(ULONG_PTR) < 8) GTEST_SKIP() << "only a 64-bit build has such addresses";
    Target().modules = {MakeModule("ntdll.dll", static_cast<ULONG_PTR>(0x7ffb12340000ull), 0x001f8000,
                                   static_cast<ULONG_PTR>(0x7ffb12351a20ull))};
    HWND d = Open();
    Lines lines = fake::Lines(d, IDC_MODULE_LIST);
    ASSERT_EQ(8u, lines.size());
    EXPECT_EQ("模块基址为:0x7ffb12340000", lines[4]);
    EXPECT_EQ("模块大小为:0x001f8000", lines[5]);
    EXPECT_EQ("模块入口地址为:0x7ffb12351a20", lines[6]);
}

TEST_F(ModuleDialogTest, AProcessWithoutModulesGivesTheCountAndTheSeparator) {
    Target();
    HWND d = Open();
    EXPECT_EQ((Lines{"模块总数量:0个", kSeparator}), fake::Lines(d, IDC_MODULE_LIST));
}

// ---- failures --------------------------------------------------------------

TEST_F(ModuleDialogTest, WorkerFailuresShowTheirCodeAndLeaveTheListAsItWas) {
    struct Case {
        const char* what;
        DWORD granted;
        bool enumFails;
        bool gone;
        const char* text;
    } cases[] = {
        {"reading memory refused", MORVANE_ACCESS_QUERY, false, false, "无法执行!\n错误码:0x00000001"},
        {"process gone", 0xFFFFFFFFu, false, true, "无法执行!\n错误码:0x00000001"},
        {"modules cannot be enumerated", 0xFFFFFFFFu, true, false, "无法执行!\n错误码:0x00000002"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake::Reset();
        SelectedPid = kPid;
        Target().modules = ThreeModules();
        HWND d = Open();
        Lines before = fake::Lines(d, IDC_MODULE_LIST);
        ASSERT_EQ(20u, before.size());

        if (c.gone) {
            fake::RemoveProcess(kPid);
        } else {
            fake::Process& p = Target();
            p.modules = {MakeModule("other.dll", 0x10000000, 0x1000, 0)};
            p.grantedAccess = c.granted;
            p.enumModulesFails = c.enumFails;
        }
        EXPECT_EQ(FALSE, Refresh(d));
        std::vector<fake::Box> boxes = fake::Boxes();
        ASSERT_EQ(1u, boxes.size());
        ExpectErrorBox(boxes[0], d, c.text);
        EXPECT_EQ(before, fake::Lines(d, IDC_MODULE_LIST));
        EXPECT_FALSE(fake::Ended(d));
        EXPECT_EQ(0, fake::OpenKernelHandles());
    }
}

TEST_F(ModuleDialogTest, NoWorkerAtOpeningEndsTheDialog) {
    Target().modules = ThreeModules();
    fake::FailThreadCreation(1);
    HWND d = Open();
    std::vector<fake::Box> boxes = fake::Boxes();
    ASSERT_EQ(1u, boxes.size());
    ExpectErrorBox(boxes[0], d, kNoWorker);
    EXPECT_TRUE(fake::Ended(d));
    EXPECT_EQ(0, fake::EndResult(d));
    EXPECT_EQ(Lines{}, fake::Lines(d, IDC_MODULE_LIST));
}

TEST_F(ModuleDialogTest, NoWorkerAtRefreshKeepsTheDialogAndTheList) {
    Target().modules = ThreeModules();
    HWND d = Open();
    Lines before = fake::Lines(d, IDC_MODULE_LIST);
    fake::FailThreadCreation(1);
    EXPECT_EQ(TRUE, Refresh(d));
    std::vector<fake::Box> boxes = fake::Boxes();
    ASSERT_EQ(1u, boxes.size());
    ExpectErrorBox(boxes[0], d, kNoWorker);
    EXPECT_FALSE(fake::Ended(d));
    EXPECT_EQ(before, fake::Lines(d, IDC_MODULE_LIST));
}

// ---- listings bound to their dialog ----------------------------------------

// A listing held at its enumeration while its dialog closes and another
// opens for another process: released, it neither writes nor tells there.
TEST_F(ModuleDialogTest, AListingWhoseDialogHasClosedLeavesTheNextDialogAlone) {
    for (bool enumFails : {false, true}) {
        SCOPED_TRACE(enumFails ? "listing fails" : "listing completes");
        fake::Reset();
        SelectedPid = kPid;
        fake::Process& p = Target();
        p.modules = ThreeModules();
        p.enumModulesFails = enumFails;
        fake::AddProcess(kPid + 1).modules = {MakeModule("other.exe", 0x00400000, 0x5000, 0x00401000)};
        HWND second = nullptr;
        {
            fake::Hold hold("EnumProcessModules");
            HWND first = fake::NewDialog(IDD_MODULE, ModuleDialog);
            fake::Send(first, WM_INITDIALOG);
            ASSERT_TRUE(hold.WaitReached());
            fake::Send(first, WM_CLOSE);
            SelectedPid = kPid + 1;
            second = fake::NewDialog(IDD_MODULE, ModuleDialog);
            fake::Send(second, WM_INITDIALOG);
            ASSERT_TRUE(fake::WaitUntil([&] { return fake::Lines(second, IDC_MODULE_LIST).size() == 8; }));
        }
        fake::JoinThreads(ListModules);
        Lines lines = fake::Lines(second, IDC_MODULE_LIST);
        ASSERT_EQ(8u, lines.size());
        EXPECT_EQ("模块总数量:1个", lines[0]);
        EXPECT_EQ("模块名称为:other.exe", lines[3]);
        EXPECT_TRUE(fake::Boxes().empty());
    }
}

// A listing that fails after its dialog has closed, with none opened since,
// tells nothing.
TEST_F(ModuleDialogTest, AFailingListingWhoseDialogHasClosedTellsNothing) {
    fake::Process& p = Target();
    p.modules = ThreeModules();
    p.enumModulesFails = true;
    {
        fake::Hold hold("EnumProcessModules");
        HWND d = fake::NewDialog(IDD_MODULE, ModuleDialog);
        fake::Send(d, WM_INITDIALOG);
        ASSERT_TRUE(hold.WaitReached());
        fake::Send(d, WM_CLOSE);
    }
    fake::JoinThreads(ListModules);
    EXPECT_TRUE(fake::Boxes().empty());
}

// A refresh whose listing cannot start leaves the running listing to finish.
TEST_F(ModuleDialogTest, ARefreshWithoutAWorkerLeavesTheRunningListingAlone) {
    Target().modules = ThreeModules();
    fake::AddProcess(kPid + 1).modules = {MakeModule("other.exe", 0x00400000, 0x5000, 0x00401000)};
    HWND d = Open();
    SelectedPid = kPid + 1;
    {
        fake::Hold hold("EnumProcessModules");
        fake::Command(d, IDC_REFRESH);
        ASSERT_TRUE(hold.WaitReached());
        fake::FailThreadCreation(1);
        EXPECT_EQ(TRUE, fake::Command(d, IDC_REFRESH));
    }
    fake::JoinThreads(ListModules);
    Lines lines = fake::Lines(d, IDC_MODULE_LIST);
    ASSERT_EQ(8u, lines.size());
    EXPECT_EQ("模块名称为:other.exe", lines[3]);
    EXPECT_EQ(std::vector<std::string>{kNoWorker}, fake::BoxTexts());
}

// The platform may hand a closed heap dialog's window handle on to a module
// dialog: the heap walk that dialog started, held until then, finds no
// request of its own there. (In a fresh process, as each test runs here,
// both dialogs' requests start alike, as in the program.)
TEST_F(ModuleDialogTest, AHeapWalkOfAClosedDialogLeavesAModuleDialogWithItsHandleAlone) {
    fake::Process& p = Target();
    p.modules = ThreeModules();
    fake::Heap heap;
    heap.id = 0x1000;
    heap.flags = HF32_DEFAULT;
    heap.blocks.resize(1);
    p.heaps = {heap};
    HWND d = fake::NewDialog(IDD_HEAP, HeapDialog);
    fake::Send(d, WM_INITDIALOG);
    {
        fake::Hold hold("Heap32First");
        fake::Item(d, IDC_HEAP_LIST).selection = 0;
        fake::Command(d, IDC_HEAP_LIST, LBN_SELCHANGE);
        ASSERT_TRUE(hold.WaitReached());
        fake::Send(d, WM_CLOSE);
        fake::ReopenDialog(d, IDD_MODULE, ModuleDialog);
        fake::Send(d, WM_INITDIALOG);
        fake::JoinThreads(ListModules);
        Refresh(d);
    }
    fake::JoinThreads(WalkHeapBlocks);
    EXPECT_EQ(std::vector<std::string>{"堆扫描完成!"}, fake::BoxTexts()) << "the heap list scan's notice only";
    EXPECT_EQ(20u, fake::Lines(d, IDC_MODULE_LIST).size());
}

// Two refreshes close together: the earlier listing, held until the later
// one has finished, adds nothing to the later one's lines.
TEST_F(ModuleDialogTest, ANewerRefreshStopsTheEarlierListing) {
    Target().modules = ThreeModules();
    fake::AddProcess(kPid + 1).modules = {MakeModule("other.exe", 0x00400000, 0x5000, 0x00401000)};
    HWND d = Open();
    {
        fake::Hold hold("EnumProcessModules");
        fake::Command(d, IDC_REFRESH);
        ASSERT_TRUE(hold.WaitReached());
        SelectedPid = kPid + 1;
        fake::Command(d, IDC_REFRESH);
        ASSERT_TRUE(fake::WaitUntil([&] { return fake::Lines(d, IDC_MODULE_LIST).size() == 8; }));
    }
    fake::JoinThreads(ListModules);
    Lines lines = fake::Lines(d, IDC_MODULE_LIST);
    ASSERT_EQ(8u, lines.size());
    EXPECT_EQ("模块名称为:other.exe", lines[3]);
    EXPECT_TRUE(fake::Boxes().empty());
}

// ---- commands and messages -------------------------------------------------

// Any program can send the step message: a junk lParam, and steps no worker
// sent (even naming the newest request), are ignored; the held worker still
// fills its list.
TEST_F(ModuleDialogTest, StepMessagesNoWorkerSentAreIgnored) {
    fake::Process& p = Target();
    p.modules = ThreeModules();
    p.heaps = {{0x1000, HF32_DEFAULT, {fake::Block{1, 0x1100, 0x10, LF32_FIXED}}}};
    for (int dialog : {IDD_MODULE, IDD_HEAP}) {
        bool heaps = dialog == IDD_HEAP;
        fake::Hold hold(heaps ? "Heap32First" : "EnumProcessModules");
        HWND d = fake::NewDialog(dialog, heaps ? HeapDialog : ModuleDialog);
        fake::Send(d, WM_INITDIALOG);
        fake::Item(d, IDC_HEAP_LIST).selection = 0;  // the heap dialog walks its first heap
        fake::Command(d, IDC_HEAP_LIST, LBN_SELCHANGE);
        ASSERT_TRUE(hold.WaitReached());
        int list = heaps ? IDC_BLOCK_LIST : IDC_MODULE_LIST;
        EXPECT_EQ(TRUE, fake::Send(d, WM_JOB_STEP, 0, 0));
        DWORD newest = NewJobRequest() - 1;
        for (JobAction action : {JOB_CLEAR, JOB_APPEND, JOB_NOTICE, JOB_NOTICE_END}) {
            JobStep forged = {newest, action, GetDlgItem(d, list), L"forged", MB_ICONERROR, FALSE};
            fake::Send(d, WM_JOB_STEP, 0, reinterpret_cast<LPARAM>(&forged));
        }
        EXPECT_TRUE(fake::Lines(d, list).empty());
        hold.Release();
        fake::JoinThreads(heaps ? WalkHeapBlocks : ListModules);
        EXPECT_EQ(heaps ? 5u : 20u, fake::Lines(d, list).size());
        EXPECT_FALSE(fake::Ended(d));
        for (const std::string& text : fake::BoxTexts()) EXPECT_EQ("堆扫描完成!", text);
    }
}

TEST_F(ModuleDialogTest, EnterListsAgainForTheCurrentlySelectedProcess) {
    Target().modules = ThreeModules();
    HWND d = Open();
    fake::AddProcess(kPid + 1).modules = {MakeModule("other.exe", 0x00400000, 0x5000, 0x00401000)};
    SelectedPid = kPid + 1;
    EXPECT_EQ(FALSE, Refresh(d));
    Lines lines = fake::Lines(d, IDC_MODULE_LIST);
    ASSERT_EQ(8u, lines.size());
    EXPECT_EQ("模块总数量:1个", lines[0]);
    EXPECT_EQ("模块名称为:other.exe", lines[3]);
    EXPECT_EQ(2u, fake::OpenCalls().size());
}

TEST_F(ModuleDialogTest, EscapeOtherCommandsAndOtherMessagesDoNothingAndCloseEnds) {
    Target().modules = ThreeModules();
    HWND d = Open();
    Lines before = fake::Lines(d, IDC_MODULE_LIST);

    EXPECT_EQ(TRUE, fake::Command(d, IDCANCEL));
    EXPECT_EQ(TRUE, fake::Command(d, IDC_MODULE_LIST, LBN_SELCHANGE));
    EXPECT_EQ(FALSE, fake::Send(d, WM_TIMER, 1, 0));
    fake::JoinThreads(ListModules);
    EXPECT_EQ(1u, fake::OpenCalls().size()) << "no further listing was started";
    EXPECT_FALSE(fake::Ended(d));
    EXPECT_EQ(before, fake::Lines(d, IDC_MODULE_LIST));

    EXPECT_EQ(TRUE, fake::Send(d, WM_CLOSE));
    EXPECT_TRUE(fake::Ended(d));
    EXPECT_EQ(0, fake::EndResult(d));
}

}  // namespace
