// Messages with message-box semantics on the console: prompts, sounds, answers, and the real box when the console cannot serve.
#include <windows.h>

#include <gtest/gtest.h>

#include "base/ClString.h"
#include "errors/ClConsoleApp.h"
#include "errors/ClException.h"
#include "errors/MessageBoxes.h"
#include "platform/posix/ResourcesSeam.h"
#include "platform/posix/ThreadSeam.h"
#include "platform/posix/WindowListSeam.h"
#include "tests/errors/MessageBoxRecorder.h"
#include "tests/support/Pty.h"
#include "tests/support/StdRedirect.h"

#include <string>
#include <unistd.h>

namespace {

class MessageBoxes : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClearFakeWindows();
        ASSERT_EQ(g_consoleApp, nullptr);
        ASSERT_EQ(messageBoxDepth, -1);
    }
    void TearDown() override
    {
        ClearFakeWindows();
        EXPECT_EQ(messageBoxDepth, -1);
        messageBoxDepth = -1;
    }

    struct Answer {
        int result;
        std::string output;
    };

    // ConsoleMessageBox with standard output on a file and the keys as
    // standard input.
    static Answer AskRedirected(UINT style, const std::string& keys, const char* text = "Disk full",
                                HWND owner = nullptr)
    {
        TempFile input(keys), output;
        int result;
        {
            ScopedRedirect in(0, input.Fd()), out(1, output.Fd());
            result = ConsoleMessageBox(text, style, owner, nullptr);
        }
        return {result, output.Contents()};
    }

    MessageBoxRecorder user;
};

// In a child on a pty, beeps are written into the output as "<beep N>" so
// that the sound of each step can be seen in order.
PtyResult AskOnConsole(UINT style, const std::vector<PtyKeys>& keys, const char* text = "Proceed?")
{
    PtyOptions options;
    options.keys = keys;
    return RunFunctionOnPty(
        [style, text] {
            SetMessageBeepHook([](UINT type) {
                std::string beep = "<beep " + std::to_string(type) + ">";
                ssize_t ignored = write(1, beep.data(), beep.size());
                (void)ignored;
            });
            ClConsoleApp app;
            return ShowMessage(text, style, nullptr, nullptr);
        },
        options);
}

TEST(ConsoleMessage, ReportErrorOnAConsolePrintsSoundsAndWaitsForOneKey)
{
    PtyOptions options;
    options.keys = {{"continue...\r\n", "z", true}};
    PtyResult result = RunFunctionOnPty(
        [] {
            SetMessageBeepHook([](UINT type) {
                std::string beep = "<beep " + std::to_string(type) + ">";
                ssize_t ignored = write(1, beep.data(), beep.size());
                (void)ignored;
            });
            ReportError(ClString("Library missing"));
            ssize_t ignored = write(1, "|done", 5);
            (void)ignored;
            return 0;
        },
        options);
    EXPECT_EQ(result.ExitCode(), 0);
    EXPECT_EQ(result.output, "Library missing\r\n<beep 48>\tHit any key to continue...\r\n|done");
    EXPECT_TRUE(result.TerminalRestored());
}

TEST(ConsoleMessage, UnlistedKeySoundsTheAsteriskAndAsksAgain)
{
    PtyResult result = AskOnConsole(MB_YESNOCANCEL | MB_ICONQUESTION, {{"(Y,N,C)\r\n", "x", true}, {"(Y,N,C)\r\n", "n", true}});
    EXPECT_EQ(result.ExitCode(), IDNO);
    EXPECT_EQ(result.output,
              "Proceed?\r\n<beep 32>\tYes, No, Cancel?\t(Y,N,C)\r\n<beep 64>\tYes, No, Cancel?\t(Y,N,C)\r\n");
}

TEST(ConsoleMessage, StyleZeroIsTheAsteriskStyle)
{
    PtyResult result = AskOnConsole(0, {{"continue...\r\n", "\r", true}});
    EXPECT_EQ(result.ExitCode(), IDOK);
    EXPECT_EQ(result.output, "Proceed?\r\n<beep 64>\tHit any key to continue...\r\n");
}

