// The memory-use table: a fake process's regions and what it tells of them
// in, allocations with their kinds and 详情, and the sums by kind, out.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "tests/fake/fake_process_read.h"
#include "uses/use_reading.h"

namespace {

const DWORD kPid = 5150;
const DWORD kThread = 12;
const DWORD C = MEM_COMMIT, R = MEM_RESERVE, F = MEM_FREE;
const DWORD Img = MEM_IMAGE, Map = MEM_MAPPED, Prv = MEM_PRIVATE;

// base, allocation base, size, state, type
const std::vector<RegionRecord> kRegions = {
    {0x00010000, 0, 0x003F0000, F, 0, 0},
    {0x00400000, 0x00400000, 0x1000, C, Img, PAGE_EXECUTE_WRITECOPY},  // the image
    {0x00401000, 0x00400000, 0x5000, C, Img, PAGE_EXECUTE_WRITECOPY},
    {0x00406000, 0x00400000, 0x2000, C, Img, PAGE_EXECUTE_WRITECOPY},
    {0x00408000, 0, 0x000F8000, F, 0, 0},
    {0x00500000, 0x00500000, 0x10000, C, Map, PAGE_READONLY},   // a mapped file
    {0x00510000, 0x00510000, 0x10000, C, Map, PAGE_READWRITE},  // a section without file
    {0x00520000, 0, 0x001E0000, F, 0, 0},
    {0x00700000, 0x00700000, 0xFC000, R, Prv, PAGE_READWRITE},  // the thread's stack
    {0x007FC000, 0x00700000, 0x1000, C, Prv, PAGE_READWRITE},
    {0x007FD000, 0x00700000, 0x3000, C, Prv, PAGE_READWRITE},
    {0x00800000, 0x00800000, 0x2000, C, Prv, PAGE_READWRITE},  // its TEB
    {0x00802000, 0x00800000, 0xE000, R, Prv, PAGE_READWRITE},
    {0x00810000, 0x00810000, 0x1000, C, Prv, PAGE_READWRITE},  // the PEB
    {0x00811000, 0x00810000, 0xF000, R, Prv, PAGE_READWRITE},
    {0x00820000, 0x00820000, 0x10000, C, Prv, PAGE_READWRITE},  // the default heap
    {0x00830000, 0x00820000, 0xF0000, R, Prv, PAGE_READWRITE},
    {0x00920000, 0x00920000, 0x4000, C, Prv, PAGE_READWRITE},  // another heap
    {0x00924000, 0x00920000, 0xC000, R, Prv, PAGE_READWRITE},
    {0x00930000, 0x00930000, 0x1000, C, Prv, PAGE_READWRITE},  // private, several regions
    {0x00931000, 0x00930000, 0x2000, R, Prv, PAGE_READWRITE},
    {0x00933000, 0x00930000, 0x1000, C, Prv, PAGE_READWRITE},
    {0x00934000, 0, 0x0F6CC000, F, 0, 0},
};

// Each allocation as base, size, committed, kind, region count, 详情.
using Row = std::tuple<ULONGLONG, ULONGLONG, ULONGLONG, UseKind, DWORD, std::string>;
std::vector<Row> Rows(const UseTable& t) {
    std::vector<Row> rows;
    for (size_t i = 0; i < t.count; ++i) {
        const Allocation& a = t.allocations[i];
        rows.emplace_back(a.base, a.size, a.committed, a.kind, a.regionCount, fake::Utf8(UseText(t.texts, a.detail)));
    }
    return rows;
}

class UsesTest : public ::testing::Test {
protected:
    void SetUp() override { fake::Reset(); }
    void TearDown() override {
        FreeUseTable(&table);
        EXPECT_EQ(0, fake::OpenKernelHandles());
    }
    void Build() { ASSERT_TRUE(BuildUseTable(kPid, walked, kRegions.data(), kRegions.size(), &table)); }
    template <class T> void Put(ULONG_PTR at, const T& value) { fake::WriteMemory(kPid, at, &value, sizeof value); }

