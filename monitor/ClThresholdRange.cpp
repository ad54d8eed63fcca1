// ClThresholdRange: reading a range and testing a value against it.
#include "monitor/ClThresholdRange.h"

#include <math.h>
#include <stdlib.h>

// A decimal number as strtod reads it, but neither hexadecimal, infinite nor NaN.
static bool ReadNumber(const std::string& text, double* value)
{
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    *value = strtod(text.c_str(), &end);
    return *end == 0 && isfinite(*value) && text.find_first_of("xX") == std::string::npos;
}

ClThresholdRange::ClThresholdRange()
    : set(false), inside(false), hasStart(true), hasEnd(false), start(0), end(0)
{
}

bool ClThresholdRange::Parse(const std::string& given)
{
    ClThresholdRange range;
    std::string rest = given;
    if (!rest.empty() && rest[0] == '@') {
        range.inside = true;
        rest.erase(0, 1);
    }
    const size_t colon = rest.find(':');
    std::string endText = rest;
    if (colon != std::string::npos) {
        const std::string startText = rest.substr(0, colon);
        endText = rest.substr(colon + 1);
        if (startText == "~") {
            range.hasStart = false;
        } else if (!ReadNumber(startText, &range.start)) {
            return false;
        }
    }
    if (!endText.empty()) {
        if (!ReadNumber(endText, &range.end)) {
            return false;
        }
        range.hasEnd = true;
    } else if (colon == std::string::npos) {
        return false;
    }
    if (range.hasStart && range.hasEnd && range.start > range.end) {
        return false;
    }
    range.set = true;
    range.text = given;
    *this = range;
    return true;
}

bool ClThresholdRange::Alerts(double value) const
{
    if (!set) {
        return false;
    }
    const bool within = (!hasStart || value >= start) && (!hasEnd || value <= end);
    return inside ? within : !within;
}
