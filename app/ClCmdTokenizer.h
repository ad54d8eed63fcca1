// ClCmdTokenizer: a small general tokenizer over one shared text, with separators, delimiters and quotes.
#pragma once

#include "base/ClString.h"
#include "base/ClStringRange.h"

// Tokens are ranges over the text handed to SetText, so they keep that text
// alive and copy nothing. An unquoted token ends before any character of the
// stop set (the keep set, then the separators); a quoted token runs to its
// closing quote, or to the end of the text when there is none.
class ClCmdTokenizer {
public:
    // Each opening quote closes with the character at the same position of
    // closeQuotes.
    ClCmdTokenizer(const ClString& keepSet, const ClString& dropSet, const ClString& openQuotes,
                   const ClString& closeQuotes);

    // Reading starts over at the first character of text.
    void SetText(const ClString& text);
    void SetKeepSet(const ClString& set);

    // Skips separators; when the next character is in the keep set, consumes
    // and returns it. Returns 0 otherwise, leaving that character unread.
    char NextDelimiter();
    // Skips separators and reads one token into out. Returns the opening
    // quote when the token was quoted, else 0.
    char ReadToken(ClStringRange& out);

protected:
    ClStringRange rest;  // What is not read yet.
    ClStringRange mark;  // Where rest stood when the last read began.
    ClString keepSet;
    ClString dropSet;
    ClString openQuotes;
    ClString closeQuotes;
    ClString stopSet;  // keepSet followed by dropSet.

private:
    void SkipDropped();
    // Moves the start of rest to `at`; a used-up rest lets go of the text.
    void AdvanceTo(const char* at);
};
