// Opening a path as root only through what root alone may change: walked from "/" one entry at a time.
//
// Run by root, the library signals and writes by what it reads, so a path
// counts only when every folder on the way is root's and no other user may
// write to it, except a sticky folder (/tmp, /run/lock), where only root's
// entries count. A link is followed only when root made it. Each entry is
// looked at through a handle that cannot open it (O_PATH, never through a
// link), and only then opened, from the folder already checked, so nothing
// is opened that was not checked, and nothing checked can be swapped for
// something else on the way. Run by any other user, paths are opened as
// they are: the system's own permissions are the whole check.
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

struct Walk {
    MgTrust kind;
    int folder;  // The folder reached, checked; a handle that only finds.
    struct stat folderInfo;
    int entry;  // The last entry, checked; -1 until it is reached.
    struct stat entryInfo;
    char name[NAME_MAX + 1];  // The last entry's name in `folder`.
    char shown[MG_PATH_SIZE];  // Where the walk is, for what it tells.
    int links;
};

bool g_trusting;
uint64_t g_told[kMostRefusalsTold];
uint32_t g_toldCount;

}  // namespace

void MgTrustBegin(void)
{
    g_trusting = geteuid() == 0;
    g_toldCount = 0;
}

bool MgTrusting(void)
{
    return g_trusting;
}

bool MgRefused(uint32_t error)
{
    return g_trusting && error == MG_ERROR_ACCESS_DENIED;
}

// Says once a run, on standard error, which path was refused and why.
static void Tell(const char* what, const char* path)
{
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
    dprintf(STDERR_FILENO, "librasapi32: bad ownership or modes for %s %s\n", what, path[0] != 0 ? path : "/");
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
    return MG_ERROR_ACCESS_DENIED;
}

static uint32_t StartAtTop(Walk* walk)
{
    if (walk->folder >= 0) {
        close(walk->folder);
    }
    walk->shown[0] = 0;
    walk->folder = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (walk->folder < 0 || fstat(walk->folder, &walk->folderInfo) != 0) {
        return MgErrorFromErrno(errno);
    }
    return FolderTrusted(walk->folderInfo) ? MG_OK : Refuse("directory", walk);
}

// Steps into a folder entry (or "..") already opened as `handle`.
static uint32_t Enter(Walk* walk, int handle, const struct stat& info, const char* part)
{
    close(walk->folder);
    walk->folder = handle;
    walk->folderInfo = info;
    if (strcmp(part, "..") == 0) {
        char* slash = strrchr(walk->shown, '/');
        *(slash != nullptr ? slash : walk->shown) = 0;
    } else {
        Append(walk, part);
    }
    return FolderTrusted(info) ? MG_OK : Refuse("directory", walk);
}

// Whether the last entry is what the kind wants, and may be trusted as such.
static uint32_t Judge(Walk* walk)
{
    const struct stat& info = walk->entryInfo;
    // In a folder others may write to, what they made is not root's.
    const bool others = OthersMayWrite(walk->folderInfo) && info.st_uid != 0;
    switch (walk->kind) {
    case MG_TRUST_FOLDER:
        return FolderTrusted(info) ? MG_OK : S_ISDIR(info.st_mode) ? Refuse("directory", walk) : MG_ERROR_BAD_PATH;
    case MG_TRUST_FILE:
    case MG_TRUST_RECORDS:
        if (!S_ISREG(info.st_mode)) {
            return S_ISDIR(info.st_mode) ? MG_ERROR_ACCESS_DENIED : MG_ERROR_INVALID_DATA;
        }
        if (info.st_uid != 0 || (info.st_mode & S_IWOTH) != 0 ||
            ((info.st_mode & S_IWGRP) != 0 && info.st_gid != 0 &&
             (walk->kind != MG_TRUST_RECORDS || !IsRecordsGroup(info.st_gid)))) {
            return Refuse("file", walk);
        }
        return MG_OK;
    case MG_TRUST_DEVICE:
        // Login hands the node to the caller, so its owner says nothing.
        if (!S_ISCHR(info.st_mode)) {
            return MG_ERROR_DEVICE_NOT_EXIST;
        }
        return others ? Refuse("device", walk) : MG_OK;
    case MG_TRUST_LOCK:
        // Its writer is checked against the process it names.
        return S_ISREG(info.st_mode) ? MG_OK : MG_ERROR_INVALID_DATA;
    }
    return MG_ERROR_INVALID_PARAMETER;
}

// Follows a link opened as `handle`: what it leads to, then what was left.
static uint32_t Follow(Walk* walk, int handle, const struct stat& info, const char* part, char* rest)
{
    char target[MG_PATH_SIZE];
    ssize_t length = info.st_uid == 0 ? readlinkat(handle, "", target, sizeof(target)) : -1;
    close(handle);
    if (info.st_uid != 0) {
        Append(walk, part);
        return Refuse("link", walk);
    }
    if (length <= 0 || static_cast<size_t>(length) >= sizeof(target) || ++walk->links > kMostLinks) {
        return length < 0 ? MgErrorFromErrno(errno) : MG_ERROR_BAD_PATH;
    }
    target[length] = 0;
    char joined[MG_PATH_SIZE];
    int written = snprintf(joined, sizeof(joined), "%s/%s", target, rest);
    if (written < 0 || static_cast<size_t>(written) >= sizeof(joined)) {
        return MG_ERROR_BAD_PATH;
    }
    memcpy(rest, joined, static_cast<size_t>(written) + 1);
    return target[0] == '/' ? StartAtTop(walk) : MG_OK;
}

