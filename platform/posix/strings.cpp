// Locale-aware comparison of texts (CompareStringA) and the Windows formatter (wsprintfA).
#include <errno.h>
#include <locale.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <wctype.h>

#include <atomic>

#include "platform/posix/StringsSeam.h"
#include "platform/posix/private.h"

namespace {

locale_t LoadUserLocale() {
    locale_t locale = newlocale(LC_CTYPE_MASK | LC_COLLATE_MASK, "", nullptr);
    if (locale == nullptr) {
        locale = newlocale(LC_CTYPE_MASK | LC_COLLATE_MASK, "C", nullptr);
    }
    return locale;
}

std::atomic<locale_t> g_userLocale{nullptr};

// The locale is made on first use and kept; the process's own (global)
// locale is never changed.
locale_t UserLocale() {
    locale_t locale = g_userLocale.load();
    if (locale != nullptr) {
        return locale;
    }
    locale_t fresh = LoadUserLocale();
    if (!g_userLocale.compare_exchange_strong(locale, fresh)) {
        freelocale(fresh);
        return locale;
    }
    return fresh;
}

// A text decoded into wide characters. Bytes that are no character of the
// locale's encoding stand for themselves above the Unicode range; such a text
// is compared by code points, since the collation knows nothing of them.
// Texts as short as the words and device names the program compares are
// decoded in place: a comparison that needs no memory cannot fail for the
// lack of it, and a name must never go unmatched because memory ran short.
struct WideText {
    wchar_t* chars = nullptr;
    size_t length = 0;
    bool hasRawBytes = false;
    wchar_t inPlace[256];

    ~WideText() {
        if (chars != inPlace) {
            free(chars);
        }
    }
};

const wchar_t kRawByteBase = 0x110000;

// Letters of ASCII fold by the ASCII rule in every locale, as NORM_IGNORECASE
// folds them without linguistic casing: under a Turkish locale "I" would
// otherwise fold to a dotless i, and a command word or device name typed in
// capitals would match nothing.
wchar_t FoldAscii(wchar_t c) {
    return c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c;
}

// Decodes the first limit bytes under the thread's current locale.
bool Decode(const char* text, size_t limit, bool foldCase, locale_t locale, WideText& out) {
    out.chars = limit < sizeof(out.inPlace) / sizeof(out.inPlace[0])
                    ? out.inPlace
                    : static_cast<wchar_t*>(malloc((limit + 1) * sizeof(wchar_t)));
    if (out.chars == nullptr) {
        return false;
    }
    mbstate_t state{};
    size_t at = 0;
    while (at < limit) {
        wchar_t c;
        const size_t used = mbrtowc(&c, text + at, limit - at, &state);
        if (used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2) || used == 0) {
            c = kRawByteBase + static_cast<unsigned char>(text[at]);
            out.hasRawBytes = true;
            state = mbstate_t{};
            at += 1;
        } else {
            at += used;
        }
        if (foldCase && c < kRawByteBase) {
            c = c < 0x80 ? FoldAscii(c) : towlower_l(c, locale);
        }
        out.chars[out.length++] = c;
    }
    out.chars[out.length] = L'\0';
    return true;
}

wchar_t Unchanged(wchar_t c) {
    return c;
}

// Orders two texts by their characters after fold, a shorter text before a
// longer one it begins.
template <class Char>
int CompareCodePoints(const Char* a, size_t lengthA, const Char* b, size_t lengthB, wchar_t (*fold)(wchar_t)) {
    const size_t common = lengthA < lengthB ? lengthA : lengthB;
    for (size_t i = 0; i < common; ++i) {
        const wchar_t x = fold(static_cast<wchar_t>(a[i]));
        const wchar_t y = fold(static_cast<wchar_t>(b[i]));
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    return lengthA == lengthB ? 0 : (lengthA < lengthB ? -1 : 1);
}

// The length of a text up to its count or an earlier zero byte (a negative
// count means up to the terminator); clears ascii when a byte is outside ASCII.
size_t MeasureText(const char* text, int count, bool& ascii) {
    const size_t limit = count < 0 ? static_cast<size_t>(-1) : static_cast<size_t>(count);
    size_t length = 0;
    for (; length < limit && text[length] != '\0'; ++length) {
        if (static_cast<unsigned char>(text[length]) >= 0x80) {
            ascii = false;
        }
    }
    return length;
}

// Texts wholly in ASCII are ordered by their code points, as the C locale
// orders them, so that comparing command words and device names never loads
// the user's locale. Two such texts are equal exactly when the locale would
// find them equal, Turkish casing aside (above).
int CompareAsciiTexts(const char* a, size_t lengthA, const char* b, size_t lengthB, bool foldCase) {
    return CompareCodePoints(reinterpret_cast<const unsigned char*>(a), lengthA,
                             reinterpret_cast<const unsigned char*>(b), lengthB, foldCase ? FoldAscii : Unchanged);
}

// Texts with a byte outside ASCII follow the user's locale: its encoding, its
// case folding and its collation. Fails with the last error set.
bool CompareInUserLocale(const char* string1, size_t length1, const char* string2, size_t length2,
                         bool foldCase, int& order) {
    const locale_t user = UserLocale();
    if (user == nullptr) {
        SetLastErrorFromErrno(errno);
        return false;
    }
    WideText a;
    WideText b;
    const locale_t previous = uselocale(user);
    const bool decoded = Decode(string1, length1, foldCase, user, a) && Decode(string2, length2, foldCase, user, b);
    uselocale(previous);
    if (!decoded) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    if (a.hasRawBytes || b.hasRawBytes) {
        order = CompareCodePoints(a.chars, a.length, b.chars, b.length, Unchanged);
    } else {
        order = wcscoll_l(a.chars, b.chars, user);
    }
    return true;
}

}  // namespace

