// The command-line phase: what a command line leaves in the application object, and what it writes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/ClRingwardenApp.h"
#include "platform/posix/MessagesSeam.h"
#include "platform/posix/ProcessSeam.h"
#include "tests/support/StdRedirect.h"

namespace {

using Outcome = ClRingwardenApp::CommandLineOutcome;

const std::string kHint = "Type \"test_app /?\" to call help\r\n\r\n";
const std::string kBad = "Bad command line!\r\n";

// Hands the arguments over as the process's own, after a program path.
void UseArguments(const std::vector<std::string>& arguments) {
    std::vector<std::string> all = {"/opt/ringwarden/test_app"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : all) {
        argv.push_back(&argument[0]);
    }
    SetProcessArguments(static_cast<int>(argv.size()), argv.data());
}

std::string SelectorName(const ClDeviceSelector& selector) {
    return std::string(selector.name.begin, selector.name.GetLength());
}

class CommandLinePhase : public testing::Test {
protected:
    void SetUp() override {
        SetMessageBeepHook([this](UINT type) { beeps.push_back(type); });
    }
    void TearDown() override { SetMessageBeepHook(nullptr); }

    Outcome Read(const std::vector<std::string>& arguments) {
        UseArguments(arguments);
        TempFile out;
        TempFile in;
        Outcome outcome;
        {
            ScopedRedirect toFile(1, out.Fd());
            ScopedRedirect fromFile(0, in.Fd());
            outcome = app.ReadCommandLine();
        }
        output = out.Contents();
        return outcome;
    }

    ClRingwardenApp app;
    std::string output;
    std::vector<UINT> beeps;
};

TEST_F(CommandLinePhase, NoCommandWordShowsStatusAfterTheHint) {
    EXPECT_EQ(Read({}), Outcome::Execute);
    EXPECT_EQ(app.command, ShowStatus);
    EXPECT_EQ(output, kHint);
    EXPECT_TRUE(beeps.empty());
}

TEST_F(CommandLinePhase, CommandWordsInAnyCase) {
    const struct {
        const char* word;
        DeviceCommand command;
    } cases[] = {{"showstatus", ShowStatus},
                 {"StartServer", StartServer},
                 {"STOPSERVER", StopServer},
                 {"disconnectUser", DisconnectUser}};
    for (const auto& c : cases) {
        ClRingwardenApp fresh;
        UseArguments({c.word});
        TempFile out;
        Outcome outcome;
        {
            ScopedRedirect toFile(1, out.Fd());
            outcome = fresh.ReadCommandLine();
        }
        EXPECT_EQ(outcome, Outcome::Execute) << c.word;
        EXPECT_EQ(fresh.command, c.command) << c.word;
        EXPECT_EQ(out.Contents(), "") << c.word;
    }
}

// A name holding "-" or "/" needs double quotes of its own inside the shell's.
TEST_F(CommandLinePhase, SelectorsInCommandLineOrder) {
    EXPECT_EQ(Read({"startserver", "Modem A", "/n:2", "\"com-1\""}), Outcome::Execute);
    EXPECT_EQ(app.command, StartServer);
    ASSERT_EQ(app.selectors.GetCount(), 3u);
    EXPECT_EQ(SelectorName(app.selectors[0]), "Modem A");
    EXPECT_EQ(app.selectors[0].number, 0u);
    EXPECT_EQ(SelectorName(app.selectors[1]), "");
    EXPECT_EQ(app.selectors[1].number, 2u);
    EXPECT_EQ(SelectorName(app.selectors[2]), "com-1");
    for (DWORD i = 0; i < 3; ++i) {
        EXPECT_EQ(app.selectors[i].found, 0);
    }
    EXPECT_EQ(output, "");
}

TEST_F(CommandLinePhase, DeviceNumberAsAtoiReadsIt) {
    EXPECT_EQ(Read({"showstatus", "/N:3abc", "/N:+12"}), Outcome::Execute);
    ASSERT_EQ(app.selectors.GetCount(), 2u);
    EXPECT_EQ(app.selectors[0].number, 3u);
    EXPECT_EQ(app.selectors[1].number, 12u);
}

TEST_F(CommandLinePhase, BadDeviceNumbersAreReportedAndStillSelect) {
    EXPECT_EQ(Read({"showstatus", "/N:0", "/N:x", "/N"}), Outcome::Rejected);
    EXPECT_EQ(output,
              "Command line error! Bad device number: \"0\"\r\n"
              "Command line error! Bad device number: \"x\"\r\n"
              "Command line error! Bad device number: \"\"\r\n" +
                  kBad + kHint);
    EXPECT_EQ(app.selectors.GetCount(), 3u);
    EXPECT_EQ(beeps, std::vector<UINT>{MB_ICONHAND});
}

TEST_F(CommandLinePhase, OneDeviceTypeInAnyCase) {
    EXPECT_EQ(Read({"showstatus", "/T:modem", "/t:MODEM"}), Outcome::Execute);
    EXPECT_STREQ(app.deviceType.GetText(), "modem");
    EXPECT_EQ(output, "");
}

TEST_F(CommandLinePhase, EmptyArgumentIsAnEmptyName) {
    EXPECT_EQ(Read({"showstatus", ""}), Outcome::Execute);
    ASSERT_EQ(app.selectors.GetCount(), 1u);
    EXPECT_EQ(SelectorName(app.selectors[0]), "");
    EXPECT_EQ(app.selectors[0].number, 0u);
}

TEST_F(CommandLinePhase, SelectorNamesOutliveTheReader) {
    EXPECT_EQ(Read({"stopserver", "Line 1"}), Outcome::Execute);
    UseArguments({"something", "else"});
    ASSERT_EQ(app.selectors.GetCount(), 1u);
    EXPECT_EQ(SelectorName(app.selectors[0]), "Line 1");
}

}  // namespace
