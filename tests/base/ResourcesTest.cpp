// Tests of loading string-table entries and of formatting with growing buffers.
#include <string.h>

#include <string>

#include <gtest/gtest.h>

#include "base/Resources.h"
#include "platform/posix/ResourcesSeam.h"

namespace {

// The capacity a load leaves behind tells how many passes it took: one pass
// of 256 characters leaves 257 bytes, two 513, three 1025.
DWORD LoadedCapacity(UINT id) {
    ClString text(id, g_hInstance);
    return text.GetData()->capacity;
}

class ResourcesWithTestTable : public ::testing::Test {
protected:
    void SetUp() override {
        exactly255 = std::string(255, 'x');
        exactly254 = std::string(254, 'y');
        table[0] = {100, 0, ""};
        table[1] = {101, 254, exactly254.c_str()};
        table[2] = {102, 255, exactly255.c_str()};
        table[3] = {103, 15, "device %u:\t\"%s\""};
        UseStringTableForTesting(table, 4);
    }
    void TearDown() override { UseStringTableForTesting(nullptr, 0); }

    std::string exactly255;
    std::string exactly254;
    StringTableEntry table[4];
};

TEST(LoadFromTable, ShortEntryTakesOnePass) {
    ClString caption(25, g_hInstance);
    EXPECT_STREQ("Ringwarden", caption.GetText());
    EXPECT_EQ(257u, caption.GetData()->capacity);
}

TEST(LoadFromTable, UsageTextTakesThreePasses) {
    ClString help(9, g_hInstance);
    EXPECT_EQ(548u, help.GetLength());
    EXPECT_EQ(1025u, help.GetData()->capacity);
    EXPECT_EQ(0, strncmp(help.GetText(), "Ringwarden [command] [device_name]\r\n", 36));
}

TEST(LoadFromTable, MissingEntryGivesTheNotFoundText) {
    EXPECT_STREQ(" <string 24 not found> ", ClString(24, g_hInstance).GetText());
    EXPECT_STREQ(" <string 65535 not found> ", ClString(65535, g_hInstance).GetText());
}

TEST(LoadFromTable, LoadingReplacesTheOldText) {
    ClString text("previous text that is long");
    ClString keep(text);
    text.LoadFromTable(3016, g_hInstance);
    EXPECT_STREQ("ERROR", text.GetText());
    EXPECT_STREQ("previous text that is long", keep.GetText());
}

TEST_F(ResourcesWithTestTable, EntryOfExactly255CharactersTakesTwoPasses) {
    EXPECT_EQ(513u, LoadedCapacity(102));
    EXPECT_EQ(exactly255, ClString(102, g_hInstance).GetText());
    EXPECT_EQ(257u, LoadedCapacity(101));
    EXPECT_EQ(exactly254, ClString(101, g_hInstance).GetText());
}

TEST_F(ResourcesWithTestTable, EmptyEntryCountsAsMissing) {
    EXPECT_STREQ(" <string 100 not found> ", ClString(100, g_hInstance).GetText());
}

TEST_F(ResourcesWithTestTable, FormatResourceGrowsUntilTheLineFits) {
    const std::string name(100, 'm');
    ClString line = FormatResource(103, 2u, name.c_str());
    EXPECT_EQ("device 2:\t\"" + name + "\"", line.GetText());
    EXPECT_EQ(line.GetLength() + 1, line.GetData()->length);
    // From the format's 15 characters, doubled until the 113 fit.
    EXPECT_EQ(121u, line.GetData()->capacity);
}

TEST_F(ResourcesWithTestTable, OutputAsLongAsTheFormatFitsAtOnce) {
    ClString line = FormatResource(103, 7u, "abc");
    EXPECT_STREQ("device 7:\t\"abc\"", line.GetText());
    EXPECT_EQ(16u, line.GetData()->capacity);
}

TEST(Format, ShorterOutputKeepsTheRoomButNotTheLength) {
    ClString text = Format("%s|%s", "", "");
    EXPECT_STREQ("|", text.GetText());
    EXPECT_EQ(2u, text.GetData()->length);
    EXPECT_EQ(6u, text.GetData()->capacity);
}

TEST(Format, EmptyFormatGivesAnEmptyText) {
    EXPECT_EQ(0u, Format("").GetLength());
    EXPECT_EQ(0u, Format(ClString()).GetLength());
}

TEST(Format, StringFormatTakesTheValuesAfterIt) {
    const ClString format(3200, g_hInstance);
    ClString text = Format(format, "rasapi32.dll");
    EXPECT_STREQ("Error! Cannot load library:\n\n\"rasapi32.dll\"", text.GetText());
}

TEST(Format, LongOutputFromAShortFormat) {
    const std::string value(5000, 'v');
    ClString text = Format("%s", value.c_str());
    EXPECT_EQ(value, text.GetText());
    EXPECT_EQ(8193u, text.GetData()->capacity);
}

TEST(Format, PrecisionLimitedDirectives) {
    const std::string comment(300, 'c');
    ClString line = FormatResource(10, comment.c_str());
    EXPECT_EQ("\tComment: " + std::string(256, 'c') + "\r\n", line.GetText());
    EXPECT_STREQ("\tServer type:\tPPPx", FormatResource(21, "PPPxyz").GetText());
}

}  // namespace