    UseTable table = {};
    ULONGLONG walked = 0;  // the creation time of the process walked
};

// One process with every kind: an image with its file, a mapped file, a
// section without file, a thread's stack and TEB, the PEB, the default heap
// and one more, a private allocation of several regions, free space.
TEST_F(UsesTest, GivesEachAllocationItsKindAndDetailAndSumsThem) {
    walked = fake::AddProcess(kPid).created;
    fake::ProcessReading& p = fake::ReadingOf(kPid);
    p.mappedFiles[0x00400000] = u"\\??\\D:\\app\\target.exe";
    p.mappedFiles[0x00500000] = u"\\Device\\HarddiskVolume3\\data\\map.bin";  // as Windows names it
    fake::SetDosDevice('C', u"\\Device\\HarddiskVolume3");
    // The thread grants only the older query right.
    p.threads.push_back({kThread, 0x00800000, THREAD_QUERY_INFORMATION});
    REMOTE_TIB64 tib = {0, 0x00800000, 0x007FD000, 0, 0, 0, 0x00800000};
    fake::WriteMemory(kPid, 0x00800000, &tib, sizeof tib);
    p.peb = 0x00810000;
    REMOTE_PEB64 peb = {{}, 0x00820000, {}, 3, 16, 0x00810800};  // heaps listed at 0x00810800
    fake::WriteMemory(kPid, 0x00810000, &peb, sizeof peb);
    // The last one is no allocation's base: no heap of this process's.
    ULONGLONG heaps[3] = {0x00820000, 0x00920000, 0x00931000};
    fake::WriteMemory(kPid, 0x00810800, heaps, sizeof heaps);
    // A thread whose block does not name itself has no TEB there.
    p.threads.push_back({13, 0x00931000});
    REMOTE_TIB64 wrong = {0, 0x00934000, 0x00933000, 0, 0, 0, 0x00800000};
    fake::WriteMemory(kPid, 0x00931000, &wrong, sizeof wrong);
    // Another process's thread is none of its business.
    fake::AddProcess(kPid + 1);
    fake::ReadingOf(kPid + 1).threads.push_back({99, 0x00930000});
    REMOTE_TIB64 other = {0, 0x00934000, 0x00933000, 0, 0, 0, 0x00930000};
    fake::WriteMemory(kPid, 0x00930000, &other, sizeof other);
    // Nor is a thread of its that ended after the snapshot, its ID reused.
    p.threads.push_back({14, 0x00930000, ~0u, kPid + 1});

    Build();

    EXPECT_TRUE(table.processRead);
    ASSERT_FALSE(fake::OpenCalls().empty());
    EXPECT_EQ(MORVANE_ACCESS_QUERY | PROCESS_VM_READ, fake::OpenCalls()[0].access);
    EXPECT_EQ((std::vector<Row>{
        {0x00010000, 0x003F0000, 0, USE_FREE, 1, ""},
        {0x00400000, 0x8000, 0x8000, USE_IMAGE, 3, "D:\\app\\target.exe"},
        {0x00408000, 0x000F8000, 0, USE_FREE, 1, ""},
        {0x00500000, 0x10000, 0x10000, USE_MAPPED_FILE, 1, "C:\\data\\map.bin"},
        {0x00510000, 0x10000, 0x10000, USE_SHARED_MEMORY, 1, ""},
        {0x00520000, 0x001E0000, 0, USE_FREE, 1, ""},
        {0x00700000, 0x100000, 0x4000, USE_THREAD_STACK, 3, "线程ID:12"},
        {0x00800000, 0x10000, 0x2000, USE_PRIVATE_DATA, 2, "线程环境块 线程ID:12"},
        {0x00810000, 0x10000, 0x1000, USE_PRIVATE_DATA, 2, "进程环境块"},
        {0x00820000, 0x100000, 0x10000, USE_HEAP, 2, "默认堆"},
        {0x00920000, 0x10000, 0x4000, USE_HEAP, 2, "堆 0x00920000"},
        {0x00930000, 0x4000, 0x2000, USE_PRIVATE_DATA, 3, ""},
        {0x00934000, 0x0F6CC000, 0, USE_FREE, 1, ""},
    }), Rows(table));
    // size, committed, reserved, largest, blocks; for 未用 the largest free
    // region; 总计 leaves free space out.
    std::vector<std::vector<ULONGLONG>> sums;
    for (const UseSum& u : table.sums) sums.push_back({u.size, u.committed, u.reserved, u.largest, u.blocks});
    EXPECT_EQ((std::vector<std::vector<ULONGLONG>>{
        {0x8000, 0x8000, 0, 0x8000, 1},             // 镜像
        {0x10000, 0x10000, 0, 0x10000, 1},          // 映射文件
        {0x10000, 0x10000, 0, 0x10000, 1},          // 共享内存
        {0x110000, 0x14000, 0xFC000, 0x100000, 2},  // 堆
        {0x100000, 0x4000, 0xFC000, 0x100000, 1},   // 线程栈
        {0x24000, 0x5000, 0x1F000, 0x10000, 3},     // 私有数据
        {0x0FD94000, 0, 0, 0x0F6CC000, 4},          // 未用
        {0x25C000, 0x45000, 0x217000, 0x100000, 9}, // 总计
    }), sums);
}

// A process that has ended, or whose PID names another process by now:
// the kinds come from the types alone.
TEST_F(UsesTest, ProcessThatCannotBeOpenedGivesKindsFromTypesAlone) {
    for (bool reused : {false, true}) {
        SCOPED_TRACE(reused ? "PID reused" : "process ended");
        FreeUseTable(&table);
        fake::Reset();
        walked = 0;
        if (reused) {
            walked = fake::AddProcess(kPid).created;
            fake::AddProcess(kPid);
            fake::ReadingOf(kPid).mappedFiles[0x00400000] = u"C:\\other.exe";
        }
        Build();

        EXPECT_FALSE(table.processRead);
        std::vector<UseKind> kinds;
        for (size_t i = 0; i < table.count; ++i) {
            kinds.push_back(table.allocations[i].kind);
            EXPECT_EQ(0, UseText(table.texts, table.allocations[i].detail)[0]) << i;
        }
        const UseKind P = USE_PRIVATE_DATA, M = USE_MAPPED_FILE, N = USE_FREE;
        EXPECT_EQ((std::vector<UseKind>{N, USE_IMAGE, N, M, M, N, P, P, P, P, P, P, N}), kinds);
        EXPECT_EQ(0x25C000u, table.sums[USE_TOTAL_ROW].size);
        EXPECT_EQ(0, fake::OpenKernelHandles());
    }
}

// A list of 300 heaps is read whole; of a count no process reaches (garbage
// or hostile), the first USE_HEAP_LIST_CAPACITY entries.
TEST_F(UsesTest, ReadsLongHeapListsAndTheStartOfImpossibleOnes) {
    const struct {
        DWORD count;
        size_t written, other;  // entries in the list, and where the other heap is
    } cases[] = {{300, 300, 299}, {0x10000, USE_HEAP_LIST_CAPACITY + 1, USE_HEAP_LIST_CAPACITY - 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.count);
        FreeUseTable(&table);
        fake::Reset();
        walked = fake::AddProcess(kPid).created;
        fake::ReadingOf(kPid).peb = 0x00810000;
        Put(0x00810000, REMOTE_PEB64{{}, 0x00820000, {}, c.count, c.count, 0x00810800});
        std::vector<ULONGLONG> heaps(c.written, 0x00820000);
        heaps[c.other] = 0x00920000;
        fake::WriteMemory(kPid, 0x00810800, heaps.data(), heaps.size() * sizeof(ULONGLONG));
        Build();
        EXPECT_EQ((Row{0x00920000, 0x10000, 0x4000, USE_HEAP, 2, "堆 0x00920000"}), Rows(table)[10]);
    }
}

// From a 64-bit program, a WoW64 process's thread has a TEB and a stack in
// each width, and the process a PEB in each; its program's default heap is
// the 32-bit PEB's.
TEST_F(UsesTest, ReadsBothHalvesOfAWow64Process) {
    if (sizeof(void*) != 8) GTEST_SKIP() << "only a 64-bit program reads both halves";
    fake::Process& process = fake::AddProcess(kPid);
    process.wow64 = true;
    walked = process.created;
    fake::ProcessReading& p = fake::ReadingOf(kPid);
    p.threads.push_back({kThread, 0x00800000});
    Put(0x00800000, REMOTE_TIB64{0, 0x00800000, 0x007FD000, 0, 0, 0, 0x00800000});
    const ULONG_PTR teb32 = 0x00800000 + WOW64_TEB32_OFFSET;
    Put(teb32, REMOTE_TIB32{0, 0x00934000, 0x00933000, 0, 0, 0, teb32});
    p.peb = 0x00810000;
    p.peb32 = 0x00810800;
    Put(p.peb, REMOTE_PEB64{{}, 0x00820000, {}, 0, 0, 0});
    Put(p.peb32, REMOTE_PEB32{{}, 0x00920000, {}, 0, 0, 0});

    Build();

    std::vector<Row> rows = Rows(table);
    EXPECT_EQ((std::vector<Row>{
        {0x00700000, 0x100000, 0x4000, USE_THREAD_STACK, 3, "线程ID:12"},
        {0x00800000, 0x10000, 0x2000, USE_PRIVATE_DATA, 2, "线程环境块 线程ID:12"},
        {0x00810000, 0x10000, 0x1000, USE_PRIVATE_DATA, 2, "进程环境块"},
        {0x00820000, 0x100000, 0x10000, USE_HEAP, 2, "堆 0x00820000"},
        {0x00920000, 0x10000, 0x4000, USE_HEAP, 2, "默认堆"},
        {0x00930000, 0x4000, 0x2000, USE_THREAD_STACK, 3, "线程ID:12"},
    }), std::vector<Row>(rows.begin() + 6, rows.begin() + 12));
}

TEST(DrivePathTest, WritesTheDriveLetterForTheDevice) {
    const DosDrive drives[] = {{L'C', L"\\Device\\HarddiskVolume1"}, {L'E', L"\\Device\\HarddiskVolume10"}};
    const struct {
        const WCHAR* mapped;
        size_t units;
        const char* path;
    } rows[] = {
        {L"\\Device\\HarddiskVolume1\\windows\\a.dll", 300, "C:\\windows\\a.dll"},
        {L"\\device\\harddiskvolume10\\b.dll", 300, "E:\\b.dll"},  // not volume 1's
        {L"\\??\\C:\\windows\\a.dll", 300, "C:\\windows\\a.dll"},  // Wine
        {L"C:\\windows\\a.dll", 300, "C:\\windows\\a.dll"},
        {L"\\Device\\Mup\\server\\share\\f.dat", 300, "\\\\server\\share\\f.dat"},
        {L"\\Device\\HarddiskVolume12\\f.dat", 300, "\\Device\\HarddiskVolume12\\f.dat"},
        {L"\\Device\\HarddiskVolume1\\windows\\a.dll", 8, "C:\\wind"},
    };
    for (const auto& row : rows) {
        WCHAR out[300];
        DrivePath(row.mapped, drives, 2, out, row.units);
        EXPECT_EQ(row.path, fake::Utf8(out)) << fake::Utf8(row.mapped);
    }
}

}  // namespace
