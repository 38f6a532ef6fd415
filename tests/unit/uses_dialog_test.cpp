// The "内存用途" window: the view's pure functions on a table made by hand,
// and the dialog driven with the notifications its list views send.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/shell.h"
#include "inspect/inspect.h"
#include "inspect/region_records.h"
#include "tests/fake/fake_platform.h"
#include "uses/use_reading.h"
#include "uses/uses_changes.h"
#include "uses/uses_dialog.h"
#include "uses/uses_view.h"

namespace {

Allocation Alloc(ULONGLONG base, ULONGLONG size, DWORD type, UseKind kind) {
    return {base, size, type ? size : 0, 0, 0, type, type ? PAGE_EXECUTE_WRITECOPY : 0u, 1, kind, 0};
}

// Keeps a UTF-8 text as 详情 in `texts`; its offset.
size_t Detail(UseTexts* texts, const char* utf8) {
    std::u16string d = fake::Utf16(utf8);
    std::vector<WCHAR> text(d.begin(), d.end());
    text.push_back(0);
    return KeepUseText(texts, text.data());
}

// A view over allocations the test owns (only the row order, the
// comparison and the texts are freed), and the bases of the rows it shows.
struct HandView {
    std::vector<Allocation> all;
    UsesView view = {};
    explicit HandView(std::vector<Allocation> a, const char* firstDetail = "") : all(std::move(a)) {
        view.table = {all.data(), all.size(), {}, {}, TRUE};
        all[0].detail = Detail(&view.table.texts, firstDetail);
        EXPECT_TRUE(InitUsesView(&view));
    }
    ~HandView() {
        free(view.rows);
        FreeUseChanges(&view.changes);
        FreeUseTexts(&view.table.texts);
    }
    std::vector<ULONGLONG> Bases() const {
        std::vector<ULONGLONG> out;
        for (size_t i = 0; i < view.rowCount; ++i) out.push_back(all[view.rows[i]].base);
        return out;
    }
};
using Bases = std::vector<ULONGLONG>;

std::string Cell(const UsesView& view, UsesList list, size_t item, int column) {
    WCHAR cell[USES_CELL_UNITS];
    UsesCellText(view, list, item, column, cell, USES_CELL_UNITS);
    return fake::Utf8(cell);
}

TEST(UsesView, CopiesTheColumnNamesThenTwoRowsTabSeparated) {
    HandView h({Alloc(0x140000000ull, 0x2000, MEM_IMAGE, USE_IMAGE), Alloc(0x140002000ull, 0x100000, 0, USE_FREE)},
               "C:\\t\\e2e_target.exe");
    size_t length = UsesCopyText(h.view, USES_ALLOCATIONS, nullptr, 0, nullptr, 0);
    std::vector<WCHAR> text(length + 1, 0x5A);
    EXPECT_EQ(length, UsesCopyText(h.view, USES_ALLOCATIONS, nullptr, 0, text.data(), text.size()));
    EXPECT_EQ("基址\t大小\t已调拨\t类型\t用途\t保护\t区域数\t详情\t状态\t变化\r\n"
              "0x140000000\t8 KB\t8 KB\t镜像\t镜像\tPAGE_EXECUTE_WRITECOPY\t1\tC:\\t\\e2e_target.exe\t\t0 KB\r\n"
              "0x140002000\t1,024 KB\t0 KB\t\t未用\t\t1\t\t\t0 KB",
              fake::Utf8(text.data()));
}

// Addresses and sizes whose texts sort the other way round from their
// values; a summary row keeps the order last clicked.
TEST(UsesView, SortsNumbersAsNumbersAgainReversesAndFiltersBySummaryRow) {
    HandView h({Alloc(0x10000, 0x2000000, 0, USE_FREE), Alloc(0x20000000, 0x1000, MEM_IMAGE, USE_IMAGE),
                Alloc(0x100000000ull, 0x3000, MEM_IMAGE, USE_IMAGE), Alloc(0x100010000ull, 0x4000, MEM_PRIVATE, USE_HEAP)});
    SortUsesList(&h.view, USES_ALLOCATIONS, ALLOC_SIZE);
    EXPECT_EQ((Bases{0x20000000, 0x100000000ull, 0x100010000ull, 0x10000}), h.Bases());
    SortUsesList(&h.view, USES_ALLOCATIONS, ALLOC_BASE);
    EXPECT_EQ((Bases{0x10000, 0x20000000, 0x100000000ull, 0x100010000ull}), h.Bases()) << "a new column ascends";
    SortUsesList(&h.view, USES_ALLOCATIONS, ALLOC_BASE);
    EXPECT_EQ((Bases{0x100010000ull, 0x100000000ull, 0x20000000, 0x10000}), h.Bases());

    ShowUsesRow(&h.view, USE_IMAGE);
    EXPECT_EQ((Bases{0x100000000ull, 0x20000000}), h.Bases());
    ShowUsesRow(&h.view, USE_TOTAL_ROW);
    EXPECT_EQ((Bases{0x100010000ull, 0x100000000ull, 0x20000000}), h.Bases()) << "every kind but free";
    ShowUsesRow(&h.view, USE_SUMMARY_ROWS);
    EXPECT_EQ(USE_TOTAL_ROW, h.view.shown) << "a row out of range changes nothing";

    // The summary's 大小, 已调拨 and 已预留 of a kind.
    h.all[3].committed = 0x1000;
    SumUses(h.all.data(), h.all.size(), h.view.table.sums);
    std::string cells;
    for (int column = 1; column <= 3; ++column) cells += Cell(h.view, USES_SUMMARY, USE_HEAP, column) + "|";
    EXPECT_EQ("16 KB|4 KB|12 KB|", cells);
}

// ---- Comparing two readings ------------------------------------------------

const DWORD C = MEM_COMMIT, R = MEM_RESERVE, RW = PAGE_READWRITE;

// A private allocation at 0x10000 of 64 KB with `committed` bytes committed
// at its start, of protection `protect`; or an image's.
std::vector<RegionRecord> Allocated(ULONGLONG committed, DWORD protect = RW, DWORD type = MEM_PRIVATE) {
    return {{0x10000, 0x10000, committed, C, type, RW, protect}, {0x10000 + committed, 0x10000, 0x10000 - committed, R, type, RW, 0}};
}
const std::vector<RegionRecord> kFreed = {{0x10000, 0, 0x10000, MEM_FREE, 0, 0, 0}};

// A reading the view can own: the allocations of the regions, summed.
UseTable Reading(const std::vector<RegionRecord>& regions, const char* detail = "") {
    UseTable t = {static_cast<Allocation*>(calloc(regions.size() + 1, sizeof(Allocation))), 0, {}, {}, TRUE};
    t.count = GroupAllocations(regions.data(), regions.size(), t.allocations);
    if (t.count) t.allocations[0].detail = Detail(&t.texts, detail);
    SumUses(t.allocations, t.count, t.sums);
    return t;
}

struct CompareCase {
    const char* what;
    std::vector<RegionRecord> baseline, now;
    const char* detailNow;
    BOOL anotherProcess;  // the PID names another process now
    std::vector<std::string> rows;  // 状态 and 变化 of each item
    const char* total;              // 总计's 变化
};

TEST(UsesCompare, GivesEachAllocationItsStateAndChange) {
    const CompareCase cases[] = {
        {"new, from an empty baseline", {}, Allocated(0x1000), "", FALSE, {"新增 +4 KB"}, "+4 KB"},
        {"freed", Allocated(0x1000), kFreed, "", FALSE, {" 0 KB", "已释放 -4 KB"}, "-4 KB"},
        {"grown", Allocated(0x1000), Allocated(0x3000), "", FALSE, {"增长 +8 KB"}, "+8 KB"},
        {"shrunk", Allocated(0x3000), Allocated(0x1000), "", FALSE, {"缩小 -8 KB"}, "-8 KB"},
        {"protection changed", Allocated(0x1000), Allocated(0x1000, PAGE_READONLY), "", FALSE, {"改变 0 KB"}, "0 KB"},
        {"use changed", Allocated(0x1000), Allocated(0x1000), "线程ID:5", FALSE, {"改变 0 KB"}, "0 KB"},
        {"same base, another type", Allocated(0x1000), Allocated(0x2000, RW, MEM_IMAGE), "", FALSE,
         {"新增 +8 KB", "已释放 -4 KB"}, "+4 KB"},
        {"unchanged", Allocated(0x1000), Allocated(0x1000), "", FALSE, {" 0 KB"}, "0 KB"},
        {"a reused PID", Allocated(0x1000), Allocated(0x3000, PAGE_READONLY), "", TRUE, {" 0 KB"}, "0 KB"},
    };
    for (const CompareCase& c : cases) {
        SCOPED_TRACE(c.what);
        UsesView view = {};
        view.table = Reading(c.baseline);
        ASSERT_TRUE(InitUsesView(&view));
        UseTable now = Reading(c.now, c.detailNow);
        ASSERT_TRUE(TakeUsesReading(&view, &now, c.anotherProcess));
        std::vector<std::string> rows;
        for (size_t item = 0; item < UsesItemCount(view); ++item)
            rows.push_back(Cell(view, USES_ALLOCATIONS, item, ALLOC_STATUS) + " " +
                           Cell(view, USES_ALLOCATIONS, item, ALLOC_CHANGE));
        EXPECT_EQ(c.rows, rows);
        EXPECT_EQ(c.total, Cell(view, USES_SUMMARY, USE_TOTAL_ROW, SUMMARY_CHANGE));
        FreeUsesView(&view);
    }
}

TEST(UsesCompare, TheNoteLineSaysWhenBothReadingsWereMadeAndHowFastTheCommittedTotalMoved) {
    struct {
        SYSTEMTIME baseline, now;
        DWORD seconds;
        long long change;
        BOOL same;
        const char* note;
    } cases[] = {
        {{0, 0, 0, 0, 14, 5, 22, 0}, {0, 0, 0, 0, 14, 7, 40, 0}, 138, 12288 * 1024, FALSE,
         "基准 14:05:22  现在 14:07:40 (2分18秒)  已调拨 +12,288 KB (每分钟 +5,340 KB)"},
        {{0, 0, 0, 0, 9, 0, 0, 0}, {0, 0, 0, 0, 9, 0, 45, 0}, 45, -64 * 1024, FALSE,
         "基准 09:00:00  现在 09:00:45 (45秒)  已调拨 -64 KB (每分钟 -85 KB)"},
        {{0, 0, 0, 0, 9, 0, 0, 0}, {0, 0, 0, 0, 10, 2, 5, 0}, 3725, 0, FALSE,
         "基准 09:00:00  现在 10:02:05 (1小时2分5秒)  已调拨 0 KB (每分钟 0 KB)"},
        {{0, 0, 0, 0, 9, 0, 0, 0}, {0, 0, 0, 0, 9, 0, 0, 0}, 0, 4096, FALSE, "基准 09:00:00  现在 09:00:00 (0秒)  已调拨 +4 KB"},
        {{0, 0, 0, 0, 14, 5, 22, 0}, {0, 0, 0, 0, 14, 5, 22, 0}, 0, 0, TRUE, "基准 14:05:22"},
    };
    for (const auto& c : cases) {
        WCHAR note[USE_NOTE_UNITS];
        FormatChangeNote(c.baseline, c.now, c.seconds, c.change, c.same, note, USE_NOTE_UNITS);
        EXPECT_EQ(c.note, fake::Utf8(note));
    }
}

// ---- The dialog ------------------------------------------------------------

class Uses : public ::testing::Test {
protected:
    void SetUp() override {
        fake::Reset();
        saved = WalkedRegions;
        // Three allocations of four regions: free, private (two), image;
        // no such process, so the kinds come from the types alone.
        records = {{0x0, 0x0, 0x10000, MEM_FREE, 0, 0},
                   {0x10000, 0x10000, 0x1000, MEM_COMMIT, MEM_PRIVATE, PAGE_READWRITE},
                   {0x11000, 0x10000, 0xF000, MEM_RESERVE, MEM_PRIVATE, PAGE_READWRITE},
                   {0x20000, 0x20000, 0x1000, MEM_COMMIT, MEM_IMAGE, PAGE_EXECUTE_WRITECOPY}};
        WalkedRegions = {records.data(), records.size(), records.size(), TRUE, 0};
        SelectedPid = 4321;
        processDialog = fake::NewDialog(IDD_PROCESS_MEMORY, ProcessMemoryDialog);
        fake::Control& table = fake::Item(processDialog, IDC_REGIONS);
        table.extendedSelection = true;
        table.lines.assign(6 * records.size(), u"line");
    }
    void TearDown() override { WalkedRegions = saved; }

