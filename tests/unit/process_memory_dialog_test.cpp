// The process memory dialog, driven with the messages the platform sends it.
// Map requests are observed on DrawRequest with no painter serving them: a
// request leaves it set, and TakeMapRequest says whether it announces.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "app/shell.h"
#include "heaps/heaps.h"
#include "inspect/inspect.h"
#include "inspect/painter.h"
#include "inspect/regions.h"
#include "modules/modules.h"
#include "tests/fake/fake_platform.h"

namespace {

using Lines = std::vector<std::string>;

const DWORD Pid = 4321;

struct MapRequest {
    bool pending;
    bool announces;
};

// Whether a pass is being asked for, and consumes the request as the
// painter would.
MapRequest TakeRequest() {
    MapRequest r;
    r.pending = WaitForSingleObject(DrawRequest, 0) == WAIT_OBJECT_0;
    r.announces = TakeMapRequest() != FALSE;
    return r;
}

fake::Process& AddInspectedProcess() {
    fake::Process& p = fake::AddProcess(Pid);
    p.counters.PageFaultCount = 3;
    p.counters.PeakWorkingSetSize = 8192;
    p.counters.WorkingSetSize = 4096;
    p.counters.PagefileUsage = 4096;
    p.counters.PeakPagefileUsage = 12288;
    p.regions.push_back({0x00000000, 0x10000, 0, MEM_FREE, 0, 0});
    p.regions.push_back({0x00010000, 0x1000, PAGE_READWRITE, MEM_COMMIT, MEM_PRIVATE, PAGE_READWRITE});
    return p;
}

// Holds the walk's first query in the platform, so that the walk waits and
// handles the UI thread's messages, and runs `during` meanwhile on a thread
// of its own. The query is let go once `during` has run or, with `letGo`
// false, only when this object goes.
class WhileTheWalkWaits {
public:
    explicit WhileTheWalkWaits(std::function<void()> during, bool letGo = true)
        : hold_("VirtualQueryEx"), thread_([this, during, letGo] {
              if (hold_.WaitReached()) during();
              if (letGo) hold_.Release();
          }) {}
    ~WhileTheWalkWaits() {
        hold_.Release();
        thread_.join();
        fake::JoinThreads(QueryRegions);
    }

private:
    fake::Hold hold_;
    std::thread thread_;
};

bool Dispatched(HWND window, UINT msg) {
    for (const fake::SentMessage& m : fake::SentTo(window))
        if (m.msg == msg) return true;
    return false;
}

class ProcessMemory : public ::testing::Test {
protected:
    void SetUp() override {
        fake::Reset();
        // A painter thread started by another test of this process waits on
        // the process's request event and would serve (and reset) the
        // requests made here. Each test asks on an event of its own, which
        // no painter waits on, and puts the real one back afterwards.
        if (DrawRequest == nullptr) {
            RequestMemoryMap(FALSE);  // creates the request machinery
            TakeMapRequest();
        } else {
            WaitUntilNoPassIsRunning();
        }
        static HANDLE ownRequest = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        realRequest = DrawRequest;
        DrawRequest = ownRequest;
        TakeMapRequest();
        SelectedPid = Pid;
        queryDialog = fake::NewDialog(IDD_QUERY);
        dialog = fake::NewDialog(IDD_PROCESS_MEMORY, ProcessMemoryDialog, queryDialog);
    }
    void TearDown() override {
        fake::JoinThreads(QueryRegions);
        EXPECT_EQ(0, fake::OpenKernelHandles()) << "a process handle was left open";
        TakeMapRequest();
        DrawRequest = realRequest;
    }

