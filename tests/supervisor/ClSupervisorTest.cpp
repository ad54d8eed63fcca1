// ClLibrary and ClSupervisor: loading, the two failure texts, and the lazy look-up of each function.
#include "supervisor/ClSupervisor.h"

#include "base/Resources.h"
#include "errors/ClException.h"
#include "tests/support/Paths.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string>

namespace {

// The system's description of an error code, as ClWin32Exception joins it on.
std::string SystemText(DWORD code)
{
    ClWin32Exception plain(code, ClString("x"));
    std::string text = plain.message.GetText();
    return text.substr(1);
}

// Catches the ClWin32Exception* that `body` throws and returns it.
template <class Body>
ClWin32Exception* Caught(Body body)
{
    try {
        body();
    } catch (ClWin32Exception* failure) {
        return failure;
    }
    return nullptr;
}

TEST(ClLibraryTest, StartsEmptyAndFreeWithoutModuleDoesNothing)
{
    ClLibrary library;
    EXPECT_TRUE(library.name.IsEmpty());
    EXPECT_EQ(library.module, nullptr);
    library.Free();
    EXPECT_EQ(library.module, nullptr);
}

TEST(ClLibraryTest, MissingLibraryNamesItAndKeepsTheHandleNull)
{
    ClLibrary library;
    library.name = "/nonexistent/folder/libnothing.so";
    ClWin32Exception* failure = Caught([&] { library.Load(); });
    ASSERT_NE(failure, nullptr);
    EXPECT_EQ(failure->errorCode, static_cast<DWORD>(ERROR_DLL_NOT_FOUND));
    EXPECT_EQ(std::string(failure->message.GetText()),
              "Error! Cannot load library:\n\n\"/nonexistent/folder/libnothing.so\"" + SystemText(ERROR_DLL_NOT_FOUND));
    EXPECT_EQ(library.module, nullptr);
    delete failure;
}

TEST(ClSupervisorTest, BindFailureEndsWithTheInstallHint)
{
    // The test programs lie in a folder of their own, without the simulator.
    ClSupervisor supervisor;
    ClWin32Exception* failure = Caught([&] { supervisor.Bind(); });
    ASSERT_NE(failure, nullptr);
    EXPECT_EQ(std::string(failure->message.GetText()),
              "Error! Cannot load library:\n\n\"rasapi32.dll\"" + SystemText(ERROR_DLL_NOT_FOUND) +
                  "\nCheck, that \"Dial-up networking\" is installed!");
    EXPECT_STREQ(supervisor.name.GetText(), "rasapi32.dll");
    delete failure;
}

class BoundSupervisorTest : public ::testing::Test {
protected:
    void Load(const std::string& path)
    {
        setenv("SUPRV_STATE", "/nonexistent/state/for/a/built-in/set", 1);
        supervisor.name = path.c_str();
        ClWin32Exception* failure = Caught([&] { supervisor.Load(); });
        ASSERT_EQ(failure, nullptr) << failure->message.GetText();
        ASSERT_NE(supervisor.module, nullptr);
    }

    ClSupervisor supervisor;
};

TEST_F(BoundSupervisorTest, FunctionsAreLookedUpOncePerFunction)
{
    Load(BuildDir() + "/librasapi32.so");
    uint32_t zero = 0;
    ASSERT_EQ(supervisor.Initialize(&zero), 0u);
    uint32_t bytes = 0;
    uint32_t names = 0;
    supervisor.EnumAccessInfo(nullptr, &bytes, &names);
    EXPECT_GT(bytes, 1u);

    // With the handle gone, only functions already looked up still work.
    HMODULE module = supervisor.module;
    supervisor.module = nullptr;
    EXPECT_NO_THROW(supervisor.EnumAccessInfo(nullptr, &bytes, &names));
    ClWin32Exception* failure = Caught([&] { supervisor.SetAccessInfo(nullptr); });
    supervisor.module = module;
    ASSERT_NE(failure, nullptr);
    delete failure;
    EXPECT_EQ(supervisor.DeInitialize(), 0u);
}

TEST_F(BoundSupervisorTest, MissingFunctionFailsAtItsFirstCallAndAgainAfter)
{
    std::string path = BuildDir() + "/simulator-variants/no-request/librasapi32.so";
    Load(path);
    uint32_t zero = 0;
    ASSERT_EQ(supervisor.Initialize(&zero), 0u);
    for (int attempt = 0; attempt < 2; ++attempt) {
        ClWin32Exception* failure = Caught([&] { supervisor.Request(SUPRV_REQUEST_STATUS, nullptr, 0); });
        ASSERT_NE(failure, nullptr);
        EXPECT_EQ(failure->errorCode, static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
        EXPECT_EQ(std::string(failure->message.GetText()),
                  "Error! Invalid library:\n\n\"" + path +
                      "\"\n\nThe following function not found:\n\n\"SuprvRequest\"" +
                      SystemText(ERROR_PROC_NOT_FOUND));
        delete failure;
    }
    EXPECT_EQ(supervisor.DeInitialize(), 0u);
}

TEST_F(BoundSupervisorTest, DestructionFreesTheLibrary)
{
    Load(BuildDir() + "/librasapi32.so");
    HMODULE module = supervisor.module;
    supervisor.Free();
    EXPECT_EQ(supervisor.module, nullptr);
    SetLastError(0xDEAD);
    EXPECT_FALSE(FreeLibrary(module));  // Already released.
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

}  // namespace
