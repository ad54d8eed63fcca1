// Opening a path as root only through what root alone may change: walked from "/" one entry at a time.
//
// Run by root, the library signals and writes by what it reads, so a path
// counts only when every folder on the way is root's and no other user may
// write to it, except a sticky folder (/tmp, /run/lock), where only root's
// entries count. A link is followed only when root made it. Each entry is
// looked at where it lies, never through a link, before it is entered or
// opened; a folder is entered through a handle that can only find, and a
// file is opened from the folder already checked and taken only when it is
// the very entry looked at: a terminal in a file's place is never opened,
// nor a pipe waited on. Run by any other user, paths are opened as they
// are: the system's own permissions are the whole check.
#include "mgetty/MgFiles.h"
#include "mgetty/MgTrust.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// More links on one path than this are taken for a loop.
const int kMostLinks = 8;
const uint32_t kMostRefusalsTold = 64;
const uint32_t kMostKnownFolders = 8;

struct Walk {
    MgTrust kind;
    int folder;     // The folder reached, checked; a handle that only finds.
    bool borrowed;  // The folder's handle is a known folder's, kept for the run.
    struct stat folderInfo;
    struct stat entryInfo;    // The last entry, once it is reached.
    char name[NAME_MAX + 1];  // The last entry's name in `folder`.
    char shown[MG_PATH_SIZE];  // Where the walk is, for what it tells.
    int links;
};

// A folder already walked to in this run, by the path it was asked by. Only
// root could change what it leads to (every folder on the way is root's, and
// root's entries in a sticky folder are root's to move), so it holds for the run.
struct KnownFolder {
    char path[MG_PATH_SIZE];
    int folder;
    struct stat info;
    char shown[MG_PATH_SIZE];
};

bool g_trusting;
// The refusal told last, for a failed initialisation's description.
char g_lastTold[MG_PATH_SIZE + 64];
uint64_t g_told[kMostRefusalsTold];
uint32_t g_toldCount;
KnownFolder g_known[kMostKnownFolders];
uint32_t g_knownCount;

}  // namespace

void MgTrustBegin(void)
{
    MgTrustEnd();
    g_trusting = geteuid() == 0;
    g_toldCount = 0;
    g_lastTold[0] = 0;
}

void MgTrustEnd(void)
{
    for (uint32_t i = 0; i < g_knownCount; ++i) {
        close(g_known[i].folder);
    }
    g_knownCount = 0;
}

bool MgTrusting(void)
{
    return g_trusting;
}

const char* MgLastRefusal(void)
{
    return g_lastTold;
}

bool MgRefused(uint32_t error)
{
    return g_trusting && error == SUPRV_ERROR_ACCESS_DENIED;
}

// Says once a run, on standard error, which path was refused and why.
static void Tell(const char* what, const char* path)
{
    snprintf(g_lastTold, sizeof(g_lastTold), "bad ownership or modes for %s %s", what, path[0] != 0 ? path : "/");
    uint64_t hash = 14695981039346656037ull;
    for (const char* p = path; *p != 0; ++p) {
        hash = (hash ^ static_cast<unsigned char>(*p)) * 1099511628211ull;
    }
    for (uint32_t i = 0; i < g_toldCount; ++i) {
        if (g_told[i] == hash) {
            return;
        }
    }
    if (g_toldCount < kMostRefusalsTold) {
        g_told[g_toldCount++] = hash;
    }
    dprintf(STDERR_FILENO, "librasapi32: %s\n", g_lastTold);
}

static bool OthersMayWrite(const struct stat& info)
{
    return (info.st_mode & S_IWOTH) != 0 || ((info.st_mode & S_IWGRP) != 0 && info.st_gid != 0);
}

static bool FolderTrusted(const struct stat& info)
{
    return S_ISDIR(info.st_mode) && info.st_uid == 0 && (!OthersMayWrite(info) || (info.st_mode & S_ISVTX) != 0);
}

// The group the system keeps the login records in: they may be written
// through it, as login and the terminal emulators do.
static bool IsRecordsGroup(gid_t group)
{
    struct group entry;
    struct group* found = nullptr;
    char text[4096];
    return getgrnam_r("utmp", &entry, text, sizeof(text), &found) == 0 && found != nullptr && found->gr_gid == group;
}

