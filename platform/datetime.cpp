#include "platform/datetime.h"

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace platform {
namespace {

constexpr double kMSecsPerDay = 86400000.0;
// Days from 1 January of year 1 (proleptic Gregorian) to 30 December 1899.
constexpr long kDateDelta = 693594;

long daysFromCivil(int y, int m, int d) {  // day 1 = 1 January of year 1
    long yy = y - 1;
    long days = yy * 365 + yy / 4 - yy / 100 + yy / 400;
    static const int cum[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    days += cum[m - 1] + (m > 2 && isLeapYear(y) ? 1 : 0);
    return days + d;
}

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

bool startsWithNoCase(const std::string& s, size_t pos, const std::string& what) {
    if (what.empty() || pos + what.size() > s.size()) return false;
    for (size_t i = 0; i < what.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[pos + i])) != std::tolower(static_cast<unsigned char>(what[i])))
            return false;
    return true;
}

void scanBlanks(const std::string& s, size_t& pos) {
    while (pos < s.size() && s[pos] == ' ') ++pos;
}

bool scanChar(const std::string& s, size_t& pos, char ch) {
    scanBlanks(s, pos);
    if (pos < s.size() && s[pos] == ch) {
        ++pos;
        return true;
    }
    return false;
}

// Up to four significant digits, as the classic scanner reads them.
bool scanNumber(const std::string& s, size_t& pos, int& n, int& digits) {
    scanBlanks(s, pos);
    size_t start = pos;
    long v = 0;
    while (pos < s.size() && std::isdigit(static_cast<unsigned char>(s[pos])) && v < 1000) {
        v = v * 10 + (s[pos] - '0');
        ++pos;
    }
    digits = static_cast<int>(pos - start);
    if (digits == 0) return false;
    n = static_cast<int>(v);
    return true;
}

enum class Order { MDY, DMY, YMD };
Order dateOrder(const std::string& fmt) {
    for (char c : fmt) {
        char u = upper(c);
        if (u == 'D') return Order::DMY;
        if (u == 'M') return Order::MDY;
        if (u == 'Y') return Order::YMD;
    }
    return Order::MDY;
}

int currentYear() {
    DateParts p;
    tryDecodeDate(today(), p);
    return p.year;
}

std::string pad(int v, int width) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*d", width, v);
    return buf;
}

}  // namespace

bool isLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(int year, int month) {
    static const int len[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return len[month - 1] + (month == 2 && isLeapYear(year) ? 1 : 0);
}

bool tryEncodeDate(int year, int month, int day, DateTime& out) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month)) return false;
    out = static_cast<double>(daysFromCivil(year, month, day) - kDateDelta);
    return true;
}

bool tryEncodeTime(int hour, int minute, int second, int msec, DateTime& out) {
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || msec < 0 || msec > 999)
        return false;
    out = (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + msec) / kMSecsPerDay;
    return true;
}

bool tryDecodeDate(DateTime value, DateParts& out) {
    if (!std::isfinite(value)) return false;
    double whole = std::trunc(value);
    long days = static_cast<long>(whole) + kDateDelta - 1;  // days since 1 Jan 0001, 0-based
    if (days < 0 || days >= 3652059) return false;          // 31 Dec 9999 is the last day
    // Gregorian cycles of 400, 100, 4 and 1 years.
    long n400 = days / 146097, r = days % 146097;
    long n100 = r / 36524;
    if (n100 == 4) n100 = 3;
    r -= n100 * 36524;
    long n4 = r / 1461;
    r %= 1461;
    long n1 = r / 365;
    if (n1 == 4) n1 = 3;
    r -= n1 * 365;
    int year = static_cast<int>(n400 * 400 + n100 * 100 + n4 * 4 + n1 + 1);
    int month = 1;
    while (r >= daysInMonth(year, month)) {
        r -= daysInMonth(year, month);
        ++month;
    }
    out = {year, month, static_cast<int>(r) + 1};
    return true;
}

TimeParts decodeTime(DateTime value) {
    double frac = std::fabs(value - std::trunc(value));
    long ms = std::lround(frac * kMSecsPerDay);
    if (ms >= 86400000L) ms = 86399999L;
    TimeParts t;
    t.hour = static_cast<int>(ms / 3600000);
    t.minute = static_cast<int>(ms / 60000 % 60);
    t.second = static_cast<int>(ms / 1000 % 60);
    t.msec = static_cast<int>(ms % 1000);
    return t;
}

DateTime dateOf(DateTime value) { return std::trunc(value); }

DateTime now() {
    using namespace std::chrono;
    auto tp = system_clock::now();
    std::time_t t = system_clock::to_time_t(tp);
    std::tm lt{};
    localtime_r(&t, &lt);
    int ms = static_cast<int>(duration_cast<milliseconds>(tp.time_since_epoch()).count() % 1000);
    DateTime d = 0, tm = 0;
    tryEncodeDate(lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday, d);
    tryEncodeTime(lt.tm_hour, lt.tm_min, lt.tm_sec > 59 ? 59 : lt.tm_sec, ms, tm);
    return d + tm;
}

