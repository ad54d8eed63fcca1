// Runs the real program and the supervisor's control tool against a state file of each test's own.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

// What a finished run left behind.
struct RunResult {
    std::string output;  // Standard output, byte for byte.
    std::string errors;  // Standard error.
    int exitCode = -1;   // -1 when the process did not exit normally.
    int signal = 0;      // The signal that ended it, or 0.
    bool timedOut = false;
};

// Runs a program with standard input at its end and standard output and
// error in pipes, with `environment` ("NAME=value") on top of the test's own.
// Killed when it outlives the time limit.
RunResult RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                     int timeoutMs = 20000);

// A temporary folder holding the state file of the simulated supervisor
// (SUPRV_STATE) and, on demand, a copy of the program beside a library of
// the test's choice. Removed with everything in it at the end of the test.
class Sandbox : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The control tool with the sandbox's state file; fails the test when
    // the tool fails.
    void Control(const std::vector<std::string>& arguments);
    // The program, from the build or from the copy that UseLibrary made.
    RunResult Ringwarden(const std::vector<std::string>& arguments);

    // Copies the program into the sandbox, beside a copy of `library` (a
    // path) named librasapi32.so, or beside no library when it is empty.
    void UseLibrary(const std::string& library);

    // The environment of every run: the state file, and for failing runs no
    // leak report in the sanitized build.
    std::vector<std::string> Environment() const;

    std::string folder;
    std::string program;
    // A run that fails after SuprvInitialize never calls SuprvDeInitialize,
    // so the simulated supervisor's state stays allocated at exit.
    bool failingRuns = false;
};

// What showstatus prints for a device the control tool generated, from its
// device line to its server lines, without the closing empty line.
std::string GeneratedDeviceLines(int position, const std::string& name, const std::string& type,
                                 const std::string& serverLines);
constexpr char kServerStopped[] = "\tDial-up server stopped\r\n";

// The lines every run writes first.
extern const std::string kBanner;
// The prompt that follows a report when output is redirected, answered by
// the end of input.
extern const std::string kReportPrompt;
