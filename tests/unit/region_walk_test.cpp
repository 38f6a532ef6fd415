// The region walk: the six-line region table and the kept spans.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <set>
#include <thread>

#include "inspect/inspect.h"
#include "inspect/painter.h"
#include "inspect/region_records.h"
#include "inspect/regions.h"
#include "resources/resource.h"
#include "tests/fake/fake_platform.h"

namespace {

const char* const Separator = "----------------------------------------------------";

fake::Region R(ULONG_PTR base, SIZE_T size, DWORD state, DWORD protect = 0, DWORD type = 0) {
    fake::Region r;
    r.base = base;
    r.size = size;
    r.state = state;
    r.allocationProtect = protect;
    r.type = type;
    return r;
}

// Regions laid end to end from address 0.
void Layout(fake::Process& p, std::initializer_list<fake::Region> regions) {
    ULONG_PTR next = 0;
    for (fake::Region r : regions) {
        r.base = next;
        next += r.size;
        p.regions.push_back(r);
    }
}

using SpanList = std::vector<std::pair<ULONGLONG, ULONGLONG>>;
SpanList Spans(const RegionList& list) {
    SpanList out;
    for (size_t i = 0; i < list.count; ++i) out.push_back({list.spans[i].base, list.spans[i].size});
    return out;
}

class RegionWalk : public ::testing::Test {
protected:
    void SetUp() override {
        fake::Reset();
        ProcessMemoryWindow = fake::NewDialog(IDD_PROCESS_MEMORY);
        SelectedPid = 100;
    }
    // Tests that walk with the 32-bit build's limit set it themselves.
    void TearDown() override { RegionWalkLimit = BuildLimit; }
    const ULONGLONG BuildLimit = RegionWalkLimit;
    std::vector<std::string> Table() { return fake::Lines(ProcessMemoryWindow, IDC_REGIONS); }
};

TEST_F(RegionWalk, EveryRegionGivesSixLinesInOrder) {
    fake::Process& p = fake::AddProcess(100);
    Layout(p, {R(0, 0x10000, MEM_FREE), R(0, 0x1000, MEM_COMMIT, PAGE_READWRITE, MEM_PRIVATE),
               R(0, 0xF000, MEM_RESERVE, PAGE_READWRITE, MEM_PRIVATE),
               R(0, 0x3000, MEM_COMMIT, PAGE_EXECUTE_WRITECOPY, MEM_IMAGE),
               R(0, 0x2000, MEM_COMMIT, PAGE_READONLY, MEM_MAPPED)});

    ASSERT_EQ(1, WalkRegions());

    std::vector<std::string> expected = {
        Separator, "区域基址为:0x00000000", "",                        "未用",   "",     "大小:0x00010000字节",
        Separator, "区域基址为:0x00010000", "PAGE_READWRITE ",         "已调拨", "私有", "大小:0x00001000字节",
        Separator, "区域基址为:0x00011000", "PAGE_READWRITE ",         "已预留", "私有", "大小:0x0000f000字节",
        Separator, "区域基址为:0x00020000", "PAGE_EXECUTE_WRITECOPY ", "已调拨", "镜像", "大小:0x00003000字节",
        Separator, "区域基址为:0x00023000", "PAGE_READONLY ",          "已调拨", "映射", "大小:0x00002000字节",
    };
    EXPECT_EQ(expected, Table());
    EXPECT_EQ((SpanList{{0x10000, 0x1000}, {0x20000, 0x3000}, {0x23000, 0x2000}}),
              Spans(CommittedRegions));
    EXPECT_EQ((SpanList{{0x11000, 0xF000}}), Spans(ReservedRegions));
    EXPECT_TRUE(fake::Boxes().empty());
}

// With its querying thread or, when none can be started, without: every
// region is listed and nothing the walk opened stays open.
TEST_F(RegionWalk, OpensForQueryOnlyListsEveryRegionAndClosesAll) {
    for (bool thread : {true, false}) {
        SCOPED_TRACE(thread ? "querying thread" : "no thread");
        fake::Reset();
        ProcessMemoryWindow = fake::NewDialog(IDD_PROCESS_MEMORY);
        Layout(fake::AddProcess(100), {R(0, 0x10000, MEM_FREE), R(0, 0x1000, MEM_COMMIT, PAGE_READWRITE, MEM_PRIVATE),
                                       R(0, 0x1000, MEM_RESERVE, PAGE_READWRITE, MEM_PRIVATE)});
        int events = fake::OpenEvents();
        if (!thread) fake::FailThreadCreation(1);
        ASSERT_EQ(1, WalkRegions());
        ASSERT_TRUE(fake::JoinThreads(QueryRegions, 5000));
        EXPECT_EQ(18u, Table().size());
        ASSERT_EQ(1u, fake::OpenCalls().size());
        EXPECT_EQ(0x400u, fake::OpenCalls()[0].access);
        EXPECT_EQ(FALSE, fake::OpenCalls()[0].inherit);
        EXPECT_EQ(100u, fake::OpenCalls()[0].pid);
        EXPECT_EQ(0, fake::OpenKernelHandles());
        EXPECT_EQ(0, fake::OpenThreadHandles());
        EXPECT_EQ(events, fake::OpenEvents());
    }
}

TEST_F(RegionWalk, UnlistedStateAndTypeGiveEmptyLinesAndKeepNoSpan) {
    // State and type are matched by value: combinations of listed bits are
    // unlisted values too.
    struct Case {
        DWORD state;
        DWORD type;
    } cases[] = {
        {0x4000, 0x80000},
        {MEM_COMMIT | MEM_RESERVE, MEM_PRIVATE | MEM_MAPPED},
        {MEM_COMMIT | MEM_FREE, MEM_PRIVATE | MEM_IMAGE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << "state 0x" << c.state << " type 0x" << c.type);
        fake::Reset();
        ProcessMemoryWindow = fake::NewDialog(IDD_PROCESS_MEMORY);
        Layout(fake::AddProcess(100), {R(0, 0x1000, c.state, PAGE_READWRITE, c.type)});
        ASSERT_EQ(1, WalkRegions());
        EXPECT_EQ((std::vector<std::string>{Separator, "区域基址为:0x00000000", "PAGE_READWRITE ", "", "",
                                            "大小:0x00001000字节"}),
                  Table());
        EXPECT_EQ(0u, CommittedRegions.count);
        EXPECT_EQ(0u, ReservedRegions.count);
    }
}

TEST_F(RegionWalk, ProtectionNamesFollowTheTableOrderEachWithABlank) {
    struct Case {
        DWORD protect;
        const char* line;
    } cases[] = {
        {0x40, "PAGE_EXECUTE_READWRITE "},
        {0x04, "PAGE_READWRITE "},
        {0x104, "PAGE_READWRITE PAGE_GUARD "},
        {0x0, ""},
        {0x01, "PAGE_NOACCESS "},
        {0x302, "PAGE_READONLY PAGE_GUARD PAGE_NOCACHE "},
        {0x408, "PAGE_WRITECOPY PAGE_WRITECOMBINE "},
        {0x30, "PAGE_EXECUTE PAGE_EXECUTE_READ "},
        {0x0C, "PAGE_READWRITE PAGE_WRITECOPY "},
        {0x600, "PAGE_NOCACHE PAGE_WRITECOMBINE "},
    };
    for (const Case& c : cases) {
        WCHAR line[REGION_LINE_UNITS];
        FormatProtection(c.protect, line, REGION_LINE_UNITS);
        EXPECT_EQ(c.line, fake::Utf8(line)) << "protection 0x" << std::hex << c.protect;
    }
}

TEST_F(RegionWalk, ProtectionNamesThatDoNotFitAreLeftOutWhole) {
    // All eleven names take 177 units; the line holds 99 and a terminator.
    WCHAR line[REGION_LINE_UNITS];
    FormatProtection(0x7FF, line, REGION_LINE_UNITS);
    EXPECT_EQ("PAGE_EXECUTE PAGE_EXECUTE_READ PAGE_EXECUTE_READWRITE PAGE_EXECUTE_WRITECOPY PAGE_NOACCESS ",
              fake::Utf8(line));

    // A later, shorter name still goes in when it fits.
    WCHAR small[30];
    FormatProtection(PAGE_EXECUTE_READWRITE | PAGE_GUARD, small, 30);
    EXPECT_EQ("PAGE_EXECUTE_READWRITE ", fake::Utf8(small));
    FormatProtection(PAGE_EXECUTE_READWRITE | PAGE_GUARD, small, 23);
    EXPECT_EQ("PAGE_GUARD ", fake::Utf8(small));

    // The walk itself survives a region with every bit set.
    Layout(fake::AddProcess(100), {R(0, 0x1000, MEM_COMMIT, 0x7FF, MEM_PRIVATE)});
    ASSERT_EQ(1, WalkRegions());
    EXPECT_EQ(fake::Utf8(line), Table().at(2));
}

TEST_F(RegionWalk, ProcessThatCannotBeOpenedLeavesTheTableAndEmptiesTheLists) {
    Layout(fake::AddProcess(100), {R(0, 0x1000, MEM_COMMIT, PAGE_READWRITE, MEM_PRIVATE),
                                   R(0, 0x1000, MEM_RESERVE, PAGE_READWRITE, MEM_PRIVATE)});
    ASSERT_EQ(1, WalkRegions());
    std::vector<std::string> before = Table();
    ASSERT_EQ(1u, CommittedRegions.count);

    fake::RemoveProcess(100);
    SetLastError(0);
    EXPECT_EQ(0, WalkRegions());
    EXPECT_EQ(1u, GetLastError());
    EXPECT_EQ(before, Table());
    EXPECT_EQ(0u, CommittedRegions.count);
    EXPECT_EQ(0u, ReservedRegions.count);
    EXPECT_EQ(std::vector<fake::Box>{fake::Notice(ProcessMemoryWindow, "无法执行!", MB_ICONERROR)}, fake::Boxes());
}

TEST_F(RegionWalk, RefusedQueryAccessIsACannotOpen) {
    fake::Process& p = fake::AddProcess(100);
    Layout(p, {R(0, 0x1000, MEM_COMMIT, PAGE_READWRITE, MEM_PRIVATE)});
    p.grantedAccess = PROCESS_VM_READ;
    EXPECT_EQ(0, WalkRegions());
    EXPECT_EQ(1u, GetLastError());
    EXPECT_EQ(1u, fake::Boxes().size());
}

TEST_F(RegionWalk, ASecondWalkOfAnotherProcessKeepsNoSpanOfTheFirst) {
    Layout(fake::AddProcess(100), {R(0, 0x10000, MEM_COMMIT, PAGE_READWRITE, MEM_PRIVATE),
                                   R(0, 0x10000, MEM_RESERVE, PAGE_READWRITE, MEM_PRIVATE)});
    fake::Process& second = fake::AddProcess(200);
    Layout(second, {R(0, 0x20000, MEM_FREE), R(0, 0x3000, MEM_COMMIT, PAGE_READONLY, MEM_IMAGE)});
    ASSERT_EQ(1, WalkRegions());
    SelectedPid = 200;
    WalkedRegions.complete = FALSE;  // as the first walk left it had memory run out
    ASSERT_EQ(1, WalkRegions());
    EXPECT_EQ((SpanList{{0x20000, 0x3000}}), Spans(CommittedRegions));
    EXPECT_EQ(0u, ReservedRegions.count);
    EXPECT_EQ(12u, Table().size());
    // The records of the table's regions, the first walk's gone, and when
    // their process was created.
    EXPECT_TRUE(WalkedRegions.complete);
    EXPECT_EQ(second.created, WalkedRegions.created);
    ASSERT_EQ(2u, WalkedRegions.count);
    const RegionRecord& image = WalkedRegions.records[1];
    EXPECT_EQ((std::vector<ULONGLONG>{0x20000, 0x20000, 0x3000, MEM_COMMIT, MEM_IMAGE, PAGE_READONLY}),
              (std::vector<ULONGLONG>{image.base, image.allocationBase, image.size, image.state, image.type,
                                      image.allocationProtect}));
}

TEST_F(RegionWalk, AFailingQueryEndsTheWalkWithWhatWasGathered) {
    fake::Process& p = fake::AddProcess(100);
    Layout(p, {R(0, 0x10000, MEM_FREE), R(0, 0x1000, MEM_COMMIT, PAGE_READWRITE, MEM_PRIVATE),
               R(0, 0x1000, MEM_COMMIT, PAGE_READWRITE, MEM_PRIVATE)});
    p.queryFailsAtRegion = 2;
    EXPECT_EQ(1, WalkRegions());
    EXPECT_EQ(12u, Table().size());
    EXPECT_EQ(1u, CommittedRegions.count);
    fake::JoinThreads(QueryRegions);
    EXPECT_EQ(0, fake::OpenKernelHandles());
}

// A query that never returns (under Wine, about a process that ended while
// it was asked) holds the walk only for the stall limit; what was read
// before it stands, and the process handle is closed.
TEST_F(RegionWalk, AQueryThatNeverReturnsEndsTheWalkAfterTheStallLimit) {
    fake::Process& p = fake::AddProcess(100);
    Layout(p, {R(0, 0x10000, MEM_FREE), R(0, 0x1000, MEM_COMMIT, PAGE_READWRITE, MEM_PRIVATE),
               R(0, 0x1000, MEM_COMMIT, PAGE_READWRITE, MEM_PRIVATE)});
    p.queryHangsAtRegion = 2;
    std::future<int> walk = std::async(std::launch::async, [] { return WalkRegionsWithStallLimit(100); });
    bool ended = walk.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    fake::ReleaseHungQueries();
    ASSERT_TRUE(ended) << "the walk is still waiting for the query that never returns";
    EXPECT_EQ(1, walk.get());
    EXPECT_EQ(12u, Table().size());
    EXPECT_EQ((SpanList{{0x10000, 0x1000}}), Spans(CommittedRegions));
    EXPECT_EQ(0, fake::OpenKernelHandles());
    EXPECT_TRUE(fake::Boxes().empty());
    fake::JoinThreads(QueryRegions);
}

// Queries that answer late, each within the stall limit: nothing is lost,
// however long the walk as a whole takes.
TEST_F(RegionWalk, LateAnswersWithinTheStallLimitLoseNothing) {
    struct Case {
        const char* what;
        DWORD stallLimitMs;
        std::map<int, DWORD> late;
    } cases[] = {
        {"the walk's own limit, one answer after 1.5 s", REGION_STALL_LIMIT_MS, {{2, 1500}}},
        {"two gaps, together longer than the limit", 2000, {{2, 1200}, {4, 1200}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake::Reset();
        ProcessMemoryWindow = fake::NewDialog(IDD_PROCESS_MEMORY);
        fake::Process& p = fake::AddProcess(100);
        Layout(p, {R(0, 0x10000, MEM_FREE), R(0, 0x1000, MEM_COMMIT, PAGE_READWRITE, MEM_PRIVATE), R(0, 0x1000, MEM_FREE),
                   R(0, 0x1000, MEM_COMMIT, PAGE_READWRITE, MEM_PRIVATE), R(0, 0x1000, MEM_FREE),
                   R(0, 0x1000, MEM_COMMIT, PAGE_READWRITE, MEM_PRIVATE)});
        p.queryLate = c.late;
        ASSERT_EQ(1, WalkRegionsWithStallLimit(c.stallLimitMs));
        EXPECT_EQ(36u, Table().size());
        EXPECT_EQ(3u, CommittedRegions.count);
    }
}

// A walk that stopped waiting closes the process handle at once; its
// querying thread, when its late answer comes, queries no more (none with
// the closed handle) and ends, and the feed's events are closed then.
TEST_F(RegionWalk, AnAbandonedQueryingThreadEndsWithoutAnotherQuery) {
    fake::Process& p = fake::AddProcess(100);
    Layout(p, {R(0, 0x10000, MEM_FREE), R(0, 0x1000, MEM_COMMIT, PAGE_READWRITE, MEM_PRIVATE),
               R(0, 0x1000, MEM_COMMIT, PAGE_READWRITE, MEM_PRIVATE), R(0, 0x1000, MEM_FREE)});
    p.queryLate = {{2, 800}};
    int events = fake::OpenEvents();
    ASSERT_EQ(1, WalkRegionsWithStallLimit(100));
    EXPECT_EQ(12u, Table().size());
    EXPECT_EQ(0, fake::OpenKernelHandles());
    ASSERT_TRUE(fake::JoinThreads(QueryRegions, 5000)) << "the querying thread goes on";
    EXPECT_EQ(0, fake::QueriesWithClosedHandles());
    EXPECT_EQ(events, fake::OpenEvents());
}

TEST_F(RegionWalk, TheWalkEndsWhereTheNextAddressReaches4GB) {
    fake::Process& p = fake::AddProcess(100);
    Layout(p, {R(0, 0xFFFF0000, MEM_FREE), R(0, 0x10000, MEM_RESERVE, PAGE_NOACCESS, MEM_PRIVATE),
               // Beyond 2^32 (64-bit processes only): never asked for with
               // the 32-bit limit.
               R(0, 0x10000, MEM_COMMIT, PAGE_READWRITE, MEM_PRIVATE),
               R(0, 0x20000, MEM_RESERVE, PAGE_READWRITE, MEM_PRIVATE), R(0, 0x3FFD0000, MEM_FREE),
               R(0, 0x1000, MEM_COMMIT, PAGE_READONLY, MEM_IMAGE)});
    RegionWalkLimit = REGION_WALK_LIMIT_32;
    ASSERT_EQ(1, WalkRegions());
    std::vector<std::string> table = Table();
    ASSERT_EQ(12u, table.size());
    EXPECT_EQ("区域基址为:0xffff0000", table[7]);
    EXPECT_EQ("大小:0x00010000字节", table[11]);
    EXPECT_EQ(0u, CommittedRegions.count);
    EXPECT_EQ((SpanList{{0xFFFF0000, 0x10000}}), Spans(ReservedRegions));

    // The 64-bit limit: the regions above 4 GB are listed with every digit
    // and keep their spans whole.
    RegionWalkLimit = REGION_WALK_LIMIT_64;
    ASSERT_EQ(1, WalkRegions());
    table = Table();
    ASSERT_EQ(36u, table.size());
    EXPECT_EQ((std::vector<std::string>{Separator, "区域基址为:0x100000000", "PAGE_READWRITE ", "已调拨", "私有",
                                        "大小:0x00010000字节"}),
              std::vector<std::string>(table.begin() + 12, table.begin() + 18));
    EXPECT_EQ("区域基址为:0x100010000", table[19]);
    EXPECT_EQ("已预留", table[21]);
    EXPECT_EQ("区域基址为:0x140000000", table[31]);
    EXPECT_EQ("镜像", table[34]);
    EXPECT_EQ((SpanList{{0x100000000ull, 0x10000}, {0x140000000ull, 0x1000}}), Spans(CommittedRegions));
    EXPECT_EQ((SpanList{{0xFFFF0000, 0x10000}, {0x100010000ull, 0x20000}}), Spans(ReservedRegions));
}

TEST_F(RegionWalk, ARegionCrossing4GBIsShownWholeAndEndsTheWalk) {
    // The free space of a 64-bit process runs far past 2^32; its size is
    // shown in full, not cut to 32 bits.
    fake::Process& p = fake::AddProcess(100);
    Layout(p, {R(0, 0x10000, MEM_COMMIT, PAGE_READWRITE, MEM_PRIVATE), R(0, 0x7FFEFFF0000ull, MEM_FREE),
               R(0, 0x1000, MEM_COMMIT, PAGE_READWRITE, MEM_PRIVATE)});
    RegionWalkLimit = REGION_WALK_LIMIT_32;
    ASSERT_EQ(1, WalkRegions());
    std::vector<std::string> table = Table();
    ASSERT_EQ(12u, table.size());
    EXPECT_EQ("大小:0x7ffefff0000字节", table[11]);

    // The 64-bit walk goes on to the last region, which ends where the
    // query fails.
    RegionWalkLimit = REGION_WALK_LIMIT_64;
    ASSERT_EQ(1, WalkRegions());
    table = Table();
    ASSERT_EQ(18u, table.size());
    EXPECT_EQ("区域基址为:0x7fff0000000", table[13]);
    EXPECT_EQ("大小:0x00001000字节", table[17]);
    EXPECT_EQ((SpanList{{0, 0x10000}, {0x7FFF0000000ull, 0x1000}}), Spans(CommittedRegions));
}

TEST_F(RegionWalk, TheEndOfTheWalkAtTheLimits) {
    const ULONGLONG L32 = REGION_WALK_LIMIT_32, L64 = REGION_WALK_LIMIT_64;
    struct Case {
        ULONGLONG cursor, size, limit;
        bool continues;
    } cases[] = {
        {0, 0x10000, L32, true},
        {0xFFFE0000, 0x10000, L32, true},
        {0xFFFF0000, 0x10000, L32, false},            // the next address is 2^32
        {0x10000, 0x7FFEFFF0000ull, L32, false},      // passes 2^32
        {0xFFFF0000, 0x10000, L64, true},
        {0x10000, 0x7FFEFFF0000ull, L64, true},
        {0xFFFFFFFFFFFF0000ull, 0x10000, L64, false},  // would wrap to 0
        {0xFFFFFFFFFFFF0000ull, 0xFFFF, L64, true},
        {0x10000, 0, L32, false},                      // a size of 0 never advances
        {0x10000, 0, L64, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.continues, RegionWalkContinues(c.cursor, c.size, c.limit))
            << std::hex << "cursor 0x" << c.cursor << " size 0x" << c.size << " limit 0x" << c.limit;
    }
}

// The map marks the last committed region too, far below the 10,000th.
TEST_F(RegionWalk, ListsKeepEverySpanAndTheTableShowsEveryRegion) {
    fake::Process& p = fake::AddProcess(100);
    const int regions = 2 * 10000 + 10;
    for (int i = 0; i < regions; ++i) {
        DWORD state = i % 2 ? MEM_RESERVE : MEM_COMMIT;
        p.regions.push_back(R(0x10000u + static_cast<ULONG_PTR>(i) * 0x1000, 0x1000, state, PAGE_READWRITE, MEM_PRIVATE));
    }
    p.regions.insert(p.regions.begin(), R(0, 0x10000, MEM_FREE));
    p.regions.push_back(R(0x10000u + regions * 0x1000, 0x40000000 - 0x10000u - regions * 0x1000, MEM_FREE));
    p.regions.push_back(R(0x40000000, 0x1000, MEM_COMMIT, PAGE_READWRITE, MEM_PRIVATE));
    // A stall limit below the 1 s the querying thread waits for room before
    // it looks again: a full ring whose emptying it is not told of ends the
    // walk early.
    ASSERT_EQ(1, WalkRegionsWithStallLimit(800));
    EXPECT_EQ(6u * (regions + 3), Table().size());
    // The table's storage was reserved ahead of its lines, not left to grow
    // a few items at a time.
    const fake::Control& table = fake::Item(ProcessMemoryWindow, IDC_REGIONS);
    EXPECT_GE(table.storageItems, table.lines.size());
    EXPECT_LE(table.storageItems, 2 * table.lines.size() + 6 * 2048);
    ASSERT_EQ(regions / 2u + 1, CommittedRegions.count);
    ASSERT_EQ(regions / 2u, ReservedRegions.count);
    // Every kept span in order: none lost, doubled or overwritten on the way.
    int wrong = 0;
    for (ULONGLONG i = 0; i < regions / 2u; ++i) {
        wrong += CommittedRegions.spans[i].base != 0x10000u + 2 * i * 0x1000u;
        wrong += ReservedRegions.spans[i].base != 0x11000u + 2 * i * 0x1000u;
    }
    EXPECT_EQ(0, wrong);
    HDC dc = GetDC(ProcessMemoryWindow);
    PaintMemoryMap(dc);
    std::vector<fake::DrawnLine> lines = fake::DrawnLines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](auto l) { return l.color == RGB(255, 0, 0) && l.y0 == 218; }));
    ReleaseDC(ProcessMemoryWindow, dc);
}

