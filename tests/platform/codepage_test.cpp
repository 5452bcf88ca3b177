#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace {

TEST(Codepage, EveryByteSurvivesTheRoundTrip) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += char(b);
    EXPECT_EQ(platform::utf8ToAnsi(platform::ansiToUtf8(all)), all);
}

TEST(Codepage, KnownCharacters) {
    struct Case { std::string ansi, utf8; } cases[] = {
        {"Exporta\xE7\xE3o", "Exportação"},
        {"Ve\xED" "culos", "Veículos"},
        {"\x80 \x93x\x94", "€ “x”"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::ansiToUtf8(c.ansi), c.utf8);
        EXPECT_EQ(platform::utf8ToAnsi(c.utf8), c.ansi);
    }
}

TEST(Codepage, UnmappableAndMalformedBecomeQuestionMarks) {
    EXPECT_EQ(platform::utf8ToAnsi("a\xE2\x88\x9E" "b"), "a?b");  // infinity sign
    EXPECT_EQ(platform::utf8ToAnsi("a\xC3"), "a?");               // cut sequence
    EXPECT_EQ(platform::utf8ToAnsi("\xFF" "x"), "?x");
}

}  // namespace
