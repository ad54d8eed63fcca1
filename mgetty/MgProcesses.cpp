// One pass over the process table, the line of each mgetty, and the login records of utmp.
#include "mgetty/MgFiles.h"
#include "mgetty/MgRun.h"

#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <utmp.h>

// mgetty's options that take an argument; the first other argument is its line.
static const char kOptionsWithArgument[] = "cxspnRiCSkmI";

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
        if (!MgIsLineName(argument, length)) {
            return false;
        }
        memcpy(line, argument, length + 1);
        return true;
    }
    return false;
}

bool MgReadProcess(int32_t pid, MgProcess* process, char* name, size_t nameSize)
{
    char path[MG_PATH_SIZE];
    char text[1024];
    if (!MgPath(path, "/proc/%d/stat", pid) || MgReadSmall(path, text, sizeof(text)) <= 0) {
        return false;
    }
    // The name stands in parentheses and may hold anything, parentheses too:
    // the fields follow the last ")".
    const char* open = strchr(text, '(');
    const char* close = strrchr(text, ')');
    if (open == nullptr || close == nullptr || close < open) {
        return false;
    }
    int parent;
    int tty;
    memset(process, 0, sizeof(*process));
    if (sscanf(close + 1, " %c %d %d %d %d %d", &process->state, &parent, &process->pgrp, &process->session, &tty,
               &process->tpgid) != 6) {
        return false;
    }
    process->pid = pid;
    process->tty = static_cast<uint32_t>(tty);
    size_t length = static_cast<size_t>(close - open - 1);
    length = length < nameSize - 1 ? length : nameSize - 1;
    memcpy(name, open + 1, length);
    name[length] = 0;
    return true;
}

// The line of an mgetty, from its command line.
static void ReadMgettyLine(MgProcess* process)
{
    char path[MG_PATH_SIZE];
    char text[4096];
    long size;
    if (!MgPath(path, "/proc/%d/cmdline", process->pid) || (size = MgReadSmall(path, text, sizeof(text))) <= 0) {
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

static bool IsNumber(const char* text)
{
    if (*text == 0 || strlen(text) > 9) {
        return false;
    }
    return text[strspn(text, "0123456789")] == 0;
}

uint32_t MgReadProcesses(MgRun* run)
{
    char path[MG_PATH_SIZE];
    if (!MgPath(path, "/proc")) {
        return MG_ERROR_BAD_PATH;
    }
    DIR* table = opendir(path);
    if (table == nullptr) {
        // A root without a process table has no process on any line.
        return errno == ENOENT ? MG_OK : MgErrorFromErrno(errno);
    }
    uint32_t result = MG_OK;
    struct dirent* entry;
    while (result == MG_OK && (entry = readdir(table)) != nullptr) {
        if (!IsNumber(entry->d_name)) {
            continue;
        }
        MgProcess process;
        char name[16];
        if (!MgReadProcess(static_cast<int32_t>(atoi(entry->d_name)), &process, name, sizeof(name))) {
            continue;
        }
        process.isMgetty = strcmp(name, "mgetty") == 0;
        if (process.tty == 0 && !process.isMgetty) {
            continue;
        }
        if (process.isMgetty) {
            ReadMgettyLine(&process);
            result = MgAddLine(run, process.line, strlen(process.line), MG_FROM_PROCESS);
        }
        void* processes = run->processes;
        if (result == MG_OK && !MgGrow(&processes, &run->processCapacity, run->processCount, sizeof(MgProcess))) {
            result = MG_ERROR_NOT_ENOUGH_MEMORY;
        }
        if (result == MG_OK) {
            run->processes = static_cast<MgProcess*>(processes);
            run->processes[run->processCount++] = process;
        }
    }
    closedir(table);
    return result;
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
        return MG_ERROR_BAD_PATH;
    }
    MgTextFile file;  // Only its handle: utmp is read record by record.
    if (!MgOpenText(&file, path)) {
        // No login records: nobody is known to be logged in.
        return MG_OK;
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
            char line[MG_NAME_SIZE];
            CopyField(line, sizeof(line), record.ut_line, sizeof(record.ut_line));
            if (!kind || MgFindLine(run, line) == nullptr) {
                continue;
            }
            void* logins = run->logins;
            if (!MgGrow(&logins, &run->loginCapacity, run->loginCount, sizeof(MgLogin))) {
                MgCloseText(&file);
                return MG_ERROR_NOT_ENOUGH_MEMORY;
            }
            run->logins = static_cast<MgLogin*>(logins);
            MgLogin* login = &run->logins[run->loginCount++];
            login->pid = record.ut_pid;
            login->type = record.ut_type;
            memcpy(login->line, line, sizeof(line));
            CopyField(login->user, sizeof(login->user), record.ut_user, sizeof(record.ut_user));
        }
        size_t rest = kept - whole * sizeof(struct utmp);
        memmove(records, reinterpret_cast<char*>(records) + whole * sizeof(struct utmp), rest);
        kept = rest;
    }
    MgCloseText(&file);
    return MG_OK;
}
