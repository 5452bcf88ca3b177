#include "controls/number_format.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace controls {

namespace {

constexpr int kSignificant = 18;

// |v| as kSignificant digits and the power of ten of the first one.
struct Digits {
    std::string d;  // kSignificant digits, d[0] at 10^exp
    int exp = 0;
    bool zero = true;
};

Digits DigitsOf(long double v) {
    Digits r;
    v = std::fabs(v);
    if (v == 0 || !std::isfinite(v)) {
        r.d.assign(kSignificant, '0');
        return r;
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*Le", kSignificant - 1, v);
    // d.ddddde[+-]xx
    r.d += buf[0];
    const char* p = buf + 2;
    while (*p && *p != 'e') r.d += *p++;
    r.exp = std::atoi(p + 1);
    r.zero = false;
    return r;
}

// Rounds half up so that the last kept digit is at 10^lastPow. Returns the
// kept digits (no leading zeros unless the number is zero) with the power of
// the first one; empty digits mean zero.
struct Rounded {
    std::string d;
    int exp = 0;  // power of ten of d[0]
};

Rounded RoundAt(const Digits& in, int lastPow) {
    Rounded r;
    if (in.zero) return r;
    int keep = in.exp - lastPow + 1;  // digits to keep
    if (keep <= 0) {
        // Only a carry into a new leading digit could survive.
        if (keep == 0 && in.d[0] >= '5') {
            r.d = "1";
            r.exp = in.exp + 1;
        }
        return r;
    }
    std::string d = in.d;
    if (keep < int(d.size())) {
        bool up = d[size_t(keep)] >= '5';
        d.resize(size_t(keep));
        int exp = in.exp;
        if (up) {
            int i = keep - 1;
            while (i >= 0 && d[size_t(i)] == '9') d[size_t(i--)] = '0';
            if (i < 0) {
                d.insert(d.begin(), '1');
                ++exp;
            } else {
                ++d[size_t(i)];
            }
        }
        r.d = d;
        r.exp = exp;
    } else {
        d.append(size_t(keep - int(d.size())), '0');
        r.d = d;
        r.exp = in.exp;
    }
    // Strip leading zeros left by nothing (kept for safety) and a zero result.
    if (r.d.find_first_not_of('0') == std::string::npos) r.d.clear();
    return r;
}

// Integer and fractional digit strings of a rounded number.
void SplitFixed(const Rounded& r, int decimals, std::string& intDigits, std::string& fracDigits) {
    intDigits.clear();
    fracDigits.assign(size_t(decimals), '0');
    for (size_t i = 0; i < r.d.size(); ++i) {
        int pow = r.exp - int(i);
        if (pow >= 0) {
            intDigits += r.d[i];
        } else if (-pow <= decimals) {
            fracDigits[size_t(-pow - 1)] = r.d[i];
        }
    }
    // Zeros between the last digit and the decimal point.
    if (!r.d.empty() && r.exp >= int(r.d.size())) intDigits.append(size_t(r.exp - int(r.d.size()) + 1), '0');
    size_t nz = intDigits.find_first_not_of('0');
    intDigits = nz == std::string::npos ? std::string() : intDigits.substr(nz);
}

std::vector<std::string> SplitSections(const std::string& pattern) {
    std::vector<std::string> out(1);
    char quote = 0;
    for (char c : pattern) {
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == ';') {
            out.emplace_back();
            continue;
        }
        out.back() += c;
    }
    return out;
}

struct Token {
    enum Kind { Literal, IntDigit, DecPoint, DecDigit, Exponent } kind;
    std::string text;  // literal text; for Exponent the letter
    char ch = 0;       // '0' or '#'; for Exponent the sign style '+' or '-'
    int expDigits = 0;
};

struct Section {
    std::vector<Token> tokens;
    bool grouping = false;
    int intCount = 0, decCount = 0;
    int firstIntZero = -1;  // index among integer placeholders
    int lastDecZero = -1;   // index among decimal placeholders
    bool scientific = false;
};

Section Parse(const std::string& s) {
    Section sec;
    bool afterPoint = false;
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c == '\'' || c == '"') {
            size_t end = s.find(c, i + 1);
            if (end == std::string::npos) end = s.size();
            sec.tokens.push_back({Token::Literal, s.substr(i + 1, end - i - 1)});
            i = end;
        } else if (c == '0' || c == '#') {
            if (afterPoint) {
                if (c == '0') sec.lastDecZero = sec.decCount;
                sec.tokens.push_back({Token::DecDigit, {}, c});
                ++sec.decCount;
            } else {
                if (c == '0' && sec.firstIntZero < 0) sec.firstIntZero = sec.intCount;
                sec.tokens.push_back({Token::IntDigit, {}, c});
                ++sec.intCount;
            }
        } else if (c == '.' && !afterPoint) {
            afterPoint = true;
            sec.tokens.push_back({Token::DecPoint, {}});
        } else if (c == ',') {
            sec.grouping = true;
        } else if ((c == 'E' || c == 'e') && !sec.scientific && i + 2 < s.size() &&
                   (s[i + 1] == '+' || s[i + 1] == '-') && s[i + 2] == '0') {
            Token t{Token::Exponent, std::string(1, c), s[i + 1]};
            size_t j = i + 2;
            while (j < s.size() && s[j] == '0') {
                ++t.expDigits;
                ++j;
            }
            sec.tokens.push_back(t);
            sec.scientific = true;
            i = j - 1;
        } else {
            sec.tokens.push_back({Token::Literal, std::string(1, c)});
        }
    }
    return sec;
}

struct Prepared {
    std::string intDigits, fracDigits;
    int exponent = 0;
    bool isZero = true;
};

