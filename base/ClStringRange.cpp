// ClStringRange: splitting, comparing and detaching ranges of a shared text.
#include "base/ClStringRange.h"

#include <assert.h>
#include <string.h>

ClStringRange::ClStringRange() : begin(text.GetText()), end(begin) {}

ClStringRange::ClStringRange(const ClString& s) : text(s), begin(text.GetText()), end(begin + text.GetLength()) {}

void ClStringRange::SplitAt(ClStringRange* left, ClStringRange* right, const char* at) const {
    assert(left != this);
    assert(at >= begin && at < end);
    if (left != nullptr) {
        if (at == begin) {
            *left = ClStringRange();
        } else {
            left->text = text;
            left->begin = begin;
            left->end = at;
        }
    }
    if (right != nullptr) {
        const char* const rest = end;
        right->text = text;
        right->begin = at + 1;
        right->end = rest;
    }
}

bool ClStringRange::Split(ClStringRange* left, ClStringRange* right, const char* at) const {
    return SplitOr(left, right, at, left, right);
}

bool ClStringRange::SplitFromEnd(ClStringRange* left, ClStringRange* right, const char* at) const {
    return SplitOr(left, right, at, right, left);
}

// Without a delimiter, `whole` becomes this range and then `empty` the empty
// range; in that order, so either may be this range itself.
bool ClStringRange::SplitOr(ClStringRange* left, ClStringRange* right, const char* at, ClStringRange* whole,
                            ClStringRange* empty) const {
    if (at != nullptr) {
        SplitAt(left, right, at);
        return true;
    }
    if (whole != nullptr) {
        *whole = *this;
    }
    if (empty != nullptr) {
        *empty = ClStringRange();
    }
    return false;
}

const char* ClStringRange::Find(char ch) const {
    for (const char* p = begin; p != end; ++p) {
        if (*p == ch) {
            return p;
        }
    }
    return nullptr;
}

const char* ClStringRange::FindLast(char ch) const {
    for (const char* p = end; p != begin;) {
        if (*--p == ch) {
            return p;
        }
    }
    return nullptr;
}

bool ClStringRange::EqualsNoCase(const ClStringRange& other) const {
    return ClString::CompareText(begin, other.begin, static_cast<int>(GetLength()),
                                 static_cast<int>(other.GetLength()), NORM_IGNORECASE) == 0;
}

bool ClStringRange::EqualsNoCase(const char* word) const {
    return ClString::CompareText(begin, word, static_cast<int>(GetLength()), -1, NORM_IGNORECASE) == 0;
}

void ClStringRange::BecomeEmpty() {
    text.SetEmpty();
    begin = text.GetText();
    end = begin;
}

void ClStringRange::Detach() {
    if (IsEmpty()) {
        BecomeEmpty();
        return;
    }
    const DWORD length = GetLength();
    text.Mid(text, static_cast<DWORD>(begin - text.GetText()), length);
    // Point into the new block before Compact can fail, so the range never
    // points into a block it no longer holds.
    begin = text.GetText();
    end = begin + length;
    text.Compact();
    begin = text.GetText();
    end = begin + length;
}

const char* ClStringRange::GetTerminated() {
    if (*end == '\0') {
        return begin;
    }
    if (IsEmpty()) {
        BecomeEmpty();
        return begin;
    }
    Detach();
    return begin;
}

void ClStringRange::ToString(ClString& out) {
    Detach();
    out = text;
}

char* ClStringRange::GetBuffer(DWORD n) {
    const DWORD total = text.GetLength();
    const DWORD pos = static_cast<DWORD>(begin - text.GetText());
    const DWORD available = total - pos;
    if (!text.IsShared() && n <= available) {
        // The range's own place is big enough; this only confirms the block
        // is writable, it neither moves nor grows it.
        text.GetBuffer(pos + n);
    } else {
        ClString fresh;
        char* area = fresh.GetBuffer(n);
        const DWORD kept = available < n ? available : n;
        memcpy(area, begin, kept);
        text = fresh;
        begin = text.GetText();
    }
    end = begin + n;
    return const_cast<char*>(begin);
}
