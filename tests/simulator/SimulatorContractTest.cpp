// The simulated supervisor honours the six functions' contract: size queries, fills, records and requests.
#include "tests/simulator/SimulatorFixture.h"

#include <string.h>

namespace {

std::string TextAt(const std::vector<unsigned char>& record, size_t offset)
{
    return std::string(reinterpret_cast<const char*>(record.data() + offset));
}

TEST_F(SimulatorTest, WithoutStateFileTheBuiltInSetIsEnumerated)
{
    ASSERT_EQ(Initialize(), 0u);
    uint32_t bytes = 0;
    uint32_t names = 0;
    EXPECT_EQ(supervisor.enumAccessInfo(nullptr, &bytes, &names), 122u);
    std::string expected("Modem1\0Modem2\0ISDN1\0Cable1\0", 27);
    EXPECT_EQ(bytes, expected.size());

    std::vector<char> buffer(bytes + 1, '#');
    uint32_t small = bytes - 1;
    EXPECT_EQ(supervisor.enumAccessInfo(buffer.data(), &small, &names), 122u);
    EXPECT_EQ(small, bytes);
    EXPECT_EQ(buffer[0], '#');  // A buffer too small is left alone.

    EXPECT_EQ(supervisor.enumAccessInfo(buffer.data(), &bytes, &names), 0u);
    EXPECT_EQ(std::string(buffer.data(), bytes), expected);
    EXPECT_EQ(names, 4u);
    EXPECT_EQ(buffer[bytes], '#');  // Nothing written past the reported bytes.
    EXPECT_EQ(StateText(), "<none>");  // Reading creates no file.
}

TEST_F(SimulatorTest, NoDevicesIsAListOfTwoZeroBytes)
{
    WriteState(GeneratedState(0));
    ASSERT_EQ(Initialize(), 0u);
    uint32_t bytes = 0;
    uint32_t names = 0;
    supervisor.enumAccessInfo(nullptr, &bytes, &names);
    ASSERT_EQ(bytes, 2u);
    char buffer[3] = {'#', '#', '#'};
    EXPECT_EQ(supervisor.enumAccessInfo(buffer, &bytes, &names), 0u);
    EXPECT_EQ(names, 0u);
    EXPECT_EQ(std::string(buffer, 3), std::string("\0\0#", 3));
}

TEST_F(SimulatorTest, RecordsHoldTheFieldsAtTheirOffsets)
{
    ASSERT_EQ(Initialize(), 0u);
    uint32_t size = 0;
    EXPECT_EQ(supervisor.getAccessInfo("Modem1", nullptr, &size), 122u);
    EXPECT_EQ(size, 512u);
    std::vector<unsigned char> record(size, 0);
    uint32_t smaller = 500;
    EXPECT_EQ(supervisor.getAccessInfo("Modem1", record.data(), &smaller), 122u);
    EXPECT_EQ(smaller, 512u);

    record = Record("Modem1");
    ASSERT_EQ(record.size(), 512u);
    EXPECT_EQ(TextAt(record, 129), "modem");
    EXPECT_EQ(FlagsOf(record), SUPRV_SERVER_ENABLED);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(record.data() + 156), 4), std::string("PPP\0", 4));
    EXPECT_EQ(TextAt(record, 204), "External 56k modem on the first serial port");

    std::vector<unsigned char> isdn = Record("ISDN1");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(isdn.data() + 156), 4), "SLIP");  // Unterminated.
    EXPECT_GT(TextAt(isdn, 204).size(), 256u);
    EXPECT_EQ(FlagsOf(isdn), 0x100u);  // A bit other than the server bit.
}

