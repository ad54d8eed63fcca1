// The opening of a run: banner and contact lines first, then the platform check, which never ends the run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/ClRingwardenApp.h"
#include "base/Resources.h"
#include "platform/posix/MessagesSeam.h"
#include "platform/posix/ProcessSeam.h"
#include "tests/support/StdRedirect.h"

namespace {

const std::string kBanner =
    "Ringwarden 1.3 (build 42), dial-up server manager for Windows 9x\r\n"
    "Free software; it comes with no warranty of any kind.\r\n\r\n"
    "\tringwarden@example.org\r\n"
    "\thttp://www.example.org/ringwarden/\r\n\r\n";
const std::string kPrompt = "\tOk, Cancel?\t(O,C)\r\n";

class RunSequence : public testing::Test {
protected:
    void SetUp() override {
        SetMessageBoxHook([this](HWND, const char*, const char*, UINT) {
            ++boxes;
            return IDOK;
        });
    }
    void TearDown() override {
        SetMessageBoxHook(nullptr);
        SetReportedPlatformForTesting(VER_PLATFORM_WIN32_WINDOWS);
        FailVersionQueryForTesting(0);
    }

    // Runs with output to a file and input at its end.
    int Run(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "test_app");
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(&argument[0]);
        }
        SetProcessArguments(static_cast<int>(argv.size()), argv.data());
        TempFile out;
        TempFile in;
        int result;
        {
            ScopedRedirect toFile(1, out.Fd());
            ScopedRedirect fromFile(0, in.Fd());
            ClRingwardenApp app;
            result = app.Run();
        }
        output = out.Contents();
        return result;
    }

    std::string Help() const { return ClString(9, g_hInstance).GetText() + std::string("\r\n"); }

    std::string output;
    int boxes = 0;
};

TEST_F(RunSequence, OtherFamilyIsWarnedAndTheRunGoesOn) {
    SetReportedPlatformForTesting(VER_PLATFORM_WIN32_NT);
    EXPECT_EQ(Run({"help"}), 0);
    EXPECT_EQ(output, kBanner +
                          "WARNING!!! This application was designed for Microsoft Windows 9x\r\n"
                          "operating system family only!\r\n"
                          "It wouldn't work on NT family systems.\r\n" +
                          kPrompt + Help());
    EXPECT_EQ(boxes, 0);
}

TEST_F(RunSequence, FailedVersionQueryIsReportedAndTheRunGoesOn) {
    FailVersionQueryForTesting(ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Run({"help"}), 0);
    EXPECT_EQ(output, kBanner + "WinAPI Error\n\n System Reports:\nA parameter is not valid.\r\n\r\n" + kPrompt + Help());
    EXPECT_EQ(boxes, 0);
}

}  // namespace
