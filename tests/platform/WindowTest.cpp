// The window stand-ins over the window list: empty on POSIX, filled with fake windows by tests.
#include <windows.h>

#include <gtest/gtest.h>

#include "platform/posix/WindowListSeam.h"

#include <vector>

namespace {

constexpr DWORD kSentinel = 0xDEADBEEF;

class WindowList : public ::testing::Test {
protected:
    void SetUp() override { ClearFakeWindows(); }
    void TearDown() override { ClearFakeWindows(); }
};

BOOL CALLBACK Collect(HWND window, LPARAM parameter)
{
    reinterpret_cast<std::vector<HWND>*>(parameter)->push_back(window);
    return TRUE;
}

BOOL CALLBACK StopAtFirst(HWND window, LPARAM parameter)
{
    reinterpret_cast<std::vector<HWND>*>(parameter)->push_back(window);
    return FALSE;
}

TEST_F(WindowList, EmptyWithoutAWindowSystem)
{
    std::vector<HWND> seen;
    EXPECT_TRUE(EnumWindows(Collect, reinterpret_cast<LPARAM>(&seen)));
    EXPECT_TRUE(seen.empty());
}

TEST_F(WindowList, EnumeratesInOrderAndStopsWhenTold)
{
    HWND first = AddFakeWindow({});
    HWND second = AddFakeWindow({});
    std::vector<HWND> seen;
    EXPECT_TRUE(EnumWindows(Collect, reinterpret_cast<LPARAM>(&seen)));
    EXPECT_EQ(seen, (std::vector<HWND>{first, second}));

    seen.clear();
    EXPECT_FALSE(EnumWindows(StopAtFirst, reinterpret_cast<LPARAM>(&seen)));
    EXPECT_EQ(seen, std::vector<HWND>{first});
}

TEST_F(WindowList, RemovedWindowIsGoneForEveryFunction)
{
    HWND window = AddFakeWindow({});
    RemoveFakeWindow(window);
    DWORD processId = kSentinel;
    WINDOWPLACEMENT placement = {};
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(IsWindow(nullptr));
    SetLastError(kSentinel);
    EXPECT_EQ(GetWindowThreadProcessId(window, &processId), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_EQ(processId, kSentinel);
    EXPECT_FALSE(GetWindowPlacement(window, &placement));
    EXPECT_FALSE(ShowWindow(window, SW_RESTORE));
    EXPECT_FALSE(SetForegroundWindow(window));
    EXPECT_NE(AddFakeWindow({}), window);  // Handles are not reused.
}

}  // namespace
