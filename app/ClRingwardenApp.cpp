// ClRingwardenApp: the run sequence, the command-line phase and the execution phase.
#include "app/ClRingwardenApp.h"

#include <stdlib.h>
#include <string.h>

#include "app/ClCmdLine.h"
#include "app/DevicePass.h"
#include "base/Resources.h"
#include "errors/ClException.h"
#include "errors/ConsoleOutput.h"
#include "errors/MessageBoxes.h"
#include "resources/Version.h"

namespace {

const DWORD kMajorVersion = RINGWARDEN_VERSION_MAJOR;
const DWORD kMinorVersion = RINGWARDEN_VERSION_MINOR;
const DWORD kBuild = RINGWARDEN_VERSION_BUILD;

// String-table entries of the application.
enum : UINT {
    kBannerEntry = 1,
    kInitializeFailedEntry = 2,
    kUnknownCommandEntry = 8,
    kHelpEntry = 9,
    kContactEntry = 11,
    kHelpHintEntry = 12,
    kWrongFamilyEntry = 17,
    kBadDeviceNumberEntry = 38,
    kUnknownKeyEntry = 39,
    kSecondDeviceTypeEntry = 40,
    kBadCommandLineEntry = 41,
};

// How a word typed by the user is compared with a word the program knows.
enum WordComparison : DWORD { kExact = 0, kIgnoreCase = NORM_IGNORECASE };

static_assert(sizeof(OSVERSIONINFOA) == 148, "the version record is 148 bytes");

void WriteLine(const ClString& text) { ConsoleWriteLine(text.GetText(), text.GetLength(), false); }

// The whole token against the whole word.
bool IsWord(const ClStringRange& token, const char* word, WordComparison comparison) {
    return ClString::CompareText(token.begin, word, static_cast<int>(token.GetLength()), -1, comparison) == 0;
}

// A terminated copy of the token's characters.
ClString TextOf(const ClStringRange& token) {
    ClString text;
    text.AppendBytes(token.begin, token.GetLength());
    return text;
}

// The file name of a path: what follows its last backslash or slash, so that
// paths of both kinds of system give the same result.
ClStringRange FileNameOf(const ClString& path) {
    ClStringRange whole(path);
    const char* backslash = whole.FindLast('\\');
    const char* slash = whole.FindLast('/');
    const char* separator = backslash;
    if (separator == nullptr || (slash != nullptr && slash > separator)) {
        separator = slash;
    }
    ClStringRange name;
    whole.SplitFromEnd(nullptr, &name, separator);
    return name;
}

}  // namespace

ClRingwardenApp::ClRingwardenApp() : command(ShowStatus) {}

int ClRingwardenApp::Run() {
    WriteBanner();
    CheckPlatform();
    switch (ReadCommandLine()) {
    case CommandLineOutcome::HelpShown:
        return kExitSuccess;
    case CommandLineOutcome::Rejected:
        return kExitBadCommandLine;
    case CommandLineOutcome::Execute:
        break;
    }
    return Execute();
}

DWORD ClRingwardenApp::RunDevicePass() { return ::RunDevicePass(*this, command, selectors, deviceType); }

void ClRingwardenApp::WriteBanner() {
    WriteLine(FormatResource(kBannerEntry, kMajorVersion, kMinorVersion, kBuild));
    WriteLine(ClString(kContactEntry, g_hInstance));
}

