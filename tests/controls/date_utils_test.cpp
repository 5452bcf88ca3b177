#include <gtest/gtest.h>

#include "controls/date_utils.h"

using namespace controls;

namespace {
platform::FormatSettings PtBr() { return platform::formatSettingsFor("pt_BR.UTF-8"); }
platform::FormatSettings EnUs() { return platform::formatSettingsFor("en_US.UTF-8"); }

DateTime Encode(int y, int m, int d) {
    DateTime v = 0;
    EXPECT_TRUE(platform::tryEncodeDate(y, m, d, v));
    return v;
}
}  // namespace

TEST(DateUtils, MonthLengthsAndValidity) {
    struct Case {
        int y, m, days;
    } cases[] = {{2024, 2, 29}, {1900, 2, 28}, {2000, 2, 29}, {2026, 2, 28}, {2026, 4, 30}, {2026, 12, 31}, {1, 1, 31}};
    for (auto c : cases) EXPECT_EQ(DaysInMonth(c.y, c.m), c.days) << c.y << "-" << c.m;

    struct V {
        int y, m, d;
        bool ok;
    } valid[] = {{0, 1, 1, false},     {10000, 1, 1, false}, {2026, 4, 31, false},
                 {2026, 13, 1, false}, {2026, 0, 1, false},  {2026, 1, 0, false},
                 {2024, 2, 29, true},  {9999, 12, 31, true}, {1, 1, 1, true}};
    for (auto v : valid) EXPECT_EQ(ValidDateParts(v.y, v.m, v.d), v.ok) << v.y << "-" << v.m << "-" << v.d;

    EXPECT_TRUE(ValidDate(Encode(2026, 3, 15)));
    EXPECT_FALSE(ValidDate(-1e9));
    EXPECT_EQ(ExtractYear(Encode(2026, 3, 15)), 2026);
}

TEST(DateUtils, DateOrderOfFormats) {
    struct Case {
        const char* fmt;
        DateOrder order;
    } cases[] = {{"yyyy-MM-dd", YMD}, {"dd.MM.yyyy", DMY}, {"", DMY},     {"M/d/yyyy", MDY},
                 {"dd/MM/yyyy", DMY}, {"-- y", YMD},       {"hh:nn", DMY}};
    for (auto c : cases) EXPECT_EQ(GetDateOrder(c.fmt), c.order) << c.fmt;
}

TEST(DateUtils, DefaultFormatAndMaskFollowTheLocale) {
    EXPECT_EQ(DefaultDateFormat(true, PtBr()), "DD/MM/YYYY");
    EXPECT_EQ(DefaultDateFormat(false, PtBr()), "DD/MM/YY");
    EXPECT_EQ(DefaultDateFormat(true, EnUs()), "MM/DD/YYYY");
    EXPECT_EQ(DefaultDateMask(' ', true, PtBr()), "!99/99/9999;1; ");
    EXPECT_EQ(DefaultDateMask('_', false, PtBr()), "!99/99/99;1;_");
    platform::FormatSettings iso = PtBr();
    iso.shortDateFormat = "yyyy-MM-dd";
    EXPECT_EQ(DefaultDateFormat(true, iso), "YYYY/MM/DD");
    EXPECT_EQ(DefaultDateMask(' ', true, iso), "!9999/99/99;1; ");
    EXPECT_TRUE(FourDigitYearIn("dd/MM/yyyy"));
    EXPECT_FALSE(FourDigitYearIn("dd/MM/yy"));
}

TEST(DateUtils, TwoDigitYearsMoveWithTheClock) {
    struct Case {
        int in, year, out;
    } cases[] = {{65, 2026, 2065}, {66, 2026, 1966},   {0, 2026, 2000},  {99, 2026, 1999},
                 {100, 2026, 100}, {2026, 2026, 2026}, {66, 2027, 2066}, {5, 1999, 2005}};
    for (auto c : cases) EXPECT_EQ(ExpandTwoDigitYear(c.in, c.year), c.out) << c.in << " in " << c.year;
}

TEST(DateUtils, MonthFromName) {
    EXPECT_EQ(MonthFromName("mar", 3, EnUs()), 3);
    EXPECT_EQ(MonthFromName("DEC", 3, EnUs()), 12);
    EXPECT_EQ(MonthFromName("ju", 2, EnUs()), 6);  // June before July
    EXPECT_EQ(MonthFromName("xyz", 3, EnUs()), 0);
    EXPECT_EQ(MonthFromName("", 0, EnUs()), 0);
    EXPECT_EQ(MonthFromName("mar", 3, PtBr()), 3);  // março
}

