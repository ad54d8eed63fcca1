// Fuzzes the string-table loader, the formatters and the shared string beneath them against plain models.
//
// Each input is a program of operations on two strings, checked after every
// step against std::string: loading entries, formatting entries and texts
// whose output outgrows the format, appending, cutting and copying (also from
// a string's own text), the buffer protocol, ranges, the crash report's
// number formatting and the locale comparison.
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include <fuzzer/FuzzedDataProvider.h>

#include "base/ClString.h"
#include "base/ClStringRange.h"
#include "base/Resources.h"
#include "errors/ClException.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

std::string Printed(const char* format, ...) {
    va_list values;
    va_start(values, format);
    va_list copy;
    va_copy(copy, values);
    const int length = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    vsnprintf(&out[0], out.size() + 1, format, values);
    va_end(values);
    return out;
}

std::string TextOf(const ClString& s) { return std::string(s.GetText(), s.GetLength()); }

void RequireSame(const ClString& s, const std::string& model) {
    const ClStringData* data = s.GetData();
    Require(data != nullptr, "a string always holds a block");
    Require(data->length <= data->capacity, "the block header is sound");
    Require(data == ClString::GetEmptyData() || data->refs >= 1, "a held block counts its holders");
    Require(s.GetText()[s.GetLength()] == '\0', "the text is terminated");
    Require(TextOf(s) == model, "the string holds what the model holds");
}

// The kinds of the values an entry's directives take, one letter each: 's'
// for a text, 'i' for a number; empty when the entry takes some other kind.
std::string DirectiveKinds(const char* format) {
    std::string kinds;
    for (const char* p = strchr(format, '%'); p != nullptr; p = strchr(p, '%')) {
        ++p;
        p += strspn(p, "-+ #0123456789.");
        if (*p == '%') {
            ++p;
            continue;
        }
        if (*p == 's') {
            kinds += 's';
        } else if (*p == 'u' || *p == 'd' || *p == 'x') {
            kinds += 'i';
        } else {
            return "?";
        }
    }
    return kinds;
}

// Formats the entry with values of the kinds it takes and compares the
// result with the C library's formatting of the same entry.
void FormatEntry(FuzzedDataProvider& input, ClString& out, std::string& model) {
    static const UINT kEntries[] = {1, 2, 4, 8, 10, 12, 19, 20, 21, 35, 36, 37, 38, 39, 3022, 3024, 3032, 3200, 3201};
    const UINT id = input.PickValueInArray(kEntries);
    const ClString format(id, g_hInstance);
    const std::string a = input.ConsumeRandomLengthString(600);
    const std::string b = input.ConsumeRandomLengthString(600);
    const int n = input.ConsumeIntegral<int>();
    const std::string kinds = DirectiveKinds(format.GetText());
    if (kinds == "s") {
        out = FormatResource(id, a.c_str());
        model = Printed(format.GetText(), a.c_str());
    } else if (kinds == "ss") {
        out = FormatResource(id, a.c_str(), b.c_str());
        model = Printed(format.GetText(), a.c_str(), b.c_str());
    } else if (kinds == "i") {
        out = FormatResource(id, n);
        model = Printed(format.GetText(), n);
    } else if (kinds == "is") {
        out = FormatResource(id, n, a.c_str());
        model = Printed(format.GetText(), n, a.c_str());
    } else if (kinds == "iii") {
        out = FormatResource(id, n, n ^ 1, n ^ 7);
        model = Printed(format.GetText(), n, n ^ 1, n ^ 7);
    } else {
        Require(false, "every entry used here takes texts and numbers only");
    }
}