// A system of another family gets a warning and the run goes on; so does a
// failed version query, reported with the system's text of the error.
void ClRingwardenApp::CheckPlatform() {
    OSVERSIONINFOA version;
    memset(&version, 0, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    if (!GetVersionExA(&version)) {
        ClWin32Exception failure(GetLastError());
        ReportError(failure.message);
        return;
    }
    if (version.dwPlatformId != VER_PLATFORM_WIN32_WINDOWS) {
        ClString warning(kWrongFamilyEntry, g_hInstance);
        ShowMessage(warning.GetText(), MB_OK | MB_ICONEXCLAMATION, nullptr, nullptr);
    }
}

// Every fault of the command line is reported, the switches' faults as they
// are read and an unknown command word after them; then "Bad command line!",
// the hint to call the help and the error sound follow.
ClRingwardenApp::CommandLineOutcome ClRingwardenApp::ReadCommandLine() {
    ClStringRange commandWord;
    bool badCommandLine = false;
    {
        ClCmdLine line;
        line.SetText(ClString(GetCommandLineA()));
        while (line.Next()) {
            if (!line.key.IsEmpty()) {
                if (IsWord(line.key, "?", kExact)) {
                    ShowHelp();
                    return CommandLineOutcome::HelpShown;
                }
                if (IsWord(line.key, "N", kIgnoreCase)) {
                    badCommandLine |= !AddNumberSelector(line.value);
                } else if (IsWord(line.key, "T", kIgnoreCase)) {
                    badCommandLine |= !SetDeviceType(line.value);
                } else {
                    WriteLine(FormatResource(kUnknownKeyEntry, TextOf(line.key).GetText()));
                    badCommandLine = true;
                }
                continue;
            }
            if (line.argumentIndex == 1) {
                commandWord = line.argument;
                if (IsWord(commandWord, "?", kExact) || IsWord(commandWord, "help", kIgnoreCase)) {
                    ShowHelp();
                    return CommandLineOutcome::HelpShown;
                }
            } else if (line.argumentIndex > 1) {
                ClDeviceSelector selector;
                selector.name = line.argument;
                selectors.Append(selector);
            }
        }
    }
    const bool noCommandWord = commandWord.IsEmpty();
    if (!noCommandWord && !SetCommand(commandWord)) {
        WriteLine(FormatResource(kUnknownCommandEntry, TextOf(commandWord).GetText()));
        badCommandLine = true;
    }
    if (badCommandLine) {
        WriteLine(ClString(kBadCommandLineEntry, g_hInstance));
    }
    if (badCommandLine || noCommandWord) {
        WriteHelpHint();
    }
    if (badCommandLine) {
        MessageBeep(MB_ICONHAND);
        return CommandLineOutcome::Rejected;
    }
    return CommandLineOutcome::Execute;
}

// The number is read as atoi reads it, so /N:3abc selects device 3. A number
// of 0 is reported, and its selector still joins the others.
bool ClRingwardenApp::AddNumberSelector(const ClStringRange& value) {
    ClString text = TextOf(value);
    ClDeviceSelector selector;
    selector.number = static_cast<DWORD>(atoi(text.GetText()));
    const bool good = selector.number != 0;
    if (!good) {
        WriteLine(FormatResource(kBadDeviceNumberEntry, text.GetText()));
    }
    selectors.Append(selector);
    return good;
}

// One device type may be given, also more than once when it is the same.
bool ClRingwardenApp::SetDeviceType(const ClStringRange& value) {
    if (!deviceType.IsEmpty()) {
        if (IsWord(value, deviceType.GetText(), kIgnoreCase)) {
            return true;
        }
        WriteLine(ClString(kSecondDeviceTypeEntry, g_hInstance));
        return false;
    }
    deviceType = TextOf(value);
    return !deviceType.IsEmpty();
}

bool ClRingwardenApp::SetCommand(const ClStringRange& commandWord) {
    static const struct {
        const char* word;
        DeviceCommand command;
    } kCommands[] = {
        {"showstatus", ShowStatus},
        {"startserver", StartServer},
        {"stopserver", StopServer},
        {"disconnectuser", DisconnectUser},
    };
    for (const auto& entry : kCommands) {
        if (IsWord(commandWord, entry.word, kIgnoreCase)) {
            command = entry.command;
            return true;
        }
    }
    return false;
}

void ClRingwardenApp::ShowHelp() {
    ClString help;
    help.LoadFromTable(kHelpEntry, g_hInstance);
    WriteLine(help);
}

void ClRingwardenApp::WriteHelpHint() {
    ClString path;
    GetModulePath(path, g_hInstance);
    ClStringRange name = FileNameOf(path);
    WriteLine(FormatResource(kHelpHintEntry, name.GetTerminated()));
}

// The supervisor is initialised only for a command line that was accepted,
// and de-initialised only after a device pass that ended normally.
int ClRingwardenApp::Execute() {
    Bind();
    uint32_t zero = 0;
    const uint32_t result = Initialize(&zero);
    if (result != 0) {
        throw new ClException(FormatResource(kInitializeFailedEntry, static_cast<int>(result)));
    }
    const DWORD passResult = RunDevicePass();
    DeInitialize();
    return static_cast<int>(passResult);
}
