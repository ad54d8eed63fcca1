// A line's status, its user, and its server switch, the nologin file.
//
// How mgetty shows where it is: it waits for a call without the line as its
// controlling terminal; it locks the line while it talks to the modem (its
// initialisation chat, and from a RING on), and when it picks up (ATA) it
// makes the line its controlling terminal, so from then on it leads the
// line's session. Once the caller has given a name it replaces itself, in
// the same process, with login or pppd, which lead the session from then on
// (util-linux's login hands the session to a child and waits beside it). mgetty
// answers no call while /etc/nologin.NAME exists. So a status is read this
// way, first match first:
//
//   Answering          the leader of the line's session is mgetty: it has
//                      picked up and not yet handed the caller on.
//   Hanging up         the leader is another program whose end has begun: it
//                      has a hang-up signal not yet taken, is a zombie, or
//                      its login record says it has logged out (pppd writes
//                      an empty user when the link goes down).
//   Connected          the leader is another program, but no getty: the
//                      login, a shell or pppd of a caller.
//   Calling back       no call, and mgetty's callback program holds the
//                      line's lock.
//   Connected          no call, and some other program holds the lock: a
//                      call out on the line.
//   Idle               the server is stopped (the nologin file exists).
//   Monitoring failed  the server is enabled but no mgetty runs on the line;
//                      or another getty waits there, where mgetty cannot;
//                      or mgetty has held its lock with no call for longer
//                      than a modem takes to answer its initialisation (a
//                      modem switched off or unplugged); or the line's
//                      device node is missing or no terminal.
//   Monitoring         an mgetty waits on the line.
//
// A lock file counts only when it is a regular file, owned by root or by
// the user of the live process it names, and that process has the line
// open: the lock folder is writable by everyone, so anything else is stale
// or forged.
//
// The user is the one utmp names for the line, as login and pppd (with its
// "login" option, under the peer's name) record it, while the process the
// record names, or the session it started, is on the line.
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
#include <time.h>
#include <unistd.h>
#include <utmp.h>

static bool NologinPath(const MgLine* line, char* path)
{
    // mgetty's own name for the line, with no "/" in it.
    return MgPath(path, "/etc/nologin.%s", line->name);
}

bool MgServerEnabled(const MgLine* line)
{
    char path[MG_PATH_SIZE];
    char name[MG_PATH_SIZE];
    int folder;
    if (!NologinPath(line, path) || MgOpenFolderOf(path, &folder, name) != SUPRV_OK) {
        return false;
    }
    // mgetty looks with access(), which follows links: a link that leads
    // nowhere does not stop it. What cannot be looked at counts as there.
    struct stat info;
    bool there = fstatat(folder, name, &info, 0) == 0 || (errno != ENOENT && errno != ENOTDIR);
    MgCloseFolder(folder);
    return !there;
}

static uint32_t SetNologin(int folder, const char* name, bool enabled)
{
    struct stat info;
    if (enabled) {
        if (fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            return errno == ENOENT ? SUPRV_OK : MgErrorFromErrno(errno);
        }
        // A folder is not ours to remove, with whatever it holds.
        if (S_ISDIR(info.st_mode)) {
            return SUPRV_ERROR_ACCESS_DENIED;
        }
        return unlinkat(folder, name, 0) == 0 || errno == ENOENT ? SUPRV_OK : MgErrorFromErrno(errno);
    }
    // Never through a link, and never over a file that is there.
    int handle = openat(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0644);
    if (handle >= 0) {
        close(handle);
        return SUPRV_OK;
    }
    if (errno != EEXIST) {
        return MgErrorFromErrno(errno);
    }
    // There already; unless it is a link that leads nowhere, which mgetty
    // does not see and which this library will not write through.
    return fstatat(folder, name, &info, 0) == 0 ? SUPRV_OK : SUPRV_ERROR_ACCESS_DENIED;
}

uint32_t MgSetServerEnabled(const MgLine* line, bool enabled)
{
    char path[MG_PATH_SIZE];
    char name[MG_PATH_SIZE];
    int folder;
    if (!NologinPath(line, path)) {
        return SUPRV_ERROR_BAD_PATH;
    }
    uint32_t result = MgOpenFolderOf(path, &folder, name);
    if (result == SUPRV_OK) {
        result = SetNologin(folder, name, enabled);
        MgCloseFolder(folder);
    }
    return result;
}