DateTime today() { return std::trunc(now()); }

std::string formatDateTime(const std::string& format, DateTime value, const FormatSettings& fs) {
    DateParts dp;
    bool dateOk = tryDecodeDate(value, dp);
    TimeParts tp = decodeTime(value);
    int dow = 0;  // 0 = Sunday; serial 1 (31 December 1899) was a Sunday
    if (dateOk) {
        long serial = static_cast<long>(std::trunc(value));
        dow = static_cast<int>(((serial - 1) % 7 + 7) % 7);
    }
    // Does the format ask for a 12-hour clock?
    bool twelve = false;
    {
        bool inQuote = false;
        char q = 0;
        for (size_t i = 0; i < format.size(); ++i) {
            char c = format[i];
            if (inQuote) {
                if (c == q) inQuote = false;
                continue;
            }
            if (c == '\'' || c == '"') {
                inQuote = true;
                q = c;
                continue;
            }
            if (startsWithNoCase(format, i, "am/pm") || startsWithNoCase(format, i, "a/p") ||
                startsWithNoCase(format, i, "ampm"))
                twelve = true;
        }
    }
    std::string out;
    char lastToken = 0;
    size_t i = 0;
    auto count = [&](char u) {
        size_t n = 0;
        while (i + n < format.size() && upper(format[i + n]) == u) ++n;
        return n;
    };
    while (i < format.size()) {
        char c = format[i];
        char u = upper(c);
        if (c == '\'' || c == '"') {
            size_t j = format.find(c, i + 1);
            if (j == std::string::npos) j = format.size();
            out += format.substr(i + 1, j - i - 1);
            i = j + 1;
            continue;
        }
        if (startsWithNoCase(format, i, "am/pm")) {
            std::string t = format.substr(i, 5);
            out += tp.hour >= 12 ? (t[0] == 'a' ? "pm" : "PM") : (t[0] == 'a' ? "am" : "AM");
            i += 5;
            continue;
        }
        if (startsWithNoCase(format, i, "a/p")) {
            out += tp.hour >= 12 ? (format[i] == 'a' ? "p" : "P") : (format[i] == 'a' ? "a" : "A");
            i += 3;
            continue;
        }
        if (startsWithNoCase(format, i, "ampm")) {
            out += tp.hour >= 12 ? fs.timePMString : fs.timeAMString;
            i += 4;
            continue;
        }
        switch (u) {
        case 'D': {
            size_t n = count('D');
            i += n;
            if (n == 1) out += std::to_string(dp.day);
            else if (n == 2) out += pad(dp.day, 2);
            else if (n == 3) out += fs.shortDayNames[dow];
            else if (n == 4) out += fs.longDayNames[dow];
            else if (n == 5) out += formatDateTime(fs.shortDateFormat, value, fs);
            else out += formatDateTime(fs.longDateFormat, value, fs);
            lastToken = 'D';
            break;
        }
        case 'M': {
            size_t n = count('M');
            i += n;
            if (lastToken == 'H' && n <= 2) {
                out += n == 1 ? std::to_string(tp.minute) : pad(tp.minute, 2);
                lastToken = 'N';
            } else {
                if (n == 1) out += std::to_string(dp.month);
                else if (n == 2) out += pad(dp.month, 2);
                else if (n == 3) out += dp.month ? fs.shortMonthNames[dp.month - 1] : "";
                else out += dp.month ? fs.longMonthNames[dp.month - 1] : "";
                lastToken = 'M';
            }
            break;
        }
        case 'Y': {
            size_t n = count('Y');
            i += n;
            out += n <= 2 ? pad(dp.year % 100, 2) : pad(dp.year, 4);
            lastToken = 'Y';
            break;
        }
        case 'H': {
            size_t n = count('H');
            i += n;
            int h = tp.hour;
            if (twelve) {
                h %= 12;
                if (h == 0) h = 12;
            }
            out += n == 1 ? std::to_string(h) : pad(h, 2);
            lastToken = 'H';
            break;
        }
        case 'N': {
            size_t n = count('N');
            i += n;
            out += n == 1 ? std::to_string(tp.minute) : pad(tp.minute, 2);
            lastToken = 'N';
            break;
        }
        case 'S': {
            size_t n = count('S');
            i += n;
            out += n == 1 ? std::to_string(tp.second) : pad(tp.second, 2);
            lastToken = 'S';
            break;
        }
        case 'Z': {
            size_t n = count('Z');
            i += n;
            out += n == 1 ? std::to_string(tp.msec) : pad(tp.msec, 3);
            break;
        }
        case 'T': {
            size_t n = count('T');
            i += n;
            out += formatDateTime(n == 1 ? fs.shortTimeFormat : fs.longTimeFormat, value, fs);
            break;
        }
        case 'C': {
            ++i;
            out += formatDateTimeText(value, fs);
            break;
        }
        case '/':
            out += fs.dateSeparator;
            ++i;
            break;
        case ':':
            out += fs.timeSeparator;
            ++i;
            break;
        default:
            out += c;
            ++i;
            break;
        }
    }
    return out;
}

