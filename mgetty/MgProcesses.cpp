// The process table, walked for the status pass and the hang-up; the line of each mgetty; the login records of utmp.
#include "mgetty/MgFiles.h"
#include "mgetty/MgRun.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <utmp.h>

// mgetty's options that take an argument; the first other argument is its line.
static const char kOptionsWithArgument[] = "cxspnRiCSkmI";

bool MgIsMgettyName(const char* name)
{
    return strcmp(name, "mgetty") == 0 || strcmp(name, "vgetty") == 0;
}

// agetty, getty, mingetty and their kin: they take the line as their
// terminal at once and wait there for a name, with no call behind them.
static bool IsOtherGettyName(const char* name)
{
    size_t length = strlen(name);
    return length >= 5 && strcmp(name + length - 5, "getty") == 0 && !MgIsMgettyName(name);
}

MgProcessKind MgKindOfName(const char* name)
{
    return MgIsMgettyName(name) ? MG_PROCESS_MGETTY : IsOtherGettyName(name) ? MG_PROCESS_GETTY : MG_PROCESS_OTHER;
}

bool MgLineOfCommand(const char* const* arguments, uint32_t count, char* line)
{
    bool optionsEnded = false;
    for (uint32_t i = 1; i < count; ++i) {
        const char* argument = arguments[i];
        if (!optionsEnded && argument[0] == '-' && argument[1] != 0) {
            if (strcmp(argument, "--") == 0) {
                optionsEnded = true;
                continue;
            }
            for (const char* option = argument + 1; *option != 0; ++option) {
                if (strchr(kOptionsWithArgument, *option) != nullptr) {
                    i += option[1] == 0;  // The argument is the next word.
                    break;
                }
            }
            continue;
        }
        if (strncmp(argument, "/dev/", 5) == 0) {
            argument += 5;
        }
        size_t length = strlen(argument);
        if (!MgIsDevicePath(argument, length)) {
            return false;
        }
        memcpy(line, argument, length + 1);
        return true;
    }
    return false;
}

// Reads a stat file of the process table, by its path from `folder`.
static bool ReadStat(int folder, const char* file, int32_t pid, MgProcess* process, char* name, size_t nameSize)
{
    char text[1024];
    if (MgReadSmallAt(folder, file, text, sizeof(text)) <= 0) {
        return false;
    }
    // The name stands in parentheses and may hold anything, parentheses too:
    // the fields follow the last ")".
    const char* open = strchr(text, '(');
    const char* close = strrchr(text, ')');
    if (open == nullptr || close == nullptr || close < open) {
        return false;
    }
    int tty;
    unsigned long long start;
    memset(process, 0, sizeof(*process));
    if (sscanf(close + 1, " %c %d %d %d %d %d %*u %*u %*u %*u %*u %*u %*u %*d %*d %*d %*d %d %*d %llu",
               &process->state, &process->parent, &process->pgrp, &process->session, &tty, &process->tpgid,
               &process->threads, &start) != 8) {
        return false;
    }
    process->pid = pid;
    process->tty = static_cast<uint32_t>(tty);
    process->start = start;
    size_t length = static_cast<size_t>(close - open - 1);
    length = length < nameSize - 1 ? length : nameSize - 1;
    memcpy(name, open + 1, length);
    name[length] = 0;
    return true;
}

bool MgReadProcessAt(int folder, int32_t pid, MgProcess* process, char* name, size_t nameSize)
{
    return ReadStat(folder, "stat", pid, process, name, nameSize);
}

bool MgReadListed(const MgRun* run, int32_t pid, MgProcess* process, char* name, size_t nameSize)
{
    char file[32];
    snprintf(file, sizeof(file), "%d/stat", pid);
    return run->procFolder >= 0 && ReadStat(run->procFolder, file, pid, process, name, nameSize);
}

bool MgProcessUsers(int folder, uint32_t* real, uint32_t* effective)
{
    // Not the folder's owner, which a process that makes itself undumpable
    // turns into root.
    char text[2048];
    if (MgReadSmallAt(folder, "status", text, sizeof(text)) <= 0) {
        return false;
    }
    const char* at = strstr(text, "\nUid:");
    return at != nullptr && sscanf(at + 5, "%u %u", real, effective) == 2;
}

bool MgRunsAsRoot(int folder)
{
    uint32_t real;
    uint32_t effective;
    return folder >= 0 && MgProcessUsers(folder, &real, &effective) && real == 0 && effective == 0;
}

