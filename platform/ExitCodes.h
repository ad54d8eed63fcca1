// The process's exit codes, shared by the start-up code of each platform and the application.
#pragma once

enum ExitCode : int {
    kExitSuccess = 0,         // The command ran, or the help was shown.
    kExitBadCommandLine = 1,  // The command line was rejected.
    kExitFailure = 5,         // A failure was reported.
};
