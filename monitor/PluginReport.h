// The plugin's verdict over one reading, and its output in the monitoring plugins' format.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "monitor/ClThresholdRange.h"
#include "monitor/LineReading.h"

// The states of the monitoring plugins, which are also the exit codes.
enum PluginState : int { kStateOk = 0, kStateWarning = 1, kStateCritical = 2, kStateUnknown = 3 };

// What raises an alert: the ranges over the number of free lines (active
// lines that are Monitoring), and the longest a call may be up, in seconds
// (0 for no limit).
struct ClThresholds {
    ClThresholds() : callWarning(0), callCritical(0) {}

    ClThresholdRange warning;
    ClThresholdRange critical;
    unsigned callWarning;
    unsigned callCritical;
};

// What is read at one moment: the lines, and the Unix time they were read
// at, against which a call's age is measured.
struct ClReading {
    std::vector<ClLineReading> lines;
    uint64_t now;
};

// CRITICAL when an active line is Monitoring failed, the free lines meet the
// critical range or a call is older than the critical limit; WARNING when the
// free lines meet the warning range or a call is older than the warning
// limit; OK otherwise.
PluginState Evaluate(const ClReading& reading, const ClThresholds& thresholds);

// The whole output for a reading: "RINGWARDEN STATE - summary | perfdata",
// its text before the performance data at most kFirstLineLimit characters
// however many lines are at fault, then one line for each line at fault
// (for every line with `verbosity` 1 or more, with their types from 2 on).
// Every line ends with a line feed.
std::string FormatReport(const ClReading& reading, const ClThresholds& thresholds, unsigned verbosity);

// The one line of a state that stands for no reading (UNKNOWN, or the state
// chosen for a timeout), with the reason on it.
std::string FormatProblem(PluginState state, const std::string& reason);

inline std::string FormatUnknown(const std::string& reason)
{
    return FormatProblem(kStateUnknown, reason);
}

// The text on one line: each run of blanks and line ends becomes one blank,
// and "|", which would start the performance data, and other control
// characters become "?".
std::string OneLine(const std::string& text);

enum : size_t { kFirstLineLimit = 100 };
