// Message boxes as dialogs on the controlling terminal, and the message beep as its bell.
//
// A message box belongs to the user, not to the program's output: the dialog
// is drawn on /dev/tty and answered from it, whatever standard input and
// output are redirected to, and standard input is never read. A process
// without a controlling terminal cannot show a box: MessageBoxA fails with
// ERROR_NOT_SUPPORTED and MessageBeep stays silent.
#include <windows.h>

#include "platform/posix/MessagesSeam.h"
#include "platform/posix/private.h"
#include "platform/posix/terminal.h"

#include <errno.h>
#include <mutex>
#include <termios.h>
#include <unistd.h>

namespace {

std::mutex g_hookLock;
MessageBoxHook g_boxHook;
MessageBeepHook g_beepHook;

// Dialogs are shown one at a time, so that two threads never draw over each
// other or take each other's keys.
std::mutex g_dialogLock;

struct Button {
    const char* label;  // Its first letter is its key.
    int result;
};

// The buttons of a style's button set, as Windows shows them, and the result
// of Esc: the Cancel button where there is one, Ok in a box with Ok alone,
// and nothing (0) otherwise. Fixed tables: a box is what shows a failure, so
// it must not need memory of its own.
struct ButtonSet {
    const Button* buttons;
    size_t count;
    int escapeResult;
};

const Button kOk{"Ok", IDOK}, kCancel{"Cancel", IDCANCEL}, kAbort{"Abort", IDABORT}, kRetry{"Retry", IDRETRY},
    kIgnore{"Ignore", IDIGNORE}, kYes{"Yes", IDYES}, kNo{"No", IDNO};
const Button kOkButtons[] = {kOk};
const Button kOkCancelButtons[] = {kOk, kCancel};
const Button kAbortRetryIgnoreButtons[] = {kAbort, kRetry, kIgnore};
const Button kYesNoCancelButtons[] = {kYes, kNo, kCancel};
const Button kYesNoButtons[] = {kYes, kNo};
const Button kRetryCancelButtons[] = {kRetry, kCancel};

template <size_t N>
ButtonSet MakeSet(const Button (&buttons)[N], int escapeResult)
{
    return ButtonSet{buttons, N, escapeResult};
}

bool GetButtonSet(UINT style, ButtonSet* set)
{
    switch (style & MB_TYPEMASK) {
    case MB_OK: *set = MakeSet(kOkButtons, IDOK); return true;
    case MB_OKCANCEL: *set = MakeSet(kOkCancelButtons, IDCANCEL); return true;
    case MB_ABORTRETRYIGNORE: *set = MakeSet(kAbortRetryIgnoreButtons, 0); return true;
    case MB_YESNOCANCEL: *set = MakeSet(kYesNoCancelButtons, IDCANCEL); return true;
    case MB_YESNO: *set = MakeSet(kYesNoButtons, 0); return true;
    case MB_RETRYCANCEL: *set = MakeSet(kRetryCancelButtons, IDCANCEL); return true;
    default: return false;
    }
}

const char* IconMark(UINT style)
{
    switch (style & MB_ICONMASK) {
    case MB_ICONHAND: return "(X) ";
    case MB_ICONQUESTION: return "(?) ";
    case MB_ICONEXCLAMATION: return "(!) ";
    case MB_ICONASTERISK: return "(i) ";
    default: return "";
    }
}

// The dialog is written to the terminal piece by piece through a small
// buffer on the stack, again so that showing it takes no memory.
class TerminalWriter {
public:
    explicit TerminalWriter(int fd) : fd(fd) {}

    void Put(char c)
    {
        if (used == sizeof(buffer)) {
            Flush();
        }
        buffer[used++] = c;
    }

    void Put(const char* text)
    {
        for (; *text != '\0'; ++text) {
            Put(*text);
        }
    }

    // Lines end in CR LF, and control characters other than tab are shown
    // as '?', so that a text cannot steer the terminal.
    void PutDisplayText(const char* text)
    {
        for (const char* p = text; *p != '\0'; ++p) {
            unsigned char c = static_cast<unsigned char>(*p);
            if (c == '\r') {
                continue;
            }
            if (c == '\n') {
                Put("\r\n");
            } else if ((c < 0x20 && c != '\t') || c == 0x7f) {
                Put('?');
            } else {
                Put(*p);
            }
        }
    }

