// The reading in the Prometheus text exposition format, and its atomic replacement of a textfile.
#include "monitor/Exposition.h"

#include <dirent.h>
#include <errno.h>
#include <signal.h>
#include <stdlib.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <stdio.h>
#include <unistd.h>

#include "monitor/WriteWhole.h"
#include "supervisor/SupervisorApi.h"

const char kFailedExposition[] =
    "# HELP ringwarden_reading_success Whether the dial-up supervisor's lines were read (1) or not (0).\n"
    "# TYPE ringwarden_reading_success gauge\n"
    "ringwarden_reading_success 0\n";

namespace {

// The label names of the statuses, in the order of their codes; the last
// stands for every other code.
const char* const kStatusLabels[] = {"idle",         "hanging_up", "connected", "monitoring",        "answering_timeout",
                                     "calling_back", "answering",  "monitoring_failed", "unknown"};
const unsigned kUnknownLabel = SUPRV_STATUS_MONITORING_FAILED + 1;

// The length of the UTF-8 sequence that starts `text` (which holds `left`
// bytes), or 0 when it is no valid one.
size_t Utf8Length(const unsigned char* text, size_t left)
{
    const unsigned char lead = text[0];
    size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                                  : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (length == 0 || length > left) {
        return 0;
    }
    for (size_t i = 1; i < length; ++i) {
        if ((text[i] & 0xC0) != 0x80) {
            return 0;
        }
    }
    // No overlong forms, no surrogates, nothing above U+10FFFF.
    if ((lead == 0xE0 && text[1] < 0xA0) || (lead == 0xED && text[1] > 0x9F) || (lead == 0xF0 && text[1] < 0x90) ||
        (lead == 0xF4 && text[1] > 0x8F)) {
        return 0;
    }
    return length;
}

// Windows-1252's characters for the bytes 0x80 to 0x9F. The five bytes it
// leaves undefined keep their C1 control characters, so every byte reads as
// a character of its own and two different names never read alike.
const uint16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

bool IsUtf8(const ClString& value)
{
    const unsigned char* text = reinterpret_cast<const unsigned char*>(value.GetText());
    const size_t size = value.GetLength();
    for (size_t at = 0; at < size;) {
        const size_t length = Utf8Length(text + at, size - at);
        if (length == 0) {
            return false;
        }
        at += length;
    }
    return true;
}

void AppendUtf8(std::string& out, unsigned code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// A label value between double quotes. The format escapes only the
// backslash, the double quote and the line feed, and reads UTF-8. A value
// that is no valid UTF-8 is most likely a 9x name in the ANSI code page, and
// is read as Windows-1252; LineLabels marks such a line name.
std::string Quoted(const ClString& value)
{
    const bool utf8 = IsUtf8(value);
    const char* text = value.GetText();
    std::string quoted = "\"";
    for (size_t at = 0; at < value.GetLength(); ++at) {
        const unsigned char byte = static_cast<unsigned char>(text[at]);
        if (byte == '\\' || byte == '"') {
            quoted += '\\';
        }
        if (byte == '\n') {
            quoted += "\\n";
        } else if (utf8 || byte < 0x80) {
            quoted += static_cast<char>(byte);
        } else {
            AppendUtf8(quoted, byte < 0xA0 ? kWindows1252High[byte - 0x80] : byte);
        }
    }
    return quoted + "\"";
}

std::string Header(const char* name, const char* help)
{
    return std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " gauge\n";
}

// The line's name, with a second label on a name read as Windows-1252: the
// same reading can also be a UTF-8 name, and the two must stay two series.
std::string LineLabels(const ClLineReading& line)
{
    return "line=" + Quoted(line.name) + (IsUtf8(line.name) ? "" : ",line_encoding=\"windows-1252\"");
}

}  // namespace

std::string FormatExposition(const std::vector<ClLineReading>& lines)
{
    std::string text = Header("ringwarden_line_server_active", "Whether the dial-up server answers calls on the line.");
    for (const ClLineReading& line : lines) {
        text += "ringwarden_line_server_active{" + LineLabels(line) + "} " + (line.active ? "1\n" : "0\n");
    }
    text += Header("ringwarden_line_status", "The line's connection status: 1 for the one it is in, 0 for the others.");
    for (const ClLineReading& line : lines) {
        const uint32_t code = static_cast<uint32_t>(line.status);
        const unsigned current = code <= SUPRV_STATUS_MONITORING_FAILED ? code : kUnknownLabel;
        for (unsigned i = 0; i <= kUnknownLabel; ++i) {
            text += "ringwarden_line_status{" + LineLabels(line) + ",status=\"" + kStatusLabels[i] + "\"} " +
                    (i == current ? "1\n" : "0\n");
        }
    }
    text += Header("ringwarden_line_user_info", "The user logged in on the line, for lines with one.");
    for (const ClLineReading& line : lines) {
        if (!line.user.IsEmpty()) {
            text += "ringwarden_line_user_info{" + LineLabels(line) + ",user=" + Quoted(line.user) + "} 1\n";
        }
    }
    text += Header("ringwarden_line_info", "The line's device type and server type.");
    for (const ClLineReading& line : lines) {
        text += "ringwarden_line_info{" + LineLabels(line) + ",device_type=" + Quoted(line.deviceType) +
                ",server_type=" + Quoted(line.serverType) + "} 1\n";
    }
    text += Header("ringwarden_line_call_start_time_seconds",
                   "When the line's call began, in seconds since the Unix epoch, for lines in a call.");
    for (const ClLineReading& line : lines) {
        if (line.callStart != 0) {
            text += "ringwarden_line_call_start_time_seconds{" + LineLabels(line) + "} " +
                    std::to_string(line.callStart) + "\n";
        }
    }
    // The failed document with its last value, "0\n", turned to 1.
    const std::string success = kFailedExposition;
    return text + success.substr(0, success.size() - 2) + "1\n";
}

int ReplaceFile(const char* path, const char* temporary, const char* text, size_t length)
{
    // A temporary file left by an earlier run of the same process number is stale.
    unlink(temporary);
    const int handle = open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (handle < 0) {
        return errno;
    }
    // The exporter runs as a user of its own, whatever the umask. The data
    // reaches the disk before the name does, so a crash never leaves the
    // file empty.
    int error = fchmod(handle, 0644) != 0 ? errno : WriteWhole(handle, text, length);
    if (error == 0 && fsync(handle) != 0) {
        error = errno;
    }
    if (close(handle) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0 && rename(temporary, path) != 0) {
        error = errno;
    }
    if (error != 0) {
        unlink(temporary);
    }
    return error;
}

std::string TemporaryName(const std::string& path, long process)
{
    return path + "." + std::to_string(process) + ".tmp";
}

void RemoveStaleTemporaries(const std::string& path)
{
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string prefix = path.substr(slash == std::string::npos ? 0 : slash + 1) + ".";
    DIR* listing = opendir(folder.c_str());
    if (listing == nullptr) {
        return;
    }
    while (const dirent* entry = readdir(listing)) {
        const std::string name = entry->d_name;
        if (name.compare(0, prefix.size(), prefix) != 0) {
            continue;
        }
        char* end = nullptr;
        const long process = strtol(name.c_str() + prefix.size(), &end, 10);
        // Only a run that has ended left its file; a running one still needs it.
        if (process > 0 && name == prefix + std::to_string(process) + ".tmp" &&
            kill(static_cast<pid_t>(process), 0) != 0 && errno == ESRCH) {
            unlink((folder + name).c_str());
        }
    }
    closedir(listing);
}