    // A painter left by another test may still be serving its last request;
    // it is idle once nothing is pending and it holds no drawing context for
    // a while.
    static void WaitUntilNoPassIsRunning() {
        int quiet = 0;
        for (int i = 0; i < 500 && quiet < 3; ++i) {
            bool idle = WaitForSingleObject(DrawRequest, 0) != WAIT_OBJECT_0 && fake::OpenDCs() == 0;
            quiet = idle ? quiet + 1 : 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    // Opens the dialog on a process that can be fully inspected.
    void Open() {
        AddInspectedProcess();
        ASSERT_EQ(TRUE, fake::Send(dialog, WM_INITDIALOG));
        ASSERT_FALSE(fake::Ended(dialog));
        ASSERT_TRUE(fake::Boxes().empty());
    }

    // A paint message, then what it posted, as the platform delivers them.
    INT_PTR Paint() {
        INT_PTR result = fake::Send(dialog, WM_PAINT);
        fake::DeliverPosted(dialog);
        return result;
    }

    // Paints the dialog while `walk` (an opening or a refresh) waits for
    // regions; whether a pass was being asked for once the paint's own
    // request had been handled, before the walk ended.
    bool PaintAskedDuringWalk(const std::function<void()>& walk) {
        HWND d = dialog;
        bool asked = true;
        {
            WhileTheWalkWaits waits([d, &asked] {
                bool handled = fake::PostAndWaitDispatched(d, WM_PAINT) &&
                               fake::WaitUntil([d] { return Dispatched(d, WM_APP + 1); });
                asked = !handled || WaitForSingleObject(DrawRequest, 0) == WAIT_OBJECT_0;
            });
            walk();
        }
        return asked;
    }

    // Closes the dialog while `walk` waits for a query held in the platform
    // past its "still taken?" look, and lets the query go 200 ms after the
    // close was handled; how long the walk took. The handle must still be
    // open then, and no query made with it closed.
    std::chrono::milliseconds CloseDuringWalk(const std::function<void()>& walk) {
        HWND d = dialog;
        bool closed = false;
        int openAtRelease = -1;
        std::chrono::steady_clock::duration took;
        {
            WhileTheWalkWaits waits([d, &closed, &openAtRelease] {
                closed = fake::PostAndWaitDispatched(d, WM_CLOSE);
                fake::WaitUntil([] { return fake::OpenKernelHandles() == 0; }, 200);
                openAtRelease = fake::OpenKernelHandles();
            });
            auto start = std::chrono::steady_clock::now();
            walk();
            took = std::chrono::steady_clock::now() - start;
        }
        EXPECT_TRUE(closed);
        EXPECT_EQ(1, openAtRelease) << "the process handle stays open while the query is in the platform";
        EXPECT_EQ(0, fake::QueriesWithClosedHandles());
        return std::chrono::duration_cast<std::chrono::milliseconds>(took);
    }

    void ExpectErrorNotices(const Lines& texts) {
        std::vector<fake::Box> expected;
        for (const std::string& text : texts) expected.push_back(fake::Notice(dialog, text, MB_ICONERROR));
        EXPECT_EQ(expected, fake::Boxes());
    }

    HANDLE realRequest = nullptr;
    HWND queryDialog = nullptr;
    HWND dialog = nullptr;
};

TEST_F(ProcessMemory, OpeningFillsBothListsAndAsksForNoMapYet) {
    Open();

    EXPECT_EQ(dialog, ProcessMemoryWindow);
    EXPECT_EQ(1u, fake::Placements(dialog).size());
    Lines counters = fake::Lines(dialog, IDC_COUNTERS);
    ASSERT_EQ(6u, counters.size());
    EXPECT_EQ("进程ID:4321", counters[0]);
    Lines regions = fake::Lines(dialog, IDC_REGIONS);
    ASSERT_EQ(12u, regions.size());
    EXPECT_EQ("区域基址为:0x00010000", regions[7]);
    EXPECT_FALSE(TakeRequest().pending);
    EXPECT_TRUE(fake::Posted(dialog).empty());
}

struct InitFailure {
    const char* situation;
    void (*arrange)(fake::Process*);  // null: no such process
    Lines notices;
};

class ProcessMemoryInitFailure : public ProcessMemory, public ::testing::WithParamInterface<InitFailure> {};

TEST_P(ProcessMemoryInitFailure, TellsTwiceAndCloses) {
    const InitFailure& f = GetParam();
    if (f.arrange) f.arrange(&AddInspectedProcess());

    EXPECT_EQ(FALSE, fake::Send(dialog, WM_INITDIALOG));

    ExpectErrorNotices(f.notices);
    EXPECT_TRUE(fake::Ended(dialog));
    EXPECT_EQ(0, fake::EndResult(dialog));
    EXPECT_FALSE(TakeRequest().pending);
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, ProcessMemoryInitFailure,
    ::testing::Values(
        InitFailure{"process cannot be opened", nullptr, {"无法执行!", "显示简单信息有错误发生\n错误码:0x00000001"}},
        InitFailure{"counters cannot be read", [](fake::Process* p) { p->countersFail = true; },
                    {"无法执行!", "显示简单信息有错误发生\n错误码:0x00000002"}},
        InitFailure{"process exits between counters and region walk",
                    [](fake::Process* p) { p->opensBeforeExit = 1; },
                    {"无法执行!", "显示虚拟内存表有错误发生\n错误码:0x00000001"}}),
    [](const ::testing::TestParamInfo<InitFailure>& param) {
        std::string name;
        for (const char* c = param.param.situation; *c; ++c) name += (*c == ' ') ? '_' : *c;
        return name;
    });

// The dialog is on screen while a failing initialisation shows its notices,
// and each notice's message loop lets the dialog's paint messages through.
TEST_F(ProcessMemory, PaintsDuringAFailedOpeningAskForNoMap) {
    HWND painted = dialog;
    fake::SetBoxHook([painted](const fake::Box&) {
        fake::Send(painted, WM_PAINT);
        fake::DeliverPosted(painted);
    });

    EXPECT_EQ(FALSE, fake::Send(dialog, WM_INITDIALOG));

    EXPECT_EQ((Lines{"无法执行!", "显示简单信息有错误发生\n错误码:0x00000001"}), fake::BoxTexts());
    EXPECT_FALSE(TakeRequest().pending);
}

TEST_F(ProcessMemory, RefreshRebuildsBothListsAndAsksForOneAnnouncedPass) {
    Open();
    fake::Process& p = AddInspectedProcess();  // the process has changed since
    p.counters.PageFaultCount = 99;
    p.regions.push_back({0x00011000, 0x2000, PAGE_READONLY, MEM_RESERVE, MEM_MAPPED, 0});

    EXPECT_EQ(FALSE, fake::Command(dialog, IDC_REFRESH));

    EXPECT_EQ("页面错误数:99", fake::Lines(dialog, IDC_COUNTERS).at(1));
    EXPECT_EQ(18u, fake::Lines(dialog, IDC_REGIONS).size());
    MapRequest request = TakeRequest();
    EXPECT_TRUE(request.pending);
    EXPECT_TRUE(request.announces);
    EXPECT_FALSE(TakeRequest().pending) << "one refresh asks for one pass";
    EXPECT_TRUE(fake::Boxes().empty());
    EXPECT_FALSE(fake::Ended(dialog));
}

TEST_F(ProcessMemory, EnterRefreshes) {
    Open();
    fake::AddProcess(Pid).regions.push_back({0, 0x7FFF0000, 0, MEM_FREE, 0, 0});

    EXPECT_EQ(FALSE, fake::Send(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0));

    EXPECT_EQ(6u, fake::Lines(dialog, IDC_REGIONS).size());
    EXPECT_TRUE(TakeRequest().pending);
}

TEST_F(ProcessMemory, ProcessGoneAtRefreshTellsFourTimesStaysAndAsksForNoMap) {
    Open();
    fake::RemoveProcess(Pid);

    EXPECT_EQ(FALSE, fake::Command(dialog, IDC_REFRESH));

    ExpectErrorNotices({"无法执行!", "显示简单信息有错误发生\n错误码:0x00000001", "无法执行!",
                        "显示虚拟内存表有错误发生,内存分布无法显示\n错误码:0x00000001"});
    EXPECT_FALSE(fake::Ended(dialog));
    EXPECT_FALSE(TakeRequest().pending);
    // Neither list was cleared: both show the process as it was.
    EXPECT_EQ(6u, fake::Lines(dialog, IDC_COUNTERS).size());
    EXPECT_EQ(12u, fake::Lines(dialog, IDC_REGIONS).size());
}

TEST_F(ProcessMemory, UnreadableCountersAtRefreshStillRedrawTheMap) {
    Open();
    AddInspectedProcess().countersFail = true;

    EXPECT_EQ(FALSE, fake::Command(dialog, IDC_REFRESH));

    ExpectErrorNotices({"无法执行!", "显示简单信息有错误发生\n错误码:0x00000002"});
    EXPECT_TRUE(fake::Lines(dialog, IDC_COUNTERS).empty());
    EXPECT_EQ(12u, fake::Lines(dialog, IDC_REGIONS).size());
    MapRequest request = TakeRequest();
    EXPECT_TRUE(request.pending);
    EXPECT_TRUE(request.announces);
}

// Another program closes the dialog while the counters' notice is up: the
// refresh stops there, with no other notice, walk or map.
TEST_F(ProcessMemory, ARefreshClosedUnderTheCountersNoticeStops) {
    Open();
    AddInspectedProcess().countersFail = true;
    HWND d = dialog;
    fake::SetBoxHook([d](const fake::Box&) { fake::Send(d, WM_CLOSE); });

    fake::Command(dialog, IDC_REFRESH);

    EXPECT_TRUE(fake::Ended(dialog));
    ExpectErrorNotices({"无法执行!"});
    EXPECT_EQ(1, fake::Item(dialog, IDC_REGIONS).redrawOnCount) << "the opening's walk only";
    EXPECT_FALSE(TakeRequest().pending);
}

// The platform erases and paints the dialog after the paint message is
// handled; a pass asked for inside it could be wiped by that erase.
TEST_F(ProcessMemory, PaintAsksForThePassOnlyAfterThePlatformHasPainted) {
    Open();

    EXPECT_EQ(FALSE, fake::Send(dialog, WM_PAINT));
    EXPECT_NE(WAIT_OBJECT_0, WaitForSingleObject(DrawRequest, 0))
        << "no request while the paint message is being handled";
    EXPECT_EQ(1u, fake::Posted(dialog).size());

    fake::DeliverPosted(dialog);
    EXPECT_TRUE(TakeRequest().pending);
}

TEST_F(ProcessMemory, OnlyTheFirstPaintAndRefreshesAnnounceTheirPass) {
    Open();

    EXPECT_EQ(FALSE, Paint());
    MapRequest first = TakeRequest();
    EXPECT_TRUE(first.pending);
    EXPECT_TRUE(first.announces);

    // What closing that notice uncovers is repainted without a notice, so
    // one notice does not bring the next.
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(FALSE, Paint());
        MapRequest repaint = TakeRequest();
        EXPECT_TRUE(repaint.pending);
        EXPECT_FALSE(repaint.announces);
    }

    fake::Command(dialog, IDC_REFRESH);
    EXPECT_TRUE(TakeRequest().announces);
    Paint();
    EXPECT_FALSE(TakeRequest().announces);
}

// Another program's map request, whatever it carries, gets a silent pass.
TEST_F(ProcessMemory, AForeignMapRequestNeverAnnounces) {
    Open();
    fake::Send(dialog, WM_APP + 1, 1, 0);
    EXPECT_FALSE(TakeRequest().announces);
    Paint();
    EXPECT_TRUE(TakeRequest().announces) << "the first paint keeps its notice";
    fake::Send(dialog, WM_APP + 1, 1, 0);
    EXPECT_FALSE(TakeRequest().announces);
}

TEST_F(ProcessMemory, EveryOpeningAnnouncesItsFirstPass) {
    Open();
    Paint();
    Paint();
    TakeRequest();
    fake::Send(dialog, WM_CLOSE);

    HWND again = fake::NewDialog(IDD_PROCESS_MEMORY, ProcessMemoryDialog, queryDialog);
    ASSERT_EQ(TRUE, fake::Send(again, WM_INITDIALOG));
    fake::Send(again, WM_PAINT);
    fake::DeliverPosted(again);
    EXPECT_TRUE(TakeRequest().announces);
}

TEST_F(ProcessMemory, EscapeAndOtherCommandsDoNothing) {
    Open();
    size_t opens = fake::OpenCalls().size();

    EXPECT_EQ(TRUE, fake::Send(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0));
    EXPECT_EQ(TRUE, fake::Command(dialog, IDC_COUNTERS, LBN_SELCHANGE));

    EXPECT_EQ(opens, fake::OpenCalls().size());
    EXPECT_TRUE(fake::Boxes().empty());
    EXPECT_TRUE(fake::OpenedDialogs().empty());
    EXPECT_FALSE(fake::Ended(dialog));
    EXPECT_FALSE(TakeRequest().pending);
}

TEST_F(ProcessMemory, OnlyTheCloseBoxEndsIt) {
    Open();
    EXPECT_EQ(FALSE, fake::Send(dialog, WM_TIMER, 1));
    EXPECT_EQ(FALSE, fake::Send(dialog, WM_ERASEBKGND));
    EXPECT_FALSE(fake::Ended(dialog));

    EXPECT_EQ(TRUE, fake::Send(dialog, WM_CLOSE));
    EXPECT_TRUE(fake::Ended(dialog));
    EXPECT_EQ(0, fake::EndResult(dialog));
}

TEST_F(ProcessMemory, OpensTheHeapAndModuleBrowsersOwnedByItself) {
    Open();

    EXPECT_EQ(FALSE, fake::Command(dialog, IDC_SHOW_HEAPS));
    EXPECT_EQ(FALSE, fake::Command(dialog, IDC_SHOW_MODULES));
    fake::JoinThreads(ListModules);

    std::vector<fake::OpenedDialog> opened = fake::OpenedDialogs();
    ASSERT_EQ(2u, opened.size());
    EXPECT_EQ(IDD_HEAP, opened[0].templateId);
    EXPECT_EQ(IDD_MODULE, opened[1].templateId);
    for (const fake::OpenedDialog& d : opened) {
        EXPECT_EQ(dialog, d.owner);
        EXPECT_EQ(0, d.param);
    }
    EXPECT_FALSE(fake::Ended(dialog));
}

// The walk handles the UI thread's messages while it waits for regions, so
// the dialog's own procedure runs inside its walk.
TEST_F(ProcessMemory, CommandsDuringTheWalkDoNothing) {
    AddInspectedProcess();
    fake::SetClipboardText("before");
    fake::SetKeyDown(VK_CONTROL, true);
    HWND d = dialog;
    LPARAM table = reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_REGIONS));
    bool dispatched = false;
    {
        WhileTheWalkWaits waits([d, table, &dispatched] {
            dispatched = fake::PostAndWaitDispatched(d, WM_COMMAND, MAKEWPARAM(IDC_REFRESH, BN_CLICKED)) &&
                         fake::PostAndWaitDispatched(d, WM_COMMAND, MAKEWPARAM(IDC_SHOW_HEAPS, BN_CLICKED)) &&
                         fake::PostAndWaitDispatched(d, WM_COMMAND, MAKEWPARAM(IDC_SHOW_MODULES, BN_CLICKED)) &&
                         fake::PostAndWaitDispatched(d, WM_COMMAND, MAKEWPARAM(IDC_SHOW_USES, BN_CLICKED)) &&
                         fake::PostAndWaitDispatched(d, WM_VKEYTOITEM, MAKEWPARAM('C', 0), table);
            // Escape pressed in the table reaches the dialog as its IDCANCEL.
            PostMessageW(reinterpret_cast<HWND>(table), WM_KEYDOWN, VK_ESCAPE, 0);
            dispatched = dispatched && fake::WaitUntil([d] {
                             for (const fake::SentMessage& m : fake::SentTo(d))
                                 if (m.msg == WM_COMMAND && LOWORD(m.wParam) == IDCANCEL) return true;
                             return false;
                         });
        });
        EXPECT_EQ(TRUE, fake::Send(dialog, WM_INITDIALOG));
    }
    fake::SetKeyDown(VK_CONTROL, false);

