// Tests of the stand-in's last error, FormatMessageA and LocalFree.
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <fstream>
#include <regex>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <windows.h>

#include "platform/posix/private.h"
#include "tests/support/Paths.h"

namespace {

const DWORD kSentinel = 0xDEADBEEF;
const DWORD kSystemFlags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM;

TEST(LastError, BelongsToTheThread) {
    SetLastError(ERROR_ACCESS_DENIED);
    DWORD seenByOther = kSentinel;
    std::thread other([&] {
        seenByOther = GetLastError();
        SetLastError(ERROR_INVALID_HANDLE);
    });
    other.join();
    EXPECT_EQ(0u, seenByOther);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
}

TEST(LastError, ErrnoValuesMapToWin32Codes) {
    const struct {
        int error;
        DWORD code;
    } cases[] = {
        {ENOENT, ERROR_FILE_NOT_FOUND}, {EACCES, ERROR_ACCESS_DENIED}, {EBADF, ERROR_INVALID_HANDLE},
        {ENOMEM, ERROR_NOT_ENOUGH_MEMORY}, {EINVAL, ERROR_INVALID_PARAMETER}, {EPIPE, ERROR_BROKEN_PIPE},
        {EFAULT, ERROR_NOACCESS}, {EXDEV, ERROR_GEN_FAILURE},
    };
    for (const auto& c : cases) {
        SetLastError(kSentinel);
        EXPECT_EQ(c.code, SetLastErrorFromErrno(c.error)) << c.error;
        EXPECT_EQ(c.code, GetLastError()) << c.error;
    }
}

// Every error code the stand-in declares, and every one either supervisor
// library returns, must have a description, or a failure report would end
// in an empty system text.
TEST(FormatMessage, EveryDeclaredAndReturnedErrorCodeHasADescription) {
    const std::regex declared("#define ((?:SUPRV_)?ERROR_[A-Z_]+) ([0-9]+)[Lu]");
    int checked = 0;
    for (const char* path :
         {"/platform/posix/include/windows.h", "/supervisor/SupervisorErrors.h"}) {
        std::ifstream header(SourceDir() + path);
        ASSERT_TRUE(header.good()) << path;
        const int before = checked;
        for (std::string line; std::getline(header, line);) {
            std::smatch match;
            if (!std::regex_search(line, match, declared)) {
                continue;
            }
            const std::string name = match[1];
            const DWORD code = static_cast<DWORD>(std::stoul(match[2]));
            LPSTR text = nullptr;
            SetLastError(kSentinel);
            const DWORD length = FormatMessageA(kSystemFlags | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                                reinterpret_cast<LPSTR>(&text), 0, nullptr);
            ASSERT_NE(0u, length) << name << " has no description";
            ASSERT_NE(nullptr, text);
            EXPECT_EQ(strlen(text), length);
            EXPECT_GT(length, 2u);
            EXPECT_EQ(0, strcmp(text + length - 2, "\r\n")) << name;
            EXPECT_EQ(nullptr, LocalFree(text));
            ++checked;
        }
        EXPECT_GT(checked - before, 10) << path;
    }
}

// Error 193's text names the file with an insert, as Windows words it.
TEST(FormatMessage, InsertsTakeArgumentsOrStayWithIgnoreInserts) {
    LPSTR text = reinterpret_cast<LPSTR>(0x1);
    SetLastError(kSentinel);
    EXPECT_EQ(0u, FormatMessageA(kSystemFlags, nullptr, ERROR_BAD_EXE_FORMAT, 0, reinterpret_cast<LPSTR>(&text), 0,
                                 nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ(nullptr, text);

    const DWORD length = FormatMessageA(kSystemFlags | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_BAD_EXE_FORMAT,
                                        0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    ASSERT_NE(nullptr, text);
    EXPECT_STREQ("%1 is not a valid program or library.\r\n", text);
    EXPECT_EQ(strlen(text), length);
    LocalFree(text);

    DWORD_PTR arguments[] = {reinterpret_cast<DWORD_PTR>("rasapi32.dll")};
    char buffer[64];
    EXPECT_EQ(49u, FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY, nullptr,
                                  ERROR_BAD_EXE_FORMAT, 0, buffer, sizeof(buffer), reinterpret_cast<va_list*>(arguments)));
    EXPECT_STREQ("rasapi32.dll is not a valid program or library.\r\n", buffer);
}

TEST(FormatMessage, UnknownCodeFailsAndLeavesTheBufferNull) {
    LPSTR text = reinterpret_cast<LPSTR>(0x1);
    SetLastError(kSentinel);
    EXPECT_EQ(0u, FormatMessageA(kSystemFlags | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, 0xDEAD, 0,
                                 reinterpret_cast<LPSTR>(&text), 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND), GetLastError());
    EXPECT_EQ(nullptr, text);
    EXPECT_EQ(nullptr, LocalFree(nullptr));
}

TEST(FormatMessage, CallersBufferMustHoldTheWholeText) {
    char small[8];
    SetLastError(kSentinel);
    EXPECT_EQ(0u, FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ACCESS_DENIED, 0, small, sizeof(small),
                                 nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    char large[256];
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ACCESS_DENIED, 0, large, sizeof(large), nullptr);
    EXPECT_EQ(strlen(large), length);
}

TEST(FormatMessage, OnlyTheSystemSourceIsKnown) {
    LPSTR text = nullptr;
    SetLastError(kSentinel);
    EXPECT_EQ(0u, FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_STRING, "x", 0, 0,
                                 reinterpret_cast<LPSTR>(&text), 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ(nullptr, text);
}

}  // namespace
