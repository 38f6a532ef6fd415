// The memory map painter: rows, the picture of a pass, and the thread that
// serves requests.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "inspect/inspect.h"
#include "inspect/painter.h"
#include "inspect/regions.h"
#include "resources/resource.h"
#include "tests/fake/fake_platform.h"

namespace {

const COLORREF Blue = RGB(0, 0, 255);
const COLORREF Red = RGB(255, 0, 0);
const COLORREF Green = RGB(0, 255, 0);

// The rows that stepping through a span 50 bytes at a time marks, one line
// per step: the method the picture is defined by.
std::set<int> RowsByStepping(DWORD base, DWORD size) {
    std::set<int> rows;
    DWORD end = base + size;
    if (end < base) return rows;
    static bool hit[1024];
    int lowest = 1024, highest = -1;
    DWORD a = base;
    for (;;) {
        int y = static_cast<int>(static_cast<double>(a) * 396 / 2147483647 + 20);
        hit[y] = true;
        lowest = y < lowest ? y : lowest;
        highest = y > highest ? y : highest;
        DWORD next = a + 50;
        if (next < a) break;
        a = next;
        if (a > end) break;
    }
    for (int y = lowest; y <= highest; ++y)
        if (hit[y]) {
            rows.insert(y);
            hit[y] = false;
        }
    return rows;
}

std::set<int> RowsByRow(DWORD base, DWORD size) {
    std::set<int> rows;
    int first, last;
    if (MapSpanRows(base, size, &first, &last))
        for (int y = first; y <= last; ++y) rows.insert(y);
    return rows;
}

void SetLists(std::initializer_list<RegionSpan> committed, std::initializer_list<RegionSpan> reserved) {
    EmptyRegionLists();
    for (RegionSpan s : committed) KeepRegionSpan(&CommittedRegions, s.base, s.size);
    for (RegionSpan s : reserved) KeepRegionSpan(&ReservedRegions, s.base, s.size);
}

std::vector<fake::DrawnLine> LinesOf(COLORREF color) {
    std::vector<fake::DrawnLine> out;
    for (const fake::DrawnLine& l : fake::DrawnLines())
        if (l.color == color) out.push_back(l);
    return out;
}

std::set<int> MarkedRows(COLORREF color, int left, int right) {
    std::set<int> rows;
    for (const fake::DrawnLine& l : LinesOf(color)) {
        EXPECT_EQ(1, l.width);
        EXPECT_EQ(left, l.x0);
        EXPECT_EQ(right, l.x1);
        EXPECT_EQ(l.y0, l.y1);
        rows.insert(l.y0);
    }
    return rows;
}

std::set<int> Range(int first, int last) {
    std::set<int> rows;
    for (int y = first; y <= last; ++y) rows.insert(y);
    return rows;
}

class MemoryMap : public ::testing::Test {
protected:
    void SetUp() override { fake::Reset(); }
    void Paint(HWND window) {
        HDC dc = GetDC(window);
        PaintMemoryMap(dc);
        ReleaseDC(window, dc);
    }
};

TEST_F(MemoryMap, AddressesMapToRowsFromTopToThe2GBMark) {
    EXPECT_EQ(20, MapRowOf(0));
    EXPECT_EQ(416, MapRowOf(0x7FFFFFFF));
    EXPECT_EQ(416, MapRowOf(0x80000000));
    EXPECT_EQ(812, MapRowOf(0xFFFFFFFF));
    EXPECT_EQ(218, MapRowOf(0x40000000));
    EXPECT_EQ(20, MapRowOf(5422938));  // last address of the first row
    EXPECT_EQ(21, MapRowOf(5422939));
}

TEST_F(MemoryMap, SpansMarkTheRowsOfTheirSteppedAddresses) {
    int first = 0, last = 0;
    ASSERT_TRUE(MapSpanRows(0x00010000, 0x1000, &first, &last));
    EXPECT_EQ(20, first);
    EXPECT_EQ(20, last);
    // 1 GB at the 1 GB mark: the last step falls 24 bytes short of 2 GB.
    ASSERT_TRUE(MapSpanRows(0x40000000, 0x40000000, &first, &last));
    EXPECT_EQ(218, first);
    EXPECT_EQ(415, last);
    EXPECT_FALSE(MapSpanRows(0xFFFF0000, 0x10000, &first, &last));
    EXPECT_FALSE(MapSpanRows(0x80000000, 0x80000000, &first, &last));
    // Ends at 0xFFFFFFFF: drawn, its last step 31 bytes short of the end.
    EXPECT_TRUE(MapSpanRows(0xFFFF0000, 0xFFFF, &first, &last));
    EXPECT_EQ(811, last);
}

// One line per row paints exactly the rows that one line per 50 bytes does.
TEST_F(MemoryMap, OneLinePerRowMarksTheSameRowsAsOneLinePer50Bytes) {
    std::vector<std::pair<DWORD, DWORD>> spans = {
        {0x10000, 0},           {0x10000, 1},          {0x10000, 49},         {0x10000, 50},
        {0x10000, 51},          {0x12345, 0x1000},     {0x7FFF0000, 0x20000}, {0x7FFFFFCE, 50},
        {0x7FFFFFFF, 1},        {0x80000000, 100},     {0xFFFFFFCD, 50},      {0xFFFF0000, 0xFFFF},
        {0xFFFFFFFF, 0},        {0xFFFFFF00, 0x100},   {0xFFFFFFFF, 1},       {0xF0000000, 0x20000000},
        {0x40000000, 0x40000000}, {0xFFFFFFCE, 0x31},  {0x0052BF5A, 0x52BF5A}, {0x7FF00000, 0x100031},
    };
    std::mt19937 random(2026);
    for (int i = 0; i < 60; ++i) {
        DWORD base = static_cast<DWORD>(random());
        DWORD size = static_cast<DWORD>(random() % 0x1000000);
        spans.push_back({base, size});
        spans.push_back({base & ~0xFFFFu, size / 50 * 50});
    }
    for (auto [base, size] : spans)
        EXPECT_EQ(RowsByStepping(base, size), RowsByRow(base, size)) << std::hex << "base 0x" << base << " size 0x" << size;
}

TEST_F(MemoryMap, APassPaintsBlueColumnsThenCommittedRedThenReservedGreen) {
    SetLists({{0x00010000, 0x1000}, {0x40000000, 0x40000000}, {0xFFFF0000, 0x10000}}, {{0x7FFE0000, 0x10000}});
    HWND window = fake::NewDialog(IDD_PROCESS_MEMORY);
    const ULONGLONG buildLimit = RegionWalkLimit;
    RegionWalkLimit = REGION_WALK_LIMIT_32;  // the 32-bit picture, whatever lies above 2 GB
    Paint(window);
    RegionWalkLimit = buildLimit;

    std::vector<fake::DrawnLine> lines = fake::DrawnLines();
    std::vector<fake::DrawnLine> blue = LinesOf(Blue);
    ASSERT_EQ(200u, blue.size());
    for (size_t i = 0; i < blue.size(); ++i) {
        const fake::DrawnLine& l = blue[i];
        int y = 20 + 4 * static_cast<int>(i / 2);
        EXPECT_EQ(4, l.width);
        EXPECT_EQ(y, l.y0);
        EXPECT_EQ(y, l.y1);
        EXPECT_EQ(i % 2 ? 740 : 570, l.x0);
        EXPECT_EQ(i % 2 ? 890 : 720, l.x1);
    }
    EXPECT_EQ(416, blue.back().y0);
    // The stages follow one another: all blue, then all red, then all green.
    size_t firstRed = 200, firstGreen = 200 + LinesOf(Red).size();
    EXPECT_EQ(Red, lines[firstRed].color);
    EXPECT_EQ(Green, lines[firstGreen].color);
    EXPECT_EQ(lines.size(), firstGreen + LinesOf(Green).size());

    std::set<int> red = Range(218, 415);
    red.insert(20);
    EXPECT_EQ(red, MarkedRows(Red, 570, 720));
    EXPECT_EQ(Range(415, 415), MarkedRows(Green, 740, 890));
    EXPECT_EQ(0, fake::LivePens());
    EXPECT_EQ(0, fake::PensDeletedWhileSelected());
}

TEST_F(MemoryMap, NothingReservedLeavesThePlainBlueColumn) {
    SetLists({{0x00400000, 0x00100000}}, {});
    Paint(fake::NewDialog(IDD_PROCESS_MEMORY));
    EXPECT_EQ(200u, LinesOf(Blue).size());
    EXPECT_EQ(Range(20, 20), MarkedRows(Red, 570, 720));
    EXPECT_TRUE(LinesOf(Green).empty());
    EXPECT_EQ(0, fake::LivePens());
}

// Rows 20 to 416, a 2-row break between stretches, 4 rows at least each.
TEST_F(MemoryMap, TheRowOfAnAddressFollowsTheStretches) {
    struct Case {
        const char* what;
        std::initializer_list<RegionSpan> committed, reserved;
        std::vector<std::pair<ULONGLONG, int>> rows;  // address, row (-1: none)
    } cases[] = {
        {"one stretch of 64 pages", {{0x140000000ull, 0x10000}}, {{0x140010000ull, 0x30000}},
         {{0x140000000ull, 20}, {0x140020000ull, 218}, {0x14003FFFFull, 416}, {0x140040000ull, -1}, {0x10000, -1}}},
        {"two of 16 pages with a break", {{0x10000, 0x10000}}, {{0x100000000ull, 0x10000}},
         {{0x10000, 20}, {0x1FFFF, 216}, {0x80000000ull, -1}, {0x100000000ull, 219}, {0x10000FFFFull, 416}}},
        {"64 KB beside 2 TB", {{0x10000, 0x10000}}, {{0x10000000000ull, 0x20000000000ull}},
         {{0x10000, 20}, {0x1FFFF, 23}, {0x10000000000ull, 26}, {0x2FFFFFFFFFFull, 416}}},
        {"below 2 GB: the lower-2-GB picture", {{0x10000, 0x1000}}, {{0x7FFE0000, 0x10000}},
         {{0, 20}, {0x40000000, 218}, {0x7FFFFFFF, 416}, {0xFFFFFFFF, 812}, {0x100000000ull, -1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetLists(c.committed, c.reserved);
        MapLayout layout;
        LayOutMap(CommittedRegions, ReservedRegions, true, &layout);
        for (auto [address, row] : c.rows) EXPECT_EQ(row, MapRowOfAddress(address, layout)) << std::hex << address;
        LayOutMap(CommittedRegions, ReservedRegions, false, &layout);  // the 32-bit build
        EXPECT_EQ(0, layout.count);
    }
}

// The painter thread, started once and kept for the whole run.
class Painter : public MemoryMap {
protected:
    void SetUp() override {
        MemoryMap::SetUp();
        StartMemoryMapPainter();
        WaitIdle();
        fake::Reset();
        ProcessMemoryWindow = fake::NewDialog(IDD_PROCESS_MEMORY);
        SetLists({{0x00010000, 0x1000}}, {{0x00020000, 0x10000}});
    }
    // Waits until no request is pending and the painter is not drawing.
    static bool WaitIdle() {
        for (int i = 0; i < 500; ++i) {
            if (WaitForSingleObject(DrawRequest, 0) != WAIT_OBJECT_0 && fake::OpenDCs() == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                if (WaitForSingleObject(DrawRequest, 0) != WAIT_OBJECT_0 && fake::OpenDCs() == 0) return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    static size_t Passes() { return fake::DrawnLines().size() / 202; }  // 200 blue + one red + one green row
};

TEST_F(Painter, ARequestGivesOnePassAndTheNotice) {
    // Manual reset: a request stays set until the painter takes it, whatever
    // else waits on or tests the event.
    EXPECT_TRUE(fake::EventManualReset(DrawRequest));
    RequestMemoryMap(TRUE);
    ASSERT_TRUE(fake::WaitForBoxes(1));
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(std::vector<fake::Box>{fake::Notice(ProcessMemoryWindow, "内存分布绘制完成!", MB_ICONINFORMATION)},
              fake::Boxes());
    EXPECT_EQ(1u, Passes());
    EXPECT_EQ(std::vector<HWND>{ProcessMemoryWindow}, fake::DCWindows());
    EXPECT_EQ(0, fake::OpenDCs());
    EXPECT_EQ(0, fake::LivePens());
}

TEST_F(Painter, ARequestThatDoesNotAnnounceRedrawsWithoutTheNotice) {
    RequestMemoryMap(FALSE);
    ASSERT_TRUE(WaitIdle());
    for (int i = 0; i < 50 && Passes() < 1; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(1u, Passes());
    EXPECT_TRUE(fake::Boxes().empty());
}

// The notice is open while more requests come: they merge into one further
// pass, which announces when any of them did.
TEST_F(Painter, RequestsWhileTheNoticeIsOpenGiveOneMorePass) {
    std::mutex m;
    std::condition_variable cv;
    bool release = false;
    fake::SetBoxHook([&](const fake::Box&) {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [&] { return release; });
    });
    RequestMemoryMap(TRUE);
    ASSERT_TRUE(fake::WaitForBoxes(1));
    RequestMemoryMap(FALSE);
    RequestMemoryMap(TRUE);
    RequestMemoryMap(FALSE);
    {
        std::lock_guard<std::mutex> lock(m);
        release = true;
    }
    cv.notify_all();
    ASSERT_TRUE(fake::WaitForBoxes(2));
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(2u, fake::Boxes().size());
    EXPECT_EQ(2u, Passes());
}

// A refresh's walk ends, and its request comes, while a pass that a repaint
// asked for is drawing from the lists as they were: the request gets a pass
// of its own, drawn from the new lists, and only that pass announces.
TEST_F(Painter, ARequestArrivingWhileAPassDrawsGetsAPassOfItsOwn) {
    bool requested = false;
    fake::SetLineHook([&](const fake::DrawnLine& line) {
        if (requested || line.color != Green) return;
        requested = true;
        SetLists({{0x40000000, 0x1000}}, {{0x40010000, 0x1000}});
        RequestMemoryMap(TRUE);
    });
    RequestMemoryMap(FALSE);
    ASSERT_TRUE(fake::WaitForBoxes(1));
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(std::vector<fake::Box>{fake::Notice(ProcessMemoryWindow, "内存分布绘制完成!", MB_ICONINFORMATION)},
              fake::Boxes());
    ASSERT_EQ(2u, Passes());
    std::vector<fake::DrawnLine> lines = fake::DrawnLines();
    EXPECT_EQ(20, lines[200].y0) << "the first pass marks the old committed span";
    EXPECT_EQ(218, lines[202 + 200].y0) << "the announced pass marks the new committed span";
    EXPECT_EQ(218, lines.back().y0) << "the announced pass marks the new reserved span";
    fake::SetLineHook(nullptr);
}

// No drawing context: nothing is drawn and nothing announced; the notice
// asked for comes with the next pass that draws.
TEST_F(Painter, APassWithoutADrawingContextLeavesItsNoticeToTheNextPass) {
    fake::FailGetDC(1);
    RequestMemoryMap(TRUE);
    for (int i = 0; i < 100 && fake::DCWindows().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(1u, fake::DCWindows().size());
    EXPECT_TRUE(fake::DrawnLines().empty());
    EXPECT_TRUE(fake::Boxes().empty());

    RequestMemoryMap(FALSE);
    ASSERT_TRUE(fake::WaitForBoxes(1));
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(1u, Passes());
    EXPECT_EQ(1u, fake::Boxes().size());
}

// A request made just after the painter woke, while it lets go without a pass
// of what it woke for (no drawing context; or a request left by a dialog
// that has since closed), is kept: it gets its pass and its notice.
TEST_F(Painter, ARequestMadeWhileThePainterLetsGoOfEarlierOnesIsKept) {
    struct Case {
        const char* what;
        const char* call;  // where the painter is when the request comes
        bool closed;
    } cases[] = {
        {"no drawing context", "GetDC", false},
        {"a closed dialog's request", "IsWindow", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HWND closed = fake::NewDialog(IDD_PROCESS_MEMORY);
        fake::Reset();
        HWND next = fake::NewDialog(IDD_PROCESS_MEMORY);
        ProcessMemoryWindow = c.closed ? closed : next;
        if (!c.closed) fake::FailGetDC(1);
        std::atomic<bool> made(false);
        fake::SetCallHook([&](const std::string& call) {
            if (call != c.call || made.exchange(true)) return;
            ProcessMemoryWindow = next;
            RequestMemoryMap(TRUE);
        });
        RequestMemoryMap(FALSE);
        bool told = fake::WaitForBoxes(1, 3000);
        ASSERT_TRUE(WaitIdle());
        fake::SetCallHook(nullptr);
        EXPECT_TRUE(told) << "the later request got no pass";
        EXPECT_EQ(std::vector<fake::Box>{fake::Notice(next, "内存分布绘制完成!", MB_ICONINFORMATION)}, fake::Boxes());
        EXPECT_EQ(1u, Passes());
    }
}

// The dialog a pass draws into is the one its request was made for, taken
// with the request: another dialog's opening just after the request is no
// concern of the painter's (and no unsynchronised read of it).
TEST_F(Painter, APassDrawsIntoTheDialogItsRequestWasMadeFor) {
    HWND dialogs[2] = {ProcessMemoryWindow, fake::NewDialog(IDD_PROCESS_MEMORY)};
    std::vector<HWND> requestedFor;
    for (int i = 0; i < 10; ++i) {
        requestedFor.push_back(ProcessMemoryWindow);
        RequestMemoryMap(FALSE);
        ProcessMemoryWindow = dialogs[(i + 1) % 2];
        ASSERT_TRUE(WaitIdle());
    }
    EXPECT_EQ(requestedFor, fake::DCWindows());
}

TEST_F(Painter, ARequestForAClosedDialogIsDroppedWithoutDrawing) {
    // A dialog that has been opened and closed again.
    HWND closed = nullptr;
    fake::OnDialog(IDD_PROCESS_MEMORY, [&](HWND d) { closed = d; });
    DialogBoxParamW(nullptr, MAKEINTRESOURCEW(IDD_PROCESS_MEMORY), nullptr,
                    [](HWND d, UINT msg, WPARAM, LPARAM) -> INT_PTR {
                        if (msg == WM_CLOSE) EndDialog(d, 0);
                        return FALSE;
                    },
                    0);
    ASSERT_FALSE(IsWindow(closed));
    ProcessMemoryWindow = closed;
    RequestMemoryMap(TRUE);
    ASSERT_TRUE(WaitIdle());
    EXPECT_TRUE(fake::DCWindows().empty());
    EXPECT_TRUE(fake::DrawnLines().empty());
    EXPECT_TRUE(fake::Boxes().empty());
}

}  // namespace
