// The command line of check_ringwarden, read in the GNU style that monitoring plugins use.
#pragma once

#include <string>

#include "base/ClArray.h"
#include "base/ClDeviceSelector.h"
#include "base/ClString.h"
#include "monitor/PluginReport.h"

struct ClCheckOptions {
    ClCheckOptions()
        : timeout(10), timeoutState(kStateCritical), verbosity(0), prometheus(false)
    {
    }

    ClArray<ClDeviceSelector> lines;  // -l: the lines to check; none means every line.
    ClString deviceType;              // -T: empty means lines of every type.
    ClThresholds thresholds;          // -w and -c over the free lines, and the call limits.
    unsigned timeout;                 // -t, in seconds.
    PluginState timeoutState;         // -t SECONDS:STATE: the state of a reading that timed out.
    unsigned verbosity;               // How often -v was given.
    bool prometheus;                  // --prometheus: the metrics instead of the plugin's line.
    std::string output;               // --output: the textfile; empty means standard output.
};

enum class OptionsOutcome { Check, HelpShown, VersionShown, Rejected };

// Fills `options` from the arguments. Writes the help or the version to
// standard output itself; for a rejected command line, `problem` says why.
OptionsOutcome ReadOptions(int argc, char** argv, ClCheckOptions& options, std::string& problem);

// The usage synopsis, shown after the reason a command line was rejected.
extern const char kUsage[];
