// What one run of the supervisor library knows: the lines, the processes on them and the login records.
//
// A run lasts from SuprvInitialize to SuprvDeInitialize. Its lines, its one
// pass over the process table and its one reading of utmp are taken at the
// start and serve every request of the run; the nologin files, the lines'
// device nodes and lock files are looked at afresh by every request, and a
// hang-up reads every process it signals afresh, through the process table
// the run opened. Nothing outlives the run: the library keeps no state of
// its own.
#pragma once

#include <stddef.h>
#include <stdint.h>

enum : uint32_t {
    // A line's name or device and its terminator: as wide as a record's name field.
    MG_NAME_SIZE = 129,
    MG_UTMP_LINE_SIZE = 32,  // utmp's line field, which need not be terminated.
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

// A line as mgetty takes it: `device` is the path below /dev that mgetty is
// given ("ttyS0", "serial/by-id/usb-Modem-if00"), and `name` is mgetty's own
// name for the line, the device with every "/" made a "-", which names its
// nologin file and its log. Its lock file takes the device's last component,
// and its utmp records the device, or the name of the node that a link
// leads to where login or pppd writes the record (`node`).
struct MgLine {
    char name[MG_NAME_SIZE];
    char device[MG_NAME_SIZE];
    char node[MG_NAME_SIZE];  // Empty when the device is no link.
    char comment[MG_COMMENT_SIZE];
    uint32_t loginConfig;  // Offset in MgRun::texts of the login.config path that serves it.
    uint8_t sources;
};

// What a process is to the lines: mgetty (or vgetty, its voice variant),
// another getty waiting for a log-in, or anything else.
enum MgProcessKind : uint8_t { MG_PROCESS_OTHER, MG_PROCESS_MGETTY, MG_PROCESS_GETTY };

// A process that matters to some line: one with a controlling terminal, or an mgetty.
struct MgProcess {
    int32_t pid;
    int32_t parent;
    int32_t pgrp;
    int32_t session;
    int32_t tpgid;   // The foreground process group of its terminal.
    uint32_t tty;    // Its controlling terminal in the kernel's encoding; 0 for none.
    uint64_t start;  // When it started, in clock ticks since boot: with the pid, who it is.
    char state;      // As the kernel shows it: R, S, D, Z, T...
    // Its threads: a process whose first thread has ended shows as a zombie
    // while its other threads run on.
    int32_t threads;
    MgProcessKind kind;
    char line[MG_NAME_SIZE];  // For an mgetty, the device it runs on; else empty.
};

// Whether the process has ended: a zombie, and not one whose first thread
// alone has ended.
inline bool MgProcessEnded(const MgProcess& process)
{
    return process.state == 'Z' && process.threads <= 1;
}

// A login record that names a line.
struct MgLogin {
    int32_t pid;
    int16_t type;  // USER_PROCESS, LOGIN_PROCESS, DEAD_PROCESS.
    char line[MG_UTMP_LINE_SIZE + 1];
    char user[MG_UTMP_LINE_SIZE + 1];
    int64_t time;  // When the record was written, in seconds since the Unix epoch.
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
    // The process table under the root, held open for the whole run so that
    // every process read and signalled is one of the same system's; -1 when
    // the root has none, or what is there is no process table.
    int procFolder;
};

void MgRunFree(MgRun* run);

// Makes room for one more element in an array grown by doubling; false when
// there is no memory, and the array is as it was.
bool MgGrow(void** data, uint32_t* capacity, uint32_t count, size_t size);
// Stores a text of `length` bytes; its offset, or UINT32_MAX without memory.
uint32_t MgKeepText(MgRun* run, const char* text, size_t length);

void MgRunInit(MgRun* run);

// A device mgetty can serve a line on: a path below /dev of up to 128
// bytes, whose parts are letters, digits and "._+-:@", none beginning with
// "." or "-", so it never leaves /dev.
bool MgIsDevicePath(const char* text, size_t length);
// The line of that name, or null.
MgLine* MgFindLine(MgRun* run, const char* name);
// Adds the line of a device, or the source to the line already of its name.
// What is no device path, and lines beyond MG_MAX_LINES, are passed over.
uint32_t MgAddLine(MgRun* run, const char* device, size_t length, MgSource source);
// Whether a login record's line field names the line.
bool MgLoginOnLine(const MgLine* line, const char* utmpLine);

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
// Reads the stat file of the process whose /proc folder is open as
// `folder`, with its name; false when it is gone or unreadable.
bool MgReadProcessAt(int folder, int32_t pid, MgProcess* process, char* name, size_t nameSize);
// Reads the stat file of a process of the run's table by its number.
bool MgReadListed(const MgRun* run, int32_t pid, MgProcess* process, char* name, size_t nameSize);
// Opens the /proc folder of a process of the run's table; -1 when it is gone.
int MgOpenProcess(const MgRun* run, int32_t pid);
// The real and effective user of the process whose /proc folder is open.
bool MgProcessUsers(int folder, uint32_t* real, uint32_t* effective);
// Whether the process whose /proc folder is open has a file open on the device `rdev`.
bool MgHasDeviceOpen(int folder, uint64_t rdev);
// The line an mgetty command line names: its first argument that is no
// option, without "/dev/"; false when there is none or it is no device path.
bool MgLineOfCommand(const char* const* arguments, uint32_t count, char* line);
// Whether a program of that name is mgetty or vgetty.
bool MgIsMgettyName(const char* name);
// What a program of that name would be to the lines, were it run by root.
MgProcessKind MgKindOfName(const char* name);
// Whether the process whose /proc folder is open runs as root, really and effectively.
bool MgRunsAsRoot(int folder);
// What a walk over the process table does with each process: `process` is a
// first look at it by number, `name` its name. A result other than SUPRV_OK
// ends the walk.
typedef uint32_t (*MgProcessVisitor)(void* context, const MgProcess& process, const char* name);
// How a walk reads the table: at once, as it stands when the walk begins; or
// one entry at a time, so that a process born during the walk with a higher
// number than any listed yet is still found.
enum MgWalkPace { MG_WALK_AT_ONCE, MG_WALK_ONE_BY_ONE };
// Shows every process of the run's table to `visit`, in the order of their
// numbers; the first result other than SUPRV_OK, or the error that kept the
// table from being read.
uint32_t MgWalkProcesses(const MgRun* run, MgWalkPace pace, MgProcessVisitor visit, void* context);

// What the requests do (MgStatus.cpp).
int32_t MgLineStatus(MgRun* run, const MgLine* line);
void MgLineUser(MgRun* run, const MgLine* line, char* user, size_t size);
bool MgServerEnabled(const MgLine* line);
uint32_t MgSetServerEnabled(const MgLine* line, bool enabled);

// The line's device node: its number, and the same in the kernel's encoding
// of a controlling terminal; false when it is missing or no terminal.
bool MgLineDevice(const MgLine* line, uint64_t* rdev, uint32_t* tty);
// The session leading the line in the run's table, or null.
const MgProcess* MgSessionLeader(const MgRun* run, uint32_t tty);
// The process a valid lock file of the line names, when it is alive and
// has the line open; 0 for none. `age` is the lock file's age in seconds.
int32_t MgLockHolder(const MgRun* run, const MgLine* line, uint64_t rdev, char* name, size_t nameSize, long* age);

// Hangs up the line's call, escalating until it is gone (MgHangUp.cpp).
uint32_t MgHangUp(MgRun* run, const MgLine* line);
