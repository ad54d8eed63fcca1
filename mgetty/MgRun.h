// What one run of the supervisor library knows: the lines, the processes on them and the login records.
//
// A run lasts from SuprvInitialize to SuprvDeInitialize. Its lines, its one
// pass over the process table and its one reading of utmp are taken at the
// start and serve every request of the run; the nologin files, the lines'
// device nodes and lock files are looked at afresh by every request. Nothing
// outlives the run: the library keeps no state of its own.
#pragma once

#include <stddef.h>
#include <stdint.h>

enum : uint32_t {
    MG_NAME_SIZE = 32,  // A line's name and its terminator; as wide as utmp's line field.
    MG_RECORD_SIZE = 512,
    MG_COMMENT_SIZE = MG_RECORD_SIZE - 204,  // The comment runs to the end of the record.
    MG_MAX_LINES = 4096,  // Sections and units beyond these are not read.
};

// Where a line was found; a line found in several places has several bits.
enum MgSource : uint8_t {
    MG_FROM_CONFIG = 1,   // A port section of mgetty.config.
    MG_FROM_UNIT = 2,     // An enabled mgetty@LINE.service.
    MG_FROM_INITTAB = 4,  // An mgetty entry of inittab.
    MG_FROM_PROCESS = 8,  // An mgetty running on it.
};

struct MgLine {
    char name[MG_NAME_SIZE];
    char comment[MG_COMMENT_SIZE];
    uint32_t loginConfig;  // Offset in MgRun::texts of the login.config path that serves it.
    uint8_t sources;
};

// A process that matters to some line: one with a controlling terminal, or an mgetty.
struct MgProcess {
    int32_t pid;
    int32_t pgrp;
    int32_t session;
    int32_t tpgid;   // The foreground process group of its terminal.
    uint32_t tty;    // Its controlling terminal in the kernel's encoding; 0 for none.
    char state;      // As the kernel shows it: R, S, D, Z, T...
    bool isMgetty;
    char line[MG_NAME_SIZE];  // For an mgetty, the line it runs on; else empty.
};

// A login record that names a line.
struct MgLogin {
    int32_t pid;
    int16_t type;  // USER_PROCESS, LOGIN_PROCESS, DEAD_PROCESS.
    char line[MG_NAME_SIZE];
    char user[MG_NAME_SIZE + 1];
};

// The login.config files already read in this run, and whether each hands
// callers to pppd by itself.
enum : uint32_t { MG_LOGIN_CONFIGS_KEPT = 8 };
struct MgLoginConfigSeen {
    uint32_t path;  // Offset in MgRun::texts.
    char serverType[5];
};

struct MgRun {
    MgLine* lines;
    uint32_t count;
    uint32_t capacity;
    MgProcess* processes;
    uint32_t processCount;
    uint32_t processCapacity;
    MgLogin* logins;
    uint32_t loginCount;
    uint32_t loginCapacity;
    // Zero-terminated texts the lines refer to by offset, one after another.
    char* texts;
    uint32_t textSize;
    uint32_t textCapacity;
    MgLoginConfigSeen seen[MG_LOGIN_CONFIGS_KEPT];
    uint32_t seenCount;
};

void MgRunFree(MgRun* run);

// Makes room for one more element in an array grown by doubling; false when
// there is no memory, and the array is as it was.
bool MgGrow(void** data, uint32_t* capacity, uint32_t count, size_t size);
// Stores a text of `length` bytes; its offset, or UINT32_MAX without memory.
uint32_t MgKeepText(MgRun* run, const char* text, size_t length);

// A name mgetty can serve a line by: 1 to 31 letters, digits and "._+-:@",
// not beginning with "." or "-", so never a path.
bool MgIsLineName(const char* text, size_t length);
// The line of that name, or null.
MgLine* MgFindLine(MgRun* run, const char* name);
// Adds a line, or the source to the line already of that name. Names that
// are not line names, and lines beyond MG_MAX_LINES, are passed over.
uint32_t MgAddLine(MgRun* run, const char* name, size_t length, MgSource source);

void MgSortLines(MgLine* lines, uint32_t count);

// The configuration files (MgConfig.cpp). Reads every source of lines, and
// the process table with them, in their order: the port sections of
// mgetty.config first, in the file's order, then the lines of enabled units,
// of inittab and of running mgettys, in the order of their names.
uint32_t MgReadLines(MgRun* run);
// "PPP", "TERM", or "" when the login.config of the line cannot be read
// (MgLoginConfig.cpp).
const char* MgServerType(MgRun* run, const MgLine* line);

// The process table and the login records (MgProcesses.cpp).
uint32_t MgReadProcesses(MgRun* run);
uint32_t MgReadLogins(MgRun* run);
// Reads one process's stat file; false when it is gone or unreadable.
bool MgReadProcess(int32_t pid, MgProcess* process, char* name, size_t nameSize);
// The line an mgetty command line names: its first argument that is no
// option, without "/dev/"; false when there is none or it is no line name.
bool MgLineOfCommand(const char* const* arguments, uint32_t count, char* line);

// What the requests do (MgStatus.cpp).
int32_t MgLineStatus(MgRun* run, const MgLine* line);
void MgLineUser(MgRun* run, const MgLine* line, char* user, size_t size);
uint32_t MgHangUp(MgRun* run, const MgLine* line);
bool MgServerEnabled(const MgLine* line);
uint32_t MgSetServerEnabled(const MgLine* line, bool enabled);
