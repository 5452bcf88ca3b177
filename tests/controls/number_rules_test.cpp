#include <gtest/gtest.h>

#include "controls/number_rules.h"
#include "platform/regional.h"

using namespace controls;

namespace {
NumberSeparators Seps(const char* locale) {
    auto fs = platform::formatSettingsFor(locale);
    return {fs.decimalSeparator, fs.thousandSeparator};
}
const NumberSeparators kPt{',', '.'};
const NumberSeparators kEn{'.', ','};
std::u32string U(const std::string& s) { return std::u32string(s.begin(), s.end()); }
}  // namespace

TEST(NumberRules, LocaleSeparatorsArePinned) {
    EXPECT_EQ(Seps("pt_BR.UTF-8").decimal, ',');
    EXPECT_EQ(Seps("pt_BR.UTF-8").thousand, '.');
    EXPECT_EQ(Seps("en_US.UTF-8").decimal, '.');
    EXPECT_EQ(Seps("en_US.UTF-8").thousand, ',');
}

TEST(NumberRules, NormalizeNumberText) {
    struct Case {
        const char* in;
        const char* pt;
        const char* en;
    } cases[] = {
        {"1.234,5", "1234,5", "1.2345"},
        {" 1 5 ", "15", "15"},
        {"", "0", "0"},
        {"-", "-0", "-0"},
        {"1.5", "15", "1.5"},
        {"1,5", "1,5", "15"},
    };
    for (auto c : cases) {
        EXPECT_EQ(NormalizeNumberText(c.in, kPt), c.pt) << c.in;
        EXPECT_EQ(NormalizeNumberText(c.in, kEn), c.en) << c.in;
    }
    // A locale whose separators are neither "." nor ",": both become the decimal one.
    EXPECT_EQ(NormalizeNumberText("1.5", {'/', '\''}), "1/5");
    EXPECT_EQ(NormalizeNumberText("1,5", {'/', '\''}), "1/5");
}

