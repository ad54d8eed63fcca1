// The terminal is left as it was found, whether the process that changed it exits or is ended by a signal.
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/support/Pty.h"

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

// Switches standard input to single keys without echo, says so, and then
// ends as `end` decides.
PtyResult RunSingleKeyChild(int (*end)(), const std::vector<PtyKeys>& keys = {})
{
    PtyOptions options;
    options.keys = keys;
    return RunFunctionOnPty(
        [end] {
            if (!SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), ENABLE_PROCESSED_INPUT)) {
                return 3;
            }
            DWORD written;
            WriteConsoleA(GetStdHandle(STD_OUTPUT_HANDLE), "ready", 5, &written, nullptr);
            return end();
        },
        options);
}

TEST(TerminalRestore, AtNormalExit)
{
    PtyResult result = RunSingleKeyChild([] { return 0; });
    EXPECT_EQ(result.ExitCode(), 0) << result.output;
    EXPECT_TRUE(result.TerminalRestored());
}

TEST(TerminalRestore, OnCtrlCWhileWaitingForAKeyAndTheProcessDiesOfIt)
{
    PtyResult result = RunSingleKeyChild(
        [] {
            char key;
            DWORD count;
            ReadConsoleA(GetStdHandle(STD_INPUT_HANDLE), &key, 1, &count, nullptr);
            return 0;
        },
        {{"ready", "\003"}});
    EXPECT_EQ(result.TermSignal(), SIGINT) << result.output;
    EXPECT_TRUE(result.TerminalRestored());
}

TEST(TerminalRestore, OnTerminationHangupQuitAndAbort)
{
    for (int signalNumber : {SIGTERM, SIGHUP, SIGQUIT, SIGABRT}) {
        static int raised;
        raised = signalNumber;
        PtyResult result = RunSingleKeyChild([] { return raise(raised); });
        EXPECT_EQ(result.TermSignal(), signalNumber);
        EXPECT_TRUE(result.TerminalRestored()) << signalNumber;
    }
}

TEST(TerminalRestore, SignalIgnoredBeforeStaysIgnored)
{
    PtyResult result = RunFunctionOnPty([] {
        signal(SIGTERM, SIG_IGN);
        SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), ENABLE_PROCESSED_INPUT);
        raise(SIGTERM);
        return 0;
    });
    EXPECT_EQ(result.ExitCode(), 0);
    EXPECT_TRUE(result.TerminalRestored());
}

}  // namespace
