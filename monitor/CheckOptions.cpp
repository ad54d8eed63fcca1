// The command line of check_ringwarden, read in the GNU style that monitoring plugins use.
#include "monitor/CheckOptions.h"

#include <errno.h>
#include <ctype.h>
#include <getopt.h>
#include <stdlib.h>
#include <strings.h>
#include <unistd.h>

#include "monitor/WriteWhole.h"

#include "resources/Version.h"

#define CHECK_RINGWARDEN_USAGE                                                              \
    "Usage:\n"                                                                              \
    "  check_ringwarden [-v]... [-l LINE]... [-T TYPE] [-w RANGE] [-c RANGE]\n"              \
    "                   [--call-warning=SECONDS] [--call-critical=SECONDS]\n"                \
    "                   [-t SECONDS[:STATE]]\n"                                              \
    "  check_ringwarden --prometheus [--output FILE] [-l LINE]... [-T TYPE]\n"               \
    "                   [-t SECONDS]\n"                                                      \
    "  check_ringwarden -h | -V\n"

const char kUsage[] = CHECK_RINGWARDEN_USAGE;

namespace {

// Every line fits 80 columns.
const char kHelp[] =
    "check_ringwarden " RINGWARDEN_VERSION_TEXT "\n"
    "Checks the lines of a dial-in server through the dial-up supervisor library\n"
    "that ringwarden loads (the simulator, or the supervisor over mgetty).\n"
    "\n" CHECK_RINGWARDEN_USAGE
    "\n"
    "Options:\n"
    "  -h, --help              print this help\n"
    "  -V, --version           print the version\n"
    "  -v, --verbose           more detail after the first line; repeat for more\n"
    "  -l, --line=NAME         check this line only; may be given more than once\n"
    "  -T, --type=TYPE         check the lines of this device type only (modem,\n"
    "                          isdn, ...)\n"
    "  -w, --warning=RANGE     WARNING when the number of free lines is outside\n"
    "                          RANGE (default 1:, that is when no active line is\n"
    "                          free)\n"
    "  -c, --critical=RANGE    CRITICAL when the number of free lines is outside\n"
    "                          RANGE\n"
    "      --call-warning=SECONDS   WARNING when a call has been up longer\n"
    "      --call-critical=SECONDS  CRITICAL when a call has been up longer\n"
    "  -t, --timeout=SECONDS[:STATE]\n"
    "                          give up the reading after SECONDS (default 10);\n"
    "                          the state is then STATE: OK, WARNING, CRITICAL\n"
    "                          (the default) or UNKNOWN\n"
    "      --prometheus        write the reading as Prometheus metrics instead\n"
    "      --output=FILE       with --prometheus: replace FILE atomically, for\n"
    "                          node_exporter's textfile collector\n"
    "\n"
    "A free line is an active line (its server answers calls) whose status is\n"
    "Monitoring. A range is [@][START:][END]: START defaults to 0, ~ means no\n"
    "lower bound, no END no upper bound; the alert is raised outside the range,\n"
    "or inside it with @. Whatever the ranges, an active line whose status is\n"
    "Monitoring failed makes the state CRITICAL.\n"
    "\n"
    "Exit codes: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN (also after the help\n"
    "and the version). With --prometheus: 0 when the lines were read and the\n"
    "metrics written, 3 otherwise.\n";

enum : int { kPrometheusOption = 256, kOutputOption, kCallWarningOption, kCallCriticalOption };

const option kOptions[] = {
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {"verbose", no_argument, nullptr, 'v'},
    {"line", required_argument, nullptr, 'l'},
    {"type", required_argument, nullptr, 'T'},
    {"warning", required_argument, nullptr, 'w'},
    {"critical", required_argument, nullptr, 'c'},
    {"timeout", required_argument, nullptr, 't'},
    {"call-warning", required_argument, nullptr, kCallWarningOption},
    {"call-critical", required_argument, nullptr, kCallCriticalOption},
    {"prometheus", no_argument, nullptr, kPrometheusOption},
    {"output", required_argument, nullptr, kOutputOption},
    {nullptr, 0, nullptr, 0},
};

// A whole number of seconds from 1 to `most`, ended by `end` (the end of the
// text, or a colon before a state).
bool ReadSeconds(const char* text, long most, char end, unsigned* seconds)
{
    char* stop = nullptr;
    errno = 0;
    const long value = strtol(text, &stop, 10);
    if (errno != 0 || stop == text || *stop != end || value < 1 || value > most || !isdigit(*text)) {
        return false;
    }
    *seconds = static_cast<unsigned>(value);
    return true;
}

// "SECONDS" or "SECONDS:STATE", the state's name in any case.
bool ReadTimeout(const std::string& text, ClCheckOptions& options)
{
    const size_t colon = text.find(':');
    if (!ReadSeconds(text.c_str(), 86400, colon == std::string::npos ? 0 : ':', &options.timeout)) {
        return false;
    }
    if (colon == std::string::npos) {
        return true;
    }
    static const char* const kNames[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};
    for (int state = kStateOk; state <= kStateUnknown; ++state) {
        if (strcasecmp(text.c_str() + colon + 1, kNames[state]) == 0) {
            options.timeoutState = static_cast<PluginState>(state);
            return true;
        }
    }
    return false;
}

}  // namespace

