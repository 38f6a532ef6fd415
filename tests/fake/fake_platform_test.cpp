// Checks of the fake itself where the product's tests rely on it behaving
// like the platform.
#include <gtest/gtest.h>

#include "tests/fake/fake_platform.h"

namespace {

class FakePlatform : public ::testing::Test {
protected:
    void SetUp() override { fake::Reset(); }
};

TEST_F(FakePlatform, WsprintfFormatsTheFormsTheProgramUses) {
    WCHAR out[128];
    wsprintfW(out, L"0x%08x|%u|%d|%s|%u%%", 0x1000u, 4294967295u, -5, L"名", 100u);
    EXPECT_EQ("0x00001000|4294967295|-5|名|100%", fake::Utf8(out));
}

TEST_F(FakePlatform, HeapStepsLeaveTheLastErrorAloneOnSuccess) {
    fake::Process& p = fake::AddProcess(7);
    p.heaps.push_back({0x10000, HF32_DEFAULT, {}});
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPHEAPLIST, 7);
    ASSERT_NE(INVALID_HANDLE_VALUE, snap);
    HEAPLIST32 h = {};
    h.dwSize = sizeof h;
    SetLastError(1234);
    EXPECT_TRUE(Heap32ListFirst(snap, &h));
    EXPECT_EQ(1234u, GetLastError());
    EXPECT_FALSE(Heap32ListNext(snap, &h));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_FILES), GetLastError());
    CloseHandle(snap);
    EXPECT_EQ(0, fake::OpenKernelHandles());
}

}  // namespace
