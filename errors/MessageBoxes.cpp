// Message boxes emulated on the console with one-key prompts, and the real boxes behind them.
#include "errors/MessageBoxes.h"

#include <string.h>

#include "base/ConsoleInput.h"
#include "base/Resources.h"
#include "errors/ClConsoleApp.h"
#include "errors/ClException.h"
#include "errors/ConsoleOutput.h"

LONG messageBoxDepth = -1;

namespace {

constexpr UINT kHitAnyKeyPrompt = 37399;

// The one-key prompt of a button set: the prompt's entry, the entry of its
// key set (upper- and lower-case letter of each button in turn) and the
// buttons' results in the same order.
struct PromptRow {
    UINT promptId;
    UINT keySetId;
    int buttonCount;
    int results[3];
};

// Indexed by the button set, the low four bits of a style. A lone Ok asks
// like Ok and Cancel when it cannot wait for just any key.
const PromptRow kPromptRows[] = {
    {37400, 37401, 2, {IDOK, IDCANCEL}},                  // MB_OK
    {37400, 37401, 2, {IDOK, IDCANCEL}},                  // MB_OKCANCEL
    {37402, 37403, 3, {IDABORT, IDRETRY, IDIGNORE}},      // MB_ABORTRETRYIGNORE
    {37404, 37405, 3, {IDYES, IDNO, IDCANCEL}},           // MB_YESNOCANCEL
    {37406, 37407, 2, {IDYES, IDNO}},                     // MB_YESNO
    {37408, 37409, 2, {IDRETRY, IDCANCEL}},               // MB_RETRYCANCEL
};

// The button sets 6 to 15 do not exist; they are served as a lone Ok.
UINT ButtonSetOf(UINT style)
{
    UINT set = style & MB_TYPEMASK;
    return set < sizeof(kPromptRows) / sizeof(kPromptRows[0]) ? set : MB_OK;
}

bool WriteLine(const ClString& text, bool noBox)
{
    return ConsoleWriteLine(text.GetText(), text.GetLength(), noBox);
}

// What the console answered: a button's result, or that a real box must ask.
constexpr int kAskInBox = 0;

// Asks for one of the row's keys until one comes. An unlisted key is
// answered with the asterisk sound and the prompt again while the console
// takes the prompt; once it does not, the real box must ask.
int AskWithKeys(const PromptRow& row, UINT style, bool interactive)
{
    ClString prompt(row.promptId, g_hInstance);
    ClString keySet(row.keySetId, g_hInstance);
    for (;;) {
        if (!WriteLine(prompt, false)) {
            interactive = false;
        }
        char key = ReadKey();
        if (key == 0) {
            return (style & (MB_DEFBUTTON2 | MB_DEFBUTTON3)) == 0 ? row.results[0] : kAskInBox;
        }
        const char* found = static_cast<const char*>(memchr(keySet.GetText(), key, keySet.GetLength()));
        // A key set that is not what the table should hold (a missing entry
        // reads as a placeholder text) may not point past the row's buttons.
        int button = found != nullptr ? static_cast<int>(found - keySet.GetText()) / 2 : row.buttonCount;
        if (button < row.buttonCount) {
            return row.results[button];
        }
        if (!interactive) {
            return kAskInBox;
        }
        MessageBeep(MB_ICONASTERISK);
    }
}

// The emulation on the console; kAskInBox when it cannot get an answer.
int AskOnConsole(const char* text, UINT style)
{
    bool interactive = ConsoleWriteLine(text, static_cast<DWORD>(strlen(text)), false);
    if (interactive) {
        MessageBeep(style & MB_ICONMASK);
    }
    UINT buttonSet = ButtonSetOf(style);
    if (buttonSet == MB_OK && interactive) {
        ClString prompt(kHitAnyKeyPrompt, g_hInstance);
        if (WriteLine(prompt, true)) {
            ReadKey();
        }
        return IDOK;
    }
    return AskWithKeys(kPromptRows[buttonSet], style, interactive);
}

// Undoes the increment of messageBoxDepth however the box call is left.
class DepthGuard {
public:
    DepthGuard() : depth(InterlockedIncrement(&messageBoxDepth)) {}
    ~DepthGuard() { InterlockedDecrement(&messageBoxDepth); }
    bool AnotherBoxIsUp() const { return depth > 0; }

private:
    LONG depth;
};

int ShowRealBox(HWND window, const char* text, UINT style, const char* caption)
{
    if (caption == nullptr && g_consoleApp != nullptr) {
        caption = g_consoleApp->GetCaption();
    }
    DepthGuard depth;
    if (depth.AnotherBoxIsUp()) {
        MessageBoxRequest request = {window, text, caption, style};
        return ThreadedMessageBox(request);
    }
    return MessageBoxA(window, text, caption, style);
}

// Shows the system's text for an error code in a box of the exclamation style.
void ShowErrorBox(DWORD errorCode, HWND owner, const char* caption)
{
    ClWin32Exception failure(errorCode);
    MessageBoxA(owner, failure.message.GetText(), caption, MB_ICONEXCLAMATION);
}

}  // namespace

