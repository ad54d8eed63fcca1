// Hanging up a line's call: what a modem's hang-up does, then harder, until no caller is left on the line.
//
// A call is either the session that has the line as its controlling
// terminal (a caller logged in, or mgetty answering), or, with no session,
// the program that holds the line's lock (a call out, or mgetty's callback).
// The steps, each followed by a short wait for the call to end:
//
//   1. SIGHUP to the session's leader, and SIGHUP and SIGCONT to the
//      terminal's foreground group, as the kernel does when carrier drops.
//   2. A hang-up of the line itself (TIOCVHANGUP, which needs root): every
//      open file of the line is cut off, and the session is signalled again.
//   3. SIGTERM, with SIGCONT, to every process of the call.
//   4. SIGKILL to every process of the call.
//
// The call's processes are those of its session that have the line as
// their terminal (or the lock holder with the line open), found afresh
// before each step. Each is followed through its folder of the run's process
// table, opened when it was found on the line and read again just before
// every signal: a process id that has passed to another process since
// cannot be hit, and a process found nowhere near the line is never taken.
// Process 1, this process and its own process group are never signalled.
// The call is over when every process taken has ended.
#include "mgetty/MgFiles.h"
#include "mgetty/MgRun.h"

#include <dirent.h>
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

// The processes of one call that one step acts on at a time; more are
// taken by the next step.
const uint32_t kMostMembers = 256;

struct Call {
    const MgRun* run;
    const MgLine* line;
    uint64_t rdev;
    uint32_t tty;
    int32_t session;  // The session on the line; 0 for a lock holder's call.
    int32_t holder;   // The lock holder; 0 for a session.
};

struct Member {
    int folder;
    MgProcess process;
};

struct Members {
    Member list[kMostMembers];
    uint32_t count;
};

enum Step { STEP_HANG_UP, STEP_HANG_UP_LINE, STEP_TERMINATE, STEP_KILL };

struct StepPlan {
    Step step;
    int waitMilliseconds;
};

// About ten seconds in all; pppd takes a few to end its link after SIGHUP.
const StepPlan kPlan[] = {{STEP_HANG_UP, 4000}, {STEP_HANG_UP_LINE, 2000}, {STEP_TERMINATE, 2000}, {STEP_KILL, 2000}};

}  // namespace

// Whether the process, read just now, is part of the call.
static bool InCall(const Call& call, int folder, const MgProcess& process)
{
    if (process.state == 'Z') {
        return false;
    }
    if (call.session != 0) {
        return process.tty == call.tty && process.session == call.session;
    }
    return process.pid == call.holder && MgHasDeviceOpen(folder, call.rdev);
}

// Reads a process afresh from its folder; false when it is gone.
static bool ReadAgain(int folder, int32_t pid, MgProcess* process)
{
    char name[16];
    return MgReadProcessAt(folder, pid, process, name, sizeof(name));
}

// Whether a member is still part of the call: the same process, not yet a
// zombie, and still of the call's session (or still its lock holder). A
// member that the hang-up of the line has cut off from the line keeps its
// session, and is followed until it has ended; one that has left the
// session is let go.
static bool StillInCall(const Call& call, const Member& member, MgProcess* now)
{
    return ReadAgain(member.folder, member.process.pid, now) && now->start == member.process.start &&
           now->state != 'Z' && (call.session != 0 ? now->session == call.session : now->pid == call.holder);
}

static void Track(Members* members, int folder, const MgProcess& process)
{
    for (uint32_t i = 0; i < members->count; ++i) {
        if (members->list[i].process.pid == process.pid && members->list[i].process.start == process.start) {
            close(folder);
            return;
        }
    }
    if (members->count == kMostMembers) {
        close(folder);
        return;
    }
    members->list[members->count++] = {folder, process};
}

// Drops the members that have ended and takes in what has joined the call
// since; false when the process table cannot be read.
static bool Refresh(const Call& call, Members* members)
{
    uint32_t kept = 0;
    for (uint32_t i = 0; i < members->count; ++i) {
        MgProcess now;
        if (StillInCall(call, members->list[i], &now)) {
            members->list[kept] = members->list[i];
            members->list[kept++].process.tpgid = now.tpgid;
        } else {
            close(members->list[i].folder);
        }
    }
    members->count = kept;
    if (call.session == 0) {
        int folder = MgOpenProcess(call.run, call.holder);
        MgProcess process;
        if (folder >= 0 && ReadAgain(folder, call.holder, &process) && InCall(call, folder, process)) {
            Track(members, folder, process);
        } else if (folder >= 0) {
            close(folder);
        }
        return true;
    }
    DIR* table = fdopendir(dup(call.run->procFolder));
    if (table == nullptr) {
        return false;
    }
    // The copy shares its place in the folder with the run's handle.
    rewinddir(table);
    struct dirent* entry;
    while ((entry = readdir(table)) != nullptr) {
        const int32_t pid = MgProcessNumber(entry->d_name);
        if (pid <= 0) {
            continue;
        }
        // A first look by number; a process that seems part of the call is
        // then opened and read again through its own folder.
        MgProcess process;
        char name[16];
        if (!MgReadListed(call.run, pid, &process, name, sizeof(name)) ||
            process.tty != call.tty || process.session != call.session) {
            continue;
        }
        int folder = MgOpenProcess(call.run, pid);
        if (folder >= 0 && ReadAgain(folder, pid, &process) && InCall(call, folder, process)) {
            Track(members, folder, process);
        } else if (folder >= 0) {
            close(folder);
        }
    }
    closedir(table);
    return true;
}

