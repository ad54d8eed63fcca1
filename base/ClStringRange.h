// ClStringRange: a stretch of characters inside a ClString, handled without copying.
#pragma once

#include <windows.h>

#include "base/ClString.h"

// A range holds a reference to its string's block, so it keeps its text alive
// after the string it came from is gone; it does not keep the block private,
// so nothing may write into a shared block the range points into.
// Invariant: begin <= end, both inside text's characters or at its terminator.
class ClStringRange {
public:
    // The canonical empty range: the empty string, begin = end = its text.
    ClStringRange();
    // The whole string, end at its terminator.
    explicit ClStringRange(const ClString& s);

    DWORD GetLength() const { return static_cast<DWORD>(end - begin); }
    bool IsEmpty() const { return begin == end; }

    // Splits around the delimiter at `at` (inside this range), which belongs
    // to neither part. Either target may be null. left is never this range;
    // right may be, which is how a text is stepped through token by token.
    void SplitAt(ClStringRange* left, ClStringRange* right, const char* at) const;
    // With no delimiter (at null), all goes left and right is empty.
    bool Split(ClStringRange* left, ClStringRange* right, const char* at) const;
    // With no delimiter (at null), all goes right and left is empty.
    bool SplitFromEnd(ClStringRange* left, ClStringRange* right, const char* at) const;

    // The first or last occurrence of ch in the range, or null.
    const char* Find(char ch) const;
    const char* FindLast(char ch) const;

    // Equal, ignoring case under the user's locale, each by its own length.
    bool EqualsNoCase(const ClStringRange& other) const;
    bool EqualsNoCase(const char* word) const;

    // A zero-terminated text of the range's characters; copies only when the
    // range stops short of its text's end.
    const char* GetTerminated();
    // Afterwards out shares a block that holds exactly the range's characters.
    void ToString(ClString& out);
    // Afterwards text holds exactly the range's characters, in a block no larger.
    void Detach();
    // A private writable area of n characters at the range's start, zero
    // beyond the old characters; afterwards end = begin + n.
    char* GetBuffer(DWORD n);

    ClString text;
    const char* begin;
    const char* end;

private:
    bool SplitOr(ClStringRange* left, ClStringRange* right, const char* at, ClStringRange* whole,
                 ClStringRange* empty) const;
    void BecomeEmpty();
};
