#include <gtest/gtest.h>

#include "controls/mask_engine.h"

using controls::MaskEngine;

namespace {
std::string S(const std::u32string& s) { return std::string(s.begin(), s.end()); }
std::u32string U(const std::string& s) { return std::u32string(s.begin(), s.end()); }

// Types each character of `keys` at the caret, as the edit does.
struct Typist {
    MaskEngine m;
    int caret = 0;
    int refused = 0;
    explicit Typist(const char* mask) : m(U(mask)) { caret = m.NextEditable(0); }
    void Type(const std::string& keys) {
        for (char k : keys) {
            int c = k == '\b' ? m.Backspace(caret, caret, 0) : m.TypeChar(caret, caret, 0, char32_t(k));
            if (c < 0) ++refused;
            else caret = c;
        }
    }
};
}  // namespace

TEST(MaskEngine, ParsesTheDateMask) {
    MaskEngine m(U"!99/99/9999;1; ");
    EXPECT_TRUE(m.HasMask());
    EXPECT_EQ(m.Length(), 10);
    EXPECT_EQ(m.BlankChar(), U' ');
    EXPECT_TRUE(m.SaveLiterals());
    EXPECT_TRUE(m.LeadingBlanks());
    EXPECT_EQ(S(m.EditText()), "  /  /    ");
    EXPECT_TRUE(m.IsLiteral(2));
    EXPECT_FALSE(m.IsRequired(0));

    MaskEngine u(U"00-000;0;_");
    EXPECT_EQ(S(u.EditText()), "__-___");
    EXPECT_FALSE(u.SaveLiterals());
    EXPECT_TRUE(u.IsRequired(0));
}

TEST(MaskEngine, TypingOverPositionsStepsOverLiterals) {
    struct Case {
        const char* mask;
        const char* keys;
        const char* text;
        int refused;
    } cases[] = {
        {"!99/99/9999;1; ", "15032026", "15/03/2026", 0},
        {"!99/99/9999;1; ", "15/03/2026", "15/03/2026", 0},  // typed literals step over theirs
        {"!99/99/9999;1; ", "1a5", "15/  /    ", 1},         // a letter is refused
        {"!99/99/9999;1; ", "150320261", "15/03/2026", 1},   // nothing after the end
        {"!99/99/9999;1; ", "1503\b\b07", "15/07/    ", 0},  // Backspace leaves blanks, steps back over "/"
        {"!99/99/9999;1; ", "15\b\b\b", "  /  /    ", 0},    // Backspace at the start does nothing
        {"!99/99/9999;1; ", "  05", "  /05/    ", 0},        // optional positions take blanks
        {"00-000;1;_", "1 ", "1_-___", 1},                   // required ones do not
        {"00-000;1;_", "12345", "12-345", 0},
        {"LL-00;1;_", "ab12", "ab-12", 0},
        {"LL-00;1;_", "1", "__-__", 1},
    };
    for (const Case& c : cases) {
        Typist t(c.mask);
        t.Type(c.keys);
        EXPECT_EQ(S(t.m.EditText()), c.text) << c.mask << " keys " << c.keys;
        EXPECT_EQ(t.refused, c.refused) << c.mask << " keys " << c.keys;
    }
}

TEST(MaskEngine, SelectionAndDelete) {
    MaskEngine m(U"!99/99/9999;1; ");
    m.SetText(U"15/03/2026");
    // Typing over a selected month replaces it and blanks the rest of the selection.
    EXPECT_EQ(m.TypeChar(3, 3, 2, U'1'), 4);
    EXPECT_EQ(S(m.EditText()), "15/1 /2026");
    // Delete leaves a blank and keeps the caret.
    EXPECT_EQ(m.Delete(0, 0, 0), 0);
    EXPECT_EQ(S(m.EditText()), " 5/1 /2026");
    // Delete of a selection spanning literals blanks only the positions.
    EXPECT_EQ(m.Delete(0, 0, 10), 0);
    EXPECT_EQ(S(m.EditText()), "  /  /    ");
    // Caret helpers skip the literals.
    EXPECT_EQ(m.CaretRight(1), 3);
    EXPECT_EQ(m.CaretLeft(3), 1);
    EXPECT_EQ(m.CaretLeft(0), 0);
}

TEST(MaskEngine, SetTextSpreadsShortFields) {
    struct Case {
        const char* mask;
        const char* in;
        const char* edit;
        const char* text;
    } cases[] = {
        {"!99/99/9999;1; ", "15/03/2026", "15/03/2026", "15/03/2026"},
        {"!99/99/9999;1; ", "", "  /  /    ", "  /  /    "},
        {"!99/99/9999;1; ", "5/3/26", " 5/ 3/  26", " 5/ 3/  26"},      // "!" pads on the left
        {"99/99/9999;1; ", "5/3/26", "5 /3 /26  ", "5 /3 /26  "},       // without it on the right
        {"!99/99/9999;1; ", "ab/03/2026", "  /03/2026", "  /03/2026"},  // wrong characters stay blank
        {"00-000;0;_", "12345", "12-345", "12345"},                     // literals left out of the text
    };
    for (const Case& c : cases) {
        MaskEngine m(U(c.mask));
        m.SetText(U(c.in));
        EXPECT_EQ(S(m.EditText()), c.edit) << c.mask << " <- " << c.in;
        EXPECT_EQ(S(m.Text()), c.text) << c.mask << " <- " << c.in;
    }
}

TEST(MaskEngine, PasteGoesThroughTheMask) {
    MaskEngine m(U"!99/99/9999;1; ");
    EXPECT_EQ(m.Paste(0, 0, 0, U"15/03/2026"), 10);
    EXPECT_EQ(S(m.EditText()), "15/03/2026");
    MaskEngine n(U"!99/99/9999;1; ");
    EXPECT_EQ(n.Paste(0, 0, 0, U"15x"), -1);  // refused whole, nothing changes
    EXPECT_EQ(S(n.EditText()), "  /  /    ");
}

TEST(MaskEngine, CheckOnExit) {
    MaskEngine date(U"!99/99/9999;1; ");
    EXPECT_TRUE(date.Validate());  // every position optional
    MaskEngine cep(U"00000-000;1;_");
    EXPECT_FALSE(cep.Validate());
    EXPECT_EQ(cep.FirstMissing(), 0);
    cep.SetText(U"01234-56_");
    EXPECT_EQ(cep.FirstMissing(), 8);
    cep.SetText(U"01234-567");
    EXPECT_TRUE(cep.Validate());
}
