// The console and file stand-ins: handles, file types, console modes on a terminal, reads and writes, the title.
#include <windows.h>

#include <gtest/gtest.h>

#include "platform/posix/handles.h"
#include "tests/support/Pty.h"
#include "tests/support/StdRedirect.h"

#include <fcntl.h>
#include <pty.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr DWORD kSentinel = 0xDEADBEEF;

// A pseudo-terminal pair owned by the test; the slave side is a console.
struct PtyPair {
    int master = -1;
    int slave = -1;
    PtyPair()
    {
        openpty(&master, &slave, nullptr, nullptr, nullptr);
        struct termios attributes;
        tcgetattr(slave, &attributes);
        attributes.c_oflag &= ~ONLCR;
        tcsetattr(slave, TCSANOW, &attributes);
    }
    ~PtyPair()
    {
        close(master);
        close(slave);
    }
    HANDLE Console() const { return HandleFromDescriptor(slave); }
    std::string ReadMaster() const
    {
        char buffer[256];
        ssize_t n = read(master, buffer, sizeof(buffer));
        return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
    }
};

struct Pipe {
    int fds[2] = {-1, -1};
    Pipe() { EXPECT_EQ(pipe(fds), 0); }
    ~Pipe()
    {
        CloseReader();
        CloseWriter();
    }
    void CloseReader()
    {
        if (fds[0] >= 0) {
            close(fds[0]);
        }
        fds[0] = -1;
    }
    void CloseWriter()
    {
        if (fds[1] >= 0) {
            close(fds[1]);
        }
        fds[1] = -1;
    }
};

TEST(StdHandle, NamesDescriptorsZeroToTwoWithoutNullOrInvalid)
{
    HANDLE handles[] = {GetStdHandle(STD_INPUT_HANDLE), GetStdHandle(STD_OUTPUT_HANDLE),
                        GetStdHandle(STD_ERROR_HANDLE)};
    for (int fd = 0; fd < 3; ++fd) {
        EXPECT_NE(handles[fd], nullptr);
        EXPECT_NE(handles[fd], INVALID_HANDLE_VALUE);
        EXPECT_EQ(DescriptorFromHandle(handles[fd]), fd);
    }
}

