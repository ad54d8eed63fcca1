// Finding the console window, bringing it forward, and the three ways of ConsoleWriteLine: console, redirected output, box.
#include <windows.h>

#include <gtest/gtest.h>

#include "errors/ClConsoleApp.h"
#include "errors/ClException.h"
#include "errors/ConsoleOutput.h"
#include "platform/posix/WindowListSeam.h"
#include "tests/errors/MessageBoxRecorder.h"
#include "tests/support/Pty.h"
#include "tests/support/StdRedirect.h"

#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

class ConsoleWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClearFakeWindows();
        ASSERT_EQ(g_consoleApp, nullptr);
    }
    void TearDown() override { ClearFakeWindows(); }

    static HWND AddWindow(DWORD threadId, DWORD processId, LONG style = 0)
    {
        FakeWindow window;
        window.threadId = threadId;
        window.processId = processId;
        window.style = style;
        return AddFakeWindow(window);
    }
    static HWND OwnThreadWindow(LONG style = 0) { return AddWindow(GetCurrentThreadId(), GetCurrentProcessId(), style); }
    static HWND ProcessWindow() { return AddWindow(GetCurrentThreadId() + 1, GetCurrentProcessId()); }
    static HWND ForeignWindow() { return AddWindow(GetCurrentThreadId() + 2, GetCurrentProcessId() + 1); }
};

TEST_F(ConsoleWindow, NoneWithoutAWindowSystem)
{
    EXPECT_EQ(FindConsoleWindow(), nullptr);
    ClConsoleApp app;
    EXPECT_EQ(FindConsoleWindow(), nullptr);
    EXPECT_EQ(app.consoleWindow, nullptr);
}

TEST_F(ConsoleWindow, CallingThreadsTopLevelWindowWinsAtOnce)
{
    ProcessWindow();
    OwnThreadWindow(WS_CHILD);
    HWND own = OwnThreadWindow();
    ProcessWindow();
    EXPECT_EQ(FindConsoleWindow(), own);
}

TEST_F(ConsoleWindow, OtherwiseTheProcesssLastTopLevelWindow)
{
    ProcessWindow();
    HWND last = ProcessWindow();
    AddWindow(GetCurrentThreadId() + 1, GetCurrentProcessId(), WS_CHILD);
    ForeignWindow();
    EXPECT_EQ(FindConsoleWindow(), last);
}

TEST_F(ConsoleWindow, CachedWhileItExistsThenFoundAfresh)
{
    ClConsoleApp app;
    HWND first = ProcessWindow();
    ASSERT_EQ(FindConsoleWindow(), first);
    EXPECT_EQ(app.consoleWindow, first);

    HWND better = OwnThreadWindow();
    EXPECT_EQ(FindConsoleWindow(), first);  // The cache is trusted ...
    RemoveFakeWindow(first);
    EXPECT_EQ(FindConsoleWindow(), better);  // ... until its window is gone.
    EXPECT_EQ(app.consoleWindow, better);
}

TEST_F(ConsoleWindow, WithoutTheAppNothingIsCached)
{
    HWND first = ProcessWindow();
    ASSERT_EQ(FindConsoleWindow(), first);
    HWND own = OwnThreadWindow();
    EXPECT_EQ(FindConsoleWindow(), own);
}

TEST_F(ConsoleWindow, AppPointsTheGlobalAtItselfForItsLifetime)
{
    {
        ClConsoleApp app(SW_SHOWMINIMIZED);
        EXPECT_EQ(g_consoleApp, &app);
        EXPECT_EQ(app.showCommand, SW_SHOWMINIMIZED);
        EXPECT_EQ(app.captionId, 25);
        EXPECT_EQ(app.caption.GetLength(), 0u);
    }
    EXPECT_EQ(g_consoleApp, nullptr);
}

struct ForwardCase {
    bool iconic;
    UINT placementFlags;
    int showCommand;  // -1: ShowWindow is not called.
};

