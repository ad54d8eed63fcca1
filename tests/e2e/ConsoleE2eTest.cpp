// The real program on a terminal: the console title, and a report that waits for a key.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "tests/e2e/Sandbox.h"
#include "tests/support/Pty.h"
#include "tests/support/StdRedirect.h"

namespace {

const std::string kTitle = "\033]0;Ringwarden\007";
const std::string kInitializeReport = "ERROR!!! Cannot initialize remote network access system. Error N 2\r\n\r\n";

class ConsoleE2e : public Sandbox {
protected:
    void SetUp() override {
        Sandbox::SetUp();
        failingRuns = true;
        Control({"generate", "1"});
        Control({"fault", "initialize", "2"});
        options.environment = Environment();
    }

    PtyOptions options;
};

TEST_F(ConsoleE2e, ReportOnTheConsoleWaitsForAnyKey) {
    options.keys = {{"Hit any key to continue...", "x"}};
    const PtyResult run = RunOnPty({program, "showstatus"}, options);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.ExitCode(), 5) << run.output;
    EXPECT_NE(run.output.find(kTitle), std::string::npos);
    const size_t banner = run.output.find(kBanner);
    // The exclamation sound comes between the text and the prompt. The key
    // may arrive before echo is off, so what follows the prompt varies.
    const size_t report = run.output.find(kInitializeReport + "\a\tHit any key to continue...");
    EXPECT_NE(banner, std::string::npos) << run.output;
    EXPECT_NE(report, std::string::npos) << testing::PrintToString(run.output);
    EXPECT_LT(banner, report);
    EXPECT_TRUE(run.TerminalRestored());
}

// A key that sends several bytes answers the prompt whole: nothing of it is
// left for the shell.
TEST_F(ConsoleE2e, ReportIsAnsweredByAWholeKey) {
    for (const char* key : {"\033[A", "\033[1;5C", "\033OP", "\xc3\xa9", "\033"}) {
        options.keys = {{"Hit any key to continue...", key, true}};
        const PtyResult run = RunOnPty({program, "showstatus"}, options);
        EXPECT_FALSE(run.timedOut);
        EXPECT_EQ(run.ExitCode(), 5) << run.output;
        EXPECT_EQ(run.pendingInput, 0) << testing::PrintToString(key);
        EXPECT_TRUE(run.TerminalRestored());
    }
}

// Only the lines reach the redirected output; the title stays on the
// terminal, and the prompt's key still comes from it.
TEST_F(ConsoleE2e, RedirectedOutputGetsNoTerminalSequences) {
    TempFile file;
    const int fd = file.Fd();
    options.childSetup = [fd] { dup2(fd, 1); };
    options.keys = {{"", "o"}};
    const PtyResult run = RunOnPty({program, "showstatus"}, options);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.ExitCode(), 5);
    EXPECT_EQ(file.Contents(), kBanner + kInitializeReport + kReportPrompt);
    EXPECT_NE(run.output.find(kTitle), std::string::npos) << run.output;
}

}  // namespace
