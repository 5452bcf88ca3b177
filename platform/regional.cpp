#include "platform/regional.h"

#include <clocale>
#include <langinfo.h>
#include <locale.h>

#include <string_view>

namespace platform {
namespace {

// The first character that is not a field letter or blank separates the fields.
char separatorOf(const std::string& fmt, char fallback) {
    for (char c : fmt) {
        bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!letter && c != ' ' && c != '\'' && c != '"') return c;
    }
    return fallback;
}

// strftime conversions as they appear in the locale database, turned into the
// desktop's format letters.
std::string fromStrftime(std::string_view f, const char* t_fmt_ampm) {
    std::string out;
    for (size_t i = 0; i < f.size(); ++i) {
        char c = f[i];
        if (c != '%' || i + 1 >= f.size()) {
            if (c == '\'') out += "''";
            else out += c;
            continue;
        }
        char k = f[++i];
        if (k == 'E' || k == 'O') {  // era / alternative digits modifiers
            if (i + 1 >= f.size()) break;
            k = f[++i];
        }
        switch (k) {
        case 'd': out += "dd"; break;
        case 'e': out += "d"; break;
        case 'm': out += "MM"; break;
        case 'Y': out += "yyyy"; break;
        case 'y': out += "yy"; break;
        case 'b':
        case 'h': out += "MMM"; break;
        case 'B': out += "MMMM"; break;
        case 'a': out += "ddd"; break;
        case 'A': out += "dddd"; break;
        case 'H': out += "HH"; break;
        case 'k': out += "H"; break;
        case 'I': out += "hh"; break;
        case 'l': out += "h"; break;
        case 'M': out += "mm"; break;
        case 'S': out += "ss"; break;
        case 'p':
        case 'P': out += "AMPM"; break;
        case 'T': out += "HH:mm:ss"; break;
        case 'R': out += "HH:mm"; break;
        case 'D': out += "MM/dd/yy"; break;
        case 'F': out += "yyyy-MM-dd"; break;
        case 'r': out += fromStrftime(t_fmt_ampm && *t_fmt_ampm ? t_fmt_ampm : "%I:%M:%S %p", nullptr); break;
        case 'n':
        case 't': out += ' '; break;
        case '%': out += '%'; break;
        default: break;  // time zones and the like have no counterpart
        }
    }
    return out;
}

char firstByte(const char* s, char fallback) {
    if (!s || !*s) return fallback;
    unsigned char c = static_cast<unsigned char>(*s);
    if (c < 0x80) return static_cast<char>(c);
    return ' ';  // a non-ASCII separator (e.g. narrow no-break space) reads as a blank
}

FormatSettings fill(locale_t loc) {
    FormatSettings fs;
    auto li = [&](nl_item item) -> const char* {
        const char* s = nl_langinfo_l(item, loc);
        return s ? s : "";
    };
    std::string dfmt = li(D_FMT);
    std::string tfmt = li(T_FMT);
    const char* ampm = li(T_FMT_AMPM);
    if (dfmt.empty()) dfmt = "%m/%d/%y";
    if (tfmt.empty()) tfmt = "%H:%M:%S";
    fs.shortDateFormat = fromStrftime(dfmt, ampm);
    fs.longTimeFormat = fromStrftime(tfmt, ampm);
    fs.dateSeparator = separatorOf(fs.shortDateFormat, '/');
    fs.timeSeparator = separatorOf(fs.longTimeFormat, ':');
    // short time: the long time without its seconds field
    std::string st = fs.longTimeFormat;
    auto s = st.find("ss");
    if (s != std::string::npos) {
        size_t from = s;
        if (from > 0 && st[from - 1] == fs.timeSeparator) --from;
        st.erase(from, s + 2 - from);
    }
    fs.shortTimeFormat = st;
    fs.timeAMString = li(AM_STR);
    fs.timePMString = li(PM_STR);
    for (int i = 0; i < 12; ++i) {
        fs.longMonthNames[i] = li(static_cast<nl_item>(MON_1 + i));
        fs.shortMonthNames[i] = li(static_cast<nl_item>(ABMON_1 + i));
    }
    for (int i = 0; i < 7; ++i) {
        fs.longDayNames[i] = li(static_cast<nl_item>(DAY_1 + i));
        fs.shortDayNames[i] = li(static_cast<nl_item>(ABDAY_1 + i));
    }
    bool dmy = fs.shortDateFormat.find_first_of("dD") < fs.shortDateFormat.find_first_of("mM");
    fs.longDateFormat = dmy ? "dddd, d' de 'MMMM' de 'yyyy" : "dddd, MMMM d, yyyy";
    fs.decimalSeparator = firstByte(li(RADIXCHAR), '.');
    fs.thousandSeparator = firstByte(li(THOUSEP), fs.decimalSeparator == ',' ? '.' : ',');
    std::string cur = li(CRNCYSTR);
    if (!cur.empty() && (cur[0] == '-' || cur[0] == '+' || cur[0] == '.')) cur.erase(0, 1);
    fs.currencyString = cur;
#ifdef _NL_TIME_FIRST_WEEKDAY
    // glibc counts the first weekday from the day given by week-1stday
    // (19971130 is a Sunday, 19971201 a Monday)
    int first = static_cast<unsigned char>(*nl_langinfo_l(_NL_TIME_FIRST_WEEKDAY, loc));
    union {
        const char* s;
        unsigned int word;
    } w1;
    w1.s = nl_langinfo_l(_NL_TIME_WEEK_1STDAY, loc);
    int base = (w1.word == 19971201u) ? 1 : 0;
    if (first >= 1 && first <= 7) fs.firstDayOfWeek = (base + first - 1) % 7;
#endif
    return fs;
}

}  // namespace

FormatSettings currentFormatSettings() {
    locale_t cur = duplocale(uselocale(static_cast<locale_t>(nullptr)));
    if (!cur) return FormatSettings{};
    FormatSettings fs = fill(cur);
    freelocale(cur);
    return fs;
}

FormatSettings formatSettingsFor(const std::string& localeName) {
    locale_t loc = newlocale(LC_ALL_MASK, localeName.c_str(), static_cast<locale_t>(nullptr));
    if (!loc) loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    FormatSettings fs = fill(loc);
    freelocale(loc);
    return fs;
}

bool setProcessLocale(const std::string& localeName) { return std::setlocale(LC_ALL, localeName.c_str()) != nullptr; }

}  // namespace platform
