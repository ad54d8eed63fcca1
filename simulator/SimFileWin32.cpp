// The simulated supervisor's state file on Windows: the same file operations with calls that Windows 98 has.
#include "simulator/SimFile.h"

#include <windows.h>

#include <string.h>

// A replace that meets a reader holding the file open waits this long at most.
static const int kReplaceAttempts = 200;
static const DWORD kRetryDelay = 10;

static uint32_t ErrorFromLastError(void)
{
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return SUPRV_ERROR_FILE_NOT_FOUND;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE: return SUPRV_ERROR_BAD_PATH;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT: return SUPRV_ERROR_ACCESS_DENIED;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return SUPRV_ERROR_NOT_ENOUGH_MEMORY;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return SUPRV_ERROR_DISK_FULL;
    default: return SUPRV_ERROR_GEN_FAILURE;
    }
}

// An environment variable's value into `out` (terminator not included);
// false when it is unset or empty.
static bool AppendVariable(const char* name, SimBuffer* out)
{
    char value[MAX_PATH];
    DWORD length = GetEnvironmentVariableA(name, value, sizeof(value));
    if (length == 0 || length >= sizeof(value)) {
        return false;
    }
    SimBufferAppend(out, value, length);
    return true;
}

uint32_t SimStatePath(SimBuffer* path)
{
    path->size = 0;
    if (!AppendVariable("SUPRV_STATE", path)) {
        // Windows 98 knows no per-user application data folder of its own.
        if (!AppendVariable("APPDATA", path)) {
            char temporary[MAX_PATH];
            DWORD length = GetTempPathA(sizeof(temporary), temporary);
            if (length == 0 || length >= sizeof(temporary)) {
                return SUPRV_ERROR_BAD_PATH;
            }
            SimBufferAppend(path, temporary, length);
        }
        if (path->size > 0 && path->data[path->size - 1] != '\\') {
            SimBufferAppendText(path, "\\");
        }
        SimBufferAppendText(path, "Ringwarden\\suprv.state");
    }
    SimBufferAppend(path, "", 1);
    return path->failed ? SUPRV_ERROR_NOT_ENOUGH_MEMORY : SUPRV_OK;
}

// Opens with the widest sharing the system knows: Windows 98 rejects
// FILE_SHARE_DELETE, which lets another process replace the file meanwhile.
static HANDLE OpenShared(const char* path, DWORD access, DWORD disposition)
{
    HANDLE file = CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_INVALID_PARAMETER) {
        file = CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    return file;
}

uint32_t SimOpenForReading(const char* path, SimFile* file)
{
    HANDLE handle = OpenShared(path, GENERIC_READ, OPEN_EXISTING);
    file->handle = reinterpret_cast<intptr_t>(handle);
    return handle == INVALID_HANDLE_VALUE ? ErrorFromLastError() : SUPRV_OK;
}

static bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

// Failures are left to the open that follows, which reports them: a drive or
// a share name cannot be created and need not be.
uint32_t SimMakeParents(const char* path)
{
    SimBuffer folder = {};
    SimBufferAppend(&folder, path, strlen(path) + 1);
    if (folder.failed) {
        SimBufferFree(&folder);
        return SUPRV_ERROR_NOT_ENOUGH_MEMORY;
    }
    for (char* p = folder.data + 1; *p != 0; ++p) {
        if (!IsSeparator(*p) || p[-1] == ':' || IsSeparator(p[-1])) {
            continue;
        }
        char separator = *p;
        *p = 0;
        CreateDirectoryA(folder.data, nullptr);
        *p = separator;
    }
    SimBufferFree(&folder);
    return SUPRV_OK;
}

