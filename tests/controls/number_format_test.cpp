#include <gtest/gtest.h>

#include "controls/number_format.h"

using controls::FormatFloat;
using controls::FormatGeneral;

TEST(NumberPatterns, Sections) {
    struct Case {
        const char* pattern;
        long double v;
        const char* out;
    } cases[] = {
        {"0.00;(0.00);zero", -1.5L, "(1,50)"},
        {"0.00;(0.00);zero", 0, "zero"},
        {"0.00;(0.00);zero", 0.004L, "zero"},  // rounds to zero in its section
        {"0.00;(0.00);zero", -0.004L, "zero"},
        {"0.00", -1.5L, "-1,50"},   // no negative section: minus in front
        {"0.00;", -1.5L, "-1,50"},  // an empty one counts as missing
        {"0.00;;", 0, "0,00"},
        {"#", 0, ""},
        {"0", 0.5L, "1"},  // half away from zero
        {"0", -0.5L, "-1"},
        {"0.0", 0.05L, "0,1"},
    };
    for (auto c : cases) EXPECT_EQ(FormatFloat(c.pattern, c.v, ',', '.'), c.out) << c.pattern << " " << double(c.v);
}

TEST(NumberPatterns, DigitsGroupingLiteralsAndQuotes) {
    struct Case {
        const char* pattern;
        long double v;
        const char* out;
    } cases[] = {
        {"#,##0.00", 1234567.891L, "1.234.567,89"},
        {"#,##0", 999, "999"},
        {"#,##0", 1000, "1.000"},
        {"#,##0", 0, "0"},
        {"0000", 42, "0042"},
        {"#.##", 0.5L, ",5"},
        {"0.##", 12, "12"},
        {"0.#0", 1.5L, "1,50"},
        {"00", 12345, "12345"},  // extra digits at the first placeholder
        {"'R$ '#,##0.00", 1234.5L, "R$ 1.234,50"},
        {"\"#\"0", 7, "#7"},
        {"0 kg", 3, "3 kg"},
        {"##-##", 1234, "12-34"},
        {"##-##", 4, "-4"},  // literals stand whether or not digits came before
    };
    for (auto c : cases) EXPECT_EQ(FormatFloat(c.pattern, c.v, ',', '.'), c.out) << c.pattern << " " << double(c.v);
}

TEST(NumberPatterns, Scientific) {
    struct Case {
        const char* pattern;
        long double v;
        const char* out;
    } cases[] = {
        {"0.00E+00", 12345, "1,23E+04"}, {"0.00E+00", 0.00012345L, "1,23E-04"},
        {"0.00E-00", 12345, "1,23E04"},  {"0.0e+0", 9.96L, "1,0e+1"},  // the carry moves the exponent
        {"0.00E+00", 0, "0,00E+00"},
    };
    for (auto c : cases) EXPECT_EQ(FormatFloat(c.pattern, c.v, ',', '.'), c.out) << c.pattern << " " << double(c.v);
}

TEST(NumberPatterns, GeneralFormat) {
    struct Case {
        long double v;
        int digits;
        const char* out;
    } cases[] = {
        {8, 16, "8"},
        {1.0L / 3, 16, "0,3333333333333333"},
        {2.0L / 3, 16, "0,6666666666666667"},
        {0.00001L, 16, "1E-5"},
        {0.0001L, 16, "0,0001"},
        {1e20L, 16, "1E20"},
        {-1.5e-7L, 15, "-1,5E-7"},
        {123456789012345678.0L, 15, "1,23456789012346E17"},
        {0, 15, "0"},
        {100, 15, "100"},
        {-0.0L, 16, "0"},
        {-2.5e-7L, 16, "-2,5E-7"},
        {-1234.5L, 16, "-1234,5"},
        {1e15L, 16, "1000000000000000"},
        {1e16L, 16, "1E16"},
        {123.456L, 2, "1,2E2"},
        {0.125L, 2, "0,13"},  // an exact half rounds away from zero, as the patterns do
    };
    for (auto c : cases) EXPECT_EQ(FormatGeneral(c.v, c.digits, ','), c.out) << double(c.v);
}