int ShowMessage(const char* text, UINT style, HWND owner, const char* caption)
{
    if (g_consoleApp != nullptr) {
        return g_consoleApp->ShowMessageBox(text, style, owner, caption);
    }
    return ConsoleMessageBox(text, style, owner, caption);
}

int ClConsoleApp::ShowMessageBox(const char* text, UINT style, HWND owner, const char* caption)
{
    return ConsoleMessageBox(text, style, owner, caption);
}

int ConsoleMessageBox(const char* text, UINT style, HWND owner, const char* caption)
{
    if (text == nullptr) {
        text = "";
    }
    if (style == 0) {
        style = MB_ICONASTERISK;
    }
    if (owner != nullptr && g_consoleApp != nullptr) {
        g_consoleApp->consoleWindow = owner;
    }
    HWND window = FindConsoleWindow();
    BringWindowForward(window);
    try {
        int answer = AskOnConsole(text, style);
        if (answer != kAskInBox) {
            return answer;
        }
    } catch (ClException* failure) {
        delete failure;
    }
    return ShowRealBox(window, text, style, caption);
}

void ReportError(const ClString& text)
{
    try {
        ShowMessage(text.GetText(), MB_OK | MB_ICONEXCLAMATION, nullptr, nullptr);
    } catch (ClException* failure) {
        delete failure;
        MessageBeep(MB_ICONEXCLAMATION);
    } catch (...) {
        MessageBeep(MB_ICONHAND);
    }
}

int ThreadedMessageBox(MessageBoxRequest& request)
{
    // The 9x family creates no thread without a place for its id.
    DWORD threadId = 0;
    HANDLE thread = CreateThread(nullptr, 0, MessageBoxThread, &request, 0, &threadId);
    if (thread == nullptr) {
        ShowErrorBox(GetLastError(), request.owner, request.caption);
        return MessageBoxA(request.owner, request.text, request.caption, request.style);
    }
    WaitForSingleObject(thread, INFINITE);
    DWORD result = 0;
    for (;;) {
        if (!GetExitCodeThread(thread, &result)) {
            result = 0;
            break;
        }
        if (result != STILL_ACTIVE) {
            break;
        }
        WaitForSingleObject(thread, INFINITE);
    }
    CloseHandle(thread);
    return static_cast<int>(result);
}

// The owner window belongs to the requesting thread, so the worker's box has
// none. Nothing may leave a thread's routine, so a failure while composing
// the error text only loses that text.
DWORD WINAPI MessageBoxThread(LPVOID parameter)
{
    const auto* request = static_cast<const MessageBoxRequest*>(parameter);
    int result = MessageBoxA(nullptr, request->text, request->caption, request->style);
    if (result == 0) {
        DWORD errorCode = GetLastError();
        try {
            ShowErrorBox(errorCode, nullptr, request->caption);
        } catch (ClException* failure) {
            delete failure;
        }
    }
    return static_cast<DWORD>(result);
}
