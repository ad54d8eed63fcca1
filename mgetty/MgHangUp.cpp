// Hanging up a line's call: what a modem's hang-up does, then harder, until nothing of the call is left.
//
// A call is either the session that has the line as its controlling
// terminal (a caller logged in, or mgetty answering), or, with no session,
// the program that holds the line's lock (a call out, or mgetty's callback).
// Its processes are every process of that session, by the session's number,
// so that one the hang-up has cut off from the line, or one born since,
// still counts; the lock holder; and every process that holds the line open,
// other than a getty, run by root, that waits there for the next call. A job
// the caller has detached into a session of its own, holding no line, is
// the caller's own business and left alone. The steps, each followed by a
// short wait for the call to end:
//
//   1. SIGHUP to the session's leader, and SIGHUP and SIGCONT to the
//      terminal's foreground group, as the kernel does when carrier drops.
//   2. A hang-up of the line itself (TIOCVHANGUP, which needs root): every
//      open file of the line is cut off, and the session is signalled again.
//   3. SIGTERM, with SIGCONT, to every process of the call.
//   4. SIGSTOP to every process of the call, looking again until a look
//      finds none still running, then SIGKILL to them all: a stopped
//      process cannot fork, so a job that forks faster than the table can be
//      read is ended whole.
//
// Each step walks the whole process table afresh. A process is signalled
// through its folder of the run's process table, read again just before:
// one whose number has passed to another process since cannot be hit, and
// one found no longer of the call is let go. Process 1, this process and
// its own process group are never signalled. The call is over when a walk
// finds none of it.
#include "mgetty/MgFiles.h"
#include "mgetty/MgRun.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace {

struct Call {
    const MgRun* run;
    const MgLine* line;
    uint64_t rdev;
    uint32_t tty;
    int32_t session;  // The session on the line; 0 for a lock holder's call.
    int32_t leader;   // The session's leader, or the lock holder.
    uint64_t leaderStart;
    // Whether a whole group of the session may be signalled at once: never
    // when process 1 or this process is of the session, as either might
    // join one of its groups.
    bool groups;
};

enum Step { STEP_HANG_UP, STEP_HANG_UP_LINE, STEP_TERMINATE, STEP_KILL };

// What one walk over the process table does to each process of the call.
enum Action { ACTION_COUNT, ACTION_HANG_UP, ACTION_TERMINATE, ACTION_STOP, ACTION_KILL };

struct Walk {
    const Call* call;
    Action action;
    int32_t foreground;  // The foreground group of the line, for ACTION_HANG_UP.
    uint32_t found;      // Processes of the call seen.
    uint32_t running;    // Of those, the ones not stopped.
};

struct StepPlan {
    Step step;
    int waitMilliseconds;
};

// About ten seconds in all; pppd takes a few to end its link after SIGHUP.
const StepPlan kPlan[] = {{STEP_HANG_UP, 4000}, {STEP_HANG_UP_LINE, 2000}, {STEP_TERMINATE, 2000}, {STEP_KILL, 2000}};
// How long the call's processes are stopped before they are killed, at most.
const int kStopMilliseconds = 1000;

// Whom a signal reaches: the process, or, for the leader of a process group
// of the caller's session, its whole group at once, which a fork cannot
// escape. Every member of a group is of its leader's session.
enum Reach { REACH_PROCESS, REACH_GROUP };
// pidfd_send_signal's flag for the process group whose leader the
// descriptor stands for (Linux 6.9); older kernels refuse it.
const unsigned kSignalProcessGroup = 4;

}  // namespace

// Whether the process, read just now through its folder, is part of the call.
static bool InCall(const Call& call, int folder, const MgProcess& process, const char* name)
{
    if (MgProcessEnded(process)) {
        return false;
    }
    if (call.session != 0 ? process.session == call.session
                          : process.pid == call.leader && process.start == call.leaderStart) {
        return true;
    }
    if (!MgHasDeviceOpen(folder, call.rdev)) {
        return false;
    }
    // The getty that waits for the next call holds the line too.
    return MgKindOfName(name) == MG_PROCESS_OTHER || !MgRunsAsRoot(folder);
}

