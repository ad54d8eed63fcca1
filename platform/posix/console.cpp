// The console and file functions of Win32 over descriptors and the terminal's attributes.
//
// A console is a terminal: the console functions succeed only on a descriptor
// for which isatty holds and fail with ERROR_INVALID_HANDLE elsewhere, so
// /dev/null is a character device but no console, as on Windows. The input
// modes map onto the terminal's local flags: line input to ICANON, echo input
// to ECHO, processed input to ISIG. Whatever is changed is put back when the
// process ends (terminal.cpp).
#include <windows.h>

#include "platform/posix/ConsoleSeam.h"
#include "platform/posix/handles.h"
#include "platform/posix/private.h"
#include "platform/posix/terminal.h"

#include <atomic>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <string>
#include <string.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The descriptor of a file handle, or -1 with ERROR_INVALID_HANDLE. Whether
// it is still open is left to the call that uses it: a closed descriptor
// fails there with EBADF, which reads as ERROR_INVALID_HANDLE too, and every
// line of output is spared a system call.
int OpenDescriptor(HANDLE handle)
{
    int fd = DescriptorFromHandle(handle);
    if (fd < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return -1;
    }
    return fd;
}

// Whether each standard descriptor is open and whether it is a console is
// asked once, not for every line: nothing the program does changes the
// answers but closing the handle, which forgets them, as does a fork, whose
// child may rearrange its descriptors before it goes on.
enum Answer : signed char { kUnasked, kYes, kNo };
std::atomic<Answer> g_isOpen[3];
std::atomic<Answer> g_isConsole[3];

void ForgetAllAnswers()
{
    for (int fd = 0; fd < 3; ++fd) {
        ForgetConsoleAnswers(fd);
    }
}

void ForgetAnswersInForkedChildren()
{
    static const bool registered = pthread_atfork(nullptr, nullptr, ForgetAllAnswers) == 0;
    (void)registered;
}

template <class Ask>
bool Remembered(std::atomic<Answer>* answers, int fd, Ask ask)
{
    if (fd < 0 || fd > 2) {
        return ask();
    }
    ForgetAnswersInForkedChildren();
    Answer answer = answers[fd].load(std::memory_order_relaxed);
    if (answer == kUnasked) {
        answer = ask() ? kYes : kNo;
        answers[fd].store(answer, std::memory_order_relaxed);
    }
    return answer == kYes;
}

// The descriptor of a handle that is a console, or -1 with ERROR_INVALID_HANDLE.
int ConsoleDescriptor(HANDLE handle)
{
    int fd = OpenDescriptor(handle);
    if (fd >= 0 && !Remembered(g_isConsole, fd, [fd] { return isatty(fd) != 0; })) {
        SetLastError(ERROR_INVALID_HANDLE);
        return -1;
    }
    return fd;
}

void Store(LPDWORD result, DWORD value)
{
    if (result != nullptr) {
        *result = value;
    }
}

// The write behind WriteConsoleA and WriteFile, for a descriptor already
// checked (-1 when the check failed and set the last error).
BOOL WriteDescriptor(int fd, const void* buffer, DWORD count, LPDWORD written)
{
    Store(written, 0);
    if (fd < 0) {
        return FALSE;
    }
    DWORD done = static_cast<DWORD>(WriteFully(fd, buffer, count));
    Store(written, done);
    if (done < count) {
        SetLastErrorFromErrno(errno);
        return FALSE;
    }
    return TRUE;
}

// The read behind ReadConsoleA and ReadFile, likewise, through `reader`.
BOOL ReadDescriptor(int fd, void* buffer, DWORD count, LPDWORD read,
                    ssize_t (*reader)(int, void*, size_t) = ReadRetrying)
{
    if (read == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *read = 0;
    if (fd < 0) {
        return FALSE;
    }
    ssize_t n = reader(fd, buffer, count);
    if (n < 0) {
        SetLastErrorFromErrno(errno);
        return FALSE;
    }
    *read = static_cast<DWORD>(n);
    return TRUE;
}

}  // namespace

void ForgetConsoleAnswers(int fd)
{
    if (fd >= 0 && fd < 3) {
        g_isOpen[fd].store(kUnasked, std::memory_order_relaxed);
        g_isConsole[fd].store(kUnasked, std::memory_order_relaxed);
    }
}

void ForgetConsoleAnswersForTesting()
{
    ForgetAllAnswers();
}

HANDLE WINAPI GetStdHandle(DWORD stdHandle)
{
    int fd;
    switch (stdHandle) {
    case STD_INPUT_HANDLE: fd = 0; break;
    case STD_OUTPUT_HANDLE: fd = 1; break;
    case STD_ERROR_HANDLE: fd = 2; break;
    default: SetLastError(ERROR_INVALID_HANDLE); return INVALID_HANDLE_VALUE;
    }
    if (!Remembered(g_isOpen, fd, [fd] { return fcntl(fd, F_GETFD) >= 0; })) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_HANDLE_VALUE;
    }
    return HandleFromDescriptor(fd);
}

DWORD WINAPI GetFileType(HANDLE file)
{
    int fd = OpenDescriptor(file);
    struct stat status;
    if (fd < 0) {
        return FILE_TYPE_UNKNOWN;
    }
    if (fstat(fd, &status) != 0) {
        SetLastErrorFromErrno(errno);
        return FILE_TYPE_UNKNOWN;
    }
    if (S_ISCHR(status.st_mode)) {
        return FILE_TYPE_CHAR;
    }
    if (S_ISREG(status.st_mode) || S_ISDIR(status.st_mode) || S_ISBLK(status.st_mode)) {
        return FILE_TYPE_DISK;
    }
    if (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode)) {
        return FILE_TYPE_PIPE;
    }
    SetLastError(NO_ERROR);  // As on Windows: a known handle of no known type.
    return FILE_TYPE_UNKNOWN;
}

