#include "controls/calendar_layout.h"

#include <gtest/gtest.h>

using controls::CalendarLayout;
using controls::CellPos;
using controls::TCalDayOfWeek;
using platform::DateTime;

namespace {

DateTime D(int y, int m, int d) {
    DateTime out = 0;
    EXPECT_TRUE(platform::tryEncodeDate(y, m, d, out));
    return out;
}

// A calendar on a fixed day, with Monday or Sunday first and no dependence on the machine.
CalendarLayout makeCalendar(DateTime date, TCalDayOfWeek start = TCalDayOfWeek::dowMonday) {
    CalendarLayout cal;
    cal.Today = [] { return D(2026, 12, 10); };
    cal.LocaleFirstDay = [] { return 6; };
    cal.StartOfWeek = start;
    cal.SetCalendarDate(date);
    cal.UpdateCalendar();
    return cal;
}

struct MonthCase {
    int year, month;
    TCalDayOfWeek start;
    CellPos firstOfMonth;
    const char* firstCellText;  // cell (0, 1)
};

class MonthLayout : public ::testing::TestWithParam<MonthCase> {};

TEST_P(MonthLayout, PlacesEveryDay) {
    const MonthCase& c = GetParam();
    CalendarLayout cal = makeCalendar(D(c.year, c.month, 1), c.start);
    platform::FormatSettings fs = platform::formatSettingsFor("en_US.UTF-8");

    EXPECT_EQ(cal.CurrentCell(), c.firstOfMonth);
    EXPECT_EQ(cal.GetCellDate(c.firstOfMonth.col, c.firstOfMonth.row), D(c.year, c.month, 1));
    EXPECT_EQ(cal.GetCellText(0, 1, fs), c.firstCellText);
    // Every cell is the day after the one before it; texts wrap into the neighbouring months.
    DateTime first = cal.GetCellDate(0, 1);
    for (int row = 1; row <= 6; ++row)
        for (int col = 0; col < 7; ++col) {
            DateTime date = cal.GetCellDate(col, row);
            ASSERT_EQ(date, first + (row - 1) * 7 + col) << col << "," << row;
            platform::DateParts p;
            ASSERT_TRUE(platform::tryDecodeDate(date, p));
            EXPECT_EQ(cal.GetCellText(col, row, fs), std::to_string(p.day));
            EXPECT_EQ(cal.IsOtherMonth(col, row), p.month != c.month);
        }
    // Each date of the month maps back to its own cell.
    for (int day = 1; day <= platform::daysInMonth(c.year, c.month); ++day) {
        cal.SetCalendarDate(D(c.year, c.month, day));
        CellPos pos = cal.CurrentCell();
        EXPECT_EQ(cal.GetCellDate(pos.col, pos.row), D(c.year, c.month, day));
    }
    // Header: the first column's weekday.
    EXPECT_EQ(cal.GetCellText(0, 0, fs), c.start == TCalDayOfWeek::dowMonday ? "Mon" : "Sun");
}

constexpr auto Mon = TCalDayOfWeek::dowMonday;
constexpr auto Sun = TCalDayOfWeek::dowSunday;

INSTANTIATE_TEST_SUITE_P(EachWeekday, MonthLayout,
                         ::testing::Values(
                             // 2021: Mar starts on Monday, Jun Tuesday, Sep Wednesday, Apr Thursday,
                             // Jan Friday, May Saturday, Aug Sunday.
                             MonthCase{2021, 3, Mon, {0, 2}, "22"}, MonthCase{2021, 6, Mon, {1, 1}, "31"},
                             MonthCase{2021, 9, Mon, {2, 1}, "30"}, MonthCase{2021, 4, Mon, {3, 1}, "29"},
                             MonthCase{2021, 1, Mon, {4, 1}, "28"}, MonthCase{2021, 5, Mon, {5, 1}, "26"},
                             MonthCase{2021, 8, Mon, {6, 1}, "26"}, MonthCase{2021, 8, Sun, {0, 2}, "25"},
                             MonthCase{2021, 3, Sun, {1, 1}, "28"}, MonthCase{2021, 6, Sun, {2, 1}, "30"},
                             MonthCase{2021, 9, Sun, {3, 1}, "29"}, MonthCase{2021, 4, Sun, {4, 1}, "28"},
                             MonthCase{2021, 1, Sun, {5, 1}, "27"}, MonthCase{2021, 5, Sun, {6, 1}, "25"},
                             // February of a leap year starting on Thursday; a 28-day February that fills four rows.
                             MonthCase{2024, 2, Mon, {3, 1}, "29"}, MonthCase{2015, 2, Sun, {0, 2}, "25"}));

TEST(CalendarLayout, HeaderFollowsTheLocaleFirstDay) {
    for (const char* locale : {"pt_BR.UTF-8", "en_US.UTF-8"}) {
        platform::FormatSettings fs = platform::formatSettingsFor(locale);
        CalendarLayout cal = makeCalendar(D(2026, 3, 1), TCalDayOfWeek::dowLocaleDefault);
        cal.LocaleFirstDay = [fs] { return CalendarLayout::FirstDayFromSettings(fs); };
        cal.UpdateCalendar();
        // Both locales start their weeks on Sunday.
        EXPECT_EQ(cal.FirstDay(), 6);
        EXPECT_EQ(cal.GetCellText(0, 0, fs), fs.shortDayNames[0]) << locale;
        EXPECT_EQ(cal.GetCellText(6, 0, fs), fs.shortDayNames[6]) << locale;
        EXPECT_TRUE(cal.IsWeekendCol(0, {TCalDayOfWeek::dowSunday}));
        EXPECT_FALSE(cal.IsWeekendCol(6, {TCalDayOfWeek::dowSunday}));
    }
    CalendarLayout cal = makeCalendar(D(2026, 3, 1), TCalDayOfWeek::dowMonday);
    EXPECT_TRUE(cal.IsWeekendCol(6, {TCalDayOfWeek::dowSunday}));
    EXPECT_TRUE(cal.IsWeekendCol(5, {TCalDayOfWeek::dowSaturday, TCalDayOfWeek::dowSunday}));
}

TEST(CalendarLayout, WeekColumnShiftsTheDays) {
    CalendarLayout cal = makeCalendar(D(2021, 3, 1));
    cal.ShowWeeks = true;
    cal.UpdateCalendar();
    platform::FormatSettings fs = platform::formatSettingsFor("en_US.UTF-8");
    EXPECT_EQ(cal.CurrentCell(), (CellPos{1, 2}));
    EXPECT_EQ(cal.GetCellDate(1, 2), D(2021, 3, 1));
    EXPECT_EQ(cal.GetCellDate(0, 2), 0);
    EXPECT_EQ(cal.GetCellText(1, 0, fs), "Mon");
    EXPECT_EQ(cal.GetCellText(0, 2, fs), "9");  // 1 March 2021 is in ISO week 9
    EXPECT_EQ(controls::IsoWeekOfYear(D(2021, 1, 3)), 53);
    EXPECT_EQ(controls::IsoWeekOfYear(D(2026, 12, 31)), 53);
    EXPECT_EQ(controls::IsoWeekOfYear(D(2025, 12, 29)), 1);
}

struct StepCase {
    DateTime from;
    int monthDelta, yearDelta;
    DateTime to;
};

TEST(CalendarLayout, MonthAndYearStepsKeepTheDayWhenTheyCan) {
    for (StepCase c :
         {StepCase{D(2024, 1, 31), +1, 0, D(2024, 2, 29)}, StepCase{D(2023, 1, 31), +1, 0, D(2023, 2, 28)},
          StepCase{D(2024, 3, 31), -1, 0, D(2024, 2, 29)}, StepCase{D(2024, 1, 31), -1, 0, D(2023, 12, 31)},
          StepCase{D(2023, 12, 15), +1, 0, D(2024, 1, 15)}, StepCase{D(2026, 4, 30), +1, 0, D(2026, 5, 30)},
          StepCase{D(2024, 2, 29), 0, +1, D(2025, 2, 28)}, StepCase{D(2024, 2, 29), 0, -1, D(2023, 2, 28)},
          StepCase{D(2023, 2, 28), 0, +1, D(2024, 2, 28)}, StepCase{D(2024, 12, 31), 0, -1, D(2023, 12, 31)}}) {
        CalendarLayout cal = makeCalendar(c.from);
        if (c.monthDelta) cal.StepMonth(c.monthDelta);
        if (c.yearDelta) cal.StepYear(c.yearDelta);
        EXPECT_EQ(cal.CalendarDate(), c.to) << c.from << " " << c.monthDelta << " " << c.yearDelta;
    }
}

TEST(CalendarLayout, LimitsStopMonthStepsAndDaysButNotYears) {
    CalendarLayout cal = makeCalendar(D(2024, 1, 31));
    cal.MaxDate = D(2024, 2, 10);
    EXPECT_FALSE(cal.NextMonth());  // 29 February is past the limit
    EXPECT_EQ(cal.CalendarDate(), D(2024, 1, 31));

    cal.SetCalendarDate(D(2024, 2, 10));
    EXPECT_FALSE(cal.StepDays(+1));
    EXPECT_FALSE(cal.StepDays(+7));
    EXPECT_TRUE(cal.StepDays(-1));
    EXPECT_EQ(cal.CalendarDate(), D(2024, 2, 9));
    EXPECT_FALSE(cal.SetCalendarDate(D(2024, 3, 1)));

    cal.MinDate = D(2024, 2, 5);
    EXPECT_FALSE(cal.StepDays(-7));
    EXPECT_TRUE(cal.NextYear());  // years set the field directly
    EXPECT_EQ(cal.CalendarDate(), D(2025, 2, 9));
    EXPECT_FALSE(cal.GoToday());  // today (10 December 2026) is outside
}

TEST(CalendarLayout, FixedMonthRefusesEveryMonthChange) {
    CalendarLayout cal = makeCalendar(D(2021, 3, 15));
    cal.AllowChangeMonth = false;
    EXPECT_FALSE(cal.NextMonth());
    EXPECT_FALSE(cal.PrevYear());
    EXPECT_FALSE(cal.StepDays(-15));
    EXPECT_FALSE(cal.SelectCell(0, 1));  // 22 February
    EXPECT_TRUE(cal.StepDays(+7));
    EXPECT_EQ(cal.CalendarDate(), D(2021, 3, 22));
}

TEST(CalendarLayout, ClickSelectsCellsWithinTheLimits) {
    // March 2021, Monday first: row 1 holds 22..28 February, row 6 ends with 4 April.
    CalendarLayout cal = makeCalendar(D(2021, 3, 10));
    EXPECT_TRUE(cal.SelectCell(3, 2));
    EXPECT_EQ(cal.CalendarDate(), D(2021, 3, 4));
    EXPECT_FALSE(cal.UseCurrentDate);
    EXPECT_FALSE(cal.SelectCell(3, 0));  // day names
    EXPECT_TRUE(cal.SelectCell(6, 6));   // a greyed day of April
    EXPECT_EQ(cal.CalendarDate(), D(2021, 4, 4));
    EXPECT_EQ(cal.Month(), 4);

    CalendarLayout limited = makeCalendar(D(2021, 1, 20));
    limited.MaxDate = D(2021, 2, 5);
    // January 2021, Monday first: (2, 6) is 3 February, (6, 6) is 7 February.
    EXPECT_FALSE(limited.SelectCell(6, 6));
    EXPECT_EQ(limited.CalendarDate(), D(2021, 1, 20));
    EXPECT_TRUE(limited.SelectCell(2, 6));
    EXPECT_EQ(limited.CalendarDate(), D(2021, 2, 3));  // not 3 January
}

TEST(CalendarLayout, FieldSettersFollowTheirRules) {
    CalendarLayout cal = makeCalendar(D(2024, 1, 31));
    EXPECT_FALSE(cal.SetMonth(13));
    EXPECT_FALSE(cal.SetDay(0));
    EXPECT_FALSE(cal.SetDay(32));
    EXPECT_FALSE(cal.SetMonth(1));  // unchanged
    EXPECT_TRUE(cal.SetMonth(4));
    EXPECT_EQ(cal.CalendarDate(), D(2024, 4, 30));
    EXPECT_TRUE(cal.SetYear(1999));
    EXPECT_EQ(cal.CalendarDate(), D(1999, 4, 30));
    EXPECT_FALSE(cal.SetYear(0));
}

TEST(CalendarLayout, YearMenuGroupsAroundTheYear) {
    auto menu = controls::YearMenuLayout(2026);
    ASSERT_EQ(menu.size(), 19u);
    EXPECT_EQ(menu.front(), (controls::YearMenuEntry{1972, 1981}));
    EXPECT_EQ(menu[4], (controls::YearMenuEntry{2012, 2021}));
    EXPECT_EQ(menu[5], (controls::YearMenuEntry{2022, 2022}));
    EXPECT_EQ(menu[14], (controls::YearMenuEntry{2031, 2031}));
    EXPECT_EQ(menu[15], (controls::YearMenuEntry{2032, 2041}));
    EXPECT_EQ(menu.back(), (controls::YearMenuEntry{2062, 2071}));
}

TEST(CalendarLayout, SlideEndsExactlyAtTheWidth) {
    for (int width : {1, 7, 189, 600}) {
        auto xs = controls::SlideOffsets(width);
        ASSERT_FALSE(xs.empty());
        EXPECT_EQ(xs.back(), width);
        for (size_t i = 1; i < xs.size(); ++i) EXPECT_LE(xs[i - 1], xs[i]);
    }
    auto xs = controls::SlideOffsets(189);
    EXPECT_EQ(xs.front(), 38);  // 189 / 5, rounded
    EXPECT_LT(xs.size(), 40u);  // about a third of a second at 12 ms a frame
    EXPECT_TRUE(controls::SlideOffsets(0).empty());
}

}  // namespace
