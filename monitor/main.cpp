// check_ringwarden: the lines of the dial-up server as a monitoring plugin's verdict or as Prometheus metrics.
#include <windows.h>

#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "base/Resources.h"
#include "errors/ClException.h"
#include "errors/FaultTranslation.h"
#include "monitor/CheckOptions.h"
#include "monitor/Exposition.h"
#include "monitor/LineReading.h"
#include "monitor/PluginReport.h"
#include "monitor/WriteWhole.h"
#include "platform/FaultTranslator.h"
#include "supervisor/ClSupervisor.h"

namespace {

// What the timer's handler writes when the reading takes too long, made
// before the timer is set: a signal handler may not allocate.
char g_timeoutLine[128];
int g_timeoutExit;
bool g_prometheus;
const char* g_textfile;  // Null for standard output.
const char* g_temporary;

// With --prometheus the metrics say that the reading failed, in the file or
// on standard output, and the state is UNKNOWN; the plugin's state is the
// one -t chose.
void OnTimeout(int)
{
    if (g_prometheus && g_textfile != nullptr) {
        ReplaceFile(g_textfile, g_temporary, kFailedExposition, strlen(kFailedExposition));
    } else if (g_prometheus) {
        WriteWhole(STDOUT_FILENO, kFailedExposition, strlen(kFailedExposition));
    }
    WriteWhole(g_prometheus ? STDERR_FILENO : STDOUT_FILENO, g_timeoutLine, strlen(g_timeoutLine));
    _exit(g_timeoutExit);
}

void ArmTimeout(const ClCheckOptions& options, const std::string& temporary)
{
    const PluginState state = options.prometheus ? kStateUnknown : options.timeoutState;
    const std::string line =
        FormatProblem(state, "no answer from the supervisor after " + std::to_string(options.timeout) + " s (-t)");
    snprintf(g_timeoutLine, sizeof(g_timeoutLine), "%s", line.c_str());
    g_timeoutExit = state;
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

std::string Quote(const ClStringRange& name)
{
    ClString text;
    text.AppendBytes(name.begin, name.GetLength());
    return std::string("\"") + text.GetText() + "\"";
}

// The reason for an UNKNOWN state when the reading succeeded but left out
// what the command line asked for: every line named that no line is, or
// that -T left out; empty when there is none.
std::string MissingLines(const ClCheckOptions& options, const std::vector<ClLineReading>& lines)
{
    std::string missing;
    std::string otherType;
    for (DWORD i = 0; i < options.lines.GetCount(); ++i) {
        const ClDeviceSelector& selector = options.lines[i];
        bool read = false;
        for (const ClLineReading& line : lines) {
            read = read || selector.name.EqualsNoCase(ClStringRange(line.name));
        }
        if (!read) {
            std::string& list = selector.found ? otherType : missing;
            list += (list.empty() ? "" : ", ") + Quote(selector.name);
        }
    }
    std::string reason = missing.empty() ? "" : "no line named " + missing;
    if (!otherType.empty()) {
        reason += (reason.empty() ? "" : "; ") + otherType + " not of type \"" + options.deviceType.GetText() + "\"";
    }
    if (reason.empty() && lines.empty() && !options.deviceType.IsEmpty()) {
        reason = std::string("no line of type \"") + options.deviceType.GetText() + "\"";
    }
    return reason;
}

void Complain(const std::string& text)
{
    WriteWhole(STDERR_FILENO, text);
}

// The metrics to standard output or into the textfile; the state is
// UNKNOWN, with the reason on standard error, when the lines were not read
// or the metrics not written.
int WritePrometheus(const ClCheckOptions& options, const std::string& temporary, const std::string& metrics,
                    const std::string& failure)
{
    int state = failure.empty() ? kStateOk : kStateUnknown;
    const std::string target = options.output.empty() ? "standard output" : options.output;
    int error = 0;
    if (options.output.empty()) {
        error = WriteWhole(STDOUT_FILENO, metrics);
    } else {
        RemoveStaleTemporaries(options.output);
        error = ReplaceFile(options.output.c_str(), temporary.c_str(), metrics.data(), metrics.size());
    }
    if (error != 0) {
        Complain(FormatUnknown("cannot write the metrics to " + target + ": " + strerror(error)));
        state = kStateUnknown;
    }
    if (!failure.empty()) {
        Complain(FormatUnknown(failure));
    }
    return state;
}

// The plugin's output; a write that fails makes the state UNKNOWN, said on standard error.
int WriteReport(const std::string& report, int state)
{
    if (const int error = WriteWhole(STDOUT_FILENO, report)) {
        Complain(FormatUnknown(std::string("cannot write to standard output: ") + strerror(error)));
        return kStateUnknown;
    }
    return state;
}

int Check(ClCheckOptions& options, std::string& failure, std::string& metrics)
{
    ClSupervisor supervisor;
    supervisor.Bind();
    ClReading reading;
    reading.lines = ReadLines(supervisor, options.lines, options.deviceType);
    reading.now = static_cast<uint64_t>(time(nullptr));
    alarm(0);
    failure = MissingLines(options, reading.lines);
    if (options.prometheus) {
        metrics = failure.empty() ? FormatExposition(reading.lines) : kFailedExposition;
        return failure.empty() ? kStateOk : kStateUnknown;
    }
    if (!failure.empty()) {
        return kStateUnknown;
    }
    return WriteReport(FormatReport(reading, options.thresholds, options.verbosity), Evaluate(reading, options.thresholds));
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
            WriteReport(FormatUnknown(failure) + kUsage, kStateUnknown);
            return kStateUnknown;
        case OptionsOutcome::Check:
            break;
        }
        const std::string temporary = TemporaryName(options.output, getpid());
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
        if (!failure.empty()) {
            return WriteReport(FormatUnknown(failure), kStateUnknown);
        }
    } catch (ClException* error) {
        // Memory ran out before the reading began, or while its failure was reported.
        static const char kOutOfMemory[] = "RINGWARDEN UNKNOWN - out of memory\n";
        WriteWhole(STDOUT_FILENO, kOutOfMemory, sizeof(kOutOfMemory) - 1);
        delete error;
        return kStateUnknown;
    }
    return state;
}