TEST_F(MessageBoxes, RedirectedOutputGetsTextAndOkCancelPromptWithoutSound)
{
    const struct {
        const char* key;
        int result;
    } cases[] = {{"o", IDOK}, {"O", IDOK}, {"c", IDCANCEL}, {"C", IDCANCEL}};
    for (const auto& c : cases) {
        Answer answer = AskRedirected(MB_OK | MB_ICONEXCLAMATION, c.key);
        EXPECT_EQ(answer.result, c.result) << c.key;
        EXPECT_EQ(answer.output, "Disk full\r\n\tOk, Cancel?\t(O,C)\r\n");
    }
    EXPECT_TRUE(user.beeps.empty());
    EXPECT_TRUE(user.boxes.empty());
}

TEST_F(MessageBoxes, EveryButtonSetHasItsPromptAndKeys)
{
    const struct {
        UINT style;
        const char* prompt;
        const char* key;
        int result;
    } cases[] = {
        {MB_OKCANCEL, "\tOk, Cancel?\t(O,C)", "C", IDCANCEL},
        {MB_ABORTRETRYIGNORE, "\tAbort, Retry, Ignore?\t(A,R,I)", "i", IDIGNORE},
        {MB_ABORTRETRYIGNORE, "\tAbort, Retry, Ignore?\t(A,R,I)", "R", IDRETRY},
        {MB_YESNOCANCEL, "\tYes, No, Cancel?\t(Y,N,C)", "n", IDNO},
        {MB_YESNO, "\tYes, No?\t(Y,N)", "Y", IDYES},
        {MB_RETRYCANCEL, "\tRetry, Cancel?\t(R,C)", "c", IDCANCEL},
    };
    for (const auto& c : cases) {
        Answer answer = AskRedirected(c.style, c.key);
        EXPECT_EQ(answer.result, c.result) << c.prompt;
        EXPECT_EQ(answer.output, std::string("Disk full\r\n") + c.prompt + "\r\n");
    }
    EXPECT_TRUE(user.boxes.empty());
}

TEST_F(MessageBoxes, NoKeyAnswersTheFirstButtonUnlessADefaultButtonIsNamed)
{
    EXPECT_EQ(AskRedirected(MB_YESNO, "").result, IDYES);
    EXPECT_EQ(AskRedirected(MB_OK | MB_ICONEXCLAMATION, "").result, IDOK);
    EXPECT_TRUE(user.boxes.empty());

    user.answer = [](const RecordedBox&) { return IDNO; };
    EXPECT_EQ(AskRedirected(MB_YESNO | MB_DEFBUTTON2, "").result, IDNO);
    ASSERT_EQ(user.boxes.size(), 1u);
    EXPECT_EQ(user.boxes[0].style, static_cast<UINT>(MB_YESNO | MB_DEFBUTTON2));
}

TEST_F(MessageBoxes, UnlistedKeyOnRedirectedOutputBringsUpTheRealBox)
{
    ClConsoleApp app;
    user.answer = [](const RecordedBox&) { return IDCANCEL; };
    Answer answer = AskRedirected(MB_OK | MB_ICONEXCLAMATION, "x");
    EXPECT_EQ(answer.result, IDCANCEL);
    ASSERT_EQ(user.boxes.size(), 1u);
    EXPECT_EQ(user.boxes[0].text, "Disk full");
    EXPECT_EQ(user.boxes[0].caption, "Ringwarden");
    EXPECT_EQ(user.boxes[0].style, static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION));
    EXPECT_EQ(user.boxes[0].threadId, GetCurrentThreadId());
    EXPECT_TRUE(user.beeps.empty());
}

TEST_F(MessageBoxes, RealBoxForStyleZeroHasTheAsteriskAndNoCaptionWithoutTheApp)
{
    AskRedirected(0, "x");
    ASSERT_EQ(user.boxes.size(), 1u);
    EXPECT_EQ(user.boxes[0].style, static_cast<UINT>(MB_ICONASTERISK));
    EXPECT_FALSE(user.boxes[0].hasCaption);
}

