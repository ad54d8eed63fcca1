// The thread stand-ins: creation, waiting, exit codes and the lifetime of a thread handle.
#include <windows.h>

#include <gtest/gtest.h>

#include "platform/posix/ThreadSeam.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {

constexpr DWORD kSentinel = 0xDEADBEEF;

struct Gate {
    std::atomic<bool> open{false};
    std::atomic<DWORD> threadId{0};
};

DWORD WINAPI WaitAtGate(LPVOID parameter)
{
    auto* gate = static_cast<Gate*>(parameter);
    gate->threadId = GetCurrentThreadId();
    while (!gate->open) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return 42;
}

TEST(Thread, StillActiveUntilItsRoutineReturnsThenItsExitCode)
{
    Gate gate;
    DWORD threadId = 0;
    HANDLE thread = CreateThread(nullptr, 0, WaitAtGate, &gate, 0, &threadId);
    ASSERT_NE(thread, nullptr);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_EQ(WaitForSingleObject(thread, 20), static_cast<DWORD>(WAIT_TIMEOUT));

    gate.open = true;
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_EQ(threadId, gate.threadId.load());
    EXPECT_NE(threadId, GetCurrentThreadId());
    EXPECT_TRUE(CloseHandle(thread));
}

// Sanitizers see a leak or a use after free if either side frees wrongly.
TEST(Thread, HandleClosedWhileRunningLetsTheThreadFinish)
{
    static Gate gate;
    DWORD threadId = 0;
    HANDLE thread = CreateThread(nullptr, 0, WaitAtGate, &gate, 0, &threadId);
    ASSERT_NE(thread, nullptr);
    EXPECT_TRUE(CloseHandle(thread));
    gate.open = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

TEST(Thread, ClosedOrForeignHandlesAreRefused)
{
    Gate gate;
    gate.open = true;
    DWORD threadId = 0;
    HANDLE thread = CreateThread(nullptr, 0, WaitAtGate, &gate, 0, &threadId);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
    ASSERT_TRUE(CloseHandle(thread));

    int notAThread = 0;
    for (HANDLE stale : {thread, static_cast<HANDLE>(&notAThread)}) {
        DWORD code = 0;
        SetLastError(kSentinel);
        EXPECT_EQ(WaitForSingleObject(stale, INFINITE), static_cast<DWORD>(WAIT_FAILED));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        SetLastError(kSentinel);
        EXPECT_FALSE(GetExitCodeThread(stale, &code));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        SetLastError(kSentinel);
        EXPECT_FALSE(CloseHandle(stale));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
}

TEST(Thread, CreationCanBeMadeToFail)
{
    Gate gate;
    gate.open = true;
    FailNextThreadCreations(1);
    DWORD threadId = 0;
    SetLastError(kSentinel);
    EXPECT_EQ(CreateThread(nullptr, 0, WaitAtGate, &gate, 0, &threadId), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    HANDLE thread = CreateThread(nullptr, 0, WaitAtGate, &gate, 0, &threadId);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

}  // namespace
