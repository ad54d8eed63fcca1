// Runs a program, or a test body in a forked child, on a fresh pseudo-terminal with keys typed and a hard time limit.
//
// The child gets a new session whose controlling terminal is the pty (unless
// the options say otherwise) and the pty as standard input, output and error.
// The test plays the user at the other end: it types keys when a text shows up
// in the output, collects everything the child writes, and can compare the
// terminal's attributes before the child started with those after it ended.
// Nothing here waits without a bound: when the time limit passes, the child is
// hung up on and then killed, and the result says so.
#pragma once

#include <functional>
#include <string>
#include <termios.h>
#include <vector>

// Keys the test types. They are typed once `after` shows up in the output
// written since the previous keys were typed (at once when `after` is empty),
// and, with `singleKeys`, the terminal has line input off (so a key typed
// earlier is neither echoed nor held back for Enter), and then after a
// further `delayMs`. A `signal` other than 0 is sent to the child instead.
struct PtyKeys {
    std::string after;
    std::string keys;
    bool singleKeys = false;
    int delayMs = 0;
    int signal = 0;
};

struct PtyOptions {
    // "NAME=value" entries set in the child's environment on top of the test's.
    std::vector<std::string> environment;
    std::vector<PtyKeys> keys;
    // The whole run, keys included, ends by this time.
    int timeoutMs = 10000;
    // False: the pty is the child's standard input, output and error, but the
    // child's new session has no controlling terminal (/dev/tty cannot open).
    bool controllingTerminal = true;
    // True: the terminal passes output on unchanged (no LF to CR LF), so the
    // output is byte for byte what the child wrote.
    bool exactOutput = true;
    // Runs in the child after the pty is in place, before the program or the
    // body; for example to redirect a standard handle to a file.
    std::function<void()> childSetup;
};

struct PtyResult {
    std::string output;   // Everything the child wrote to the terminal, echo included.
    int status = 0;       // The wait status of the child.
    bool timedOut = false;
    struct termios before {};  // The pty's attributes just before the child started ...
    struct termios after {};   // ... and just after it ended.
    int pendingInput = 0;      // Bytes typed that nobody read, left for the next program.

    // The exit code, or -1 when the child did not exit normally.
    int ExitCode() const;
    // The signal that ended the child, or 0.
    int TermSignal() const;
    // Whether `after` equals `before` in every flag and control character.
    bool TerminalRestored() const;
};

// Runs argv[0] (a path) with its arguments on a fresh pty.
PtyResult RunOnPty(const std::vector<std::string>& argv, const PtyOptions& options = {});

// Forks, runs `body` in the child on a fresh pty, and ends the child with
// exit(body's result), so exit handlers run as at the end of a program. An
// exception escaping the body ends the child with code 125.
PtyResult RunFunctionOnPty(const std::function<int()>& body, const PtyOptions& options = {});