    EXPECT_TRUE(dispatched) << "the commands reach the dialog during its walk";
    EXPECT_TRUE(fake::OpenedDialogs().empty());
    size_t walks = 0;
    for (const fake::OpenCall& call : fake::OpenCalls()) walks += call.access == MORVANE_ACCESS_QUERY;
    EXPECT_EQ(1u, walks);
    EXPECT_EQ(12u, fake::Lines(dialog, IDC_REGIONS).size());
    EXPECT_TRUE(fake::Boxes().empty());
    EXPECT_FALSE(TakeRequest().pending);
    EXPECT_EQ("before", fake::ClipboardText()) << "Ctrl+C copies nothing of a half-built table";
}

// A pass asked for while the walk rebuilds the lists would draw them
// half-built, and the one that announces must show the finished walk.
TEST_F(ProcessMemory, APaintDuringTheOpeningWalkAsksForItsPassWhenTheWalkEnds) {
    AddInspectedProcess();

    EXPECT_FALSE(PaintAskedDuringWalk([this] { EXPECT_EQ(TRUE, fake::Send(dialog, WM_INITDIALOG)); }));

    MapRequest request = TakeRequest();
    EXPECT_TRUE(request.pending);
    EXPECT_TRUE(request.announces) << "it was the dialog's first paint";
    Paint();
    EXPECT_FALSE(TakeRequest().announces);
}

