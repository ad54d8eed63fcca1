// ClCmdLine: positional arguments and switches of a command line.
#include "app/ClCmdLine.h"

ClCmdLine::ClCmdLine()
    : ClCmdTokenizer(ClString(), ClString(" \t\r\n"), ClString("\""), ClString("\"")),
      argumentIndex(-1),
      switchPrefixes("/-"),
      keyEnders(":/-") {}

// A prefix with no key after it is skipped, so //N:2 reads as /N:2. When the
// key is not followed by ":", whatever was skipped looking for it is given
// back for the next argument.
bool ClCmdLine::Next() {
    argument = ClStringRange();
    key = ClStringRange();
    value = ClStringRange();
    if (rest.IsEmpty()) {
        return false;
    }
    for (;;) {
        SetKeepSet(switchPrefixes);
        if (NextDelimiter() == 0) {
            SetKeepSet(switchPrefixes);
            ReadToken(argument);
            ++argumentIndex;
            return true;
        }
        SetKeepSet(keyEnders);
        ReadToken(key);
        if (!key.IsEmpty()) {
            break;
        }
        if (rest.IsEmpty()) {
            return false;
        }
    }
    if (NextDelimiter() == ':') {
        SetKeepSet(switchPrefixes);
        ReadToken(value);
        return true;
    }
    rest = mark;
    return true;
}
