#include "platform/codepage.h"

#include <cstdio>

#include <cstdint>

namespace platform {
namespace {

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

char toAnsi(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return char(cp);
    for (int i = 0; i < 32; ++i)
        if (kAnsiHigh[i] == cp) return char(0x80 + i);
    return '?';
}

}  // namespace

std::string ansiToUtf8(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    for (unsigned char c : bytes) {
        if (c < 0x80) out += char(c);
        else appendUtf8(out, ansiCodePoint(c));
    }
    return out;
}

std::size_t utf8SequenceAt(std::string_view text, std::size_t i) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    if (i >= n) return 0;
    const unsigned char c = s[i];
    if (c < 0x80) return 1;
    std::size_t len;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) len = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        if (c == 0xE0) lo = 0xA0;       // overlong
        else if (c == 0xED) hi = 0x9F;  // surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        if (c == 0xF0) lo = 0x90;       // overlong
        else if (c == 0xF4) hi = 0x8F;  // beyond U+10FFFF
    } else return 0;
    if (n - i < len) return 0;
    if (s[i + 1] < lo || s[i + 1] > hi) return 0;
    for (std::size_t k = 2; k < len; ++k)
        if ((s[i + k] & 0xC0) != 0x80) return 0;
    return len;
}

std::string textToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        if (const std::size_t len = utf8SequenceAt(bytes, i)) {
            out.append(bytes.data() + i, len);
            i += len;
        } else {
            appendUtf8(out, ansiCodePoint(static_cast<unsigned char>(bytes[i++])));
        }
    }
    return out;
}

std::string utf8ToAnsi(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const std::size_t len = utf8SequenceAt(utf8, i);
        if (len == 0) {
            out += '?';
            ++i;
            continue;
        }
        const auto* s = reinterpret_cast<const unsigned char*>(utf8.data() + i);
        char32_t cp = len == 1 ? s[0] : len == 2 ? (s[0] & 0x1F) : len == 3 ? (s[0] & 0x0F) : (s[0] & 0x07);
        for (std::size_t k = 1; k < len; ++k) cp = (cp << 6) | (s[k] & 0x3F);
        out += toAnsi(cp);
        i += len;
    }
    return out;
}

std::string printable(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c < 0x20 || c > 0x7E || c == '\\') {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string messageText(const std::string& text) {
    std::string out;
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    auto escape = [&](unsigned char c) {
        char hex[5];
        std::snprintf(hex, sizeof hex, "\\x%02X", c);
        out += hex;
    };
    for (size_t i = 0; i < n;) {
        const unsigned char c = s[i];
        // The database's messages put each part of an error on a line of its own.
        if (c == '\n' || (c == '\r' && i + 1 < n && s[i + 1] == '\n')) {
            out += "; ";
            i += c == '\r' ? 2 : 1;
            continue;
        }
        if (c < 0x80) {
            if (c < 0x20 || c == 0x7F) escape(c);
            else out += static_cast<char>(c);
            ++i;
            continue;
        }
        const size_t len = platform::utf8SequenceAt(text, i);
        bool ok = len != 0;
        // C1 controls (U+0080..U+009F) are control bytes too.
        if (ok && len == 2 && c == 0xC2 && s[i + 1] < 0xA0) ok = false;
        if (!ok) {
            escape(c);
            ++i;
            continue;
        }
        out.append(text, i, len);
        i += len;
    }
    return out;
}

}  // namespace platform
