// Runs the real program and the control tool against a state file of each test's own (see Sandbox.h).
#include "tests/e2e/Sandbox.h"

#include <stdlib.h>

#include <filesystem>

#include "tests/support/ChildRun.h"
#include "tests/support/Paths.h"

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

RunResult RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                     int timeoutMs) {
    ChildOptions options;
    options.environment = environment;
    options.timeoutMs = timeoutMs;
    options.newSession = false;
    const ChildResult child = RunChild(argv, options);
    RunResult result;
    result.output = child.output;
    result.errors = child.errors;
    result.exitCode = child.exitCode;
    result.signal = child.signal;
    result.timedOut = child.timedOut;
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
