// The simulated supervisor's state file: durable changes, concurrent writers, damaged files, fault knobs, crashes.
#include "tests/simulator/SimulatorFixture.h"

#include "tests/support/Paths.h"

#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

namespace {

// Waits for a child that bounds its own life with alarm(); returns its wait status.
int WaitFor(pid_t child)
{
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

TEST_F(SimulatorTest, ChangeIsDurableAcrossProcesses)
{
    ASSERT_EQ(Initialize(), 0u);
    ASSERT_EQ(SetFlags("Cable1", SUPRV_SERVER_ENABLED), 0u);
    EXPECT_NE(StateText().find("device Cable1"), std::string::npos);

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(20);
        bool seen = Initialize() == 0 && FlagsOf(Record("Cable1")) == SUPRV_SERVER_ENABLED &&
                    Status("Cable1") == SUPRV_STATUS_MONITORING;
        _exit(seen ? 0 : 1);
    }
    int status = WaitFor(child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(SimulatorTest, ChangesAreAppendedAndTheFileStaysNearItsSnapshotSize)
{
    WriteState(GeneratedState(8));
    ASSERT_EQ(Initialize(), 0u);
    ASSERT_EQ(SetFlags("Line1", 1), 0u);
    size_t snapshot = StateText().size();
    ASSERT_EQ(SetFlags("Line2", 1), 0u);
    std::string text = StateText();
    EXPECT_EQ(text.substr(snapshot), "change Line2\n  flags 0x00000001\n  status Monitoring\nend\n");
    for (int round = 0; round < 300; ++round) {
        ASSERT_EQ(SetFlags("Line3", round % 2 == 0 ? 1 : 0), 0u);
    }
    EXPECT_LT(StateText().size(), 2 * snapshot + 4096 + 100);
    ASSERT_EQ(supervisor.deInitialize(), 0u);
    ASSERT_EQ(Initialize(), 0u);
    EXPECT_EQ(FlagsOf(Record("Line2")), 1u);
    EXPECT_EQ(FlagsOf(Record("Line3")), 0u);
}

TEST_F(SimulatorTest, TwoProcessesChangingDevicesAtOnceLoseNothing)
{
    const unsigned devices = 64;
    WriteState(GeneratedState(devices));
    ASSERT_EQ(Initialize(), 0u);
    ASSERT_EQ(SetFlags("Line1", 0), 0u);  // Nothing changes; the file stays hand-made until a real change.
    pid_t children[2];
    for (int which = 0; which < 2; ++which) {
        children[which] = fork();
        ASSERT_GE(children[which], 0);
        if (children[which] != 0) {
            continue;
        }
        alarm(60);
        // Each writer starts from the same old state and toggles its own half
        // five times, so every device ends active only if no change was lost.
        bool ok = Initialize() == 0;
        for (int round = 0; round < 5 && ok; ++round) {
            for (unsigned i = 1 + which; i <= devices && ok; i += 2) {
                ok = SetFlags(("Line" + std::to_string(i)).c_str(), round % 2 == 0 ? 1 : 0) == 0;
            }
        }
        _exit(ok ? 0 : 1);
    }
    for (pid_t child : children) {
        int status = WaitFor(child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    ASSERT_EQ(supervisor.deInitialize(), 0u);
    ASSERT_EQ(Initialize(), 0u);
    for (unsigned i = 1; i <= devices; ++i) {
        EXPECT_EQ(FlagsOf(Record(("Line" + std::to_string(i)).c_str())), 1u) << i;
    }
}

TEST_F(SimulatorTest, CorruptStateFileIsReportedAndNeverOverwritten)
{
    const std::string good = GeneratedState(1);
    const char* const broken[] = {
        "",
        "hello\n",
        "suprv-state 2 generation 1\n",
        "suprv-state 1 generation 1\ndevice A\n  colour red\nend\n",
        "suprv-state 1 generation 1\ndevice A\nend\ndevice A\nend\n",
        "suprv-state 1 generation 1\ndevice A\n  type much-too-long-device-type\nend\n",
        "suprv-state 1 generation 1\ndevice A\n  comment bad \\q escape\nend\n",
        "suprv-state 1 generation 1\ndevice A\n  flags 0x1FFFFFFFF\nend\n",
        "suprv-state 1 generation 1\ndevice A\n  type modem\n",
        "suprv-state 1 generation 1\nchange A\n  flags 1\nend\n",
        "suprv-state 1 generation 1\nfault crash SuprvRequest softly\n",
    };
    for (const char* text : broken) {
        WriteState(text);
        EXPECT_EQ(Initialize(), 13u) << text;
        EXPECT_EQ(StateText(), text);
    }
    // A file that goes bad after it was read is not written over either.
    WriteState(good);
    ASSERT_EQ(Initialize(), 0u);
    std::vector<unsigned char> record = Record("Line1");
    WriteState("garbage\n");
    record[148] = 1;
    EXPECT_EQ(supervisor.setAccessInfo(record.data()), 13u);
    EXPECT_EQ(StateText(), "garbage\n");
}

TEST_F(SimulatorTest, UnreadableStateFileIsAnInitializationError)
{
    std::filesystem::create_directories(statePath);
    EXPECT_EQ(Initialize(), 5u);
}

// Wherever a writer dies in its change block, the block is ignored and the
// next change cuts it away.
TEST_F(SimulatorTest, ChangeCutShortByADyingWriterIsIgnoredAndCutAway)
{
    const char* const cuts[] = {
        "change Line1\n  flags 0x00000001\n  status Moni",
        "change Line1\n  flags 0x00000001\n",
        "change Line1",
        "change Lin",
        "chan",
    };
    for (const char* cut : cuts) {
        SCOPED_TRACE(cut);
        WriteState(GeneratedState(2) + cut);
        ASSERT_EQ(Initialize(), 0u);
        EXPECT_EQ(FlagsOf(Record("Line1")), 0u);
        ASSERT_EQ(SetFlags("Line2", 1), 0u);
        std::string after = StateText();
        EXPECT_EQ(after.find(std::string(cut) + "change"), std::string::npos);
        ASSERT_EQ(supervisor.deInitialize(), 0u);
        ASSERT_EQ(Initialize(), 0u);
        EXPECT_EQ(FlagsOf(Record("Line1")), 0u);
        EXPECT_EQ(FlagsOf(Record("Line2")), 1u);
        ASSERT_EQ(supervisor.deInitialize(), 0u);
    }
}

TEST_F(SimulatorTest, FieldsSurviveTheTripThroughTheFile)
{
    // Without a generation mark the first change rewrites the file whole.
    WriteState("suprv-state 1 generation\n"
               "device Odd Name\n"
               "  type x\\ty\n"
               "  server ABCD\n"
               "  status -7\n"
               "  user \\x20padded\\x20\n"
               "  comment back\\\\slash\n"
               "end\n"
               "device Caller\n"
               "  status Connected\n"
               "  callstart 1700000000\n"
               "end\n");
    ASSERT_EQ(Initialize(), 0u);
    EXPECT_EQ(Names(), (std::vector<std::string>{"Odd Name", "Caller"}));
    EXPECT_EQ(Status("Odd Name"), -7);
    EXPECT_EQ(User("Odd Name"), " padded ");
    ASSERT_EQ(SetFlags("Odd Name", 1), 0u);
    std::string text = StateText();
    EXPECT_NE(text.find("\n  user \\x20padded\\x20\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\n  status -7\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\n  status Connected\n  user\n  callstart 1700000000\n"), std::string::npos) << text;
    ASSERT_EQ(supervisor.deInitialize(), 0u);
    ASSERT_EQ(Initialize(), 0u);
    std::vector<unsigned char> record = Record("Odd Name");
    EXPECT_STREQ(reinterpret_cast<const char*>(record.data() + 129), "x\ty");
    EXPECT_STREQ(reinterpret_cast<const char*>(record.data() + 204), "back\\slash");
    EXPECT_EQ(User("Odd Name"), " padded ");
    EXPECT_EQ(Status("Odd Name"), -7);
}

// ---- Fault knobs ----

TEST_F(SimulatorTest, FaultKnobsDriveTheFailurePaths)
{
    std::string devices = "device Modem1\nend\ndevice ISDN1\nend\n";
    std::string head = "suprv-state 1 generation 1\n";

    WriteState(head + "fault initialize 7\n" + devices);
    EXPECT_EQ(Initialize(), 7u);

    WriteState(head + "fault enumerate\n" + devices);
    ASSERT_EQ(Initialize(), 0u);
    uint32_t bytes = 9;
    uint32_t names = 9;
    supervisor.enumAccessInfo(nullptr, &bytes, &names);
    EXPECT_EQ(bytes, 0u);

    WriteState(head + "fault names 2\n" + devices);
    ASSERT_EQ(Initialize(), 0u);
    bytes = 0;
    supervisor.enumAccessInfo(nullptr, &bytes, &names);
    std::vector<char> buffer(bytes + 1);
    supervisor.enumAccessInfo(buffer.data(), &bytes, &names);
    EXPECT_EQ(names, 4u);
    EXPECT_EQ(bytes, 13u);

    WriteState(head + "fault recordsize 400 9\n" + devices);
    ASSERT_EQ(Initialize(), 0u);
    uint32_t size = 0;
    EXPECT_EQ(supervisor.getAccessInfo("Modem1", nullptr, &size), 9u);
    EXPECT_EQ(size, 400u);

    WriteState(head + "fault getinfo 31 ISDN1\n" + devices);
    ASSERT_EQ(Initialize(), 0u);
    uint32_t result = 0;
    EXPECT_FALSE(Record("Modem1", &result).empty());
    EXPECT_EQ(result, 0u);
    EXPECT_TRUE(Record("ISDN1", &result).empty());
    EXPECT_EQ(result, 31u);
}

TEST_F(SimulatorTest, InjectedCrashesAreRealProcessorFaults)
{
    struct Case {
        const char* knob;
        int signal;
    } cases[] = {
        {"SuprvInitialize null", SIGSEGV},
        {"SuprvEnumAccessInfo divide", SIGFPE},
        {"SuprvRequest recursion", SIGSEGV},
        {"SuprvDeInitialize divide", SIGFPE},
        {"SuprvGetAccessInfo nullread", SIGSEGV},
        {"SuprvGetAccessInfo readonly", SIGSEGV},
        {"SuprvRequest invalid", SIGILL},
    };
    for (const Case& c : cases) {
        WriteState(GeneratedState(1) + "fault crash " + c.knob + "\n");
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            alarm(20);
            signal(SIGSEGV, SIG_DFL);
            signal(SIGFPE, SIG_DFL);
            signal(SIGILL, SIG_DFL);
            if (Initialize() == 0) {
                uint32_t bytes = 0;
                uint32_t names = 0;
                supervisor.enumAccessInfo(nullptr, &bytes, &names);
                Status("Line1");
                supervisor.deInitialize();
            }
            _exit(0);
        }
        int status = WaitFor(child);
        EXPECT_TRUE(WIFSIGNALED(status)) << c.knob << ": " << status;
        EXPECT_EQ(WIFSIGNALED(status) ? WTERMSIG(status) : 0, c.signal) << c.knob;
    }
}

TEST(SimulatorVariantsTest, EachVariantLacksItsOneFunction)
{
    SupervisorFunctions noRequest = LoadSupervisor(BuildDir() + "/simulator-variants/no-request/librasapi32.so");
    ASSERT_NE(noRequest.handle, nullptr);
    EXPECT_EQ(noRequest.request, nullptr);
    EXPECT_NE(noRequest.deInitialize, nullptr);
    EXPECT_NE(noRequest.setAccessInfo, nullptr);

    SupervisorFunctions noDeInitialize =
        LoadSupervisor(BuildDir() + "/simulator-variants/no-deinitialize/librasapi32.so");
    ASSERT_NE(noDeInitialize.handle, nullptr);
    EXPECT_EQ(noDeInitialize.deInitialize, nullptr);
    EXPECT_NE(noDeInitialize.request, nullptr);
    EXPECT_NE(noDeInitialize.initialize, nullptr);
}

// ---- The control tool ----

// Runs suprvctl with `arguments`; returns its standard output and sets `code` to its exit code.
std::string Tool(const std::string& arguments, int* code)
{
    std::string command = BuildDir() + "/suprvctl " + arguments + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    char chunk[4096];
    size_t count;
    while (pipe != nullptr && (count = fread(chunk, 1, sizeof(chunk), pipe)) > 0) {
        output.append(chunk, count);
    }
    int status = pipe != nullptr ? pclose(pipe) : -1;
    *code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return output;
}

TEST_F(SimulatorTest, ControlToolPlaysTheCaller)
{
    int code = -1;
    EXPECT_EQ(Tool("call Modem1 alice", &code), "");
    EXPECT_EQ(code, 0);
    Tool("call Cable1 bob", &code);  // Its server is stopped.
    EXPECT_EQ(code, 1);
    Tool("call Modem1 carol", &code);  // Already in a call.
    EXPECT_EQ(code, 1);
    EXPECT_EQ(Tool("list", &code),
              "#\tdevice\ttype\tserver\tstatus\tuser\n"
              "1\tModem1\tmodem\tactive\tConnected\talice\n"
              "2\tModem2\tmodem\tactive\tConnected\tguest\n"
              "3\tISDN1\tisdn\tstopped\tIdle\t\n"
              "4\tCable1\tcable\tstopped\tIdle\t\n");
    ASSERT_EQ(Initialize(), 0u);
    EXPECT_EQ(User("Modem1"), "alice");
    Tool("hangup Modem1", &code);
    EXPECT_EQ(code, 0);
    ASSERT_EQ(supervisor.deInitialize(), 0u);
    ASSERT_EQ(Initialize(), 0u);
    EXPECT_EQ(User("Modem1"), "");
    EXPECT_EQ(Status("Modem1"), SUPRV_STATUS_MONITORING);
}

TEST_F(SimulatorTest, ControlToolGeneratesDevicesAndSetsKnobs)
{
    int code = -1;
    Tool("generate 300", &code);
    ASSERT_EQ(code, 0);
    Tool("fault getinfo 31 Line7", &code);
    ASSERT_EQ(code, 0);
    Tool("fault bogus", &code);
    EXPECT_EQ(code, 1);
    ASSERT_EQ(Initialize(), 0u);
    std::vector<std::string> names = Names();
    ASSERT_EQ(names.size(), 300u);
    EXPECT_EQ(names[299], "Line300");
    uint32_t result = 0;
    Record("Line7", &result);
    EXPECT_EQ(result, 31u);
    Tool("fault clear", &code);
    ASSERT_EQ(code, 0);
    EXPECT_EQ(StateText().find("fault"), std::string::npos);
}

}  // namespace
