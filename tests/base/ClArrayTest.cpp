// Tests of ClArray with its one element type, the device selector.
#include <gtest/gtest.h>

#include "base/ClArray.h"
#include "base/ClDeviceSelector.h"
#include "errors/ClException.h"
#include "errors/OutOfMemory.h"

namespace {

ClDeviceSelector ByName(const ClString& text) {
    ClDeviceSelector selector;
    selector.name = ClStringRange(text);
    return selector;
}

ClDeviceSelector ByNumber(DWORD number) {
    ClDeviceSelector selector;
    selector.number = number;
    return selector;
}

TEST(ClArray, NewArrayIsEmptyWithoutABlock) {
    ClArray<ClDeviceSelector> selectors;
    EXPECT_EQ(0u, selectors.GetCount());
    EXPECT_EQ(0u, selectors.GetCapacity());
}

TEST(ClArray, GrowsByExactlyOneAndKeepsOrder) {
    ClArray<ClDeviceSelector> selectors;
    selectors.Append(ByName(ClString("first")));
    EXPECT_EQ(1u, selectors.GetCount());
    EXPECT_EQ(1u, selectors.GetCapacity());
    selectors.Append(ByNumber(2));
    EXPECT_EQ(2u, selectors.GetCapacity());
    selectors.Append(ByName(ClString("third")));
    EXPECT_EQ(3u, selectors.GetCount());
    EXPECT_EQ(3u, selectors.GetCapacity());
    EXPECT_TRUE(selectors[0].name.EqualsNoCase("first"));
    EXPECT_EQ(0u, selectors[0].number);
    EXPECT_TRUE(selectors[1].name.IsEmpty());
    EXPECT_EQ(2u, selectors[1].number);
    EXPECT_TRUE(selectors[2].name.EqualsNoCase("THIRD"));
    EXPECT_EQ(0, selectors[2].found);
}

TEST(ClArray, ElementsHoldTheirNamesUntilTheArrayGoes) {
    ClString name("Modem");
    {
        ClArray<ClDeviceSelector> selectors;
        selectors.Append(ByName(name));
        EXPECT_EQ(2, name.GetData()->refs);
        selectors.Append(ByName(name));
        selectors.Append(selectors[0]);
        EXPECT_EQ(4, name.GetData()->refs);
    }
    EXPECT_EQ(1, name.GetData()->refs);
}

TEST(ClArray, FailedAppendLeavesTheArrayAsItWas) {
    ClString name("Modem");
    ClArray<ClDeviceSelector> selectors;
    selectors.Append(ByName(name));
    selectors.Append(ByNumber(7));
    const ClDeviceSelector* before = &selectors[0];
    FailAllocationAfter(1);
    ClException* failure = nullptr;
    try {
        selectors.Append(ByNumber(8));
    } catch (ClException* caught) {
        failure = caught;
    }
    CancelAllocationFailure();
    ASSERT_NE(nullptr, failure);
    delete failure;
    EXPECT_EQ(2u, selectors.GetCount());
    EXPECT_EQ(before, &selectors[0]);
    EXPECT_EQ(7u, selectors[1].number);
    EXPECT_EQ(2, name.GetData()->refs);
}

}  // namespace
