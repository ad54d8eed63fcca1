// The real program with hostile standard handles and terminals: closed, full, broken, absent, interrupted.
//
// Outcomes (also in the README's reliability section): a line that cannot be
// written falls back to a message box; without a terminal that box cannot be
// shown either, so the line is lost, but the command still runs to the end and
// its exit code is its own. No case hangs or crashes, and a terminal is left
// as it was found.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <string>

#include "tests/support/ChildRun.h"
#include "tests/support/Paths.h"
#include "tests/support/Pty.h"

namespace {

const char kReport[] = "ERROR!!! Cannot initialize remote network access system. Error N 2";
const char kBoxPrompt[] = "(Enter: Ok) ";

class HostileStreams : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(folder.Path().empty());
        environment = {"SUPRV_STATE=" + folder.Path() + "/state"};
        Control({"generate", "1"});
    }

    void Control(const std::vector<std::string>& arguments) {
        std::vector<std::string> argv = {BuildDir() + "/suprvctl"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        ChildOptions options;
        options.environment = environment;
        ASSERT_EQ(RunChild(argv, options).exitCode, 0);
    }

    // Whether the simulated device's server is active.
    bool ServerActive() {
        ChildOptions options;
        options.environment = environment;
        return RunChild({BuildDir() + "/suprvctl", "list"}, options).output.find("active") != std::string::npos;
    }

    ChildResult Run(const std::vector<std::string>& arguments, const std::function<void()>& setup) {
        std::vector<std::string> argv = {RingwardenBinary()};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        ChildOptions options;
        options.environment = environment;
        // A failing run never de-initialises the simulated supervisor, by design.
        options.environment.push_back("ASAN_OPTIONS=detect_leaks=0");
        options.setup = setup;
        ChildResult run = RunChild(argv, options);
        EXPECT_FALSE(run.timedOut);
        EXPECT_EQ(run.signal, 0);
        return run;
    }

    // The command runs and its exit code is its own, whatever became of its lines.
    void ExpectStartsTheServer(const std::function<void()>& setup) {
        const ChildResult run = Run({"startserver"}, setup);
        EXPECT_EQ(run.exitCode, 0) << run.errors;
        EXPECT_TRUE(ServerActive());
    }

    void ExpectReportedFailure(const std::function<void()>& setup) {
        Control({"fault", "initialize", "2"});
        const ChildResult run = Run({"showstatus"}, setup);
        EXPECT_EQ(run.exitCode, 5) << run.errors;
    }

    TempFolder folder;
    std::vector<std::string> environment;
};

void CloseOutput() { close(1); }
void CloseInput() { close(0); }

void OutputToFullDevice() {
    const int full = open("/dev/full", O_WRONLY);
    dup2(full, 1);
    close(full);
}

void OutputToPipeWithoutReader() {
    int ends[2];
    if (pipe(ends) == 0) {
        close(ends[0]);
        dup2(ends[1], 1);
        close(ends[1]);
    }
}

TEST_F(HostileStreams, StandardOutputClosed) {
    ExpectStartsTheServer(CloseOutput);
    ExpectReportedFailure(CloseOutput);
}

TEST_F(HostileStreams, StandardOutputOnAFullDevice) {
    ExpectStartsTheServer(OutputToFullDevice);
    ExpectReportedFailure(OutputToFullDevice);
}

TEST_F(HostileStreams, PipeWhoseReaderHasGone) {
    ExpectStartsTheServer(OutputToPipeWithoutReader);
    ExpectReportedFailure(OutputToPipeWithoutReader);
}

// Without a controlling terminal the lines still reach a redirected output;
// only the beeps and the title, which belong to the terminal, are gone.
TEST_F(HostileStreams, NoControllingTerminal) {
    const ChildResult run = Run({"startserver"}, nullptr);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.output.find("device 1:\t\"Line1\"\r\n"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find('\033'), std::string::npos);
    EXPECT_EQ(run.output.find('\a'), std::string::npos);
}

// The report's prompt finds no input to read and takes the first answer.
TEST_F(HostileStreams, StandardInputClosed) {
    Control({"fault", "initialize", "2"});
    const ChildResult run = Run({"showstatus"}, CloseInput);
    EXPECT_EQ(run.exitCode, 5);
    EXPECT_NE(run.output.find(std::string(kReport) + "\r\n\r\n\tOk, Cancel?\t(O,C)\r\n"), std::string::npos)
        << run.output;
}

