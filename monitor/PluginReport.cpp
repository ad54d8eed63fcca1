// The plugin's verdict over one reading, and its output in the monitoring plugins' format.
#include "monitor/PluginReport.h"

#include <stdio.h>

#include <algorithm>
#include <functional>

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

// Whether a line's call has been up longer than `limit` seconds at `now`;
// no limit (0) is never passed.
std::function<bool(const ClLineReading&)> CallOver(uint64_t now, unsigned limit)
{
    return [now, limit](const ClLineReading& line) {
        return limit != 0 && line.callStart != 0 && now > line.callStart && now - line.callStart > limit;
    };
}

uint64_t FirstCallStart(const std::vector<ClLineReading>& lines, const std::function<bool(const ClLineReading&)>& test)
{
    for (const ClLineReading& line : lines) {
        if (test(line)) {
            return line.callStart;
        }
    }
    return 0;
}

// "3d 4h", "5h 2m", "7m 9s" or "12s": the two largest units.
std::string Duration(uint64_t seconds)
{
    const uint64_t units[] = {86400, 3600, 60, 1};
    const char* const names[] = {"d", "h", "m", "s"};
    for (int i = 0; i < 3; ++i) {
        if (seconds >= units[i]) {
            return std::to_string(seconds / units[i]) + names[i] + " " + std::to_string(seconds % units[i] / units[i + 1]) +
                   names[i + 1];
        }
    }
    return std::to_string(seconds) + "s";
}

std::string LineCount(size_t count)
{
    return std::to_string(count) + (count == 1 ? " line" : " lines");
}

// The names joined by commas when they fit in `room` characters; else as
// many as fit, then "and N more"; else only their count. Says in `shown`
// how many names it shows.
std::string NameList(const std::vector<std::string>& names, size_t room, size_t* shown)
{
    std::string all;
    for (const std::string& name : names) {
        all += (all.empty() ? "" : ", ") + name;
    }
    *shown = names.size();
    if (all.size() <= room) {
        return all;
    }
    std::string some;
    size_t count = 0;
    for (; count < names.size(); ++count) {
        const std::string next = some + (count == 0 ? "" : ", ") + names[count];
        if (next.size() + (" and " + std::to_string(names.size() - count - 1) + " more").size() > room) {
            break;
        }
        some = next;
    }
    *shown = count;
    return count == 0 ? LineCount(names.size()) : some + " and " + std::to_string(names.size() - count) + " more";
}