// A format of the input's text, '%' made literal, and one directive.
void FormatText(FuzzedDataProvider& input, ClString& out, std::string& model) {
    static const char* const kTextDirectives[] = {"%s", "%.4s", "%.256s", "%-9s"};
    static const char* const kNumberDirectives[] = {"%u", "%d", "%8x", "%x"};
    std::string format;
    for (char c : input.ConsumeRandomLengthString(200)) {
        format += c == '%' ? std::string("%%") : std::string(1, c);
    }
    const std::string value = input.ConsumeRandomLengthString(400);
    const int number = input.ConsumeIntegral<int>();
    const bool text = input.ConsumeBool();
    format += text ? input.PickValueInArray(kTextDirectives) : input.PickValueInArray(kNumberDirectives);
    format += input.ConsumeRandomLengthString(20).find('%') == std::string::npos ? "" : "!";
    const ClString formatString(format.c_str());
    if (text) {
        out = input.ConsumeBool() ? Format(format.c_str(), value.c_str()) : Format(formatString, value.c_str());
        model = Printed(format.c_str(), value.c_str());
    } else {
        out = input.ConsumeBool() ? Format(format.c_str(), number) : Format(formatString, number);
        model = Printed(format.c_str(), number);
    }
}

void LoadEntry(FuzzedDataProvider& input, ClString& out, std::string& model) {
    const UINT id = input.ConsumeBool() ? input.ConsumeIntegralInRange<UINT>(0, 42) : input.ConsumeIntegral<uint16_t>();
    out.LoadFromTable(id, g_hInstance);
    static char buffer[65536];
    const int count = LoadStringA(g_hInstance, id, buffer, sizeof(buffer));
    model = count > 0 ? std::string(buffer, static_cast<size_t>(count)) : Printed(" <string %u not found> ", id);
}

void UseBuffer(FuzzedDataProvider& input, ClString& s, std::string& model) {
    const DWORD n = input.ConsumeIntegralInRange<DWORD>(0, 700);
    char* buffer = s.GetBuffer(n);
    Require(memcmp(buffer, model.data(), model.size()) == 0, "a buffer keeps the text");
    Require(buffer[n > model.size() ? n : model.size()] == '\0', "a buffer ends with a zero");
    const std::string written = input.ConsumeBytesAsString(input.ConsumeIntegralInRange<size_t>(0, n));
    memcpy(buffer, written.data(), written.size());
    s.ReleaseBuffer(static_cast<DWORD>(written.size()));
    model = written;
}

void SplitRange(FuzzedDataProvider& input, ClString& s, std::string& model, ClString& other, std::string& otherModel) {
    ClStringRange range(s);
    const char at = input.ConsumeIntegral<char>();
    ClStringRange left;
    ClStringRange right;
    const bool found = range.Split(&left, &right, range.Find(at));
    const size_t position = model.find(at);
    Require(found == (position != std::string::npos), "a range finds what the text holds");
    const std::string expectedLeft = found ? model.substr(0, position) : model;
    const std::string expectedRight = found ? model.substr(position + 1) : "";
    Require(std::string(left.begin, left.GetLength()) == expectedLeft, "the left part is the text before");
    Require(std::string(right.begin, right.GetLength()) == expectedRight, "the right part is the text after");
    right.ToString(other);
    otherModel = expectedRight;
    if (input.ConsumeBool()) {
        left.Detach();
        s = left.text;
        model = expectedLeft;
    }
}

void CompareWithItself(FuzzedDataProvider& input, const ClString& a, const ClString& b) {
    const DWORD flags = input.ConsumeBool() ? NORM_IGNORECASE : 0;
    const int ab = ClString::CompareText(a, b, static_cast<int>(a.GetLength()), static_cast<int>(b.GetLength()), flags);
    const int ba = ClString::CompareText(b, a, static_cast<int>(b.GetLength()), static_cast<int>(a.GetLength()), flags);
    Require(ab >= -1 && ab == -ba, "comparing two texts succeeds and is antisymmetric");
    Require(ClString::CompareText(a, a, static_cast<int>(a.GetLength()), static_cast<int>(a.GetLength()), flags) == 0,
            "a text equals itself");
}

