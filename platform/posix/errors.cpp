// The thread's last error code and the system's descriptions of error codes.
#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "platform/posix/private.h"

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;

struct ErrorText {
    DWORD code;
    const char* text;
};

// Every code the stand-in sets, and every code either supervisor library
// returns, has a description here. Like the system's own, each ends with CR
// LF; those that only the libraries return read as Windows words them.
const ErrorText kErrorTexts[] = {
    {ERROR_SUCCESS, "The operation succeeded.\r\n"},
    {ERROR_INVALID_FUNCTION, "The requested function is not valid.\r\n"},
    {ERROR_FILE_NOT_FOUND, "The file was not found.\r\n"},
    {ERROR_PATH_NOT_FOUND, "The path was not found.\r\n"},
    {ERROR_TOO_MANY_OPEN_FILES, "Too many files are open.\r\n"},
    {ERROR_ACCESS_DENIED, "Access is not permitted.\r\n"},
    {ERROR_INVALID_HANDLE, "The handle is not valid.\r\n"},
    {ERROR_NOT_ENOUGH_MEMORY, "There is not enough memory for this command.\r\n"},
    {ERROR_INVALID_DATA, "The data are not valid.\r\n"},
    {ERROR_OUTOFMEMORY, "There is not enough memory to complete the operation.\r\n"},
    {ERROR_NOT_READY, "The device is not ready.\r\n"},
    {ERROR_WRITE_FAULT, "The device cannot be written to.\r\n"},
    {ERROR_READ_FAULT, "The device cannot be read from.\r\n"},
    {ERROR_GEN_FAILURE, "A device attached to the system does not work.\r\n"},
    {ERROR_HANDLE_EOF, "The end of the file was reached.\r\n"},
    {ERROR_NOT_SUPPORTED, "The request is not supported.\r\n"},
    {ERROR_DEV_NOT_EXIST, "The specified network resource or device is no longer available.\r\n"},
    {ERROR_INVALID_PARAMETER, "A parameter is not valid.\r\n"},
    {ERROR_BROKEN_PIPE, "The pipe was closed at its other end.\r\n"},
    {ERROR_DISK_FULL, "There is not enough space on the disk.\r\n"},
    {ERROR_INSUFFICIENT_BUFFER, "The buffer is too small for the data.\r\n"},
    {ERROR_MOD_NOT_FOUND, "The module was not found.\r\n"},
    {ERROR_PROC_NOT_FOUND, "The procedure was not found in the module.\r\n"},
    {ERROR_BAD_PATHNAME, "The specified path is invalid.\r\n"},
    {ERROR_BUSY, "The requested resource is in use.\r\n"},
    {ERROR_BAD_EXE_FORMAT, "%1 is not a valid program or library.\r\n"},
    {ERROR_NO_DATA, "The pipe is being closed.\r\n"},
    {ERROR_MORE_DATA, "More data are available.\r\n"},
    {ERROR_PARTIAL_COPY, "Only part of the memory could be read or written.\r\n"},
    {ERROR_MR_MID_NOT_FOUND, "There is no description for this message number.\r\n"},
    {ERROR_NOACCESS, "The memory location cannot be accessed.\r\n"},
    // The one a Windows 98 user sees for a missing library, in the system's words.
    {ERROR_DLL_NOT_FOUND, "One of the library files needed to run this application cannot be found.\r\n"},
    {ERROR_INVALID_WINDOW_HANDLE, "The window handle is not valid.\r\n"},
    {ERROR_RESOURCE_NAME_NOT_FOUND, "The resource was not found in the module.\r\n"},
};

const char* FindErrorText(DWORD code) {
    for (const ErrorText& entry : kErrorTexts) {
        if (entry.code == code) {
            return entry.text;
        }
    }
    return nullptr;
}

DWORD FailWith(DWORD code) {
    t_lastError = code;
    return 0;
}

}  // namespace

DWORD SetLastErrorFromErrno(int error) {
    DWORD code;
    switch (error) {
    case 0: code = ERROR_SUCCESS; break;
    case ENOENT: code = ERROR_FILE_NOT_FOUND; break;
    case ENOTDIR: code = ERROR_PATH_NOT_FOUND; break;
    case EMFILE:
    case ENFILE: code = ERROR_TOO_MANY_OPEN_FILES; break;
    case EACCES:
    case EPERM:
    case EROFS: code = ERROR_ACCESS_DENIED; break;
    case EBADF: code = ERROR_INVALID_HANDLE; break;
    case ENOMEM: code = ERROR_NOT_ENOUGH_MEMORY; break;
    case EINVAL:
    case ERANGE:
    case ENAMETOOLONG: code = ERROR_INVALID_PARAMETER; break;
    case EPIPE: code = ERROR_BROKEN_PIPE; break;
    case EFAULT: code = ERROR_NOACCESS; break;
    case ENOSYS:
    case ENOTSUP:
    case ENOTTY: code = ERROR_NOT_SUPPORTED; break;
    case ENOEXEC: code = ERROR_BAD_EXE_FORMAT; break;
    case EAGAIN: code = ERROR_NO_DATA; break;
    case ENOSPC: code = ERROR_WRITE_FAULT; break;
    case ESRCH: code = ERROR_PARTIAL_COPY; break;
    default: code = ERROR_GEN_FAILURE; break;
    }
    t_lastError = code;
    return code;
}

