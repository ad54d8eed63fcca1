// Loading string-table entries, and formatting with buffers that grow by doubling.
#include "base/Resources.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "platform/GuardedCall.h"

HINSTANCE g_hInstance = nullptr;

namespace {

// The first load tries this many characters; it holds every entry but the
// usage text.
const DWORD kFirstLoadSize = 256;

// Formats into result, starting with room for n characters and doubling it
// until the whole output fits. vsnprintf reports the length it needed, so the
// passes that are sure to fail are skipped; the room ends up the same as with
// one pass per doubling.
ClString FormatInto(DWORD n, const char* format, va_list values) {
    ClString result;
    if (n < result.GetData()->capacity - 1) {
        n = result.GetData()->capacity - 1;
    }
    for (;;) {
        char* buffer = result.GetBuffer(n);
        va_list pass;
        va_copy(pass, values);
        const int written = CallGuarded([&] { return vsnprintf(buffer, static_cast<size_t>(n) + 1, format, pass); });
        va_end(pass);
        if (written < 0) {
            // Not a lack of room: keep what was written rather than grow for ever.
            result.ReleaseBuffer(static_cast<DWORD>(strlen(buffer)));
            return result;
        }
        const DWORD needed = static_cast<DWORD>(written);
        if (needed <= n) {
            result.SetAt(needed, '\0');
            result.Resize(needed + 1, needed + 1, ClString::Write::OnlyIfChanged, ClString::Length::Exact);
            return result;
        }
        if (n == 0) {
            n = 1;
        }
        while (n < needed) {
            n = n <= 0x7FFFFFFFu ? n * 2 : 0xFFFFFFFEu;
        }
    }
}

}  // namespace

void ClString::LoadFromTable(UINT id, HINSTANCE module) {
    for (DWORD size = kFirstLoadSize;; size *= 2) {
        char* buffer = GetBuffer(size);
        const int count = CallGuarded([&] { return LoadStringA(module, id, buffer, static_cast<int>(size)); });
        ReleaseBuffer(count > 0 ? static_cast<DWORD>(count) : 0);
        if (count <= 0) {
            break;
        }
        // A load that filled the buffer may have been cut: try again with more room.
        if (size - static_cast<DWORD>(count) > 1) {
            return;
        }
    }
    *this = Format(" <string %u not found> ", id);
}

ClString FormatResource(UINT id, ...) {
    const ClString format(id, g_hInstance);
    va_list values;
    va_start(values, id);
    ClString result = FormatInto(format.GetLength(), format.GetText(), values);
    va_end(values);
    return result;
}

ClString Format(const char* format, ...) {
    if (format == nullptr) {
        return ClString();
    }
    va_list values;
    va_start(values, format);
    ClString result = FormatInto(static_cast<DWORD>(strlen(format)), format, values);
    va_end(values);
    return result;
}

