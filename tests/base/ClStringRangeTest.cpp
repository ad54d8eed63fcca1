// Tests of ClStringRange: splitting, comparing, detaching and its hold on the text.
#include <string.h>

#include <gtest/gtest.h>

#include "base/ClStringRange.h"

namespace {

std::string TextOf(const ClStringRange& range) {
    return std::string(range.begin, range.end);
}

bool IsCanonicalEmpty(const ClStringRange& range) {
    return range.text.GetData() == ClString::GetEmptyData() && range.begin == range.text.GetText() &&
           range.end == range.begin;
}

TEST(ClStringRange, KeepsItsTextAlive) {
    ClStringRange range;
    {
        ClString text("kept alive");
        range = ClStringRange(text);
        EXPECT_EQ(2, text.GetData()->refs);
    }
    EXPECT_EQ(1, range.text.GetData()->refs);
    EXPECT_EQ("kept alive", TextOf(range));
}

TEST(ClStringRange, DefaultIsTheCanonicalEmptyRange) {
    EXPECT_TRUE(IsCanonicalEmpty(ClStringRange()));
    EXPECT_TRUE(IsCanonicalEmpty(ClStringRange(ClString())));
}

TEST(ClStringRangeSplit, BothPartsShareTheText) {
    ClString text("alpha:beta");
    ClStringRange whole(text);
    ClStringRange left;
    ClStringRange right;
    EXPECT_TRUE(whole.Split(&left, &right, whole.Find(':')));
    EXPECT_EQ("alpha", TextOf(left));
    EXPECT_EQ("beta", TextOf(right));
    EXPECT_EQ(4, text.GetData()->refs);
    EXPECT_EQ(text.GetData(), left.text.GetData());
    EXPECT_EQ(text.GetData(), right.text.GetData());
}

TEST(ClStringRangeSplit, AtTheEdges) {
    ClString text(":mid:");
    ClStringRange whole(text);
    ClStringRange left;
    ClStringRange right;
    whole.SplitAt(&left, &right, whole.begin);
    EXPECT_TRUE(IsCanonicalEmpty(left));
    EXPECT_EQ("mid:", TextOf(right));
    whole.SplitAt(&left, &right, whole.end - 1);
    EXPECT_EQ(":mid", TextOf(left));
    EXPECT_TRUE(right.IsEmpty());
    EXPECT_EQ(text.GetData(), right.text.GetData());
}

TEST(ClStringRangeSplit, WithoutADelimiter) {
    ClStringRange whole(ClString("word"));
    ClStringRange left;
    ClStringRange right;
    EXPECT_FALSE(whole.Split(&left, &right, nullptr));
    EXPECT_EQ("word", TextOf(left));
    EXPECT_TRUE(IsCanonicalEmpty(right));
    EXPECT_FALSE(whole.SplitFromEnd(&left, &right, nullptr));
    EXPECT_TRUE(IsCanonicalEmpty(left));
    EXPECT_EQ("word", TextOf(right));
}

TEST(ClStringRangeSplit, SteppingThroughTokensIntoItself) {
    ClStringRange rest(ClString("one two  three"));
    ClStringRange token;
    std::vector<std::string> tokens;
    while (rest.Split(&token, &rest, rest.Find(' '))) {
        tokens.push_back(TextOf(token));
    }
    tokens.push_back(TextOf(token));
    EXPECT_EQ((std::vector<std::string>{"one", "two", "", "three"}), tokens);
}

TEST(ClStringRangeSplit, AbsentTargetsAreSkipped) {
    ClStringRange whole(ClString("a=b"));
    ClStringRange right;
    whole.SplitAt(nullptr, &right, whole.Find('='));
    EXPECT_EQ("b", TextOf(right));
}

TEST(ClStringRange, FindLastAndSplitFromEnd) {
    ClStringRange path(ClString("C:\\dir\\prog.exe"));
    const char* slash = path.FindLast('\\');
    EXPECT_EQ(path.begin + 6, slash);
    ClStringRange folder;
    ClStringRange file;
    EXPECT_TRUE(path.SplitFromEnd(&folder, &file, slash));
    EXPECT_EQ("prog.exe", TextOf(file));
    EXPECT_EQ("C:\\dir", TextOf(folder));
    EXPECT_EQ(nullptr, path.FindLast('/'));
    EXPECT_EQ(nullptr, ClStringRange().FindLast('\0'));
}

TEST(ClStringRange, EqualsNoCaseComparesWholeRanges) {
    ClStringRange modem(ClString("Modem"));
    EXPECT_TRUE(modem.EqualsNoCase(ClStringRange(ClString("MODEM"))));
    EXPECT_FALSE(modem.EqualsNoCase(ClStringRange(ClString("Modem1"))));
    EXPECT_TRUE(modem.EqualsNoCase("modem"));
    EXPECT_FALSE(modem.EqualsNoCase("mode"));
    ClStringRange inner(ClString("xMODEMx"));
    inner.begin += 1;
    inner.end -= 1;
    EXPECT_TRUE(inner.EqualsNoCase(modem));
}

TEST(ClStringRangeTerminated, RangeToTheEndNeedsNoCopy) {
    ClString text("one two");
    ClStringRange range(text);
    range.begin += 4;
    EXPECT_EQ(text.GetText() + 4, range.GetTerminated());
    EXPECT_EQ(text.GetData(), range.text.GetData());
}

TEST(ClStringRangeTerminated, RangeInTheMiddleGetsAnExactBlock) {
    ClString text("one two three");
    ClStringRange range(text);
    range.begin += 4;
    range.end = range.begin + 3;
    EXPECT_STREQ("two", range.GetTerminated());
    EXPECT_NE(text.GetData(), range.text.GetData());
    EXPECT_EQ(4u, range.text.GetData()->capacity);
    EXPECT_EQ(1, text.GetData()->refs);
    EXPECT_STREQ("one two three", text.GetText());
}

TEST(ClStringRangeTerminated, EmptyRangeInTheMiddle) {
    ClString text("abc");
    ClStringRange range(text);
    range.end = range.begin;
    EXPECT_STREQ("", range.GetTerminated());
    EXPECT_TRUE(IsCanonicalEmpty(range));
}

TEST(ClStringRange, ToStringGivesExactlyTheRange) {
    ClStringRange range(ClString("prefix-body"));
    range.begin += 7;
    ClString out;
    range.ToString(out);
    EXPECT_STREQ("body", out.GetText());
    EXPECT_EQ(range.text.GetData(), out.GetData());
    EXPECT_EQ(5u, out.GetData()->capacity);
}

TEST(ClStringRange, DetachOfASoleHolderCutsInPlaceThenCompacts) {
    ClStringRange range(ClString("abcdef"));
    range.end -= 3;
    range.Detach();
    EXPECT_EQ("abc", TextOf(range));
    EXPECT_EQ(4u, range.text.GetData()->capacity);
    EXPECT_EQ(range.text.GetText(), range.begin);
}

TEST(ClStringRangeBuffer, DefaultRangeGetsAFreshZeroedBlock) {
    const LONG emptyRefs = ClString::GetEmptyData()->refs;
    ClStringRange range;
    char* area = range.GetBuffer(40);
    EXPECT_NE(ClString::GetEmptyData(), range.text.GetData());
    EXPECT_EQ(41u, range.text.GetData()->capacity);
    EXPECT_EQ(area, range.begin);
    EXPECT_EQ(area + 40, range.end);
    for (int i = 0; i < 41; ++i) {
        ASSERT_EQ('\0', area[i]);
    }
    EXPECT_STREQ("", ClString::GetEmptyData()->Text());
    EXPECT_EQ(emptyRefs, ClString::GetEmptyData()->refs);
}

TEST(ClStringRangeBuffer, PrivateTextWithRoomIsUsedInPlace) {
    ClStringRange range(ClString("0123456789"));
    range.begin += 2;
    ClStringData* block = range.text.GetData();
    char* area = range.GetBuffer(5);
    EXPECT_EQ(block, range.text.GetData());
    EXPECT_EQ(block->Text() + 2, area);
    EXPECT_EQ(area + 5, range.end);
}

TEST(ClStringRangeBuffer, SharedTextIsCopiedNotWritten) {
    ClString text("0123456789");
    ClStringRange range(text);
    range.begin += 6;
    char* area = range.GetBuffer(8);
    EXPECT_NE(text.GetData(), range.text.GetData());
    EXPECT_EQ(0, memcmp(area, "6789\0\0\0\0\0", 9));
    area[0] = 'X';
    EXPECT_STREQ("0123456789", text.GetText());
    EXPECT_EQ(1, text.GetData()->refs);
}

}  // namespace
