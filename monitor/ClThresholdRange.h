// ClThresholdRange: a warning or critical range in the monitoring plugins' syntax.
#pragma once

#include <string>

// "[@][start:][end]": start defaults to 0, "~" as the start means no lower
// bound, an empty end means no upper bound, and both bounds belong to the
// range. A value outside the range raises the alert; with "@" in front, a
// value inside it does. So "10" alerts below 0 or above 10, "1:" below 1,
// "~:5" above 5 and "@2:3" from 2 to 3.
class ClThresholdRange {
public:
    // A range that never alerts, written as the empty text.
    ClThresholdRange();

    // Reads `text`; returns false, leaving the range as it was, when it is
    // not a range or its start lies above its end.
    bool Parse(const std::string& text);

    bool Alerts(double value) const;
    // The text it was read from, for the performance data.
    const std::string& GetText() const { return text; }

private:
    std::string text;
    bool set;
    bool inside;
    bool hasStart;
    bool hasEnd;
    double start;
    double end;
};