int MgOpenProcess(const MgRun* run, int32_t pid)
{
    if (run->procFolder < 0 || pid <= 0) {
        return -1;
    }
    char number[16];
    snprintf(number, sizeof(number), "%d", pid);
    return openat(run->procFolder, number, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
}

// Whether one reading of the process's open files finds the device; an
// entry that is gone before it is looked at makes the reading `unsure`.
static bool FindDevice(int folder, uint64_t rdev, bool* unsure)
{
    int handle = openat(folder, "fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    DIR* files = handle >= 0 ? fdopendir(handle) : nullptr;
    if (files == nullptr) {
        if (handle >= 0) {
            close(handle);
        }
        return false;
    }
    bool found = false;
    struct dirent* entry;
    while (!found && (entry = readdir(files)) != nullptr) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        // Each entry stands for an open file: statx follows it to the file,
        // taking what the kernel already knows of it, so that a file on a
        // network or user file system that does not answer cannot hold up
        // the walk.
        struct statx info;
        if (statx(dirfd(files), entry->d_name, AT_STATX_DONT_SYNC, STATX_TYPE, &info) != 0) {
            *unsure = *unsure || errno == ENOENT;
        } else {
            found = S_ISCHR(info.stx_mode) && makedev(info.stx_rdev_major, info.stx_rdev_minor) == rdev;
        }
    }
    closedir(files);
    return found;
}

bool MgHasDeviceOpen(int folder, uint64_t rdev)
{
    // A process that opens the device anew and closes the file it had, over
    // and over, would slip between a listing of its files and the looks at
    // them: a file closed before it is looked at means the process is read
    // again, until one reading sees every file it lists.
    for (int reading = 0; reading < 8; ++reading) {
        bool unsure = false;
        if (FindDevice(folder, rdev, &unsure)) {
            return true;
        }
        if (!unsure) {
            return false;
        }
    }
    return false;
}

// The device of an mgetty, from its command line.
static void ReadMgettyLine(int folder, MgProcess* process)
{
    char text[4096];
    long size = MgReadSmallAt(folder, "cmdline", text, sizeof(text));
    if (size <= 0) {
        return;
    }
    const char* arguments[64];
    uint32_t count = 0;
    for (long at = 0; at < size && count < 64; at += static_cast<long>(strlen(text + at)) + 1) {
        arguments[count++] = text + at;
    }
    if (!MgLineOfCommand(arguments, count, process->line)) {
        process->line[0] = 0;
    }
}

// The process an entry of /proc stands for; 0 for an entry that is no process.
static int32_t ProcessNumber(const char* entry)
{
    if (*entry == 0 || strlen(entry) > 9 || entry[strspn(entry, "0123456789")] != 0) {
        return 0;
    }
    return static_cast<int32_t>(atoi(entry));
}

// The root's /proc, opened for the run when it is a process table: what a
// user could make in a folder of their own is never taken for one.
static uint32_t OpenProcessTable(MgRun* run)
{
    char path[MG_PATH_SIZE];
    if (!MgPath(path, "/proc")) {
        return SUPRV_ERROR_BAD_PATH;
    }
    uint32_t error;
    int folder = MgOpenTrusted(path, MG_TRUST_FOLDER, O_RDONLY | O_DIRECTORY, &error);
    if (folder < 0) {
        // A root without a process table has no process on any line.
        return error == SUPRV_ERROR_FILE_NOT_FOUND ? SUPRV_OK : error;
    }
    struct statfs system;
    if (fstatfs(folder, &system) != 0 || system.f_type != PROC_SUPER_MAGIC) {
        close(folder);
        return SUPRV_OK;
    }
    run->procFolder = folder;
    return SUPRV_OK;
}

uint32_t MgWalkProcesses(const MgRun* run, MgWalkPace pace, MgProcessVisitor visit, void* context)
{
    if (run->procFolder < 0) {
        return SUPRV_OK;
    }
    // Read through the run's own handle, which nothing else lists, from the top.
    if (lseek(run->procFolder, 0, SEEK_SET) != 0) {
        return MgErrorFromErrno(errno);
    }
    // The kernel lists the process table in the order of process numbers and
    // ends the listing at the first read that reaches its end; a process born
    // since is in no later read. Read one entry at a time, a process that
    // forks and ends while the walk looks at it leaves a child whose higher
    // number the next read still finds. A buffer too small for the next
    // entry, one of a longer name, is grown until that entry alone fits.
    alignas(8) char buffer[8192];
    const size_t kOneEntry = 32;
    size_t size = pace == MG_WALK_ONE_BY_ONE ? kOneEntry : sizeof(buffer);
    for (;;) {
        long length = syscall(SYS_getdents64, run->procFolder, buffer, size);
        if (length < 0 && errno == EINVAL && size < sizeof(buffer)) {
            size += 8;
            continue;
        }
        if (length < 0) {
            return MgErrorFromErrno(errno);
        }
        if (length == 0) {
            return SUPRV_OK;
        }
        size = pace == MG_WALK_ONE_BY_ONE ? kOneEntry : sizeof(buffer);
        for (long at = 0; at < length;) {
            const struct dirent64* entry = reinterpret_cast<const struct dirent64*>(buffer + at);
            at += entry->d_reclen;
            const int32_t pid = ProcessNumber(entry->d_name);
            MgProcess process;
            char name[16];
            if (pid > 0 && MgReadListed(run, pid, &process, name, sizeof(name))) {
                const uint32_t result = visit(context, process, name);
                if (result != SUPRV_OK) {
                    return result;
                }
            }
        }
    }
}

// Keeps a process of the table that matters to some line: one with a
// controlling terminal, or an mgetty, whose line is added to the run's.
static uint32_t KeepProcess(void* context, const MgProcess& listed, const char* name)
{
    MgRun* run = static_cast<MgRun*>(context);
    MgProcess process = listed;
    // One read a process: its folder is opened only for a getty's.
    process.kind = MgKindOfName(name);
    if (process.tty == 0 && process.kind != MG_PROCESS_MGETTY) {
        return SUPRV_OK;
    }
    if (process.kind != MG_PROCESS_OTHER) {
        // A getty runs as root: a user's program of that name (a caller's
        // shell renamed, say) is no getty, neither shown as one nor spared
        // a hang-up.
        int folder = MgOpenProcess(run, process.pid);
        if (!MgRunsAsRoot(folder)) {
            process.kind = MG_PROCESS_OTHER;
        } else if (process.kind == MG_PROCESS_MGETTY) {
            ReadMgettyLine(folder, &process);
        }
        if (folder >= 0) {
            close(folder);
        }
        if (process.tty == 0 && process.kind != MG_PROCESS_MGETTY) {
            return SUPRV_OK;
        }
    }
    if (process.kind == MG_PROCESS_MGETTY) {
        const uint32_t result = MgAddLine(run, process.line, strlen(process.line), MG_FROM_PROCESS);
        if (result != SUPRV_OK) {
            return result;
        }
    }
    void* processes = run->processes;
    if (!MgGrow(&processes, &run->processCapacity, run->processCount, sizeof(MgProcess))) {
        return SUPRV_ERROR_NOT_ENOUGH_MEMORY;
    }
    run->processes = static_cast<MgProcess*>(processes);
    run->processes[run->processCount++] = process;
    return SUPRV_OK;
}

uint32_t MgReadProcesses(MgRun* run)
{
    uint32_t result = OpenProcessTable(run);
    return result == SUPRV_OK ? MgWalkProcesses(run, MG_WALK_AT_ONCE, KeepProcess, run) : result;
}

// Copies a fixed-width utmp field, which need not be terminated.
static void CopyField(char* out, size_t outSize, const char* field, size_t fieldSize)
{
    size_t length = strnlen(field, fieldSize);
    length = length < outSize - 1 ? length : outSize - 1;
    memcpy(out, field, length);
    out[length] = 0;
}

uint32_t MgReadLogins(MgRun* run)
{
    char path[MG_PATH_SIZE];
    if (!MgPath(path, "%s", _PATH_UTMP)) {
        return SUPRV_ERROR_BAD_PATH;
    }
    MgTextFile file;  // Only its handle: utmp is read record by record.
    if (!MgOpenText(&file, path, MG_TRUST_RECORDS)) {
        // No login records: nobody is known to be logged in; but records
        // another user could forge are not taken for none.
        return MgRefused(file.error) ? file.error : SUPRV_OK;
    }
    struct utmp records[16];
    size_t kept = 0;
    for (;;) {
        ssize_t count = read(file.handle, reinterpret_cast<char*>(records) + kept, sizeof(records) - kept);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            break;
        }
        kept += static_cast<size_t>(count);
        size_t whole = kept / sizeof(struct utmp);
        for (size_t i = 0; i < whole; ++i) {
            const struct utmp& record = records[i];
            bool kind = record.ut_type == USER_PROCESS || record.ut_type == LOGIN_PROCESS ||
                        record.ut_type == DEAD_PROCESS;
            char line[MG_UTMP_LINE_SIZE + 1];
            CopyField(line, sizeof(line), record.ut_line, sizeof(record.ut_line));
            bool named = false;
            for (uint32_t j = 0; kind && !named && j < run->count; ++j) {
                named = MgLoginOnLine(&run->lines[j], line);
            }
            if (!named) {
                continue;
            }
            void* logins = run->logins;
            if (!MgGrow(&logins, &run->loginCapacity, run->loginCount, sizeof(MgLogin))) {
                MgCloseText(&file);
                return SUPRV_ERROR_NOT_ENOUGH_MEMORY;
            }
            run->logins = static_cast<MgLogin*>(logins);
            MgLogin* login = &run->logins[run->loginCount++];
            login->pid = record.ut_pid;
            login->type = record.ut_type;
            memcpy(login->line, line, sizeof(line));
            CopyField(login->user, sizeof(login->user), record.ut_user, sizeof(record.ut_user));
            login->time = record.ut_tv.tv_sec;
        }
        size_t rest = kept - whole * sizeof(struct utmp);
        memmove(records, reinterpret_cast<char*>(records) + whole * sizeof(struct utmp), rest);
        kept = rest;
    }
    MgCloseText(&file);
    return SUPRV_OK;
}
