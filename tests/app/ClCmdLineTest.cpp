// The command-line reader: which tokens a command line gives.
#include "app/ClCmdLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// "word" for a positional argument, "/key:value" for a switch.
std::vector<std::string> Tokens(const char* commandLine) {
    ClCmdLine line;
    line.SetText(ClString(commandLine));
    std::vector<std::string> tokens;
    while (line.Next()) {
        if (line.key.IsEmpty()) {
            tokens.emplace_back(line.argument.begin, line.argument.GetLength());
            continue;
        }
        tokens.push_back("/" + std::string(line.key.begin, line.key.GetLength()) + ":" +
                         std::string(line.value.begin, line.value.GetLength()));
    }
    return tokens;
}

struct TokenCase {
    const char* commandLine;
    std::vector<std::string> tokens;
};

class TokenTable : public testing::TestWithParam<TokenCase> {};

TEST_P(TokenTable, GivesTheTokens) {
    EXPECT_EQ(Tokens(GetParam().commandLine), GetParam().tokens) << "command line: " << GetParam().commandLine;
}

INSTANTIATE_TEST_SUITE_P(
    Quotes, TokenTable,
    testing::Values(TokenCase{"\"C:\\Program Files\\rw.exe\" showstatus", {"C:\\Program Files\\rw.exe", "showstatus"}},
                    TokenCase{"startserver \"Modem A\" /N:2", {"startserver", "Modem A", "/N:2"}},
                    TokenCase{"\"unclosed name", {"unclosed name"}},
                    TokenCase{"a\"b c", {"a\"b", "c"}},
                    TokenCase{"x \"\" y", {"x", "", "y"}},
                    TokenCase{"\"a-b/c\"", {"a-b/c"}},
                    TokenCase{"/T:\"Null modem\" x", {"/T:Null modem", "x"}}));

INSTANTIATE_TEST_SUITE_P(
    Switches, TokenTable,
    testing::Values(TokenCase{"/N:2 -t:modem", {"/N:2", "/t:modem"}},
                    TokenCase{"a/b", {"a", "/b:"}},
                    TokenCase{"a-b", {"a", "/b:"}},
                    TokenCase{"/N:2/T:x", {"/N:2", "/T:x"}},
                    TokenCase{"/N:a:b", {"/N:a:b"}},
                    TokenCase{"/N2", {"/N2:"}},
                    TokenCase{"/N x", {"/N:", "x"}},
                    TokenCase{"/N:", {"/N:"}},
                    TokenCase{"/? -?", {"/?:", "/?:"}},
                    TokenCase{"/help", {"/help:"}}));

INSTANTIATE_TEST_SUITE_P(
    Separators, TokenTable,
    testing::Values(TokenCase{"", {}},
                    TokenCase{"a\tb\r\nc", {"a", "b", "c"}},
                    TokenCase{"/ N : 2", {"/N:2"}},
                    TokenCase{"/N: 2 x", {"/N:2", "x"}},
                    TokenCase{"showstatus ", {"showstatus", ""}},
                    TokenCase{"   ", {""}},
                    TokenCase{"/N:2 ", {"/N:2", ""}}));

INSTANTIATE_TEST_SUITE_P(
    PrefixesWithoutKey, TokenTable,
    testing::Values(TokenCase{"//N:2", {"/N:2"}},
                    TokenCase{"-/N:2", {"/N:2"}},
                    TokenCase{"x /", {"x"}},
                    TokenCase{"x / ", {"x"}},
                    TokenCase{"/:x", {":x"}}));

TEST(ClCmdLine, CountsPositionalArgumentsFromTheProgramName) {
    ClCmdLine line;
    line.SetText(ClString("\"prog\" /N:1 first second"));
    std::vector<LONG> indexes;
    while (line.Next()) {
        indexes.push_back(line.argumentIndex);
    }
    EXPECT_EQ(indexes, (std::vector<LONG>{0, 0, 1, 2}));
}

TEST(ClCmdLine, TokensPointIntoTheTextWithoutCopying) {
    ClString text("prog \"Modem A\" /N:2");
    ClCmdLine line;
    line.SetText(text);
    ASSERT_TRUE(line.Next());
    ASSERT_TRUE(line.Next());
    EXPECT_EQ(line.argument.begin, text.GetText() + 6);
    EXPECT_EQ(line.argument.text.GetData(), text.GetData());
    ASSERT_TRUE(line.Next());
    EXPECT_EQ(line.value.begin, text.GetText() + 18);
    EXPECT_FALSE(line.Next());
}

TEST(ClCmdLine, EmptiesTheOtherTokensOnEachRead) {
    ClCmdLine line;
    line.SetText(ClString("/T:x name"));
    ASSERT_TRUE(line.Next());
    EXPECT_FALSE(line.key.IsEmpty());
    ASSERT_TRUE(line.Next());
    EXPECT_TRUE(line.key.IsEmpty());
    EXPECT_TRUE(line.value.IsEmpty());
    EXPECT_EQ(std::string(line.argument.begin, line.argument.GetLength()), "name");
    EXPECT_FALSE(line.Next());
    EXPECT_TRUE(line.argument.IsEmpty());
}

}  // namespace