static void Release(Members* members)
{
    for (uint32_t i = 0; i < members->count; ++i) {
        close(members->list[i].folder);
    }
    members->count = 0;
}

// Signals one member, after reading it once more; MG_OK also when it is
// gone or left alone.
static uint32_t Signal(const Call& call, const Member& member, int signal)
{
    MgProcess now;
    const int32_t pid = member.process.pid;
    if (pid == 1 || pid == getpid() || !StillInCall(call, member, &now) || now.pgrp == getpgrp()) {
        return MG_OK;
    }
    // The folder stands for the process itself, so the signal cannot reach
    // another that took its number; kernels before 5.1 fall back on the number.
    long sent = syscall(SYS_pidfd_send_signal, member.folder, signal, nullptr, 0);
    if (sent != 0 && errno == ENOSYS) {
        sent = kill(pid, signal);
    }
    return sent == 0 || errno == ESRCH ? MG_OK : MgErrorFromErrno(errno);
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

static uint32_t Act(const Call& call, Members* members, Step step)
{
    if (step == STEP_HANG_UP_LINE) {
        HangUpLine(call);
        return MG_OK;
    }
    // The foreground group of the leader's terminal, as the leader sees it now.
    int32_t foreground = 0;
    for (uint32_t i = 0; i < members->count; ++i) {
        const MgProcess& process = members->list[i].process;
        if (process.pid == call.session || process.pid == call.holder) {
            foreground = process.tpgid;
        }
    }
    uint32_t result = MG_OK;
    for (uint32_t i = 0; i < members->count && result == MG_OK; ++i) {
        const Member& member = members->list[i];
        const bool leads = member.process.pid == call.session || member.process.pid == call.holder;
        const bool inForeground = foreground > 0 && member.process.pgrp == foreground;
        if (step == STEP_HANG_UP && (leads || inForeground)) {
            result = Signal(call, member, SIGHUP);
            if (result == MG_OK && inForeground) {
                result = Signal(call, member, SIGCONT);
            }
        } else if (step == STEP_TERMINATE) {
            result = Signal(call, member, SIGTERM);
            if (result == MG_OK) {
                result = Signal(call, member, SIGCONT);
            }
        } else if (step == STEP_KILL) {
            result = Signal(call, member, SIGKILL);
        }
    }
    return result;
}

static void Pause(int milliseconds)
{
    struct timespec time = {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    while (nanosleep(&time, &time) != 0 && errno == EINTR) {
    }
}

// Whether every process of the call has ended within the time given;
// looked at often at first, since most calls end at the first signal.
static bool WaitUntilOver(const Call& call, Members* members, int milliseconds)
{
    for (int waited = 0, step = 10;; waited += step, step = step < 100 ? step * 2 : 100) {
        bool over = Refresh(call, members) && members->count == 0;
        if (over || waited >= milliseconds) {
            return over;
        }
        Pause(step);
    }
}

uint32_t MgHangUp(MgRun* run, const MgLine* line)
{
    Call call = {run, line, 0, 0, 0, 0};
    if (run->procFolder < 0 || !MgLineDevice(line, &call.rdev, &call.tty)) {
        return MG_OK;
    }
    const MgProcess* leader = MgSessionLeader(run, call.tty);
    if (leader != nullptr) {
        // A getty waiting for a name is no call; and a session that has
        // ended since the run began is not hung up in another's place.
        int folder = MgOpenProcess(run, leader->pid);
        MgProcess now;
        bool same = folder >= 0 && ReadAgain(folder, leader->pid, &now) && now.start == leader->start &&
                    now.session == leader->session && now.tty == call.tty && now.state != 'Z';
        if (folder >= 0) {
            close(folder);
        }
        if (leader->kind == MG_PROCESS_GETTY || !same) {
            return MG_OK;
        }
        call.session = leader->session;
    } else {
        char name[16];
        long age;
        call.holder = MgLockHolder(run, line, call.rdev, name, sizeof(name), &age);
        for (uint32_t i = 0; i < run->processCount && call.holder != 0; ++i) {
            // mgetty's own lock, while it talks to the modem, is no call.
            if (run->processes[i].pid == call.holder && run->processes[i].kind == MG_PROCESS_MGETTY) {
                call.holder = 0;
            }
        }
        if (call.holder == 0) {
            return MG_OK;
        }
    }
    static Members members;  // Large; the library serves one thread.
    members.count = 0;
    if (!Refresh(call, &members)) {
        return MgErrorFromErrno(errno);
    }
    uint32_t result = MG_ERROR_BUSY;
    for (const StepPlan& plan : kPlan) {
        uint32_t acted = Act(call, &members, plan.step);
        if (acted != MG_OK) {
            result = acted;
            break;
        }
        if (WaitUntilOver(call, &members, plan.waitMilliseconds)) {
            result = MG_OK;
            break;
        }
    }
    Release(&members);
    return result;
}
