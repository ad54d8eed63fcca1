// LoadLibraryA, GetProcAddress and FreeLibrary on POSIX: name mapping, the three failure codes, own exports only.
#include <windows.h>

#include "tests/support/Paths.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

const DWORD kSentinel = 0xDEADBEEF;

std::string Simulator()
{
    return BuildDir() + "/librasapi32.so";
}

class LoaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/ringwarden-loader-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
    }

    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    std::string Junk(const char* name)
    {
        std::string path = folder + "/" + name;
        std::ofstream(path) << "not a shared object\n";
        return path;
    }

    std::string folder;
};

TEST_F(LoaderTest, MissingLibraryIsDllNotFoundAsOnWindows98)
{
    for (const std::string& name : {std::string("nosuchlibrary.dll"), folder + "/libabsent.so"}) {
        SetLastError(kSentinel);
        EXPECT_EQ(LoadLibraryA(name.c_str()), nullptr) << name;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DLL_NOT_FOUND)) << name;
    }
}

TEST_F(LoaderTest, FileThatIsNoLibraryIsBadExeFormat)
{
    std::string path = Junk("libjunk.so");
    SetLastError(kSentinel);
    EXPECT_EQ(LoadLibraryA(path.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
}

TEST_F(LoaderTest, WindowsNamesAreFoundThroughTheLinkersSearch)
{
    // The linker reads its search path once, at start: the check runs in a
    // freshly started copy of this test program.
    Junk("libjunk.so");
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    std::string path = BuildDir() + ":" + folder;
    setenv("LD_LIBRARY_PATH", path.c_str(), 1);
    EXPECT_EXIT(
        {
            HMODULE module = LoadLibraryA("RasApi32.DLL");
            bool found = module != nullptr && GetProcAddress(module, "SuprvInitialize") != nullptr;
            SetLastError(kSentinel);
            bool junk = LoadLibraryA("JUNK.dll") == nullptr && GetLastError() == ERROR_BAD_EXE_FORMAT;
            _exit(found && junk ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    unsetenv("LD_LIBRARY_PATH");
}

TEST_F(LoaderTest, ModuleHandleIsWhereTheLibraryIsMapped)
{
    HMODULE module = LoadLibraryA(Simulator().c_str());
    ASSERT_NE(module, nullptr);
    FARPROC initialize = GetProcAddress(module, "SuprvInitialize");
    ASSERT_NE(initialize, nullptr);
    MEMORY_BASIC_INFORMATION info = {};
    ASSERT_NE(VirtualQuery(reinterpret_cast<void*>(initialize), &info, sizeof(info)), 0u);
    EXPECT_EQ(info.AllocationBase, static_cast<void*>(module));
    char path[4096];
    DWORD length = GetModuleFileNameA(module, path, sizeof(path));
    EXPECT_EQ(std::filesystem::canonical(std::string(path, length)), std::filesystem::canonical(Simulator()));
    EXPECT_TRUE(FreeLibrary(module));
}

TEST_F(LoaderTest, OnlyTheModulesOwnExportsAreFound)
{
    HMODULE module = LoadLibraryA(Simulator().c_str());
    ASSERT_NE(module, nullptr);
    for (const char* name : {"SuprvNothing", "malloc", "SimLoad"}) {
        SetLastError(kSentinel);
        EXPECT_EQ(GetProcAddress(module, name), nullptr) << name;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND)) << name;
    }
    EXPECT_TRUE(FreeLibrary(module));
}

TEST_F(LoaderTest, EachLoadNeedsItsOwnFree)
{
    HMODULE first = LoadLibraryA(Simulator().c_str());
    HMODULE second = LoadLibraryA(Simulator().c_str());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, second);
    EXPECT_TRUE(FreeLibrary(first));
    EXPECT_NE(GetProcAddress(first, "SuprvRequest"), nullptr);
    EXPECT_TRUE(FreeLibrary(first));

    SetLastError(kSentinel);
    EXPECT_EQ(GetProcAddress(first, "SuprvRequest"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SetLastError(kSentinel);
    EXPECT_FALSE(FreeLibrary(first));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

}  // namespace
