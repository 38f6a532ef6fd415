// The "内存内容" window's logic: the string finder, the columns of a line,
// find with its wrap, and which pages are read at all.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "contents/contents_jobs.h"
#include "contents/contents_lines.h"
#include "contents/contents_reading.h"
#include "contents/contents_strings.h"
#include "tests/fake/fake_platform.h"
#include "tests/fake/fake_process_read.h"

namespace {

const ULONGLONG kBase = 0x10000;

void Put(std::vector<BYTE>& memory, size_t at, const std::string& bytes) {
    memcpy(memory.data() + at, bytes.data(), bytes.size());
}

// "内存Memory" as UTF-16LE.
std::string Utf16Le(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) out += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    return out;
}

std::string Described(const StringList& list) {
    std::string out;
    for (size_t i = 0; i < list.count; ++i) {
        const FoundString& s = list.items[i];
        char head[64];
        snprintf(head, sizeof head, "%llx %s %llu ", s.address, s.encoding == STRING_ASCII ? "ASCII" : "UTF-16",
                 s.characters);
        out += head + fake::Utf8(std::u16string(reinterpret_cast<const char16_t*>(list.pool + s.text), s.units)) + ";";
    }
    return out;
}

TEST(ContentsStrings, FindsEachKindOfRunPageByPage) {
    const struct {
        const char* name;
        size_t at;
        std::string bytes;
        int shortest;
        bool secondPageReadable;
        std::string want;
    } cases[] = {
        {"ascii with a tab", 0x10, "Hello,\tworld", 4, true, "10010 ASCII 12 Hello,\tworld;"},
        // 内存 is 85 51 58 5B: "QX[" and M's first byte are no ASCII string of their own
        {"utf-16, Chinese and Latin", 0x100, Utf16Le(u"内存Memory"), 4, true, "10100 UTF-16 8 内存Memory;"},
        {"ascii is not also utf-16", 0x200, "abcdefgh", 4, true, "10200 ASCII 8 abcdefgh;"},
        {"nor when its length is odd", 0x200, "abcdefghi", 4, true, "10200 ASCII 9 abcdefghi;"},
        {"nor at an odd address", 0x201, "abcdefghi", 4, true, "10201 ASCII 9 abcdefghi;"},
        {"nor before a byte that is not text", 0x200, "abcdefgh\x7F", 4, true, "10200 ASCII 8 abcdefgh;"},
        {"shorter than the minimum", 0x300, "abc", 4, true, ""},
        {"the minimum lowered", 0x300, "abc", 3, true, "10300 ASCII 3 abc;"},
        {"a surrogate pair is one character", 0x400, Utf16Le(u"表𠀀情况"), 4, true, "10400 UTF-16 4 表𠀀情况;"},
        {"an unpaired surrogate ends a run", 0x500, Utf16Le(u"内存\xD800一二三四"), 4, true, "10506 UTF-16 4 一二三四;"},
        {"across a page boundary", 0xFFA, "BoundaryText", 4, true, "10ffa ASCII 12 BoundaryText;"},
        {"an unreadable page ends it", 0xFFA, "BoundaryText", 4, false, "10ffa ASCII 6 Bounda;"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<BYTE> memory(2 * CONTENTS_PAGE, 0);
        Put(memory, c.at, c.bytes);
        StringScanner scanner;
        StringList list = {};
        StartStringScan(&scanner, c.shortest);
        ScanStrings(&scanner, kBase, memory.data(), CONTENTS_PAGE, TRUE, &list);
        ScanStrings(&scanner, kBase + CONTENTS_PAGE, memory.data() + CONTENTS_PAGE, CONTENTS_PAGE,
                    c.secondPageReadable, &list);
        EndStringScan(&scanner, &list);
        EXPECT_EQ(c.want, Described(list));
        FreeStringList(&list);
    }
}

TEST(ContentsLines, ColumnsAndLinesOfCommittedAndReservedRegions) {
    const BYTE bytes[] = {'M', 'o', 'r', 0x01, 'v', 0x7F, 0x20, 0xFF};
    const BYTE readable[] = {1, 1, 1, 1, 1, 1, 1, 0};
    WCHAR hex[CONTENTS_HEX_UNITS], text[CONTENTS_TEXT_UNITS];
    FormatHexColumn(bytes, readable, 8, hex);
    FormatTextColumn(bytes, readable, 8, text, CONTENTS_TEXT_UNITS);
    EXPECT_EQ("4D 6F 72 01 76 7F 20 ??", fake::Utf8(hex));
    EXPECT_EQ("Mor.v. ??", fake::Utf8(text));

    const RegionRecord regions[] = {{0x20000, 0x20000, 0x2000, MEM_COMMIT, MEM_PRIVATE, PAGE_READWRITE},
                                    {0x22000, 0x20000, 0xE000, MEM_RESERVE, MEM_PRIVATE, PAGE_READWRITE},
                                    {0x30000, 0x20000, 0x1000, MEM_COMMIT, MEM_PRIVATE, PAGE_READWRITE}};
    ContentsLayout layout;
    ASSERT_TRUE(BuildContentsLayout(regions, 3, &layout));
    EXPECT_EQ(0x200u + 1 + 0x100, layout.lineCount);
    ContentsLine line;
    ASSERT_TRUE(ContentsLineAt(layout, 0x200, &line));
    EXPECT_TRUE(line.reserved);
    FormatReservedLine(line.size, hex);
    EXPECT_EQ("已预留 56 KB", fake::Utf8(hex));
    ULONGLONG at;
    ASSERT_TRUE(ContentsLineOf(layout, 0x30015, &at));
    EXPECT_EQ(0x201u + 1, at);
    ASSERT_TRUE(ContentsLineAt(layout, at, &line));
    EXPECT_EQ(0x30010u, line.address);
    EXPECT_FALSE(ContentsLineOf(layout, 0x31000, &at));
    EXPECT_FALSE(ContentsLineAt(layout, layout.lineCount, &line));
    FreeContentsLayout(&layout);
}

// A process whose allocation at 0x20000000 has two readable pages (two
// regions, read apart), a guard page, a no-access page and a reserved
// region; the fake would hand out
// the bytes of every committed page if asked.
struct ContentsProcess : ::testing::Test {
    const DWORD pid = 4100;
    const ULONG_PTR base = 0x20000000;
    HANDLE process = nullptr;
    ContentsLayout layout = {};
    std::vector<BYTE> memory = std::vector<BYTE>(4 * CONTENTS_PAGE, 0);

    void SetUp() override {
        fake::Reset();
        const DWORD protects[] = {PAGE_READWRITE, PAGE_READONLY, PAGE_READWRITE | PAGE_GUARD, PAGE_NOACCESS};
        std::vector<RegionRecord> records;
        fake::Process& p = fake::AddProcess(pid);
        ULONG_PTR at = base;
        for (DWORD protect : protects) {
            p.regions.push_back({at, CONTENTS_PAGE, PAGE_READWRITE, MEM_COMMIT, MEM_PRIVATE, protect});
            records.push_back({at, base, CONTENTS_PAGE, MEM_COMMIT, MEM_PRIVATE, PAGE_READWRITE});
            at += CONTENTS_PAGE;
        }
        p.regions.push_back({at, 0x4000, PAGE_READWRITE, MEM_RESERVE, MEM_PRIVATE, 0});
        records.push_back({at, base, 0x4000, MEM_RESERVE, MEM_PRIVATE, PAGE_READWRITE});
        Put(memory, 0x0FFE, "4D6F7276");
        Put(memory, 0x0040, "Mor");
        Put(memory, 2 * CONTENTS_PAGE + 8, "guarded text");
        fake::WriteMemory(pid, base, memory.data(), memory.size());
        process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
        ASSERT_TRUE(BuildContentsLayout(records.data(), records.size(), &layout));
    }
    void TearDown() override {
        FreeContentsLayout(&layout);
        CloseHandle(process);
    }

    ContentsJob* Run(ContentsJobKind kind) { return NewContentsJob(kind, process, &layout, nullptr, 0); }
};

TEST_F(ContentsProcess, ReadsOnlyCommittedPagesWithoutGuardOrNoAccess) {
    ContentsJob* job = Run(CONTENTS_STRINGS_JOB);
    job->shortest = 4;
    RunContentsJob(job);
    EXPECT_EQ("20000ffe ASCII 8 4D6F7276;", Described(job->strings));
    EndContentsJob(job);
    BYTE bytes[16], readable[16];
    ReadContentsBytes(process, base + 2 * CONTENTS_PAGE, 16, bytes, readable);
    EXPECT_EQ(0, readable[0]);
    for (const auto& read : fake::ReadingOf(pid).reads) {
        EXPECT_GE(read.first, base);
        EXPECT_LE(read.first + read.second, base + 2 * CONTENTS_PAGE) << "read beyond the readable pages";
    }
    EXPECT_FALSE(fake::ReadingOf(pid).reads.empty());
}

// Stopped while its thread waits in its first query: the worker reads that
// piece at most, and ending the job leaves no thread behind.
TEST_F(ContentsProcess, AStoppedJobReadsNoFurtherAndLeavesNoThread) {
    ContentsJob* job = Run(CONTENTS_STRINGS_JOB);
    job->shortest = 4;
    fake::Hold held("VirtualQueryEx");
    ASSERT_TRUE(StartContentsJob(job));
    ASSERT_TRUE(held.WaitReached());
    EnterCriticalSection(&job->lock);
    job->stop = TRUE;
    LeaveCriticalSection(&job->lock);
    held.Release();
    EndContentsJob(job);
    EXPECT_LE(fake::ReadingOf(pid).reads.size(), 1u) << fake::ReadingOf(pid).reads.size();
    EXPECT_EQ(0, fake::OpenThreadHandles());
}

TEST_F(ContentsProcess, FindsTextAndHexFromAfterTheSelectionThenFromTheStart) {
    const struct {
        const char* text;
        BOOL hex;
        ULONGLONG from;
        bool found;
        ULONGLONG at;
    } cases[] = {
        {"Mor", FALSE, 0x20000000, true, 0x20000040},
        {"Mor", FALSE, 0x20000050, true, 0x20000040},  // wraps to the start
        {"4D 6F 72 76", TRUE, 0x20000050, false, 0},    // hex bytes, not the text "4D6F..."
        {"34 44 36 46", TRUE, 0x20000050, true, 0x20000FFE},  // across a page boundary
        {"guarded", FALSE, 0x20000000, false, 0},        // only in the guard page
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ContentsJob* job = Run(CONTENTS_FIND_JOB);
        ASSERT_EQ(FIND_OK, ParseFindText(reinterpret_cast<const WCHAR*>(fake::Utf16(c.text).c_str()), c.hex,
                                         &job->pattern));
        job->from = c.from;
        RunContentsJob(job);
        EXPECT_EQ(c.found, job->found != FALSE);
        if (c.found) {
            EXPECT_EQ(c.at, job->foundAt);
        }
        EndContentsJob(job);
    }
    FindPattern pattern;
    EXPECT_EQ(FIND_BAD_HEX, ParseFindText(reinterpret_cast<const WCHAR*>(u"4D 6"), TRUE, &pattern));
}

}  // namespace
