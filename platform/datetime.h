#pragma once
// Date serials and their texts: days since 30 December 1899 (day 0), the
// fraction being the time of day. The routines follow the classic desktop
// run-time library semantics the stored configuration relies on.

#include <optional>
#include <string>

#include "platform/regional.h"

namespace platform {

using DateTime = double;
constexpr DateTime NullDate = 0.0;

struct DateParts {
    int year = 0, month = 0, day = 0;
};
struct TimeParts {
    int hour = 0, minute = 0, second = 0, msec = 0;
};

bool isLeapYear(int year);
int daysInMonth(int year, int month);
bool tryEncodeDate(int year, int month, int day, DateTime& out);
bool tryEncodeTime(int hour, int minute, int second, int msec, DateTime& out);
// Decodes the whole-day part (years 1..9999); false when out of range.
bool tryDecodeDate(DateTime value, DateParts& out);
TimeParts decodeTime(DateTime value);  // the fraction, to the millisecond
DateTime dateOf(DateTime value);       // time of day removed
DateTime now();                        // local clock
DateTime today();

// FormatDateTime with the given settings ('/', ':' become the separators).
std::string formatDateTime(const std::string& format, DateTime value, const FormatSettings& fs);
std::string formatShortDate(DateTime value, const FormatSettings& fs);  // shortDateFormat
std::string formatLongTime(DateTime value, const FormatSettings& fs);   // longTimeFormat
// Short date, then a blank and the long time unless the time is exactly midnight.
std::string formatDateTimeText(DateTime value, const FormatSettings& fs);

// StrToDate: numbers in the short date format's order separated by the date
// separator; two numbers are day and month of the current year; a two-digit
// year goes through the century window. Leading and trailing blanks allowed.
std::optional<DateTime> strToDate(const std::string& text, const FormatSettings& fs);
// StrToTime: hours, minutes and optional seconds (and milliseconds after a
// decimal separator), separated by the time separator, optionally followed or
// preceded by the AM/PM strings. Leading blanks allowed. Result in [0, 1).
std::optional<DateTime> strToTime(const std::string& text, const FormatSettings& fs);

}  // namespace platform
