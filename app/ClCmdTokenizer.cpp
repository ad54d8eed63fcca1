// ClCmdTokenizer: separators, delimiters and quoted tokens over one shared text.
#include "app/ClCmdTokenizer.h"

#include <string.h>

namespace {

bool Holds(const ClString& set, char c) { return c != '\0' && strchr(set.GetText(), c) != nullptr; }

}  // namespace

ClCmdTokenizer::ClCmdTokenizer(const ClString& keepSet, const ClString& dropSet, const ClString& openQuotes,
                               const ClString& closeQuotes)
    : dropSet(dropSet), openQuotes(openQuotes), closeQuotes(closeQuotes) {
    SetKeepSet(keepSet);
}

void ClCmdTokenizer::SetText(const ClString& text) {
    rest = ClStringRange(text);
    mark = rest;
}

void ClCmdTokenizer::SetKeepSet(const ClString& set) {
    keepSet = set;
    if (keepSet.IsEmpty()) {
        stopSet = dropSet;
    } else if (dropSet.IsEmpty()) {
        stopSet = keepSet;
    } else {
        stopSet = keepSet + dropSet;
    }
}

void ClCmdTokenizer::AdvanceTo(const char* at) {
    if (at == rest.end) {
        rest = ClStringRange();
        return;
    }
    rest.begin = at;
}

void ClCmdTokenizer::SkipDropped() {
    if (dropSet.IsEmpty() || rest.IsEmpty()) {
        return;
    }
    const char* at = rest.begin;
    while (at != rest.end && Holds(dropSet, *at)) {
        ++at;
    }
    AdvanceTo(at);
}

char ClCmdTokenizer::NextDelimiter() {
    mark = rest;
    SkipDropped();
    if (rest.IsEmpty()) {
        return 0;
    }
    const char c = *rest.begin;
    if (!Holds(keepSet, c)) {
        return 0;
    }
    AdvanceTo(rest.begin + 1);
    return c;
}

char ClCmdTokenizer::ReadToken(ClStringRange& out) {
    mark = rest;
    SkipDropped();
    if (rest.IsEmpty()) {
        out = ClStringRange();
        return 0;
    }
    const char c = *rest.begin;
    if (Holds(openQuotes, c)) {
        const DWORD position = static_cast<DWORD>(strchr(openQuotes.GetText(), c) - openQuotes.GetText());
        AdvanceTo(rest.begin + 1);
        // A quote without its closing partner runs to the end of the text.
        const char* closing = position < closeQuotes.GetLength() ? rest.Find(closeQuotes.GetText()[position]) : nullptr;
        if (closing == nullptr) {
            out = rest;
            rest = ClStringRange();
        } else {
            rest.SplitAt(&out, &rest, closing);
        }
        return c;
    }
    const char* stop = rest.begin;
    while (stop != rest.end && !Holds(stopSet, *stop)) {
        ++stop;
    }
    if (stop == rest.begin) {
        out = ClStringRange();
    } else {
        out = rest;
        out.end = stop;
    }
    AdvanceTo(stop);
    return 0;
}
