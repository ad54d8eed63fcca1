// The plugin's verdict over one reading, and its output in the monitoring plugins' format.
#pragma once

#include <string>
#include <vector>

#include "monitor/ClThresholdRange.h"
#include "monitor/LineReading.h"

// The states of the monitoring plugins, which are also the exit codes.
enum PluginState : int { kStateOk = 0, kStateWarning = 1, kStateCritical = 2, kStateUnknown = 3 };

// The ranges over the number of free lines (active lines that are Monitoring).
struct ClThresholds {
    ClThresholdRange warning;
    ClThresholdRange critical;
};

// CRITICAL when an active line is Monitoring failed or the free lines meet
// the critical range; WARNING when they meet the warning range; OK otherwise.
PluginState Evaluate(const std::vector<ClLineReading>& lines, const ClThresholds& thresholds);

// The whole output for a reading: "RINGWARDEN STATE - summary | perfdata",
// then one line for each line at fault. Every line ends with a line feed.
std::string FormatReport(const std::vector<ClLineReading>& lines, const ClThresholds& thresholds);

// The one line of an UNKNOWN state, with the reason on it.
std::string FormatUnknown(const std::string& reason);

// The text on one line: each run of blanks and line ends becomes one blank,
// and "|", which would start the performance data, and other control
// characters become "?".
std::string OneLine(const std::string& text);