TEST(DateUtils, ScanNumberStopsAtTheFifthDigit) {
    int pos = 1, n = 0;
    EXPECT_TRUE(ScanNumber("12345", 1 << 30, pos, n));
    EXPECT_EQ(n, 1234);
    EXPECT_EQ(pos, 5);
    pos = 1;
    EXPECT_FALSE(ScanNumber("  x", 1 << 30, pos, n));
    EXPECT_EQ(pos, 3);
    int y, m, d;
    pos = 1;
    EXPECT_FALSE(ScanDateNumbers("12345/1/1", "DD/MM/YYYY", pos, y, m, d, PtBr(), 2026));
}

TEST(DateUtils, StrToDateByFormat) {
    struct Case {
        const char* fmt;
        const char* text;
        bool ok;
        int y, m, d;
        bool en = false;
    } cases[] = {
        {"DD/MM/YYYY", "15/03/2026", true, 2026, 3, 15},
        {"DD/MM/YYYY", "31/02/2026", false, 0, 0, 0},
        {"DD/MM/YYYY", "5/3/26", true, 2026, 3, 5},       // fallback scan, year expanded
        {"DD/MM/YYYY", "5/3", true, 2026, 3, 5},          // current year
        {"DD/MM/YYYY", " 5/ 3/1999 ", true, 1999, 3, 5},  // longer than the format: the scan reads it
        {"DD/MM/YYYY", "29/02/2024", true, 2024, 2, 29},
        {"DD/MM/YY", "15/03/70", true, 1970, 3, 15},
        {"MM/DD/YYYY", "03/15/2026", true, 2026, 3, 15, true},
        {"MM/DD/YYYY", "3/15", true, 2026, 3, 15, true},
        {"DD-MMM-YYYY", "15-Mar-2026", true, 2026, 3, 15, true},
        {"DD/MM/YYYY", "15/03/    ", false, 0, 0, 0},  // a blank year is no year
        {"DD/MM/YYYY", "xx", false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        DateTime v = -1;
        bool ok = StrToDateByFormat(c.fmt, c.text, v, c.en ? EnUs() : PtBr(), 2026);
        EXPECT_EQ(ok, c.ok) << c.fmt << " " << c.text;
        if (ok && c.ok) {
            EXPECT_EQ(v, Encode(c.y, c.m, c.d)) << c.text;
        }
    }
    DateTime v = 5;
    EXPECT_TRUE(StrToDateByFormat("DD/MM/YYYY", "", v, PtBr(), 2026));
    EXPECT_EQ(v, NullDate);
    EXPECT_EQ(StrToDateByFormatDef("DD/MM/YYYY", "xx", 45000.75, PtBr(), 2026), 45000.0);
    EXPECT_EQ(StrToDateByFormatDef("DD/MM/YYYY", "15/03/2026", 1.0, PtBr(), 2026), Encode(2026, 3, 15));
}

TEST(DateUtils, ExtractDateField) {
    auto fs = PtBr();
    EXPECT_EQ(ExtractDateField("DD/MM/YYYY", "15/03/2026", 'd', 1, -1, 1, fs), 15);
    EXPECT_EQ(ExtractDateField("DD/MM/YYYY", "15/03/2026", 'y', 1, -1, 0, fs), 2026);
    EXPECT_EQ(ExtractDateField("DD/MM/YYYY", "  /03/2026", 'd', 1, -1, 1, fs), -1);  // blank field
    EXPECT_EQ(ExtractDateField("DD/MM/YYYY", "15/03/2026", 'm', 3, -1, 0, fs), 0);   // no MMM
    EXPECT_EQ(ExtractDateField("DD/MM/YYYY", "15/03/2026x", 'd', 1, -1, 7, fs), 7);  // longer text
    EXPECT_EQ(ExtractDateField("DD/MM/YYYY", "1a/03/2026", 'd', 1, -1, 7, fs), -1);  // not a number
    EXPECT_EQ(ExtractDateField("DD/MMM/YYYY", "15/xyz/2026", 'm', 3, -1, 0, EnUs()), -1);
}
