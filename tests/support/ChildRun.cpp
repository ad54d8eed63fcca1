// Runs a program as a child and collects what it wrote (see ChildRun.h).
#include "tests/support/ChildRun.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace {

std::vector<std::string> EnvironmentWith(const std::vector<std::string>& extra) {
    std::vector<std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        bool replaced = false;
        for (const std::string& mine : extra) {
            const size_t name = mine.find('=') + 1;
            replaced = replaced || text.compare(0, name, mine, 0, name) == 0;
        }
        if (!replaced) {
            merged.push_back(text);
        }
    }
    merged.insert(merged.end(), extra.begin(), extra.end());
    return merged;
}

std::vector<char*> PointersTo(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(&text[0]);
    }
    pointers.push_back(nullptr);
    return pointers;
}

// Reads both pipes to their end or until the deadline.
bool Collect(int out, int err, std::chrono::steady_clock::time_point deadline, ChildResult& result) {
    pollfd pipes[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
    std::string* sinks[2] = {&result.output, &result.errors};
    int open = 2;
    while (open > 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        if (poll(pipes, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) {
            return true;
        }
        for (int i = 0; i < 2; ++i) {
            if (pipes[i].fd < 0 || pipes[i].revents == 0) {
                continue;
            }
            char buffer[4096];
            const ssize_t count = read(pipes[i].fd, buffer, sizeof(buffer));
            if (count > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(count));
                continue;
            }
            pipes[i].fd = -1;
            --open;
        }
    }
    return true;
}

}  // namespace

ChildResult RunChild(const std::vector<std::string>& argv, const ChildOptions& options) {
    ChildResult result;
    std::vector<std::string> arguments = argv;
    std::vector<std::string> variables = EnvironmentWith(options.environment);
    std::vector<char*> argumentPointers = PointersTo(arguments);
    std::vector<char*> variablePointers = PointersTo(variables);
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        return result;
    }
    const pid_t child = fork();
    if (child == 0) {
        if (options.newSession) {
            setsid();
        }
        const int input = open("/dev/null", O_RDONLY);
        dup2(input, 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        if (options.setup) {
            options.setup();
        }
        execve(argumentPointers[0], argumentPointers.data(), variablePointers.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(options.timeoutMs);
    if (!Collect(out[0], err[0], deadline, result)) {
        result.timedOut = true;
        kill(child, SIGKILL);
    }
    close(out[0]);
    close(err[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

TempFolder::TempFolder() {
    char name[] = "/tmp/ringwarden-hardening-XXXXXX";
    if (mkdtemp(name) != nullptr) {
        path = name;
    }
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    if (!path.empty()) {
        std::filesystem::remove_all(path, ignored);
    }
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

void WriteFile(const std::string& path, const std::string& contents) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << contents;
}