    // Opens "内存用途" with its button and runs `script` in it.
    void OpenUses(std::function<void(HWND)> script) {
        fake::OnDialog(IDD_USES, [this, script](HWND d) {
            uses = d;
            script(d);
        });
        EXPECT_EQ(FALSE, fake::Command(processDialog, IDC_SHOW_USES));
    }

    static INT_PTR Notify(HWND d, int id, NMHDR* header, UINT code) {
        header->hwndFrom = GetDlgItem(d, id);
        header->idFrom = static_cast<UINT_PTR>(id);
        header->code = code;
        return fake::Send(d, WM_NOTIFY, static_cast<WPARAM>(id), reinterpret_cast<LPARAM>(header));
    }

    static INT_PTR Key(HWND d, int id, WORD key) {
        NMLVKEYDOWN down = {};
        down.wVKey = key;
        return Notify(d, id, &down.hdr, LVN_KEYDOWN);
    }

    static INT_PTR Select(HWND d, int id, int position) {
        NMLISTVIEW change = {};
        change.iItem = position;
        change.uNewState = LVIS_SELECTED;
        change.uChanged = LVIF_STATE;
        return Notify(d, id, &change.hdr, LVN_ITEMCHANGED);
    }

    static INT_PTR DoubleClick(HWND d, int row) {
        NMITEMACTIVATE click = {};
        click.iItem = row;
        return Notify(d, IDC_USES_ALLOCATIONS, &click.hdr, NM_DBLCLK);
    }