TEST_F(ProcessMemory, APaintDuringARefreshWalkIsServedByTheRefreshPass) {
    Open();
    Paint();
    TakeRequest();

    EXPECT_FALSE(PaintAskedDuringWalk([this] { fake::Command(dialog, IDC_REFRESH); }));

    MapRequest request = TakeRequest();
    EXPECT_TRUE(request.pending);
    EXPECT_TRUE(request.announces);
    EXPECT_FALSE(TakeRequest().pending);
}

TEST_F(ProcessMemory, ClosingDuringTheOpeningWalkStopsItAndEndsQuietly) {
    AddInspectedProcess();

    auto took = CloseDuringWalk([this] { EXPECT_EQ(FALSE, fake::Send(dialog, WM_INITDIALOG)); });

    EXPECT_LT(took.count(), REGION_STALL_LIMIT_MS / 2) << "the walk stopped without waiting for its query";
    EXPECT_TRUE(fake::Ended(dialog));
    EXPECT_EQ(0, fake::EndResult(dialog));
    EXPECT_TRUE(fake::Boxes().empty());
    EXPECT_FALSE(TakeRequest().pending);
    EXPECT_EQ(0, fake::Item(dialog, IDC_REGIONS).redrawOnCount) << "nothing more is written into a closed dialog";
}

