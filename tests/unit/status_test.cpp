// The main window's once-a-second read-out: memory load, the seven byte
// counts, the clock and the gauge, as the user sees them in the fields.
#include <gtest/gtest.h>

#include <string>

#include "resources/resource.h"
#include "status/status.h"
#include "tests/fake/fake_platform.h"

namespace {

const ULONGLONG kEightGB = 8ull * 1024 * 1024 * 1024;

MEMORYSTATUSEX Status(DWORD load, ULONGLONG total, ULONGLONG avail, ULONGLONG totalPage, ULONGLONG availPage,
                      ULONGLONG totalVirtual, ULONGLONG availVirtual, ULONGLONG availExtended) {
    MEMORYSTATUSEX s = {};
    s.dwLength = sizeof(MEMORYSTATUSEX);
    s.dwMemoryLoad = load;
    s.ullTotalPhys = total;
    s.ullAvailPhys = avail;
    s.ullTotalPageFile = totalPage;
    s.ullAvailPageFile = availPage;
    s.ullTotalVirtual = totalVirtual;
    s.ullAvailVirtual = availVirtual;
    s.ullAvailExtendedVirtual = availExtended;
    return s;
}

class SystemReadout : public ::testing::Test {
protected:
    void SetUp() override {
        fake::Reset();
        window = fake::NewDialog(IDD_MAIN_WINDOW);
    }

    std::string Field(int id) { return fake::Text(window, id); }