    // True when everything put so far reached the terminal.
    bool Flush()
    {
        if (used != 0 && WriteFully(fd, buffer, used) != used) {
            failed = true;
        }
        used = 0;
        return !failed;
    }

private:
    int fd;
    char buffer[256];
    size_t used = 0;
    bool failed = false;
};

bool DrawDialog(int tty, const char* text, const char* caption, UINT style, const ButtonSet& set,
                const Button& defaultButton)
{
    TerminalWriter out(tty);
    out.Put("\r\n[ ");
    out.PutDisplayText(caption);
    out.Put(" ]\r\n");
    out.Put(IconMark(style));
    out.PutDisplayText(text);
    out.Put("\r\n");
    for (size_t i = 0; i < set.count; ++i) {
        const Button& button = set.buttons[i];
        out.Put('[');
        out.Put(button.label[0]);
        out.Put(']');
        out.Put(button.label + 1);
        out.Put("  ");
    }
    out.Put("(Enter: ");
    out.Put(defaultButton.label);
    out.Put(") ");
    return out.Flush();
}

bool WriteText(int fd, const char* text)
{
    TerminalWriter out(fd);
    out.Put(text);
    return out.Flush();
}

// The button a key of `length` bytes chooses, or 0 when it chooses none. A
// key of several bytes (an arrow, a function key, Alt with a key, a
// character beyond ASCII) is no button's.
int ResultOfKey(const char* key, ssize_t length, const ButtonSet& set, const Button& defaultButton)
{
    if (length != 1) {
        return 0;
    }
    if (*key == '\r' || *key == '\n') {
        return defaultButton.result;
    }
    if (*key == '\033') {
        return set.escapeResult;
    }
    for (size_t i = 0; i < set.count; ++i) {
        const char letter = set.buttons[i].label[0];
        if (*key == letter || *key == letter - 'A' + 'a') {
            return set.buttons[i].result;
        }
    }
    return 0;
}

// Shows the dialog on the terminal open on `tty` and waits for a button's key.
// The terminal takes single keys without echo while the dialog waits and
// gets its attributes back after; on the way out through a fatal signal
// terminal.cpp puts them back.
int RunDialog(int tty, const char* text, const char* caption, UINT style, const ButtonSet& set)
{
    size_t defaultIndex = (style & MB_DEFMASK) >> 8;
    const Button& defaultButton = set.buttons[defaultIndex < set.count ? defaultIndex : 0];

    struct termios before;
    if (tcgetattr(tty, &before) != 0) {
        SetLastErrorFromErrno(errno);
        return 0;
    }
    SaveTerminalAttributes(tty);
    struct termios keys = before;
    keys.c_lflag &= ~(ICANON | ECHO);
    keys.c_cc[VMIN] = 1;
    keys.c_cc[VTIME] = 0;
    if (tcsetattr(tty, TCSANOW, &keys) != 0) {
        SetLastErrorFromErrno(errno);
        return 0;
    }

    int result = 0;
    bool drawn = DrawDialog(tty, text, caption, style, set, defaultButton);
    if (!drawn) {
        SetLastErrorFromErrno(errno);
    }
    while (drawn && result == 0) {
        char key[kMaxKeyBytes];
        ssize_t length = ReadTerminalKey(tty, key, sizeof(key));
        if (length <= 0) {
            if (length == 0) {
                SetLastError(ERROR_HANDLE_EOF);
            } else {
                SetLastErrorFromErrno(errno);
            }
            break;
        }
        result = ResultOfKey(key, length, set, defaultButton);
        if (result == 0 && !WriteText(tty, "\a")) {
            SetLastErrorFromErrno(errno);
            break;
        }
    }
    for (size_t i = 0; i < set.count; ++i) {
        if (set.buttons[i].result == result) {
            WriteText(tty, set.buttons[i].label);
            WriteText(tty, "\r\n");
        }
    }
    tcsetattr(tty, TCSANOW, &before);
    return result;
}

}  // namespace

void SetMessageBoxHook(MessageBoxHook hook)
{
    std::lock_guard<std::mutex> guard(g_hookLock);
    g_boxHook = std::move(hook);
}

void SetMessageBeepHook(MessageBeepHook hook)
{
    std::lock_guard<std::mutex> guard(g_hookLock);
    g_beepHook = std::move(hook);
}

// Styles beyond the six button sets fail with ERROR_INVALID_PARAMETER. A
// missing caption reads "Error", as on Windows; the owner window plays no part
// on a terminal.
int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    MessageBoxHook hook;
    {
        std::lock_guard<std::mutex> guard(g_hookLock);
        hook = g_boxHook;
    }
    if (hook) {
        return hook(owner, text, caption, type);
    }
    ButtonSet set;
    if (!GetButtonSet(type, &set)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard<std::mutex> dialog(g_dialogLock);
    int tty = OpenControllingTerminal();
    if (tty < 0) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return 0;
    }
    int result = RunDialog(tty, text != nullptr ? text : "", caption != nullptr ? caption : "Error", type, set);
    close(tty);
    return result;
}

BOOL WINAPI MessageBeep(UINT type)
{
    MessageBeepHook hook;
    {
        std::lock_guard<std::mutex> guard(g_hookLock);
        hook = g_beepHook;
    }
    if (hook) {
        hook(type);
        return TRUE;
    }
    int tty = OpenControllingTerminal();
    if (tty < 0) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    bool rang = WriteText(tty, "\a");
    int writeError = errno;
    close(tty);
    if (!rang) {
        SetLastErrorFromErrno(writeError);
        return FALSE;
    }
    return TRUE;
}
