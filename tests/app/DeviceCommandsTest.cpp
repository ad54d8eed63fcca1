// The device commands: the status block line by line, start and stop touching bit 0 alone, disconnect.
#include "tests/app/PassRun.h"

#include <gtest/gtest.h>

#include <memory>
#include <string.h>

namespace {

const char statusHeader[] = "Device status list:\r\ndevice 1:\t\"Line\"\r\n";

// The status block of one device, without the list header and device line.
std::string StatusBlock(const FakeDevice& device, FakeSupervisor* used = nullptr)
{
    // Only one fake answers at a time: the latest one made.
    std::unique_ptr<FakeSupervisor> local(used == nullptr ? new FakeSupervisor : nullptr);
    FakeSupervisor& fake = used != nullptr ? *used : *local;
    fake.devices = {device};
    PassRun run = RunPass(fake, ShowStatus);
    EXPECT_EQ(run.failure, "");
    EXPECT_EQ(run.output.compare(0, strlen(statusHeader), statusHeader), 0) << run.output;
    return run.output.substr(strlen(statusHeader));
}

FakeDevice Line()
{
    return Device("Line", "");
}

TEST(StatusBlockTest, FullBlockInItsOrder)
{
    FakeDevice device = Line();
    device.comment = "Front desk";
    device.type = "modem";
    device.serverType = "PPP";
    device.flags = SUPRV_SERVER_ENABLED;
    device.status = SUPRV_STATUS_CONNECTED;
    device.user = "guest";
    EXPECT_EQ(StatusBlock(device),
              "\tComment: Front desk\r\n\r\n"
              "\tDevice type:\tmodem\r\n"
              "\tServer type:\tPPP\r\n"
              "\tDial-up server active\r\n"
              "\tStatus:\tConnected\r\n"
              "\tUser logged in:\tguest\r\n"
              "\r\n");
}

TEST(StatusBlockTest, EmptyFieldsLeaveTheirLinesOut)
{
    EXPECT_EQ(StatusBlock(Line()), "\tDial-up server stopped\r\n\r\n");
}

TEST(StatusBlockTest, StatusLineShowsForAnActiveServerOrANonIdleStatus)
{
    struct Case {
        uint32_t flags;
        int32_t status;
        const char* expected;
    } cases[] = {
        {SUPRV_SERVER_ENABLED, 0, "\tDial-up server active\r\n\tStatus:\tIdle\r\n\r\n"},
        {0xFFFFFFFEu, 0, "\tDial-up server stopped\r\n\r\n"},
        {0, 2, "\tDial-up server stopped\r\n\tStatus:\tConnected\r\n\r\n"},
        {0, 7, "\tDial-up server stopped\r\n\tStatus:\tMonitoring failed\r\n\r\n"},
        {0, 8, "\tDial-up server stopped\r\n\tStatus:\tUnknown\r\n\r\n"},
        {0, -5, "\tDial-up server stopped\r\n\tStatus:\tUnknown\r\n\r\n"},
    };
    for (const Case& c : cases) {
        FakeDevice device = Line();
        device.flags = c.flags;
        device.status = c.status;
        EXPECT_EQ(StatusBlock(device), c.expected) << c.status;
    }
}

TEST(StatusBlockTest, UnansweredStatusRequestShowsUnknown)
{
    FakeDevice device = Line();
    device.answersStatus = false;
    EXPECT_EQ(StatusBlock(device), "\tDial-up server stopped\r\n\tStatus:\tUnknown\r\n\r\n");
}

TEST(StatusBlockTest, ServerTypeAndCommentAreCut)
{
    FakeDevice device = Line();
    device.serverType = "ABCD";  // All four bytes set: no terminator in the record.
    device.comment = std::string(300, 'c');
    EXPECT_EQ(StatusBlock(device), "\tComment: " + std::string(256, 'c') +
                                       "\r\n\r\n"
                                       "\tServer type:\tABCD\r\n"
                                       "\tDial-up server stopped\r\n\r\n");
}

TEST(StatusBlockTest, RequestsCarryTheRecordAndTheirPresets)
{
    FakeSupervisor fake;
    StatusBlock(Line(), &fake);
    ASSERT_EQ(fake.statusRequests.size(), 1u);
    ASSERT_EQ(fake.userRequests.size(), 1u);
    const SuprvStatusRequest& status = fake.statusRequests[0];
    EXPECT_EQ(status.zero1, 0u);
    EXPECT_EQ(status.status, -1);
    EXPECT_EQ(status.zero2, 0u);
    const std::vector<unsigned char>& user = fake.userRequests[0];
    void* device = nullptr;
    memcpy(&device, user.data(), sizeof(device));
    EXPECT_EQ(device, status.device);
    for (size_t i = sizeof(void*); i < user.size(); ++i) {
        ASSERT_EQ(user[i], 0) << i;
    }
    EXPECT_EQ(fake.calls.back(), "request 55 Line");
}

// ---- Start, stop, disconnect ----

// Runs a command on one device with these flags and returns the record it wrote back.
std::vector<unsigned char> WrittenBack(DeviceCommand command, uint32_t flags, std::string* output = nullptr)
{
    FakeSupervisor fake;
    FakeDevice device = Line();
    device.type = "modem";
    device.comment = "kept";
    device.flags = flags;
    fake.devices = {device};
    PassRun run = RunPass(fake, command);
    if (output != nullptr) {
        *output = run.output;
    }
    EXPECT_EQ(fake.handedOut.size(), 1u);
    EXPECT_EQ(fake.writtenBack.size(), 1u);
    if (fake.writtenBack.size() != 1 || fake.handedOut.size() != 1) {
        return {};
    }
    // Every byte but the flags word comes back as it was handed out.
    for (size_t i = 0; i < fake.handedOut[0].size(); ++i) {
        if (i < 148 || i >= 152) {
            EXPECT_EQ(fake.writtenBack[0][i], fake.handedOut[0][i]) << "byte " << i;
        }
    }
    return fake.writtenBack[0];
}

uint32_t FlagsOf(const std::vector<unsigned char>& record)
{
    uint32_t flags = 0;
    if (record.size() >= 152) {
        memcpy(&flags, record.data() + 148, 4);
    }
    return flags;
}

TEST(ServerSwitchTest, StartAndStopChangeBitZeroAlone)
{
    EXPECT_EQ(FlagsOf(WrittenBack(StartServer, 0xF0F0F0F2u)), 0xF0F0F0F3u);
    EXPECT_EQ(FlagsOf(WrittenBack(StopServer, 0xFFFFFFFFu)), 0xFFFFFFFEu);
}

TEST(ServerSwitchTest, StartingAnActiveServerStillWritesAndPrintsOnlyTheDeviceLine)
{
    std::string output;
    EXPECT_EQ(FlagsOf(WrittenBack(StartServer, 1, &output)), 1u);
    EXPECT_EQ(output, "Start dial-up server on the following device(s):\r\ndevice 1:\t\"Line\"\r\n");
    EXPECT_EQ(FlagsOf(WrittenBack(StopServer, 0, &output)), 0u);
}

TEST(DisconnectTest, RequestsWithTheRecordItselfAndPrintsNothingMore)
{
    FakeSupervisor fake;
    fake.devices = {Line()};
    PassRun run = RunPass(fake, DisconnectUser);
    EXPECT_EQ(run.output, "Break connection(s) on the following device(s):\r\ndevice 1:\t\"Line\"\r\n");
    EXPECT_EQ(fake.calls.back(), "request 56 Line");
    EXPECT_EQ(fake.disconnected.size(), 1u);
    EXPECT_TRUE(fake.writtenBack.empty());
}

TEST(UnknownCommandTest, ActsAsShowStatus)
{
    FakeSupervisor fake;
    fake.devices = {Line()};
    PassRun run = RunPass(fake, static_cast<DeviceCommand>(9));
    EXPECT_EQ(run.output, std::string(statusHeader) + "\tDial-up server stopped\r\n\r\n");
}

// ---- A supervisor that lies cannot make the report leave the record ----

TEST(LyingSupervisorTest, RecordWithoutAnyZeroIsReadOnlyInsideItsBuffer)
{
    for (uint32_t size : {477u, 480u, 1000u}) {
        FakeSupervisor fake;
        fake.lies.recordSize = size;
        fake.lies.recordWithoutZeros = true;
        fake.devices = {Line()};
        PassRun run = RunPass(fake, ShowStatus);
        EXPECT_EQ(run.failure, "");
        // The device type runs on to the zero the pass keeps after the record.
        size_t rounded = (size + 3) / 4 * 4;
        std::string type(rounded - 129 - (rounded - size), 'x');
        EXPECT_NE(run.output.find("\tDevice type:\t" + type + "\r\n"), std::string::npos) << size;
        EXPECT_NE(run.output.find("\tComment: " + std::string(256, 'x') + "\r\n"), std::string::npos);
        EXPECT_NE(run.output.find("\tServer type:\txxxx\r\n"), std::string::npos);
    }
}

TEST(LyingSupervisorTest, UserNameFillingTheWholeFieldIsCutThere)
{
    FakeDevice device = Line();
    device.user = std::string(400, 'u');
    EXPECT_EQ(StatusBlock(device), "\tDial-up server stopped\r\n\tUser logged in:\t" + std::string(276, 'u') + "\r\n\r\n");
}

}  // namespace