    HWND window = nullptr;
};

TEST_F(SystemReadout, EightGigabyteMachineShowsItsWholeTotal) {
    fake::SetMemoryStatus(Status(37, kEightGB, 3ull << 30, 12ull << 30, 5ull << 30, 0x7FFE0000ull, 0x7F000000ull, 0));
    fake::SetLocalTime(14, 30, 0);
    ShowSystemStatus(window);

    EXPECT_EQ("37%", Field(IDC_MEMORY_LOAD));
    EXPECT_EQ("8589934592字节", Field(IDC_TOTAL_PHYS));
    EXPECT_EQ("3221225472字节", Field(IDC_AVAIL_PHYS));
    EXPECT_EQ("12884901888字节", Field(IDC_TOTAL_PAGEFILE));
    EXPECT_EQ("5368709120字节", Field(IDC_AVAIL_PAGEFILE));
    EXPECT_EQ("2147352576字节", Field(IDC_TOTAL_VIRTUAL));
    EXPECT_EQ("2130706432字节", Field(IDC_AVAIL_VIRTUAL));
    EXPECT_EQ("0字节", Field(IDC_AVAIL_EXTENDED));
    EXPECT_EQ(37u, fake::Item(window, IDC_LOAD_GAUGE).position);
}

// Every field gets its own member, each above 2^32 so that a 32-bit
// truncation anywhere shows.
TEST_F(SystemReadout, EachFieldShowsItsOwnCountAboveFourGigabytes) {
    fake::SetMemoryStatus(Status(50, 0x100000001ull, 0x200000002ull, 0x300000003ull, 0x400000004ull,
                                 0x7FFFFFFE0000ull, 0x500000005ull, 0x600000006ull));
    ShowSystemStatus(window);

    EXPECT_EQ("4294967297字节", Field(IDC_TOTAL_PHYS));
    EXPECT_EQ("8589934594字节", Field(IDC_AVAIL_PHYS));
    EXPECT_EQ("12884901891字节", Field(IDC_TOTAL_PAGEFILE));
    EXPECT_EQ("17179869188字节", Field(IDC_AVAIL_PAGEFILE));
    EXPECT_EQ("140737488224256字节", Field(IDC_TOTAL_VIRTUAL));
    EXPECT_EQ("21474836485字节", Field(IDC_AVAIL_VIRTUAL));
    EXPECT_EQ("25769803782字节", Field(IDC_AVAIL_EXTENDED));
}

TEST_F(SystemReadout, LargestCountsShowAllTwentyDigits) {
    const ULONGLONG max = 0xFFFFFFFFFFFFFFFFull;
    fake::SetMemoryStatus(Status(99, max, max, max, max, max, max, max));
    ShowSystemStatus(window);

    for (int id = IDC_TOTAL_PHYS; id <= IDC_AVAIL_EXTENDED; ++id) {
        EXPECT_EQ("18446744073709551615字节", Field(id)) << "field " << id;
    }
}

TEST_F(SystemReadout, FullAndEmptyLoadReachTheGaugeAndThePercentage) {
    fake::SetMemoryStatus(Status(100, kEightGB, 0, 0, 0, 0, 0, 0));
    ShowSystemStatus(window);
    EXPECT_EQ("100%", Field(IDC_MEMORY_LOAD));
    EXPECT_EQ(100u, fake::Item(window, IDC_LOAD_GAUGE).position);
    EXPECT_EQ("0字节", Field(IDC_AVAIL_PHYS));

    fake::SetMemoryStatus(Status(0, kEightGB, kEightGB, 0, 0, 0, 0, 0));
    ShowSystemStatus(window);
    EXPECT_EQ("0%", Field(IDC_MEMORY_LOAD));
    EXPECT_EQ(0u, fake::Item(window, IDC_LOAD_GAUGE).position);
}

TEST_F(SystemReadout, ClockFieldsCarryNoLeadingZeros) {
    struct Case {
        WORD hour, minute, second;
        const char *h, *m, *s;
    } cases[] = {
        {9, 5, 7, "9", "5", "7"},
        {0, 0, 0, "0", "0", "0"},
        {23, 59, 59, "23", "59", "59"},
        {10, 20, 30, "10", "20", "30"},
    };
    for (const Case& c : cases) {
        fake::SetLocalTime(c.hour, c.minute, c.second);
        ShowSystemStatus(window);
        EXPECT_EQ(c.h, Field(IDC_HOUR)) << c.h << ":" << c.m << ":" << c.s;
        EXPECT_EQ(c.m, Field(IDC_MINUTE)) << c.h << ":" << c.m << ":" << c.s;
        EXPECT_EQ(c.s, Field(IDC_SECOND)) << c.h << ":" << c.m << ":" << c.s;
    }
}

// The fake refuses the query unless the record's length is 64, which would
// leave the fields at the last values; every tick shows what it read.
TEST_F(SystemReadout, EveryTickQueriesAfresh) {
    fake::SetMemoryStatus(Status(42, kEightGB, 1000, 2000, 3000, 4000, 5000, 6000));
    ShowSystemStatus(window);
    fake::SetMemoryStatus(Status(43, kEightGB, 999, 2000, 3000, 4000, 5000, 6001));
    fake::SetLocalTime(9, 5, 8);
    ShowSystemStatus(window);
    EXPECT_EQ("43%", Field(IDC_MEMORY_LOAD));
    EXPECT_EQ("999字节", Field(IDC_AVAIL_PHYS));
    EXPECT_EQ("6001字节", Field(IDC_AVAIL_EXTENDED));
    EXPECT_EQ("8", Field(IDC_SECOND));
    EXPECT_EQ(43u, fake::Item(window, IDC_LOAD_GAUGE).position);
}

TEST(FormatByteCount, WritesDigitsThenUnitAndRefusesATooSmallBuffer) {
    WCHAR out[BYTE_COUNT_CHARS];
    EXPECT_EQ(22, FormatByteCount(out, BYTE_COUNT_CHARS, 0xFFFFFFFFFFFFFFFFull));
    EXPECT_EQ("18446744073709551615字节", fake::Utf8(out));
    EXPECT_EQ(3, FormatByteCount(out, BYTE_COUNT_CHARS, 0));
    EXPECT_EQ("0字节", fake::Utf8(out));
    EXPECT_EQ(12, FormatByteCount(out, BYTE_COUNT_CHARS, 4294967296ull));
    EXPECT_EQ("4294967296字节", fake::Utf8(out));

    // "4096字节" needs 7 characters with its terminator.
    WCHAR small[7] = {L'x', L'x', L'x', L'x', L'x', L'x', L'x'};
    EXPECT_EQ(6, FormatByteCount(small, 7, 4096));
    EXPECT_EQ("4096字节", fake::Utf8(small));
    EXPECT_EQ(0, FormatByteCount(small, 6, 4096));
    EXPECT_EQ("", fake::Utf8(small));
}

}  // namespace
