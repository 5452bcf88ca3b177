#include "controls/date_utils.h"

#include <climits>
#include <cmath>
#include <strings.h>

namespace controls {

namespace {
char Upper(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }

std::string UpperAscii(std::string s) {
    for (char& c : s) c = Upper(c);
    return s;
}
}  // namespace

int DaysInMonth(int year, int month) { return platform::daysInMonth(year, month); }

bool ValidDateParts(int year, int month, int day) {
    return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(year, month);
}

bool ValidDate(DateTime value) {
    platform::DateParts p;
    if (!platform::tryDecodeDate(value, p)) return false;
    return ValidDateParts(p.year, p.month, p.day);
}

int ExtractYear(DateTime value) {
    platform::DateParts p;
    platform::tryDecodeDate(value, p);
    return p.year;
}

int CurrentYear() { return ExtractYear(platform::today()); }

DateOrder GetDateOrder(const std::string& format) {
    for (char c : format) {
        // Folding by clearing bit 0x20, as the format letters are ASCII.
        char u = char(c & ~0x20);
        if (u == 'D') return DMY;
        if (u == 'M') return MDY;
        if (u == 'Y') return YMD;
    }
    return DMY;
}

bool FourDigitYearIn(const std::string& shortDateFormat) {
    return UpperAscii(shortDateFormat).find("YYYY") != std::string::npos;
}

std::string DefaultDateFormat(bool fourDigitYear, const FormatSettings& fs) {
    switch (GetDateOrder(fs.shortDateFormat)) {
    case MDY: return fourDigitYear ? "MM/DD/YYYY" : "MM/DD/YY";
    case YMD: return fourDigitYear ? "YYYY/MM/DD" : "YY/MM/DD";
    default: return fourDigitYear ? "DD/MM/YYYY" : "DD/MM/YY";
    }
}

std::string DefaultDateMask(char blanksChar, bool fourDigitYear, const FormatSettings& fs) {
    std::string mask;
    if (fourDigitYear) mask = GetDateOrder(fs.shortDateFormat) == YMD ? "!9999/99/99;1;" : "!99/99/9999;1;";
    else mask = "!99/99/99;1;";
    return mask + blanksChar;
}

int ExpandTwoDigitYear(int year, int currentYear) {
    if (year >= 100) return year;
    int pivot = currentYear - 60;
    year += (pivot / 100) * 100;
    if (year < pivot) year += 100;
    return year;
}

int ExpandTwoDigitYear(int year) { return ExpandTwoDigitYear(year, CurrentYear()); }

int MonthFromName(const std::string& text, int n, const FormatSettings& fs) {
    if (text.empty() || n <= 0) return 0;
    for (int m = 1; m <= 12; ++m) {
        const std::string& name = fs.longMonthNames[m - 1];
        if (name.empty()) continue;
        std::string a = text.substr(0, size_t(n));
        std::string b = name.substr(0, size_t(n));
        if (a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0) return m;
    }
    return 0;
}

int ExtractDateField(const std::string& format, const std::string& text, char letter, int count, int blank, int deflt,
                     const FormatSettings& fs) {
    int result = deflt;
    letter = Upper(letter);
    int len = int(format.size());
    if (int(text.size()) < len) len = int(text.size());
    else if (int(text.size()) > len) return result;
    const std::string fmt = UpperAscii(format);
    const size_t at = fmt.find(std::string(size_t(count), letter));
    if (at == std::string::npos) return result;
    std::string field;
    // 1-based j as the routine is described; a format of 20 or more
    // characters takes nothing.
    for (int j = int(at) + 1; j <= len && Upper(format[size_t(j - 1)]) == letter; ++j) {
        if (format.size() >= 20) continue;
        char c = text[size_t(j - 1)];
        if (c != ' ' && field.size() < 20) field += c;
    }
    if (field.empty()) return blank;
    if (count > 1) {
        int m = MonthFromName(field, int(field.size()), fs);
        return m == 0 ? -1 : m;
    }
    // A whole decimal number, nothing else.
    long long v = 0;
    size_t i = 0;
    bool neg = false;
    if (field[0] == '-' || field[0] == '+') {
        neg = field[0] == '-';
        i = 1;
    }
    if (i >= field.size()) return -1;
    for (; i < field.size(); ++i) {
        if (field[i] < '0' || field[i] > '9') return -1;
        v = v * 10 + (field[i] - '0');
        if (v > INT_MAX) return -1;
    }
    return int(neg ? -v : v);
}

void ScanBlanks(const std::string& s, int& pos) {
    while (pos <= int(s.size()) && s[size_t(pos - 1)] == ' ') ++pos;
}

bool ScanChar(const std::string& s, int& pos, char ch) {
    ScanBlanks(s, pos);
    if (pos <= int(s.size()) && s[size_t(pos - 1)] == ch) {
        ++pos;
        return true;
    }
    return false;
}

bool ScanNumber(const std::string& s, int maxLength, int& pos, int& number) {
    ScanBlanks(s, pos);
    int p = pos, n = 0, digits = 0;
    while (p <= int(s.size()) && s[size_t(p - 1)] >= '0' && s[size_t(p - 1)] <= '9' && digits < maxLength && n < 1000) {
        n = n * 10 + (s[size_t(p - 1)] - '0');
        ++digits;
        ++p;
    }
    if (digits == 0) return false;
    number = n;
    pos = p;
    return true;
}

bool ScanDateNumbers(const std::string& s, const std::string& format, int& pos, int& y, int& m, int& d,
                     const FormatSettings& fs, int currentYear) {
    y = m = d = 0;
    const DateOrder order = GetDateOrder(format);
    const char sep = fs.dateSeparator;
    int n1 = 0, n2 = 0, n3 = 0;
    if (!(ScanNumber(s, INT_MAX, pos, n1) && ScanChar(s, pos, sep) && ScanNumber(s, INT_MAX, pos, n2))) return false;
    if (ScanChar(s, pos, sep)) {
        if (!ScanNumber(s, INT_MAX, pos, n3)) return false;
        switch (order) {
        case MDY: m = n1, d = n2, y = n3; break;
        case DMY: d = n1, m = n2, y = n3; break;
        case YMD: y = n1, m = n2, d = n3; break;
        }
        y = ExpandTwoDigitYear(y, currentYear);
    } else {
        y = currentYear;
        if (order == DMY) d = n1, m = n2;
        else m = n1, d = n2;
    }
    ScanChar(s, pos, sep);
    ScanBlanks(s, pos);
    return ValidDateParts(y, m, d) && pos > int(s.size());
}

bool StrToDateByFormat(const std::string& format, const std::string& text, DateTime& date, const FormatSettings& fs,
                       int currentYear) {
    if (text.empty()) {
        date = NullDate;
        return true;
    }
    int month = ExtractDateField(format, text, 'm', 3, -1, 0, fs);
    if (month == 0) month = ExtractDateField(format, text, 'm', 1, -1, 0, fs);
    int day = ExtractDateField(format, text, 'd', 1, -1, 1, fs);
    int year = ExtractDateField(format, text, 'y', 1, -1, currentYear, fs);
    // A blank year field is no year (it would otherwise expand to 1999).
    const bool yearOk = year >= 0;
    year = ExpandTwoDigitYear(year, currentYear);
    bool ok = yearOk && month > 0 && day > 0 && ValidDateParts(year, month, day);
    if (!ok) {
        int pos = 1;
        ok = ScanDateNumbers(text, format, pos, year, month, day, fs, currentYear);
    }
    if (!ok) return false;
    DateTime out;
    if (!platform::tryEncodeDate(year, month, day, out)) return false;
    date = out;
    return true;
}

DateTime StrToDateByFormatDef(const std::string& format, const std::string& text, DateTime deflt,
                              const FormatSettings& fs, int currentYear) {
    DateTime d;
    if (StrToDateByFormat(format, text, d, fs, currentYear)) return d;
    return std::trunc(deflt);
}

bool StrToDateByFormat(const std::string& format, const std::string& text, DateTime& date) {
    return StrToDateByFormat(format, text, date, platform::currentFormatSettings(), CurrentYear());
}

DateTime StrToDateByFormatDef(const std::string& format, const std::string& text, DateTime deflt) {
    return StrToDateByFormatDef(format, text, deflt, platform::currentFormatSettings(), CurrentYear());
}

}  // namespace controls
