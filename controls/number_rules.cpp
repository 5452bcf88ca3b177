#include "controls/number_rules.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "controls/number_format.h"

namespace controls {

std::string NormalizeNumberText(const std::string& text, NumberSeparators seps) {
    std::string s;
    for (char c : text)
        if (c != ' ') s += c;
    if (seps.decimal != seps.thousand) {
        std::string t;
        for (char c : s)
            if (c != seps.thousand) t += c;
        s = t;
    }
    if (seps.decimal != '.' && seps.thousand != '.')
        for (char& c : s)
            if (c == '.') c = seps.decimal;
    if (seps.decimal != ',' && seps.thousand != ',')
        for (char& c : s)
            if (c == ',') c = seps.decimal;
    if (s.empty()) return "0";
    if (s == "-") return "-0";
    return s;
}

std::string InvalidFloatMessage(const std::string& text) {
    return "'" + text + "' is not a valid floating point value";
}

bool TryTextToFloat(const std::string& text, char dsep, long double& out) {
    size_t b = 0, e = text.size();
    while (b < e && text[b] == ' ') ++b;
    while (e > b && text[e - 1] == ' ') --e;
    std::string c;  // the number in C notation
    size_t i = b;
    if (i < e && (text[i] == '+' || text[i] == '-')) c += text[i++];
    bool digits = false, point = false;
    std::string mant;
    for (; i < e; ++i) {
        char ch = text[i];
        if (ch >= '0' && ch <= '9') {
            mant += ch;
            digits = true;
        } else if (ch == dsep && !point) {
            mant += '.';
            point = true;
        } else {
            break;
        }
    }
    if (!digits && !point) return false;
    if (!digits) mant = "0";  // the separator alone reads as zero
    if (mant.front() == '.') mant.insert(0, "0");
    c += mant;
    if (i < e && (text[i] == 'E' || text[i] == 'e')) {
        ++i;
        std::string exp = "e";
        if (i < e && (text[i] == '+' || text[i] == '-')) exp += text[i++];
        bool expDigits = false;
        for (; i < e && text[i] >= '0' && text[i] <= '9'; ++i) {
            exp += text[i];
            expDigits = true;
        }
        if (!expDigits) exp += '0';
        c += exp;
    }
    if (i != e) return false;
    // from_chars ignores the C locale, whose decimal point may be a comma.
    const char* first = c.c_str() + (c[0] == '+' ? 1 : 0);
    const char* last = c.c_str() + c.size();
    long double v = 0;
    const auto res = std::from_chars(first, last, v);
    if (res.ec != std::errc() || res.ptr != last || !std::isfinite(v)) return false;
    out = v;
    return true;
}

long double TextToFloat(const std::string& text, char dsep) {
    long double v;
    if (!TryTextToFloat(text, dsep, v)) throw EConvertError(InvalidFloatMessage(text));
    return v;
}

long double ClampToRange(long double v, NumberRange r) {
    if (r.min == r.max) return v;
    if (r.min < r.max) return v < r.min ? r.min : (v > r.max ? r.max : v);
    if (r.max == 0) return v < r.min ? r.min : v;
    if (r.min == 0) return v > r.max ? r.max : v;
    return v;
}

std::string ReadableNumberText(const std::string& editText) {
    std::string s;
    for (char c : editText)
        if (c != '?' && c != '\r' && c != '\n') s += c;
    return s;
}

long double ValueFromText(const std::string& text, NumberRange range, NumberSeparators seps) {
    std::string s = ReadableNumberText(text);
    long double sign = 1;
    if (!s.empty() && s[0] == '-') {
        s.erase(0, 1);
        sign = -1;
    }
    s = NormalizeNumberText("0" + s, seps);
    return ClampToRange(TextToFloat(s, seps.decimal) * sign, range);
}

std::u32string ProspectiveText(const std::u32string& text, int selStart, int selLength, char32_t key) {
    std::u32string s = text;
    if (selStart < 0) selStart = 0;
    if (selStart > int(s.size())) selStart = int(s.size());
    if (selLength < 0) selLength = 0;
    if (selStart + selLength > int(s.size())) selLength = int(s.size()) - selStart;
    s.erase(size_t(selStart), size_t(selLength));
    s.insert(size_t(selStart), 1, key);
    return s;
}

bool IsValidKey(char32_t key, const std::u32string& text, int selStart, int selLength, unsigned decimalPlaces,
                NumberRange range, NumberSeparators seps) {
    if (key == U'-' && range.min >= 0 && range.max != range.min) return false;
    std::u32string u = ProspectiveText(text, selStart, selLength, key);
    // Only ASCII can make a number; anything else is rejected below.
    std::string s;
    for (char32_t c : u) s += c < 0x80 ? char(c) : '\x7f';
    s = NormalizeNumberText(s, seps);
    size_t dp = s.find(seps.decimal);
    if (dp != std::string::npos) {
        unsigned count = 0;
        for (size_t i = dp + 1; i < s.size() && s[i] != 'E' && s[i] != 'e'; ++i)
            if (s[i] >= '0' && s[i] <= '9') ++count;
        if (count > decimalPlaces) return false;
    }
    for (char c : s) {
        bool ok = c == '+' || c == '-' || (c >= '0' && c <= '9') || c == 'E' || c == 'e' || c == seps.decimal;
        if (!ok) return false;
    }
    if (s.size() > 127) s.resize(127);
    long double v;
    if (!TryTextToFloat(s, seps.decimal, v)) return false;
    if (v < 0 && range.min >= 0 && range.max > 0) return false;
    return true;
}

std::string FormatEditText(long double value, unsigned decimalPlaces, NumberSeparators seps) {
    std::string pattern = "0";
    if (decimalPlaces > 0) pattern += "." + std::string(decimalPlaces, '#');
    return FormatFloat(pattern, value, seps.decimal, seps.thousand);
}

std::string FormatDisplayText(long double value, const std::string& displayFormat, NumberSeparators seps) {
    if (displayFormat.empty()) return FormatGeneral(value, 15, seps.decimal);
    std::string s = FormatFloat(displayFormat, value, seps.decimal, seps.thousand);
    size_t nz = s.find_first_not_of(' ');
    return nz == std::string::npos ? std::string() : s.substr(nz);
}

}  // namespace controls
