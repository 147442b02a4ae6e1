// The numbering ranges held for accepted window adds and changes: which
// requested ranges they block, for whom, and for how long.
#include "model/HeldRanges.h"

#include <gtest/gtest.h>

namespace {

TEST(HeldRanges, RangesMeetWhenTheyShareANumber)
{
    struct Case {
        int min, max, otherMin, otherMax;
        bool meet;
    };
    const Case cases[] = {
        { 1, 4, 5, 8, false }, // side by side
        { 1, 5, 5, 8, true }, // one shared end
        { 5, 8, 1, 5, true }, // the same, the other way round
        { 1, 10, 3, 4, true }, // enclosing
        { 3, 4, 1, 10, true }, // enclosed
        { 2, 2, 2, 2, true }, // single numbers
        { 1, 4, 0, 0, false }, // (0, 0): a change without numbers
        { 1, 4, 4, 1, false }, // an empty range
        { 4, 1, 1, 4, false },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(HeldRanges::meet(c.min, c.max, c.otherMin, c.otherMax), c.meet)
            << c.min << "-" << c.max << " against " << c.otherMin << "-" << c.otherMax;
    }
}

TEST(HeldRanges, BlocksOtherWindowsUntilEachHoldIsReleased)
{
    HeldRanges held;
    held.hold("3", true, 10, 19);
    held.hold("3", false, 0, 0);
    held.hold("4", true, 30, 39);

    struct Case {
        const char* win_id;
        int min, max;
        bool blocked;
    };
    const Case before[] = {
        { "5", 15, 25, true }, // meets window 3's range
        { "3", 15, 25, false }, // a window's own hold does not block it
        { "5", 20, 29, false }, // between the holds
        { "3", 35, 35, true }, // window 4's range blocks window 3
        { "5", 1, 9, false },
    };
    for (const Case& c : before)
        EXPECT_EQ(held.meetsOther(c.win_id, c.min, c.max), c.blocked) << c.win_id << " " << c.min << "-" << c.max;

    // Holds go in the order their operations run: the numbered one first.
    held.release("3");
    EXPECT_TRUE(held.holds("3"));
    EXPECT_FALSE(held.meetsOther("5", 15, 25));
    held.release("3");
    EXPECT_FALSE(held.holds("3"));
    held.release("3"); // nothing left: no effect
    EXPECT_TRUE(held.meetsOther("5", 39, 40));
    held.release("4");
    EXPECT_FALSE(held.holds("4"));
    EXPECT_FALSE(held.meetsOther("5", 1, 100));
}

} // namespace
