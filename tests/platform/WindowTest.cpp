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

TEST_F(WindowList, ReportsThreadProcessAndStyle)
{
    FakeWindow fake;
    fake.threadId = 11;
    fake.processId = 22;
    fake.style = WS_CHILD;
    HWND window = AddFakeWindow(fake);
    DWORD processId = 0;
    EXPECT_EQ(GetWindowThreadProcessId(window, &processId), 11u);
    EXPECT_EQ(processId, 22u);
    EXPECT_EQ(GetWindowLongA(window, GWL_STYLE), static_cast<LONG>(WS_CHILD));
    EXPECT_TRUE(IsWindow(window));
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

TEST_F(WindowList, RestoringAMinimisedWindowAndBringingItForward)
{
    FakeWindow fake;
    fake.iconic = true;
    fake.placementFlags = WPF_RESTORETOMAXIMIZED;
    HWND window = AddFakeWindow(fake);
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof(placement);
    ASSERT_TRUE(GetWindowPlacement(window, &placement));
    EXPECT_EQ(placement.flags, static_cast<UINT>(WPF_RESTORETOMAXIMIZED));
    EXPECT_EQ(placement.showCmd, static_cast<UINT>(SW_SHOWMINIMIZED));

    EXPECT_TRUE(IsIconic(window));
    ShowWindow(window, SW_SHOWMAXIMIZED);
    EXPECT_FALSE(IsIconic(window));
    EXPECT_TRUE(SetForegroundWindow(window));
    EXPECT_EQ(GetFakeForegroundWindow(), window);
    ASSERT_TRUE(GetFakeWindow(window, &fake));
    EXPECT_EQ(fake.lastShowCommand, SW_SHOWMAXIMIZED);
}

TEST_F(WindowList, PlacementQueryFailsWithTheChosenError)
{
    FakeWindow fake;
    fake.placementError = ERROR_ACCESS_DENIED;
    HWND window = AddFakeWindow(fake);
    WINDOWPLACEMENT placement = {};
    SetLastError(kSentinel);
    EXPECT_FALSE(GetWindowPlacement(window, &placement));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

}  // namespace