OptionsOutcome ReadOptions(int argc, char** argv, ClCheckOptions& options, std::string& problem)
{
    opterr = 0;
    optind = 1;
    int option;
    while ((option = getopt_long(argc, argv, ":hVvl:T:w:c:t:", kOptions, nullptr)) != -1) {
        const std::string value = optarg != nullptr ? optarg : "";
        switch (option) {
        case 'h':
            WriteWhole(STDOUT_FILENO, kHelp, sizeof(kHelp) - 1);
            return OptionsOutcome::HelpShown;
        case 'V':
            WriteWhole(STDOUT_FILENO, std::string("check_ringwarden " RINGWARDEN_VERSION_TEXT "\n"));
            return OptionsOutcome::VersionShown;
        case 'v':
            ++options.verbosity;
            break;
        case 'l': {
            ClDeviceSelector selector;
            selector.name = ClStringRange(ClString(value.c_str()));
            if (selector.name.IsEmpty()) {
                problem = "an empty line name";
                return OptionsOutcome::Rejected;
            }
            options.lines.Append(selector);
            break;
        }
        case 'T':
            options.deviceType = ClString(value.c_str());
            break;
        case 'w':
        case 'c':
            if (!(option == 'w' ? options.thresholds.warning : options.thresholds.critical).Parse(value)) {
                problem = "bad range for -" + std::string(1, static_cast<char>(option)) + ": \"" + value + "\"";
                return OptionsOutcome::Rejected;
            }
            break;
        case 't':
            if (!ReadTimeout(value, options)) {
                problem = "bad timeout \"" + value + "\": seconds from 1 to 86400, then :OK, :WARNING, :CRITICAL or :UNKNOWN if you like";
                return OptionsOutcome::Rejected;
            }
            break;
        case kCallWarningOption:
        case kCallCriticalOption:
            if (!ReadSeconds(value.c_str(), 0x7FFFFFFF, 0,
                             option == kCallWarningOption ? &options.thresholds.callWarning
                                                          : &options.thresholds.callCritical)) {
                problem = "bad call limit \"" + value + "\": a whole number of seconds from 1";
                return OptionsOutcome::Rejected;
            }
            break;
        case kPrometheusOption:
            options.prometheus = true;
            break;
        case kOutputOption:
            options.output = value;
            break;
        case ':':
            problem = std::string("option ") + argv[optind - 1] + " needs a value";
            return OptionsOutcome::Rejected;
        default:
            problem = optopt != 0 ? "unknown option -" + std::string(1, static_cast<char>(optopt))
                                  : std::string("unknown option ") + argv[optind - 1];
            return OptionsOutcome::Rejected;
        }
    }
    if (optind < argc) {
        problem = std::string("unexpected argument \"") + argv[optind] + "\"";
        return OptionsOutcome::Rejected;
    }
    if (!options.output.empty() && !options.prometheus) {
        problem = "--output needs --prometheus";
        return OptionsOutcome::Rejected;
    }
    return OptionsOutcome::Check;
}
