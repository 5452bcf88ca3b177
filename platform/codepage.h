#pragma once
// The system's 8-bit code page (Windows-1252) against UTF-8, for showing
// stored bytes on screen and storing typed text. Every byte value has a code
// point (the five bytes Windows-1252 leaves undefined map to U+0081, U+008D,
// U+008F, U+0090, U+009D), so bytes -> UTF-8 -> bytes gives the bytes back.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// The program's one Windows-1252 table: the code points of the bytes
// 0x80-0x9F (every other byte is its own code point). The five bytes the code
// page leaves undefined hold their C1 control.
inline constexpr std::array<char16_t, 32> kAnsiHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// The code point of one Windows-1252 byte.
constexpr char32_t ansiCodePoint(unsigned char byte) {
    return byte >= 0x80 && byte < 0xA0 ? kAnsiHigh[byte - 0x80] : byte;
}

// False for the five bytes the code page leaves undefined (0x81, 0x8D, 0x8F,
// 0x90, 0x9D): a document declaring windows-1252 may not hold them.
constexpr bool ansiDefined(unsigned char byte) {
    return !(byte >= 0x80 && byte < 0xA0) || kAnsiHigh[byte - 0x80] != byte;
}

std::string ansiToUtf8(const std::string& bytes);
// Characters the code page cannot hold become '?'; malformed UTF-8 bytes too.
std::string utf8ToAnsi(const std::string& utf8);

// The length of the well-formed UTF-8 sequence starting at s[i] (1 for
// ASCII), 0 where there is none: a stray or cut byte, an overlong form, a
// surrogate, a code point above U+10FFFF. The one test of UTF-8 the program
// makes.
std::size_t utf8SequenceAt(std::string_view s, std::size_t i);

// Text whose origin mixes encodings (a message around a stored name, a
// setting typed in either) as UTF-8: well-formed UTF-8 stays, every other
// byte is read as Windows-1252.
std::string textToUtf8(std::string_view bytes);

// A key or other stored bytes as printable text: controls and bytes above
// 0x7E as \xNN.
std::string printable(const std::string& bytes);
// A message for one line of a terminal or a log: valid UTF-8 stays as it is,
// line breaks (between the parts of a database error) become "; ", other
// control bytes and bytes that are not UTF-8 (a Windows-1252 value read from
// the settings file) become \xNN, so a NUL in a value cannot cut the line short.
std::string messageText(const std::string& text);

}  // namespace platform
