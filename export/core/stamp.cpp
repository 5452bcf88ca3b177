#include "export/core/stamp.h"

#include "export/core/settings_check.h"
#include "export/core/summary.h"
#include "platform/ini_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace exports {

namespace {

constexpr const char* kSection = kSettingsSection;

std::string two(int v) {
    char b[8];
    std::snprintf(b, sizeof b, "%02d", v);
    return b;
}

bool leapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysIn(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && leapYear(year) ? 29 : days[month - 1];
}

// Reads 1..maxDigits digits at `at`.
bool number(const std::string& s, size_t& at, size_t minDigits, size_t maxDigits, int& out) {
    size_t n = 0;
    out = 0;
    while (at < s.size() && n < maxDigits && s[at] >= '0' && s[at] <= '9') {
        out = out * 10 + (s[at] - '0');
        ++at;
        ++n;
    }
    return n >= minDigits;
}

bool expect(const std::string& s, size_t& at, char c) {
    if (at >= s.size() || s[at] != c) return false;
    ++at;
    return true;
}

bool valid(const Moment& m) {
    return m.year >= 1 && m.year <= 9999 && m.month >= 1 && m.month <= 12 && m.day >= 1 &&
           m.day <= daysIn(m.year, m.month) && m.hour >= 0 && m.hour < 24 && m.minute >= 0 && m.minute < 60 &&
           m.second >= 0 && m.second < 60;
}

}  // namespace

std::string dateText(const Moment& m) { return two(m.day) + "/" + two(m.month) + "/" + std::to_string(m.year); }
std::string timeText(const Moment& m) { return two(m.hour) + ":" + two(m.minute) + ":" + two(m.second); }

std::string sqlText(const Moment& m) {
    char b[32];
    std::snprintf(b, sizeof b, "%04d-%02d-%02d %02d:%02d:%02d", m.year, m.month, m.day, m.hour, m.minute, m.second);
    return b;
}

Moment nextSecond(Moment m) {
    if (++m.second < 60) return m;
    m.second = 0;
    if (++m.minute < 60) return m;
    m.minute = 0;
    if (++m.hour < 24) return m;
    m.hour = 0;
    if (++m.day <= daysIn(m.year, m.month)) return m;
    m.day = 1;
    if (++m.month <= 12) return m;
    m.month = 1;
    ++m.year;
    return m;
}

std::optional<Moment> parseStamp(const std::string& date, const std::string& time) {
    Moment m;
    size_t at = 0;
    if (!number(date, at, 1, 2, m.day) || !expect(date, at, '/') || !number(date, at, 1, 2, m.month) ||
        !expect(date, at, '/') || !number(date, at, 4, 4, m.year) || at != date.size())
        return std::nullopt;
    at = 0;
    while (at < time.size() && static_cast<unsigned char>(time[at]) <= 32) ++at;
    if (!number(time, at, 1, 2, m.hour) || !expect(time, at, ':') || !number(time, at, 2, 2, m.minute))
        return std::nullopt;
    if (at < time.size() && (!expect(time, at, ':') || !number(time, at, 2, 2, m.second))) return std::nullopt;
    if (at != time.size() || !valid(m)) return std::nullopt;
    return m;
}

std::optional<Moment> parseDatabaseMoment(const std::string& text) {
    Moment m;
    size_t at = 0;
    if (!number(text, at, 4, 4, m.year) || !expect(text, at, '-') || !number(text, at, 2, 2, m.month) ||
        !expect(text, at, '-') || !number(text, at, 2, 2, m.day) || !expect(text, at, ' ') ||
        !number(text, at, 2, 2, m.hour) || !expect(text, at, ':') || !number(text, at, 2, 2, m.minute) ||
        !expect(text, at, ':') || !number(text, at, 2, 2, m.second) || !valid(m))
        return std::nullopt;
    return m;  // the fraction after the seconds is cut
}

const std::vector<std::string>& stampSettingsKeys() {
    static const std::vector<std::string> keys{"Data", "Hora", "MarcaTransacao", "MarcaBase"};
    return keys;
}

StampRecord readStamp(const std::string& settingsFile) {
    StampRecord r;
    r.date = platform::GetPrivateProfileString(kSection, "Data", "", settingsFile);
    r.time = platform::GetPrivateProfileString(kSection, "Hora", "", settingsFile);
    const auto m = parseStamp(r.date, r.time);
    if (!m)
        // Escaped: a NUL would cut the message short.
        throw StampError("Data e hora da última exportação ilegíveis em " + settingsFile + ": \"" +
                         printable(r.date + " " + r.time) + "\" (esperado dd/mm/aaaa hh:mm:ss)");
    r.moment = *m;
    const std::string mark = platform::GetPrivateProfileString(kSection, "MarcaTransacao", "", settingsFile);
    if (!mark.empty() && mark.find_first_not_of("0123456789") == std::string::npos && mark.size() < 19)
        r.mark = std::stoll(mark);
    r.databaseIdentity = platform::GetPrivateProfileString(kSection, "MarcaBase", "", settingsFile);
    return r;
}

void storeStamp(const std::string& settingsFile, const Moment& moment, long long mark,
                const std::string& databaseIdentity) {
    if (!platform::WritePrivateProfileStrings(kSection,
                                              {{"Data", dateText(moment)},
                                               {"Hora", timeText(moment)},
                                               {"MarcaTransacao", std::to_string(mark)},
                                               {"MarcaBase", databaseIdentity}},
                                              settingsFile)) {
        const int err = errno;
        throw StampError(unableToWrite(settingsFile, err));
    }
}

}  // namespace exports