// The first line's text: the lists of names at fault, each given the room
// the others leave (the failed lines first; at its shortest a list is only
// its count), then the summary. The count of connected lines is the first
// thing to go when the names do not all fit.
std::string FirstLine(const std::string& head, const std::vector<std::string>& failed,
                      const std::vector<std::string>& calls, const std::string& callAge, const std::string& summary,
                      const std::string& connected)
{
    const std::string failedLabel = "Monitoring failed on ";
    const std::string callLabel = calls.size() == 1 ? "long call on " : "long calls on ";
    const size_t failedLeast = LineCount(failed.size()).size();
    const size_t callLeast = LineCount(calls.size()).size();
    const size_t lists = (failed.empty() ? 0 : failedLabel.size() + failedLeast + 2) +
                         (calls.empty() ? 0 : callLabel.size() + callLeast + callAge.size() + 2);
    std::string first;
    for (const std::string& tail : {summary + connected, summary}) {
        size_t room = kFirstLineLimit - std::min<size_t>(kFirstLineLimit, head.size() + tail.size() + lists);
        first = head;
        size_t shown = 0;
        if (!failed.empty()) {
            const std::string list = NameList(failed, room + failedLeast, &shown);
            room -= std::min(room, list.size() > failedLeast ? list.size() - failedLeast : 0);
            first += failedLabel + list + "; ";
        }
        if (!calls.empty()) {
            size_t shownCalls = 0;
            first += callLabel + NameList(calls, room + callLeast, &shownCalls) + callAge + "; ";
            shown += shownCalls;
        }
        first += tail;
        if (shown == failed.size() + calls.size()) {
            break;
        }
    }
    return first;
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

PluginState Evaluate(const ClReading& reading, const ClThresholds& thresholds)
{
    const std::vector<ClLineReading>& lines = reading.lines;
    const ClThresholds effective = Effective(thresholds);
    const unsigned free = CountLines(lines, IsFree);
    if (CountLines(lines, HasFailed) > 0 || effective.critical.Alerts(free) ||
        CountLines(lines, CallOver(reading.now, thresholds.callCritical)) > 0) {
        return kStateCritical;
    }
    const bool longCall = CountLines(lines, CallOver(reading.now, thresholds.callWarning)) > 0;
    return effective.warning.Alerts(free) || longCall ? kStateWarning : kStateOk;
}

std::string FormatReport(const ClReading& reading, const ClThresholds& thresholds, unsigned verbosity)
{
    const std::vector<ClLineReading>& lines = reading.lines;
    const PluginState state = Evaluate(reading, thresholds);
    const ClThresholds effective = Effective(thresholds);
    const auto is = [](int32_t status) {
        return [status](const ClLineReading& line) { return line.status == status; };
    };
    const unsigned active = CountLines(lines, [](const ClLineReading& line) { return line.active; });
    const unsigned free = CountLines(lines, IsFree);
    const unsigned connected = CountLines(lines, is(SUPRV_STATUS_CONNECTED));
    const unsigned callLimit = thresholds.callWarning != 0 && (thresholds.callCritical == 0 ||
                                                               thresholds.callWarning < thresholds.callCritical)
                                   ? thresholds.callWarning
                                   : thresholds.callCritical;
    const auto longCall = CallOver(reading.now, callLimit);

    std::vector<std::string> failed;
    std::vector<std::string> calls;
    for (const ClLineReading& line : lines) {
        if (HasFailed(line)) {
            failed.push_back(OneLine(line.name.GetText()));
        }
        if (longCall(line)) {
            calls.push_back(OneLine(line.name.GetText()));
        }
    }
    const std::string head = std::string("RINGWARDEN ") + kStateNames[state] + " - ";
    const std::string summary = Number(free) + " of " + Number(active) + " active lines free";
    const std::string callAge = calls.size() == 1 ? " up " + Duration(reading.now - FirstCallStart(lines, longCall)) : "";
    std::string report = FirstLine(head, failed, calls, callAge, summary, ", " + Number(connected) + " connected");

    const std::string all = Number(static_cast<unsigned>(lines.size()));
    report += " | " + PerfItem("lines", static_cast<unsigned>(lines.size()), "", "", "");
    report += " " + PerfItem("active", active, "", "", all);
    report += " " + PerfItem("monitoring", CountLines(lines, is(SUPRV_STATUS_MONITORING)), "", "", all);
    report += " " + PerfItem("answering", CountLines(lines, is(SUPRV_STATUS_ANSWERING)), "", "", all);
    report += " " + PerfItem("connected", connected, "", "", all);
    report += " " + PerfItem("failed", CountLines(lines, HasFailed), "", "", all);
    report += " " + PerfItem("free", free, effective.warning.GetText(), effective.critical.GetText(), all);
    report += "\n";

    // The lines at fault: each failed line, each call up too long, and when
    // the free lines run short, every line that is not free, as that is why.
    const bool freeShort = FreeLinesAlert(effective, free);
    for (const ClLineReading& line : lines) {
        const bool atFault = HasFailed(line) || longCall(line) || (freeShort && !IsFree(line));
        if (!atFault && verbosity == 0) {
            continue;
        }
        report += OneLine(line.name.GetText()) + ": " + StatusText(line.status).GetText();
        if (!line.active) {
            report += ", server stopped";
        }
        if (!line.user.IsEmpty()) {
            report += ", user " + OneLine(line.user.GetText());
        }
        if (line.callStart != 0 && reading.now >= line.callStart) {
            report += ", call up " + Duration(reading.now - line.callStart);
        }
        if (verbosity >= 2) {
            report += ", device type " + OneLine(line.deviceType.GetText()) + ", server type " +
                      OneLine(line.serverType.GetText());
        }
        report += "\n";
    }
    return report;
}

std::string FormatProblem(PluginState state, const std::string& reason)
{
    return std::string("RINGWARDEN ") + kStateNames[state] + " - " + OneLine(reason) + "\n";
}
