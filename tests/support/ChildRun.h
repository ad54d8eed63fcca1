// Runs a program as a child with standard input at its end and its output collected, and a hard time limit.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct ChildOptions {
    // "NAME=value" entries put over the test's own environment.
    std::vector<std::string> environment;
    // Runs in the child just before the program starts, after standard input
    // has been pointed at /dev/null and standard output and error at the
    // pipes the test reads; for example to close one of them.
    std::function<void()> setup;
    // The child is killed when it runs longer.
    int timeoutMs = 30000;
    // True: the child runs in a session of its own, without a controlling
    // terminal, so a message box cannot be shown and nothing waits for the
    // user. False: it keeps the test's terminal, if there is one.
    bool newSession = true;
};

struct ChildResult {
    std::string output;  // Standard output, byte for byte.
    std::string errors;  // Standard error.
    int exitCode = -1;   // -1 when it did not exit normally.
    int signal = 0;      // The signal that ended it, or 0.
    bool timedOut = false;
};

ChildResult RunChild(const std::vector<std::string>& argv, const ChildOptions& options = {});

// A fresh folder under /tmp, removed with everything in it when the object goes.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    const std::string& Path() const { return path; }

    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

private:
    std::string path;
};

// The whole file, or an empty text when it cannot be read.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& contents);