// The line's device node, as MgLineDevice tells it; the error says why not.
static uint32_t LineDevice(const MgLine* line, uint64_t* rdev, uint32_t* tty)
{
    char path[MG_PATH_SIZE];
    struct stat info;
    if (!MgPath(path, "/dev/%s", line->device)) {
        return SUPRV_ERROR_BAD_PATH;
    }
    uint32_t result = MgStatTrusted(path, MG_TRUST_DEVICE, &info);
    if (result != SUPRV_OK || !S_ISCHR(info.st_mode)) {
        return result != SUPRV_OK ? result : SUPRV_ERROR_DEVICE_NOT_EXIST;
    }
    uint32_t major = major(info.st_rdev);
    uint32_t minor = minor(info.st_rdev);
    *rdev = info.st_rdev;
    *tty = (minor & 0xFFu) | (major << 8) | ((minor & ~0xFFu) << 12);
    return SUPRV_OK;
}

bool MgLineDevice(const MgLine* line, uint64_t* rdev, uint32_t* tty)
{
    return LineDevice(line, rdev, tty) == SUPRV_OK;
}

const MgProcess* MgSessionLeader(const MgRun* run, uint32_t tty)
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
        if (process.kind == MG_PROCESS_MGETTY && strcmp(process.line, line->device) == 0) {
            return &process;
        }
    }
    return nullptr;
}

// The line's lock file: mgetty as Debian builds it names the lock after the
// whole device with each "/" made "_", mgetty as it comes after the device's
// last part. For a device straight under /dev both are its name.
static int OpenLock(const MgLine* line, uint32_t* error)
{
    char debian[MG_NAME_SIZE];
    size_t length = strlen(line->device);
    for (size_t i = 0; i <= length; ++i) {
        debian[i] = line->device[i] == '/' ? '_' : line->device[i];
    }
    const char* base = strrchr(line->device, '/');
    const char* names[] = {debian, base != nullptr ? base + 1 : nullptr};
    for (const char* name : names) {
        char path[MG_PATH_SIZE];
        *error = SUPRV_ERROR_FILE_NOT_FOUND;
        // Never through a link.
        int handle = name != nullptr && MgPath(path, "/var/lock/LCK..%s", name)
                         ? MgOpenTrusted(path, MG_TRUST_LOCK, O_RDONLY | O_NOFOLLOW, error)
                         : -1;
        if (handle >= 0 || (*error != SUPRV_ERROR_FILE_NOT_FOUND && *error != SUPRV_ERROR_BAD_PATH)) {
            return handle;
        }
    }
    return -1;
}

// The holder as MgLockHolder tells it; `error` says whether the lock could be looked at.
static int32_t LockHolder(const MgRun* run, const MgLine* line, uint64_t rdev, char* name, size_t nameSize, long* age,
                          uint32_t* error)
{
    int handle = OpenLock(line, error);
    if (handle < 0) {
        return 0;
    }
    struct stat info;
    char text[64];
    ssize_t count = -1;
    if (fstat(handle, &info) == 0 && S_ISREG(info.st_mode)) {
        count = read(handle, text, sizeof(text) - 1);
    }
    close(handle);
    if (count <= 0) {
        return 0;
    }
    text[count] = 0;
    // uucp's form: the process id in text.
    char* end;
    long pid = strtol(text, &end, 10);
    if (end == text || pid <= 0 || pid > INT32_MAX) {
        return 0;
    }
    int folder = MgOpenProcess(run, static_cast<int32_t>(pid));
    if (folder < 0) {
        return 0;
    }
    // A lock is written by its holder: one that another user wrote for
    // someone else's process is forged.
    uint32_t real;
    uint32_t effective;
    MgProcess holder;
    bool holds = MgProcessUsers(folder, &real, &effective) &&
                 (info.st_uid == 0 || info.st_uid == real || info.st_uid == effective) &&
                 MgReadProcessAt(folder, static_cast<int32_t>(pid), &holder, name, nameSize) &&
                 !MgProcessEnded(holder) && MgHasDeviceOpen(folder, rdev);
    close(folder);
    *age = static_cast<long>(time(nullptr) - info.st_mtime);
    return holds ? static_cast<int32_t>(pid) : 0;
}

