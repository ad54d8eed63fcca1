// Paths under the root, text files read line by line in pieces, and the error numbers of failed system calls.
#include "mgetty/MgFiles.h"

#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static char g_root[MG_PATH_SIZE];

uint32_t MgErrorFromErrno(int error)
{
    switch (error) {
    case ENOENT: return SUPRV_ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP: return SUPRV_ERROR_BAD_PATH;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return SUPRV_ERROR_ACCESS_DENIED;
    case ENOMEM: return SUPRV_ERROR_NOT_ENOUGH_MEMORY;
    case ENOSPC:
    case EDQUOT: return SUPRV_ERROR_DISK_FULL;
    case EIO: return SUPRV_ERROR_READ_FAULT;
    default: return SUPRV_ERROR_GEN_FAILURE;
    }
}

uint32_t MgSetRoot(const char* root)
{
    g_root[0] = 0;
    MgTrustBegin();
    if (root == nullptr) {
        return SUPRV_OK;
    }
    size_t length = strlen(root);
    while (length > 0 && root[length - 1] == '/') {
        --length;
    }
    // Room for the root and a path of a few hundred bytes under it.
    if (length >= MG_PATH_SIZE / 2) {
        return SUPRV_ERROR_BAD_PATH;
    }
    memcpy(g_root, root, length);
    g_root[length] = 0;
    if (length == 0 || !MgTrusting()) {
        return SUPRV_OK;
    }
    // Run by root, the library writes and signals by what it reads under the
    // root, so the root is walked to like every path, from "/".
    if (root[0] != '/') {
        char folder[MG_PATH_SIZE / 2];
        if (getcwd(folder, sizeof(folder)) == nullptr ||
            snprintf(g_root, sizeof(g_root), "%s/%.*s", folder, static_cast<int>(length), root) >= static_cast<int>(MG_PATH_SIZE / 2)) {
            g_root[0] = 0;
            return SUPRV_ERROR_BAD_PATH;
        }
    }
    struct stat info;
    return MgStatTrusted(g_root, MG_TRUST_FOLDER, &info);
}

bool MgPath(char* out, const char* format, ...)
{
    size_t rootLength = strlen(g_root);
    memcpy(out, g_root, rootLength);
    va_list arguments;
    va_start(arguments, format);
    int written = vsnprintf(out + rootLength, MG_PATH_SIZE - rootLength, format, arguments);
    va_end(arguments);
    return written >= 0 && static_cast<size_t>(written) < MG_PATH_SIZE - rootLength;
}

bool MgOpenText(MgTextFile* file, const char* path, MgTrust kind)
{
    file->start = file->end = file->length = 0;
    file->atEnd = false;
    // Never blocking, so that a pipe in a file's place cannot hold the run.
    file->handle = MgOpenTrusted(path, kind, O_RDONLY, &file->error);
    if (file->handle < 0) {
        return false;
    }
    struct stat info;
    if (fstat(file->handle, &info) != 0) {
        file->error = MgErrorFromErrno(errno);
    } else if (!S_ISREG(info.st_mode)) {
        file->error = S_ISDIR(info.st_mode) ? SUPRV_ERROR_ACCESS_DENIED : SUPRV_ERROR_INVALID_DATA;
    }
    if (file->error != SUPRV_OK) {
        MgCloseText(file);
        return false;
    }
    return true;
}

void MgCloseText(MgTextFile* file)
{
    if (file->handle >= 0) {
        close(file->handle);
    }
    file->handle = -1;
}

// The next byte of the file, or -1 at its end or on a failed read.
static int NextByte(MgTextFile* file)
{
    if (file->start == file->end) {
        if (file->atEnd) {
            return -1;
        }
        ssize_t count;
        do {
            count = read(file->handle, file->piece, sizeof(file->piece));
        } while (count < 0 && errno == EINTR);
        if (count <= 0) {
            file->atEnd = true;
            if (count < 0) {
                file->error = MgErrorFromErrno(errno);
            }
            return -1;
        }
        file->start = 0;
        file->end = static_cast<size_t>(count);
    }
    return static_cast<unsigned char>(file->piece[file->start++]);
}

bool MgNextLine(MgTextFile* file)
{
    file->length = 0;
    bool any = false;
    for (;;) {
        int byte = NextByte(file);
        if (byte < 0) {
            break;
        }
        any = true;
        if (byte != '\n') {
            if (file->length + 1 < MG_TEXT_LINE_SIZE) {
                file->line[file->length++] = static_cast<char>(byte);
            }
            continue;
        }
        // A backslash before the break joins the next line to this one.
        if (file->length > 0 && file->line[file->length - 1] == '\\') {
            --file->length;
            continue;
        }
        break;
    }
    file->line[file->length] = 0;
    return any && file->error == SUPRV_OK;
}

long MgReadSmallAt(int folder, const char* path, char* out, size_t size)
{
    int handle = openat(folder, path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
    if (handle < 0) {
        return -1;
    }
    ssize_t count;
    do {
        count = read(handle, out, size - 1);
    } while (count < 0 && errno == EINTR);
    int error = errno;
    close(handle);
    if (count < 0) {
        errno = error;
        return -1;
    }
    out[count] = 0;
    return count;
}

static bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' || c == '\n';
}

const char* MgNextWord(const char** cursor, size_t* length)
{
    const char* p = *cursor;
    while (*p != 0 && IsBlank(*p)) {
        ++p;
    }
    const char* word = p;
    while (*p != 0 && !IsBlank(*p)) {
        ++p;
    }
    *cursor = p;
    *length = static_cast<size_t>(p - word);
    return *length > 0 ? word : nullptr;
}

bool MgWordIs(const char* word, size_t length, const char* text)
{
    return word != nullptr && strlen(text) == length && memcmp(word, text, length) == 0;
}
