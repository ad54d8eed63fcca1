// Tests of the exception family's texts, its ownership rules, ThrowLastError and GetModulePath.
#include <dlfcn.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "errors/ClException.h"

namespace {

const char kJoint[] = "\n\n System Reports:\n";
const char kAccessDeniedText[] = "Access is not permitted.\r\n";

TEST(ClExceptionText, EmptyTextBecomesError) {
    ClException failure(ClString(), 0);
    EXPECT_STREQ("ERROR", failure.message.GetText());
    EXPECT_EQ(0, failure.fromFault);
    EXPECT_EQ(0, failure.Reserved());
    EXPECT_STREQ("given", ClException(ClString("given")).message.GetText());
}

TEST(ClExceptionText, Win32WithoutTextJoinsTheSystemText) {
    ClWin32Exception failure(ERROR_ACCESS_DENIED);
    EXPECT_EQ(std::string("WinAPI Error") + kJoint + kAccessDeniedText, failure.message.GetText());
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), failure.errorCode);
}

TEST(ClExceptionText, Win32WithEmptyTextStartsWithError) {
    ClWin32Exception failure(ERROR_ACCESS_DENIED, ClString(), 0);
    EXPECT_EQ(std::string("ERROR") + kJoint + kAccessDeniedText, failure.message.GetText());
}

TEST(ClExceptionText, CodeZeroAddsNoJoint) {
    EXPECT_STREQ("WinAPI Error", ClWin32Exception(0).message.GetText());
    EXPECT_STREQ("Cannot load", ClWin32Exception(0, ClString("Cannot load"), 0).message.GetText());
}

TEST(ClExceptionText, CodeWithoutSystemTextEndsWithTheJoint) {
    ClWin32Exception failure(0xDEAD, ClString("text"), 0);
    EXPECT_EQ(std::string("text") + kJoint, failure.message.GetText());
}

// A damaged library's code: its text holds an insert, which the report shows
// as it stands rather than losing the whole text.
TEST(ClExceptionText, SystemTextWithAnInsertIsJoinedWhole) {
    ClWin32Exception failure(ERROR_BAD_EXE_FORMAT, ClString("text"), 0);
    EXPECT_EQ(std::string("text") + kJoint + "%1 is not a valid program or library.\r\n", failure.message.GetText());
}

TEST(ClExceptionText, MemoryTextNamesTheSize) {
    EXPECT_STREQ("Not enough memory", ClMemException(0, ClString()).message.GetText());
    EXPECT_STREQ("Not enough memory\n\nUnable allocate 100 bytes", ClMemException(100, ClString()).message.GetText());
    EXPECT_STREQ("own\n\nUnable allocate 4294967295 bytes",
                 ClMemException(0xFFFFFFFF, ClString("own")).message.GetText());
}

TEST(ClExceptionText, StructuredExceptionComesFromAFault) {
    ClStructuredException failure(ClString("report"));
    EXPECT_EQ(1, failure.fromFault);
    EXPECT_STREQ("report", failure.message.GetText());
}

TEST(ClExceptionOwnership, DeletingThroughTheBaseReleasesTheText) {
    ClString text("shared report");
    ClException* failures[] = {
        new ClException(text),
        new ClWin32Exception(0, text, 0),
        new ClMemException(0, text),
        new ClStructuredException(text),
    };
    EXPECT_EQ(5, text.GetData()->refs);
    for (ClException* failure : failures) {
        delete failure;
    }
    EXPECT_EQ(1, text.GetData()->refs);
}

TEST(ClExceptionOwnership, ThrowLastErrorCarriesTheThreadsCode) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    try {
        ThrowLastError();
    } catch (ClWin32Exception* failure) {
        EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), failure->errorCode);
        EXPECT_EQ(0, failure->fromFault);
        delete failure;
        return;
    }
    FAIL() << "nothing was thrown";
}

TEST(ClExceptionOwnership, CatchableAsBaseAndAsUntypedPointer) {
    try {
        throw new ClMemException(0, ClString());
    } catch (ClException* failure) {
        delete failure;
    }
    try {
        throw new ClStructuredException(ClString("x"));
    } catch (void* failure) {
        delete static_cast<ClException*>(failure);
    }
}

std::string RealPath(const char* path) {
    char* resolved = realpath(path, nullptr);
    std::string result = resolved != nullptr ? resolved : "";
    free(resolved);
    return result;
}

TEST(GetModulePath, NamesTheRunningProgram) {
    ClString path("old");
    GetModulePath(path, nullptr);
    EXPECT_EQ(RealPath("/proc/self/exe"), path.GetText());
}

TEST(GetModulePath, UnknownModuleThrowsAndLeavesTheTextAlone) {
    ClString path("old");
    int anything = 0;
    try {
        GetModulePath(path, reinterpret_cast<HMODULE>(&anything));
        FAIL() << "nothing was thrown";
    } catch (ClWin32Exception* failure) {
        EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), failure->errorCode);
        delete failure;
    }
    EXPECT_STREQ("old", path.GetText());
}

// Loads a copy of a small system library from a path of exactly the given
// length, so the path's length against the limit can be chosen.
class LongModulePath : public ::testing::Test {
protected:
    void SetUp() override {
        char folderTemplate[] = "/tmp/rw-modpath-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(folderTemplate));
        folder = folderTemplate;
        void* loaded = dlopen("libdl.so.2", RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(nullptr, loaded);
        Dl_info info{};
        ASSERT_NE(0, dladdr(dlsym(loaded, "dlopen"), &info));
        source = info.dli_fname;
        dlclose(loaded);
    }
    void TearDown() override {
        for (void* handle : handles) {
            dlclose(handle);
        }
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    // The path of a copy whose full name is exactly `length` characters.
    std::string LoadCopy(size_t length, const std::string& name) {
        // Folder names of at most 200 characters, as one name may not exceed 255.
        std::string sub = folder;
        size_t missing = length - sub.size() - 1 - name.size();
        while (missing > 0) {
            size_t part = missing - 1 > 200 ? 200 : missing - 1;
            if (missing - (part + 1) == 1) {
                part -= 1;  // Leave no room for an empty folder name.
            }
            sub += "/" + std::string(part, 'd');
            missing -= part + 1;
            mkdir(sub.c_str(), 0700);
        }
        const std::string path = sub + "/" + name;
        std::ifstream in(source, std::ios::binary);
        std::ofstream(path, std::ios::binary) << in.rdbuf();
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        EXPECT_NE(nullptr, handle) << dlerror();
        handles.push_back(handle);
        return path;
    }

    std::string folder;
    std::string source;
    std::vector<void*> handles;
};

TEST_F(LongModulePath, PathsAroundTheFirstLimitComeBackWhole) {
    const struct {
        size_t length;
        const char* name;
    } cases[] = {{258, "libpathshort.so"}, {259, "libpathexact.so"}, {260, "libpathlimit.so"}, {700, "libpathlong.so"}};
    for (const auto& c : cases) {
        const std::string path = LoadCopy(c.length, c.name);
        HMODULE module = GetModuleHandleA(c.name);
        ASSERT_NE(nullptr, module) << c.name;
        ClString out;
        GetModulePath(out, module);
        EXPECT_EQ(path, out.GetText()) << c.length;
    }
}

}  // namespace
