#pragma once
// What the date edit does with its text without a window: the completion
// when the focus leaves, reading a typed text, the date keys, the year
// completion of the validity check and the segment under the mouse.
//
// The fields are read at fixed positions of a "dd/mm/yyyy"-shaped text, in
// the order of the edit's date format (day-month-year in the locales the
// program runs in).

#include <string>

#include "controls/date_utils.h"

namespace controls {

struct DateFieldOrder {
    DateOrder order = DMY;
    char separator = '/';
};

// Digits and separators only, fields padded: "5/3/26" -> "05/03/2026".
std::string FormatStrDate(const std::string& text, DateFieldOrder o, int currentYear);
// True when no digit 1..9 is present ("00/00/0000" is empty).
bool IsXEmptyDate(const std::string& text);
// Whole number of a trimmed text; 0 when it is not one.
int ValX(const std::string& text);

struct StrDate {
    int day = 0, month = 0, year = 0;
};
// Fields at fixed positions; a text of exactly 8 characters takes the
// century of `centuryOf`.
StrDate DecodeStrDate(const std::string& text, DateFieldOrder o, int centuryOf);
bool IsXValidDate(const std::string& text, DateFieldOrder o, int centuryOf);
// Zero year, month or day from today; month over 12 becomes 12; a day past
// the month's end becomes its last day. Formatted back in the edit's order.
std::string AssumeDefaultDate(const std::string& text, DateFieldOrder o, platform::DateParts today, int centuryOf);
// NullDate for an empty or invalid text, else its date.
DateTime GetDateInStr(const std::string& text, DateFieldOrder o, int centuryOf);

// The whole exit completion: the text that stays in the edit. An empty
// result leaves the field empty.
std::string CompleteOnExit(const std::string& text, DateFieldOrder o, platform::DateParts today);

// Up / keypad + and Down / keypad -: one day after / before the date, or
// after / before `now` when the date is empty.
DateTime StepDate(DateTime date, int days, DateTime now);

// The year completion of the validity check on the last four characters:
// a blank in the first two takes the current year, a blank in the last two
// makes "<century><first two>".
std::string CompleteYearField(const std::string& text, int currentYear);

// Segment of the text (start, length) selected by a press on character
// `index` (1-based, 0 right of the text).
struct Segment {
    int start = 0, length = 0;
};
Segment SegmentForChar(int index, DateOrder order);

}  // namespace controls