uint32_t SimLockExclusive(const char* path, SimFile* lock)
{
    lock->handle = reinterpret_cast<intptr_t>(INVALID_HANDLE_VALUE);
    SimBuffer lockPath = {};
    uint32_t result = SimPathBeside(path, ".lock", &lockPath);
    HANDLE file = INVALID_HANDLE_VALUE;
    if (result == SUPRV_OK) {
        file = OpenShared(lockPath.data, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
        if (file == INVALID_HANDLE_VALUE) {
            result = ErrorFromLastError();
        }
    }
    SimBufferFree(&lockPath);
    if (result != SUPRV_OK) {
        return result;
    }
    // Windows 98 has no waiting lock (LockFileEx): poll for the first byte.
    while (!LockFile(file, 0, 0, 1, 0)) {
        if (GetLastError() != ERROR_LOCK_VIOLATION) {
            result = ErrorFromLastError();
            CloseHandle(file);
            return result;
        }
        Sleep(kRetryDelay);
    }
    lock->handle = reinterpret_cast<intptr_t>(file);
    return SUPRV_OK;
}

void SimUnlock(SimFile* lock)
{
    HANDLE file = reinterpret_cast<HANDLE>(lock->handle);
    if (file != INVALID_HANDLE_VALUE) {
        UnlockFile(file, 0, 0, 1, 0);
    }
    SimClose(lock);
}

uint32_t SimOpenExisting(const char* path, SimFile* file, uint64_t* size)
{
    file->handle = reinterpret_cast<intptr_t>(INVALID_HANDLE_VALUE);
    HANDLE handle = OpenShared(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE) {
        return ErrorFromLastError();
    }
    DWORD high = 0;
    DWORD low = GetFileSize(handle, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
        uint32_t result = ErrorFromLastError();
        CloseHandle(handle);
        return result;
    }
    file->handle = reinterpret_cast<intptr_t>(handle);
    *size = (static_cast<uint64_t>(high) << 32) | low;
    return SUPRV_OK;
}

static bool Seek(HANDLE file, uint64_t offset, DWORD method)
{
    LONG high = static_cast<LONG>(offset >> 32);
    DWORD low = SetFilePointer(file, static_cast<LONG>(offset & 0xFFFFFFFFu), &high, method);
    return low != INVALID_SET_FILE_POINTER || GetLastError() == NO_ERROR;
}

uint32_t SimReadAt(SimFile* file, uint64_t offset, char* buffer, size_t count, size_t* got)
{
    HANDLE handle = reinterpret_cast<HANDLE>(file->handle);
    *got = 0;
    if (!Seek(handle, offset, FILE_BEGIN)) {
        return ErrorFromLastError();
    }
    size_t total = 0;
    while (total < count) {
        DWORD read = 0;
        if (!ReadFile(handle, buffer + total, static_cast<DWORD>(count - total), &read, nullptr)) {
            return ErrorFromLastError();
        }
        if (read == 0) {
            break;
        }
        total += read;
    }
    *got = total;
    return SUPRV_OK;
}

uint32_t SimTruncate(SimFile* file, uint64_t size)
{
    HANDLE handle = reinterpret_cast<HANDLE>(file->handle);
    if (!Seek(handle, size, FILE_BEGIN) || !SetEndOfFile(handle)) {
        return ErrorFromLastError();
    }
    return SUPRV_OK;
}

static uint32_t WriteAll(HANDLE file, const char* data, size_t size)
{
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr)) {
            return ErrorFromLastError();
        }
        if (written == 0) {
            return SUPRV_ERROR_WRITE_FAULT;
        }
        data += written;
        size -= written;
    }
    return SUPRV_OK;
}

uint32_t SimAppendDurably(SimFile* file, const char* data, size_t size)
{
    HANDLE handle = reinterpret_cast<HANDLE>(file->handle);
    if (!Seek(handle, 0, FILE_END)) {
        return ErrorFromLastError();
    }
    uint32_t result = WriteAll(handle, data, size);
    if (result == SUPRV_OK && !FlushFileBuffers(handle)) {
        result = ErrorFromLastError();
    }
    return result;
}

void SimClose(SimFile* file)
{
    HANDLE handle = reinterpret_cast<HANDLE>(file->handle);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
    }
    file->handle = reinterpret_cast<intptr_t>(INVALID_HANDLE_VALUE);
}

// Puts the temporary file in the place of the state file. Windows 98 lacks
// MoveFileExA; there the old file is deleted first, which the exclusive lock
// keeps from other writers, though not from a reader in between.
static bool MoveOver(const char* temporary, const char* path)
{
    for (int attempt = 0; attempt < kReplaceAttempts; ++attempt) {
        if (MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return true;
        }
        DWORD error = GetLastError();
        if (error == ERROR_CALL_NOT_IMPLEMENTED) {
            DeleteFileA(path);
            return MoveFileA(temporary, path) != 0;
        }
        if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) {
            return false;
        }
        Sleep(kRetryDelay);  // A reader still has the old file open.
    }
    return false;
}

uint32_t SimReplaceDurably(const char* path, const char* data, size_t size)
{
    SimBuffer temporary = {};
    uint32_t result = SimTemporaryBeside(path, static_cast<uint32_t>(GetCurrentProcessId()), &temporary);
    if (result != SUPRV_OK) {
        SimBufferFree(&temporary);
        return result;
    }
    HANDLE file = CreateFileA(temporary.data, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        result = ErrorFromLastError();
        SimBufferFree(&temporary);
        return result;
    }
    result = WriteAll(file, data, size);
    if (result == SUPRV_OK && !FlushFileBuffers(file)) {
        result = ErrorFromLastError();
    }
    if (!CloseHandle(file) && result == SUPRV_OK) {
        result = ErrorFromLastError();
    }
    if (result == SUPRV_OK && !MoveOver(temporary.data, path)) {
        result = ErrorFromLastError();
    }
    if (result != SUPRV_OK) {
        DeleteFileA(temporary.data);
    }
    SimBufferFree(&temporary);
    return result;
}

uint64_t SimUniqueSeed()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    uint64_t value = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    value ^= static_cast<uint64_t>(GetCurrentProcessId()) << 40;
    return value ^ static_cast<uint64_t>(GetTickCount()) << 8;
}
