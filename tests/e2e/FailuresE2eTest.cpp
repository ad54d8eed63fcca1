// The real program's failures: each one reported after the output before it, with exit code 5.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/Sandbox.h"
#include "tests/support/Paths.h"

namespace {

const std::string kStatusHeader = "Device status list:\r\n";

const std::string kFirstDeviceUpToServerLine = GeneratedDeviceLines(1, "Line1", "modem", kServerStopped);
const std::string kSecondDevice = GeneratedDeviceLines(2, "Line2", "isdn", kServerStopped) + "\r\n";

std::string MissingFunction(const std::string& name) {
    return "Error! Invalid library:\n\n\"rasapi32.dll\"\n\nThe following function not found:\n\n\"" + name +
           "\"\n\n System Reports:\nThe procedure was not found in the module.\r\n";
}

class FailuresE2e : public Sandbox {
protected:
    void SetUp() override {
        Sandbox::SetUp();
        failingRuns = true;
        Control({"generate", "2"});
    }

    // The output is the banner, what came before the failure, the report
    // and its prompt.
    void ExpectFailure(const std::vector<std::string>& arguments, const std::string& before, const std::string& report) {
        const RunResult run = Ringwarden(arguments);
        EXPECT_EQ(run.output, kBanner + before + report + "\r\n" + kReportPrompt);
        EXPECT_EQ(run.exitCode, 5);
    }
};

TEST_F(FailuresE2e, LibraryMissing) {
    UseLibrary("");
    ExpectFailure({"startserver"}, "",
                  "Error! Cannot load library:\n\n\"rasapi32.dll\"\n\n System Reports:\n"
                  "One of the library files needed to run this application cannot be found.\r\n"
                  "\nCheck, that \"Dial-up networking\" is installed!");
}

TEST_F(FailuresE2e, InitialisationError) {
    Control({"fault", "initialize", "2"});
    ExpectFailure({"showstatus"}, "", "ERROR!!! Cannot initialize remote network access system. Error N 2\r\n");
}

TEST_F(FailuresE2e, EnumerationFailure) {
    Control({"fault", "enumerate"});
    ExpectFailure({"stopserver"}, "", "ERROR!!! Cannot enumerate modems.");
}

TEST_F(FailuresE2e, RecordTooSmall) {
    Control({"fault", "recordsize", "400", "7"});
    ExpectFailure({"showstatus"}, kStatusHeader, "ERROR!!! Cannot get modem access info. Error N 7");
}

TEST_F(FailuresE2e, RecordOfOneDeviceNotAvailable) {
    Control({"fault", "getinfo", "31", "Line2"});
    ExpectFailure({"showstatus"}, kStatusHeader + kFirstDeviceUpToServerLine + "\r\n",
                  "ERROR!!! Cannot get modem access info. Error N 31");
}

// A refusal ends the pass at its device, the devices before keep their change; an idle Line1 is no refusal.
TEST_F(FailuresE2e, RefusedChangeEndsThePassAtItsDevice) {
    const char* const types[] = {"modem", "isdn", "cable", "modem"};
    const struct {
        std::vector<std::string> knob;
        const char *command, *header, *description;
        int refusing, started;
    } cases[] = {
        {{"fault", "setinfo", "5", "Line3"}, "startserver", "Start dial-up server", "Access is not permitted.", 3, 2},
        {{"fault", "setinfo", "29"}, "stopserver", "Stop dial-up server", "The device cannot be written to.", 1, 0},
        {{"fault", "disconnect", "31", "Line2"}, "disconnectuser", "Break connection(s)",
         "A device attached to the system does not work.", 2, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        Control({"generate", "4"});
        Control(c.knob);
        std::string lines = std::string(c.header) + " on the following device(s):\r\n";
        std::string list = "#\tdevice\ttype\tserver\tstatus\tuser\n";
        for (int i = 1; i <= 4; ++i) {
            const std::string n = std::to_string(i);
            lines += i <= c.refusing ? "device " + n + ":\t\"Line" + n + "\"\r\n" : "";
            list += n + "\tLine" + n + "\t" + types[i - 1] +
                    (i <= c.started ? "\tactive\tMonitoring\t\n" : "\tstopped\tIdle\t\n");
        }
        ExpectFailure({c.command}, lines,
                      "ERROR!!! The supervisor refused the command on device \"Line" + std::to_string(c.refusing) +
                          "\". Error N " + c.knob[2] + "\n\n System Reports:\n" + c.description + "\r\n");
        EXPECT_EQ(RunProgram({BuildDir() + "/suprvctl"}, Environment()).output, list);
        Control({"fault", "clear"});
    }
}

TEST_F(FailuresE2e, LibraryWithoutRequest) {
    UseLibrary(BuildDir() + "/simulator-variants/no-request/librasapi32.so");
    ExpectFailure({"showstatus"}, kStatusHeader + kFirstDeviceUpToServerLine, MissingFunction("SuprvRequest"));
    const RunResult start = Ringwarden({"startserver", "Line1"});
    EXPECT_EQ(start.output, kBanner + "Start dial-up server on the following device(s):\r\ndevice 1:\t\"Line1\"\r\n");
    EXPECT_EQ(start.exitCode, 0);
}

TEST_F(FailuresE2e, LibraryWithoutDeInitialize) {
    UseLibrary(BuildDir() + "/simulator-variants/no-deinitialize/librasapi32.so");
    ExpectFailure({"showstatus", "Line2", "/N:5"}, kStatusHeader + kSecondDevice + "Wrong device number: 5\r\n",
                  MissingFunction("SuprvDeInitialize"));
}

}  // namespace