// Walks to the path's last entry; with `folderOnly`, to the folder that
// holds it, leaving the entry itself unlooked at.
static uint32_t WalkTo(Walk* walk, const char* path, MgTrust kind, bool folderOnly)
{
    walk->kind = kind;
    walk->folder = walk->entry = -1;
    walk->links = 0;
    walk->name[0] = walk->shown[0] = 0;
    char rest[MG_PATH_SIZE];
    if (path[0] != '/' || strlen(path) >= sizeof(rest)) {
        return MG_ERROR_BAD_PATH;
    }
    strcpy(rest, path);
    uint32_t result = StartAtTop(walk);
    while (result == MG_OK) {
        // The next part of what is left, taken off its front.
        const char* part = rest + strspn(rest, "/");
        const size_t length = strcspn(part, "/");
        const bool last = part[length + strspn(part + length, "/")] == 0;
        char name[NAME_MAX + 1];
        if (length >= sizeof(name)) {
            return MG_ERROR_BAD_PATH;
        }
        memcpy(name, part, length);
        name[length] = 0;
        memmove(rest, part + length, strlen(part + length) + 1);
        if (length == 0 || strcmp(name, ".") == 0) {
            if (!last) {
                continue;
            }
            // The path ends in a folder, which its own "." names.
            strcpy(walk->name, ".");
            if (folderOnly) {
                return MG_OK;
            }
            walk->entry = dup(walk->folder);
            walk->entryInfo = walk->folderInfo;
            return walk->entry >= 0 ? Judge(walk) : MgErrorFromErrno(errno);
        }
        if (last && folderOnly && strcmp(name, "..") != 0) {
            strcpy(walk->name, name);
            return MG_OK;
        }
        int handle = openat(walk->folder, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
        struct stat info;
        if (handle < 0 || fstat(handle, &info) != 0) {
            result = MgErrorFromErrno(errno);
            if (handle >= 0) {
                close(handle);
            }
        } else if (S_ISLNK(info.st_mode) && !(last && kind == MG_TRUST_LOCK)) {
            result = Follow(walk, handle, info, name, rest);
        } else if (!last || strcmp(name, "..") == 0) {
            if (!S_ISDIR(info.st_mode)) {
                close(handle);
                return MG_ERROR_BAD_PATH;
            }
            result = Enter(walk, handle, info, name);
            if (last) {
                // A path that ends in ".." names the folder reached.
                strcpy(rest, ".");
            }
        } else {
            walk->entry = handle;
            walk->entryInfo = info;
            strcpy(walk->name, name);
            Append(walk, name);
            return Judge(walk);
        }
    }
    return result;
}

static void EndWalk(Walk* walk)
{
    if (walk->entry >= 0) {
        close(walk->entry);
    }
    if (walk->folder >= 0) {
        close(walk->folder);
    }
}

int MgOpenTrusted(const char* path, MgTrust kind, int flags, uint32_t* error)
{
    // Never waiting on a pipe, and never taking a terminal as this process's own.
    flags |= O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    if (!g_trusting) {
        int handle = open(path, flags);
        *error = handle >= 0 ? MG_OK : MgErrorFromErrno(errno);
        return handle;
    }
    Walk walk;
    *error = WalkTo(&walk, path, kind, false);
    int handle = -1;
    if (*error == MG_OK) {
        handle = openat(walk.folder, walk.name, flags | O_NOFOLLOW);
        struct stat info;
        if (handle < 0) {
            *error = MgErrorFromErrno(errno);
        } else if (fstat(handle, &info) != 0 || info.st_dev != walk.entryInfo.st_dev ||
                   info.st_ino != walk.entryInfo.st_ino) {
            // Changed between the look and the opening: someone else's doing.
            close(handle);
            handle = -1;
            *error = MG_ERROR_ACCESS_DENIED;
        }
    }
    EndWalk(&walk);
    return handle;
}

uint32_t MgStatTrusted(const char* path, MgTrust kind, struct stat* info)
{
    if (!g_trusting) {
        return stat(path, info) == 0 ? MG_OK : MgErrorFromErrno(errno);
    }
    Walk walk;
    uint32_t result = WalkTo(&walk, path, kind, false);
    if (result == MG_OK) {
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
            return MG_ERROR_BAD_PATH;
        }
        strcpy(resolved, full);
        return MG_OK;
    }
    Walk walk;
    uint32_t result = WalkTo(&walk, path, kind, false);
    if (result == MG_OK) {
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
        return MG_OK;
    }
    Walk walk;
    uint32_t result = WalkTo(&walk, path, MG_TRUST_FOLDER, true);
    *folder = result == MG_OK ? walk.folder : -1;
    if (result == MG_OK) {
        walk.folder = -1;
        strcpy(name, walk.name);
    }
    EndWalk(&walk);
    return result;
}

void MgCloseFolder(int folder)
{
    if (folder >= 0) {
        close(folder);
    }
}

DIR* MgOpenFolder(const char* path, uint32_t* error)
{
    *error = MG_OK;
    if (!g_trusting) {
        DIR* folder = opendir(path);
        *error = folder != nullptr ? MG_OK : MgErrorFromErrno(errno);
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
