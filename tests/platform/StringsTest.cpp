// Tests of the stand-in's CompareStringA and wsprintfA.
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include <sys/stat.h>

#include <string>

#include <gtest/gtest.h>
#include <windows.h>

#include "platform/posix/StringsSeam.h"

namespace {

const DWORD kSentinel = 0xDEADBEEF;

// Compares under the locale the environment names, and restores the
// environment's previous choice afterwards.
class CompareUnderLocale : public ::testing::Test {
protected:
    void TearDown() override {
        if (saved.empty()) {
            unsetenv("LC_ALL");
        } else {
            setenv("LC_ALL", saved.c_str(), 1);
        }
        ReloadUserLocaleForTesting();
    }
    void UseLocale(const char* name) {
        const char* old = getenv("LC_ALL");
        if (!saving) {
            saved = old != nullptr ? old : "";
            saving = true;
        }
        setenv("LC_ALL", name, 1);
        ReloadUserLocaleForTesting();
    }
    int Compare(const char* a, const char* b, DWORD flags = NORM_IGNORECASE, int countA = -1, int countB = -1) {
        return CompareStringA(LOCALE_USER_DEFAULT, flags, a, countA, b, countB);
    }

    std::string saved;
    bool saving = false;
};

TEST_F(CompareUnderLocale, LetterCaseIsIgnoredOnlyWhenAsked) {
    UseLocale("C.UTF-8");
    EXPECT_EQ(CSTR_EQUAL, Compare("Modem", "MODEM"));
    EXPECT_EQ(CSTR_LESS_THAN, Compare("Modem", "Modem1"));
    EXPECT_EQ(CSTR_GREATER_THAN, Compare("b", "A"));
    EXPECT_NE(CSTR_EQUAL, Compare("Modem", "MODEM", 0));
    EXPECT_EQ(CSTR_EQUAL, Compare("Modem", "Modem", 0));
}

TEST_F(CompareUnderLocale, CountsLimitTheTexts) {
    UseLocale("C.UTF-8");
    EXPECT_EQ(CSTR_EQUAL, Compare("startserverXYZ", "STARTSERVER", NORM_IGNORECASE, 11));
    EXPECT_EQ(CSTR_EQUAL, Compare("abc", "abd", NORM_IGNORECASE, 2, 2));
    EXPECT_EQ(CSTR_EQUAL, Compare("ab\0zz", "ab", NORM_IGNORECASE, 5));
    EXPECT_EQ(CSTR_EQUAL, Compare("", "x", NORM_IGNORECASE, -1, 0));
}

TEST_F(CompareUnderLocale, MultibyteLettersFoldAsCharacters) {
    UseLocale("C.UTF-8");
    EXPECT_EQ(CSTR_EQUAL, Compare("\xC3\x89t\xC3\xA9", "\xC3\xA9T\xC3\x89"));   // Été / éTÉ
    EXPECT_EQ(CSTR_EQUAL, Compare("\xD0\x9C\xD0\xBE\xD0\xB4", "\xD0\xBC\xD0\x9E\xD0\x94"));  // Мод / мОД
    EXPECT_NE(CSTR_EQUAL, Compare("\xC3\x89", "\xC3\xA9", 0));
}

TEST_F(CompareUnderLocale, BytesOutsideTheEncodingStillCompare) {
    UseLocale("C.UTF-8");
    EXPECT_EQ(CSTR_EQUAL, Compare("a\xFF", "A\xFF"));
    EXPECT_NE(CSTR_EQUAL, Compare("a\xFF", "a\xFE"));
    EXPECT_EQ(CSTR_GREATER_THAN, Compare("a\xFF", "a"));
}

TEST_F(CompareUnderLocale, TheProcessLocaleIsLeftAlone) {
    UseLocale("C.UTF-8");
    const std::string before = setlocale(LC_ALL, nullptr);
    Compare("x", "y");
    EXPECT_EQ(before, setlocale(LC_ALL, nullptr));
}

// Compiles a locale of the system's sources into the build folder once, for
// a test that needs one beyond C; empty when the sources are not installed.
std::string CompiledLocaleFolder(const char* name, const char* source) {
    const std::string folder = std::string(RINGWARDEN_BUILD_DIR) + "/tests/locales";
    const std::string ctype = folder + "/" + name + "/LC_CTYPE";
    struct stat status;
    if (stat(ctype.c_str(), &status) != 0) {
        const std::string command = "mkdir -p '" + folder + "' && localedef -i " + source + " -f UTF-8 '" + folder +
                                    "/" + name + "' > /dev/null 2>&1";
        // localedef warns about some sources and exits non-zero while still writing the locale.
        const int ignored = system(command.c_str());
        (void)ignored;
    }
    return stat(ctype.c_str(), &status) == 0 ? folder : std::string();
}

// The C library keeps the search path that LOCPATH gives it without ever
// freeing it; LeakSanitizer, where it runs, is told to look away.
extern "C" void __lsan_disable() __attribute__((weak));
extern "C" void __lsan_enable() __attribute__((weak));

// A Turkish locale folds "I" to a dotless i; command words and device names
// must still match whatever their case, and the locale still decides for
// letters outside ASCII, in folding and in order.
TEST_F(CompareUnderLocale, TurkishLocaleFoldsAsciiByTheAsciiRule) {
    const std::string folder = CompiledLocaleFolder("tr_TR.UTF-8", "tr_TR");
    if (folder.empty()) {
        GTEST_SKIP() << "no tr_TR locale source (Debian package locales)";
    }
    setenv("LOCPATH", folder.c_str(), 1);
    if (__lsan_disable != nullptr) {
        __lsan_disable();
    }
    UseLocale("tr_TR.UTF-8");
    if (__lsan_enable != nullptr) {
        __lsan_enable();
    }
    EXPECT_EQ(CSTR_EQUAL, Compare("DISCONNECTUSER", "disconnectuser"));
    EXPECT_EQ(CSTR_EQUAL, Compare("ISDN1 \xC3\x87", "isdn1 \xC3\xA7"));      // ISDN1 Ç / isdn1 ç
    EXPECT_EQ(CSTR_EQUAL, Compare("\xC4\xB0sdn", "isdn"));                    // İsdn
    EXPECT_NE(CSTR_EQUAL, Compare("\xC4\xB1sdn", "isdn"));                    // ısdn
    EXPECT_EQ(CSTR_LESS_THAN, Compare("\xC3\xA7" "ay", "dere"));                 // çay before dere
    unsetenv("LOCPATH");
}

TEST(CompareString, NullTextsAreRejected) {
    SetLastError(kSentinel);
    EXPECT_EQ(0, CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, nullptr, -1, "a", -1));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ(0, CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, "a", -1, nullptr, -1));
}