TEST(NumberRules, TextToFloat) {
    struct Case {
        const char* text;
        bool ok;
        long double value;
    } cases[] = {
        {"1,5", true, 1.5L},   {" -2,25 ", true, -2.25L},
        {"+3", true, 3},       {",5", true, 0.5L},
        {"5,", true, 5},       {",", true, 0},
        {"1E3", true, 1000},   {"1e", true, 1},
        {"2E-2", true, 0.02L}, {"1,5,", false, 0},
        {"", false, 0},        {"-", false, 0},
        {"1.5", false, 0},     {"abc", false, 0},
        {"1E5000", false, 0},  {"1 2", false, 0},
        {"E3", false, 0},      {" 12,5 ", true, 12.5L},
        {"-3", true, -3},      {"1E+", true, 1},
        {"Error", false, 0},   {"1,2,3", false, 0},
        {"--1", false, 0},     {"\t1", false, 0},  // only the space counts as a blank
    };
    for (auto c : cases) {
        long double v = -99;
        EXPECT_EQ(TryTextToFloat(c.text, ',', v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_NEAR(double(v), double(c.value), 1e-12) << c.text;
        }
    }
    try {
        TextToFloat("abc", ',');
        FAIL() << "no error";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'abc' is not a valid floating point value");
    }
}

TEST(NumberRules, ClampToRange) {
    struct Case {
        long double min, max, in, out;
    } cases[] = {
        {0, 0, -5, -5}, {0, 10, 11, 10},   {0, 10, -1, 0}, {1, 0, 0.5L, 1},  {1, 0, 1000, 1000},
        {0, -5, 3, -5}, {0, -5, -10, -10}, {5, 2, 3, 3},   {5, 5, 100, 100}, {-3, -1, -5, -3},
    };
    for (auto c : cases)
        EXPECT_EQ(double(ClampToRange(c.in, {c.min, c.max})), double(c.out))
            << c.min << ".." << c.max << " " << double(c.in);
}

TEST(NumberRules, ValueFromTextAndReadableText) {
    EXPECT_EQ(double(ValueFromText("1,5", {}, kPt)), 1.5);
    EXPECT_EQ(double(ValueFromText("1.5", {}, kPt)), 15);  // "." is the thousands separator there
    EXPECT_EQ(double(ValueFromText("", {}, kPt)), 0);
    EXPECT_EQ(double(ValueFromText("-", {}, kPt)), 0);
    EXPECT_EQ(double(ValueFromText("-2,5", {}, kPt)), -2.5);
    EXPECT_EQ(double(ValueFromText("1E3", {}, kPt)), 1000);
    EXPECT_EQ(double(ValueFromText("0,5", {1, 0}, kPt)), 1);
    EXPECT_THROW(ValueFromText("Error", {}, kPt), EConvertError);
    EXPECT_THROW(ValueFromText("--1", {}, kPt), EConvertError);
    EXPECT_EQ(ReadableNumberText("1?2\r\n3"), "123");
}

TEST(NumberRules, IsValidKey) {
    struct Case {
        const char* text;
        int selStart, selLength;
        char key;
        unsigned places;
        long double min, max;
        bool ok;
    } cases[] = {
        {"1,5", 3, 0, '7', 2, 0, 0, true},     {"1,57", 4, 0, '7', 2, 0, 0, false},  // a third decimal
        {"1,57", 0, 0, '2', 2, 0, 0, true},                                          // integer digits are free
        {"1,57", 3, 1, '9', 2, 0, 0, true},                                          // typing over a decimal
        {"1", 1, 0, ',', 0, 0, 0, true},    // the separator with no decimals...
        {"1,", 2, 0, '5', 0, 0, 0, false},  // ...but no digit after it
        {"1", 1, 0, 'a', 2, 0, 0, false},      {"1", 1, 0, 'E', 2, 0, 0, true},     {"1E", 2, 0, '3', 2, 0, 0, true},
        {"1,5E", 4, 0, '-', 2, 0, 0, true},    {"", 0, 0, '-', 2, 0, 10, false},  // no minus while min >= 0 and a range
        {"", 0, 0, '-', 2, 0, 0, true},        {"5", 0, 0, '-', 2, -10, 10, true},  {"1", 1, 0, ',', 2, 0, 0, true},
        {"1,5", 3, 0, ',', 2, 0, 0, false},     // a second separator
        {"1", 1, 0, char(24), 2, 0, 0, false},  // Ctrl+X
        {"12", 0, 2, '7', 2, 0, 0, true},
    };
    for (auto c : cases)
        EXPECT_EQ(IsValidKey(char32_t(static_cast<unsigned char>(c.key)), U(c.text), c.selStart, c.selLength, c.places,
                             {c.min, c.max}, kPt),
                  c.ok)
            << "'" << c.text << "' + " << c.key;
    // A negative result while min >= 0 and max > 0 is refused.
    EXPECT_FALSE(IsValidKey(U'5', U"-", 1, 0, 2, {0, 10}, kPt));
    EXPECT_TRUE(IsValidKey(U'5', U"-", 1, 0, 2, {-10, 10}, kPt));
}

TEST(NumberRules, EditAndDisplayTexts) {
    struct Case {
        long double v;
        unsigned places;
        const char* pt;
        const char* en;
    } cases[] = {
        {0, 2, "0", "0"},
        {12, 2, "12", "12"},
        {1.5L, 2, "1,5", "1.5"},
        {1234.567L, 2, "1234,57", "1234.57"},
        {-2.25L, 2, "-2,25", "-2.25"},
        {2.5L, 0, "3", "3"},
        {0.125L, 2, "0,13", "0.13"},
        {-0.001L, 2, "0", "0"},
        {1e6L, 2, "1000000", "1000000"},
    };
    for (auto c : cases) {
        EXPECT_EQ(FormatEditText(c.v, c.places, kPt), c.pt) << double(c.v);
        EXPECT_EQ(FormatEditText(c.v, c.places, kEn), c.en) << double(c.v);
    }
    const std::string def = "### ### ##0.00;-### ### ##0.00;0";
    struct D {
        long double v;
        const char* pt;
        const char* en;
    } display[] = {
        {0, "0", "0"},
        {1, "1,00", "1.00"},
        {1234567.5L, "1 234 567,50", "1 234 567.50"},
        {1234567890, "1234 567 890,00", "1234 567 890.00"},
        {-5, "-  5,00", "-  5.00"},
        {0.001L, "0", "0"},
    };
    for (auto d : display) {
        EXPECT_EQ(FormatDisplayText(d.v, def, kPt), d.pt) << double(d.v);
        EXPECT_EQ(FormatDisplayText(d.v, def, kEn), d.en) << double(d.v);
    }
    EXPECT_EQ(FormatDisplayText(1.5L, "", kPt), "1,5");
    EXPECT_EQ(FormatDisplayText(1.0L / 3, "", kPt), "0,333333333333333");
}
