// The simulated supervisor's state file on POSIX: XDG paths, flock, fsync and rename.
#include "simulator/SimFile.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

static uint32_t ErrorFromErrno(int error)
{
    switch (error) {
    case ENOENT: return SUPRV_ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ENAMETOOLONG: return SUPRV_ERROR_BAD_PATH;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return SUPRV_ERROR_ACCESS_DENIED;
    case ENOMEM: return SUPRV_ERROR_NOT_ENOUGH_MEMORY;
    case ENOSPC:
    case EDQUOT: return SUPRV_ERROR_DISK_FULL;
    default: return SUPRV_ERROR_GEN_FAILURE;
    }
}

uint32_t SimStatePath(SimBuffer* path)
{
    path->size = 0;
    const char* named = getenv("SUPRV_STATE");
    const char* stateHome = getenv("XDG_STATE_HOME");
    const char* home = getenv("HOME");
    if (named != nullptr && named[0] != 0) {
        SimBufferAppendText(path, named);
    } else if (stateHome != nullptr && stateHome[0] == '/') {
        SimBufferAppendText(path, stateHome);
        SimBufferAppendText(path, "/ringwarden/suprv.state");
    } else if (home != nullptr && home[0] == '/') {
        SimBufferAppendText(path, home);
        SimBufferAppendText(path, "/.local/state/ringwarden/suprv.state");
    } else {
        return SUPRV_ERROR_BAD_PATH;
    }
    SimBufferAppend(path, "", 1);
    return path->failed ? SUPRV_ERROR_NOT_ENOUGH_MEMORY : SUPRV_OK;
}

uint32_t SimOpenForReading(const char* path, SimFile* file)
{
    file->handle = open(path, O_RDONLY | O_CLOEXEC);
    return file->handle < 0 ? ErrorFromErrno(errno) : SUPRV_OK;
}

uint32_t SimMakeParents(const char* path)
{
    size_t length = strlen(path);
    char* folder = static_cast<char*>(malloc(length + 1));
    if (folder == nullptr) {
        return SUPRV_ERROR_NOT_ENOUGH_MEMORY;
    }
    memcpy(folder, path, length + 1);
    uint32_t result = SUPRV_OK;
    for (char* p = folder + 1; *p != 0 && result == SUPRV_OK; ++p) {
        if (*p != '/') {
            continue;
        }
        *p = 0;
        if (mkdir(folder, 0700) != 0 && errno != EEXIST) {
            result = ErrorFromErrno(errno);
        }
        *p = '/';
    }
    free(folder);
    return result;
}

uint32_t SimLockExclusive(const char* path, SimFile* lock)
{
    lock->handle = -1;
    SimBuffer lockPath = {};
    uint32_t result = SimPathBeside(path, ".lock", &lockPath);
    int fd = -1;
    if (result == SUPRV_OK) {
        fd = open(lockPath.data, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) {
            result = ErrorFromErrno(errno);
        }
    }
    SimBufferFree(&lockPath);
    if (result != SUPRV_OK) {
        return result;
    }
    while (flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            result = ErrorFromErrno(errno);
            close(fd);
            return result;
        }
    }
    lock->handle = fd;
    return SUPRV_OK;
}

void SimUnlock(SimFile* lock)
{
    SimClose(lock);
}

uint32_t SimOpenExisting(const char* path, SimFile* file, uint64_t* size)
{
    file->handle = -1;
    int fd = open(path, O_RDWR | O_APPEND | O_CLOEXEC);
    if (fd < 0) {
        return ErrorFromErrno(errno);
    }
    struct stat info;
    if (fstat(fd, &info) != 0) {
        uint32_t result = ErrorFromErrno(errno);
        close(fd);
        return result;
    }
    file->handle = fd;
    *size = static_cast<uint64_t>(info.st_size);
    return SUPRV_OK;
}

uint32_t SimReadAt(SimFile* file, uint64_t offset, char* buffer, size_t count, size_t* got)
{
    size_t total = 0;
    while (total < count) {
        ssize_t n = pread(static_cast<int>(file->handle), buffer + total, count - total,
                          static_cast<off_t>(offset + total));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return ErrorFromErrno(errno);
        }
        if (n == 0) {
            break;
        }
        total += static_cast<size_t>(n);
    }
    *got = total;
    return SUPRV_OK;
}

uint32_t SimTruncate(SimFile* file, uint64_t size)
{
    if (ftruncate(static_cast<int>(file->handle), static_cast<off_t>(size)) != 0) {
        return ErrorFromErrno(errno);
    }
    return SUPRV_OK;
}

static uint32_t WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return ErrorFromErrno(errno);
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return SUPRV_OK;
}

uint32_t SimAppendDurably(SimFile* file, const char* data, size_t size)
{
    int fd = static_cast<int>(file->handle);
    uint32_t result = WriteAll(fd, data, size);
    if (result == SUPRV_OK && fdatasync(fd) != 0) {
        result = ErrorFromErrno(errno);
    }
    return result;
}

void SimClose(SimFile* file)
{
    if (file->handle >= 0) {
        close(static_cast<int>(file->handle));
    }
    file->handle = -1;
}

// A rename is durable only once the folder that holds the name is flushed too.
static uint32_t SyncFolderOf(const char* path)
{
    const char* slash = strrchr(path, '/');
    SimBuffer folder = {};
    if (slash == nullptr) {
        SimBufferAppend(&folder, ".", 2);
    } else {
        SimBufferAppend(&folder, path, slash == path ? 1 : static_cast<size_t>(slash - path));
        SimBufferAppend(&folder, "", 1);
    }
    uint32_t result = folder.failed ? SUPRV_ERROR_NOT_ENOUGH_MEMORY : SUPRV_OK;
    int fd = result == SUPRV_OK ? open(folder.data, O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    if (fd >= 0) {
        if (fsync(fd) != 0 && errno != EINVAL) {
            result = ErrorFromErrno(errno);
        }
        close(fd);
    }
    SimBufferFree(&folder);
    return result;
}

uint32_t SimReplaceDurably(const char* path, const char* data, size_t size)
{
    SimBuffer temporary = {};
    uint32_t result = SimTemporaryBeside(path, static_cast<uint32_t>(getpid()), &temporary);
    if (result != SUPRV_OK) {
        SimBufferFree(&temporary);
        return result;
    }
    int fd = open(temporary.data, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        result = ErrorFromErrno(errno);
        SimBufferFree(&temporary);
        return result;
    }
    result = WriteAll(fd, data, size);
    if (result == SUPRV_OK && fsync(fd) != 0) {
        result = ErrorFromErrno(errno);
    }
    if (close(fd) != 0 && result == SUPRV_OK) {
        result = ErrorFromErrno(errno);
    }
    if (result == SUPRV_OK && rename(temporary.data, path) != 0) {
        result = ErrorFromErrno(errno);
    }
    if (result != SUPRV_OK) {
        unlink(temporary.data);
    } else {
        result = SyncFolderOf(path);
    }
    SimBufferFree(&temporary);
    return result;
}

uint64_t SimUniqueSeed()
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    uint64_t value = static_cast<uint64_t>(now.tv_sec) * 1000000007ull + static_cast<uint64_t>(now.tv_nsec);
    return value ^ static_cast<uint64_t>(getpid()) << 40;
}
