#include <gtest/gtest.h>

#include "controls/date_edit_logic.h"

using namespace controls;

namespace {
const DateFieldOrder kDmy{DMY, '/'};
}

TEST(DateEditExit, CompletesWhatWasTyped) {
    // Today is 17 December 2026 unless a case says otherwise.
    struct Case {
        const char* typed;
        const char* result;
        platform::DateParts today = {2026, 12, 17};
    } cases[] = {
        {"15/03/2026", "15/03/2026"},
        {"15/03/26  ", "15/03/2026"},
        {"15/03/5   ", "15/03/2025"},
        {"31/02/2026", "28/02/2026"},
        {"31/02/2024", "29/02/2024"},
        {"45/13/2026", "31/12/2026"},
        {"  /05/    ", "17/05/2026"},
        {"  /05/    ", "31/05/2026", {2026, 1, 31}},
        {"  /04/    ", "30/04/2026", {2026, 1, 31}},
        {" 5/  /    ", "05/12/2026"},
        {"00/00/0000", ""},
        {"  /  /    ", ""},
        {"", ""},
        {" 1/ 1/   1", "01/01/2021"},
    };
    for (const Case& c : cases) EXPECT_EQ(CompleteOnExit(c.typed, kDmy, c.today), c.result) << "'" << c.typed << "'";
}

TEST(DateEditExit, FollowsTheFormatOrder) {
    platform::DateParts today{2026, 12, 17};
    EXPECT_EQ(CompleteOnExit("03/15/2026", {MDY, '/'}, today), "03/15/2026");
    EXPECT_EQ(CompleteOnExit("02/31/2026", {MDY, '/'}, today), "02/28/2026");
    EXPECT_EQ(CompleteOnExit("2026-02-31", {YMD, '-'}, today), "2026-02-28");
    EXPECT_EQ(CompleteOnExit("15.03.26", {DMY, '.'}, today), "15.03.2026");
}

TEST(DateEditExit, ReadsTheCompletedText) {
    DateTime expected = 0;
    ASSERT_TRUE(platform::tryEncodeDate(2026, 3, 15, expected));
    EXPECT_EQ(GetDateInStr("15/03/2026", kDmy, 2026), expected);
    EXPECT_EQ(GetDateInStr("00/00/0000", kDmy, 2026), NullDate);
    EXPECT_EQ(GetDateInStr("31/02/2026", kDmy, 2026), NullDate);
    EXPECT_EQ(GetDateInStr("15/13/2026", kDmy, 2026), NullDate);
    EXPECT_EQ(GetDateInStr("15/03/0000", kDmy, 2026), NullDate);
    EXPECT_EQ(ValX(" 12 "), 12);
    EXPECT_EQ(ValX("1a"), 0);
    EXPECT_TRUE(IsXEmptyDate("00/00/0000"));
    EXPECT_FALSE(IsXEmptyDate("00/00/0001"));
}

TEST(DateEditKeys, StepAndYearCompletion) {
    DateTime d = 0;
    ASSERT_TRUE(platform::tryEncodeDate(2024, 2, 28, d));
    EXPECT_EQ(StepDate(d, 1, 99999), d + 1);  // 29/02/2024
    EXPECT_EQ(StepDate(NullDate, 1, 46000.5), 46001.5);
    EXPECT_EQ(StepDate(NullDate, -1, 46000.5), 45999.5);

    struct Case {
        const char* in;
        const char* out;
    } cases[] = {{"15/03/    ", "15/03/2026"},
                 {"15/03/ 6  ", "15/03/2026"},
                 {"15/03/26  ", "15/03/2026"},
                 {"15/03/2025", "15/03/2025"},
                 {"15/03/99 1", "15/03/2099"}};
    for (auto c : cases) EXPECT_EQ(CompleteYearField(c.in, 2026), c.out) << c.in;
}

TEST(DateEditMouse, SegmentsOfTheText) {
    struct Case {
        int index;
        int start, length;
    } cases[] = {{1, 0, 2}, {3, 0, 2}, {4, 3, 2}, {7, 3, 2}, {8, 6, 4}, {10, 6, 4}, {0, 6, 4}};
    for (auto c : cases) {
        Segment s = SegmentForChar(c.index, DMY);
        EXPECT_EQ(s.start, c.start) << c.index;
        EXPECT_EQ(s.length, c.length) << c.index;
    }
    EXPECT_EQ(SegmentForChar(2, YMD).start, 0);
    EXPECT_EQ(SegmentForChar(7, YMD).start, 5);
    EXPECT_EQ(SegmentForChar(10, YMD).start, 8);
}
