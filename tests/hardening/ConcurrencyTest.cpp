// Many runs of the real program at once on the same simulated devices: nothing is lost, nothing fails.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ChildRun.h"
#include "tests/support/Paths.h"

namespace {

const int kEachSide = 50;
const int kShared = 2 * kEachSide + 1;  // The device every run takes besides its own.
const int kReaders = 10;

struct Started {
    pid_t pid;
    std::string outputFile;
    std::string expected;  // What the run must print after the banner.
    int status = -1;
};

std::string DeviceLine(int position) {
    return "device " + std::to_string(position) + ":\t\"Line" + std::to_string(position) + "\"\r\n";
}

class Concurrency : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(folder.Path().empty());
        environment = {"SUPRV_STATE=" + folder.Path() + "/state"};
        Control({"generate", std::to_string(kShared)});
        for (int device = kEachSide + 1; device <= 2 * kEachSide; ++device) {
            Control({"set", "Line" + std::to_string(device), "flags", "1"});
        }
    }

    std::string Control(const std::vector<std::string>& arguments) {
        std::vector<std::string> argv = {BuildDir() + "/suprvctl"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        ChildOptions options;
        options.environment = environment;
        const ChildResult run = RunChild(argv, options);
        EXPECT_EQ(run.exitCode, 0) << run.errors;
        return run.output;
    }

    // Starts the program without waiting, its output in a file of its own.
    void Start(const std::vector<std::string>& arguments, const std::string& expected) {
        Started run;
        run.outputFile = folder.Path() + "/out" + std::to_string(runs.size());
        run.expected = expected;
        std::vector<std::string> texts = {RingwardenBinary()};
        texts.insert(texts.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& text : texts) {
            argv.push_back(&text[0]);
        }
        argv.push_back(nullptr);
        const std::string state = environment[0];
        run.pid = fork();
        if (run.pid == 0) {
            setsid();
            putenv(const_cast<char*>(state.c_str()));
            const int output = open(run.outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int input = open("/dev/null", O_RDONLY);
            dup2(input, 0);
            dup2(output, 1);
            execv(argv[0], argv.data());
            _exit(127);
        }
        runs.push_back(run);
    }

    // Waits for every run, killing those still there at the deadline.
    void WaitForAll(std::chrono::seconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (Started& run : runs) {
            int status = 0;
            while (waitpid(run.pid, &status, WNOHANG) == 0) {
                if (std::chrono::steady_clock::now() > deadline) {
                    kill(run.pid, SIGKILL);
                    waitpid(run.pid, &status, 0);
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            run.status = status;
        }
    }

    TempFolder folder;
    std::vector<std::string> environment;
    std::vector<Started> runs;
};

// Each writer starts or stops the server of a device of its own and of the
// shared device; readers show the shared device meanwhile. Every run must
// succeed with its whole output, every device of one writer must end as that
// writer left it, and the state file must still read.
TEST_F(Concurrency, StartAndStopAtOnce) {
    const std::string start = "Start dial-up server on the following device(s):\r\n";
    const std::string stop = "Stop dial-up server on the following device(s):\r\n";
    for (int i = 1; i <= kEachSide; ++i) {
        const int stopped = kEachSide + i;
        Start({"startserver", "/N:" + std::to_string(i), "/N:" + std::to_string(kShared)},
              start + DeviceLine(i) + DeviceLine(kShared));
        Start({"stopserver", "/N:" + std::to_string(kShared), "/N:" + std::to_string(stopped)},
              stop + DeviceLine(stopped) + DeviceLine(kShared));
        if (i % (kEachSide / kReaders) == 0) {
            Start({"showstatus", "/N:" + std::to_string(kShared)}, "Device status list:\r\n" + DeviceLine(kShared));
        }
    }
    WaitForAll(std::chrono::seconds(100));

    for (const Started& run : runs) {
        ASSERT_TRUE(WIFEXITED(run.status)) << "a run was killed or crashed: " << run.outputFile;
        EXPECT_EQ(WEXITSTATUS(run.status), 0) << ReadFile(run.outputFile);
        const std::string output = ReadFile(run.outputFile);
        EXPECT_NE(output.find(run.expected), std::string::npos) << output;
    }
    const std::string listing = Control({"list"});
    for (int device = 1; device <= 2 * kEachSide; ++device) {
        const std::string row = std::to_string(device) + "\tLine" + std::to_string(device) + "\t";
        const size_t at = listing.find("\n" + row);
        ASSERT_NE(at, std::string::npos) << listing;
        const std::string line = listing.substr(at + 1, listing.find('\n', at + 1) - at - 1);
        EXPECT_NE(line.find(device <= kEachSide ? "\tactive\t" : "\tstopped\t"), std::string::npos) << line;
    }
    EXPECT_NE(listing.find("\n" + std::to_string(kShared) + "\tLine" + std::to_string(kShared) + "\t"),
              std::string::npos);
}

}  // namespace
