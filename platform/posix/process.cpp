// The process's command line, the system's version and reads of the process's own memory.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/uio.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/posix/ProcessSeam.h"
#include "platform/posix/private.h"

namespace {

std::vector<std::string> g_arguments;
bool g_argumentsKnown = false;
std::string g_commandLine;
bool g_commandLineBuilt = false;

DWORD g_platformId = VER_PLATFORM_WIN32_WINDOWS;
DWORD g_versionError = 0;

// Windows 98 Second Edition: 4.10, build 2222, with the build number's high
// word holding the version as that family reports it.
const DWORD kMajorVersion = 4;
const DWORD kMinorVersion = 10;
const DWORD kBuildNumber = (kMajorVersion << 24) | (kMinorVersion << 16) | 2222;
const char kServicePack[] = " A";

void ReadArgumentsOfProcess() {
    g_arguments.clear();
    int file = open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
    if (file < 0) {
        return;
    }
    std::string all;
    char chunk[4096];
    for (ssize_t count; (count = read(file, chunk, sizeof(chunk))) != 0;) {
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            break;
        }
        all.append(chunk, static_cast<size_t>(count));
    }
    close(file);
    for (size_t start = 0; start < all.size();) {
        size_t end = all.find('\0', start);
        if (end == std::string::npos) {
            end = all.size();
        }
        g_arguments.push_back(all.substr(start, end - start));
        start = end + 1;
    }
}

// The quoting a Windows command line would need for the tokenizer to give
// back the argument: separators inside, or nothing at all.
bool NeedsQuotes(const std::string& argument) {
    return argument.empty() || argument.find_first_of(" \t\r\n") != std::string::npos;
}

void BuildCommandLine() {
    if (!g_argumentsKnown) {
        ReadArgumentsOfProcess();
    }
    g_commandLine.clear();
    for (size_t i = 0; i < g_arguments.size(); ++i) {
        const std::string& argument = g_arguments[i];
        if (i > 0) {
            g_commandLine += ' ';
        }
        if (i == 0 || NeedsQuotes(argument)) {
            g_commandLine += '"' + argument + '"';
        } else {
            g_commandLine += argument;
        }
    }
    g_commandLineBuilt = true;
}

}  // namespace

void SetProcessArguments(int argc, char** argv) {
    g_arguments.clear();
    for (int i = 0; i < argc && argv[i] != nullptr; ++i) {
        g_arguments.emplace_back(argv[i]);
    }
    g_argumentsKnown = true;
    g_commandLineBuilt = false;
}

void SetCommandLineForTesting(const char* text) {
    g_commandLine = text != nullptr ? text : "";
    g_commandLineBuilt = true;
}

void SetReportedPlatformForTesting(DWORD platformId) { g_platformId = platformId; }

void FailVersionQueryForTesting(DWORD errorCode) { g_versionError = errorCode; }

// The program name always comes in double quotes, as the shell of Windows
// passes it; the other arguments only where the tokenizer would otherwise
// split them or lose them.
LPSTR WINAPI GetCommandLineA(void) {
    if (!g_commandLineBuilt) {
        BuildCommandLine();
    }
    return &g_commandLine[0];
}

// The stand-in provides the services of the 9x family, so it reports that
// family unless a test asks for another. Like that family it knows only the
// plain structure: the larger one of the NT family fails.
BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA versionInfo) {
    if (versionInfo == nullptr) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    if (versionInfo->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (g_versionError != 0) {
        SetLastError(g_versionError);
        return FALSE;
    }
    versionInfo->dwMajorVersion = kMajorVersion;
    versionInfo->dwMinorVersion = kMinorVersion;
    versionInfo->dwBuildNumber = kBuildNumber;
    versionInfo->dwPlatformId = g_platformId;
    memset(versionInfo->szCSDVersion, 0, sizeof(versionInfo->szCSDVersion));
    memcpy(versionInfo->szCSDVersion, kServicePack, sizeof(kServicePack));
    return TRUE;
}

HANDLE WINAPI GetCurrentProcess(void) { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)); }

// Only the process's own memory can be read. An address range that is not
// readable, wholly or in part, fails with ERROR_PARTIAL_COPY as on Windows,
// and never faults.
BOOL WINAPI ReadProcessMemory(HANDLE process, LPCVOID baseAddress, LPVOID buffer, SIZE_T size,
                              SIZE_T* bytesRead) {
    if (bytesRead != nullptr) {
        *bytesRead = 0;
    }
    if (process != GetCurrentProcess()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (size == 0) {
        return TRUE;
    }
    iovec local = {buffer, size};
    iovec remote = {const_cast<void*>(baseAddress), size};
    ssize_t count = process_vm_readv(getpid(), &local, 1, &remote, 1, 0);
    if (count < 0) {
        if (errno == EFAULT) {
            SetLastError(ERROR_PARTIAL_COPY);
        } else {
            SetLastErrorFromErrno(errno);
        }
        return FALSE;
    }
    if (bytesRead != nullptr) {
        *bytesRead = static_cast<SIZE_T>(count);
    }
    if (static_cast<SIZE_T>(count) < size) {
        SetLastError(ERROR_PARTIAL_COPY);
        return FALSE;
    }
    return TRUE;
}