TEST_F(HostileStreams, EveryStandardHandleClosed) {
    ExpectStartsTheServer([] {
        close(0);
        close(1);
        close(2);
    });
}

// Ctrl+C at the report's prompt ends the program by the interrupt, as it
// would end any console program, with the terminal put back.
TEST_F(HostileStreams, InterruptAtAPrompt) {
    Control({"fault", "initialize", "2"});
    PtyOptions options;
    options.environment = environment;
    options.environment.push_back("ASAN_OPTIONS=detect_leaks=0");
    options.keys = {{"Hit any key to continue...", "\003", true}};
    const PtyResult run = RunOnPty({RingwardenBinary(), "showstatus"}, options);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.TermSignal(), SIGINT) << run.output;
    EXPECT_TRUE(run.TerminalRestored());
}

// With a terminal, each line that the full device refuses is shown as a box
// there instead, and the run goes on once the box is answered.
TEST_F(HostileStreams, FullDeviceWithATerminalShowsEachLineInABox) {
    PtyOptions options;
    options.environment = environment;
    options.childSetup = OutputToFullDevice;
    // The banner, the contact lines, the list header and the device line.
    for (int box = 0; box < 4; ++box) {
        options.keys.push_back({kBoxPrompt, "\r", true});
    }
    const PtyResult run = RunOnPty({RingwardenBinary(), "startserver"}, options);
    EXPECT_FALSE(run.timedOut) << run.output;
    EXPECT_EQ(run.ExitCode(), 0) << run.output;
    EXPECT_NE(run.output.find("device 1:\t\"Line1\""), std::string::npos) << run.output;
    EXPECT_TRUE(run.TerminalRestored());
    EXPECT_TRUE(ServerActive());
}

// However a run ends, the terminal is left exactly as it was found, though
// the report's prompt changes it through standard input and the box that an
// unlisted key brings up changes it again through /dev/tty.
TEST_F(HostileStreams, EveryEndingLeavesTheTerminalAsFound) {
    const std::string file = folder.Path() + "/out";
    const auto toFile = [file] {
        const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 1);
        close(fd);
    };
    const PtyKeys unlistedKey = {"", "\r", true};
    const struct {
        const char* ending;
        std::vector<std::string> fault;
        const char* command;
        std::vector<PtyKeys> keys;
        int exitCode;
        int signal;
    } cases[] = {
        {"exit", {"clear"}, "startserver", std::vector<PtyKeys>(4, {kBoxPrompt, "\r", true}), 0, 0},
        {"report", {"initialize", "2"}, "showstatus", {unlistedKey, {kBoxPrompt, "\r", true}}, 5, 0},
        {"crash", {"crash", "SuprvGetAccessInfo", "null"}, "showstatus", {unlistedKey, {kBoxPrompt, "\r", true}}, 5, 0},
        {"interrupt", {"initialize", "2"}, "showstatus", {unlistedKey, {kBoxPrompt, "\003", true}}, -1, SIGINT},
        {"quit", {"initialize", "2"}, "showstatus", {unlistedKey, {kBoxPrompt, "\034", true}}, -1, SIGQUIT},
        {"terminate", {"initialize", "2"}, "showstatus", {unlistedKey, {kBoxPrompt, "", true, 0, SIGTERM}}, -1, SIGTERM},
        {"hangup", {"initialize", "2"}, "showstatus", {unlistedKey, {kBoxPrompt, "", true, 0, SIGHUP}}, -1, SIGHUP},
    };
    for (const auto& c : cases) {
        std::vector<std::string> fault = {"fault"};
        fault.insert(fault.end(), c.fault.begin(), c.fault.end());
        Control(fault);
        PtyOptions options;
        options.environment = environment;
        options.environment.push_back("ASAN_OPTIONS=detect_leaks=0");
        options.keys = c.keys;
        // Without a fault, every line goes to a full device and comes up as a box instead.
        options.childSetup = c.exitCode == 0 ? std::function<void()>(OutputToFullDevice) : toFile;
        const PtyResult run = RunOnPty({RingwardenBinary(), c.command}, options);
        EXPECT_FALSE(run.timedOut) << c.ending << "\n" << run.output;
        EXPECT_EQ(run.ExitCode(), c.exitCode) << c.ending;
        EXPECT_EQ(run.TermSignal(), c.signal) << c.ending;
        EXPECT_TRUE(run.TerminalRestored()) << c.ending;
    }
}

}  // namespace