DWORD WINAPI GetLastError(void) {
    return t_lastError;
}

void WINAPI SetLastError(DWORD code) {
    t_lastError = code;
}

namespace {

// The text of an insert: the argument it names, taken as a string, from an
// array of arguments or from the list.
const char* InsertArgument(unsigned number, bool isArray, va_list* arguments) {
    if (isArray) {
        return reinterpret_cast<const char*>(reinterpret_cast<DWORD_PTR*>(arguments)[number - 1]);
    }
    va_list list;
    va_copy(list, *arguments);
    const char* argument = nullptr;
    for (unsigned i = 0; i < number; ++i) {
        argument = va_arg(list, const char*);
    }
    va_end(list);
    return argument;
}

void Put(char* out, size_t& length, const char* text, size_t count) {
    if (out != nullptr) {
        memcpy(out + length, text, count);
    }
    length += count;
}

// Replaces the inserts %1 to %99 with their arguments and %% with one %;
// every other character stays. Writes to out when it is given and returns the
// length either way. An insert without arguments to take it from fails with
// ERROR_INVALID_PARAMETER, as on Windows, instead of reading arguments that
// were never passed: the result is then SIZE_MAX.
size_t ExpandInserts(const char* text, bool isArray, va_list* arguments, char* out) {
    size_t length = 0;
    for (const char* p = text; *p != 0; ++p) {
        const bool insert = p[0] == '%' && p[1] >= '1' && p[1] <= '9';
        if (!insert) {
            Put(out, length, p, 1);
            p += p[0] == '%' && p[1] == '%';
            continue;
        }
        unsigned number = static_cast<unsigned>(*++p - '0');
        if (p[1] >= '0' && p[1] <= '9') {
            number = number * 10 + static_cast<unsigned>(*++p - '0');
        }
        if (arguments == nullptr) {
            return SIZE_MAX;
        }
        const char* argument = InsertArgument(number, isArray, arguments);
        if (argument == nullptr) {
            argument = "(null)";
        }
        Put(out, length, argument, strlen(argument));
    }
    if (out != nullptr) {
        out[length] = 0;
    }
    return length;
}

}  // namespace

// Every language gets the same English text. Inserts are expanded from the
// arguments, or passed on as they stand with FORMAT_MESSAGE_IGNORE_INSERTS.
DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId,
                            LPSTR buffer, DWORD size, va_list* arguments) {
    (void)source;
    (void)languageId;
    const bool allocate = (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0;
    if (allocate && buffer != nullptr) {
        *reinterpret_cast<LPSTR*>(buffer) = nullptr;
    }
    const DWORD otherSources = FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_FROM_HMODULE;
    if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || (flags & otherSources) != 0 || buffer == nullptr) {
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    const char* text = FindErrorText(messageId);
    if (text == nullptr) {
        return FailWith(ERROR_MR_MID_NOT_FOUND);
    }
    const bool verbatim = (flags & FORMAT_MESSAGE_IGNORE_INSERTS) != 0;
    const bool isArray = (flags & FORMAT_MESSAGE_ARGUMENT_ARRAY) != 0;
    const size_t length = verbatim ? strlen(text) : ExpandInserts(text, isArray, arguments, nullptr);
    if (length == SIZE_MAX) {
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    char* out = buffer;
    if (allocate) {
        out = static_cast<char*>(malloc(length + 1 > size ? length + 1 : size));
        if (out == nullptr) {
            return FailWith(ERROR_NOT_ENOUGH_MEMORY);
        }
    } else if (size <= length) {
        return FailWith(ERROR_INSUFFICIENT_BUFFER);
    }
    if (verbatim) {
        memcpy(out, text, length + 1);
    } else {
        ExpandInserts(text, isArray, arguments, out);
    }
    if (allocate) {
        *reinterpret_cast<LPSTR*>(buffer) = out;
    }
    return static_cast<DWORD>(length);
}

// Blocks handed out with FORMAT_MESSAGE_ALLOCATE_BUFFER come from malloc.
HLOCAL WINAPI LocalFree(HLOCAL memory) {
    free(memory);
    return nullptr;
}
