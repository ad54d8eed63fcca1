// Runs a program or a forked test body on a fresh pseudo-terminal (see Pty.h).
#include "tests/support/Pty.h"

#include <chrono>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Pty {
    int master = -1;
    int slave = -1;
};

bool OpenPty(const PtyOptions& options, Pty* pty)
{
    struct winsize size = {24, 80, 0, 0};
    if (openpty(&pty->master, &pty->slave, nullptr, nullptr, &size) != 0) {
        return false;
    }
    fcntl(pty->master, F_SETFD, FD_CLOEXEC);
    fcntl(pty->slave, F_SETFD, FD_CLOEXEC);
    fcntl(pty->master, F_SETFL, fcntl(pty->master, F_GETFL) | O_NONBLOCK);
    if (options.exactOutput) {
        struct termios attributes;
        tcgetattr(pty->slave, &attributes);
        attributes.c_oflag &= ~ONLCR;
        tcsetattr(pty->slave, TCSANOW, &attributes);
    }
    return true;
}

// In the child: a new session on the pty, the pty as the standard handles,
// the signals a test process may have changed back to their defaults.
void EnterPty(const Pty& pty, const PtyOptions& options)
{
    setsid();
    if (options.controllingTerminal) {
        ioctl(pty.slave, TIOCSCTTY, 0);
    }
    for (int fd = 0; fd <= 2; ++fd) {
        dup2(pty.slave, fd);
    }
    close(pty.master);
    close(pty.slave);
    for (int signalNumber : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD}) {
        signal(signalNumber, SIG_DFL);
    }
    // Children that die of a signal on purpose leave no core files behind.
    struct rlimit noCore = {0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (const std::string& entry : options.environment) {
        size_t equals = entry.find('=');
        if (equals != std::string::npos) {
            setenv(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str(), 1);
        }
    }
    if (options.childSetup) {
        options.childSetup();
    }
}

void ReadAvailable(int master, std::string* output)
{
    char buffer[4096];
    for (;;) {
        ssize_t n = read(master, buffer, sizeof(buffer));
        if (n > 0) {
            output->append(buffer, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return;  // EAGAIN: nothing more for now; EIO: the other side is gone.
    }
}

void WriteKeys(int master, const std::string& keys)
{
    size_t done = 0;
    while (done < keys.size()) {
        ssize_t n = write(master, keys.data() + done, keys.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
            return;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
}

bool TakesSingleKeys(int slave)
{
    struct termios attributes;
    return tcgetattr(slave, &attributes) == 0 && !(attributes.c_lflag & ICANON);
}

// The parent's side: types the keys, collects the output and reaps the
// child, all within the time limit.
PtyResult Supervise(pid_t child, const Pty& pty, const PtyOptions& options, const struct termios& before)
{
    PtyResult result;
    result.before = before;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(options.timeoutMs);
    size_t nextKeys = 0;
    size_t searchFrom = 0;
    Clock::time_point typeAt{};
    bool matched = false;
    bool exited = false;

    while (!exited) {
        if (Clock::now() >= deadline) {
            result.timedOut = true;
            kill(child, SIGHUP);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            kill(child, SIGKILL);
            waitpid(child, &result.status, 0);
            break;
        }
        struct pollfd ready = {pty.master, POLLIN, 0};
        poll(&ready, 1, 10);
        ReadAvailable(pty.master, &result.output);

        if (nextKeys < options.keys.size()) {
            const PtyKeys& step = options.keys[nextKeys];
            if (!matched) {
                size_t found = step.after.empty() ? searchFrom : result.output.find(step.after, searchFrom);
                if (found != std::string::npos && (!step.singleKeys || TakesSingleKeys(pty.slave))) {
                    matched = true;
                    searchFrom = step.after.empty() ? result.output.size() : found + step.after.size();
                    typeAt = Clock::now() + std::chrono::milliseconds(step.delayMs);
                }
            }
            if (matched && Clock::now() >= typeAt) {
                if (step.signal != 0) {
                    kill(child, step.signal);
                } else {
                    WriteKeys(pty.master, step.keys);
                }
                searchFrom = result.output.size();
                matched = false;
                ++nextKeys;
            }
        }
        exited = waitpid(child, &result.status, WNOHANG) == child;
    }
    ReadAvailable(pty.master, &result.output);
    tcgetattr(pty.slave, &result.after);
    ioctl(pty.slave, FIONREAD, &result.pendingInput);
    return result;
}

PtyResult Run(const std::function<void()>& inChild, const PtyOptions& options)
{
    Pty pty;
    PtyResult failed;
    failed.status = -1;
    if (!OpenPty(options, &pty)) {
        failed.output = "openpty failed";
        return failed;
    }
    struct termios before;
    tcgetattr(pty.slave, &before);
    fflush(nullptr);  // Or the child would write the parent's buffered output again.
    pid_t child = fork();
    if (child == 0) {
        EnterPty(pty, options);
        inChild();
        _exit(127);
    }
    PtyResult result;
    if (child < 0) {
        failed.output = "fork failed";
        result = failed;
    } else {
        result = Supervise(child, pty, options, before);
    }
    close(pty.master);
    close(pty.slave);
    return result;
}

}  // namespace

int PtyResult::ExitCode() const { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

int PtyResult::TermSignal() const { return WIFSIGNALED(status) ? WTERMSIG(status) : 0; }

bool PtyResult::TerminalRestored() const
{
    return before.c_iflag == after.c_iflag && before.c_oflag == after.c_oflag &&
           before.c_cflag == after.c_cflag && before.c_lflag == after.c_lflag &&
           memcmp(before.c_cc, after.c_cc, sizeof(before.c_cc)) == 0;
}

PtyResult RunOnPty(const std::vector<std::string>& argv, const PtyOptions& options)
{
    return Run(
        [&argv] {
            std::vector<char*> arguments;
            for (const std::string& argument : argv) {
                arguments.push_back(const_cast<char*>(argument.c_str()));
            }
            arguments.push_back(nullptr);
            execv(arguments[0], arguments.data());
            dprintf(2, "cannot run %s: %s\n", arguments[0], strerror(errno));
        },
        options);
}

PtyResult RunFunctionOnPty(const std::function<int()>& body, const PtyOptions& options)
{
    return Run(
        [&body] {
            int code = 125;
            try {
                code = body();
            } catch (...) {
                dprintf(2, "an exception left the test body\n");
            }
            exit(code);
        },
        options);
}
