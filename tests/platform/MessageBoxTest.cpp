// The message box stand-in: a dialog on the controlling terminal, answered with the buttons' keys, and the bell.
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/support/Pty.h"
#include "tests/support/StdRedirect.h"

#include <string>
#include <unistd.h>

namespace {

constexpr DWORD kSentinel = 0xDEADBEEF;

// Shows a box in a child on a fresh pty, types `keys` once its buttons are
// drawn, and returns what the child saw; the box's result is the exit code.
// Keys in `later` are typed once the dialog has rung the bell for the first
// keys, so that they cannot be taken for part of the first key's sequence.
PtyResult ShowBox(UINT style, const std::string& keys, const char* text = "Disk full", const std::string& later = "")
{
    PtyOptions options;
    options.keys = {{") ", keys}};
    if (!later.empty()) {
        options.keys.push_back({"\a", later});
    }
    return RunFunctionOnPty([style, text] { return MessageBoxA(nullptr, text, "Ringwarden", style); },
                            options);
}

struct KeyCase {
    UINT style;
    const char* keys;
    int result;
    const char* later = nullptr;
};

TEST(MessageBoxDialog, ButtonsAnsweredByTheirKeysAsOnWindows)
{
    const KeyCase cases[] = {
        {MB_OK, "o", IDOK},
        {MB_OK, "\r", IDOK},
        {MB_OK, "\033", IDOK},  // Esc closes a box with Ok alone.
        {MB_OKCANCEL, "C", IDCANCEL},
        {MB_OKCANCEL, "\033", IDCANCEL},
        {MB_ABORTRETRYIGNORE, "i", IDIGNORE},
        {MB_ABORTRETRYIGNORE, "\033", IDABORT, "a"},  // No Cancel button: Esc does nothing.
        {MB_YESNOCANCEL, "n", IDNO},
        {MB_YESNOCANCEL | MB_DEFBUTTON2, "\r", IDNO},
        {MB_YESNOCANCEL | MB_DEFBUTTON3, "\r", IDCANCEL},
        {MB_YESNO, "\033[Ay", IDYES},  // An arrow key is no Esc.
        {MB_YESNO, "\033n", IDYES, "y"},  // Nor is Alt with a key.
        {MB_YESNO | MB_DEFBUTTON3, "\r", IDYES},  // No third button: the first is the default.
        {MB_RETRYCANCEL, "R", IDRETRY},
    };
    for (const KeyCase& c : cases) {
        PtyResult result = ShowBox(c.style, c.keys, "Disk full", c.later != nullptr ? c.later : "");
        EXPECT_EQ(result.ExitCode(), c.result) << "style " << c.style << " keys " << c.keys << "\n"
                                               << result.output;
        EXPECT_TRUE(result.TerminalRestored());
    }
}

TEST(MessageBoxDialog, ShowsCaptionTextAndButtonsAndRingsAtAnUnlistedKey)
{
    PtyResult result = ShowBox(MB_YESNO | MB_ICONEXCLAMATION, "xn", "Line one\r\nLine two");
    EXPECT_EQ(result.ExitCode(), IDNO);
    EXPECT_EQ(result.output,
              "\r\n[ Ringwarden ]\r\n(!) Line one\r\nLine two\r\n[Y]es  [N]o  (Enter: Yes) \aNo\r\n");
}

TEST(MessageBoxDialog, ControlCharactersInTheTextCannotSteerTheTerminal)
{
    PtyResult result = ShowBox(MB_OK, "o", "\033]0;owned\007\033[2J");
    EXPECT_NE(result.output.find("?]0;owned??[2J"), std::string::npos) << result.output;
    EXPECT_EQ(result.output.find('\033'), std::string::npos);
}

TEST(MessageBoxDialog, AnsweredFromTheTerminalNeverFromRedirectedInput)
{
    PtyOptions options;
    options.keys = {{") ", "n"}};
    PtyResult result = RunFunctionOnPty(
        [] {
            TempFile input("y"), output;
            ScopedRedirect in(0, input.Fd()), out(1, output.Fd());
            int answer = MessageBoxA(nullptr, "Go on?", nullptr, MB_YESNO);
            char unread = 0;
            bool inputUntouched = read(0, &unread, 1) == 1 && unread == 'y';
            return inputUntouched && output.Contents().empty() ? answer : 100;
        },
        options);
    EXPECT_EQ(result.ExitCode(), IDNO) << result.output;
    EXPECT_NE(result.output.find("[ Error ]"), std::string::npos);  // The default caption.
}

TEST(MessageBoxDialog, EndedBySignalWhileWaitingLeavesTheTerminalAsFound)
{
    PtyOptions options;
    options.keys = {{") ", "\003"}};
    PtyResult result =
        RunFunctionOnPty([] { return MessageBoxA(nullptr, "Wait", "Ringwarden", MB_OKCANCEL); }, options);
    EXPECT_EQ(result.TermSignal(), SIGINT);
    EXPECT_TRUE(result.TerminalRestored());
}

TEST(MessageBoxDialog, FailsWithoutAControllingTerminal)
{
    PtyOptions options;
    options.controllingTerminal = false;
    PtyResult result = RunFunctionOnPty(
        [] {
            SetLastError(kSentinel);
            int answer = MessageBoxA(nullptr, "Nobody sees this", "Ringwarden", MB_OK);
            return answer == 0 && GetLastError() == ERROR_NOT_SUPPORTED ? 0 : 1;
        },
        options);
    EXPECT_EQ(result.ExitCode(), 0);
    EXPECT_EQ(result.output, "");
}

TEST(MessageBoxDialog, StylesBeyondTheSixButtonSetsAreRefused)
{
    SetLastError(kSentinel);
    EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", 7), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(MessageBeepBell, RingsOnTheTerminalNotIntoRedirectedOutput)
{
    PtyResult result = RunFunctionOnPty([] {
        TempFile output;
        ScopedRedirect out(1, output.Fd());
        return MessageBeep(MB_ICONEXCLAMATION) && output.Contents().empty() ? 0 : 1;
    });
    EXPECT_EQ(result.ExitCode(), 0);
    EXPECT_EQ(result.output, "\a");
}

TEST(MessageBeepBell, SilentWithoutAControllingTerminal)
{
    PtyOptions options;
    options.controllingTerminal = false;
    PtyResult result = RunFunctionOnPty([] { return MessageBeep(MB_ICONHAND) ? 1 : 0; }, options);
    EXPECT_EQ(result.ExitCode(), 0);
    EXPECT_EQ(result.output, "");
}

}  // namespace
