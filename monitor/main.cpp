// check_ringwarden: the lines of the dial-up server as a monitoring plugin's verdict or as Prometheus metrics.
#include <windows.h>

#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "base/Resources.h"
#include "errors/ClException.h"
#include "errors/FaultTranslation.h"
#include "monitor/CheckOptions.h"
#include "monitor/Exposition.h"
#include "monitor/LineReading.h"
#include "monitor/PluginReport.h"
#include "platform/FaultTranslator.h"
#include "supervisor/ClSupervisor.h"

namespace {

// What the timer's handler writes when the reading takes too long, made
// before the timer is set: a signal handler may not allocate.
char g_timeoutLine[128];
bool g_prometheus;
const char* g_textfile;  // Null for standard output.
const char* g_temporary;

// Allocates nothing, for the handler and for a report that memory ran out;
// neither has anywhere to report a failed write.
void WriteText(int handle, const char* text)
{
    if (write(handle, text, strlen(text)) < 0) {
        return;
    }
}

// The state is UNKNOWN, and with --prometheus the metrics say that the
// reading failed, in the file or on standard output.
void OnTimeout(int)
{
    if (g_prometheus && g_textfile != nullptr) {
        ReplaceFile(g_textfile, g_temporary, kFailedExposition, strlen(kFailedExposition));
    } else if (g_prometheus) {
        WriteText(STDOUT_FILENO, kFailedExposition);
    }
    WriteText(g_prometheus ? STDERR_FILENO : STDOUT_FILENO, g_timeoutLine);
    _exit(kStateUnknown);
}

void ArmTimeout(const ClCheckOptions& options, const std::string& temporary)
{
    snprintf(g_timeoutLine, sizeof(g_timeoutLine),
             "RINGWARDEN UNKNOWN - no answer from the supervisor after %u s (-t)\n", options.timeout);
    g_prometheus = options.prometheus;
    g_textfile = options.output.empty() ? nullptr : options.output.c_str();
    g_temporary = temporary.c_str();
    struct sigaction action;
    memset(&action, 0, sizeof(action));
    action.sa_handler = OnTimeout;
    sigaction(SIGALRM, &action, nullptr);
    alarm(options.timeout);
}

// A crash report's first paragraph, which says what failed; its stack dump follows.
std::string FirstParagraph(const std::string& report)
{
    size_t end = 0;
    while (end < report.size()) {
        const size_t next = report.find('\n', end);
        const std::string line = report.substr(end, next == std::string::npos ? std::string::npos : next - end);
        if (line.find_first_not_of("\r\t ") == std::string::npos || next == std::string::npos) {
            break;
        }
        end = next + 1;
    }
    return report.substr(0, end);
}

// The reason for an UNKNOWN state when the reading succeeded but checks
// nothing the command line asked for; empty when there is none.
std::string MissingLines(const ClCheckOptions& options, const std::vector<ClLineReading>& lines)
{
    for (DWORD i = 0; i < options.lines.GetCount(); ++i) {
        const ClDeviceSelector& selector = options.lines[i];
        if (!selector.found) {
            ClString name;
            name.AppendBytes(selector.name.begin, selector.name.GetLength());
            return std::string("no line named \"") + name.GetText() + "\"" +
                   (options.deviceType.IsEmpty() ? "" : " of type \"" + std::string(options.deviceType.GetText()) + "\"");
        }
    }
    if (lines.empty() && !options.deviceType.IsEmpty()) {
        return std::string("no line of type \"") + options.deviceType.GetText() + "\"";
    }
    return std::string();
}

// The metrics to standard output or into the textfile; the state is
// UNKNOWN when the lines were not read or the file not written.
int WritePrometheus(const ClCheckOptions& options, const std::string& temporary, const std::string& metrics,
                    const std::string& failure)
{
    int state = failure.empty() ? kStateOk : kStateUnknown;
    if (options.output.empty()) {
        WriteAll(STDOUT_FILENO, metrics);
    } else if (const int error = ReplaceFile(options.output.c_str(), temporary.c_str(), metrics.data(), metrics.size())) {
        WriteAll(STDERR_FILENO, FormatUnknown("cannot write " + options.output + ": " + strerror(error)));
        state = kStateUnknown;
    }
    if (!failure.empty()) {
        WriteAll(STDERR_FILENO, FormatUnknown(failure));
    }
    return state;
}

int Check(ClCheckOptions& options, std::string& failure, std::string& metrics)
{
    ClSupervisor supervisor;
    supervisor.Bind();
    std::vector<ClLineReading> lines = ReadLines(supervisor, options.lines, options.deviceType);
    alarm(0);
    failure = MissingLines(options, lines);
    if (options.prometheus) {
        metrics = failure.empty() ? FormatExposition(lines) : kFailedExposition;
        return failure.empty() ? kStateOk : kStateUnknown;
    }
    if (!failure.empty()) {
        return kStateUnknown;
    }
    WriteAll(STDOUT_FILENO, FormatReport(lines, options.thresholds));
    return Evaluate(lines, options.thresholds);
}

}  // namespace

int main(int argc, char** argv)
{
    g_hInstance = GetModuleHandleA(nullptr);
    ClCheckOptions options;
    std::string failure;
    std::string metrics = kFailedExposition;
    int state = kStateUnknown;
    try {
        switch (ReadOptions(argc, argv, options, failure)) {
        case OptionsOutcome::HelpShown:
        case OptionsOutcome::VersionShown:
            return kStateUnknown;
        case OptionsOutcome::Rejected:
            WriteAll(STDOUT_FILENO, FormatUnknown(failure + "; see check_ringwarden --help"));
            return kStateUnknown;
        case OptionsOutcome::Check:
            break;
        }
        const std::string temporary = options.output + "." + std::to_string(getpid()) + ".tmp";
        ArmTimeout(options, temporary);
        // A fault inside the supervisor library becomes a report like any other failure.
        SetFaultTranslator(TranslateFault);
        try {
            state = Check(options, failure, metrics);
        } catch (ClException* error) {
            alarm(0);
            failure = error->fromFault != 0 ? FirstParagraph(error->message.GetText()) : error->message.GetText();
            delete error;
            state = kStateUnknown;
        }
        if (options.prometheus) {
            return WritePrometheus(options, temporary, metrics, failure);
        }
        if (state == kStateUnknown) {
            WriteAll(STDOUT_FILENO, FormatUnknown(failure));
        }
    } catch (ClException* error) {
        // Memory ran out before the reading began, or while its failure was reported.
        WriteText(STDOUT_FILENO, "RINGWARDEN UNKNOWN - out of memory\n");
        delete error;
        return kStateUnknown;
    }
    return state;
}
