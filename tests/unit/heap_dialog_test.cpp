// HeapDialog driven as the platform would: the heap list scan, the block
// walk on its worker thread, their notices and the dialog's end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/dialog_jobs.h"
#include "heaps/heaps.h"
#include "inspect/inspect.h"
#include "resources/resource.h"
#include "tests/fake/fake_platform.h"

namespace {

using Lines = std::vector<std::string>;

const DWORD kPid = 4242;
const char kDone[] = "堆扫描完成!";
const char kError1[] = "显示堆信息有错误发生\n错误码:0x00000001";
const char kError2[] = "显示堆信息有错误发生\n错误码:0x00000002";
const char kError3[] = "显示堆信息有错误发生\n错误码:0x00000003";

fake::Heap MakeHeap(ULONG_PTR id, DWORD flags = 0, std::vector<fake::Block> blocks = {}) {
    fake::Heap h;
    h.id = id;
    h.flags = flags;
    h.blocks = std::move(blocks);
    return h;
}

fake::Block MakeBlock(ULONG_PTR handle, ULONG_PTR address, SIZE_T size, DWORD flags) {
    fake::Block b;
    b.handle = handle;
    b.address = address;
    b.size = size;
    b.flags = flags;
    return b;
}

class HeapDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake::Reset();
        SelectedPid = kPid;
    }

    void TearDown() override {
        fake::JoinThreads(WalkHeapBlocks);
        EXPECT_EQ(0, fake::OpenKernelHandles());
        EXPECT_EQ(0, fake::OpenThreadHandles());
    }

    fake::Process& Target() { return fake::AddProcess(kPid); }
    // Two heaps of one block each: a fixed block in the first, a free one
    // in the second.
    HWND OpenWithTwoHeaps() {
        Target().heaps = {MakeHeap(0x1000, HF32_DEFAULT, {MakeBlock(1, 0x1100, 0x10, LF32_FIXED)}),
                          MakeHeap(0x2000, 0, {MakeBlock(2, 0x2200, 0x20, LF32_FREE)})};
        return Open();
    }

    HWND Open() {
        HWND d = fake::NewDialog(IDD_HEAP, HeapDialog);
        EXPECT_EQ(TRUE, fake::Send(d, WM_INITDIALOG));
        return d;
    }

    // Selects line `index` of the heap list and waits for the walk.
    INT_PTR Select(HWND d, int index) {
        fake::Item(d, IDC_HEAP_LIST).selection = index;
        INT_PTR result = fake::Command(d, IDC_HEAP_LIST, LBN_SELCHANGE);
        fake::JoinThreads(WalkHeapBlocks);
        return result;
    }

    static void ExpectBox(const fake::Box& box, HWND owner, const char* text, UINT icon) {
        EXPECT_EQ(fake::Notice(owner, text, icon), box);
    }
};

// ---- the heap list ---------------------------------------------------------

TEST_F(HeapDialogTest, OpeningListsASingleDefaultHeapAndAnnouncesTheCompletedScan) {
    Target().heaps = {MakeHeap(0x00150000, HF32_DEFAULT)};
    bool refreshEnabledDuringScan = true;
    HWND opened = nullptr;
    fake::SetBoxHook([&](const fake::Box&) { refreshEnabledDuringScan = fake::Enabled(opened, IDC_REFRESH); });
    opened = fake::NewDialog(IDD_HEAP, HeapDialog);
    ASSERT_EQ(TRUE, fake::Send(opened, WM_INITDIALOG));

    EXPECT_EQ(opened, HeapWindow);
    EXPECT_EQ(Lines{"第1个堆的信息----默认堆"}, fake::Lines(opened, IDC_HEAP_LIST));
    EXPECT_EQ(Lines{"没有选择"}, fake::Lines(opened, IDC_BLOCK_LIST));
    EXPECT_EQ(static_cast<ULONG_PTR>(0x00150000), HeapIdTable[0]);
    std::vector<fake::Box> boxes = fake::Boxes();
    ASSERT_EQ(1u, boxes.size());
    ExpectBox(boxes[0], opened, kDone, MB_ICONINFORMATION);
    EXPECT_FALSE(refreshEnabledDuringScan) << "button 1 should be disabled while the scan runs";
    EXPECT_TRUE(fake::Enabled(opened, IDC_REFRESH));
    EXPECT_FALSE(fake::Ended(opened));
    EXPECT_EQ(1u, fake::Placements(opened).size()) << "the dialog is centred once";
}