TEST_F(ProcessMemory, ClosingDuringARefreshWalkStopsItAndEndsQuietly) {
    Open();
    int redrawn = fake::Item(dialog, IDC_REGIONS).redrawOnCount;

    auto took = CloseDuringWalk([this] { fake::Command(dialog, IDC_REFRESH); });

    EXPECT_LT(took.count(), REGION_STALL_LIMIT_MS / 2) << "the walk stopped without waiting for its query";
    EXPECT_TRUE(fake::Ended(dialog));
    EXPECT_EQ(0, fake::EndResult(dialog));
    EXPECT_TRUE(fake::Boxes().empty());
    EXPECT_FALSE(TakeRequest().pending);
    EXPECT_EQ(redrawn, fake::Item(dialog, IDC_REGIONS).redrawOnCount) << "nothing more is written into a closed dialog";

    // The next opening walks to the end, while its first query is held too.
    dialog = fake::NewDialog(IDD_PROCESS_MEMORY, ProcessMemoryDialog, queryDialog);
    HWND d = dialog;
    {
        WhileTheWalkWaits waits([d] { fake::PostAndWaitDispatched(d, WM_NULL); });
        EXPECT_EQ(TRUE, fake::Send(dialog, WM_INITDIALOG));
    }
    EXPECT_EQ(12u, fake::Lines(dialog, IDC_REGIONS).size());
    Paint();
    EXPECT_TRUE(TakeRequest().announces);
}