Prepared Prepare(const Section& sec, long double absValue) {
    Prepared p;
    Digits d = DigitsOf(absValue);
    if (sec.scientific) {
        int intPlaces = sec.intCount > 0 ? sec.intCount : 1;
        if (!d.zero) {
            int exp = d.exp - (intPlaces - 1);
            Rounded r = RoundAt(d, exp - sec.decCount);
            if (!r.d.empty() && r.exp > d.exp) {  // carried into a new digit
                ++exp;
                r = RoundAt(d, exp - sec.decCount);
            }
            // Scale so that the digits read as mantissa x 10^exp.
            Rounded m = r;
            m.exp = r.exp - exp;
            SplitFixed(m, sec.decCount, p.intDigits, p.fracDigits);
            p.exponent = exp;
            p.isZero = r.d.empty();
        } else {
            p.fracDigits.assign(size_t(sec.decCount), '0');
        }
        if (p.isZero) p.exponent = 0;
        return p;
    }
    Rounded r = RoundAt(d, -sec.decCount);
    SplitFixed(r, sec.decCount, p.intDigits, p.fracDigits);
    p.isZero = r.d.empty();
    return p;
}

std::string Render(const Section& sec, const Prepared& p, char dsep, char tsep) {
    std::string out;
    const std::string& D = p.intDigits;
    const int k = int(D.size());
    const int nInt = sec.intCount;
    int keep = -1;  // last decimal index written
    for (int i = 0; i < sec.decCount; ++i)
        if (p.fracDigits[size_t(i)] != '0') keep = i;
    if (sec.lastDecZero > keep) keep = sec.lastDecZero;

    auto emitDigit = [&](char digit, int pos) {
        out += digit;
        if (sec.grouping && pos > 0 && pos % 3 == 0) out += tsep;
    };
    auto emitExtra = [&](int upto) {  // digits beyond the placeholders
        for (int j = 0; j < upto; ++j) emitDigit(D[size_t(j)], k - 1 - j);
    };
    int intIdx = 0, decIdx = 0;
    bool extraDone = false;
    for (const Token& t : sec.tokens) {
        switch (t.kind) {
        case Token::Literal: out += t.text; break;
        case Token::IntDigit: {
            if (!extraDone) {
                if (k > nInt) emitExtra(k - nInt);
                extraDone = true;
            }
            int pos = nInt - 1 - intIdx;
            if (pos < k) emitDigit(D[size_t(k - 1 - pos)], pos);
            else if (sec.firstIntZero >= 0 && intIdx >= sec.firstIntZero) emitDigit('0', pos);
            ++intIdx;
            break;
        }
        case Token::DecPoint:
            if (!extraDone) {  // no integer placeholders: digits go here
                emitExtra(k);
                extraDone = true;
            }
            if (keep >= 0) out += dsep;
            break;
        case Token::DecDigit:
            if (decIdx <= keep) out += p.fracDigits[size_t(decIdx)];
            ++decIdx;
            break;
        case Token::Exponent: {
            if (!extraDone) {
                emitExtra(k);
                extraDone = true;
            }
            out += t.text;
            int e = p.exponent;
            if (e < 0) out += '-';
            else if (t.ch == '+') out += '+';
            std::string digits = std::to_string(e < 0 ? -e : e);
            if (int(digits.size()) < t.expDigits) digits.insert(0, size_t(t.expDigits - int(digits.size())), '0');
            out += digits;
            break;
        }
        }
    }
    if (!extraDone && k > 0) emitExtra(k);
    return out;
}

}  // namespace

std::string FormatFloat(const std::string& pattern, long double value, char dsep, char tsep) {
    if (!std::isfinite(value)) return FormatGeneral(value, 15, dsep);
    std::vector<std::string> sections = SplitSections(pattern);
    auto has = [&](size_t i) { return sections.size() > i && !sections[i].empty(); };
    const std::string& zeroSection = has(2) ? sections[2] : sections[0];

    std::string text;
    bool minus = false;
    if (value < 0) {
        if (has(1)) text = sections[1];
        else {
            text = sections[0];
            minus = true;
        }
    } else if (value == 0) {
        text = zeroSection;
    } else {
        text = sections[0];
    }
    Section sec = Parse(text);
    Prepared p = Prepare(sec, std::fabs(value));
    if (p.isZero && value != 0) {
        // Rounds to zero in its section: the zero section writes it.
        sec = Parse(zeroSection);
        p = Prepare(sec, 0);
        minus = false;
    }
    std::string out = Render(sec, p, dsep, tsep);
    return minus ? "-" + out : out;
}

std::string FormatGeneral(long double value, int precision, char dsep) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    if (precision < 1) precision = 1;
    if (precision > kSignificant) precision = kSignificant;
    Digits d = DigitsOf(value);
    if (d.zero) return "0";
    Rounded r = RoundAt(d, d.exp - precision + 1);
    if (r.d.empty()) return "0";
    while (r.d.size() > 1 && r.d.back() == '0') r.d.pop_back();
    std::string out = value < 0 ? "-" : "";
    const int e = r.exp;
    if (e >= precision || e < -4) {
        out += r.d[0];
        if (r.d.size() > 1) {
            out += dsep;
            out += r.d.substr(1);
        }
        out += 'E';
        if (e < 0) out += '-';
        out += std::to_string(e < 0 ? -e : e);
        return out;
    }
    if (e < 0) {
        out += '0';
        out += dsep;
        out.append(size_t(-e - 1), '0');
        out += r.d;
        return out;
    }
    if (int(r.d.size()) <= e + 1) {
        out += r.d;
        out.append(size_t(e + 1 - int(r.d.size())), '0');
    } else {
        out += r.d.substr(0, size_t(e + 1));
        out += dsep;
        out += r.d.substr(size_t(e + 1));
    }
    return out;
}

}  // namespace controls
