// A line's status, its user, hanging it up, and its server switch, the nologin file.
//
// How mgetty shows where it is: it waits for a call without the line as its
// controlling terminal and without the line's lock file; it locks the line
// when a RING arrives, and when it picks up (ATA) it makes the line its
// controlling terminal, so from then on it leads the line's session. Once
// the caller has given a name it replaces itself, in the same process, with
// login or pppd, which lead the session from then on. mgetty answers no call
// while /etc/nologin.LINE exists. So a status is read this way, first match
// first:
//
//   Answering          the leader of the line's session is mgetty: it has
//                      picked up and not yet handed the caller on.
//   Hanging up         the leader is another program whose end has begun: it
//                      has a hang-up signal not yet taken, is a zombie, or
//                      its login record says it has logged out (pppd writes
//                      an empty user when the link goes down).
//   Connected          the leader is another program: the login, a shell or
//                      pppd of a caller.
//   Calling back       no session, and mgetty's callback program holds the
//                      line's lock.
//   Connected          no session, and some other live program holds the
//                      lock: a call out on the line.
//   Idle               the server is stopped (the nologin file exists).
//   Monitoring failed  the server is enabled but no mgetty runs on the line,
//                      or the line's device node is missing or no terminal.
//   Monitoring         an mgetty waits on the line.
//
// The user is the one utmp names for the line, as login and pppd (with its
// "login" option, under the peer's name) record it, while the process the
// record names is still on the line.
#include "mgetty/MgFiles.h"
#include "mgetty/MgRun.h"
#include "supervisor/SupervisorApi.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <utmp.h>

static bool NologinPath(const MgLine* line, char* path)
{
    return MgPath(path, "/etc/nologin.%s", line->name);
}

bool MgServerEnabled(const MgLine* line)
{
    char path[MG_PATH_SIZE];
    struct stat info;
    if (!NologinPath(line, path) || stat(path, &info) == 0) {
        return false;
    }
    // mgetty looks with access(), which follows links: a link that leads
    // nowhere does not stop it. What cannot be looked at counts as there.
    return errno == ENOENT || errno == ENOTDIR;
}

uint32_t MgSetServerEnabled(const MgLine* line, bool enabled)
{
    char path[MG_PATH_SIZE];
    if (!NologinPath(line, path)) {
        return MG_ERROR_BAD_PATH;
    }
    struct stat info;
    if (enabled) {
        if (lstat(path, &info) != 0) {
            return errno == ENOENT ? MG_OK : MgErrorFromErrno(errno);
        }
        // A folder is not ours to remove, with whatever it holds.
        if (S_ISDIR(info.st_mode)) {
            return MG_ERROR_ACCESS_DENIED;
        }
        return unlink(path) == 0 || errno == ENOENT ? MG_OK : MgErrorFromErrno(errno);
    }
    // Never through a link, and never over a file that is there.
    int handle = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0644);
    if (handle >= 0) {
        close(handle);
        return MG_OK;
    }
    if (errno != EEXIST) {
        return MgErrorFromErrno(errno);
    }
    // There already; unless it is a link that leads nowhere, which mgetty
    // does not see and which this library will not write through.
    return stat(path, &info) == 0 ? MG_OK : MG_ERROR_ACCESS_DENIED;
}

// The line's terminal in the kernel's encoding of a process's controlling
// terminal; 0 when its device node is missing or is no character device.
static uint32_t LineTerminal(const MgLine* line)
{
    char path[MG_PATH_SIZE];
    struct stat info;
    if (!MgPath(path, "/dev/%s", line->name) || stat(path, &info) != 0 || !S_ISCHR(info.st_mode)) {
        return 0;
    }
    uint32_t major = major(info.st_rdev);
    uint32_t minor = minor(info.st_rdev);
    return (minor & 0xFFu) | (major << 8) | ((minor & ~0xFFu) << 12);
}

static const MgProcess* SessionLeader(const MgRun* run, uint32_t tty)
{
    for (uint32_t i = 0; tty != 0 && i < run->processCount; ++i) {
        const MgProcess& process = run->processes[i];
        if (process.tty == tty && process.pid == process.session) {
            return &process;
        }
    }
    return nullptr;
}

static const MgProcess* MgettyOf(const MgRun* run, const MgLine* line)
{
    for (uint32_t i = 0; i < run->processCount; ++i) {
        const MgProcess& process = run->processes[i];
        if (process.isMgetty && strcmp(process.line, line->name) == 0) {
            return &process;
        }
    }
    return nullptr;
}

// A live process other than the line's mgetty that holds the line's lock
// file (uucp's form: the process id in text), with its name; 0 for none.
static int32_t ForeignLockHolder(const MgRun* run, const MgLine* line, char* name, size_t nameSize)
{
    char path[MG_PATH_SIZE];
    char text[64];
    if (!MgPath(path, "/var/lock/LCK..%s", line->name) || MgReadSmall(path, text, sizeof(text)) <= 0) {
        return 0;
    }
    char* end;
    long pid = strtol(text, &end, 10);
    const MgProcess* mgetty = MgettyOf(run, line);
    MgProcess holder;
    if (end == text || pid <= 0 || pid > INT32_MAX || (mgetty != nullptr && mgetty->pid == pid) ||
        !MgReadProcess(static_cast<int32_t>(pid), &holder, name, nameSize) || holder.state == 'Z') {
        return 0;
    }
    return static_cast<int32_t>(pid);
}

