// Tests of the stand-in's LoadStringA over the compiled-in string table.
#include <string.h>

#include <gtest/gtest.h>
#include <windows.h>

namespace {

const DWORD kSentinel = 0xDEADBEEF;

TEST(LoadString, CopiesTheEntryAndCountsIt) {
    char buffer[64];
    memset(buffer, 'z', sizeof(buffer));
    EXPECT_EQ(10, LoadStringA(nullptr, 25, buffer, sizeof(buffer)));
    EXPECT_STREQ("Ringwarden", buffer);
    EXPECT_EQ(10, LoadStringA(GetModuleHandleA(nullptr), 25, buffer, sizeof(buffer)));
}

TEST(LoadString, CutsToOneLessThanTheLimitAndTerminates) {
    char buffer[8];
    memset(buffer, 'z', sizeof(buffer));
    EXPECT_EQ(4, LoadStringA(nullptr, 25, buffer, 5));
    EXPECT_STREQ("Ring", buffer);
    EXPECT_EQ('z', buffer[5]);
    EXPECT_EQ(0, LoadStringA(nullptr, 25, buffer, 1));
    EXPECT_STREQ("", buffer);
}

TEST(LoadString, NoRoomWritesNothing) {
    char buffer[4] = {'a', 'b', 'c', '\0'};
    SetLastError(kSentinel);
    EXPECT_EQ(0, LoadStringA(nullptr, 25, buffer, 0));
    EXPECT_STREQ("abc", buffer);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ(0, LoadStringA(nullptr, 25, nullptr, 10));
}

TEST(LoadString, MissingEntryGivesZeroAndAnEmptyText) {
    char buffer[16] = "old";
    SetLastError(kSentinel);
    EXPECT_EQ(0, LoadStringA(nullptr, 24, buffer, sizeof(buffer)));
    EXPECT_STREQ("", buffer);
    EXPECT_EQ(static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND), GetLastError());
    EXPECT_EQ(0, LoadStringA(nullptr, 0x10019, buffer, sizeof(buffer)));
}

TEST(LoadString, OtherModulesHoldNoTable) {
    char buffer[16];
    HMODULE library = GetModuleHandleA("libc.so.6");
    ASSERT_NE(nullptr, library);
    SetLastError(kSentinel);
    EXPECT_EQ(0, LoadStringA(library, 25, buffer, sizeof(buffer)));
    EXPECT_EQ(static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND), GetLastError());
}

}  // namespace