TEST_F(MessageBoxes, OwnerGivenBecomesTheConsoleWindowAndOwnsTheBox)
{
    HWND owner = AddFakeWindow({});
    {
        ClConsoleApp app;
        AskRedirected(MB_OKCANCEL, "x", "text", owner);
        EXPECT_EQ(app.consoleWindow, owner);
    }
    ASSERT_EQ(user.boxes.size(), 1u);
    EXPECT_EQ(user.boxes[0].owner, owner);
    EXPECT_EQ(GetFakeForegroundWindow(), owner);
}

TEST_F(MessageBoxes, BoxRequestedWhileAnotherIsUpRunsOnAWorkerThreadAndIsWaitedFor)
{
    DWORD mainThread = GetCurrentThreadId();
    user.answer = [mainThread](const RecordedBox& box) {
        if (box.threadId != mainThread) {
            usleep(100 * 1000);  // The requester must wait for this answer.
            return IDRETRY;
        }
        // While the outer box is up, the program asks again: the next key is
        // unlisted too, so a second real box is needed.
        return ConsoleMessageBox("inner", MB_RETRYCANCEL, nullptr, nullptr) == IDRETRY ? IDOK : IDABORT;
    };
    Answer answer = AskRedirected(MB_OKCANCEL, "xx", "outer");
    EXPECT_EQ(answer.result, IDOK);
    ASSERT_EQ(user.boxes.size(), 2u);
    EXPECT_EQ(user.boxes[0].text, "outer");
    EXPECT_EQ(user.boxes[0].threadId, mainThread);
    EXPECT_EQ(user.boxes[1].text, "inner");
    EXPECT_NE(user.boxes[1].threadId, mainThread);
    EXPECT_EQ(user.boxes[1].owner, nullptr);
}

TEST_F(MessageBoxes, WorkerThatCannotBeCreatedIsReportedAndTheBoxShownDirectly)
{
    messageBoxDepth = 0;  // Another box is up.
    FailNextThreadCreations(1);
    user.answer = [](const RecordedBox& box) { return box.text == "Disk full" ? IDRETRY : IDOK; };
    Answer answer = AskRedirected(MB_RETRYCANCEL, "x");
    EXPECT_EQ(messageBoxDepth, 0);
    messageBoxDepth = -1;
    EXPECT_EQ(answer.result, IDRETRY);
    ASSERT_EQ(user.boxes.size(), 2u);
    EXPECT_EQ(user.boxes[0].text.rfind("WinAPI Error", 0), 0u) << user.boxes[0].text;
    EXPECT_EQ(user.boxes[0].style, static_cast<UINT>(MB_ICONEXCLAMATION));
    EXPECT_EQ(user.boxes[1].text, "Disk full");
    EXPECT_EQ(user.boxes[1].threadId, GetCurrentThreadId());
}

TEST_F(MessageBoxes, WorkerWhoseBoxFailsShowsTheSystemTextAndAnswersZero)
{
    messageBoxDepth = 0;
    user.answer = [](const RecordedBox& box) {
        if (box.text != "Disk full") {
            return IDOK;
        }
        SetLastError(ERROR_NOT_SUPPORTED);
        return 0;
    };
    Answer answer = AskRedirected(MB_OKCANCEL, "x");
    messageBoxDepth = -1;
    EXPECT_EQ(answer.result, 0);
    ASSERT_EQ(user.boxes.size(), 2u);
    EXPECT_NE(user.boxes[1].text.find("WinAPI Error"), std::string::npos);
    EXPECT_EQ(user.boxes[1].style, static_cast<UINT>(MB_ICONEXCLAMATION));
    EXPECT_EQ(user.boxes[1].owner, nullptr);
    EXPECT_EQ(user.boxes[1].threadId, user.boxes[0].threadId);
}

