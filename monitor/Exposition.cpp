// The reading in the Prometheus text exposition format, and its atomic replacement of a textfile.
#include "monitor/Exposition.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <stdio.h>
#include <unistd.h>

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

// A label value between double quotes. The format escapes only the
// backslash, the double quote and the line feed, and reads UTF-8, so a byte
// that is no part of valid UTF-8 (a name in a legacy code page) becomes U+FFFD.
std::string Quoted(const ClString& value)
{
    const unsigned char* text = reinterpret_cast<const unsigned char*>(value.GetText());
    const size_t size = value.GetLength();
    std::string quoted = "\"";
    for (size_t at = 0; at < size;) {
        const size_t length = Utf8Length(text + at, size - at);
        if (length == 0) {
            quoted += "\xEF\xBF\xBD";
            ++at;
            continue;
        }
        const char c = static_cast<char>(text[at]);
        quoted += c == '\\' ? "\\\\" : c == '"' ? "\\\"" : c == '\n' ? "\\n" : std::string(text + at, text + at + length);
        at += length;
    }
    return quoted + "\"";
}

std::string Header(const char* name, const char* help)
{
    return std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " gauge\n";
}

std::string LineLabel(const ClLineReading& line)
{
    return "line=" + Quoted(line.name);
}

}  // namespace

std::string FormatExposition(const std::vector<ClLineReading>& lines)
{
    std::string text = Header("ringwarden_line_server_active", "Whether the dial-up server answers calls on the line.");
    for (const ClLineReading& line : lines) {
        text += "ringwarden_line_server_active{" + LineLabel(line) + "} " + (line.active ? "1\n" : "0\n");
    }
    text += Header("ringwarden_line_status", "The line's connection status: 1 for the one it is in, 0 for the others.");
    for (const ClLineReading& line : lines) {
        const uint32_t code = static_cast<uint32_t>(line.status);
        const unsigned current = code <= SUPRV_STATUS_MONITORING_FAILED ? code : kUnknownLabel;
        for (unsigned i = 0; i <= kUnknownLabel; ++i) {
            text += "ringwarden_line_status{" + LineLabel(line) + ",status=\"" + kStatusLabels[i] + "\"} " +
                    (i == current ? "1\n" : "0\n");
        }
    }
    text += Header("ringwarden_line_user_info", "The user logged in on the line, for lines with one.");
    for (const ClLineReading& line : lines) {
        if (!line.user.IsEmpty()) {
            text += "ringwarden_line_user_info{" + LineLabel(line) + ",user=" + Quoted(line.user) + "} 1\n";
        }
    }
    text += Header("ringwarden_line_info", "The line's device type and server type.");
    for (const ClLineReading& line : lines) {
        text += "ringwarden_line_info{" + LineLabel(line) + ",device_type=" + Quoted(line.deviceType) +
                ",server_type=" + Quoted(line.serverType) + "} 1\n";
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
    int error = 0;
    // The exporter runs as a user of its own, whatever the umask.
    if (fchmod(handle, 0644) != 0) {
        error = errno;
    }
    while (error == 0 && length > 0) {
        const ssize_t written = write(handle, text, length);
        if (written < 0 && errno != EINTR) {
            error = errno;
        } else if (written == 0) {
            error = ENOSPC;
        } else if (written > 0) {
            text += written;
            length -= static_cast<size_t>(written);
        }
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