TEST_F(ConsoleWindow, BroughtForwardAndRestoredAsItWasBeforeMinimising)
{
    const ForwardCase cases[] = {
        {true, WPF_RESTORETOMAXIMIZED, SW_SHOWMAXIMIZED},
        {true, 0, SW_RESTORE},
        {false, WPF_RESTORETOMAXIMIZED, -1},
    };
    for (const ForwardCase& c : cases) {
        FakeWindow fake;
        fake.iconic = c.iconic;
        fake.placementFlags = c.placementFlags;
        HWND window = AddFakeWindow(fake);
        BringWindowForward(window);
        ASSERT_TRUE(GetFakeWindow(window, &fake));
        EXPECT_EQ(fake.lastShowCommand, c.showCommand);
        EXPECT_FALSE(fake.iconic);
        EXPECT_EQ(GetFakeForegroundWindow(), window);
    }
}

TEST_F(ConsoleWindow, NullOrVanishedWindowIsLeftAlone)
{
    HWND gone = AddFakeWindow({});
    RemoveFakeWindow(gone);
    BringWindowForward(nullptr);
    BringWindowForward(gone);
    EXPECT_EQ(GetFakeForegroundWindow(), nullptr);
}

TEST_F(ConsoleWindow, FailedPlacementQueryIsThrownWithItsCode)
{
    FakeWindow fake;
    fake.iconic = true;
    fake.placementError = ERROR_ACCESS_DENIED;
    HWND window = AddFakeWindow(fake);
    try {
        BringWindowForward(window);
        FAIL() << "no exception";
    } catch (ClException* failure) {
        auto* win32 = dynamic_cast<ClWin32Exception*>(failure);
        ASSERT_NE(win32, nullptr);
        EXPECT_EQ(win32->errorCode, static_cast<DWORD>(ERROR_ACCESS_DENIED));
        delete failure;
    }
    EXPECT_EQ(GetFakeForegroundWindow(), nullptr);
}

TEST(ConsoleWriteLine, OnAConsoleTheTextAndCrLfAndTrue)
{
    PtyResult result = RunFunctionOnPty([] {
        int reached = 0;
        reached |= ConsoleWriteLine("abcdef", 3, false) ? 1 : 0;
        reached |= ConsoleWriteLine("", 0, false) ? 2 : 0;
        reached |= ConsoleWriteLine("\tHit any key", 12, true) ? 4 : 0;
        return reached;
    });
    EXPECT_EQ(result.ExitCode(), 7);
    EXPECT_EQ(result.output, "abc\r\n\r\n\tHit any key\r\n");
}

// A line longer than one write goes in pieces, every byte as given (the
// stand-in's console shows the texts' own code page) and the end once.
TEST(ConsoleWriteLine, OnAConsoleALongLineArrivesWholeWithOneEnd)
{
    for (size_t size : {1024u, 1025u, 3000u}) {
        std::string line(size, 'x');
        line[size - 1] = '\xFC';
        PtyResult result = RunFunctionOnPty([&] { return ConsoleWriteLine(line.data(), static_cast<DWORD>(size), false) ? 0 : 1; });
        EXPECT_EQ(result.ExitCode(), 0) << size;
        EXPECT_EQ(result.output, line + "\r\n") << size;
    }
}

enum class Target { File, Pipe, DevNull };

// Writes one line with standard output on `target`; returns what arrived.
std::string WriteRedirected(Target target, bool noBox, bool* reached)
{
    TempFile file;
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    int null = open("/dev/null", O_WRONLY);
    int destination = target == Target::File ? file.Fd() : target == Target::Pipe ? fds[1] : null;
    {
        ScopedRedirect output(1, destination);
        *reached = ConsoleWriteLine("Device 2", 8, noBox);
    }
    close(fds[1]);
    close(null);
    std::string arrived = file.Contents();
    char buffer[64];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof(buffer))) > 0) {
        arrived.append(buffer, static_cast<size_t>(n));
    }
    close(fds[0]);
    return arrived;
}