// A close while the querying thread waits for room in a full ring of
// regions: it ends too, and its handles and events are closed.
TEST_F(ProcessMemory, ClosingWhileTheRegionRingIsFullEndsTheQueryingThread) {
    fake::Process& p = AddInspectedProcess();
    for (ULONG_PTR i = 0; i < 600; ++i)
        p.regions.push_back({0x00011000 + i * 0x1000, 0x1000, PAGE_READWRITE, MEM_COMMIT, MEM_PRIVATE, PAGE_READWRITE});
    int events = fake::OpenEvents();
    // The first query waits until the UI thread is held; the ring is full
    // after 256 regions, the querying thread then waiting in its 257th.
    std::atomic<int> queries(0);
    std::atomic<bool> held(false);
    fake::SetCallHook([&](const std::string& call) {
        if (call == "VirtualQueryEx" && ++queries == 1) fake::WaitUntil([&held] { return held.load(); });
    });
    HWND d = dialog;
    fake::SetSentHook([&](HWND, UINT msg) {
        if (msg != WM_NULL) return;
        held = true;
        EXPECT_TRUE(fake::WaitUntil([&queries] { return queries == 257; }));
        fake::Send(d, WM_CLOSE);
    });
    std::thread other([d] { SendMessageW(d, WM_NULL, 0, 0); });

    EXPECT_EQ(FALSE, fake::Send(dialog, WM_INITDIALOG));
    other.join();

    EXPECT_TRUE(fake::Ended(dialog));
    if (!fake::JoinThreads(QueryRegions, 2 * REGION_STALL_LIMIT_MS)) {
        ADD_FAILURE() << "the querying thread still waits for room";
        std::_Exit(1);  // it would hold every later test
    }
    EXPECT_EQ(events, fake::OpenEvents());
}

