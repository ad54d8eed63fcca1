// The process stand-in: the command line rebuilt from the arguments, the version query, reads of own memory.
#include <windows.h>

#include <gtest/gtest.h>

#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/posix/ProcessSeam.h"

namespace {

const DWORD kSentinel = 0xDEADBEEF;

std::string CommandLineOf(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(&argument[0]);
    }
    SetProcessArguments(static_cast<int>(argv.size()), argv.data());
    return GetCommandLineA();
}

TEST(GetCommandLineA, QuotesTheProgramAndArgumentsThatNeedIt) {
    EXPECT_EQ(CommandLineOf({"/usr/bin/ringwarden"}), "\"/usr/bin/ringwarden\"");
    EXPECT_EQ(CommandLineOf({"rw", "startserver", "Modem A", "/N:2"}), "\"rw\" startserver \"Modem A\" /N:2");
    EXPECT_EQ(CommandLineOf({"rw", "", "a\tb", "c\rd", "e\nf"}), "\"rw\" \"\" \"a\tb\" \"c\rd\" \"e\nf\"");
    EXPECT_EQ(CommandLineOf({"rw", "\"Line-1\"", "a\"b"}), "\"rw\" \"Line-1\" a\"b");
}

TEST(GetCommandLineA, KeepsTheArgumentsItWasGiven) {
    std::vector<std::string> arguments = {"rw", "showstatus"};
    std::vector<char*> argv = {&arguments[0][0], &arguments[1][0]};
    SetProcessArguments(2, argv.data());
    arguments[1] = "changed!!!";
    EXPECT_STREQ(GetCommandLineA(), "\"rw\" showstatus");
}

class VersionQuery : public testing::Test {
protected:
    void TearDown() override {
        SetReportedPlatformForTesting(VER_PLATFORM_WIN32_WINDOWS);
        FailVersionQueryForTesting(0);
    }

    OSVERSIONINFOA Query(BOOL expected) {
        OSVERSIONINFOA version;
        memset(&version, 0, sizeof(version));
        version.dwOSVersionInfoSize = sizeof(version);
        SetLastError(kSentinel);
        EXPECT_EQ(GetVersionExA(&version), expected);
        return version;
    }
};

TEST_F(VersionQuery, ReportsTheWindows9xFamily) {
    const OSVERSIONINFOA version = Query(TRUE);
    EXPECT_EQ(version.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_WINDOWS));
    EXPECT_EQ(version.dwMajorVersion, 4u);
    EXPECT_EQ(GetLastError(), kSentinel);
}

TEST_F(VersionQuery, RefusesARecordTooSmall) {
    OSVERSIONINFOA version;
    memset(&version, 0, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version) - 1;
    SetLastError(kSentinel);
    EXPECT_FALSE(GetVersionExA(&version));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(version.dwPlatformId, 0u);
}

TEST_F(VersionQuery, SeamReportsAnotherFamilyOrFails) {
    SetReportedPlatformForTesting(VER_PLATFORM_WIN32_NT);
    EXPECT_EQ(Query(TRUE).dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
    FailVersionQueryForTesting(ERROR_INVALID_PARAMETER);
    Query(FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(ReadProcessMemory, ReadsReadableMemory) {
    const char source[] = "stack words";
    char copy[sizeof(source)] = {};
    SIZE_T read = 0;
    EXPECT_TRUE(ReadProcessMemory(GetCurrentProcess(), source, copy, sizeof(copy), &read));
    EXPECT_EQ(read, sizeof(source));
    EXPECT_STREQ(copy, source);
}

TEST(ReadProcessMemory, FailsWithoutFaultingOnUnreadableMemory) {
    const long page = sysconf(_SC_PAGESIZE);
    char* pages = static_cast<char*>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(pages, MAP_FAILED);
    ASSERT_EQ(mprotect(pages + page, page, PROT_NONE), 0);
    char copy[16];
    SIZE_T read = 99;
    SetLastError(kSentinel);
    EXPECT_FALSE(ReadProcessMemory(GetCurrentProcess(), pages + page, copy, sizeof(copy), &read));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PARTIAL_COPY));
    EXPECT_EQ(read, 0u);
    EXPECT_FALSE(ReadProcessMemory(GetCurrentProcess(), pages + page - 8, copy, sizeof(copy), &read));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PARTIAL_COPY));
    EXPECT_EQ(read, 8u);
    EXPECT_FALSE(ReadProcessMemory(GetCurrentProcess(), nullptr, copy, sizeof(copy), nullptr));
    munmap(pages, 2 * page);
}

TEST(ReadProcessMemory, ReadsOnlyTheCallingProcess) {
    char source = 'x';
    char copy = 0;
    SetLastError(kSentinel);
    EXPECT_FALSE(ReadProcessMemory(reinterpret_cast<HANDLE>(1234), &source, &copy, 1, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(copy, 0);
}

}  // namespace