static void Append(Walk* walk, const char* part)
{
    size_t length = strlen(walk->shown);
    snprintf(walk->shown + length, sizeof(walk->shown) - length, "/%s", part);
}

static uint32_t Refuse(const char* what, const Walk* walk)
{
    Tell(what, walk->shown);
    return SUPRV_ERROR_ACCESS_DENIED;
}

static void SetFolder(Walk* walk, int folder, bool borrowed)
{
    if (walk->folder >= 0 && !walk->borrowed) {
        close(walk->folder);
    }
    walk->folder = folder;
    walk->borrowed = borrowed;
}

static uint32_t StartAtTop(Walk* walk)
{
    walk->shown[0] = 0;
    SetFolder(walk, open("/", O_PATH | O_DIRECTORY | O_CLOEXEC), false);
    if (walk->folder < 0 || fstat(walk->folder, &walk->folderInfo) != 0) {
        return MgErrorFromErrno(errno);
    }
    return FolderTrusted(walk->folderInfo) ? SUPRV_OK : Refuse("directory", walk);
}

// Steps into a folder (or "..") of the folder reached.
static uint32_t Enter(Walk* walk, const char* part)
{
    int handle = openat(walk->folder, part, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (handle < 0) {
        return MgErrorFromErrno(errno);
    }
    SetFolder(walk, handle, false);
    if (fstat(handle, &walk->folderInfo) != 0) {
        return MgErrorFromErrno(errno);
    }
    if (strcmp(part, "..") == 0) {
        char* slash = strrchr(walk->shown, '/');
        *(slash != nullptr ? slash : walk->shown) = 0;
    } else {
        Append(walk, part);
    }
    return FolderTrusted(walk->folderInfo) ? SUPRV_OK : Refuse("directory", walk);
}

// Whether the last entry is what the kind wants, and may be trusted as such.
static uint32_t Judge(Walk* walk)
{
    const struct stat& info = walk->entryInfo;
    // In a folder others may write to, what they made is not root's.
    const bool others = OthersMayWrite(walk->folderInfo) && info.st_uid != 0;
    switch (walk->kind) {
    case MG_TRUST_FOLDER:
        return FolderTrusted(info) ? SUPRV_OK : S_ISDIR(info.st_mode) ? Refuse("directory", walk) : SUPRV_ERROR_BAD_PATH;
    case MG_TRUST_FILE:
    case MG_TRUST_RECORDS:
        if (!S_ISREG(info.st_mode)) {
            return S_ISDIR(info.st_mode) ? SUPRV_ERROR_ACCESS_DENIED : SUPRV_ERROR_INVALID_DATA;
        }
        if (info.st_uid != 0 || (info.st_mode & S_IWOTH) != 0 ||
            ((info.st_mode & S_IWGRP) != 0 && info.st_gid != 0 &&
             (walk->kind != MG_TRUST_RECORDS || !IsRecordsGroup(info.st_gid)))) {
            return Refuse("file", walk);
        }
        return SUPRV_OK;
    case MG_TRUST_DEVICE:
        // Login hands the node to the caller, so its owner says nothing.
        if (!S_ISCHR(info.st_mode)) {
            return SUPRV_ERROR_DEVICE_NOT_EXIST;
        }
        return others ? Refuse("device", walk) : SUPRV_OK;
    case MG_TRUST_LOCK:
        // Its writer is checked against the process it names.
        return S_ISREG(info.st_mode) ? SUPRV_OK : SUPRV_ERROR_INVALID_DATA;
    }
    return SUPRV_ERROR_INVALID_PARAMETER;
}

// Follows the link `part` of the folder reached: what it leads to, then what was left.
static uint32_t Follow(Walk* walk, const char* part, const struct stat& info, char* rest)
{
    if (info.st_uid != 0) {
        Append(walk, part);
        return Refuse("link", walk);
    }
    char target[MG_PATH_SIZE];
    ssize_t length = readlinkat(walk->folder, part, target, sizeof(target));
    if (length <= 0 || static_cast<size_t>(length) >= sizeof(target) || ++walk->links > kMostLinks) {
        return length < 0 ? MgErrorFromErrno(errno) : SUPRV_ERROR_BAD_PATH;
    }
    target[length] = 0;
    char joined[MG_PATH_SIZE];
    int written = snprintf(joined, sizeof(joined), "%s/%s", target, rest);
    if (written < 0 || static_cast<size_t>(written) >= sizeof(joined)) {
        return SUPRV_ERROR_BAD_PATH;
    }
    memcpy(rest, joined, static_cast<size_t>(written) + 1);
    return target[0] == '/' ? StartAtTop(walk) : SUPRV_OK;
}

// Walks what is left from the folder reached to its last entry; with
// `folderOnly`, to the folder that holds it, leaving the entry unlooked at.
static uint32_t Steps(Walk* walk, char* rest, bool folderOnly)
{
    for (;;) {
        // The next part of what is left, taken off its front.
        const char* part = rest + strspn(rest, "/");
        const size_t length = strcspn(part, "/");
        const bool last = part[length + strspn(part + length, "/")] == 0;
        char name[NAME_MAX + 1];
        if (length >= sizeof(name)) {
            return SUPRV_ERROR_BAD_PATH;
        }
        memcpy(name, part, length);
        name[length] = 0;
        memmove(rest, part + length, strlen(part + length) + 1);
        uint32_t result = SUPRV_OK;
        struct stat info;
        if (length == 0 || strcmp(name, ".") == 0) {
            if (!last) {
                continue;
            }
            // The path ends in a folder, which its own "." names.
            strcpy(walk->name, ".");
            walk->entryInfo = walk->folderInfo;
            return folderOnly ? SUPRV_OK : Judge(walk);
        }
        if (last && folderOnly && strcmp(name, "..") != 0) {
            strcpy(walk->name, name);
            return SUPRV_OK;
        }
        if (strcmp(name, "..") == 0) {
            result = Enter(walk, name);
            if (last) {
                // A path that ends in ".." names the folder reached.
                strcpy(rest, ".");
            }
        } else if (fstatat(walk->folder, name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            result = MgErrorFromErrno(errno);
        } else if (S_ISLNK(info.st_mode) && !(last && walk->kind == MG_TRUST_LOCK)) {
            result = Follow(walk, name, info, rest);
        } else if (!last) {
            result = S_ISDIR(info.st_mode) ? Enter(walk, name) : SUPRV_ERROR_BAD_PATH;
        } else {
            walk->entryInfo = info;
            strcpy(walk->name, name);
            Append(walk, name);
            return Judge(walk);
        }
        if (result != SUPRV_OK) {
            return result;
        }
    }
}

static const KnownFolder* FindKnown(const char* path, size_t length)
{
    for (uint32_t i = 0; i < g_knownCount; ++i) {
        if (strncmp(g_known[i].path, path, length) == 0 && g_known[i].path[length] == 0) {
            return &g_known[i];
        }
    }
    return nullptr;
}

// Walks to the path's last entry, from the folder that holds it when that is
// known, else from "/"; with `folderOnly`, to the folder that holds it.
static uint32_t WalkTo(Walk* walk, const char* path, MgTrust kind, bool folderOnly)
{
    walk->kind = kind;
    walk->folder = -1;
    walk->borrowed = false;
    walk->links = 0;
    walk->name[0] = walk->shown[0] = 0;
    char rest[MG_PATH_SIZE];
    const char* slash = strrchr(path, '/');
    if (path[0] != '/' || strlen(path) >= sizeof(rest) - 2) {
        return SUPRV_ERROR_BAD_PATH;
    }
    const char* base = slash + 1;
    const size_t folderLength = static_cast<size_t>(slash - path);
    if (*base == 0 || strcmp(base, ".") == 0 || strcmp(base, "..") == 0) {
        strcpy(rest, path);
        uint32_t result = StartAtTop(walk);
        return result == SUPRV_OK ? Steps(walk, rest, folderOnly) : result;
    }
    const KnownFolder* known = FindKnown(path, folderLength);
    if (known != nullptr) {
        SetFolder(walk, known->folder, true);
        walk->folderInfo = known->info;
        strcpy(walk->shown, known->shown);
    } else {
        // The folder first, as a folder, then kept for the rest of the run.
        memcpy(rest, path, folderLength);
        strcpy(rest + folderLength, "/.");
        walk->kind = MG_TRUST_FOLDER;
        uint32_t result = StartAtTop(walk);
        result = result == SUPRV_OK ? Steps(walk, rest, true) : result;
        if (result != SUPRV_OK) {
            return result;
        }
        walk->kind = kind;
        if (g_knownCount < kMostKnownFolders && !walk->borrowed) {
            KnownFolder* keep = &g_known[g_knownCount++];
            memcpy(keep->path, path, folderLength);
            keep->path[folderLength] = 0;
            keep->folder = walk->folder;
            keep->info = walk->folderInfo;
            strcpy(keep->shown, walk->shown);
            walk->borrowed = true;
        }
    }
    strcpy(rest, base);
    return Steps(walk, rest, folderOnly);
}

static void EndWalk(Walk* walk)
{
    SetFolder(walk, -1, false);
}

int MgOpenTrusted(const char* path, MgTrust kind, int flags, uint32_t* error)
{
    // Never waiting on a pipe, and never taking a terminal as this process's own.
    flags |= O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    if (!g_trusting) {
        int handle = open(path, flags);
        *error = handle >= 0 ? SUPRV_OK : MgErrorFromErrno(errno);
        return handle;
    }
    Walk walk;
    *error = WalkTo(&walk, path, kind, false);
    int handle = -1;
    if (*error == SUPRV_OK) {
        handle = openat(walk.folder, walk.name, flags | O_NOFOLLOW);
        struct stat info;
        if (handle < 0) {
            *error = MgErrorFromErrno(errno);
        } else if (fstat(handle, &info) != 0 || info.st_dev != walk.entryInfo.st_dev ||
                   info.st_ino != walk.entryInfo.st_ino) {
            // Changed between the look and the opening: someone else's doing.
            close(handle);
            handle = -1;
            *error = SUPRV_ERROR_ACCESS_DENIED;
        }
    }
    EndWalk(&walk);
    return handle;
}

uint32_t MgStatTrusted(const char* path, MgTrust kind, struct stat* info)
{
    if (!g_trusting) {
        return stat(path, info) == 0 ? SUPRV_OK : MgErrorFromErrno(errno);
    }
    Walk walk;
    uint32_t result = WalkTo(&walk, path, kind, false);
    if (result == SUPRV_OK) {
        *info = walk.entryInfo;
    }
    EndWalk(&walk);
    return result;
}

uint32_t MgRealPathTrusted(const char* path, MgTrust kind, char* resolved)
{
    if (!g_trusting) {
        char full[PATH_MAX];
        if (realpath(path, full) == nullptr || strlen(full) >= MG_PATH_SIZE) {
            return SUPRV_ERROR_BAD_PATH;
        }
        strcpy(resolved, full);
        return SUPRV_OK;
    }
    Walk walk;
    uint32_t result = WalkTo(&walk, path, kind, false);
    if (result == SUPRV_OK) {
        strcpy(resolved, walk.shown[0] != 0 ? walk.shown : "/");
    }
    EndWalk(&walk);
    return result;
}

uint32_t MgOpenFolderOf(const char* path, int* folder, char* name)
{
    if (!g_trusting) {
        *folder = AT_FDCWD;
        snprintf(name, MG_PATH_SIZE, "%s", path);
        return SUPRV_OK;
    }
    Walk walk;
    uint32_t result = WalkTo(&walk, path, MG_TRUST_FOLDER, true);
    *folder = result == SUPRV_OK ? walk.folder : -1;
    if (result == SUPRV_OK) {
        // The caller's now, or still the known folder's.
        walk.folder = -1;
        strcpy(name, walk.name);
    }
    EndWalk(&walk);
    return result;
}

void MgCloseFolder(int folder)
{
    for (uint32_t i = 0; i < g_knownCount; ++i) {
        if (g_known[i].folder == folder) {
            return;
        }
    }
    if (folder >= 0) {
        close(folder);
    }
}

DIR* MgOpenFolder(const char* path, uint32_t* error)
{
    *error = SUPRV_OK;
    if (!g_trusting) {
        DIR* folder = opendir(path);
        *error = folder != nullptr ? SUPRV_OK : MgErrorFromErrno(errno);
        return folder;
    }
    int handle = MgOpenTrusted(path, MG_TRUST_FOLDER, O_RDONLY | O_DIRECTORY, error);
    DIR* folder = handle >= 0 ? fdopendir(handle) : nullptr;
    if (folder == nullptr && handle >= 0) {
        *error = MgErrorFromErrno(errno);
        close(handle);
    }
    return folder;
}