// ---- "内存用途" reading the process again through this dialog's refresh ----

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

bool HasTimer(HWND d) {
    for (const fake::Timer& t : fake::Timers())
        if (t.window == d && t.id == 1 && t.elapse == 2000 && !t.hasProc) return true;
    return false;
}

void Check(HWND d, int id) {
    fake::Item(d, id).check = BST_CHECKED;
    fake::Command(d, id);
}

// 刷新 there rebuilds this dialog's lists and redraws the map silently, and
// tells in its own line what a notice would; 自动刷新 reads on each tick of
// its timer, takes a new process under the PID as the baseline, and stops
// when the process has ended, the last reading kept.
TEST_F(ProcessMemory, UsesRefreshReadsThisDialogAgainAndComparesWithTheBaseline) {
    fake::Process& p = AddInspectedProcess();
    ASSERT_EQ(TRUE, fake::Send(dialog, WM_INITDIALOG));
    fake::OnDialog(IDD_USES, [&](HWND d) {
        EXPECT_EQ("基准 ", fake::Text(d, IDC_USES_CHANGES).substr(0, 7));
        p.regions[1].size = 0x3000;  // grown by 8 KB, then a new 4 KB allocation
        p.regions.push_back({0x00013000, 0xD000, 0, MEM_FREE, 0, 0});
        p.regions.push_back({0x00020000, 0x1000, PAGE_READWRITE, MEM_COMMIT, MEM_PRIVATE, PAGE_READWRITE});
        fake::Item(d, IDC_USES_ALLOCATIONS).selected = {1};  // 0x10000, still there after
        fake::Command(d, IDC_USES_REFRESH);
        EXPECT_EQ((std::set<int>{1}), fake::Item(d, IDC_USES_ALLOCATIONS).selected);
        EXPECT_EQ(24u, fake::Lines(dialog, IDC_REGIONS).size());
        MapRequest map = TakeRequest();
        EXPECT_TRUE(map.pending && !map.announces);
        EXPECT_EQ(4, fake::Item(d, IDC_USES_ALLOCATIONS).itemCount);
        EXPECT_TRUE(Has(fake::Text(d, IDC_USES_CHANGES), "已调拨 +12 KB")) << fake::Text(d, IDC_USES_CHANGES);
        fake::ClearDrawnLines();
        fake::Send(d, WM_DRAWITEM, IDC_USES_STRIP);
        std::vector<fake::DrawnLine> strip = fake::DrawnLines();
        ASSERT_EQ(3u, strip.size()) << "the baseline's mark, then the line through both readings";
        EXPECT_EQ(strip[0].x0, strip[1].x1) << "the mark stands at the first reading";
        EXPECT_LT(strip[2].y1, strip[1].y1) << "16 KB drawn above 4 KB";
        EXPECT_EQ("最大 16 KB  最小 4 KB", fake::Text(d, IDC_USES_STRIP_LABEL));
        Check(d, IDC_USES_ONLY_CHANGES);
        EXPECT_EQ(2, fake::Item(d, IDC_USES_ALLOCATIONS).itemCount);

        Check(d, IDC_USES_AUTO_REFRESH);
        EXPECT_TRUE(HasTimer(d));
        p.created += 1000;
        fake::Send(d, WM_TIMER, 1);
        EXPECT_TRUE(Has(fake::Text(d, IDC_USES_CHANGES), "进程ID已属另一进程")) << fake::Text(d, IDC_USES_CHANGES);
        EXPECT_EQ(0, fake::Item(d, IDC_USES_ALLOCATIONS).itemCount) << "the new reading is the baseline";
        EXPECT_TRUE(HasTimer(d));

        fake::RemoveProcess(Pid);
        fake::Send(d, WM_TIMER, 1);
        EXPECT_TRUE(Has(fake::Text(d, IDC_USES_CHANGES), "进程已结束"));
        EXPECT_FALSE(HasTimer(d));
        EXPECT_EQ(BST_UNCHECKED, fake::Item(d, IDC_USES_AUTO_REFRESH).check);
        EXPECT_TRUE(fake::Boxes().empty());
    });
    EXPECT_EQ(FALSE, fake::Command(dialog, IDC_SHOW_USES));
}

