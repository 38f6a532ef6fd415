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

Allocation Alloc(ULONGLONG base, ULONGLONG size, ULONGLONG committed, DWORD type, UseKind kind, DWORD regions,
                 const char* detail = "") {
    Allocation a = {};
    a.base = base;
    a.size = size;
    a.committed = committed;
    a.type = type;
    a.allocationProtect = type ? PAGE_EXECUTE_WRITECOPY : 0;
    a.regionCount = regions;
    a.kind = kind;
    std::u16string d = fake::Utf16(detail);
    for (size_t i = 0; i < d.size(); ++i) a.detail[i] = static_cast<WCHAR>(d[i]);
    return a;
}

// A view over allocations the test owns; only the row order is freed.
struct HandView {
    std::vector<Allocation> allocations;
    UsesView view = {};

    explicit HandView(std::vector<Allocation> all) : allocations(std::move(all)) {
        view.table.allocations = allocations.data();
        view.table.count = allocations.size();
        view.table.processRead = TRUE;
        EXPECT_TRUE(InitUsesView(&view));
    }
    ~HandView() { free(view.rows); }

    std::vector<ULONGLONG> Bases() const {
        std::vector<ULONGLONG> out;
        for (size_t i = 0; i < view.rowCount; ++i) out.push_back(allocations[view.rows[i]].base);
        return out;
    }
};

// Every row of the allocations list, as Ctrl+C copies it.
std::string Copy(const UsesView& view) {
    size_t length = UsesCopyText(view, USES_ALLOCATIONS, nullptr, 0, nullptr, 0);
    std::vector<WCHAR> text(length + 1, 0x5A);
    EXPECT_EQ(length, UsesCopyText(view, USES_ALLOCATIONS, nullptr, 0, text.data(), text.size()));
    return fake::Utf8(text.data());
}

TEST(UsesView, CopiesTheColumnNamesThenTwoRowsTabSeparated) {
    HandView h({Alloc(0x140000000ull, 0x2000, 0x2000, MEM_IMAGE, USE_IMAGE, 2, "C:\\t\\e2e_target.exe"),
                Alloc(0x140002000ull, 0x100000, 0, 0, USE_FREE, 1)});
    EXPECT_EQ("基址\t大小\t已调拨\t类型\t用途\t保护\t区域数\t详情\r\n"
              "0x140000000\t8 KB\t8 KB\t镜像\t镜像\tPAGE_EXECUTE_WRITECOPY\t2\tC:\\t\\e2e_target.exe\r\n"
              "0x140002000\t1,024 KB\t0 KB\t\t未用\t\t1\t",
              Copy(h.view));
}

// Addresses and sizes whose texts sort the other way round from their values.
TEST(UsesView, SortsNumbersAsNumbersAndAgainReverses) {
    HandView h({Alloc(0x10000, 0x2000000, 0, MEM_PRIVATE, USE_PRIVATE_DATA, 1),
                Alloc(0x20000000, 0x1000, 0x1000, MEM_PRIVATE, USE_HEAP, 1),
                Alloc(0x100000000ull, 0x3000, 0, MEM_MAPPED, USE_MAPPED_FILE, 1)});
    using Bases = std::vector<ULONGLONG>;

    SortUsesList(&h.view, USES_ALLOCATIONS, ALLOC_SIZE);
    EXPECT_EQ((Bases{0x20000000, 0x100000000ull, 0x10000}), h.Bases());
    SortUsesList(&h.view, USES_ALLOCATIONS, ALLOC_SIZE);
    EXPECT_EQ((Bases{0x10000, 0x100000000ull, 0x20000000}), h.Bases());

    SortUsesList(&h.view, USES_ALLOCATIONS, ALLOC_BASE);
    EXPECT_EQ((Bases{0x10000, 0x20000000, 0x100000000ull}), h.Bases()) << "a new column sorts ascending";
    SortUsesList(&h.view, USES_ALLOCATIONS, ALLOC_BASE);
    EXPECT_EQ((Bases{0x100000000ull, 0x20000000, 0x10000}), h.Bases());
}

TEST(UsesView, ASummaryRowShowsItsKindAndTotalAllButFree) {
    HandView h({Alloc(0x10000, 0x1000, 0, 0, USE_FREE, 1), Alloc(0x20000, 0x1000, 0, MEM_IMAGE, USE_IMAGE, 3),
                Alloc(0x30000, 0x4000, 0, MEM_PRIVATE, USE_THREAD_STACK, 2),
                Alloc(0x40000, 0x2000, 0, MEM_IMAGE, USE_IMAGE, 1)});
    using Bases = std::vector<ULONGLONG>;
    EXPECT_EQ((Bases{0x10000, 0x20000, 0x30000, 0x40000}), h.Bases()) << "every allocation at first";

    SortUsesList(&h.view, USES_ALLOCATIONS, ALLOC_SIZE);
    SortUsesList(&h.view, USES_ALLOCATIONS, ALLOC_SIZE);
    ShowUsesRow(&h.view, USE_IMAGE);
    EXPECT_EQ((Bases{0x40000, 0x20000}), h.Bases()) << "in the order last clicked";
    ShowUsesRow(&h.view, USE_TOTAL_ROW);
    EXPECT_EQ((Bases{0x30000, 0x40000, 0x20000}), h.Bases());
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
        EXPECT_EQ(8u, fake::Item(d, IDC_USES_ALLOCATIONS).columns.size());
        EXPECT_FALSE(fake::Ended(d));
    });
    EXPECT_TRUE(fake::Item(processDialog, IDC_REGIONS).selected.empty());
}

}  // namespace
