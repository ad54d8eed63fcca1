// ClString: blocks, reference counting, copy on write and the buffer protocol.
#include "base/ClString.h"

#include <assert.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <new>

#include "errors/OutOfMemory.h"
#include "platform/GuardedCall.h"

namespace {

// The empty block: length 1, capacity 1, the empty text. Its count starts at
// the largest positive value and is changed like any other, but the block is
// never freed and never written, so wrapping around is harmless.
struct EmptyBlock {
    ClStringData header;
    char text[4];
};
EmptyBlock g_emptyBlock = {{1, 1, 0x7FFFFFFF}, {0, 0, 0, 0}};
static_assert(offsetof(EmptyBlock, text) == sizeof(ClStringData), "the text follows the header");

ClStringData* const g_empty = &g_emptyBlock.header;

// Lengths are 32-bit. A sum that does not fit asks for more memory than there
// can be, so it ends the way an exhausted heap does.
DWORD AddLengths(size_t a, size_t b) {
    if (a > 0xFFFFFFFFu || b > 0xFFFFFFFFu - a) {
        OnOutOfMemory(SIZE_MAX);
    }
    return static_cast<DWORD>(a + b);
}

void AddRef(ClStringData* data) {
    if (data == nullptr) {
        return;
    }
    // Only the sign of the result is certain on every system of the family.
    const LONG refs = InterlockedIncrement(&data->refs);
    (void)refs;
    assert(data == g_empty || refs > 0);
}

// Copies count bytes into a fresh block's text and zeroes the rest of it, so a
// block never holds uninitialised bytes.
// Writes go only to a block this string holds alone.
void AssertSoleHolder(const ClStringData* data) {
    (void)data;
    assert(data != nullptr && data != g_empty && data->refs == 1);
}

void Fill(ClStringData* data, const char* source, DWORD count) {
    if (count > 0) {
        memcpy(data->Text(), source, count);
    }
    memset(data->Text() + count, 0, data->capacity - count);
}

}  // namespace

ClStringData* ClString::GetEmptyData() {
    return g_empty;
}

ClStringData* ClString::Allocate(DWORD length, DWORD capacity) {
    const size_t header = sizeof(ClStringData);
    const size_t size = static_cast<size_t>(capacity) <= SIZE_MAX - header ? header + capacity : SIZE_MAX;
    auto* data = static_cast<ClStringData*>(::operator new(size));
    data->length = length;
    data->capacity = capacity;
    data->refs = 1;
    return data;
}

void ClString::Release(ClStringData* data) {
    if (data == nullptr) {
        return;
    }
    if (data == g_empty) {
        InterlockedDecrement(&data->refs);
        return;
    }
    assert(data->refs >= 1);
    if (InterlockedDecrement(&data->refs) == 0) {
        ::operator delete(data);
    }
}

void ClString::Hold(ClStringData* data) {
    AddRef(data);
    ClStringData* old = GetData();
    text = data != nullptr ? data->Text() : nullptr;
    Release(old);
}

bool ClString::Holds(const char* p) const {
    const ClStringData* data = GetData();
    if (data == nullptr || p == nullptr) {
        return false;
    }
    const uintptr_t start = reinterpret_cast<uintptr_t>(text);
    const uintptr_t at = reinterpret_cast<uintptr_t>(p);
    return at >= start && at - start < data->capacity;
}

ClString::ClString() : text(g_empty->Text()) {
    AddRef(g_empty);
}

ClString::ClString(const char* source) : text(nullptr) {
    const size_t count = source != nullptr ? strlen(source) : 0;
    if (count == 0) {
        AddRef(g_empty);
        text = g_empty->Text();
        return;
    }
    const DWORD length = AddLengths(count, 1);
    Resize(length, length, Write::Always, Length::GrowOnly);
    memcpy(text, source, count);
}

ClString::ClString(const ClString& other) : text(other.text) {
    AddRef(GetData());
}

ClString::ClString(UINT id, HINSTANCE module) : ClString() {
    LoadFromTable(id, module);
}

ClString::~ClString() {
    Release(GetData());
}

ClString& ClString::operator=(const ClString& other) {
    Hold(other.GetData());
    return *this;
}

ClString& ClString::operator=(const char* source) {
    const size_t count = source != nullptr ? strlen(source) : 0;
    if (count == 0) {
        SetEmpty();
        return *this;
    }
    // The source may lie in this string's own block; holding a second
    // reference makes Resize move the text to a new block first.
    ClString keep;
    if (Holds(source)) {
        keep = *this;
    }
    const DWORD length = AddLengths(count, 1);
    Resize(length, length, Write::Always, GetData() != nullptr ? Length::Exact : Length::GrowOnly);
    memcpy(text, source, count);
    text[count] = '\0';
    return *this;
}

ClStringData* ClString::GetData() const {
    return text != nullptr ? reinterpret_cast<ClStringData*>(text) - 1 : nullptr;
}

DWORD ClString::GetLength() const {
    const ClStringData* data = GetData();
    return data != nullptr ? data->length - 1 : 0;
}

bool ClString::IsShared() const {
    const ClStringData* data = GetData();
    return data == g_empty || (data != nullptr && data->refs > 1);
}

int ClString::CompareText(const char* text1, const char* text2, int count1, int count2, DWORD flags) {
    return CallGuarded([&] { return CompareStringA(LOCALE_USER_DEFAULT, flags, text1, count1, text2, count2); }) - 2;
}

