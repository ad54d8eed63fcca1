// The allocation-failure sweep: whole runs of the program with the Nth allocation failing, for every N.
//
// Each run must end normally or with the out-of-memory report and exit code
// 5: no crash, no hang, no sanitizer report (leaks included), no success that
// hides a failure, no output but whole lines of the run that did not fail,
// and no device whose state is neither what it was nor what the whole run
// makes of it.
#include <gtest/gtest.h>

#include <stdio.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/ChildRun.h"
#include "tests/support/Paths.h"

namespace {

const char kMemoryReport[] = "Not enough memory";
const char kPlannedFailed[] = "sweep: the planned allocation failed";
const char kPlannedNeverCame[] = "sweep: the planned allocation never came";
const char kReportPrompt[] = "\tOk, Cancel?\t(O,C)\r\n";
// No run of these commands comes near this many allocations.
const int kMostAllocations = 3000;

struct Reference {
    ChildResult run;
    std::vector<std::string> devices;  // The control tool's device lines after the run.
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

class AllocationSweep : public testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        ASSERT_FALSE(folder.Path().empty());
        state = folder.Path() + "/state";
        program = BuildDir() + "/ringwarden_alloc_sweep";
        Control({"generate", "2"});
    }

    std::vector<std::string> Environment() const { return {"SUPRV_STATE=" + state}; }

