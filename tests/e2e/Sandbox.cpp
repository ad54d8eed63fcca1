// Runs the real program and the control tool against a state file of each test's own (see Sandbox.h).
#include "tests/e2e/Sandbox.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "tests/support/Paths.h"

extern char** environ;

const std::string kBanner =
    "Ringwarden 1.3 (build 42), dial-up server manager for Windows 9x\r\n"
    "Free software; it comes with no warranty of any kind.\r\n\r\n"
    "\tringwarden@example.org\r\n"
    "\thttp://www.example.org/ringwarden/\r\n\r\n";

const std::string kReportPrompt = "\tOk, Cancel?\t(O,C)\r\n";

std::string GeneratedDeviceLines(int position, const std::string& name, const std::string& type,
                                 const std::string& serverLines) {
    return "device " + std::to_string(position) + ":\t\"" + name + "\"\r\n\tComment: Generated device\r\n\r\n" +
           "\tDevice type:\t" + type + "\r\n\tServer type:\tPPP\r\n" + serverLines;
}

namespace {

// The test's environment with `extra` put over it, name by name.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extra) {
    std::vector<std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        bool replaced = false;
        for (const std::string& mine : extra) {
            replaced = replaced || mine.compare(0, mine.find('=') + 1, text, 0, mine.find('=') + 1) == 0;
        }
        if (!replaced) {
            merged.push_back(text);
        }
    }
    merged.insert(merged.end(), extra.begin(), extra.end());
    return merged;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(&text[0]);
    }
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

RunResult RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                     int timeoutMs) {
    RunResult result;
    std::vector<std::string> arguments = argv;
    std::vector<std::string> variables = MergedEnvironment(environment);
    std::vector<char*> argumentPointers = Pointers(arguments);
    std::vector<char*> variablePointers = Pointers(variables);
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "no pipes";
        return result;
    }
    const pid_t child = fork();
    if (child == 0) {
        int input = open("/dev/null", O_RDONLY);
        dup2(input, 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        execve(argumentPointers[0], argumentPointers.data(), variablePointers.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd pipes[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.output, &result.errors};
    int open = 2;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            kill(child, SIGKILL);
            break;
        }
        if (poll(pipes, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) {
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (pipes[i].fd < 0 || pipes[i].revents == 0) {
                continue;
            }
            char buffer[4096];
            const ssize_t count = read(pipes[i].fd, buffer, sizeof(buffer));
            if (count > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(count));
                continue;
            }
            close(pipes[i].fd);
            pipes[i].fd = -1;
            --open;
        }
    }
    for (pollfd& pipe : pipes) {
        if (pipe.fd >= 0) {
            close(pipe.fd);
        }
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

void Sandbox::SetUp() {
    char name[] = "/tmp/ringwarden-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    folder = name;
    program = RingwardenBinary();
}

void Sandbox::TearDown() {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

std::vector<std::string> Sandbox::Environment() const {
    std::vector<std::string> environment = {"SUPRV_STATE=" + folder + "/state"};
    if (failingRuns) {
        environment.push_back("ASAN_OPTIONS=detect_leaks=0");
    }
    return environment;
}

void Sandbox::Control(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {BuildDir() + "/suprvctl"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const RunResult result = RunProgram(argv, Environment());
    ASSERT_EQ(result.exitCode, 0) << "suprvctl " << (arguments.empty() ? "" : arguments[0]) << ": " << result.errors;
}

RunResult Sandbox::Ringwarden(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    RunResult result = RunProgram(argv, Environment());
    EXPECT_FALSE(result.timedOut);
    return result;
}

void Sandbox::UseLibrary(const std::string& library) {
    namespace fs = std::filesystem;
    program = folder + "/ringwarden";
    fs::copy_file(RingwardenBinary(), program, fs::copy_options::overwrite_existing);
    if (!library.empty()) {
        fs::copy_file(library, folder + "/librasapi32.so", fs::copy_options::overwrite_existing);
    }
}