// Whether a hang-up signal waits to be taken by the process, per thread or
// for the whole process.
static bool HangUpPending(int32_t pid)
{
    char path[MG_PATH_SIZE];
    char text[2048];
    if (!MgPath(path, "/proc/%d/status", pid) || MgReadSmall(path, text, sizeof(text)) <= 0) {
        return false;
    }
    static const char* const kPending[] = {"\nSigPnd:", "\nShdPnd:"};
    for (const char* field : kPending) {
        const char* at = strstr(text, field);
        if (at != nullptr && (strtoull(at + strlen(field), nullptr, 16) & (1u << (SIGHUP - 1))) != 0) {
            return true;
        }
    }
    return false;
}

static bool LoggedOut(const MgRun* run, const MgLine* line, int32_t pid)
{
    for (uint32_t i = 0; i < run->loginCount; ++i) {
        const MgLogin& login = run->logins[i];
        if (login.pid == pid && strcmp(login.line, line->name) == 0 &&
            (login.type == DEAD_PROCESS || (login.type == USER_PROCESS && login.user[0] == 0))) {
            return true;
        }
    }
    return false;
}

int32_t MgLineStatus(MgRun* run, const MgLine* line)
{
    const uint32_t tty = LineTerminal(line);
    const MgProcess* leader = SessionLeader(run, tty);
    if (leader != nullptr) {
        if (leader->isMgetty) {
            return SUPRV_STATUS_ANSWERING;
        }
        bool ending = leader->state == 'Z' || HangUpPending(leader->pid) || LoggedOut(run, line, leader->pid);
        return ending ? SUPRV_STATUS_HANGING_UP : SUPRV_STATUS_CONNECTED;
    }
    char holder[16];
    if (ForeignLockHolder(run, line, holder, sizeof(holder)) != 0) {
        return strcmp(holder, "callback") == 0 ? SUPRV_STATUS_CALLING_BACK : SUPRV_STATUS_CONNECTED;
    }
    if (!MgServerEnabled(line)) {
        return SUPRV_STATUS_IDLE;
    }
    if (MgettyOf(run, line) == nullptr || tty == 0) {
        return SUPRV_STATUS_MONITORING_FAILED;
    }
    return SUPRV_STATUS_MONITORING;
}

void MgLineUser(MgRun* run, const MgLine* line, char* user, size_t size)
{
    user[0] = 0;
    const uint32_t tty = LineTerminal(line);
    const MgProcess* mgetty = MgettyOf(run, line);
    // The latest record wins: utmp keeps older ones of the line beside it.
    for (uint32_t i = run->loginCount; i-- > 0;) {
        const MgLogin& login = run->logins[i];
        if (login.type != USER_PROCESS || login.user[0] == 0 || strcmp(login.line, line->name) != 0) {
            continue;
        }
        for (uint32_t j = 0; j < run->processCount; ++j) {
            const MgProcess& process = run->processes[j];
            bool onLine = (tty != 0 && process.tty == tty) || &process == mgetty;
            if (process.pid == login.pid && onLine && process.state != 'Z') {
                snprintf(user, size, "%s", login.user);
                return;
            }
        }
    }
}

static uint32_t Signal(int32_t target, int signal)
{
    return kill(target, signal) == 0 || errno == ESRCH ? MG_OK : MgErrorFromErrno(errno);
}

// Whether a process is still the one the run saw. Signals go to the
// system's own process table, so this asks the system's /proc, whatever the
// root: a process id may have been given to another process since.
static bool StillTheSame(const MgProcess* seen)
{
    char path[64];
    char text[1024];
    snprintf(path, sizeof(path), "/proc/%d/stat", seen->pid);
    if (MgReadSmall(path, text, sizeof(text)) <= 0) {
        return false;
    }
    const char* close = strrchr(text, ')');
    char state;
    int parent, pgrp, session, tty;
    return close != nullptr && sscanf(close + 1, " %c %d %d %d %d", &state, &parent, &pgrp, &session, &tty) == 5 &&
           session == seen->session && static_cast<uint32_t>(tty) == seen->tty;
}

uint32_t MgHangUp(MgRun* run, const MgLine* line)
{
    const MgProcess* leader = SessionLeader(run, LineTerminal(line));
    if (leader != nullptr) {
        if (!StillTheSame(leader)) {
            return MG_OK;
        }
        // What a hang-up of the terminal does: the session's leader and the
        // terminal's foreground group get SIGHUP, and a stopped group SIGCONT.
        uint32_t result = Signal(leader->pid, SIGHUP);
        if (result == MG_OK && leader->tpgid > 0 && leader->tpgid != leader->pgrp) {
            result = Signal(-leader->tpgid, SIGHUP);
            Signal(-leader->tpgid, SIGCONT);
        }
        return result;
    }
    char name[16];
    int32_t holder = ForeignLockHolder(run, line, name, sizeof(name));
    return holder != 0 ? Signal(holder, SIGHUP) : MG_OK;
}
