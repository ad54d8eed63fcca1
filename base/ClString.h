// ClString: the one text type, a shared reference-counted 8-bit text.
#pragma once

#include <windows.h>

// The header of a text block. The text follows it in the same allocation.
// `length` counts the terminator, so an empty text has length 1.
struct ClStringData {
    DWORD length;
    DWORD capacity;
    LONG refs;

    char* Text() { return reinterpret_cast<char*>(this + 1); }
};
static_assert(sizeof(ClStringData) == 12, "the block header is three 32-bit fields");

// A ClString is one pointer to the first character of a zero-terminated text;
// the block header sits right in front of it. Copies share the block, and a
// write first gives the writer a block of its own (copy on write). Every empty
// string shares one static empty block, which is never written or freed.
//
// Operations that allocate do so before they release anything: when memory
// runs out the allocation throws ClMemException* and the string keeps its
// previous text.
class ClString {
public:
    // Whether Resize must hand out a writable block even when the length
    // stays the same.
    enum class Write { Always, OnlyIfChanged };
    // Whether Resize may shorten the text or only lengthen it.
    enum class Length { Exact, GrowOnly };

    ClString();
    ClString(const char* text);  // NOLINT: converts like a text literal.
    ClString(const ClString& other);
    ClString(UINT id, HINSTANCE module);  // An entry of the string table.
    ~ClString();

    ClString& operator=(const ClString& other);
    ClString& operator=(const char* text);

    DWORD GetLength() const;
    bool IsEmpty() const { return GetLength() == 0; }
    const char* GetText() const { return text; }
    operator const char*() const { return text; }

    // The block header, or null when the string holds no block.
    ClStringData* GetData() const;
    static ClStringData* GetEmptyData();
    // True when a write would first have to copy the block: it has other
    // holders, or it is the empty block.
    bool IsShared() const;

    // Compares two counted texts under the user's default locale; a count of
    // -1 means up to the terminator. Returns -1, 0 or 1, or -2 when the
    // comparison itself failed. Flag 1 (NORM_IGNORECASE) ignores case.
    static int CompareText(const char* text1, const char* text2, int count1, int count2, DWORD flags);

    // The primitive behind every change of length or capacity. Returns the
    // writable text, or null when the length is unchanged, `write` is
    // OnlyIfChanged and nothing had to be done. A capacity of 0 drops the
    // block altogether.
    char* Resize(DWORD newLength, DWORD newCapacity, Write write, Length length);
    char* MakeUnique();
    // A private buffer of at least n + 1 bytes that keeps the current text;
    // byte n (or the old terminator, whichever is later) is zero.
    char* GetBuffer(DWORD n);
    // Closes a GetBuffer after n characters were written; the capacity stays.
    void ReleaseBuffer(DWORD n);
    void SetLength(DWORD n);
    void SetAt(DWORD index, char c);
    void SetEmpty();
    void Append(const char* text);
    void Append(const ClString& other);
    void AppendBytes(const char* bytes, DWORD count);
    void AssignConcat(const char* p1, DWORD k1, const char* p2, DWORD k2);
    // Sets out to count characters from pos; out may be this string.
    void Mid(ClString& out, DWORD pos, DWORD count) const;
    void Compact();

    void LoadFromTable(UINT id, HINSTANCE module);

private:
    void Hold(ClStringData* data);
    static void Release(ClStringData* data);
    static ClStringData* Allocate(DWORD length, DWORD capacity);
    bool Holds(const char* p) const;
    void AppendRun(const char* run, DWORD count);

    char* text;
};

ClString operator+(const ClString& a, const ClString& b);
