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
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

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
// and nothing (0) otherwise.
struct ButtonSet {
    std::vector<Button> buttons;
    int escapeResult;
};

bool GetButtonSet(UINT style, ButtonSet* set)
{
    const Button ok{"Ok", IDOK}, cancel{"Cancel", IDCANCEL}, abort{"Abort", IDABORT},
        retry{"Retry", IDRETRY}, ignore{"Ignore", IDIGNORE}, yes{"Yes", IDYES}, no{"No", IDNO};
    switch (style & MB_TYPEMASK) {
    case MB_OK: *set = {{ok}, IDOK}; return true;
    case MB_OKCANCEL: *set = {{ok, cancel}, IDCANCEL}; return true;
    case MB_ABORTRETRYIGNORE: *set = {{abort, retry, ignore}, 0}; return true;
    case MB_YESNOCANCEL: *set = {{yes, no, cancel}, IDCANCEL}; return true;
    case MB_YESNO: *set = {{yes, no}, 0}; return true;
    case MB_RETRYCANCEL: *set = {{retry, cancel}, IDCANCEL}; return true;
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

// Appends text for the terminal: lines end in CR LF, and control characters
// other than tab are shown as '?' so that a text cannot steer the terminal.
void AppendDisplayText(std::string& out, const char* text)
{
    for (const char* p = text; *p != '\0'; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c == '\r') {
            continue;
        }
        if (c == '\n') {
            out += "\r\n";
        } else if ((c < 0x20 && c != '\t') || c == 0x7f) {
            out += '?';
        } else {
            out += *p;
        }
    }
}

std::string DrawDialog(const char* text, const char* caption, UINT style, const ButtonSet& set,
                       const Button& defaultButton)
{
    std::string dialog = "\r\n[ ";
    AppendDisplayText(dialog, caption);
    dialog += " ]\r\n";
    dialog += IconMark(style);
    AppendDisplayText(dialog, text);
    dialog += "\r\n";
    for (const Button& button : set.buttons) {
        dialog += '[';
        dialog += button.label[0];
        dialog += ']';
        dialog += button.label + 1;
        dialog += "  ";
    }
    dialog += "(Enter: ";
    dialog += defaultButton.label;
    dialog += ") ";
    return dialog;
}

bool WriteText(int fd, const std::string& text)
{
    return WriteFully(fd, text.data(), text.size()) == text.size();
}

// Reads one byte; false at the end of input (errno 0) or on an error.
bool ReadByte(int fd, char* c)
{
    ssize_t n = ReadRetrying(fd, c, 1);
    if (n == 0) {
        errno = 0;
    }
    return n == 1;
}

// Waits a moment for the next byte of a key's sequence; false when none comes.
bool ReadFollowingByte(int fd, char* c)
{
    struct pollfd ready = {fd, POLLIN, 0};
    return poll(&ready, 1, 50) > 0 && ReadByte(fd, c);
}

// An escape that more bytes follow at once is a key's sequence (an arrow, a
// function key, Alt with a key), not the Esc key. The sequence is read to its
// end and dropped; keys typed after it stay unread.
bool IsLoneEscape(int fd)
{
    char c;
    if (!ReadFollowingByte(fd, &c)) {
        return true;
    }
    if (c == 'O') {
        ReadFollowingByte(fd, &c);
    } else if (c == '[') {
        // Parameters and intermediates until the final byte, 0x40 to 0x7E.
        while (ReadFollowingByte(fd, &c) && (c < 0x40 || c > 0x7e)) {
        }
    }
    return false;
}

// The button a key chooses, or 0 when the key chooses none.
int ResultOfKey(int fd, char key, const ButtonSet& set, const Button& defaultButton)
{
    if (key == '\r' || key == '\n') {
        return defaultButton.result;
    }
    if (key == '\033') {
        return IsLoneEscape(fd) ? set.escapeResult : 0;
    }
    for (const Button& button : set.buttons) {
        if (key == button.label[0] || key == button.label[0] - 'A' + 'a') {
            return button.result;
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
    const Button& defaultButton = set.buttons[defaultIndex < set.buttons.size() ? defaultIndex : 0];

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
    bool drawn = WriteText(tty, DrawDialog(text, caption, style, set, defaultButton));
    if (!drawn) {
        SetLastErrorFromErrno(errno);
    }
    while (drawn && result == 0) {
        char key;
        if (!ReadByte(tty, &key)) {
            if (errno == 0) {
                SetLastError(ERROR_HANDLE_EOF);
            } else {
                SetLastErrorFromErrno(errno);
            }
            break;
        }
        result = ResultOfKey(tty, key, set, defaultButton);
        if (result == 0 && !WriteText(tty, "\a")) {
            SetLastErrorFromErrno(errno);
            break;
        }
    }
    for (const Button& button : set.buttons) {
        if (button.result == result) {
            WriteText(tty, std::string(button.label) + "\r\n");
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
