// The command line of check_ringwarden, read in the GNU style that monitoring plugins use.
#include "monitor/CheckOptions.h"

#include <errno.h>
#include <getopt.h>
#include <stdlib.h>
#include <unistd.h>

#include "resources/Version.h"

namespace {

const char kHelp[] =
    "check_ringwarden " RINGWARDEN_VERSION_TEXT "\n"
    "Checks the lines of a dial-in server through the dial-up supervisor library\n"
    "that ringwarden loads (the simulator, or the supervisor over mgetty).\n"
    "\n"
    "Usage:\n"
    "  check_ringwarden [-l LINE]... [-T TYPE] [-w RANGE] [-c RANGE] [-t SECONDS]\n"
    "  check_ringwarden --prometheus [--output FILE] [-l LINE]... [-T TYPE] [-t SECONDS]\n"
    "\n"
    "Options:\n"
    "  -h, --help            print this help\n"
    "  -V, --version         print the version\n"
    "  -l, --line=NAME       check this line only; may be given more than once\n"
    "  -T, --type=TYPE       check the lines of this device type only (modem, isdn, ...)\n"
    "  -w, --warning=RANGE   WARNING when the number of free lines is outside RANGE\n"
    "                        (default 1:, that is when no active line is free)\n"
    "  -c, --critical=RANGE  CRITICAL when the number of free lines is outside RANGE\n"
    "  -t, --timeout=SECONDS UNKNOWN when the reading takes longer (default 10)\n"
    "      --prometheus      write the reading as Prometheus metrics instead\n"
    "      --output=FILE     with --prometheus: replace FILE atomically, for\n"
    "                        node_exporter's textfile collector\n"
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

enum : int { kPrometheusOption = 256, kOutputOption };

const option kOptions[] = {
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {"line", required_argument, nullptr, 'l'},
    {"type", required_argument, nullptr, 'T'},
    {"warning", required_argument, nullptr, 'w'},
    {"critical", required_argument, nullptr, 'c'},
    {"timeout", required_argument, nullptr, 't'},
    {"prometheus", no_argument, nullptr, kPrometheusOption},
    {"output", required_argument, nullptr, kOutputOption},
    {nullptr, 0, nullptr, 0},
};

// A whole number of seconds from 1 to a day.
bool ReadTimeout(const char* text, unsigned* seconds)
{
    char* end = nullptr;
    errno = 0;
    const long value = strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != 0 || value < 1 || value > 86400) {
        return false;
    }
    *seconds = static_cast<unsigned>(value);
    return true;
}

}  // namespace

bool WriteAll(int handle, const std::string& text)
{
    const char* rest = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t written = write(handle, rest, left);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        rest += written;
        left -= static_cast<size_t>(written);
    }
    return true;
}

OptionsOutcome ReadOptions(int argc, char** argv, ClCheckOptions& options, std::string& problem)
{
    opterr = 0;
    optind = 1;
    int option;
    while ((option = getopt_long(argc, argv, ":hVl:T:w:c:t:", kOptions, nullptr)) != -1) {
        const std::string value = optarg != nullptr ? optarg : "";
        switch (option) {
        case 'h':
            WriteAll(STDOUT_FILENO, kHelp);
            return OptionsOutcome::HelpShown;
        case 'V':
            WriteAll(STDOUT_FILENO, "check_ringwarden " RINGWARDEN_VERSION_TEXT "\n");
            return OptionsOutcome::VersionShown;
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
            if (!ReadTimeout(value.c_str(), &options.timeout)) {
                problem = "bad timeout \"" + value + "\": a whole number of seconds from 1 to 86400";
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
