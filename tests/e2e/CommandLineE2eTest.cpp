// The real program's command line: the help, every rejected command line, and no command word.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/Sandbox.h"
#include "tests/support/ExpectedTexts.h"

namespace {

// The help, and the empty line that ends every line the program writes.
const std::string kHelp = std::string(kExpectedHelp) + "\r\n";

const std::string kRejected = "Bad command line!\r\nType \"ringwarden /?\" to call help\r\n\r\n";

class CommandLineE2e : public Sandbox {
protected:
    void SetUp() override {
        Sandbox::SetUp();
        Control({"generate", "2"});
    }
};

// The library is never needed for these: the copy of the program runs with
// none beside it.
TEST_F(CommandLineE2e, HelpThreeWaysWithoutTheLibrary) {
    UseLibrary("");
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"help"}, {"HELP"}, {"?"}, {"/?"}, {"startserver", "-?", "/N:0"}}) {
        const RunResult run = Ringwarden(arguments);
        EXPECT_EQ(run.output, kBanner + kHelp) << arguments[0];
        EXPECT_EQ(run.exitCode, 0) << arguments[0];
    }
}

TEST_F(CommandLineE2e, MessagesBeforeTheHelpStay) {
    const RunResult run = Ringwarden({"/X", "?"});
    EXPECT_EQ(run.output, kBanner + "Unknown command line key: \"X\"\r\n" + kHelp);
    EXPECT_EQ(run.exitCode, 0);
}

struct RejectedCase {
    std::vector<std::string> arguments;
    std::string messages;
};

class RejectedCommandLines : public CommandLineE2e, public testing::WithParamInterface<RejectedCase> {};

TEST_P(RejectedCommandLines, ReportEveryFaultThenTheHint) {
    UseLibrary("");
    const RunResult run = Ringwarden(GetParam().arguments);
    EXPECT_EQ(run.output, kBanner + GetParam().messages + kRejected);
    EXPECT_EQ(run.exitCode, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, RejectedCommandLines,
    testing::Values(RejectedCase{{"COM1"}, "ERROR! Unknown command: COM1\r\n\r\n"},
                    RejectedCase{{"/help"}, "Unknown command line key: \"help\"\r\n"},
                    RejectedCase{{"showstatus", "/N2"}, "Unknown command line key: \"N2\"\r\n"},
                    RejectedCase{{"showstatus", "/N:0", "/N:x", "/N"},
                                 "Command line error! Bad device number: \"0\"\r\n"
                                 "Command line error! Bad device number: \"x\"\r\n"
                                 "Command line error! Bad device number: \"\"\r\n"},
                    RejectedCase{{"showstatus", "/T:modem", "/T:isdn"}, "Error! You can specify only one device type.\r\n"},
                    RejectedCase{{"showstatus", "/T:"}, ""},
                    RejectedCase{{"stopserver", "modem-1"}, "Unknown command line key: \"1\"\r\n"},
                    RejectedCase{{"bogus", "/N:0", "/Q", "/T:a", "/t:B"},
                                 "Command line error! Bad device number: \"0\"\r\n"
                                 "Unknown command line key: \"Q\"\r\n"
                                 "Error! You can specify only one device type.\r\n"
                                 "ERROR! Unknown command: bogus\r\n\r\n"}));

const std::string kFirstDevice = GeneratedDeviceLines(1, "Line1", "modem", kServerStopped) + "\r\n";

TEST_F(CommandLineE2e, NoCommandWordGivesTheHintThenTheStatus) {
    Control({"generate", "1"});
    const RunResult run = Ringwarden({});
    EXPECT_EQ(run.output, kBanner + "Type \"ringwarden /?\" to call help\r\n\r\n" +
                              "Device status list:\r\n" + kFirstDevice);
    EXPECT_EQ(run.exitCode, 0);
}

TEST_F(CommandLineE2e, ShowStatusNamedGivesNoHint) {
    Control({"generate", "1"});
    const RunResult run = Ringwarden({"SHOWSTATUS", "/N:1", "/T:Modem", "/T:MODEM"});
    EXPECT_EQ(run.output, kBanner + "Device status list:\r\n" + kFirstDevice);
    EXPECT_EQ(run.exitCode, 0);
}

// An empty argument is a device name that no device has.
TEST_F(CommandLineE2e, EmptyNameMatchesNoDevice) {
    const RunResult run = Ringwarden({"showstatus", ""});
    EXPECT_EQ(run.output, kBanner + "Device status list:\r\nDevice not found.\r\n");
    EXPECT_EQ(run.exitCode, 0);
}

}  // namespace
