#include "controls/date_edit_logic.h"

#include <vector>

namespace controls {

namespace {
std::string Last2(const std::string& s) {
    std::string t = "00" + s;
    return t.substr(t.size() - 2);
}

std::string Pad2(int v) { return Last2(std::to_string(v)); }

std::string Pad4(int v) {
    std::string s = std::to_string(v);
    while (s.size() < 4) s.insert(0, "0");
    return s;
}

// Positions (0-based start, length) of day, month and year in a full text.
struct Layout {
    int dayAt, monthAt, yearAt;
};
Layout LayoutOf(DateOrder o) {
    switch (o) {
    case MDY: return {3, 0, 6};
    case YMD: return {8, 5, 0};
    default: return {0, 3, 6};
    }
}

std::string Compose(int day, int month, int year, DateFieldOrder o) {
    const std::string s(1, o.separator);
    switch (o.order) {
    case MDY: return Pad2(month) + s + Pad2(day) + s + Pad4(year);
    case YMD: return Pad4(year) + s + Pad2(month) + s + Pad2(day);
    default: return Pad2(day) + s + Pad2(month) + s + Pad4(year);
    }
}
}  // namespace

std::string FormatStrDate(const std::string& text, DateFieldOrder o, int currentYear) {
    std::string s;
    for (char c : text)
        if ((c >= '0' && c <= '9') || c == o.separator) s += c;
    s += o.separator;
    s += o.separator;
    std::vector<std::string> f;
    std::string cur;
    for (char c : s) {
        if (c == o.separator) {
            f.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    // Fields in the edit's order.
    std::string a = f.size() > 0 ? f[0] : "", b = f.size() > 1 ? f[1] : "", c = f.size() > 2 ? f[2] : "";
    std::string yearField = o.order == YMD ? a : c;
    std::string first = o.order == YMD ? b : a;  // month in YMD, else day/month
    std::string second = o.order == YMD ? c : b;
    if (yearField.empty()) yearField = "0000";
    if (yearField.size() < 4) {
        std::string cy = Pad4(currentYear);
        yearField = cy.substr(0, 4 - yearField.size()) + yearField;
    }
    const std::string sep(1, o.separator);
    if (o.order == YMD) return yearField + sep + Last2(first) + sep + Last2(second);
    return Last2(first) + sep + Last2(second) + sep + yearField;
}

bool IsXEmptyDate(const std::string& text) {
    for (char c : text)
        if (c >= '1' && c <= '9') return false;
    return true;
}

int ValX(const std::string& text) {
    size_t b = text.find_first_not_of(' ');
    if (b == std::string::npos) return 0;
    size_t e = text.find_last_not_of(' ');
    std::string t = text.substr(b, e - b + 1);
    long v = 0;
    for (char c : t) {
        if (c < '0' || c > '9') return 0;
        v = v * 10 + (c - '0');
        if (v > 1000000) return 0;
    }
    return int(v);
}

StrDate DecodeStrDate(const std::string& text, DateFieldOrder o, int centuryOf) {
    Layout l = LayoutOf(o.order);
    auto field = [&](int at, int len) {
        return at < int(text.size()) ? text.substr(size_t(at), size_t(len)) : std::string();
    };
    StrDate d;
    d.day = ValX(field(l.dayAt, 2));
    d.month = ValX(field(l.monthAt, 2));
    d.year = ValX(field(l.yearAt, 4));
    if (text.size() == 8) d.year += (centuryOf / 100) * 100;
    return d;
}

bool IsXValidDate(const std::string& text, DateFieldOrder o, int centuryOf) {
    StrDate d = DecodeStrDate(text, o, centuryOf);
    return d.day != 0 && d.month != 0 && d.month <= 12 && d.year != 0 && d.year <= 9999 &&
           d.day <= DaysInMonth(d.year, d.month);
}

std::string AssumeDefaultDate(const std::string& text, DateFieldOrder o, platform::DateParts today, int centuryOf) {
    StrDate d = DecodeStrDate(text, o, centuryOf);
    if (d.year == 0) d.year = today.year;
    if (d.month == 0) d.month = today.month;
    if (d.month > 12) d.month = 12;
    if (d.day == 0) d.day = today.day;
    if (d.day > DaysInMonth(d.year, d.month)) d.day = DaysInMonth(d.year, d.month);
    return Compose(d.day, d.month, d.year, o);
}

DateTime GetDateInStr(const std::string& text, DateFieldOrder o, int centuryOf) {
    if (IsXEmptyDate(text) || !IsXValidDate(text, o, centuryOf)) return NullDate;
    StrDate d = DecodeStrDate(text, o, centuryOf);
    DateTime v;
    return platform::tryEncodeDate(d.year, d.month, d.day, v) ? v : NullDate;
}

std::string CompleteOnExit(const std::string& text, DateFieldOrder o, platform::DateParts today) {
    std::string r = FormatStrDate(text, o, today.year);
    if (IsXEmptyDate(r)) return std::string();
    return AssumeDefaultDate(r, o, today, today.year);
}

DateTime StepDate(DateTime date, int days, DateTime now) { return (date == NullDate ? now : date) + days; }

std::string CompleteYearField(const std::string& text, int currentYear) {
    if (text.size() < 4) return text;
    std::string s = text;
    const size_t y = s.size() - 4;
    const std::string cy = Pad4(currentYear);
    if (s[y] == ' ' || s[y + 1] == ' ') s.replace(y, 4, cy);
    else if (s[y + 2] == ' ' || s[y + 3] == ' ') s.replace(y, 4, cy.substr(0, 2) + s.substr(y, 2));
    return s;
}

Segment SegmentForChar(int index, DateOrder order) {
    if (order == YMD) {
        if (index >= 1 && index <= 5) return {0, 4};
        if (index >= 6 && index <= 8) return {5, 2};
        return {8, 2};
    }
    if (index >= 1 && index <= 3) return {0, 2};
    if (index >= 4 && index <= 7) return {3, 2};
    return {6, 4};
}

}  // namespace controls
