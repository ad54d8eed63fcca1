// ReadKey on a console and on redirected input, and the caption and title of the console application.
#include <windows.h>

#include <gtest/gtest.h>

#include "base/ConsoleInput.h"
#include "errors/ClConsoleApp.h"
#include "tests/support/Pty.h"
#include "tests/support/StdRedirect.h"

#include <fcntl.h>
#include <string.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

TEST(ReadKey, FromAFileOneByteThenZeroAtTheEnd)
{
    TempFile input("Y");
    char first, second;
    {
        ScopedRedirect in(0, input.Fd());
        first = ReadKey();
        second = ReadKey();
    }
    EXPECT_EQ(first, 'Y');
    EXPECT_EQ(second, 0);
}

TEST(ReadKey, FromAPipeUntilItsWriterIsGone)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "ab", 2), 2);
    close(fds[1]);
    std::string keys;
    {
        ScopedRedirect in(0, fds[0]);
        for (int i = 0; i < 3; ++i) {
            keys += ReadKey();
        }
    }
    close(fds[0]);
    EXPECT_EQ(keys, std::string("ab\0", 3));
}

// /dev/null is a character device but no console: the console path fails
// and the plain read finds nothing.
TEST(ReadKey, ZeroFromNullDeviceOrClosedInput)
{
    int null = open("/dev/null", O_RDONLY);
    char fromNull, fromClosed;
    {
        ScopedRedirect in(0, null);
        fromNull = ReadKey();
    }
    {
        ScopedRedirect in(0, ScopedRedirect::kClosed);
        fromClosed = ReadKey();
    }
    close(null);
    EXPECT_EQ(fromNull, 0);
    EXPECT_EQ(fromClosed, 0);
}

// The child says "ready", reads a key and ends with it as its exit code,
// after printing the console mode it leaves behind.
PtyResult ReadKeyOnConsole(const std::string& keys, void (*prepare)() = nullptr)
{
    PtyOptions options;
    options.keys = {{"ready", keys, true}};
    return RunFunctionOnPty(
        [prepare] {
            if (prepare != nullptr) {
                prepare();
            }
            DWORD written, mode = 0;
            WriteConsoleA(GetStdHandle(STD_OUTPUT_HANDLE), "ready", 5, &written, nullptr);
            char key = ReadKey();
            GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode);
            std::string after = "|mode " + std::to_string(mode);
            WriteConsoleA(GetStdHandle(STD_OUTPUT_HANDLE), after.data(), after.size(), &written, nullptr);
            return static_cast<unsigned char>(key);
        },
        options);
}

TEST(ReadKey, OnAConsoleOneKeyWithoutEnterOrEchoAndLineInputStaysOff)
{
    PtyResult result = ReadKeyOnConsole("q");
    EXPECT_EQ(result.ExitCode(), 'q');
    EXPECT_EQ(result.output, "ready|mode " + std::to_string(ENABLE_PROCESSED_INPUT));
    EXPECT_TRUE(result.TerminalRestored());
}

TEST(ReadKey, EnterArrivesAsCarriageReturn)
{
    EXPECT_EQ(ReadKeyOnConsole("\r").ExitCode(), '\r');
}

// A console whose line input is off already keeps its attributes: the
// read timer set here would be cleared by a mode write.
TEST(ReadKey, ModeIsNotRewrittenWhenLineInputIsOffAlready)
{
    PtyResult result = ReadKeyOnConsole("k", [] {
        struct termios attributes;
        tcgetattr(0, &attributes);
        attributes.c_lflag &= ~(ICANON | ECHO);
        attributes.c_cc[VMIN] = 1;
        attributes.c_cc[VTIME] = 50;
        tcsetattr(0, TCSANOW, &attributes);
        atexit([] {
            struct termios now;
            tcgetattr(0, &now);
            if (now.c_cc[VTIME] != 50) {
                _exit(99);
            }
        });
    });
    EXPECT_EQ(result.ExitCode(), 'k');
}

TEST(Caption, LoadedOnceThenKept)
{
    ClConsoleApp app;
    const char* first = app.GetCaption();
    EXPECT_STREQ(first, "Ringwarden");
    app.captionId = 26;
    EXPECT_EQ(app.GetCaption(), first);
}

TEST(Caption, MissingEntryGivesTheNotFoundTextAndIsNotRetried)
{
    ClConsoleApp app;
    app.captionId = 24;
    EXPECT_STREQ(app.GetCaption(), " <string 24 not found> ");
    app.captionId = 25;
    EXPECT_STREQ(app.GetCaption(), " <string 24 not found> ");
}

TEST(ConsoleCaption, TitleIsTheCaptionEntryLoadedAnew)
{
    PtyResult result = RunFunctionOnPty([] {
        ClConsoleApp app;
        app.caption = "stale";
        app.SetConsoleCaption();
        app.captionId = 24;
        app.SetConsoleCaption();
        return strcmp(app.caption.GetText(), "stale") == 0 ? 0 : 1;
    });
    EXPECT_EQ(result.ExitCode(), 0);
    EXPECT_EQ(result.output, "\033[22;0t\033]0;Ringwarden\007\033]0; <string 24 not found> \007\033[23;0t");
}

TEST(ConsoleCaption, NoTerminalIsNoFailure)
{
    PtyOptions options;
    options.controllingTerminal = false;
    PtyResult result = RunFunctionOnPty(
        [] {
            ClConsoleApp app;
            app.SetConsoleCaption();
            return 0;
        },
        options);
    EXPECT_EQ(result.ExitCode(), 0);
    EXPECT_EQ(result.output, "");
}

}  // namespace
