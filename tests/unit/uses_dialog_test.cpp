// The "内存用途" window: the view's pure functions on a table made by hand,
// and the dialog driven with the notifications its list views send.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/shell.h"
#include "inspect/inspect.h"
#include "inspect/region_records.h"
#include "tests/fake/fake_platform.h"
#include "uses/uses_dialog.h"
#include "uses/uses_view.h"

namespace {

Allocation Alloc(ULONGLONG base, ULONGLONG size, DWORD type, UseKind kind, const char* detail = "") {
    Allocation a = {base, size, type ? size : 0, type, type ? PAGE_EXECUTE_WRITECOPY : 0u, 1, 0, kind, {}};
    std::u16string d = fake::Utf16(detail);
    std::copy(d.begin(), d.end(), a.detail);
    return a;
}

// A view over allocations the test owns (only the row order is freed), and
// the bases of the rows it shows.
struct HandView {
    std::vector<Allocation> all;
    UsesView view = {};
    explicit HandView(std::vector<Allocation> a) : all(std::move(a)) {
        view.table = {all.data(), all.size(), {}, TRUE};
        EXPECT_TRUE(InitUsesView(&view));
    }
    ~HandView() {
        free(view.rows);
        FreeUseChanges(&view.changes);
    }
    std::vector<ULONGLONG> Bases() const {
        std::vector<ULONGLONG> out;
        for (size_t i = 0; i < view.rowCount; ++i) out.push_back(all[view.rows[i]].base);
        return out;
    }
};
using Bases = std::vector<ULONGLONG>;

TEST(UsesView, CopiesTheColumnNamesThenTwoRowsTabSeparated) {
    HandView h({Alloc(0x140000000ull, 0x2000, MEM_IMAGE, USE_IMAGE, "C:\\t\\e2e_target.exe"),
                Alloc(0x140002000ull, 0x100000, 0, USE_FREE)});
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
        WalkedRegions = {records.data(), records.size(), records.size(), TRUE};
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

        WCHAR text[8] = {'x', 0};
        NMLVDISPINFOW info = {};
        info.item.mask = LVIF_TEXT;
        info.item.iItem = 1000000;
        info.item.pszText = text;
        info.item.cchTextMax = 8;
        EXPECT_EQ(TRUE, Notify(d, IDC_USES_ALLOCATIONS, &info.hdr, LVN_GETDISPINFOW));
        EXPECT_EQ(0, text[0]);
        NMLISTVIEW change = {};
        change.iItem = 99;
        change.uNewState = LVIS_SELECTED;
        change.uChanged = LVIF_STATE;
        Notify(d, IDC_USES_SUMMARY, &change.hdr, LVN_ITEMCHANGED);
        EXPECT_EQ(3, fake::Item(d, IDC_USES_ALLOCATIONS).itemCount);

        fake::Send(d, WM_INITDIALOG);
        EXPECT_EQ(10u, fake::Item(d, IDC_USES_ALLOCATIONS).columns.size());
        EXPECT_FALSE(fake::Ended(d));
    });
    EXPECT_TRUE(fake::Item(processDialog, IDC_REGIONS).selected.empty());
}

}  // namespace
