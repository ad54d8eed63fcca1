// ClCmdLine: the command-line reader, which splits a command line into positional arguments and switches.
#pragma once

#include <windows.h>

#include "app/ClCmdTokenizer.h"

// Separators are blank, tab, CR and LF; a double quote opens and closes a
// quoted token. A switch starts with "/" or "-" wherever a new argument
// starts; its key ends before ":", "/", "-" or a separator, and a value
// follows a ":". The tokens share the command-line text.
class ClCmdLine : public ClCmdTokenizer {
public:
    ClCmdLine();

    // Reads the next argument: a positional one into `argument` (and counts
    // it in argumentIndex), or a switch into `key` and `value`. Returns false
    // at the end of the text.
    bool Next();

    ClStringRange argument;
    ClStringRange key;  // Not empty exactly when the last Next read a switch.
    ClStringRange value;
    LONG argumentIndex;  // The program name is argument 0.

private:
    ClString switchPrefixes;
    ClString keyEnders;
};