// 查看内容 opens "内存内容" on a selected allocation only, never on a free
// region; while it is open, a 刷新 (here another program's) reads nothing.
TEST_F(ProcessMemory, ShowContentsOpensOnASelectedAllocationAndHoldsOffReadings) {
    AddInspectedProcess();
    ASSERT_EQ(TRUE, fake::Send(dialog, WM_INITDIALOG));
    int opened = 0;
    fake::OnDialog(IDD_USES, [&opened](HWND d) {
        fake::OnDialog(IDD_CONTENTS, [d, &opened](HWND) {
            ++opened;
            fake::Command(d, IDC_USES_REFRESH);
            EXPECT_FALSE(Has(fake::Text(d, IDC_USES_CHANGES), "现在")) << "no reading while it is open";
        });
        fake::Control& list = fake::Item(d, IDC_USES_ALLOCATIONS);
        fake::Command(d, IDC_USES_CONTENTS);  // nothing selected
        list.selected = {0};                  // the free region at 0
        fake::Command(d, IDC_USES_CONTENTS);
        EXPECT_EQ(0, opened);
        list.selected = {1};
        fake::Command(d, IDC_USES_CONTENTS);
        EXPECT_EQ(1, opened);
    });
    fake::Command(dialog, IDC_SHOW_USES);
    EXPECT_EQ(1, fake::Item(dialog, IDC_REGIONS).redrawOffCount) << "the opening's walk alone";
}

// A second 刷新 during the reading does nothing; the close ends the window
// at once and the walk still finishes the table behind.
TEST_F(ProcessMemory, ClosingUsesDuringItsReadingLeavesTheTableBehindWhole) {
    AddInspectedProcess();
    ASSERT_EQ(TRUE, fake::Send(dialog, WM_INITDIALOG));
    fake::OnDialog(IDD_USES, [&](HWND d) {
        {
            WhileTheWalkWaits waits([d] {
                fake::PostAndWaitDispatched(d, WM_COMMAND, IDC_USES_REFRESH);
                fake::PostAndWaitDispatched(d, WM_CLOSE);
            });
            fake::Command(d, IDC_USES_REFRESH);
        }
        EXPECT_TRUE(fake::Ended(d));
        EXPECT_FALSE(Has(fake::Text(d, IDC_USES_CHANGES), "现在")) << "the reading was dropped";
    });
    fake::Command(dialog, IDC_SHOW_USES);
    EXPECT_EQ(2, fake::Item(dialog, IDC_REGIONS).redrawOffCount) << "the opening's walk and one refresh";
    EXPECT_EQ(12u, fake::Lines(dialog, IDC_REGIONS).size());
    EXPECT_TRUE(fake::Boxes().empty());
}

}  // namespace