    std::string Control(const std::vector<std::string>& arguments) {
        std::vector<std::string> argv = {BuildDir() + "/suprvctl"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        ChildOptions options;
        options.environment = Environment();
        const ChildResult run = RunChild(argv, options);
        EXPECT_EQ(run.exitCode, 0) << "suprvctl " << arguments[0] << ": " << run.errors;
        return run.output;
    }

    // Runs the program beside another supervisor library, or beside none.
    void UseLibrary(const std::string& library) {
        namespace fs = std::filesystem;
        const std::string copy = folder.Path() + "/ringwarden_alloc_sweep";
        fs::copy_file(program, copy, fs::copy_options::overwrite_existing);
        program = copy;
        if (!library.empty()) {
            fs::copy_file(library, folder.Path() + "/librasapi32.so", fs::copy_options::overwrite_existing);
        }
    }

    ChildResult Run(int failing, const std::vector<std::string>& arguments) {
        std::vector<std::string> argv = {program, std::to_string(failing), GetParam()};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        ChildOptions options;
        options.environment = Environment();
        return RunChild(argv, options);
    }

    // Sweeps N from 1 until the Nth allocation no longer comes, restoring the
    // state file before each run.
    void Sweep(const std::vector<std::string>& arguments) {
        const std::string pristine = ReadFile(state);
        const std::vector<std::string> before = Lines(Control({"list"}));
        Reference reference;
        reference.run = Run(0, arguments);
        reference.devices = Lines(Control({"list"}));
        ASSERT_FALSE(reference.run.timedOut);
        ASSERT_NE(reference.run.exitCode, -1);
        int failing = 1;
        for (; failing <= kMostAllocations; ++failing) {
            WriteFile(state, pristine);
            const ChildResult run = Run(failing, arguments);
            SCOPED_TRACE("allocation " + std::to_string(failing) + " of " + arguments[0]);
            ExpectSound(run, reference);
            if (ReadFile(state) != pristine) {
                ExpectDevicesEachBeforeOrAfter(before, reference.devices);
            }
            if (HasFailure() || run.errors.find(kPlannedNeverCame) != std::string::npos) {
                break;
            }
        }
        EXPECT_LT(failing, kMostAllocations);
        EXPECT_GT(failing, 1);
        // The figure the reliability section quotes.
        printf("[   SWEEP  ] %s: %d runs, allocation 1 to %d failing\n",
               testing::UnitTest::GetInstance()->current_test_info()->name(), failing, failing - 1);
    }

    void ExpectSound(const ChildResult& run, const Reference& reference) {
        ASSERT_FALSE(run.timedOut);
        ASSERT_EQ(run.signal, 0) << run.errors;
        EXPECT_EQ(run.errors.find("Sanitizer"), std::string::npos) << run.errors;
        if (run.errors.find(kPlannedFailed) == std::string::npos || run.exitCode != 5) {
            // The failure never came, or it was absorbed: then nothing may differ.
            EXPECT_EQ(run.exitCode, reference.run.exitCode) << run.output << run.errors;
            EXPECT_EQ(run.output, reference.run.output);
            return;
        }
        const size_t report = run.output.find(kMemoryReport);
        if (report == std::string::npos) {
            // Only a run that reports a failure of its own may end with it
            // alone, when showing it cost the prompt.
            EXPECT_EQ(reference.run.exitCode, 5) << run.output;
            EXPECT_TRUE(run.output == reference.run.output ||
                        (StartsWith(reference.run.output, run.output) &&
                         reference.run.output.size() - run.output.size() == sizeof(kReportPrompt) - 1))
                << run.output;
            return;
        }
        // What came before the report is whole lines of the run that did not fail.
        const std::string before = run.output.substr(0, report);
        EXPECT_TRUE(StartsWith(reference.run.output, before)) << run.output;
        EXPECT_TRUE(before.empty() || (before.size() >= 2 && before.compare(before.size() - 2, 2, "\r\n") == 0))
            << run.output;
    }

    // Every device is as it was before the run or as the whole run leaves it.
    void ExpectDevicesEachBeforeOrAfter(const std::vector<std::string>& before, const std::vector<std::string>& after) {
        const std::vector<std::string> now = Lines(Control({"list"}));
        ASSERT_EQ(now.size(), before.size());
        ASSERT_EQ(now.size(), after.size());
        for (size_t i = 0; i < now.size(); ++i) {
            EXPECT_TRUE(now[i] == before[i] || now[i] == after[i]) << now[i];
        }
    }

    TempFolder folder;
    std::string state;
    std::string program;
};

TEST_P(AllocationSweep, ShowStatus) {
    Control({"set", "Line2", "flags", "1"});
    Control({"call", "Line2", "alice"});
    Control({"set", "Line1", "comment", "A comment of some length, to make the line grow past its format"});
    Sweep({"showstatus"});
}

TEST_P(AllocationSweep, StartServer) {
    Sweep({"startserver"});
}

TEST_P(AllocationSweep, StopServerByNameAndNumber) {
    Control({"set", "Line1", "flags", "1"});
    Control({"set", "Line2", "flags", "1"});
    Sweep({"stopserver", "line2", "/N:1", "Nope", "/T:modem"});
}

TEST_P(AllocationSweep, DisconnectUser) {
    Control({"set", "Line2", "flags", "1"});
    Control({"call", "Line2", "bob"});
    Sweep({"disconnectuser", "/N:2"});
}

TEST_P(AllocationSweep, RejectedCommandLine) {
    Sweep({"bogus", "/N:0", "/X", "/T:a", "/T:b", "name"});
}

TEST_P(AllocationSweep, Help) {
    Sweep({"/?"});
}

TEST_P(AllocationSweep, LibraryMissing) {
    UseLibrary("");
    Sweep({"startserver"});
}

TEST_P(AllocationSweep, InitialisationError) {
    Control({"fault", "initialize", "2"});
    Sweep({"showstatus"});
}

TEST_P(AllocationSweep, EnumerationFailure) {
    Control({"fault", "enumerate"});
    Sweep({"stopserver"});
}

TEST_P(AllocationSweep, RecordOfOneDeviceNotAvailable) {
    Control({"fault", "getinfo", "31", "Line2"});
    Sweep({"startserver"});
}

TEST_P(AllocationSweep, FunctionMissing) {
    UseLibrary(BuildDir() + "/simulator-variants/no-request/librasapi32.so");
    Sweep({"showstatus"});
}

INSTANTIATE_TEST_SUITE_P(Modes, AllocationSweep, testing::Values("once", "persistent"));

}  // namespace