TEST(ConsoleWriteLine, RedirectedOutputGetsTheLineUnlessNoBoxAndNeverABox)
{
    MessageBoxRecorder user;
    for (Target target : {Target::File, Target::Pipe, Target::DevNull}) {
        bool reached = true;
        std::string arrived = WriteRedirected(target, false, &reached);
        EXPECT_FALSE(reached);
        EXPECT_EQ(arrived, target == Target::DevNull ? "" : "Device 2\r\n");

        reached = true;
        EXPECT_EQ(WriteRedirected(target, true, &reached), "");
        EXPECT_FALSE(reached);
    }
    EXPECT_TRUE(user.boxes.empty());
    EXPECT_TRUE(user.beeps.empty());
}

class ConsoleWriteLineBox : public ConsoleWindow {};

TEST_F(ConsoleWriteLineBox, ClosedOutputShowsTheLineInABoxOverTheConsoleWindow)
{
    MessageBoxRecorder user;
    ClConsoleApp app;
    FakeWindow fake;
    fake.threadId = GetCurrentThreadId();
    fake.processId = GetCurrentProcessId();
    fake.iconic = true;
    HWND console = AddFakeWindow(fake);
    bool reached;
    {
        ScopedRedirect output(1, ScopedRedirect::kClosed);
        reached = ConsoleWriteLine("Server started", 14, false);
    }
    EXPECT_FALSE(reached);
    ASSERT_EQ(user.boxes.size(), 1u);
    EXPECT_EQ(user.boxes[0].text, "Server started");
    EXPECT_EQ(user.boxes[0].caption, "Ringwarden");
    EXPECT_EQ(user.boxes[0].style, static_cast<UINT>(MB_OK));
    EXPECT_EQ(user.boxes[0].owner, console);
    ASSERT_TRUE(GetFakeWindow(console, &fake));
    EXPECT_EQ(fake.lastShowCommand, SW_RESTORE);
    EXPECT_EQ(GetFakeForegroundWindow(), console);
    EXPECT_TRUE(user.beeps.empty());
}

TEST_F(ConsoleWriteLineBox, WithoutTheAppTheBoxHasNoCaption)
{
    MessageBoxRecorder user;
    {
        ScopedRedirect output(1, ScopedRedirect::kClosed);
        ConsoleWriteLine("text", 4, false);
    }
    ASSERT_EQ(user.boxes.size(), 1u);
    EXPECT_FALSE(user.boxes[0].hasCaption);
    EXPECT_EQ(user.boxes[0].owner, nullptr);
}

TEST_F(ConsoleWriteLineBox, NoBoxMeansNoBoxEvenWithOutputClosed)
{
    MessageBoxRecorder user;
    bool reached;
    {
        ScopedRedirect output(1, ScopedRedirect::kClosed);
        reached = ConsoleWriteLine("\tHit any key to continue...", 27, true);
    }
    EXPECT_FALSE(reached);
    EXPECT_TRUE(user.boxes.empty());
}

TEST_F(ConsoleWriteLineBox, BoxThatCannotBeShownIsReplacedByTheErrorBeep)
{
    MessageBoxRecorder user;
    user.answer = [](const RecordedBox&) { return 0; };
    {
        ScopedRedirect output(1, ScopedRedirect::kClosed);
        ConsoleWriteLine("text", 4, false);
    }
    EXPECT_EQ(user.boxes.size(), 1u);
    EXPECT_EQ(user.beeps, std::vector<UINT>{MB_ICONHAND});
}

TEST_F(ConsoleWriteLineBox, PipeWhoseReaderWentAwayFallsBackToTheBox)
{
    MessageBoxRecorder user;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    bool reached;
    {
        ScopedRedirect output(1, fds[1]);
        reached = ConsoleWriteLine("lost line", 9, false);
    }
    close(fds[1]);
    EXPECT_FALSE(reached);
    ASSERT_EQ(user.boxes.size(), 1u);
    EXPECT_EQ(user.boxes[0].text, "lost line");
}

}  // namespace
