// The device pass: enumeration, selection, type filter, unmatched selectors and the failures that end it.
#include "tests/app/PassRun.h"

#include <gtest/gtest.h>

namespace {

const char startHeader[] = "Start dial-up server on the following device(s):\r\n";
const std::string allStarted = std::string(startHeader) +
                               "device 1:\t\"Modem1\"\r\n"
                               "device 2:\t\"ISDN1\"\r\n"
                               "device 3:\t\"Modem2\"\r\n";

class DevicePassTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake.devices = {Device("Modem1"), Device("ISDN1", "isdn"), Device("Modem2")};
    }

    FakeSupervisor fake;
};

TEST_F(DevicePassTest, WithoutSelectorsEveryDeviceIsProcessedInOrder)
{
    PassRun run = RunPass(fake, StartServer);
    EXPECT_EQ(run.output, allStarted);
    EXPECT_EQ(run.failure, "");
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"enum-size", "enum-fill", "get-size Modem1", "get-fill Modem1",
                                                    "set Modem1", "get-size ISDN1", "get-fill ISDN1", "set ISDN1",
                                                    "get-size Modem2", "get-fill Modem2", "set Modem2"}));
}

TEST_F(DevicePassTest, NamesMatchWholeIgnoringCase)
{
    PassRun run = RunPass(fake, StartServer, {ByName("isdn1"), ByName("Modem")});
    EXPECT_EQ(run.output, std::string(startHeader) +
                              "device 2:\t\"ISDN1\"\r\n"
                              "Device \"Modem\" not found\r\n<beep>");
    EXPECT_EQ(run.found, (std::vector<bool>{true, false}));
}

TEST_F(DevicePassTest, NumbersCountEveryEnumeratedDevice)
{
    PassRun run = RunPass(fake, StopServer, {ByNumber(3), ByNumber(4)});
    EXPECT_EQ(run.output,
              "Stop dial-up server on the following device(s):\r\n"
              "device 3:\t\"Modem2\"\r\n"
              "Wrong device number: 4\r\n<beep>");
    // Unselected devices are not even read.
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"enum-size", "enum-fill", "get-size Modem2", "get-fill Modem2",
                                                    "set Modem2"}));
}

TEST_F(DevicePassTest, DeviceMatchedByNameAndNumberIsProcessedOnce)
{
    PassRun run = RunPass(fake, StartServer, {ByName("MODEM2"), ByNumber(3)});
    EXPECT_EQ(run.output, std::string(startHeader) + "device 3:\t\"Modem2\"\r\n");
    EXPECT_EQ(run.found, (std::vector<bool>{true, true}));
}

TEST_F(DevicePassTest, TypeFilterKeepsPositionsAndSkipsSilently)
{
    PassRun all = RunPass(fake, StartServer, {}, "MODEM");
    EXPECT_EQ(all.output, std::string(startHeader) +
                              "device 1:\t\"Modem1\"\r\n"
                              "device 3:\t\"Modem2\"\r\n");

    // A selected device of another type prints nothing, yet its selector counts as found.
    PassRun filtered = RunPass(fake, StartServer, {ByName("ISDN1")}, "modem");
    EXPECT_EQ(filtered.output, startHeader);
    EXPECT_EQ(filtered.found, (std::vector<bool>{true}));

    // The type is compared whole: a prefix of it is another type.
    EXPECT_EQ(RunPass(fake, StartServer, {}, "mod").output, startHeader);
}

TEST_F(DevicePassTest, UnmatchedSelectorsAreReportedInListOrderEachWithABeep)
{
    PassRun run = RunPass(fake, DisconnectUser, {ByNumber(9), ByName("Fax"), ByName(""), ByNumber(1)});
    EXPECT_EQ(run.output,
              "Break connection(s) on the following device(s):\r\n"
              "device 1:\t\"Modem1\"\r\n"
              "Wrong device number: 9\r\n<beep>"
              "Device \"Fax\" not found\r\n<beep>"
              "Device not found.\r\n<beep>");
    EXPECT_EQ(run.failure, "");
}

TEST_F(DevicePassTest, SelectorWithoutNameOrNumberSelectsNothing)
{
    PassRun run = RunPass(fake, ShowStatus, {ByName("")});
    EXPECT_EQ(run.output, "Device status list:\r\nDevice not found.\r\n<beep>");
}

TEST_F(DevicePassTest, NoNamesWithBytesReportsNoDeviceThenTheSelectors)
{
    fake.lies.rawListSet = true;
    fake.lies.rawList = std::string("\0\0", 2);
    fake.devices.clear();
    PassRun run = RunPass(fake, StartServer, {ByName("Modem1")});
    EXPECT_EQ(run.output, std::string("No any modem device available.\r\n") + startHeader +
                              "Device \"Modem1\" not found\r\n<beep>");
}

