#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace {

TEST(Codepage, EveryByteSurvivesTheRoundTrip) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += char(b);
    EXPECT_EQ(platform::utf8ToAnsi(platform::ansiToUtf8(all)), all);
}

TEST(Codepage, KnownCharacters) {
    struct Case {
        std::string ansi, utf8;
    } cases[] = {
        {"Exporta\xE7\xE3o", "Exportação"},
        {"Ve\xED"
         "culos",
         "Veículos"},
        {"\x80 \x93x\x94", "€ “x”"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::ansiToUtf8(c.ansi), c.utf8);
        EXPECT_EQ(platform::utf8ToAnsi(c.utf8), c.ansi);
    }
}

TEST(Codepage, UnmappableAndMalformedBecomeQuestionMarks) {
    EXPECT_EQ(platform::utf8ToAnsi("a\xE2\x88\x9E"
                                   "b"),
              "a?b");                                // infinity sign
    EXPECT_EQ(platform::utf8ToAnsi("a\xC3"), "a?");  // cut sequence
    EXPECT_EQ(platform::utf8ToAnsi("\xFF"
                                   "x"),
              "?x");
    EXPECT_EQ(platform::utf8ToAnsi("\xC1\xA9"), "??");       // overlong 'i'
    EXPECT_EQ(platform::utf8ToAnsi("\xED\xA0\x80"), "???");  // a surrogate
}

TEST(Codepage, MixedBytesBecomeUtf8) {
    struct Case {
        std::string bytes, utf8;
    } cases[] = {
        {"plain", "plain"},
        {"Exporta\xE7\xE3o", "Exportação"},                   // Windows-1252
        {"Exportação", "Exportação"},                         // already UTF-8
        {"Não foi \"NFe\xE7.XML\"", "Não foi \"NFeç.XML\""},  // a message around a stored key
        {"\x80 \x9D", "€ \xC2\x9D"},                          // the euro; an undefined byte keeps a code point
        {"fim \xC3", "fim Ã"},                                // UTF-8 lead byte cut off at the end
        {"\xC0\xAF", "À¯"},                                   // overlong form is not UTF-8
        {"\xED\xA0\x80", "í\xC2\xA0€"},                       // nor is a surrogate
    };
    for (const Case& c : cases) EXPECT_EQ(platform::textToUtf8(c.bytes), c.utf8) << c.bytes;
}

}  // namespace