void ReloadUserLocaleForTesting() {
    locale_t old = g_userLocale.exchange(LoadUserLocale());
    if (old != nullptr) {
        freelocale(old);
    }
}

// Every locale identifier means the user's locale as the environment names
// it. Of the flags only NORM_IGNORECASE has an effect. A counted text ends at
// its count or at an earlier zero byte.
int WINAPI CompareStringA(LCID locale, DWORD flags, LPCSTR string1, int count1, LPCSTR string2,
                          int count2) {
    (void)locale;
    if (string1 == nullptr || string2 == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const bool foldCase = (flags & NORM_IGNORECASE) != 0;
    bool ascii = true;
    const size_t length1 = MeasureText(string1, count1, ascii);
    const size_t length2 = MeasureText(string2, count2, ascii);
    int order = 0;
    if (ascii) {
        order = CompareAsciiTexts(string1, length1, string2, length2, foldCase);
    } else if (!CompareInUserLocale(string1, length1, string2, length2, foldCase, order)) {
        return 0;
    }
    if (order < 0) {
        return CSTR_LESS_THAN;
    }
    return order == 0 ? CSTR_EQUAL : CSTR_GREATER_THAN;
}

namespace {

// The formatter's output never exceeds 1024 bytes, the terminator included.
const size_t kFormatLimit = 1024;

struct Output {
    char* buffer;
    size_t used = 0;

    void Put(char c) {
        if (used < kFormatLimit - 1) {
            buffer[used++] = c;
        }
    }
    void Repeat(char c, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            Put(c);
        }
    }
};

struct Directive {
    bool leftAlign = false;
    bool zeroPad = false;
    bool alternate = false;
    size_t width = 0;
    bool hasPrecision = false;
    size_t precision = 0;
    char size = 0;  // 'h', 'l' or none.
    char type = 0;
};

size_t ReadNumber(const char*& at) {
    size_t value = 0;
    while (*at >= '0' && *at <= '9') {
        if (value < kFormatLimit) {
            value = value * 10 + static_cast<size_t>(*at - '0');
        }
        ++at;
    }
    return value;
}

const char* ReadDirective(const char* at, Directive& d) {
    for (;; ++at) {
        if (*at == '-') {
            d.leftAlign = true;
        } else if (*at == '0') {
            d.zeroPad = true;
        } else if (*at == '#') {
            d.alternate = true;
        } else {
            break;
        }
    }
    d.width = ReadNumber(at);
    if (*at == '.') {
        ++at;
        d.hasPrecision = true;
        d.precision = ReadNumber(at);
    }
    if (*at == 'l' || *at == 'h') {
        d.size = *at++;
    }
    d.type = *at;
    return *at != '\0' ? at + 1 : at;
}

// Writes body (count characters) padded to the directive's width; the prefix
// (sign or 0x) goes before any zero padding.
void PutField(Output& out, const Directive& d, const char* prefix, size_t zeros, const char* body, size_t count) {
    const size_t prefixLength = strlen(prefix);
    const size_t content = prefixLength + zeros + count;
    const size_t padding = d.width > content ? d.width - content : 0;
    const bool padWithZeros = d.zeroPad && !d.leftAlign && !d.hasPrecision && d.type != 's' && d.type != 'c';
    if (!d.leftAlign && !padWithZeros) {
        out.Repeat(' ', padding);
    }
    for (size_t i = 0; i < prefixLength; ++i) {
        out.Put(prefix[i]);
    }
    out.Repeat('0', zeros + (padWithZeros ? padding : 0));
    for (size_t i = 0; i < count; ++i) {
        out.Put(body[i]);
    }
    if (d.leftAlign) {
        out.Repeat(' ', padding);
    }
}

void PutNumber(Output& out, const Directive& d, unsigned long long value, bool negative) {
    const bool hex = d.type == 'x' || d.type == 'X' || d.type == 'p';
    const char* digits = d.type == 'x' ? "0123456789abcdef" : "0123456789ABCDEF";
    char text[32];
    size_t count = 0;
    for (unsigned long long rest = value; rest != 0; rest /= hex ? 16 : 10) {
        text[sizeof(text) - 1 - count++] = digits[rest % (hex ? 16 : 10)];
    }
    size_t minimum = d.hasPrecision ? d.precision : 1;
    if (d.type == 'p') {
        minimum = 2 * sizeof(void*);
    }
    const size_t zeros = minimum > count ? minimum - count : 0;
    const char* prefix = "";
    if (negative) {
        prefix = "-";
    } else if (d.alternate && value != 0 && (d.type == 'x' || d.type == 'X')) {
        prefix = d.type == 'x' ? "0x" : "0X";
    }
    PutField(out, d, prefix, zeros, text + sizeof(text) - count, count);
}

void PutSignedNumber(Output& out, const Directive& d, long long value) {
    const unsigned long long magnitude =
        value < 0 ? 0ULL - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
    PutNumber(out, d, magnitude, value < 0);
}

char NarrowOf(wint_t c) {
    return c < 0x80 ? static_cast<char>(c) : '?';
}

void PutText(Output& out, const Directive& d, va_list& arguments, bool wide) {
    const char* narrow = nullptr;
    const wchar_t* wideText = nullptr;
    if (wide) {
        wideText = va_arg(arguments, const wchar_t*);
    } else {
        narrow = va_arg(arguments, const char*);
    }
    if (narrow == nullptr && wideText == nullptr) {
        narrow = "(null)";
    }
    size_t count = narrow != nullptr ? strlen(narrow) : wcslen(wideText);
    if (d.hasPrecision && d.precision < count) {
        count = d.precision;
    }
    if (narrow != nullptr) {
        PutField(out, d, "", 0, narrow, count);
        return;
    }
    char converted[kFormatLimit];
    const size_t kept = count < sizeof(converted) ? count : sizeof(converted);
    for (size_t i = 0; i < kept; ++i) {
        converted[i] = NarrowOf(static_cast<wint_t>(wideText[i]));
    }
    PutField(out, d, "", 0, converted, kept);
}

void PutDirective(Output& out, const Directive& d, va_list& arguments) {
    switch (d.type) {
    case 'c':
    case 'C': {
        const char c = d.size == 'l' || d.type == 'C' ? NarrowOf(va_arg(arguments, wint_t))
                                                      : static_cast<char>(va_arg(arguments, int));
        PutField(out, d, "", 0, &c, 1);
        return;
    }
    case 's':
    case 'S':
        PutText(out, d, arguments, d.size == 'l' || (d.type == 'S' && d.size != 'h'));
        return;
    // A long is 32 bits on Windows, so l reads the same 32-bit argument as no
    // size does: a LONG or a DWORD, never a POSIX long.
    case 'd':
    case 'i':
        if (d.size == 'h') {
            PutSignedNumber(out, d, static_cast<short>(va_arg(arguments, int)));
        } else {
            PutSignedNumber(out, d, va_arg(arguments, int));
        }
        return;
    case 'u':
    case 'x':
    case 'X':
        if (d.size == 'h') {
            PutNumber(out, d, static_cast<unsigned short>(va_arg(arguments, unsigned int)), false);
        } else {
            PutNumber(out, d, va_arg(arguments, unsigned int), false);
        }
        return;
    case 'p':
        PutNumber(out, d, reinterpret_cast<uintptr_t>(va_arg(arguments, void*)), false);
        return;
    case '\0':
        return;
    default:
        // An unknown type character, '%' among them, stands for itself.
        out.Put(d.type);
        return;
    }
}

}  // namespace

// Supports %c %s %d %i %u %x %X %p with the prefixes h and l, the flags - 0 #,
// a width and a precision; no floating point and no '*'. The output is cut at
// 1023 characters and always terminated; the result is its length.
int WINAPI wvsprintfA(LPSTR buffer, LPCSTR format, va_list arguments) {
    if (buffer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    Output out{buffer};
    va_list rest;
    va_copy(rest, arguments);
    for (const char* at = format != nullptr ? format : ""; *at != '\0';) {
        if (*at != '%') {
            out.Put(*at++);
            continue;
        }
        Directive d;
        at = ReadDirective(at + 1, d);
        PutDirective(out, d, rest);
    }
    va_end(rest);
    buffer[out.used] = '\0';
    return static_cast<int>(out.used);
}

int wsprintfA(LPSTR buffer, LPCSTR format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const int result = wvsprintfA(buffer, format, arguments);
    va_end(arguments);
    return result;
}