std::string Formatted(const char* format, ...) {
    char buffer[1100];
    va_list arguments;
    va_start(arguments, format);
    const int length = wvsprintfA(buffer, format, arguments);
    va_end(arguments);
    EXPECT_EQ(strlen(buffer), static_cast<size_t>(length));
    return buffer;
}

TEST(Wsprintf, Directives) {
    EXPECT_EQ("-5|7|42", Formatted("%d|%i|%u", -5, 7, 42u));
    EXPECT_EQ("ff|FF|0xff|0XFF|0", Formatted("%x|%X|%#x|%#X|%#x", 255u, 255u, 255u, 255u, 0u));
    // l means 32 bits, as a long is on Windows.
    EXPECT_EQ("deadbeef|   1c", Formatted("%8lx|%5lx", 0xdeadbeefu, 0x1cu));
    EXPECT_EQ("-1|-2147483648|4294967295", Formatted("%ld|%li|%lu", -1, INT_MIN, 4294967295u));
    EXPECT_EQ("4464|-1", Formatted("%hd|%hd", 70000, 65535));
    EXPECT_EQ("A|abc|(null)", Formatted("%c|%.3s|%s", 'A', "abcdef", static_cast<const char*>(nullptr)));
    EXPECT_EQ("wide", Formatted("%ls", L"wide"));
    EXPECT_EQ("%|y", Formatted("%%|%y"));
}

TEST(Wsprintf, WidthFlagsAndPrecision) {
    EXPECT_EQ("   42|42   |00042|-0042|  -42", Formatted("%5d|%-5d|%05d|%05d|%5d", 42, 42, 42, -42, -42));
    EXPECT_EQ("00042|  007", Formatted("%.5d|%5.3d", 42, 7));
    EXPECT_EQ("  abc|abc  ", Formatted("%5s|%-5s", "abc", "abc"));
    EXPECT_EQ("0x00ff", Formatted("%#06x", 255u));
}

TEST(Wsprintf, OutputStopsAt1023CharactersAndIsTerminated) {
    const std::string longText(2000, 'a');
    char buffer[1100];
    memset(buffer, 'z', sizeof(buffer));
    EXPECT_EQ(1023, wsprintfA(buffer, "%s%s", longText.c_str(), "tail"));
    EXPECT_EQ('\0', buffer[1023]);
    EXPECT_EQ('z', buffer[1024]);
    EXPECT_EQ(std::string(1023, 'a'), buffer);
}

}  // namespace
