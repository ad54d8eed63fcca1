// Processor faults inside the supervisor library: each kind ends in a crash report and exit code 5.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/Sandbox.h"
#include "tests/support/Paths.h"

namespace {

const std::string kEndOfStack = "----------------------------------";

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    EXPECT_EQ(start, text.size()) << "text after the last line end";
    return lines;
}

struct CrashCase {
    const char* function;  // Where the simulator faults.
    const char* kind;      // How it faults.
    std::vector<std::string> arguments;
    std::string before;     // What the run prints before the fault.
    std::string faultLine;  // The report's second line.
};

class CrashSandbox : public Sandbox {
protected:
    void SetUp() override {
        Sandbox::SetUp();
        failingRuns = true;
        Control({"generate", "2"});
    }
};

class CrashReports : public CrashSandbox, public testing::WithParamInterface<CrashCase> {};
class CrashReportsOfFramelessLibrary : public CrashSandbox {};

// The report names the fault, shows the faulting address alone on its line
// and walks the frames from the library back into the program; a stack
// overflow fills all 64 frame lines with the recursing function.
TEST_P(CrashReports, NameTheFaultAndTheModulesOfTheFrames) {
    const CrashCase& crash = GetParam();
    Control({"fault", "crash", crash.function, crash.kind});
    const RunResult run = Ringwarden(crash.arguments);
    EXPECT_EQ(run.exitCode, 5) << run.errors;
    const std::string opening = kBanner + crash.before + "APPLICATION ERROR!!!\n" + crash.faultLine + "\r\n\r\n";
    ASSERT_EQ(run.output.substr(0, opening.size()), opening);
    const std::string tail = "\r\n" + kReportPrompt;
    ASSERT_GT(run.output.size(), opening.size() + tail.size());
    ASSERT_EQ(run.output.substr(run.output.size() - tail.size()), tail);
    const std::vector<std::string> lines =
        Lines(run.output.substr(opening.size(), run.output.size() - opening.size() - tail.size()));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex("  EIP: +[0-9a-f]{8,}"))) << lines[0];
    const std::regex frameLine("[ 0-9a-f]{8,}  (  [ 0-9a-f]{8,}){3}( \t(.+))?");
    std::set<std::string> modules;
    size_t frames = 0;
    for (size_t i = 1; i < lines.size(); ++i) {
        std::smatch match;
        if (i + 1 == lines.size() && lines[i] == kEndOfStack) {
            break;
        }
        ASSERT_TRUE(std::regex_match(lines[i], match, frameLine)) << lines[i];
        modules.insert(match[3]);
        ++frames;
    }
    EXPECT_LE(frames, 64u);
    EXPECT_EQ(lines.back() == kEndOfStack, frames < 64u);
    EXPECT_EQ(modules.count("librasapi32.so"), 1u);
    if (std::string(crash.kind) != "recursion") {
        EXPECT_EQ(modules.count("ringwarden"), 1u);
    }
}

const std::string kFirstDeviceBlock = GeneratedDeviceLines(1, "Line1", "modem", kServerStopped) + "\r\n";

INSTANTIATE_TEST_SUITE_P(
    EachKind, CrashReports,
    testing::Values(
        CrashCase{"SuprvGetAccessInfo", "null", {"showstatus"}, "Device status list:\r\n", " Access violation"},
        CrashCase{"SuprvEnumAccessInfo", "divide", {"startserver"}, "", "Divide by zero"},
        CrashCase{"SuprvRequest", "recursion", {"disconnectuser", "Line2"},
                  "Break connection(s) on the following device(s):\r\ndevice 2:\t\"Line2\"\r\n", "Stack overflow"},
        CrashCase{"SuprvDeInitialize", "null", {"showstatus", "/N:1"}, "Device status list:\r\n" + kFirstDeviceBlock,
                  " Access violation"}));

// A library compiled the way system libraries are, optimised and without
// frame pointers: each kind of fault in it still ends in the crash report,
// with the frames from the program's call into it.
TEST_F(CrashReportsOfFramelessLibrary, EachKindOfFault) {
    UseLibrary(BuildDir() + "/simulator-variants/frameless/librasapi32.so");
    const struct {
        const char* function;
        const char* kind;
        const char* faultLine;
    } cases[] = {
        {"SuprvInitialize", "null", " Access violation"},
        {"SuprvEnumAccessInfo", "nullread", " Access violation"},
        {"SuprvGetAccessInfo", "readonly", " Access violation"},
        {"SuprvGetAccessInfo", "divide", "Divide by zero"},
        {"SuprvRequest", "invalid", "Invalid instruction"},
        {"SuprvDeInitialize", "recursion", "Stack overflow"},
    };
    for (const auto& crash : cases) {
        Control({"fault", "crash", crash.function, crash.kind});
        const RunResult run = Ringwarden({});
        EXPECT_EQ(run.exitCode, 5) << crash.kind << ": " << run.errors;
        const std::string opening = "APPLICATION ERROR!!!\n" + std::string(crash.faultLine) + "\r\n\r\n  EIP: ";
        EXPECT_TRUE(std::regex_search(run.output, std::regex(opening + " *[0-9a-f]{8,}\r\n")))
            << crash.kind << ":\n" << run.output;
        EXPECT_NE(run.output.find(" \tringwarden\r\n"), std::string::npos) << crash.kind << ":\n" << run.output;
    }
}

}  // namespace