TEST_F(SimulatorTest, UnknownDeviceAndUnknownRequestAreRefused)
{
    ASSERT_EQ(Initialize(), 0u);
    uint32_t size = 99;
    EXPECT_EQ(supervisor.getAccessInfo("Modem9", nullptr, &size), 55u);
    EXPECT_EQ(size, 0u);
    std::vector<unsigned char> stranger(512, 0);
    memcpy(stranger.data(), "Modem9", 7);
    SuprvStatusRequest status = {stranger.data(), 0, -1, 0};
    EXPECT_EQ(supervisor.request(SUPRV_REQUEST_STATUS, &status, 0), 55u);
    EXPECT_EQ(status.status, -1);
    std::vector<unsigned char> record = Record("Modem1");
    EXPECT_EQ(supervisor.request(57, record.data(), 0), 50u);
}

TEST_F(SimulatorTest, CallsBeforeInitializeFail)
{
    uint32_t bytes = 5;
    uint32_t names = 5;
    EXPECT_EQ(supervisor.enumAccessInfo(nullptr, &bytes, &names), 21u);
    EXPECT_EQ(bytes, 0u);
    uint32_t size = 0;
    EXPECT_EQ(supervisor.getAccessInfo("Modem1", nullptr, &size), 21u);
    EXPECT_EQ(supervisor.deInitialize(), 21u);
}

TEST_F(SimulatorTest, StatusAndUserAnswerTheRequests)
{
    ASSERT_EQ(Initialize(), 0u);
    EXPECT_EQ(Status("Modem1"), SUPRV_STATUS_MONITORING);
    EXPECT_EQ(User("Modem1"), "");
    EXPECT_EQ(Status("Modem2"), SUPRV_STATUS_CONNECTED);
    EXPECT_EQ(User("Modem2"), "guest");
    EXPECT_EQ(Status("Cable1"), SUPRV_STATUS_IDLE);
}

TEST_F(SimulatorTest, ServerSwitchAndDisconnectBehaveAsAUserExpects)
{
    ASSERT_EQ(Initialize(), 0u);
    // Starting an idle device makes it wait for calls, keeping its other bits.
    EXPECT_EQ(SetFlags("ISDN1", 0x101), 0u);
    EXPECT_EQ(Status("ISDN1"), SUPRV_STATUS_MONITORING);
    EXPECT_EQ(FlagsOf(Record("ISDN1")), 0x101u);
    // Stopping it ends the waiting.
    EXPECT_EQ(SetFlags("ISDN1", 0x100), 0u);
    EXPECT_EQ(Status("ISDN1"), SUPRV_STATUS_IDLE);
    // Stopping a device in a call leaves the call up; the disconnect ends it.
    EXPECT_EQ(SetFlags("Modem2", 0), 0u);
    EXPECT_EQ(Status("Modem2"), SUPRV_STATUS_CONNECTED);
    EXPECT_EQ(Disconnect("Modem2"), 0u);
    EXPECT_EQ(Status("Modem2"), SUPRV_STATUS_IDLE);
    EXPECT_EQ(User("Modem2"), "");
}

TEST_F(SimulatorTest, DisconnectOnAnActiveServerGoesBackToMonitoring)
{
    ASSERT_EQ(Initialize(), 0u);
    EXPECT_EQ(Disconnect("Modem2"), 0u);
    EXPECT_EQ(Status("Modem2"), SUPRV_STATUS_MONITORING);
    // Nobody to drop: nothing changes, nothing is written.
    std::string before = StateText();
    EXPECT_EQ(Disconnect("Modem1"), 0u);
    EXPECT_EQ(StateText(), before);
}

TEST_F(SimulatorTest, RecordWithAnyByteButTheFlagsChangedIsRefused)
{
    ASSERT_EQ(Initialize(), 0u);
    for (size_t offset : {0u, 129u, 147u, 152u, 156u, 204u, 511u}) {
        std::vector<unsigned char> record = Record("Cable1");
        record[148] |= 1;
        record[offset] ^= 0x40;
        EXPECT_EQ(supervisor.setAccessInfo(record.data()), offset == 0 ? 55u : 13u) << offset;
    }
    EXPECT_EQ(FlagsOf(Record("Cable1")), 0u);
    EXPECT_EQ(StateText(), "<none>");
}

}  // namespace