BOOL WINAPI GetConsoleMode(HANDLE console, LPDWORD mode)
{
    int fd = ConsoleDescriptor(console);
    if (fd < 0) {
        return FALSE;
    }
    struct termios attributes;
    if (tcgetattr(fd, &attributes) != 0) {
        SetLastErrorFromErrno(errno);
        return FALSE;
    }
    if (mode == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD bits = 0;
    if (attributes.c_lflag & ICANON) {
        bits |= ENABLE_LINE_INPUT;
    }
    if (attributes.c_lflag & ECHO) {
        bits |= ENABLE_ECHO_INPUT;
    }
    if (attributes.c_lflag & ISIG) {
        bits |= ENABLE_PROCESSED_INPUT;
    }
    *mode = bits;
    return TRUE;
}

BOOL WINAPI SetConsoleMode(HANDLE console, DWORD mode)
{
    int fd = ConsoleDescriptor(console);
    if (fd < 0) {
        return FALSE;
    }
    // Windows refuses echo without line input; so does the stand-in.
    if ((mode & ENABLE_ECHO_INPUT) && !(mode & ENABLE_LINE_INPUT)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    struct termios attributes;
    if (tcgetattr(fd, &attributes) != 0) {
        SetLastErrorFromErrno(errno);
        return FALSE;
    }
    auto apply = [&attributes](tcflag_t flag, bool on) {
        attributes.c_lflag = on ? (attributes.c_lflag | flag) : (attributes.c_lflag & ~flag);
    };
    apply(ICANON, mode & ENABLE_LINE_INPUT);
    apply(ECHO, mode & ENABLE_ECHO_INPUT);
    apply(ISIG, mode & ENABLE_PROCESSED_INPUT);
    if (!(mode & ENABLE_LINE_INPUT)) {
        // Without line input a read returns as soon as one key is there.
        attributes.c_cc[VMIN] = 1;
        attributes.c_cc[VTIME] = 0;
    }
    SaveTerminalAttributes(fd);
    if (tcsetattr(fd, TCSANOW, &attributes) != 0) {
        SetLastErrorFromErrno(errno);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI WriteConsoleA(HANDLE console, const void* buffer, DWORD count, LPDWORD written, LPVOID)
{
    return WriteDescriptor(ConsoleDescriptor(console), buffer, count, written);
}

// Without line input a read takes one key press, as a Windows console
// delivers one key per event, so nothing of a key is left for the next read
// or the next program; and Enter arrives as CR, as it does from a Windows
// console, also when the terminal turns CR into LF on input (ICRNL). With
// line input the line comes as the terminal delivers it.
BOOL WINAPI ReadConsoleA(HANDLE console, LPVOID buffer, DWORD count, LPDWORD read, LPVOID)
{
    int fd = ConsoleDescriptor(console);
    struct termios attributes;
    bool singleKeys = fd >= 0 && tcgetattr(fd, &attributes) == 0 && !(attributes.c_lflag & ICANON);
    if (!ReadDescriptor(fd, buffer, count, read, singleKeys ? ReadTerminalKey : ReadRetrying)) {
        return FALSE;
    }
    if (singleKeys && (attributes.c_iflag & ICRNL)) {
        char* chars = static_cast<char*>(buffer);
        for (DWORD i = 0; i < *read; ++i) {
            if (chars[i] == '\n') {
                chars[i] = '\r';
            }
        }
    }
    return TRUE;
}

// The 9x family needs a place for the byte count, as ReadFile does.
BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD written, LPOVERLAPPED overlapped)
{
    if (written == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (overlapped != nullptr) {
        Store(written, 0);
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    return WriteDescriptor(OpenDescriptor(file), buffer, count, written);
}

// One read: at the end of a file or of a pipe whose writer went away it
// succeeds with nothing read.
BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED overlapped)
{
    if (overlapped != nullptr) {
        Store(read, 0);
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    return ReadDescriptor(OpenDescriptor(file), buffer, count, read);
}

// The title goes to the controlling terminal as the standard window-title
// sequence, never into standard output, which may be redirected. Control
// characters in the title are sent as blanks so that they cannot end the
// sequence early or start another one. The first title pushes the one the
// terminal had, and exit pops it again (where the terminal keeps a stack).
BOOL WINAPI SetConsoleTitleA(LPCSTR title)
{
    if (title == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    int tty = OpenControllingTerminal();
    if (tty < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::string sequence;
    if (MarkTitlePushed()) {
        sequence = "\033[22;0t";
    }
    sequence += "\033]0;";
    for (const char* p = title; *p != '\0'; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        sequence += (c < 0x20 || c == 0x7f) ? ' ' : *p;
    }
    sequence += '\007';
    size_t done = WriteFully(tty, sequence.data(), sequence.size());
    int writeError = errno;
    close(tty);
    if (done < sequence.size()) {
        SetLastErrorFromErrno(writeError);
        return FALSE;
    }
    return TRUE;
}

// A Windows console shows the OEM code page and the program's texts are in the
// ANSI one. A terminal here shows the texts' own encoding: nothing to convert.
BOOL WINAPI CharToOemBuffA(LPCSTR source, LPSTR destination, DWORD length)
{
    if (source == nullptr || destination == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    memmove(destination, source, length);
    return TRUE;
}