TEST_F(DevicePassTest, NameCountBeyondTheNamesEndsWhenTheBytesRunOut)
{
    fake.lies.nameCountSet = true;
    fake.lies.nameCount = 7;
    PassRun run = RunPass(fake, StartServer);
    EXPECT_EQ(run.output, allStarted);
    EXPECT_EQ(run.failure, "");
}

TEST_F(DevicePassTest, NameCountBelowTheNamesStopsEarly)
{
    fake.lies.nameCountSet = true;
    fake.lies.nameCount = 1;
    PassRun run = RunPass(fake, StartServer, {ByNumber(2)});
    EXPECT_EQ(run.output, std::string(startHeader) + "Wrong device number: 2\r\n<beep>");
}

// ---- Failures end the pass at once ----

TEST_F(DevicePassTest, EnumerationOfOneByteOrLessFailsBeforeAnyOutput)
{
    for (uint32_t size : {0u, 1u, 0x80000000u, 0xFFFFFFFFu}) {
        fake.lies.enumSizeSet = true;
        fake.lies.enumSize = size;
        fake.calls.clear();
        PassRun run = RunPass(fake, ShowStatus, {ByName("Nothing")});
        EXPECT_EQ(run.output, "") << size;
        EXPECT_EQ(run.failure, "ERROR!!! Cannot enumerate modems.") << size;
        EXPECT_EQ(fake.calls, std::vector<std::string>{"enum-size"}) << size;
    }
}

TEST_F(DevicePassTest, RecordOfAtMost476BytesFailsWithTheSizeQueryResult)
{
    fake.lies.recordSize = 476;
    fake.lies.sizeQueryResult = 632;
    PassRun run = RunPass(fake, StartServer, {ByNumber(2), ByName("Nothing")});
    EXPECT_EQ(run.output, startHeader);  // No device line, no report of the selectors.
    EXPECT_EQ(run.failure, "ERROR!!! Cannot get modem access info. Error N 632");
    EXPECT_EQ(fake.calls.back(), "get-size ISDN1");
}

TEST_F(DevicePassTest, FailedRecordFillEndsThePassWithItsResult)
{
    fake.devices[1].fillResult = static_cast<uint32_t>(-3);
    PassRun run = RunPass(fake, StartServer);
    EXPECT_EQ(run.output, std::string(startHeader) + "device 1:\t\"Modem1\"\r\n");
    EXPECT_EQ(run.failure, "ERROR!!! Cannot get modem access info. Error N -3");
    EXPECT_EQ(fake.calls.back(), "get-fill ISDN1");
}

TEST_F(DevicePassTest, FailedRecordFillCountsEvenWhenTheFilterWouldSkipTheDevice)
{
    fake.devices[1].fillResult = 5;
    PassRun run = RunPass(fake, StartServer, {}, "modem");
    EXPECT_EQ(run.failure, "ERROR!!! Cannot get modem access info. Error N 5");
    EXPECT_EQ(run.output, std::string(startHeader) + "device 1:\t\"Modem1\"\r\n");
}

// ---- A supervisor that lies cannot make the pass leave its buffers ----

TEST_F(DevicePassTest, FilledByteCountBeyondTheBufferIsClamped)
{
    fake.lies.filledSet = true;
    fake.lies.filled = 0xFFFFFF00u;
    PassRun run = RunPass(fake, StartServer);
    EXPECT_EQ(run.output, allStarted);
}

TEST_F(DevicePassTest, UnterminatedLastNameEndsAtTheBuffersEnd)
{
    fake.lies.rawListSet = true;
    fake.lies.rawList = std::string("Modem1\0Modem2", 13);
    PassRun run = RunPass(fake, StartServer);
    EXPECT_EQ(run.output, std::string(startHeader) +
                              "device 1:\t\"Modem1\"\r\n"
                              "device 2:\t\"Modem2\"\r\n");
}

TEST_F(DevicePassTest, NameCutByTheFilledCountEndsThere)
{
    // The buffer holds more than the supervisor says it filled.
    fake.lies.filledSet = true;
    fake.lies.filled = 10;  // "Modem1\0ISD"
    fake.lies.nameCountSet = true;
    fake.lies.nameCount = 3;
    fake.devices.push_back(Device("ISD"));
    PassRun run = RunPass(fake, StartServer);
    EXPECT_EQ(run.output, std::string(startHeader) +
                              "device 1:\t\"Modem1\"\r\n"
                              "device 2:\t\"ISD\"\r\n");
}

TEST_F(DevicePassTest, FillCallClaimingALargerRecordIsNotBelieved)
{
    fake.lies.recordSize = 477;  // Not a whole number of words.
    fake.lies.fillReportsSize = 100000;
    PassRun run = RunPass(fake, StartServer, {ByNumber(1)});
    EXPECT_EQ(run.failure, "");
    ASSERT_EQ(fake.writtenBack.size(), 1u);
}

}  // namespace