void DumpNumbers(FuzzedDataProvider& input) {
    static const char* const kFormats[] = {"\r\n\r\n  EIP: %8x\r\n", "%8x  ", "  %8x"};
    const char* format = input.PickValueInArray(kFormats);
    const unsigned value = input.ConsumeIntegral<unsigned>();
    char buffer[1025];
    const int length = wsprintfA(buffer, format, value);
    Require(length >= 0 && std::string(buffer, static_cast<size_t>(length)) == Printed(format, value),
            "the crash report's numbers read as the C library writes them");
}

void Step(FuzzedDataProvider& input, ClString (&s)[2], std::string (&m)[2]) {
    const int i = input.ConsumeIntegralInRange(0, 1);
    const int j = 1 - i;
    // Appending a string to itself doubles it; keep the texts to a size that
    // leaves the fuzzer fast.
    if (m[i].size() > 65536) {
        s[i].SetLength(100);
        m[i].resize(100);
        return;
    }
    switch (input.ConsumeIntegralInRange(0, 15)) {
    case 0: LoadEntry(input, s[i], m[i]); break;
    case 1: FormatEntry(input, s[i], m[i]); break;
    case 2: FormatText(input, s[i], m[i]); break;
    case 3: {
        const std::string text = input.ConsumeRandomLengthString(300);
        s[i].Append(text.c_str());
        m[i] += text.c_str();
        break;
    }
    case 4: {
        // From the string's own text, which the append may move.
        const size_t from = input.ConsumeIntegralInRange<size_t>(0, m[i].size());
        s[i].Append(s[i].GetText() + from);
        m[i] += std::string(m[i].c_str() + from);
        break;
    }
    case 5: {
        const std::string bytes = input.ConsumeRandomLengthString(300);
        s[i].AppendBytes(bytes.data(), static_cast<DWORD>(bytes.size()));
        m[i] += bytes;
        break;
    }
    case 6: s[i].Append(s[j]); m[i] += m[j]; break;
    case 7: {
        const DWORD n = input.ConsumeIntegralInRange<DWORD>(0, 400);
        s[i].SetLength(n);
        m[i].resize(n, '\0');
        break;
    }
    case 8: {
        const DWORD pos = input.ConsumeIntegralInRange<DWORD>(0, 500);
        const DWORD count = input.ConsumeIntegral<DWORD>();
        const int target = input.ConsumeIntegralInRange(0, 1);
        s[i].Mid(s[target], pos, count);
        m[target] = pos < m[i].size() ? m[i].substr(pos, count) : "";
        break;
    }
    case 9: UseBuffer(input, s[i], m[i]); break;
    case 10: {
        const size_t from = input.ConsumeIntegralInRange<size_t>(0, m[i].size());
        s[i] = s[i].GetText() + from;
        m[i] = std::string(m[i].c_str() + from);
        break;
    }
    case 11: s[i] = s[0] + s[1]; m[i] = m[0] + m[1]; break;
    case 12: s[i].Compact(); Require(s[i].GetData()->capacity == s[i].GetData()->length, "a compact block is exact"); break;
    case 13: {
        if (m[i].empty()) {
            break;
        }
        const DWORD at = input.ConsumeIntegralInRange<DWORD>(0, static_cast<DWORD>(m[i].size() - 1));
        const char c = input.ConsumeIntegral<char>();
        s[i].SetAt(at, c);
        m[i][at] = c;
        break;
    }
    case 14: SplitRange(input, s[i], m[i], s[j], m[j]); break;
    default:
        if (input.ConsumeBool()) {
            CompareWithItself(input, s[i], s[j]);
        } else {
            DumpNumbers(input);
        }
        break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    ClString s[2];
    std::string m[2];
    try {
        for (int steps = 0; steps < 64 && input.remaining_bytes() > 0; ++steps) {
            Step(input, s, m);
            RequireSame(s[0], m[0]);
            RequireSame(s[1], m[1]);
        }
    } catch (ClException* failure) {
        delete failure;
        Require(false, "no operation runs out of memory here");
    }
    return 0;
}