// With standard output closed every line becomes a plain box. The user
// minimises the console while the first one is up, and then its placement
// cannot be read: the failure is caught and the real box asks instead.
TEST_F(MessageBoxes, FailureWhileEmulatingEndsInTheRealBox)
{
    FakeWindow fake;
    fake.threadId = GetCurrentThreadId();
    fake.processId = GetCurrentProcessId();
    HWND console = AddFakeWindow(fake);
    user.answer = [console](const RecordedBox& box) {
        FakeWindow minimised;
        GetFakeWindow(console, &minimised);
        minimised.iconic = true;
        minimised.placementError = ERROR_ACCESS_DENIED;
        UpdateFakeWindow(console, minimised);
        return box.style == MB_OK ? IDOK : IDIGNORE;
    };
    int result;
    {
        ScopedRedirect out(1, ScopedRedirect::kClosed);
        result = ConsoleMessageBox("Disk full", MB_ABORTRETRYIGNORE, nullptr, nullptr);
    }
    EXPECT_EQ(result, IDIGNORE);
    ASSERT_EQ(user.boxes.size(), 2u);
    EXPECT_EQ(user.boxes[0].style, static_cast<UINT>(MB_OK));
    EXPECT_EQ(user.boxes[1].text, "Disk full");
    EXPECT_EQ(user.boxes[1].style, static_cast<UINT>(MB_ABORTRETRYIGNORE));
    EXPECT_EQ(user.boxes[1].owner, console);
}

TEST_F(MessageBoxes, ReportErrorSwallowsEveryFailureWithABeep)
{
    FakeWindow fake;
    fake.threadId = GetCurrentThreadId();
    fake.iconic = true;
    fake.placementError = ERROR_ACCESS_DENIED;
    HWND console = AddFakeWindow(fake);
    ReportError(ClString("bringing the console forward fails"));
    EXPECT_TRUE(user.boxes.empty());
    EXPECT_EQ(user.beeps, std::vector<UINT>{MB_ICONEXCLAMATION});

    RemoveFakeWindow(console);
    user.beeps.clear();
    user.answer = [](const RecordedBox&) -> int { throw 42; };
    {
        ScopedRedirect out(1, ScopedRedirect::kClosed);
        ReportError(ClString("the box throws what is no ClException"));
    }
    EXPECT_EQ(user.beeps, std::vector<UINT>{MB_ICONHAND});
}

TEST_F(MessageBoxes, DepthIsRestoredWhenTheRealBoxThrows)
{
    user.answer = [](const RecordedBox&) -> int { throw new ClException(ClString("box failed")); };
    try {
        AskRedirected(MB_OKCANCEL, "x");
        ADD_FAILURE() << "no exception";
    } catch (ClException* failure) {
        delete failure;
    }
    EXPECT_EQ(messageBoxDepth, -1);
}

class RecordingApp : public ClConsoleApp {
public:
    int ShowMessageBox(const char* text, UINT style, HWND owner, const char* caption) override
    {
        seen = std::string(text) + "|" + std::to_string(style) + "|" + caption;
        seenOwner = owner;
        return IDIGNORE;
    }
    std::string seen;
    HWND seenOwner = nullptr;
};

TEST_F(MessageBoxes, ShowMessageGoesThroughTheAppOrStraightToTheConsole)
{
    HWND owner = AddFakeWindow({});
    {
        RecordingApp app;
        EXPECT_EQ(ShowMessage("warning", 0x30, owner, "cap"), IDIGNORE);
        EXPECT_EQ(app.seen, "warning|48|cap");
        EXPECT_EQ(app.seenOwner, owner);
    }
    TempFile input("c"), output;
    int result;
    {
        ScopedRedirect in(0, input.Fd()), out(1, output.Fd());
        result = ShowMessage("warning", 0x30, nullptr, nullptr);
    }
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(output.Contents(), "warning\r\n\tOk, Cancel?\t(O,C)\r\n");
}

// A key set that the table does not hold reads as the placeholder text; its
// letters must not be taken for buttons beyond the row.
TEST_F(MessageBoxes, KeySetMissingFromTheTableIsNoButtonBeyondTheRow)
{
    static const StringTableEntry table[] = {
        {37400, 18, "\tOk, Cancel?\t(O,C)"},
    };
    UseStringTableForTesting(table, 1);
    Answer answer = AskRedirected(MB_OKCANCEL, "f");
    UseStringTableForTesting(nullptr, 0);
    EXPECT_EQ(answer.result, IDOK);
    EXPECT_EQ(user.boxes.size(), 1u);
}

}  // namespace