TEST_F(RegionWalk, TheTableIsFilledWithItsRedrawingOff) {
    Layout(fake::AddProcess(100), {R(0, 0x10000, MEM_FREE), R(0, 0x1000, MEM_COMMIT, PAGE_READWRITE, MEM_PRIVATE)});
    ASSERT_EQ(1, WalkRegions());
    const fake::Control& table = fake::Item(ProcessMemoryWindow, IDC_REGIONS);
    std::vector<UINT> m = table.messages;
    ASSERT_FALSE(m.empty());
    EXPECT_EQ(static_cast<UINT>(WM_SETREDRAW), m.front());
    EXPECT_EQ(static_cast<UINT>(WM_SETREDRAW), m.back());
    EXPECT_EQ(1, table.redrawOffCount);
    EXPECT_EQ(1, table.redrawOnCount);
    EXPECT_GT(table.storageItems, 0u);
    EXPECT_EQ(1, table.invalidated);
    EXPECT_EQ(12u, table.lines.size());
}

// A walk rewriting the lists while passes read them: every pass draws the
// rows of one process's spans (a prefix of them while a walk is under way),
// never a mixture that a half-written span or a stale count would give.
TEST_F(RegionWalk, PassesReadingDuringWalksSeeOnlyWrittenSpans) {
    fake::Process& a = fake::AddProcess(100);
    fake::Process& b = fake::AddProcess(200);
    for (int i = 0; i < 300; ++i) {
        a.regions.push_back(R(static_cast<ULONG_PTR>(i) * 0x400000, 0x1000, MEM_COMMIT, PAGE_READWRITE, MEM_PRIVATE));
        a.regions.push_back(R(static_cast<ULONG_PTR>(i) * 0x400000 + 0x1000, 0x3FF000, MEM_FREE));
    }
    b.regions.push_back(R(0, 0x60000000, MEM_FREE));
    for (int i = 0; i < 100; ++i)
        b.regions.push_back(R(0x60000000u + static_cast<ULONG_PTR>(i) * 0x1000, 0x1000, MEM_COMMIT, PAGE_READWRITE, MEM_PRIVATE));
    std::set<int> rowsA, rowsB;
    for (const fake::Region& r : a.regions)
        if (r.state == MEM_COMMIT) rowsA.insert(MapRowOf(static_cast<DWORD>(r.base)));
    for (const fake::Region& r : b.regions)
        if (r.state == MEM_COMMIT) rowsB.insert(MapRowOf(static_cast<DWORD>(r.base)));

    fake::SetLineRecording(false);
    HWND canvas = fake::NewDialog(IDD_PROCESS_MEMORY);
    std::atomic<bool> stop(false);
    std::atomic<int> mixed(0), passes(0);
    InitRegionLists();
    std::thread painter([&] {
        while (!stop) {
            // What a pass reads, through the same lock.
            std::set<int> rows;
            EnterCriticalSection(&RegionListsLock);
            for (size_t i = 0; i < CommittedRegions.count; ++i)
                rows.insert(MapRowOf(static_cast<DWORD>(CommittedRegions.spans[i].base)));
            LeaveCriticalSection(&RegionListsLock);
            bool inA = true, inB = true;
            for (int r : rows) {
                inA = inA && rowsA.count(r);
                inB = inB && rowsB.count(r);
            }
            if (!inA && !inB) mixed++;
            HDC dc = GetDC(canvas);
            PaintMemoryMap(dc);
            ReleaseDC(canvas, dc);
            passes++;
        }
    });
    for (int i = 0; i < 40; ++i) {
        SelectedPid = i % 2 ? 200 : 100;
        WalkRegions();
    }
    stop = true;
    painter.join();
    EXPECT_EQ(0, mixed.load());
    EXPECT_GT(passes.load(), 0);
}

}  // namespace
