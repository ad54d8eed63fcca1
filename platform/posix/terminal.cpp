// Puts back the terminal attributes and the title the stand-in changed, at exit and on fatal signals.
#include "platform/posix/terminal.h"

#include <atomic>
#include <errno.h>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

// One terminal whose attributes were changed. Records are only ever appended,
// and a record is complete before the count that publishes it grows, so the
// signal handler can read them without a lock.
struct SavedTerminal {
    pid_t owner;  // A forked child must not put back its parent's terminals.
    dev_t device;  // Of the terminal itself, whichever node reached it.
    int fd;  // A duplicate of our own, so the program closing its descriptor does no harm.
    struct termios attributes;
};

constexpr int kMaxTerminals = 8;
SavedTerminal g_savedTerminals[kMaxTerminals];
std::atomic<int> g_savedCount{0};
std::atomic<pid_t> g_titlePushedBy{0};
std::mutex g_saveLock;

const int kFatalSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGABRT};

const char kTitlePop[] = "\033[23;0t";

void OnFatalSignal(int signalNumber)
{
    int savedErrno = errno;
    RestoreTerminalsNow();
    // Die of the same signal, so the parent sees the right status. The signal
    // is blocked while this handler runs and is delivered once it returns.
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
    errno = savedErrno;
}

void RestoreAtExit() { RestoreTerminalsNow(); }

// Installs the exit and signal hooks once per process. A forked child
// inherits the parent's, which check the owner of each record, but may have
// had its signal dispositions reset since, so it installs its own.
void InstallRestoreHooks()
{
    static pid_t installedFor = 0;
    pid_t self = getpid();
    if (installedFor == self) {
        return;
    }
    installedFor = self;
    atexit(RestoreAtExit);
    for (int signalNumber : kFatalSignals) {
        struct sigaction previous;
        if (sigaction(signalNumber, nullptr, &previous) != 0 ||
            (previous.sa_handler != SIG_DFL && previous.sa_handler != OnFatalSignal)) {
            continue;  // Ignored or handled by someone else: leave it so.
        }
        struct sigaction action;
        memset(&action, 0, sizeof(action));
        action.sa_handler = OnFatalSignal;
        sigemptyset(&action.sa_mask);
        for (int blocked : kFatalSignals) {
            sigaddset(&action.sa_mask, blocked);
        }
        sigaction(signalNumber, &action, nullptr);
    }
}

// The device of the terminal open on `fd`. /dev/tty has a device number of
// its own but stands for the controlling terminal, so the kernel is asked
// which terminal lies behind the descriptor: one terminal has one original,
// whichever descriptor changed it first.
bool GetTerminalDevice(int fd, dev_t* device)
{
    struct stat status;
    if (fstat(fd, &status) != 0) {
        return false;
    }
    *device = status.st_rdev;
#ifdef TIOCGDEV
    unsigned int behind = 0;
    if (ioctl(fd, TIOCGDEV, &behind) == 0) {
        *device = static_cast<dev_t>(behind);
    }
#endif
    return true;
}

// How long a byte that follows Esc may take to count as part of its key.
const int kSequencePauseMs = 50;

// The bytes of one key as they are read: kept up to the caller's buffer,
// taken up to kMaxKeyBytes.
class KeyBytes {
public:
    KeyBytes(int fd, void* buffer, size_t count) : fd(fd), buffer(static_cast<char*>(buffer)), count(count) {}

    void Keep(unsigned char c)
    {
        if (stored < count) {
            buffer[stored++] = static_cast<char>(c);
        }
        ++taken;
    }

    // The next byte of the key, if one comes within the pause.
    bool Next(unsigned char* c)
    {
        if (taken == kMaxKeyBytes) {
            return false;
        }
        struct pollfd ready = {fd, POLLIN, 0};
        int n;
        do {
            n = poll(&ready, 1, kSequencePauseMs);
        } while (n < 0 && errno == EINTR);
        if (n <= 0 || ReadRetrying(fd, c, 1) != 1) {
            return false;
        }
        Keep(*c);
        return true;
    }

    size_t Stored() const { return stored; }

private:
    int fd;
    char* buffer;
    size_t count;
    size_t stored = 0;
    size_t taken = 0;
};

// The continuation bytes of a UTF-8 character whose lead byte was read.
void ReadCharacterRest(KeyBytes& key, unsigned char lead)
{
    int following = 0;
    if (lead >= 0xc2 && lead <= 0xdf) {
        following = 1;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        following = 2;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        following = 3;
    }
    unsigned char c;
    while (following-- > 0 && key.Next(&c) && (c & 0xc0) == 0x80) {
    }
}

