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
class ClString {
public:
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

    static int CompareText(const char* text1, const char* text2, int count1, int count2, DWORD flags);

    char* Resize(DWORD newLength, DWORD newCapacity, bool unique, bool growOnly);
    char* MakeUnique();
    char* GetBuffer(DWORD n);
    void ReleaseBuffer(DWORD n);
    void SetLength(DWORD n);
    void SetAt(DWORD index, char c);
    void SetEmpty();
    void Append(const char* text);
    void Append(const ClString& other);
    void AppendBytes(const char* bytes, DWORD count);
    void AssignConcat(const char* p1, DWORD k1, const char* p2, DWORD k2);
    void Mid(ClString& out, DWORD pos, DWORD count) const;
    void Compact();

    void LoadFromTable(UINT id, HINSTANCE module);

private:
    char* text;
};

ClString operator+(const ClString& a, const ClString& b);