    RegionRecordList saved;
    std::vector<RegionRecord> records;
    HWND processDialog = nullptr;
    HWND uses = nullptr;
};

TEST_F(Uses, ADoubleClickClosesItAndSelectsTheAllocationsTableLines) {
    OpenUses([](HWND d) {
        EXPECT_EQ(3, fake::Item(d, IDC_USES_ALLOCATIONS).itemCount);
        EXPECT_EQ(8, fake::Item(d, IDC_USES_SUMMARY).itemCount);
        EXPECT_EQ("进程已无法打开,只按类型分类", fake::Text(d, IDC_USES_NOTE));
        fake::Item(fake::OwnerOf(d), IDC_REGIONS).selected = {0, 23};
        DoubleClick(d, 1);
    });
    ASSERT_NE(nullptr, uses);
    EXPECT_EQ(processDialog, fake::OwnerOf(uses));
    EXPECT_EQ(IDOK, fake::EndResult(uses)) << "ended by the double-click, not the close box";
    const fake::Control& table = fake::Item(processDialog, IDC_REGIONS);
    EXPECT_EQ((std::set<int>{6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17}), table.selected);
    EXPECT_EQ(6, table.topIndex);

    OpenUses([](HWND d) { DoubleClick(d, 2); });  // the last allocation: the table's last region
    EXPECT_EQ((std::set<int>{18, 19, 20, 21, 22, 23}), table.selected);
}

// Ctrl+C copies the selected allocations, Ctrl+A selects them all; the
// letters alone do neither.
TEST_F(Uses, CtrlCCopiesTheSelectedRowsAndCtrlASelectsThemAll) {
    fake::SetClipboardText("before");
    OpenUses([](HWND d) {
        fake::Control& list = fake::Item(d, IDC_USES_ALLOCATIONS);
        list.selected = {0, 2};
        Key(d, IDC_USES_ALLOCATIONS, 'C');
        Key(d, IDC_USES_ALLOCATIONS, 'A');
        EXPECT_EQ("before", fake::ClipboardText());
        EXPECT_EQ((std::set<int>{0, 2}), list.selected);
        fake::SetKeyDown(VK_CONTROL, true);
        Key(d, IDC_USES_ALLOCATIONS, 'C');
        EXPECT_EQ("基址\t大小\t已调拨\t类型\t用途\t保护\t区域数\t详情\t状态\t变化\r\n"
                  "0x00000000\t64 KB\t0 KB\t\t未用\t\t1\t\t\t0 KB\r\n"
                  "0x00020000\t4 KB\t4 KB\t镜像\t镜像\tPAGE_EXECUTE_WRITECOPY\t1\t\t\t0 KB",
                  fake::ClipboardText());
        Key(d, IDC_USES_ALLOCATIONS, 'A');
        EXPECT_EQ((std::set<int>{0, 1, 2}), list.selected);
        fake::SetKeyDown(VK_CONTROL, false);
    });
    EXPECT_EQ(0, fake::LiveGlobals());
}

// The first click on 大小 sorts the summary ascending; a row selected then
// shows the allocations of the kind at that position.
TEST_F(Uses, ASortedSummaryShowsTheKindOfTheSelectedPosition) {
    OpenUses([](HWND d) {
        NMLISTVIEW click = {};
        click.iSubItem = 1;
        Notify(d, IDC_USES_SUMMARY, &click.hdr, LVN_COLUMNCLICK);
        // 0 KB: 映射文件, 共享内存, 堆, 线程栈; then 镜像 4 KB, 私有数据 and
        // 未用 64 KB, 总计 68 KB.
        Select(d, IDC_USES_SUMMARY, 4);
        EXPECT_EQ(1, fake::Item(d, IDC_USES_ALLOCATIONS).itemCount);
        Select(d, IDC_USES_SUMMARY, 7);
        EXPECT_EQ(2, fake::Item(d, IDC_USES_ALLOCATIONS).itemCount);
    });
}

// Notifications that name another control, another window, a row past the
// end or nothing at all change nothing; a second WM_INITDIALOG neither.
TEST_F(Uses, JunkNotificationsAreIgnored) {
    OpenUses([this](HWND d) {
        EXPECT_EQ(FALSE, fake::Send(d, WM_NOTIFY, IDC_REGIONS, 1)) << "lParam is not read for another number";
        EXPECT_EQ(FALSE, fake::Send(d, WM_NOTIFY, IDC_USES_ALLOCATIONS, 0));
        NMITEMACTIVATE forged = {};
        forged.hdr = {GetDlgItem(processDialog, IDC_REGIONS), IDC_USES_ALLOCATIONS, NM_DBLCLK};
        forged.iItem = 1;
        EXPECT_EQ(FALSE, fake::Send(d, WM_NOTIFY, IDC_USES_ALLOCATIONS, reinterpret_cast<LPARAM>(&forged)));
        for (int row : {-1, 3, 0x7FFFFFFF}) DoubleClick(d, row);
        // Another program's: sent from another thread, its lParam is never
        // read (the platform does not carry it across programs).
        NMITEMACTIVATE remote = forged;
        remote.hdr.hwndFrom = GetDlgItem(d, IDC_USES_ALLOCATIONS);
        std::atomic<bool> answered(false);
        std::thread other([d, &remote, &answered] {
            SendMessageW(d, WM_NOTIFY, IDC_USES_ALLOCATIONS, reinterpret_cast<LPARAM>(&remote));
            answered = true;
        });
        fake::WaitUntil([&answered] { return answered.load(); });
        other.join();

        WCHAR text[8] = {'x', 0};
        NMLVDISPINFOW info = {};
        info.item.mask = LVIF_TEXT;
        info.item.iItem = 1000000;
        info.item.pszText = text;
        info.item.cchTextMax = 8;
        EXPECT_EQ(TRUE, Notify(d, IDC_USES_ALLOCATIONS, &info.hdr, LVN_GETDISPINFOW));
        EXPECT_EQ(0, text[0]);
        Select(d, IDC_USES_SUMMARY, 99);
        Select(d, IDC_USES_ALLOCATIONS, 0);  // a selection among the allocations filters nothing
        EXPECT_EQ(3, fake::Item(d, IDC_USES_ALLOCATIONS).itemCount);

        fake::Send(d, WM_INITDIALOG);
        EXPECT_EQ(10u, fake::Item(d, IDC_USES_ALLOCATIONS).columns.size());
        EXPECT_FALSE(fake::Ended(d));
    });
    EXPECT_TRUE(fake::Item(processDialog, IDC_REGIONS).selected.empty());
}

}  // namespace