// Signals a process of the call after reading it once more through its
// folder; SUPRV_OK also when it is gone, no longer of the call, or left alone.
static uint32_t Signal(const Call& call, int folder, const MgProcess& process, int signal,
                       Reach reach = REACH_PROCESS)
{
    MgProcess now;
    char name[16];
    const int32_t pid = process.pid;
    if (pid == 1 || pid == getpid() || !MgReadProcessAt(folder, pid, &now, name, sizeof(name)) ||
        now.start != process.start || !InCall(call, folder, now, name) || now.pgrp == getpgrp()) {
        return SUPRV_OK;
    }
    // The folder stands for the process itself, so the signal cannot reach
    // another that took its number; kernels before 5.1 fall back on the number.
    long sent = -1;
    if (reach == REACH_GROUP && call.groups && now.pgrp == pid && now.session == call.session) {
        sent = syscall(SYS_pidfd_send_signal, folder, signal, nullptr, kSignalProcessGroup);
    }
    if (sent != 0) {
        sent = syscall(SYS_pidfd_send_signal, folder, signal, nullptr, 0);
    }
    if (sent != 0 && errno == ENOSYS) {
        sent = kill(pid, signal);
    }
    return sent == 0 || errno == ESRCH ? SUPRV_OK : MgErrorFromErrno(errno);
}

static uint32_t ActOn(const Walk& walk, int folder, const MgProcess& process)
{
    const Call& call = *walk.call;
    uint32_t result = SUPRV_OK;
    switch (walk.action) {
    case ACTION_COUNT:
        break;
    case ACTION_HANG_UP: {
        const bool inForeground = walk.foreground > 0 && process.pgrp == walk.foreground;
        if (process.pid == call.leader || inForeground) {
            result = Signal(call, folder, process, SIGHUP);
        }
        if (result == SUPRV_OK && inForeground) {
            result = Signal(call, folder, process, SIGCONT);
        }
        break;
    }
    case ACTION_TERMINATE:
        result = Signal(call, folder, process, SIGTERM);
        if (result == SUPRV_OK) {
            result = Signal(call, folder, process, SIGCONT);
        }
        break;
    case ACTION_STOP:
        if (process.state != 'T' && process.state != 't') {
            result = Signal(call, folder, process, SIGSTOP, REACH_GROUP);
        }
        break;
    case ACTION_KILL:
        result = Signal(call, folder, process, SIGKILL, REACH_GROUP);
        break;
    }
    return result;
}

// Takes one process of the table: opened and read again through its own
// folder, counted and acted on when it is part of the call.
static uint32_t Visit(void* context, const MgProcess& listed, const char*)
{
    Walk* walk = static_cast<Walk*>(context);
    int folder = MgOpenProcess(walk->call->run, listed.pid);
    if (folder < 0) {
        return SUPRV_OK;
    }
    MgProcess process;
    char name[16];
    uint32_t result = SUPRV_OK;
    if (MgReadProcessAt(folder, listed.pid, &process, name, sizeof(name)) && process.start == listed.start &&
        InCall(*walk->call, folder, process, name)) {
        walk->found++;
        walk->running += process.state != 'T' && process.state != 't';
        result = ActOn(*walk, folder, process);
    }
    close(folder);
    return result;
}

static uint32_t WalkCall(const Call& call, Action action, Walk* walk)
{
    *walk = {&call, action, 0, 0, 0};
    if (action == ACTION_HANG_UP && call.session != 0) {
        // The foreground group of the leader's terminal, as the leader sees it now.
        int folder = MgOpenProcess(call.run, call.leader);
        MgProcess leader;
        char name[16];
        if (folder >= 0 && MgReadProcessAt(folder, call.leader, &leader, name, sizeof(name)) &&
            leader.start == call.leaderStart) {
            walk->foreground = leader.tpgid;
        }
        if (folder >= 0) {
            close(folder);
        }
    }
    return MgWalkProcesses(call.run, MG_WALK_ONE_BY_ONE, Visit, walk);
}

static long long NowMilliseconds()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// TIOCVHANGUP on the line's own device node; what it cannot do (without
// root, say) leaves the next step to end the call.
static void HangUpLine(const Call& call)
{
    char path[MG_PATH_SIZE];
    if (!MgPath(path, "/dev/%s", call.line->device)) {
        return;
    }
    // Not blocking: a serial line without carrier would wait for it.
    uint32_t error;
    int handle = MgOpenTrusted(path, MG_TRUST_DEVICE, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, &error);
    if (handle < 0) {
        return;
    }
    struct stat info;
    if (fstat(handle, &info) == 0 && S_ISCHR(info.st_mode) && info.st_rdev == call.rdev) {
        ioctl(handle, TIOCVHANGUP);
    }
    close(handle);
}