TEST(StdHandle, ClosedDescriptorOrUnknownSelectorIsInvalid)
{
    {
        ScopedRedirect closed(0, ScopedRedirect::kClosed);
        SetLastError(kSentinel);
        EXPECT_EQ(GetStdHandle(STD_INPUT_HANDLE), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
    EXPECT_EQ(GetStdHandle(static_cast<DWORD>(-13)), INVALID_HANDLE_VALUE);
}

TEST(Handles, ForeignValuesAreNoDescriptors)
{
    int onHeap = 0;
    EXPECT_EQ(DescriptorFromHandle(nullptr), -1);
    EXPECT_EQ(DescriptorFromHandle(INVALID_HANDLE_VALUE), -1);
    EXPECT_EQ(DescriptorFromHandle(&onHeap), -1);
}

TEST(FileType, ByKindOfDescriptor)
{
    TempFile file("x");
    Pipe pipe;
    int sockets[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sockets), 0);
    int null = open("/dev/null", O_RDWR);
    PtyPair pty;

    EXPECT_EQ(GetFileType(HandleFromDescriptor(file.Fd())), static_cast<DWORD>(FILE_TYPE_DISK));
    EXPECT_EQ(GetFileType(HandleFromDescriptor(pipe.fds[0])), static_cast<DWORD>(FILE_TYPE_PIPE));
    EXPECT_EQ(GetFileType(HandleFromDescriptor(sockets[0])), static_cast<DWORD>(FILE_TYPE_PIPE));
    EXPECT_EQ(GetFileType(HandleFromDescriptor(null)), static_cast<DWORD>(FILE_TYPE_CHAR));
    EXPECT_EQ(GetFileType(pty.Console()), static_cast<DWORD>(FILE_TYPE_CHAR));

    SetLastError(kSentinel);
    EXPECT_EQ(GetFileType(HandleFromDescriptor(999)), static_cast<DWORD>(FILE_TYPE_UNKNOWN));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    close(sockets[0]);
    close(sockets[1]);
    close(null);
}

// /dev/null is a character device like a console, but no console.
TEST(ConsoleFunctions, FailWithInvalidHandleOffATerminal)
{
    TempFile file("abc");
    Pipe pipe;
    int null = open("/dev/null", O_RDWR);
    for (int fd : {file.Fd(), pipe.fds[1], null, 999}) {
        HANDLE handle = HandleFromDescriptor(fd);
        DWORD mode = 0, count = 7;
        char buffer[4];
        SetLastError(kSentinel);
        EXPECT_FALSE(GetConsoleMode(handle, &mode)) << fd;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        SetLastError(kSentinel);
        EXPECT_FALSE(SetConsoleMode(handle, ENABLE_PROCESSED_INPUT));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        SetLastError(kSentinel);
        EXPECT_FALSE(WriteConsoleA(handle, "x", 1, &count, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        EXPECT_EQ(count, 0u);
        SetLastError(kSentinel);
        EXPECT_FALSE(ReadConsoleA(handle, buffer, 1, &count, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
    EXPECT_EQ(file.Contents(), "abc");
    close(null);
}

TEST(ConsoleMode, MapsOntoTheTerminalsLocalFlags)
{
    PtyPair pty;
    DWORD mode = 0;
    ASSERT_TRUE(GetConsoleMode(pty.Console(), &mode));
    EXPECT_EQ(mode, static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_PROCESSED_INPUT));

    ASSERT_TRUE(SetConsoleMode(pty.Console(), ENABLE_PROCESSED_INPUT));
    struct termios attributes;
    tcgetattr(pty.slave, &attributes);
    EXPECT_FALSE(attributes.c_lflag & ICANON);
    EXPECT_FALSE(attributes.c_lflag & ECHO);
    EXPECT_TRUE(attributes.c_lflag & ISIG);
    EXPECT_EQ(attributes.c_cc[VMIN], 1);
    EXPECT_EQ(attributes.c_cc[VTIME], 0);
    ASSERT_TRUE(GetConsoleMode(pty.Console(), &mode));
    EXPECT_EQ(mode, static_cast<DWORD>(ENABLE_PROCESSED_INPUT));

    ASSERT_TRUE(SetConsoleMode(pty.Console(), ENABLE_LINE_INPUT));
    ASSERT_TRUE(GetConsoleMode(pty.Console(), &mode));
    EXPECT_EQ(mode, static_cast<DWORD>(ENABLE_LINE_INPUT));
}

TEST(ConsoleMode, EchoWithoutLineInputIsRefused)
{
    PtyPair pty;
    SetLastError(kSentinel);
    EXPECT_FALSE(SetConsoleMode(pty.Console(), ENABLE_ECHO_INPUT));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    DWORD mode = 0;
    ASSERT_TRUE(GetConsoleMode(pty.Console(), &mode));
    EXPECT_TRUE(mode & ENABLE_LINE_INPUT);
}

TEST(ConsoleRead, WithoutLineInputOneKeyComesAtOnceAndEnterAsCarriageReturn)
{
    PtyPair pty;
    ASSERT_TRUE(SetConsoleMode(pty.Console(), ENABLE_PROCESSED_INPUT));
    ASSERT_EQ(write(pty.master, "k\r", 2), 2);
    char key[4] = {};
    DWORD count = 0;
    ASSERT_TRUE(ReadConsoleA(pty.Console(), key, 1, &count, nullptr));
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(key[0], 'k');
    ASSERT_TRUE(ReadConsoleA(pty.Console(), key, 1, &count, nullptr));
    EXPECT_EQ(key[0], '\r');
}

// A key that sends several bytes is read whole and the bytes beyond the
// buffer are dropped with it; the key typed after it stays for the next read.
// Esc alone is told from a sequence by the pause after it.
TEST(ConsoleRead, WithoutLineInputOneKeyPressIsOneKey)
{
    const struct {
        const char* typed;
        DWORD count;
        const char* read;
    } cases[] = {
        {"\033", 8, "\033"},
        {"\033[A", 8, "\033[A"},
        {"\033[A", 1, "\033"},
        {"\033[1;5C", 8, "\033[1;5C"},  // Ctrl+Right
        {"\033[15~", 8, "\033[15~"},    // F5
        {"\033OP", 8, "\033OP"},        // F1
        {"\033[[A", 8, "\033[[A"},      // F1 on the Linux console
        {"\033\033[A", 8, "\033\033[A"},  // Alt+Up
        {"\033n", 8, "\033n"},          // Alt+N
        {"\xc3\xa9", 8, "\xc3\xa9"},
        {"\xe2\x82\xac", 1, "\xe2"},
    };
    PtyPair pty;
    ASSERT_TRUE(SetConsoleMode(pty.Console(), ENABLE_PROCESSED_INPUT));
    for (const auto& c : cases) {
        const std::string typed = c.typed;
        const bool loneEscape = typed == "\033";
        const std::string keys = loneEscape ? typed : typed + "x";
        ASSERT_EQ(write(pty.master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
        char key[8] = {};
        DWORD count = 0;
        ASSERT_TRUE(ReadConsoleA(pty.Console(), key, c.count, &count, nullptr));
        EXPECT_EQ(std::string(key, count), c.read) << testing::PrintToString(typed);
        if (loneEscape) {
            ASSERT_EQ(write(pty.master, "x", 1), 1);
        } else {
            int pending = 0;
            ASSERT_EQ(ioctl(pty.slave, FIONREAD, &pending), 0);
            ASSERT_EQ(pending, 1) << testing::PrintToString(typed);
        }
        ASSERT_TRUE(ReadConsoleA(pty.Console(), key, sizeof(key), &count, nullptr));
        EXPECT_EQ(std::string(key, count), "x") << testing::PrintToString(typed);
    }
}

TEST(ConsoleRead, WithLineInputTheLineComesAsTyped)
{
    PtyPair pty;
    ASSERT_EQ(write(pty.master, "ab\r", 3), 3);
    char line[8] = {};
    DWORD count = 0;
    ASSERT_TRUE(ReadConsoleA(pty.Console(), line, sizeof(line), &count, nullptr));
    EXPECT_EQ(std::string(line, count), "ab\n");
}

TEST(ConsoleWrite, PassesTheBytesOnUnchanged)
{
    PtyPair pty;
    DWORD count = 0;
    ASSERT_TRUE(WriteConsoleA(pty.Console(), "one\r\ntwo", 8, &count, nullptr));
    EXPECT_EQ(count, 8u);
    EXPECT_EQ(pty.ReadMaster(), "one\r\ntwo");
}

TEST(FileWrite, LargeWriteThroughAPipeArrivesWhole)
{
    Pipe pipe;
    std::string data(1 << 20, 'r');
    data[12345] = 'w';
    std::string received;
    std::thread reader([&] {
        char buffer[65536];
        ssize_t n;
        while ((n = read(pipe.fds[0], buffer, sizeof(buffer))) > 0) {
            received.append(buffer, static_cast<size_t>(n));
        }
    });
    DWORD written = 0;
    BOOL ok = WriteFile(HandleFromDescriptor(pipe.fds[1]), data.data(), static_cast<DWORD>(data.size()),
                        &written, nullptr);
    pipe.CloseWriter();
    reader.join();
    EXPECT_TRUE(ok);
    EXPECT_EQ(written, data.size());
    EXPECT_EQ(received, data);
}

TEST(FileWrite, VanishedReaderIsAFailedWriteNotADeadProcess)
{
    Pipe pipe;
    pipe.CloseReader();
    DWORD written = 7;
    SetLastError(kSentinel);
    EXPECT_FALSE(WriteFile(HandleFromDescriptor(pipe.fds[1]), "lost", 4, &written, nullptr));
    EXPECT_EQ(written, 0u);
    EXPECT_NE(GetLastError(), kSentinel);
    EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
}

TEST(FileRead, OneByteAtATimeThenNothingAtTheEnd)
{
    TempFile file("Yz");
    HANDLE handle = HandleFromDescriptor(file.Fd());
    char byte = 0;
    DWORD count = 0;
    ASSERT_TRUE(ReadFile(handle, &byte, 1, &count, nullptr));
    EXPECT_EQ(byte, 'Y');
    ASSERT_TRUE(ReadFile(handle, &byte, 1, &count, nullptr));
    EXPECT_EQ(byte, 'z');
    ASSERT_TRUE(ReadFile(handle, &byte, 1, &count, nullptr));
    EXPECT_EQ(count, 0u);
    SetLastError(kSentinel);
    EXPECT_FALSE(ReadFile(handle, &byte, 1, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(ConsoleTitle, GoesToTheControllingTerminalAndIsPoppedAtExit)
{
    PtyResult result = RunFunctionOnPty([] {
        TempFile redirected;
        ScopedRedirect output(1, redirected.Fd());
        bool ok = SetConsoleTitleA("Ring\033]2;x\007warden") && SetConsoleTitleA("Second");
        return ok && redirected.Contents().empty() ? 0 : 1;
    });
    EXPECT_EQ(result.ExitCode(), 0) << result.output;
    EXPECT_EQ(result.output, "\033[22;0t\033]0;Ring ]2;x warden\007\033]0;Second\007\033[23;0t");
}

TEST(ConsoleTitle, FailsWithoutAControllingTerminalAndWritesNothing)
{
    PtyOptions options;
    options.controllingTerminal = false;
    PtyResult result = RunFunctionOnPty(
        [] {
            SetLastError(kSentinel);
            return !SetConsoleTitleA("Ringwarden") && GetLastError() == ERROR_INVALID_HANDLE ? 0 : 1;
        },
        options);
    EXPECT_EQ(result.ExitCode(), 0);
    EXPECT_EQ(result.output, "");
}

}  // namespace
