#pragma once
// Date text utilities shared by the date edit and the month calendar: month
// lengths, validity, the locale's field order, the default format and mask,
// two-digit years, and reading a date text against a format (a positional
// pass, then a scan of numbers). Locale values come in as FormatSettings, and
// the current year as a number, so callers read them at the moment of use.

#include <string>

#include "platform/datetime.h"
#include "platform/regional.h"

namespace controls {

using platform::DateTime;
using platform::FormatSettings;
using platform::NullDate;

enum DateOrder { MDY = 0, DMY = 1, YMD = 2 };

int DaysInMonth(int year, int month);
bool ValidDateParts(int year, int month, int day);
bool ValidDate(DateTime value);
int ExtractYear(DateTime value);
int CurrentYear();  // the local clock's

DateOrder GetDateOrder(const std::string& format);
// Four-digit-year flag of a short date format ("YYYY" in its upper case).
bool FourDigitYearIn(const std::string& shortDateFormat);

std::string DefaultDateFormat(bool fourDigitYear, const FormatSettings& fs);
std::string DefaultDateMask(char blanksChar, bool fourDigitYear, const FormatSettings& fs);

int ExpandTwoDigitYear(int year, int currentYear);
int ExpandTwoDigitYear(int year);

int MonthFromName(const std::string& text, int n, const FormatSettings& fs);
int ExtractDateField(const std::string& format, const std::string& text, char letter, int count, int blank, int deflt,
                     const FormatSettings& fs);

// Scanners on 1-based positions, advanced in place.
void ScanBlanks(const std::string& s, int& pos);
bool ScanChar(const std::string& s, int& pos, char ch);
bool ScanNumber(const std::string& s, int maxLength, int& pos, int& number);
bool ScanDateNumbers(const std::string& s, const std::string& format, int& pos, int& y, int& m, int& d,
                     const FormatSettings& fs, int currentYear);

bool StrToDateByFormat(const std::string& format, const std::string& text, DateTime& date, const FormatSettings& fs,
                       int currentYear);
DateTime StrToDateByFormatDef(const std::string& format, const std::string& text, DateTime deflt,
                              const FormatSettings& fs, int currentYear);
// With the process locale and the clock, read now.
bool StrToDateByFormat(const std::string& format, const std::string& text, DateTime& date);
DateTime StrToDateByFormatDef(const std::string& format, const std::string& text, DateTime deflt);

}  // namespace controls