// Stops the call's processes until a walk finds none still running, or
// the time is up, then kills what is found.
static uint32_t StopAndKill(const Call& call)
{
    Walk walk;
    const long long until = NowMilliseconds() + kStopMilliseconds;
    do {
        const uint32_t result = WalkCall(call, ACTION_STOP, &walk);
        if (result != SUPRV_OK) {
            return result;
        }
    } while (walk.running > 0 && NowMilliseconds() < until);
    return WalkCall(call, ACTION_KILL, &walk);
}

static uint32_t Act(const Call& call, Step step)
{
    Walk walk;
    switch (step) {
    case STEP_HANG_UP:
        return WalkCall(call, ACTION_HANG_UP, &walk);
    case STEP_HANG_UP_LINE:
        HangUpLine(call);
        return SUPRV_OK;
    case STEP_TERMINATE:
        return WalkCall(call, ACTION_TERMINATE, &walk);
    case STEP_KILL:
        return StopAndKill(call);
    }
    return SUPRV_OK;
}

static void Pause(int milliseconds)
{
    struct timespec time = {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    while (nanosleep(&time, &time) != 0 && errno == EINTR) {
    }
}

// Whether a walk finds none of the call within the time given; looked at
// often at first, since most calls end at the first signal.
static bool WaitUntilOver(const Call& call, int milliseconds)
{
    const long long until = NowMilliseconds() + milliseconds;
    for (int step = 10;; step = step < 100 ? step * 2 : 100) {
        Walk walk;
        const bool over = WalkCall(call, ACTION_COUNT, &walk) == SUPRV_OK && walk.found == 0;
        if (over || NowMilliseconds() >= until) {
            return over;
        }
        Pause(step);
    }
}

uint32_t MgHangUp(MgRun* run, const MgLine* line)
{
    Call call = {run, line, 0, 0, 0, 0, 0, false};
    if (run->procFolder < 0 || !MgLineDevice(line, &call.rdev, &call.tty)) {
        return SUPRV_OK;
    }
    const MgProcess* leader = MgSessionLeader(run, call.tty);
    int32_t first = 0;
    if (leader != nullptr) {
        // A getty waiting for a name is no call.
        if (leader->kind == MG_PROCESS_GETTY) {
            return SUPRV_OK;
        }
        first = leader->pid;
    } else {
        char name[16];
        long age;
        first = MgLockHolder(run, line, call.rdev, name, sizeof(name), &age);
        for (uint32_t i = 0; i < run->processCount && first != 0; ++i) {
            // mgetty's own lock, while it talks to the modem, is no call.
            if (run->processes[i].pid == first && run->processes[i].kind == MG_PROCESS_MGETTY) {
                first = 0;
            }
        }
        if (first == 0) {
            return SUPRV_OK;
        }
    }
    // A call that has ended since the run began is not hung up in another's place.
    int folder = MgOpenProcess(run, first);
    MgProcess now;
    char name[16];
    const bool alive = folder >= 0 && MgReadProcessAt(folder, first, &now, name, sizeof(name)) && !MgProcessEnded(now);
    if (folder >= 0) {
        close(folder);
    }
    if (!alive || (leader != nullptr && (now.start != leader->start || now.session != leader->session ||
                                         now.tty != call.tty))) {
        return SUPRV_OK;
    }
    call.session = leader != nullptr ? leader->session : 0;
    call.leader = first;
    call.leaderStart = now.start;
    MgProcess init;
    call.groups = call.session != 0 && getsid(0) != call.session &&
                  !(MgReadListed(run, 1, &init, name, sizeof(name)) && init.session == call.session);
    for (const StepPlan& plan : kPlan) {
        const uint32_t result = Act(call, plan.step);
        if (result != SUPRV_OK) {
            return result;
        }
        if (WaitUntilOver(call, plan.waitMilliseconds)) {
            return SUPRV_OK;
        }
    }
    return SUPRV_ERROR_BUSY;
}