int32_t MgLockHolder(const MgRun* run, const MgLine* line, uint64_t rdev, char* name, size_t nameSize, long* age)
{
    uint32_t error;
    return LockHolder(run, line, rdev, name, nameSize, age, &error);
}

// Whether a hang-up signal waits to be taken by the process, per thread or
// for the whole process.
static bool HangUpPending(const MgRun* run, int32_t pid)
{
    char file[32];
    char text[2048];
    snprintf(file, sizeof(file), "%d/status", pid);
    if (run->procFolder < 0 || MgReadSmallAt(run->procFolder, file, text, sizeof(text)) <= 0) {
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

// Whether the record is the process's own, or that of the login that started it.
static bool RecordOf(const MgLogin& login, const MgProcess& process)
{
    return login.pid == process.pid || login.pid == process.parent;
}

static bool LoggedOut(const MgRun* run, const MgLine* line, const MgProcess& leader)
{
    for (uint32_t i = 0; i < run->loginCount; ++i) {
        const MgLogin& login = run->logins[i];
        if (RecordOf(login, leader) && MgLoginOnLine(line, login.line) &&
            (login.type == DEAD_PROCESS || (login.type == USER_PROCESS && login.user[0] == 0))) {
            return true;
        }
    }
    return false;
}

// mgetty's initialisation chat and a caller's rings end well within this.
static const long kLongestLockWithoutCall = 30;

int32_t MgLineStatus(MgRun* run, const MgLine* line)
{
    uint64_t rdev = 0;
    uint32_t tty = 0;
    uint32_t error = LineDevice(line, &rdev, &tty);
    const bool device = error == SUPRV_OK;
    const MgProcess* leader = device ? MgSessionLeader(run, tty) : nullptr;
    if (leader != nullptr && leader->kind == MG_PROCESS_MGETTY) {
        return SUPRV_STATUS_ANSWERING;
    }
    if (leader != nullptr && leader->kind == MG_PROCESS_OTHER) {
        bool ending = MgProcessEnded(*leader) || HangUpPending(run, leader->pid) || LoggedOut(run, line, *leader);
        return ending ? SUPRV_STATUS_HANGING_UP : SUPRV_STATUS_CONNECTED;
    }
    const MgProcess* mgetty = MgettyOf(run, line);
    char holder[16];
    long age = 0;
    int32_t lock = device ? LockHolder(run, line, rdev, holder, sizeof(holder), &age, &error) : 0;
    // What another user could have put in the line's way tells nothing of it.
    if (MgRefused(error)) {
        return SUPRV_STATUS_MONITORING_FAILED;
    }
    if (lock != 0 && (mgetty == nullptr || lock != mgetty->pid)) {
        return strcmp(holder, "callback") == 0 ? SUPRV_STATUS_CALLING_BACK : SUPRV_STATUS_CONNECTED;
    }
    if (!MgServerEnabled(line)) {
        return SUPRV_STATUS_IDLE;
    }
    if (mgetty == nullptr || !device || leader != nullptr || (lock != 0 && age > kLongestLockWithoutCall)) {
        return SUPRV_STATUS_MONITORING_FAILED;
    }
    return SUPRV_STATUS_MONITORING;
}

void MgLineUser(MgRun* run, const MgLine* line, char* user, size_t size)
{
    user[0] = 0;
    uint64_t rdev = 0;
    uint32_t tty = 0;
    MgLineDevice(line, &rdev, &tty);
    const MgProcess* mgetty = MgettyOf(run, line);
    // The latest record wins: utmp keeps older ones of the line beside it.
    for (uint32_t i = run->loginCount; i-- > 0;) {
        const MgLogin& login = run->logins[i];
        if (login.type != USER_PROCESS || login.user[0] == 0 || !MgLoginOnLine(line, login.line)) {
            continue;
        }
        for (uint32_t j = 0; j < run->processCount; ++j) {
            const MgProcess& process = run->processes[j];
            bool onLine = (tty != 0 && process.tty == tty) || &process == mgetty;
            if (RecordOf(login, process) && onLine && !MgProcessEnded(process) && process.kind != MG_PROCESS_GETTY) {
                snprintf(user, size, "%s", login.user);
                return;
            }
        }
    }
}
