// The restrictions of the Windows 95/98 calls that the stand-in keeps, so that a call only the NT family takes fails here too.
#include <windows.h>

#include <gtest/gtest.h>

#include "platform/posix/handles.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <unistd.h>

namespace {

constexpr DWORD kSentinel = 0xDEADBEEF;

std::atomic<int> g_started{0};

DWORD WINAPI CountStart(LPVOID)
{
    ++g_started;
    return 0;
}

TEST(Win9xRules, CreateThreadWithoutAPlaceForTheIdFailsAndStartsNothing)
{
    g_started = 0;
    SetLastError(kSentinel);
    EXPECT_EQ(CreateThread(nullptr, 0, CountStart, nullptr, 0, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(g_started.load(), 0);

    DWORD threadId = 0;
    HANDLE thread = CreateThread(nullptr, 0, CountStart, nullptr, 0, &threadId);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(threadId, 0u);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(g_started.load(), 1);
    CloseHandle(thread);
}

TEST(Win9xRules, WriteFileWithoutAPlaceForTheCountFailsAndWritesNothing)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    SetLastError(kSentinel);
    EXPECT_FALSE(WriteFile(HandleFromDescriptor(fds[1]), "lost", 4, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(HandleFromDescriptor(fds[1]), "kept", 4, &written, nullptr));
    close(fds[1]);
    char data[16];
    EXPECT_EQ(read(fds[0], data, sizeof(data)), 4);
    EXPECT_EQ(std::string(data, 4), "kept");
    close(fds[0]);
}

// The NT family's larger version record, which ends in five more fields.
TEST(Win9xRules, GetVersionExKnowsOnlyThePlainRecord)
{
    struct {
        OSVERSIONINFOA plain;
        WORD servicePackMajor, servicePackMinor, suiteMask;
        BYTE productType, reserved;
    } extended = {};
    extended.plain.dwOSVersionInfoSize = sizeof(extended);
    ASSERT_EQ(sizeof(extended), 156u);
    SetLastError(kSentinel);
    EXPECT_FALSE(GetVersionExA(&extended.plain));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(extended.plain.dwMajorVersion, 0u);
}

// Windows 95 tells only whether the new value is below, at or above zero.
TEST(Win9xRules, InterlockedResultsTellOnlyTheSign)
{
    LONG volatile value = 5;
    EXPECT_GT(InterlockedIncrement(&value), 0);
    EXPECT_EQ(value, 6);
    value = 1;
    EXPECT_EQ(InterlockedDecrement(&value), 0);
    EXPECT_LT(InterlockedDecrement(&value), 0);
    EXPECT_EQ(value, -1);
    value = 100;
    EXPECT_NE(InterlockedIncrement(&value), 101) << "nothing may come to rely on the value";
}

}  // namespace