TEST_F(HeapDialogTest, HeapsAreNumberedFromOneInListOrderAndOnlyTheDefaultIsMarked) {
    // The mark goes by the whole flags value: 3 holds the default's bit but
    // is not the default's value.
    Target().heaps = {MakeHeap(0x00010000), MakeHeap(0x00150000, HF32_DEFAULT), MakeHeap(0x00250000, 2),
                      MakeHeap(0x00350000, 3)};
    HWND d = Open();
    EXPECT_EQ((Lines{"第1个堆的信息", "第2个堆的信息----默认堆", "第3个堆的信息", "第4个堆的信息"}),
              fake::Lines(d, IDC_HEAP_LIST));
    EXPECT_EQ(static_cast<ULONG_PTR>(0x00010000), HeapIdTable[0]);
    EXPECT_EQ(static_cast<ULONG_PTR>(0x00150000), HeapIdTable[1]);
    EXPECT_EQ(static_cast<ULONG_PTR>(0x00250000), HeapIdTable[2]);
}

TEST_F(HeapDialogTest, HeapListFailuresShowTheirCodeCloseTheSnapshotAndEndTheDialog) {
    struct Case {
        const char* what;
        bool snapshotFails;
        bool processMissing;
        fake::StepFailure failure;
        const char* text;
        Lines listed;
    } cases[] = {
        {"snapshot refused", true, false, {}, kError1, {"旧行"}},
        {"process gone", false, true, {}, kError1, {"旧行"}},
        {"first step fails", false, false, {0, ERROR_ACCESS_DENIED}, kError2, {}},
        {"third step fails", false, false, {2, ERROR_ACCESS_DENIED}, kError3, {"第1个堆的信息----默认堆", "第2个堆的信息"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake::Reset();
        SelectedPid = kPid;
        if (!c.processMissing) {
            fake::Process& p = Target();
            p.heaps = {MakeHeap(0x1000, HF32_DEFAULT), MakeHeap(0x2000), MakeHeap(0x3000)};
            p.snapshotFails = c.snapshotFails;
            p.heapListFailure = c.failure;
        }
        HWND d = fake::NewDialog(IDD_HEAP, HeapDialog);
        fake::Item(d, IDC_HEAP_LIST).lines = {u"旧行"};
        EXPECT_EQ(TRUE, fake::Send(d, WM_INITDIALOG));

        std::vector<fake::Box> boxes = fake::Boxes();
        ASSERT_EQ(1u, boxes.size());
        ExpectBox(boxes[0], d, c.text, MB_ICONERROR);
        EXPECT_TRUE(fake::Ended(d));
        EXPECT_EQ(0, fake::EndResult(d));
        EXPECT_EQ(c.listed, fake::Lines(d, IDC_HEAP_LIST));
        EXPECT_EQ(0, fake::OpenKernelHandles());
    }
}

TEST_F(HeapDialogTest, ScanStillCompletesWhenTheLastErrorHoldsAStaleValue) {
    Target().heaps = {MakeHeap(0x1000, HF32_DEFAULT), MakeHeap(0x2000), MakeHeap(0x3000)};
    HWND d = fake::NewDialog(IDD_HEAP, HeapDialog);
    SetLastError(ERROR_ACCESS_DENIED);
    fake::Send(d, WM_INITDIALOG);
    EXPECT_EQ(3u, fake::Lines(d, IDC_HEAP_LIST).size());
    EXPECT_EQ(std::vector<std::string>{kDone}, fake::BoxTexts());
    EXPECT_FALSE(fake::Ended(d));
}

TEST_F(HeapDialogTest, AProcessWithoutHeapsListsNothingAndFinishesAsACompletedScan) {
    fake::Process& p = Target();
    p.heaps = {MakeHeap(0x1000, HF32_DEFAULT)};
    HWND d = Open();
    ASSERT_EQ(1u, fake::Lines(d, IDC_HEAP_LIST).size());

    fake::AddProcess(kPid);  // the same process, now without heaps
    EXPECT_EQ(FALSE, fake::Command(d, IDC_REFRESH));
    EXPECT_EQ(Lines{}, fake::Lines(d, IDC_HEAP_LIST));
    EXPECT_EQ((std::vector<std::string>{kDone, kDone}), fake::BoxTexts());
    EXPECT_TRUE(fake::Enabled(d, IDC_REFRESH));
    EXPECT_FALSE(fake::Ended(d));
}

TEST_F(HeapDialogTest, MoreThanAThousandHeapsAreAllListed) {
    fake::Process& p = Target();
    for (ULONG_PTR i = 0; i < 1005; ++i) p.heaps.push_back(MakeHeap(0x10000 * (i + 1)));
    HWND d = Open();
    Lines listed = fake::Lines(d, IDC_HEAP_LIST);
    ASSERT_EQ(1005u, listed.size());
    EXPECT_EQ("第1005个堆的信息", listed.back());
    EXPECT_EQ(static_cast<ULONG_PTR>(0x10000 * 1005), HeapIdTable[1004]);
    EXPECT_EQ(std::vector<std::string>{kDone}, fake::BoxTexts());
    EXPECT_FALSE(fake::Ended(d));
    EXPECT_TRUE(fake::Enabled(d, IDC_REFRESH));
}

// ---- the block walk --------------------------------------------------------

TEST_F(HeapDialogTest, SelectingTheThirdLineWalksTheHeapAtTableEntryTwo) {
    fake::Process& p = Target();
    p.heaps = {MakeHeap(0x100000, HF32_DEFAULT, {MakeBlock(0x11, 0x100010, 0x10, LF32_FIXED)}),
               MakeHeap(0x200000, 0, {MakeBlock(0x22, 0x200020, 0x20, LF32_FIXED)}),
               MakeHeap(0x300000, 0, {MakeBlock(0x33, 0x300030, 0x30, LF32_MOVEABLE)}),
               MakeHeap(0x400000, 0, {MakeBlock(0x44, 0x400040, 0x40, LF32_FIXED)})};
    HWND d = Open();
    ASSERT_EQ("第3个堆的信息", fake::Lines(d, IDC_HEAP_LIST)[2]);
    ASSERT_EQ(static_cast<ULONG_PTR>(0x300000), HeapIdTable[2]);

    EXPECT_EQ(FALSE, Select(d, 2));
    EXPECT_EQ((Lines{"第1个块的信息", "块句柄为:0x00000033", "块基地址为:0x00300030", "块大小为:0x00000030", "可移动块"}),
              fake::Lines(d, IDC_BLOCK_LIST));
    EXPECT_EQ(0, fake::OpenThreadHandles()) << "the worker's handle is closed at once";
}

TEST_F(HeapDialogTest, AHeapWithOneBlockGivesFiveLinesThenTheCompletionNoticeAndEnablesRefresh) {
    Target().heaps = {MakeHeap(0x00150000, HF32_DEFAULT, {MakeBlock(0x1234, 0x00560000, 0x20, LF32_FIXED)})};
    HWND d = Open();
    EnableWindow(GetDlgItem(d, IDC_REFRESH), FALSE);
    // Another program sends the notice's step again while the notice is up:
    // it is not carried out twice.
    bool resent = false;
    fake::SetBoxHook([d, &resent](const fake::Box&) {
        std::vector<fake::SentMessage> sent = fake::SentTo(d);
        if (resent || sent.empty() || sent.back().msg != WM_JOB_STEP) return;
        resent = true;
        fake::Send(d, WM_JOB_STEP, 0, sent.back().lParam);
    });

    Select(d, 0);
    EXPECT_TRUE(resent);
    EXPECT_EQ((Lines{"第1个块的信息", "块句柄为:0x00001234", "块基地址为:0x00560000", "块大小为:0x00000020", "固定块"}),
              fake::Lines(d, IDC_BLOCK_LIST));
    std::vector<fake::Box> boxes = fake::Boxes();
    ASSERT_EQ(2u, boxes.size());
    ExpectBox(boxes[1], d, kDone, MB_ICONINFORMATION);
    EXPECT_TRUE(fake::Enabled(d, IDC_REFRESH));
    EXPECT_FALSE(fake::Ended(d));
}

TEST_F(HeapDialogTest, EveryBlockHasFiveLinesAndAnUnknownKindGivesAnEmptyKindLine) {
    Target().heaps = {MakeHeap(0x1000, HF32_DEFAULT,
                               {MakeBlock(1, 0x1100, 0x10, LF32_FREE), MakeBlock(2, 0x1200, 0x20, LF32_MOVEABLE),
                                MakeBlock(3, 0x1300, 0x30, 0), MakeBlock(4, 0x1400, 0x40, LF32_FIXED)})};
    HWND d = Open();
    Select(d, 0);
    Lines lines = fake::Lines(d, IDC_BLOCK_LIST);
    ASSERT_EQ(20u, lines.size());
    EXPECT_EQ("第2个块的信息", lines[5]);
    EXPECT_EQ("第4个块的信息", lines[15]);
    EXPECT_EQ("未用块", lines[4]);
    EXPECT_EQ("可移动块", lines[9]);
    EXPECT_EQ("块大小为:0x00000030", lines[13]);
    EXPECT_EQ("", lines[14]);
    EXPECT_EQ("固定块", lines[19]);
}

TEST_F(HeapDialogTest, ValuesWiderThanThirtyTwoBitsAreShownInFull) {
    if (sizeof(ULONG_PTR) < 8) GTEST_SKIP() << "only a 64-bit build has such values";
    const ULONG_PTR wide = static_cast<ULONG_PTR>(0x7ff612340000ull);
    Target().heaps = {MakeHeap(0x1000, HF32_DEFAULT, {MakeBlock(wide + 0x10, wide, 0x100000000ull, LF32_FIXED)})};
    HWND d = Open();
    Select(d, 0);
    EXPECT_EQ((Lines{"第1个块的信息", "块句柄为:0x7ff612340010", "块基地址为:0x7ff612340000", "块大小为:0x100000000", "固定块"}),
              fake::Lines(d, IDC_BLOCK_LIST));
}

TEST_F(HeapDialogTest, AHeapWithoutBlocksListsNothingAndFinishesAsACompletedWalk) {
    Target().heaps = {MakeHeap(0x1000, HF32_DEFAULT)};
    HWND d = Open();
    EnableWindow(GetDlgItem(d, IDC_REFRESH), FALSE);
    Select(d, 0);
    EXPECT_EQ(Lines{}, fake::Lines(d, IDC_BLOCK_LIST));
    EXPECT_EQ((std::vector<std::string>{kDone, kDone}), fake::BoxTexts());
    EXPECT_TRUE(fake::Enabled(d, IDC_REFRESH));
    EXPECT_TRUE(fake::Posted(d).empty());
}

TEST_F(HeapDialogTest, WalkCompletesWhenItsThreadStartsWithAStaleLastError) {
    Target().heaps = {MakeHeap(0x1000, HF32_DEFAULT,
                               {MakeBlock(1, 0x1100, 0x10, LF32_FIXED), MakeBlock(2, 0x1200, 0x20, LF32_FIXED),
                                MakeBlock(3, 0x1300, 0x30, LF32_FIXED)})};
    HWND d = Open();
    fake::SetThreadStartLastError(ERROR_ACCESS_DENIED);
    Select(d, 0);
    EXPECT_EQ(15u, fake::Lines(d, IDC_BLOCK_LIST).size());
    EXPECT_EQ((std::vector<std::string>{kDone, kDone}), fake::BoxTexts());
    EXPECT_TRUE(fake::Posted(d).empty());
}

TEST_F(HeapDialogTest, BlockWalkFailuresShowTheirCodeAndEndTheDialog) {
    struct Case {
        const char* what;
        fake::StepFailure failure;
        const char* text;
        size_t lines;
    } cases[] = {
        {"first step fails", {0, ERROR_ACCESS_DENIED}, kError1, 0},
        {"third step fails", {2, ERROR_ACCESS_DENIED}, kError2, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake::Reset();
        SelectedPid = kPid;
        fake::Process& p = Target();
        p.heaps = {MakeHeap(0x1000, HF32_DEFAULT,
                            {MakeBlock(1, 0x1100, 0x10, LF32_FIXED), MakeBlock(2, 0x1200, 0x20, LF32_FIXED),
                             MakeBlock(3, 0x1300, 0x30, LF32_FIXED)})};
        p.blockFailure = c.failure;
        HWND d = Open();
        Select(d, 0);

        std::vector<fake::Box> boxes = fake::Boxes();
        ASSERT_EQ(2u, boxes.size());
        ExpectBox(boxes[1], d, c.text, MB_ICONERROR);
        EXPECT_EQ(c.lines, fake::Lines(d, IDC_BLOCK_LIST).size());
        // The worker asks the dialog procedure, which ends its dialog.
        EXPECT_TRUE(fake::Ended(d));
        EXPECT_EQ(0, fake::EndResult(d));
    }
}

TEST_F(HeapDialogTest, AWalkUsesTheProcessSelectedAtTheMomentOfSelection) {
    Target().heaps = {MakeHeap(0x1000, HF32_DEFAULT, {MakeBlock(1, 0x1100, 0x10, LF32_FIXED)})};
    fake::Process& other = fake::AddProcess(kPid + 1);
    other.heaps = {MakeHeap(0x1000, HF32_DEFAULT, {MakeBlock(9, 0x9900, 0x90, LF32_FREE)})};
    HWND d = Open();
    SelectedPid = kPid + 1;
    Select(d, 0);
    EXPECT_EQ("块句柄为:0x00000009", fake::Lines(d, IDC_BLOCK_LIST).at(1));
}

TEST_F(HeapDialogTest, WhenNoWorkerCanBeStartedNothingIsShownAndTheBlockListStays) {
    Target().heaps = {MakeHeap(0x1000, HF32_DEFAULT, {MakeBlock(1, 0x1100, 0x10, LF32_FIXED)})};
    HWND d = Open();
    fake::FailThreadCreation(1);
    EXPECT_EQ(FALSE, Select(d, 0));
    EXPECT_EQ(Lines{"没有选择"}, fake::Lines(d, IDC_BLOCK_LIST));
    EXPECT_EQ(std::vector<std::string>{kDone}, fake::BoxTexts());
    EXPECT_FALSE(fake::Ended(d));
}

// ---- walks bound to their dialog -------------------------------------------

// A walk held at its first step while its dialog closes and another opens:
// released, it neither writes, tells, enables nor closes anything there.
TEST_F(HeapDialogTest, AWalkWhoseDialogHasClosedLeavesTheNextDialogAlone) {
    struct Case {
        const char* what;
        fake::StepFailure failure;
    } cases[] = {
        {"walk completes", {}},
        {"walk fails", {0, ERROR_ACCESS_DENIED}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake::Reset();
        SelectedPid = kPid;
        fake::Process& p = Target();
        p.heaps = {MakeHeap(0x1000, HF32_DEFAULT, {MakeBlock(1, 0x1100, 0x10, LF32_FIXED)})};
        p.blockFailure = c.failure;
        HWND first = Open();
        HWND second = nullptr;
        {
            fake::Hold hold("Heap32First");
            fake::Item(first, IDC_HEAP_LIST).selection = 0;
            fake::Command(first, IDC_HEAP_LIST, LBN_SELCHANGE);
            ASSERT_TRUE(hold.WaitReached());
            fake::Send(first, WM_CLOSE);
            second = Open();
            EnableWindow(GetDlgItem(second, IDC_REFRESH), FALSE);
        }
        fake::JoinThreads(WalkHeapBlocks);
        EXPECT_EQ(Lines{"没有选择"}, fake::Lines(second, IDC_BLOCK_LIST));
        EXPECT_EQ((std::vector<std::string>{kDone, kDone}), fake::BoxTexts()) << "the two scans' notices only";
        EXPECT_FALSE(fake::Enabled(second, IDC_REFRESH));
        EXPECT_FALSE(fake::Ended(second));
        EXPECT_TRUE(fake::Posted(second).empty());
    }
}

// A walk's notice is a step of the dialog's thread like its lines: a dialog
// that closes right after the step before the notice is not told afterwards
// (nor, for a walk that fails, told and then left open).
TEST_F(HeapDialogTest, AWalkTellsOnlyWhileItsDialogIsOpen) {
    struct Case {
        const char* what;
        fake::StepFailure failure;
        int closeAfter;  // the steps before the notice
        const char* told;
    } cases[] = {
        {"walk completes", {}, 6, kDone},  // the clear and five lines
        {"walk fails", {0, ERROR_ACCESS_DENIED}, 1, kError1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake::Reset();
        SelectedPid = kPid;
        fake::Process& p = Target();
        p.heaps = {MakeHeap(0x1000, HF32_DEFAULT, {MakeBlock(1, 0x1100, 0x10, LF32_FIXED)})};
        p.blockFailure = c.failure;
        HWND d = Open();
        int steps = 0, toldAfterEnd = 0;
        fake::SetSentHook([&](HWND, UINT msg) {
            if (msg == WM_JOB_STEP && ++steps == c.closeAfter + 1) fake::Send(d, WM_CLOSE);
        });
        fake::SetBoxHook([&](const fake::Box&) { toldAfterEnd += fake::Ended(d); });
        Select(d, 0);
        EXPECT_EQ((std::vector<std::string>{kDone, c.told}), fake::BoxTexts());
        EXPECT_EQ(0, toldAfterEnd);
        EXPECT_TRUE(fake::Ended(d));
    }
}

// A selection whose walk cannot start leaves the running walk to finish.
TEST_F(HeapDialogTest, ASelectionWithoutAWorkerLeavesTheRunningWalkAlone) {
    HWND d = OpenWithTwoHeaps();
    {
        fake::Hold hold("Heap32First");
        fake::Item(d, IDC_HEAP_LIST).selection = 0;
        fake::Command(d, IDC_HEAP_LIST, LBN_SELCHANGE);
        ASSERT_TRUE(hold.WaitReached());
        fake::FailThreadCreation(1);
        fake::Item(d, IDC_HEAP_LIST).selection = 1;
        fake::Command(d, IDC_HEAP_LIST, LBN_SELCHANGE);
    }
    fake::JoinThreads(WalkHeapBlocks);
    EXPECT_EQ((Lines{"第1个块的信息", "块句柄为:0x00000001", "块基地址为:0x00001100", "块大小为:0x00000010", "固定块"}),
              fake::Lines(d, IDC_BLOCK_LIST));
    EXPECT_EQ((std::vector<std::string>{kDone, kDone}), fake::BoxTexts());
}

// Two selections close together: the earlier walk, held at its first step
// until the later one has finished, adds nothing to the later one's lines.
TEST_F(HeapDialogTest, ANewerSelectionStopsTheEarlierWalk) {
    HWND d = OpenWithTwoHeaps();
    {
        fake::Hold hold("Heap32First");
        fake::Item(d, IDC_HEAP_LIST).selection = 0;
        fake::Command(d, IDC_HEAP_LIST, LBN_SELCHANGE);
        ASSERT_TRUE(hold.WaitReached());
        fake::Item(d, IDC_HEAP_LIST).selection = 1;
        fake::Command(d, IDC_HEAP_LIST, LBN_SELCHANGE);
        ASSERT_TRUE(fake::WaitForBoxes(2));
    }
    fake::JoinThreads(WalkHeapBlocks);
    EXPECT_EQ((Lines{"第1个块的信息", "块句柄为:0x00000002", "块基地址为:0x00002200", "块大小为:0x00000020", "未用块"}),
              fake::Lines(d, IDC_BLOCK_LIST));
    EXPECT_EQ((std::vector<std::string>{kDone, kDone}), fake::BoxTexts());
}

// ---- commands and messages -------------------------------------------------

TEST_F(HeapDialogTest, EnterRescansTheHeapListOnlyAndKeepsTheBlockLines) {
    fake::Process& p = Target();
    p.heaps = {MakeHeap(0x1000, HF32_DEFAULT, {MakeBlock(1, 0x1100, 0x10, LF32_FIXED)})};
    HWND d = Open();
    Select(d, 0);
    Lines blocks = fake::Lines(d, IDC_BLOCK_LIST);
    ASSERT_EQ(5u, blocks.size());

    fake::AddProcess(kPid).heaps = {MakeHeap(0x5000), MakeHeap(0x6000, HF32_DEFAULT)};
    bool refreshEnabledDuringScan = true;
    fake::SetBoxHook([&](const fake::Box&) { refreshEnabledDuringScan = fake::Enabled(d, IDC_REFRESH); });
    EXPECT_EQ(FALSE, fake::Command(d, IDOK));
    EXPECT_FALSE(refreshEnabledDuringScan) << "button 1 should be disabled while the scan runs";
    EXPECT_EQ((Lines{"第1个堆的信息", "第2个堆的信息----默认堆"}), fake::Lines(d, IDC_HEAP_LIST));
    EXPECT_EQ(static_cast<ULONG_PTR>(0x6000), HeapIdTable[1]);
    EXPECT_EQ(blocks, fake::Lines(d, IDC_BLOCK_LIST));
    EXPECT_EQ(3u, fake::BoxTexts().size());
    EXPECT_TRUE(fake::Enabled(d, IDC_REFRESH));
}

TEST_F(HeapDialogTest, EscapeOtherControlsAndOtherMessagesDoNothingAndCloseEnds) {
    Target().heaps = {MakeHeap(0x1000, HF32_DEFAULT, {MakeBlock(1, 0x1100, 0x10, LF32_FIXED)})};
    HWND d = Open();
    fake::Item(d, IDC_HEAP_LIST).selection = 0;

    EXPECT_EQ(TRUE, fake::Command(d, IDCANCEL));
    EXPECT_EQ(FALSE, fake::Command(d, IDC_BLOCK_LIST, LBN_SELCHANGE));
    EXPECT_EQ(TRUE, fake::Command(d, IDC_HEAP_LIST, 2));  // a double click
    EXPECT_EQ(FALSE, fake::Send(d, WM_TIMER, 1, 0));
    // A selection change that leaves no line selected walks nothing.
    fake::Item(d, IDC_HEAP_LIST).selection = LB_ERR;
    EXPECT_EQ(FALSE, fake::Command(d, IDC_HEAP_LIST, LBN_SELCHANGE));
    fake::JoinThreads(WalkHeapBlocks);
    EXPECT_FALSE(fake::Ended(d));
    EXPECT_EQ(Lines{"没有选择"}, fake::Lines(d, IDC_BLOCK_LIST));
    EXPECT_EQ(1u, fake::Boxes().size());

    EXPECT_EQ(TRUE, fake::Send(d, WM_CLOSE));
    EXPECT_TRUE(fake::Ended(d));
    EXPECT_EQ(0, fake::EndResult(d));
}

}  // namespace
