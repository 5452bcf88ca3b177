#pragma once
// The month calendar's arithmetic without any window: where each day sits in
// the 7 × 6 grid, which date a cell stands for, the month and year steps and
// the limits. The month calendar widget holds one and only paints from it.

#include <functional>
#include <string>
#include <vector>

#include "platform/datetime.h"
#include "platform/regional.h"

namespace controls {

using platform::DateTime;

enum class TCalDayOfWeek {
    dowMonday = 0,
    dowTuesday,
    dowWednesday,
    dowThursday,
    dowFriday,
    dowSaturday,
    dowSunday,
    dowLocaleDefault
};

// A set of weekdays, bit n for TCalDayOfWeek n.
struct TDaysOfWeek {
    unsigned bits = 0;
    TDaysOfWeek() = default;
    TDaysOfWeek(std::initializer_list<TCalDayOfWeek> days) {
        for (auto d : days) bits |= 1u << static_cast<int>(d);
    }
    bool contains(TCalDayOfWeek d) const { return bits & (1u << static_cast<int>(d)); }
    bool operator==(const TDaysOfWeek&) const = default;
};

// 1 = Sunday ... 7 = Saturday.
int DayOfWeek(DateTime date);
// ISO 8601 week number of a date.
int IsoWeekOfYear(DateTime date);

struct CellPos {
    int col = 0, row = 0;
    bool operator==(const CellPos&) const = default;
};

// One entry of the year menu: a single year (first == last) or a group of ten.
struct YearMenuEntry {
    int first = 0, last = 0;
    bool operator==(const YearMenuEntry&) const = default;
};
std::vector<YearMenuEntry> YearMenuLayout(int year);

// Offsets of the month slide over a grid of the given width: x grows by a
// fifth of what is left per frame until it rounds to the width.
std::vector<int> SlideOffsets(int width);

class CalendarLayout {
public:
    CalendarLayout();

    // Settings.
    TCalDayOfWeek StartOfWeek = TCalDayOfWeek::dowLocaleDefault;
    bool ShowWeeks = false;
    bool AllowChangeMonth = true;
    bool UseCurrentDate = true;
    bool ReadOnly = false;
    DateTime MinDate = 0, MaxDate = 0;
    // The locale's first day of week, 0 = Monday ... 6 = Sunday; read at each layout.
    std::function<int()> LocaleFirstDay;
    std::function<DateTime()> Today = platform::today;

    // Converts the platform's numbering (0 = Sunday) to the calendar's (0 = Monday).
    static int FirstDayFromSettings(const platform::FormatSettings& fs) { return (fs.firstDayOfWeek + 6) % 7; }

    DateTime CalendarDate() const { return FDate; }
    // Ignored when unchanged or outside the limits (or in another month while
    // the month may not change). True when the date changed.
    bool SetCalendarDate(DateTime date);
    int Day() const;
    int Month() const;
    int Year() const;
    // Direct field changes: no limit check, UseCurrentDate goes off.
    bool SetDay(int day);
    bool SetMonth(int month);
    bool SetYear(int year);

    bool PrevMonth() { return StepMonth(-1); }
    bool NextMonth() { return StepMonth(+1); }
    bool PrevYear() { return StepYear(-1); }
    bool NextYear() { return StepYear(+1); }
    bool StepMonth(int delta);
    bool StepYear(int delta);
    // Moves by days when the new date is within the limits.
    bool StepDays(int days);
    bool GoToday();

    bool IsValidDate(DateTime date) const {
        return (MinDate == 0 || MinDate <= date) && (MaxDate == 0 || date <= MaxDate);
    }

    void UpdateCalendar();  // recomputes the offset
    int FirstDay() const;
    int MonthOffset() const { return FMonthOffset; }
    int WeekCol() const { return ShowWeeks ? 1 : 0; }
    int ColCount() const { return 7 + WeekCol(); }
    int DaysThisMonth() const;
    int DaysPrevMonth() const;
    // Day number of a cell before wrapping: ≤ 0 previous month, beyond the length next month.
    int RawDay(int col, int row) const;
    bool IsOtherMonth(int col, int row) const;
    std::string GetCellText(int col, int row, const platform::FormatSettings& fs) const;
    // 0 for the day-name row and the week column.
    DateTime GetCellDate(int col, int row) const;
    CellPos CurrentCell() const;
    bool IsWeekendCol(int col, TDaysOfWeek weekends) const;
    int WeekNumber(int row) const;

    // A press on a cell: selects it when its date is within the limits; a day
    // of the neighbouring months switches to that month. True when the date changed.
    bool SelectCell(int col, int row);

private:
    DateTime FDate = 0;
    int FMonthOffset = 0;
};

}  // namespace controls