std::string formatShortDate(DateTime value, const FormatSettings& fs) {
    return formatDateTime(fs.shortDateFormat, value, fs);
}

std::string formatLongTime(DateTime value, const FormatSettings& fs) {
    return formatDateTime(fs.longTimeFormat, value, fs);
}

std::string formatDateTimeText(DateTime value, const FormatSettings& fs) {
    std::string s = formatShortDate(value, fs);
    TimeParts t = decodeTime(value);
    if (t.hour || t.minute || t.second || t.msec) s += ' ' + formatLongTime(value, fs);
    return s;
}

std::optional<DateTime> strToDate(const std::string& text, const FormatSettings& fs) {
    size_t pos = 0;
    int n1 = 0, n2 = 0, n3 = 0, d1 = 0, d2 = 0, d3 = 0;
    if (!scanNumber(text, pos, n1, d1) || !scanChar(text, pos, fs.dateSeparator) || !scanNumber(text, pos, n2, d2))
        return std::nullopt;
    int y = 0, m = 0, d = 0;
    Order order = dateOrder(fs.shortDateFormat);
    if (scanChar(text, pos, fs.dateSeparator)) {
        if (!scanNumber(text, pos, n3, d3)) return std::nullopt;
        int yDigits = 0;
        switch (order) {
        case Order::MDY:
            m = n1;
            d = n2;
            y = n3;
            yDigits = d3;
            break;
        case Order::DMY:
            d = n1;
            m = n2;
            y = n3;
            yDigits = d3;
            break;
        case Order::YMD:
            y = n1;
            m = n2;
            d = n3;
            yDigits = d1;
            break;
        }
        if (yDigits <= 2) {
            int window = fs.twoDigitYearCenturyWindow;
            int base = currentYear() - window;
            y += base / 100 * 100;
            if (window > 0 && y < base) y += 100;
        }
    } else {
        y = currentYear();
        if (order == Order::DMY) {
            d = n1;
            m = n2;
        } else {
            m = n1;
            d = n2;
        }
    }
    scanChar(text, pos, fs.dateSeparator);
    scanBlanks(text, pos);
    if (pos != text.size()) return std::nullopt;
    DateTime out;
    if (!tryEncodeDate(y, m, d, out)) return std::nullopt;
    return out;
}

std::optional<DateTime> strToTime(const std::string& text, const FormatSettings& fs) {
    size_t pos = 0;
    int baseHour = -1;
    auto scanAmPm = [&]() {
        scanBlanks(text, pos);
        struct {
            const std::string* s;
            int base;
        } opts[] = {{&fs.timeAMString, 0}, {&fs.timePMString, 12}};
        for (auto& o : opts)
            if (startsWithNoCase(text, pos, *o.s)) {
                pos += o.s->size();
                return o.base;
            }
        static const std::string am = "AM", pm = "PM", a = "A", p = "P";
        if (startsWithNoCase(text, pos, am)) {
            pos += 2;
            return 0;
        }
        if (startsWithNoCase(text, pos, pm)) {
            pos += 2;
            return 12;
        }
        if (startsWithNoCase(text, pos, a)) {
            pos += 1;
            return 0;
        }
        if (startsWithNoCase(text, pos, p)) {
            pos += 1;
            return 12;
        }
        return -1;
    };
    baseHour = scanAmPm();
    int h = 0, m = 0, s = 0, ms = 0, digits = 0;
    if (!scanNumber(text, pos, h, digits)) return std::nullopt;
    if (!scanChar(text, pos, fs.timeSeparator)) return std::nullopt;
    if (!scanNumber(text, pos, m, digits)) return std::nullopt;
    if (scanChar(text, pos, fs.timeSeparator)) {
        if (!scanNumber(text, pos, s, digits)) return std::nullopt;
        if (scanChar(text, pos, fs.decimalSeparator))
            if (!scanNumber(text, pos, ms, digits)) return std::nullopt;
    }
    if (baseHour < 0) baseHour = scanAmPm();
    if (baseHour >= 0) {
        if (h == 0 || h > 12) return std::nullopt;
        if (h == 12) h = 0;
        h += baseHour;
    }
    scanBlanks(text, pos);
    if (pos != text.size()) return std::nullopt;
    DateTime out;
    if (!tryEncodeTime(h, m, s, ms, out)) return std::nullopt;
    return out;
}

}  // namespace platform