char* ClString::Resize(DWORD newLength, DWORD newCapacity, Write write, Length length) {
    ClStringData* old = GetData();
    if (newCapacity == 0) {
        text = nullptr;
        Release(old);
        return nullptr;
    }
    if (newCapacity < newLength) {
        newCapacity = newLength;
    }
    if (old == nullptr) {
        ClStringData* fresh = Allocate(newLength, newCapacity);
        Fill(fresh, nullptr, 0);
        text = fresh->Text();
        return text;
    }
    const DWORD oldLength = old->length;
    if (length == Length::GrowOnly && newLength < oldLength) {
        newLength = oldLength;
    }
    if (newCapacity > old->capacity) {
        ClStringData* fresh = Allocate(newLength, newCapacity);
        Fill(fresh, text, newLength < oldLength ? newLength : oldLength);
        text = fresh->Text();
        Release(old);
        return text;
    }
    if (newLength == oldLength && write == Write::OnlyIfChanged) {
        return nullptr;
    }
    if (IsShared()) {
        ClStringData* copy = Allocate(oldLength, old->capacity);
        Fill(copy, text, oldLength);
        text = copy->Text();
        Release(old);
    }
    ClStringData* data = GetData();
    AssertSoleHolder(data);
    if (newLength > oldLength) {
        memset(text + oldLength, 0, newLength - oldLength);
    }
    data->length = newLength;
    return text;
}

char* ClString::MakeUnique() {
    ClStringData* old = GetData();
    if (old == nullptr || !IsShared()) {
        return text;
    }
    ClStringData* copy = Allocate(old->length, old->capacity);
    Fill(copy, text, old->length);
    text = copy->Text();
    Release(old);
    return text;
}

char* ClString::GetBuffer(DWORD n) {
    DWORD size = AddLengths(n, 1);
    if (size < GetLength() + 1) {
        size = GetLength() + 1;
    }
    Resize(size, size, Write::Always, Length::GrowOnly);
    text[size - 1] = '\0';
    return text;
}

void ClString::ReleaseBuffer(DWORD n) {
    if (GetData() == nullptr) {
        SetEmpty();
        return;
    }
    MakeUnique();
    AssertSoleHolder(GetData());
    // A writer cannot have written past the buffer it was given.
    const DWORD capacity = GetData()->capacity;
    if (n >= capacity) {
        n = capacity - 1;
    }
    text[n] = '\0';
    Resize(n + 1, n + 1, Write::OnlyIfChanged, Length::Exact);
}

void ClString::SetLength(DWORD n) {
    const DWORD length = AddLengths(n, 1);
    Resize(length, length, Write::Always, Length::Exact);
    text[n] = '\0';
}

void ClString::SetAt(DWORD index, char c) {
    MakeUnique();
    const ClStringData* data = GetData();
    AssertSoleHolder(data);
    assert(data != nullptr && index < data->capacity);
    if (data != nullptr && index < data->capacity) {
        text[index] = c;
    }
}

void ClString::SetEmpty() {
    if (GetData() != g_empty) {
        Hold(g_empty);
    }
}

void ClString::AppendRun(const char* run, DWORD count) {
    ClString keep;
    if (Holds(run)) {
        keep = *this;
    }
    const DWORD oldLength = GetLength() + 1;
    const DWORD length = AddLengths(oldLength, count);
    Resize(length, length, Write::Always, Length::Exact);
    text[length - 1] = '\0';
    memcpy(text + oldLength - 1, run, count);
}

void ClString::Append(const char* source) {
    if (source == nullptr || source[0] == '\0') {
        return;
    }
    AppendRun(source, AddLengths(strlen(source), 0));
}

void ClString::Append(const ClString& other) {
    if (other.IsEmpty()) {
        return;
    }
    if (IsEmpty()) {
        *this = other;
        return;
    }
    AppendRun(other.text, other.GetLength());
}

void ClString::AppendBytes(const char* bytes, DWORD count) {
    if (count == 0) {
        return;
    }
    assert(bytes != nullptr);
    AppendRun(bytes, count);
}

void ClString::AssignConcat(const char* p1, DWORD k1, const char* p2, DWORD k2) {
    ClString keep;
    if (Holds(p1) || Holds(p2)) {
        keep = *this;
    }
    const DWORD length = AddLengths(AddLengths(k1, k2), 1);
    Resize(length, length, Write::Always, Length::Exact);
    if (k1 > 0) {
        memcpy(text, p1, k1);
    }
    if (k2 > 0) {
        memcpy(text + k1, p2, k2);
    }
    text[length - 1] = '\0';
}

void ClString::Mid(ClString& out, DWORD pos, DWORD count) const {
    const DWORD n = GetLength();
    if (pos >= n) {
        out.SetEmpty();
        return;
    }
    if (count > n - pos) {
        count = n - pos;
    }
    if (count == 0) {
        out.SetEmpty();
        return;
    }
    if (pos == 0 && count == n) {
        out = *this;
        return;
    }
    if (&out == this && pos == 0) {
        out.Resize(count + 1, count + 1, Write::Always, Length::Exact);
        out.text[count] = '\0';
        return;
    }
    // Holding the source block keeps the characters in place while out (which
    // may be this very string) gets a block of its own.
    const ClString source(*this);
    out.Resize(count + 1, count + 1, Write::Always, Length::Exact);
    out.text[count] = '\0';
    memcpy(out.text, source.text + pos, count);
}

void ClString::Compact() {
    ClStringData* old = GetData();
    if (old == nullptr || old->length == old->capacity) {
        return;
    }
    ClStringData* fresh = Allocate(old->length, old->length);
    Fill(fresh, text, old->length);
    text = fresh->Text();
    Release(old);
}

ClString operator+(const ClString& a, const ClString& b) {
    if (a.IsEmpty()) {
        return b;
    }
    if (b.IsEmpty()) {
        return a;
    }
    ClString result;
    result.AssignConcat(a.GetText(), a.GetLength(), b.GetText(), b.GetLength());
    return result;
}
