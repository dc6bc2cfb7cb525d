// The counters the soak reads from the deck, checked on this process first.
#include "process_counters.h"

#include <gtest/gtest.h>

#include <vector>

namespace deck_test {
namespace {

TEST(ProcessCountersTest, SeeEachBrushAndWindowAProcessMakesAndFrees) {
    constexpr int kBrushes = 25, kWindows = 3;
    HANDLE self = GetCurrentProcess();
    int gdiBefore = GdiObjectCount(self);
    ASSERT_GE(gdiBefore, 0) << "the GDI handle table cannot be read";
    std::vector<HBRUSH> brushes;
    for (int i = 0; i < kBrushes; i++) brushes.push_back(CreateSolidBrush(RGB(i, 0, 0)));
    EXPECT_EQ(GdiObjectCount(self), gdiBefore + kBrushes);
    for (HBRUSH b : brushes) DeleteObject(b);
    EXPECT_EQ(GdiObjectCount(self), gdiBefore);

    // The first window of a thread brings a hidden one of the system's along
    // (its IME window), which lasts while the thread has windows.
    HWND first =
        CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    int windowsBefore = WindowCount(GetCurrentProcessId());
    HWND top = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                               nullptr);
    HWND child =
        CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 0, 5, 5, top, nullptr, nullptr, nullptr);
    HWND grandchild =
        CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 0, 2, 2, child, nullptr, nullptr, nullptr);
    ASSERT_TRUE(top && child && grandchild);
    EXPECT_EQ(WindowCount(GetCurrentProcessId()), windowsBefore + kWindows);
    DestroyWindow(top);
    EXPECT_EQ(WindowCount(GetCurrentProcessId()), windowsBefore);
    DestroyWindow(first);

    ProcessCounters c = ReadCounters(self, GetCurrentProcessId());
    EXPECT_GT(c.privateBytes, 0u);
    EXPECT_GT(c.workingSet, 0u);
}

TEST(ProcessCountersTest, SeeMemoryAProcessTakes) {
    constexpr SIZE_T kBytes = 8 << 20;
    HANDLE self = GetCurrentProcess();
    ProcessCounters before = ReadCounters(self, GetCurrentProcessId());
    void* block = VirtualAlloc(nullptr, kBytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    ASSERT_NE(block, nullptr);
    memset(block, 1, kBytes);
    ProcessCounters after = ReadCounters(self, GetCurrentProcessId());
    VirtualFree(block, 0, MEM_RELEASE);
    EXPECT_GE(after.privateBytes, before.privateBytes + kBytes / 2)
        << Describe(before) << " / " << Describe(after);
}

} // namespace
} // namespace deck_test
