#include "controls/calendar_layout.h"

#include <cmath>

namespace controls {

namespace {

platform::DateParts decode(DateTime d) {
    platform::DateParts p;
    if (!platform::tryDecodeDate(d, p)) p = {1899, 12, 30};
    return p;
}

DateTime encode(int y, int m, int d) {
    DateTime out = 0;
    platform::tryEncodeDate(y, m, d, out);
    return out;
}

int floorMod(int a, int b) { return ((a % b) + b) % b; }
int floorDiv(int a, int b) { return (a - floorMod(a, b)) / b; }

}  // namespace

int DayOfWeek(DateTime date) {
    long n = static_cast<long>(std::floor(date));
    return static_cast<int>(((n + 6) % 7 + 7) % 7) + 1;  // day 0 was a Saturday
}

int IsoWeekOfYear(DateTime date) {
    // The week belongs to the year of its Thursday.
    int isoDay = (DayOfWeek(date) + 5) % 7;  // 0 = Monday
    DateTime thursday = std::floor(date) - isoDay + 3;
    auto p = decode(thursday);
    DateTime jan1 = encode(p.year, 1, 1);
    return static_cast<int>((thursday - jan1) / 7) + 1;
}

std::vector<YearMenuEntry> YearMenuLayout(int year) {
    std::vector<YearMenuEntry> out;
    for (int y = year - 54; y < year - 4; y += 10) out.push_back({y, y + 9});
    for (int y = year - 4; y <= year + 5; ++y) out.push_back({y, y});
    for (int y = year + 6; y < year + 46; y += 10) out.push_back({y, y + 9});
    return out;
}

std::vector<int> SlideOffsets(int width) {
    std::vector<int> out;
    if (width <= 0) return out;
    double x = 0;
    while (static_cast<int>(std::lround(x)) < width) {
        x += (width - x) / 5;
        out.push_back(static_cast<int>(std::lround(x)));
    }
    return out;
}

CalendarLayout::CalendarLayout() {
    LocaleFirstDay = [] { return FirstDayFromSettings(platform::currentFormatSettings()); };
    FDate = Today ? Today() : 0;
    UpdateCalendar();
}

int CalendarLayout::Day() const { return decode(FDate).day; }
int CalendarLayout::Month() const { return decode(FDate).month; }
int CalendarLayout::Year() const { return decode(FDate).year; }

int CalendarLayout::FirstDay() const {
    if (StartOfWeek != TCalDayOfWeek::dowLocaleDefault) return static_cast<int>(StartOfWeek);
    int d = LocaleFirstDay ? LocaleFirstDay() : 6;
    return (d >= 0 && d <= 6) ? d : 6;
}

void CalendarLayout::UpdateCalendar() {
    auto p = decode(FDate);
    int w = (DayOfWeek(encode(p.year, p.month, 1)) - FirstDay() + 6) % 7;
    FMonthOffset = 2 - w;
    if (FMonthOffset == 1 || FMonthOffset == 2) FMonthOffset -= 7;
}

int CalendarLayout::DaysThisMonth() const {
    auto p = decode(FDate);
    return platform::daysInMonth(p.year, p.month);
}

int CalendarLayout::DaysPrevMonth() const {
    auto p = decode(FDate);
    return p.month == 1 ? 31 : platform::daysInMonth(p.year, p.month - 1);
}

int CalendarLayout::RawDay(int col, int row) const { return col + FMonthOffset + 7 * row - 7 - WeekCol(); }

bool CalendarLayout::IsOtherMonth(int col, int row) const {
    int raw = RawDay(col, row);
    return raw < 1 || raw > DaysThisMonth();
}

std::string CalendarLayout::GetCellText(int col, int row, const platform::FormatSettings& fs) const {
    if (ShowWeeks && col == 0) return row == 0 ? "\xC2\xB9/w" : std::to_string(WeekNumber(row));
    if (row == 0) return fs.shortDayNames[(FirstDay() + col - WeekCol() + 1) % 7];
    int raw = RawDay(col, row);
    if (raw < 1) return std::to_string(raw + DaysPrevMonth());
    if (raw > DaysThisMonth()) return std::to_string(raw - DaysThisMonth());
    return std::to_string(raw);
}

DateTime CalendarLayout::GetCellDate(int col, int row) const {
    if (row < 1 || col < WeekCol()) return 0;
    auto p = decode(FDate);
    // Days before the first or past the end simply fall into the neighbouring month.
    return encode(p.year, p.month, 1) + RawDay(col, row) - 1;
}

CellPos CalendarLayout::CurrentCell() const {
    int d = Day() - FMonthOffset;
    return {floorMod(d, 7) + WeekCol(), floorDiv(d, 7) + 1};
}

bool CalendarLayout::IsWeekendCol(int col, TDaysOfWeek weekends) const {
    if (col < WeekCol()) return false;
    return weekends.contains(static_cast<TCalDayOfWeek>((FirstDay() + col - WeekCol()) % 7));
}

int CalendarLayout::WeekNumber(int row) const {
    // The row's Thursday column decides, as for ISO weeks with Monday first.
    int col = WeekCol() + floorMod(3 - FirstDay(), 7);
    return IsoWeekOfYear(GetCellDate(col, row));
}

bool CalendarLayout::SetCalendarDate(DateTime date) {
    if (date == FDate || !IsValidDate(date)) return false;
    if (!AllowChangeMonth) {
        auto a = decode(date), b = decode(FDate);
        if (a.year != b.year || a.month != b.month) return false;
    }
    FDate = date;
    UpdateCalendar();
    return true;
}

bool CalendarLayout::SetDay(int day) {
    auto p = decode(FDate);
    if (day < 1 || day > platform::daysInMonth(p.year, p.month) || day == p.day) return false;
    FDate = encode(p.year, p.month, day);
    UseCurrentDate = false;
    UpdateCalendar();
    return true;
}

bool CalendarLayout::SetMonth(int month) {
    auto p = decode(FDate);
    if (month < 1 || month > 12 || month == p.month) return false;
    int day = std::min(p.day, platform::daysInMonth(p.year, month));
    FDate = encode(p.year, month, day);
    UseCurrentDate = false;
    UpdateCalendar();
    return true;
}

bool CalendarLayout::SetYear(int year) {
    auto p = decode(FDate);
    if (year < 1 || year > 9999 || year == p.year) return false;
    int day = std::min(p.day, platform::daysInMonth(year, p.month));
    FDate = encode(year, p.month, day);
    UseCurrentDate = false;
    UpdateCalendar();
    return true;
}

bool CalendarLayout::StepMonth(int delta) {
    if (!AllowChangeMonth || delta == 0) return false;
    auto p = decode(FDate);
    DateTime edge = delta < 0 ? encode(p.year, p.month, 1) - 1
                              : encode(p.year, p.month, platform::daysInMonth(p.year, p.month)) + 1;
    auto n = decode(edge);
    int day = std::min(p.day, platform::daysInMonth(n.year, n.month));
    return SetCalendarDate(encode(n.year, n.month, day));
}

bool CalendarLayout::StepYear(int delta) {
    if (!AllowChangeMonth) return false;
    auto p = decode(FDate);
    bool changed = false;
    if (p.month == 2 && p.day == 29) changed = SetDay(28);
    return SetYear(p.year + delta) || changed;
}

bool CalendarLayout::StepDays(int days) { return SetCalendarDate(std::floor(FDate) + days); }

bool CalendarLayout::GoToday() { return Today && SetCalendarDate(Today()); }

bool CalendarLayout::SelectCell(int col, int row) {
    if (ReadOnly || row < 1 || row > 6 || col < WeekCol() || col >= ColCount()) return false;
    DateTime date = GetCellDate(col, row);
    if (!IsValidDate(date)) return false;
    if (IsOtherMonth(col, row)) {
        if (!AllowChangeMonth) {
            UpdateCalendar();
            return false;
        }
        // Straight to the cell's date: stepping the month first could be
        // refused by a limit and leave the day in the wrong month.
        if (!SetCalendarDate(date)) return false;
        UseCurrentDate = false;
        return true;
    }
    return SetDay(RawDay(col, row));
}

}  // namespace controls
