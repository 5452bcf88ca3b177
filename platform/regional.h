#pragma once
// Regional settings, read from the POSIX locale at the moment of each call
// (LC_TIME for dates, LC_NUMERIC for numbers, LC_MONETARY for the currency).
// Format texts use the classic desktop conventions: d dd ddd dddd, m mm mmm
// mmmm (M accepted too), yy yyyy, h hh (24 h unless AM/PM is present),
// n nn / mm after h for minutes, s ss, z zzz, "AM/PM", "ampm", '/' for the
// date separator and ':' for the time separator. All texts are UTF-8.

#include <array>
#include <string>

namespace platform {

struct FormatSettings {
    std::string shortDateFormat = "dd/MM/yyyy";
    std::string longDateFormat = "dddd, d' de 'MMMM' de 'yyyy";
    std::string shortTimeFormat = "hh:mm";
    std::string longTimeFormat = "hh:mm:ss";
    char dateSeparator = '/';
    char timeSeparator = ':';
    char decimalSeparator = ',';
    char thousandSeparator = '.';
    std::string currencyString = "R$";
    std::string timeAMString = "AM";
    std::string timePMString = "PM";
    std::array<std::string, 12> shortMonthNames;  // January first
    std::array<std::string, 12> longMonthNames;
    std::array<std::string, 7> shortDayNames;  // Sunday first
    std::array<std::string, 7> longDayNames;
    int firstDayOfWeek = 0;  // 0 = Sunday ... 6 = Saturday
    int twoDigitYearCenturyWindow = 50;
};

// The settings of the current process locale, read now (no caching: a test or a
// user that switches the locale sees the change at once).
FormatSettings currentFormatSettings();

// Settings of a named locale ("pt_BR.UTF-8"), without touching the process locale.
// Falls back to the "C" values when the locale does not exist.
FormatSettings formatSettingsFor(const std::string& localeName);

// Pins the process locale for LC_ALL (tests and the program's own start-up);
// returns false when the locale is not installed.
bool setProcessLocale(const std::string& localeName);

}  // namespace platform
