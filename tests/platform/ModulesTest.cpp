// Tests of the stand-in's module handles, module file names and VirtualQuery.
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>
#include <windows.h>

#include "platform/posix/private.h"

namespace {

const DWORD kSentinel = 0xDEADBEEF;

std::string OwnPath() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
}

void CodeOfThisProgram() {}

// An address inside libc itself (a sanitizer may put its own strlen in front).
const void* CodeOfLibc() {
    void* libc = dlopen("libc.so.6", RTLD_NOW | RTLD_NOLOAD);
    const void* code = libc != nullptr ? dlsym(libc, "strlen") : nullptr;
    if (libc != nullptr) {
        dlclose(libc);
    }
    return code;
}

TEST(ModuleHandle, OfTheProgramIsWhereItsElfHeaderLies) {
    HMODULE program = GetModuleHandleA(nullptr);
    ASSERT_NE(nullptr, program);
    EXPECT_EQ(0, memcmp(program, "\x7f" "ELF", 4));
    EXPECT_EQ(program, ModuleHandleOfAddress(reinterpret_cast<const void*>(&CodeOfThisProgram)));
}

TEST(ModuleHandle, LibrariesAreFoundByWindowsAndPosixNames) {
    HMODULE libc = GetModuleHandleA("libc.so.6");
    ASSERT_NE(nullptr, libc);
    EXPECT_EQ(0, memcmp(libc, "\x7f" "ELF", 4));
    EXPECT_EQ(libc, ModuleHandleOfAddress(CodeOfLibc()));
    void* opened = dlopen("libc.so.6", RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(nullptr, opened);
    EXPECT_EQ(libc, ModuleHandleOfDlopen(opened));
    dlclose(opened);
    SetLastError(kSentinel);
    EXPECT_EQ(nullptr, GetModuleHandleA("nosuchlibrary.dll"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
}

TEST(ModuleFileName, OfTheProgramIsItsRealPath) {
    char path[PATH_MAX];
    SetLastError(kSentinel);
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
    EXPECT_EQ(OwnPath(), path);
    EXPECT_EQ(strlen(path), length);
    EXPECT_EQ(kSentinel, GetLastError());
    EXPECT_EQ(length, GetModuleFileNameA(GetModuleHandleA(nullptr), path, sizeof(path)));
}

TEST(ModuleFileName, OfALibraryIsItsPath) {
    char path[PATH_MAX];
    ASSERT_NE(0u, GetModuleFileNameA(GetModuleHandleA("libc.so.6"), path, sizeof(path)));
    EXPECT_EQ('/', path[0]);
    EXPECT_NE(nullptr, strstr(path, "libc.so.6"));
}

// Windows 98's answer: the name cut to size - 1 characters and terminated,
// the count size - 1, the last error untouched.
TEST(ModuleFileName, TooSmallABufferGetsTheCutNameTerminated) {
    const std::string own = OwnPath();
    const DWORD full = static_cast<DWORD>(own.size());
    for (DWORD size : {DWORD(5), full}) {
        char path[PATH_MAX];
        memset(path, 'z', sizeof(path));
        SetLastError(kSentinel);
        EXPECT_EQ(size - 1, GetModuleFileNameA(nullptr, path, size));
        EXPECT_EQ(own.substr(0, size - 1), path);
        EXPECT_EQ('z', path[size]);
        EXPECT_EQ(kSentinel, GetLastError());
    }

    char path[PATH_MAX];
    SetLastError(kSentinel);
    EXPECT_EQ(full, GetModuleFileNameA(nullptr, path, full + 1));
    EXPECT_EQ(own, path);
    EXPECT_EQ(kSentinel, GetLastError());

    EXPECT_EQ(0u, GetModuleFileNameA(nullptr, path, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
}

TEST(ModuleFileName, UnknownHandleFails) {
    char path[16];
    int notAModule = 0;
    SetLastError(kSentinel);
    EXPECT_EQ(0u, GetModuleFileNameA(reinterpret_cast<HMODULE>(&notAModule), path, sizeof(path)));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
}

TEST(VirtualQuery, CodeBelongsToItsModule) {
    MEMORY_BASIC_INFORMATION info;
    ASSERT_EQ(sizeof(info), VirtualQuery(reinterpret_cast<const void*>(&CodeOfThisProgram), &info, sizeof(info)));
    EXPECT_EQ(GetModuleHandleA(nullptr), info.AllocationBase);
    EXPECT_EQ(static_cast<DWORD>(MEM_COMMIT), info.State);
    EXPECT_EQ(static_cast<DWORD>(MEM_IMAGE), info.Type);
    EXPECT_EQ(static_cast<DWORD>(PAGE_EXECUTE_READ), info.Protect);
    EXPECT_LE(reinterpret_cast<uintptr_t>(info.BaseAddress), reinterpret_cast<uintptr_t>(&CodeOfThisProgram));
    EXPECT_GT(reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize,
              reinterpret_cast<uintptr_t>(&CodeOfThisProgram));

    ASSERT_EQ(sizeof(info), VirtualQuery(CodeOfLibc(), &info, sizeof(info)));
    EXPECT_EQ(GetModuleHandleA("libc.so.6"), info.AllocationBase);
}

TEST(VirtualQuery, MemoryOutsideModulesHasNoAllocationBase) {
    MEMORY_BASIC_INFORMATION info;
    int onTheStack = 0;
    ASSERT_EQ(sizeof(info), VirtualQuery(&onTheStack, &info, sizeof(info)));
    EXPECT_EQ(nullptr, info.AllocationBase);
    EXPECT_EQ(static_cast<DWORD>(MEM_FREE), info.State);
    ASSERT_EQ(sizeof(info), VirtualQuery(nullptr, &info, sizeof(info)));
    EXPECT_EQ(nullptr, info.AllocationBase);
}

TEST(VirtualQuery, ShortBufferFails) {
    MEMORY_BASIC_INFORMATION info;
    SetLastError(kSentinel);
    EXPECT_EQ(0u, VirtualQuery(&info, &info, sizeof(info) - 1));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
}

}  // namespace