// After CSI ("Esc [") or SS3 ("Esc O"): parameter and intermediate bytes up
// to the final byte. A byte that can stand in no sequence ends it too.
void ReadSequenceRest(KeyBytes& key, bool controlSequence)
{
    unsigned char c;
    if (!key.Next(&c)) {
        return;
    }
    if (controlSequence && c == '[') {
        key.Next(&c);  // The Linux console's F1 to F5: "Esc [ [" and a letter.
        return;
    }
    while (c >= 0x20 && c <= 0x3f && key.Next(&c)) {
    }
}

void ReadEscapeRest(KeyBytes& key, bool afterAlt)
{
    unsigned char c;
    if (!key.Next(&c)) {
        return;  // Esc alone.
    }
    if (c == '[' || c == 'O') {
        ReadSequenceRest(key, c == '[');
    } else if (c == 0x1b && !afterAlt) {
        ReadEscapeRest(key, true);  // Alt with a key that sends a sequence.
    } else {
        ReadCharacterRest(key, c);  // Alt with a character.
    }
}

}  // namespace

ssize_t ReadTerminalKey(int fd, void* buffer, size_t count)
{
    if (count == 0) {
        return 0;
    }
    unsigned char first;
    ssize_t n = ReadRetrying(fd, &first, 1);
    if (n <= 0) {
        return n;
    }
    KeyBytes key(fd, buffer, count);
    key.Keep(first);
    if (first == 0x1b) {
        ReadEscapeRest(key, false);
    } else {
        ReadCharacterRest(key, first);
    }
    return static_cast<ssize_t>(key.Stored());
}

bool SaveTerminalAttributes(int fd)
{
    dev_t device;
    struct termios attributes;
    if (tcgetattr(fd, &attributes) != 0 || !GetTerminalDevice(fd, &device)) {
        return false;
    }
    std::lock_guard<std::mutex> lock(g_saveLock);
    InstallRestoreHooks();
    pid_t self = getpid();
    int count = g_savedCount.load();
    for (int i = 0; i < count; ++i) {
        if (g_savedTerminals[i].owner == self && g_savedTerminals[i].device == device) {
            return true;
        }
    }
    if (count == kMaxTerminals) {
        return true;  // Beyond any real use; such a terminal is simply not put back.
    }
    int copy = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (copy < 0) {
        return true;
    }
    g_savedTerminals[count] = SavedTerminal{self, device, copy, attributes};
    g_savedCount.store(count + 1);
    return true;
}

bool MarkTitlePushed()
{
    std::lock_guard<std::mutex> lock(g_saveLock);
    InstallRestoreHooks();
    pid_t self = getpid();
    return g_titlePushedBy.exchange(self) != self;
}

void RestoreTerminalsNow()
{
    pid_t self = getpid();
    int count = g_savedCount.load();
    for (int i = 0; i < count; ++i) {
        const SavedTerminal& saved = g_savedTerminals[i];
        if (saved.owner == self) {
            tcsetattr(saved.fd, TCSANOW, &saved.attributes);
        }
    }
    if (g_titlePushedBy.exchange(0) != self) {
        return;
    }
    int tty = OpenControllingTerminal();
    if (tty < 0) {
        return;
    }
    ssize_t ignored = write(tty, kTitlePop, sizeof(kTitlePop) - 1);
    (void)ignored;
    close(tty);
}

void IgnoreBrokenPipes()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction previous;
        if (sigaction(SIGPIPE, nullptr, &previous) == 0 && previous.sa_handler == SIG_DFL) {
            signal(SIGPIPE, SIG_IGN);
        }
    });
}

int OpenControllingTerminal()
{
    int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    if (!isatty(fd)) {
        close(fd);
        return -1;
    }
    return fd;
}

size_t WriteFully(int fd, const void* bytes, size_t count)
{
    IgnoreBrokenPipes();
    const char* next = static_cast<const char*>(bytes);
    size_t done = 0;
    while (done < count) {
        ssize_t n = write(fd, next + done, count - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = EIO;
            }
            break;
        }
        done += static_cast<size_t>(n);
    }
    return done;
}

ssize_t ReadRetrying(int fd, void* buffer, size_t count)
{
    ssize_t n;
    do {
        n = read(fd, buffer, count);
    } while (n < 0 && errno == EINTR);
    return n;
}
