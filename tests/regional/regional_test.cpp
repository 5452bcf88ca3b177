#include <gtest/gtest.h>

#include "platform/datetime.h"
#include "platform/regional.h"

using namespace platform;

namespace {

DateTime date(int y, int m, int d) {
    DateTime v = 0;
    EXPECT_TRUE(tryEncodeDate(y, m, d, v));
    return v;
}

DateTime moment(int y, int m, int d, int h, int n, int s) {
    DateTime t = 0;
    EXPECT_TRUE(tryEncodeTime(h, n, s, 0, t));
    return date(y, m, d) + t;
}

}  // namespace

TEST(Regional, LocalesGiveTheirConventions) {
    FormatSettings br = formatSettingsFor("pt_BR.UTF-8");
    EXPECT_EQ(br.shortDateFormat, "dd/MM/yyyy");
    EXPECT_EQ(br.longTimeFormat, "HH:mm:ss");
    EXPECT_EQ(br.dateSeparator, '/');
    EXPECT_EQ(br.decimalSeparator, ',');
    EXPECT_EQ(br.thousandSeparator, '.');
    EXPECT_EQ(br.longMonthNames[2], "março");
    EXPECT_EQ(br.firstDayOfWeek, 0);

    FormatSettings us = formatSettingsFor("en_US.UTF-8");
    EXPECT_EQ(us.shortDateFormat, "MM/dd/yyyy");
    EXPECT_EQ(us.decimalSeparator, '.');
    EXPECT_EQ(us.shortDayNames[0], "Sun");
    EXPECT_EQ(formatLongTime(moment(2020, 12, 25, 15, 5, 7), us), "03:05:07 PM");
}

TEST(Regional, CurrentSettingsFollowTheProcessLocale) {
    ASSERT_TRUE(setProcessLocale("pt_BR.UTF-8"));
    EXPECT_EQ(currentFormatSettings().decimalSeparator, ',');
    ASSERT_TRUE(setProcessLocale("en_US.UTF-8"));
    EXPECT_EQ(currentFormatSettings().decimalSeparator, '.');
    setProcessLocale("C");
}

TEST(DateSerial, KnownDays) {
    EXPECT_EQ(date(1899, 12, 30), 0.0);
    EXPECT_EQ(date(1900, 1, 1), 2.0);
    EXPECT_EQ(date(2020, 12, 25), 44190.0);
    EXPECT_EQ(date(1, 1, 1), -693593.0);
    DateParts p;
    ASSERT_TRUE(tryDecodeDate(date(2024, 2, 29), p));
    EXPECT_EQ(p.year, 2024);
    EXPECT_EQ(p.month, 2);
    EXPECT_EQ(p.day, 29);
    ASSERT_TRUE(tryDecodeDate(date(9999, 12, 31), p));
    EXPECT_EQ(p.year, 9999);
    EXPECT_FALSE(tryDecodeDate(date(9999, 12, 31) + 1, p));
    DateTime out;
    EXPECT_FALSE(tryEncodeDate(2023, 2, 29, out));
}

TEST(DateText, FormatsWithTheLocale) {
    FormatSettings br = formatSettingsFor("pt_BR.UTF-8");
    EXPECT_EQ(formatDateTimeText(moment(2020, 12, 25, 10, 5, 37), br), "25/12/2020 10:05:37");
    EXPECT_EQ(formatDateTimeText(date(2020, 12, 25), br), "25/12/2020");
    EXPECT_EQ(formatDateTime(" mmmm d, yyyy", date(2026, 3, 5), br), " março 5, 2026");
    EXPECT_EQ(formatDateTime("hh:nn 'h' dddd", moment(2026, 3, 5, 7, 8, 0), br), "07:08 h quinta");
}

TEST(DateText, ReadsDatesAndTimes) {
    FormatSettings br = formatSettingsFor("pt_BR.UTF-8");
    FormatSettings us = formatSettingsFor("en_US.UTF-8");
    struct Case {
        const char* text;
        bool ok;
        int y, m, d;
    } dates[] = {
        {"25/12/2020", true, 2020, 12, 25},   {" 1/1/2010 ", true, 2010, 1, 1}, {"31/02/2020", false, 0, 0, 0},
        {"25/12/20", true, 2020, 12, 25},     {"25-12-2020", false, 0, 0, 0},   {"", false, 0, 0, 0},
        {"25/12/2020 10:00", false, 0, 0, 0},
    };
    for (const auto& c : dates) {
        auto v = strToDate(c.text, br);
        EXPECT_EQ(v.has_value(), c.ok) << c.text;
        if (v && c.ok) EXPECT_EQ(*v, date(c.y, c.m, c.d)) << c.text;
    }
    EXPECT_EQ(*strToDate("12/25/2020", us), date(2020, 12, 25));

    struct TCase {
        const char* text;
        bool ok;
        int h, n, s;
    } times[] = {
        {"10:05:37", true, 10, 5, 37}, {" 10:05:3", true, 10, 5, 3},  {"00:00:00", true, 0, 0, 0},
        {"9:7", true, 9, 7, 0},        {"", false, 0, 0, 0},          {"24:00:00", false, 0, 0, 0},
        {"10", false, 0, 0, 0},        {"10:05:37x", false, 0, 0, 0},
    };
    for (const auto& c : times) {
        auto v = strToTime(c.text, br);
        EXPECT_EQ(v.has_value(), c.ok) << c.text;
        if (v && c.ok) {
            TimeParts t = decodeTime(*v);
            EXPECT_EQ(t.hour * 3600 + t.minute * 60 + t.second, c.h * 3600 + c.n * 60 + c.s) << c.text;
        }
    }
    TimeParts pm = decodeTime(*strToTime("03:05:07 PM", us));
    EXPECT_EQ(pm.hour, 15);
}
