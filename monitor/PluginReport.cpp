// The plugin's verdict over one reading, and its output in the monitoring plugins' format.
#include "monitor/PluginReport.h"

#include <stdio.h>

#include "supervisor/DeviceQueries.h"
#include "supervisor/SupervisorApi.h"

namespace {

const char* const kStateNames[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};

std::string Number(unsigned value)
{
    char text[16];
    snprintf(text, sizeof(text), "%u", value);
    return text;
}

// One "label=value;warn;crit;min;max" item of the performance data; with
// no maximum, the item ends at the minimum.
std::string PerfItem(const char* label, unsigned value, const std::string& warn, const std::string& crit,
                     const std::string& max)
{
    return std::string(label) + "=" + Number(value) + ";" + warn + ";" + crit + ";0" + (max.empty() ? "" : ";" + max);
}

// What the free lines alert on: a range the user gave, else the default
// warning when no active line is free.
ClThresholds Effective(const ClThresholds& thresholds)
{
    ClThresholds effective = thresholds;
    if (effective.warning.GetText().empty()) {
        effective.warning.Parse("1:");
    }
    return effective;
}

// Whether the number of free lines raises an alert of either range.
bool FreeLinesAlert(const ClThresholds& effective, unsigned free)
{
    return effective.warning.Alerts(free) || effective.critical.Alerts(free);
}

}  // namespace

std::string OneLine(const std::string& text)
{
    std::string line;
    bool blank = false;
    for (char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            blank = !line.empty();
            continue;
        }
        if (blank) {
            line += ' ';
            blank = false;
        }
        line += byte < 0x20 || byte == 0x7F || c == '|' ? '?' : c;
    }
    return line;
}

PluginState Evaluate(const std::vector<ClLineReading>& lines, const ClThresholds& thresholds)
{
    const ClThresholds effective = Effective(thresholds);
    const unsigned free = CountLines(lines, IsFree);
    if (CountLines(lines, HasFailed) > 0 || effective.critical.Alerts(free)) {
        return kStateCritical;
    }
    return effective.warning.Alerts(free) ? kStateWarning : kStateOk;
}

std::string FormatReport(const std::vector<ClLineReading>& lines, const ClThresholds& thresholds)
{
    const PluginState state = Evaluate(lines, thresholds);
    const ClThresholds effective = Effective(thresholds);
    const auto is = [](int32_t status) {
        return [status](const ClLineReading& line) { return line.status == status; };
    };
    const unsigned active = CountLines(lines, [](const ClLineReading& line) { return line.active; });
    const unsigned free = CountLines(lines, IsFree);
    const unsigned connected = CountLines(lines, is(SUPRV_STATUS_CONNECTED));

    std::string failedNames;
    for (const ClLineReading& line : lines) {
        if (HasFailed(line)) {
            failedNames += (failedNames.empty() ? "" : ", ") + OneLine(line.name.GetText());
        }
    }
    std::string report = std::string("RINGWARDEN ") + kStateNames[state] + " - ";
    if (!failedNames.empty()) {
        report += "Monitoring failed on " + failedNames + "; ";
    }
    report += Number(free) + " of " + Number(active) + " active lines free, " + Number(connected) + " connected, " +
              Number(static_cast<unsigned>(lines.size())) + " lines";

    const std::string all = Number(static_cast<unsigned>(lines.size()));
    report += " | " + PerfItem("lines", static_cast<unsigned>(lines.size()), "", "", "");
    report += " " + PerfItem("active", active, "", "", all);
    report += " " + PerfItem("monitoring", CountLines(lines, is(SUPRV_STATUS_MONITORING)), "", "", all);
    report += " " + PerfItem("answering", CountLines(lines, is(SUPRV_STATUS_ANSWERING)), "", "", all);
    report += " " + PerfItem("connected", connected, "", "", all);
    report += " " + PerfItem("failed", CountLines(lines, HasFailed), "", "", all);
    report += " " + PerfItem("free", free, effective.warning.GetText(), effective.critical.GetText(), all);
    report += "\n";

    // The lines at fault: each failed line, and when the free lines run
    // short, every line that is not free, as that is why.
    const bool freeShort = FreeLinesAlert(effective, free);
    for (const ClLineReading& line : lines) {
        if (!HasFailed(line) && !(freeShort && !IsFree(line))) {
            continue;
        }
        report += OneLine(line.name.GetText()) + ": " + StatusText(line.status).GetText();
        if (!line.active) {
            report += ", server stopped";
        }
        if (!line.user.IsEmpty()) {
            report += ", user " + OneLine(line.user.GetText());
        }
        report += "\n";
    }
    return report;
}

std::string FormatUnknown(const std::string& reason)
{
    return std::string("RINGWARDEN ") + kStateNames[kStateUnknown] + " - " + OneLine(reason) + "\n";
}
