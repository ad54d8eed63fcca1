// Tests of ClString: sharing, copy on write, the buffer protocol, Mid and allocation failure.
#include <string.h>

#include <gtest/gtest.h>

#include "base/ClString.h"
#include "errors/ClException.h"
#include "errors/OutOfMemory.h"

namespace {

LONG EmptyRefs() {
    return ClString::GetEmptyData()->refs;
}

// Runs action with the nth allocation from now failing, and reports whether
// it threw the out-of-memory failure.
template <class Action>
bool FailsWithNthAllocation(DWORD n, Action action) {
    FailAllocationAfter(n);
    try {
        action();
    } catch (ClException* failure) {
        CancelAllocationFailure();
        delete failure;
        return true;
    }
    CancelAllocationFailure();
    return false;
}

TEST(ClStringEmpty, DefaultStringHoldsTheEmptyBlockAndCountsOnIt) {
    const LONG before = EmptyRefs();
    {
        ClString empty;
        EXPECT_EQ(ClString::GetEmptyData(), empty.GetData());
        EXPECT_EQ(0u, empty.GetLength());
        EXPECT_STREQ("", empty.GetText());
        EXPECT_EQ(static_cast<LONG>(static_cast<DWORD>(before) + 1), EmptyRefs());
    }
    EXPECT_EQ(before, EmptyRefs());
}

TEST(ClStringEmpty, NullAndEmptyTextsGiveTheEmptyBlock) {
    EXPECT_EQ(ClString::GetEmptyData(), ClString(static_cast<const char*>(nullptr)).GetData());
    EXPECT_EQ(ClString::GetEmptyData(), ClString("").GetData());
    ClString text("abc");
    text = "";
    EXPECT_EQ(ClString::GetEmptyData(), text.GetData());
}

TEST(ClStringEmpty, WritesThroughAnEmptyStringNeverTouchTheEmptyBlock) {
    ClString a;
    a.GetBuffer(4)[0] = 'x';
    ClString b;
    b.SetAt(0, 'y');
    ClString c;
    c.MakeUnique()[0] = 'z';
    ClString d;
    d.SetLength(3);
    EXPECT_STREQ("", ClString::GetEmptyData()->Text());
    EXPECT_EQ(1u, ClString::GetEmptyData()->length);
    EXPECT_EQ(1u, ClString::GetEmptyData()->capacity);
    EXPECT_NE(ClString::GetEmptyData(), c.GetData());
}

TEST(ClStringBlocks, ConstructionSizesTheBlockExactly) {
    ClString text("abc");
    EXPECT_EQ(4u, text.GetData()->length);
    EXPECT_EQ(4u, text.GetData()->capacity);
    EXPECT_EQ(1, text.GetData()->refs);
    EXPECT_EQ(3u, text.GetLength());
}

TEST(ClStringBlocks, CopiesShareAndAWriteSeparatesThem) {
    ClString first("abc");
    ClString copy(first);
    EXPECT_EQ(first.GetData(), copy.GetData());
    EXPECT_EQ(2, first.GetData()->refs);
    copy.Append("d");
    EXPECT_STREQ("abc", first.GetText());
    EXPECT_STREQ("abcd", copy.GetText());
    EXPECT_EQ(1, first.GetData()->refs);
    EXPECT_EQ(1, copy.GetData()->refs);
}

TEST(ClStringBlocks, SelfAssignmentKeepsTheBlock) {
    ClString text("abc");
    ClStringData* block = text.GetData();
    ClString& alias = text;
    text = alias;
    EXPECT_EQ(block, text.GetData());
    EXPECT_EQ(1, block->refs);
    EXPECT_STREQ("abc", text.GetText());
}

TEST(ClStringBlocks, AssigningATextFromTheStringItselfIsSafe) {
    ClString text("hello world");
    text = text.GetText() + 6;
    EXPECT_STREQ("world", text.GetText());
    EXPECT_EQ(6u, text.GetData()->length);
}

TEST(ClStringBuffer, GetBufferKeepsTheTextAndReleaseBufferSetsTheLength) {
    ClString text("abc");
    ClString other(text);
    char* buffer = text.GetBuffer(10);
    EXPECT_NE(other.GetData(), text.GetData());
    EXPECT_EQ(11u, text.GetData()->capacity);
    EXPECT_EQ(0, memcmp(buffer, "abc", 3));
    EXPECT_EQ('\0', buffer[10]);
    memcpy(buffer, "vwxyz", 5);
    text.ReleaseBuffer(5);
    EXPECT_STREQ("vwxyz", text.GetText());
    EXPECT_EQ(6u, text.GetData()->length);
    EXPECT_EQ(11u, text.GetData()->capacity);
    EXPECT_STREQ("abc", other.GetText());
}

TEST(ClStringBuffer, SmallerBufferKeepsTheLongerText) {
    ClString text("abcdef");
    char* buffer = text.GetBuffer(2);
    EXPECT_STREQ("abcdef", buffer);
    EXPECT_EQ(7u, text.GetData()->capacity);
}

TEST(ClStringBuffer, ReleaseBufferNeverWritesPastTheBuffer) {
    ClString text;
    text.GetBuffer(4);
    text.ReleaseBuffer(1000);
    EXPECT_EQ(4u, text.GetLength());
    EXPECT_EQ(5u, text.GetData()->capacity);
}

TEST(ClStringResize, UnchangedLengthWithoutWriteDoesNothing) {
    ClString text("abc");
    ClString copy(text);
    EXPECT_EQ(nullptr, text.Resize(4, 4, ClString::Write::OnlyIfChanged, ClString::Length::Exact));
    EXPECT_EQ(copy.GetData(), text.GetData());
    EXPECT_EQ(2, text.GetData()->refs);
}

TEST(ClStringResize, GrowOnlyNeverShortens) {
    ClString text("abcdef");
    text.Resize(3, 3, ClString::Write::Always, ClString::Length::GrowOnly);
    EXPECT_STREQ("abcdef", text.GetText());
    EXPECT_EQ(7u, text.GetData()->length);
}

TEST(ClStringResize, CapacityZeroDropsTheBlock) {
    ClString text("abc");
    EXPECT_EQ(nullptr, text.Resize(0, 0, ClString::Write::Always, ClString::Length::Exact));
    EXPECT_EQ(nullptr, text.GetData());
    EXPECT_EQ(0u, text.GetLength());
    text.Append("xy");
    EXPECT_STREQ("xy", text.GetText());
}

TEST(ClStringEdit, SetLengthTruncatesOrExtendsWithZeros) {
    ClString text("abcdef");
    text.SetLength(2);
    EXPECT_STREQ("ab", text.GetText());
    text.SetLength(4);
    EXPECT_EQ(4u, text.GetLength());
    EXPECT_EQ(0, memcmp(text.GetText(), "ab\0\0", 5));
}

TEST(ClStringEdit, AppendingNothingChangesNothing) {
    ClString text("abc");
    ClStringData* block = text.GetData();
    text.Append("");
    text.Append(static_cast<const char*>(nullptr));
    text.Append(ClString());
    text.AppendBytes("xyz", 0);
    EXPECT_EQ(block, text.GetData());
    EXPECT_STREQ("abc", text.GetText());
}

TEST(ClStringEdit, AppendingToAnEmptyStringSharesTheOther) {
    ClString other("abc");
    ClString text;
    text.Append(other);
    EXPECT_EQ(other.GetData(), text.GetData());
}

TEST(ClStringEdit, AppendingCopiesExactly) {
    ClString text("ab");
    text.Append("cd");
    text.AppendBytes("efgh", 2);
    text.Append(ClString("g"));
    EXPECT_STREQ("abcdefg", text.GetText());
    EXPECT_EQ(8u, text.GetData()->length);
    EXPECT_EQ(8u, text.GetData()->capacity);
}

TEST(ClStringEdit, AppendingAStringToItself) {
    ClString text("abc");
    text.Append(text);
    EXPECT_STREQ("abcabc", text.GetText());
    text.Append(text.GetText() + 4);
    EXPECT_STREQ("abcabcbc", text.GetText());
}

TEST(ClStringEdit, ConcatenationSharesWhenOneSideIsEmpty) {
    ClString a("left");
    ClString b("right");
    EXPECT_EQ(a.GetData(), (a + ClString()).GetData());
    EXPECT_EQ(b.GetData(), (ClString() + b).GetData());
    ClString both = a + b;
    EXPECT_STREQ("leftright", both.GetText());
    EXPECT_EQ(10u, both.GetData()->capacity);
    both.AssignConcat(both.GetText() + 4, 5, both.GetText(), 4);
    EXPECT_STREQ("rightleft", both.GetText());
}

struct MidCase {
    DWORD pos;
    DWORD count;
    const char* expected;
};

TEST(ClStringMid, CutsAndClipsAsPlanned) {
    const ClString source("abcde");
    const MidCase cases[] = {
        {1, 3, "bcd"}, {3, 100, "de"}, {5, 1, ""}, {9, 1, ""}, {2, 0, ""}, {0, 0xFFFFFFFF, "abcde"},
    };
    for (const MidCase& c : cases) {
        ClString out("old");
        source.Mid(out, c.pos, c.count);
        EXPECT_STREQ(c.expected, out.GetText()) << "pos " << c.pos << " count " << c.count;
        EXPECT_EQ(strlen(c.expected) + 1, out.GetData()->length);
    }
}

TEST(ClStringMid, WholeTextSharesTheBlock) {
    const ClString source("abcde");
    ClString out;
    source.Mid(out, 0, 5);
    EXPECT_EQ(source.GetData(), out.GetData());
}

TEST(ClStringMid, IntoItself) {
    ClString text("abcdef");
    ClStringData* block = text.GetData();
    text.Mid(text, 0, 3);
    EXPECT_STREQ("abc", text.GetText());
    EXPECT_EQ(block, text.GetData());

    ClString other("abcdef");
    ClString keep(other);
    other.Mid(other, 2, 3);
    EXPECT_STREQ("cde", other.GetText());
    EXPECT_STREQ("abcdef", keep.GetText());

    ClString alone("abcdef");
    alone.Mid(alone, 3, 10);
    EXPECT_STREQ("def", alone.GetText());
}

TEST(ClStringCompact, ShrinksOnlyWhenThereIsSpareRoom) {
    ClString text("abc");
    text.GetBuffer(10);
    text.ReleaseBuffer(5);
    text.Compact();
    EXPECT_EQ(6u, text.GetData()->capacity);
    EXPECT_EQ(6u, text.GetData()->length);
    ClStringData* block = text.GetData();
    text.Compact();
    EXPECT_EQ(block, text.GetData());
}

TEST(ClStringCompare, IgnoresCaseWhenAsked) {
    EXPECT_EQ(0, ClString::CompareText("HELP", "help", -1, -1, NORM_IGNORECASE));
    EXPECT_NE(0, ClString::CompareText("HELP", "help", -1, -1, 0));
    EXPECT_EQ(-1, ClString::CompareText("abc", "abd", -1, -1, NORM_IGNORECASE));
    EXPECT_EQ(1, ClString::CompareText("abd", "ABC", -1, -1, NORM_IGNORECASE));
    EXPECT_EQ(0, ClString::CompareText("helpme", "HELP", 4, -1, NORM_IGNORECASE));
    EXPECT_EQ(-2, ClString::CompareText(nullptr, "HELP", -1, -1, NORM_IGNORECASE));
}

TEST(ClStringFailure, AFailedAllocationLeavesTheStringAsItWas) {
    ClString text("abc");
    ClString shared("xyz");
    ClString copy(shared);
    const LONG emptyRefs = EmptyRefs();
    EXPECT_TRUE(FailsWithNthAllocation(1, [&] { text.Append("def"); }));
    EXPECT_TRUE(FailsWithNthAllocation(1, [&] { text.GetBuffer(100); }));
    EXPECT_TRUE(FailsWithNthAllocation(1, [&] { text = "a much longer text"; }));
    EXPECT_TRUE(FailsWithNthAllocation(1, [&] { shared.MakeUnique(); }));
    EXPECT_TRUE(FailsWithNthAllocation(1, [&] { shared.SetAt(0, 'q'); }));
    EXPECT_TRUE(FailsWithNthAllocation(1, [&] { text.Mid(shared, 1, 1); }));
    EXPECT_TRUE(FailsWithNthAllocation(1, [&] { ClString fresh("new"); }));
    EXPECT_STREQ("abc", text.GetText());
    EXPECT_EQ(4u, text.GetData()->capacity);
    EXPECT_EQ(1, text.GetData()->refs);
    EXPECT_STREQ("xyz", shared.GetText());
    EXPECT_EQ(copy.GetData(), shared.GetData());
    EXPECT_EQ(2, shared.GetData()->refs);
    EXPECT_EQ(emptyRefs, EmptyRefs());
}

TEST(ClStringFailure, LengthsBeyond32BitsFailLikeExhaustedMemory) {
    ClString text("abc");
    EXPECT_TRUE(FailsWithNthAllocation(0, [&] { text.GetBuffer(0xFFFFFFFF); }));
    EXPECT_TRUE(FailsWithNthAllocation(0, [&] { text.AppendBytes("x", 0xFFFFFFFD); }));
    EXPECT_STREQ("abc", text.GetText());
}

}  // namespace
