// The real program's commands on the simulated devices: start, status, a call, disconnect, stop, and selections.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/Sandbox.h"

namespace {

const std::string kStatusHeader = "Device status list:\r\n";

std::string DeviceLine(int position, const std::string& name) {
    return "device " + std::to_string(position) + ":\t\"" + name + "\"\r\n";
}

std::string Status(int position, const std::string& name, const std::string& type,
                   const std::string& serverLines = kServerStopped) {
    return GeneratedDeviceLines(position, name, type, serverLines) + "\r\n";
}

class CommandsE2e : public Sandbox {
protected:
    void SetUp() override {
        Sandbox::SetUp();
        Control({"generate", "2"});
    }

    void ExpectRun(const std::vector<std::string>& arguments, const std::string& output) {
        const RunResult run = Ringwarden(arguments);
        EXPECT_EQ(run.output, kBanner + output) << arguments[0];
        EXPECT_EQ(run.exitCode, 0) << arguments[0];
    }
};

TEST_F(CommandsE2e, StatusOfEveryDevice) {
    ExpectRun({"showstatus"}, kStatusHeader + Status(1, "Line1", "modem") + Status(2, "Line2", "isdn"));
}

// A server is started, a caller logs in, is cut off, and the server stops.
TEST_F(CommandsE2e, AServerFromStartToStop) {
    ExpectRun({"startserver", "/N:2"}, "Start dial-up server on the following device(s):\r\n" + DeviceLine(2, "Line2"));
    ExpectRun({"showstatus", "line2"},
              kStatusHeader + Status(2, "Line2", "isdn", "\tDial-up server active\r\n\tStatus:\tMonitoring\r\n"));
    Control({"call", "Line2", "bob"});
    ExpectRun({"showstatus", "/T:ISDN"},
              kStatusHeader + Status(2, "Line2", "isdn", "\tDial-up server active\r\n\tStatus:\tConnected\r\n\tUser logged in:\tbob\r\n"));
    ExpectRun({"disconnectuser", "Line2"}, "Break connection(s) on the following device(s):\r\n" + DeviceLine(2, "Line2"));
    ExpectRun({"showstatus", "/n:2"},
              kStatusHeader + Status(2, "Line2", "isdn", "\tDial-up server active\r\n\tStatus:\tMonitoring\r\n"));
    ExpectRun({"stopserver"}, "Stop dial-up server on the following device(s):\r\n" + DeviceLine(1, "Line1") +
                                  DeviceLine(2, "Line2"));
    ExpectRun({"showstatus", "Line2"}, kStatusHeader + Status(2, "Line2", "isdn"));
}

// Positions count every device, so a type filter leaves gaps.
TEST_F(CommandsE2e, TypeFilterKeepsThePositions) {
    ExpectRun({"startserver", "/T:isdn"}, "Start dial-up server on the following device(s):\r\n" + DeviceLine(2, "Line2"));
}

TEST_F(CommandsE2e, UnmatchedSelectionsAreReportedAfterThePass) {
    ExpectRun({"startserver", "Nope", "/N:9", "LINE1", "Line"},
              "Start dial-up server on the following device(s):\r\n" + DeviceLine(1, "Line1") +
                  "Device \"Nope\" not found\r\nWrong device number: 9\r\nDevice \"Line\" not found\r\n");
}

TEST_F(CommandsE2e, SelectionFilteredByTypeIsNeitherRunNorReported) {
    ExpectRun({"stopserver", "Line1", "/T:isdn"}, "Stop dial-up server on the following device(s):\r\n");
}

}  // namespace
