#include "controls/mask_engine.h"

namespace controls {

namespace {
bool IsDigit(char32_t c) { return c >= U'0' && c <= U'9'; }
bool IsLetter(char32_t c) { return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z') || c >= 0xC0; }
bool IsPositionChar(char32_t c) {
    switch (c) {
    case U'0':
    case U'9':
    case U'#':
    case U'L':
    case U'l':
    case U'A':
    case U'a':
    case U'C':
    case U'c': return true;
    default: return false;
    }
}
}  // namespace

void MaskEngine::SetMask(const std::u32string& mask) {
    FMask = mask;
    FSlots.clear();
    FBlank = U'_';
    FSaveLiterals = true;
    FLeadingBlanks = false;
    if (mask.empty()) {
        FText.clear();
        return;
    }
    // Fields: positions ; save-literals ; blank. The last field's first
    // character is the blank; a ';' inside the positions must be escaped.
    std::u32string positions;
    size_t i = 0;
    for (; i < mask.size(); ++i) {
        if (mask[i] == U'\\' && i + 1 < mask.size()) {
            positions += mask[i];
            positions += mask[++i];
            continue;
        }
        if (mask[i] == U';') break;
        positions += mask[i];
    }
    if (i < mask.size()) {
        size_t j = i + 1;
        if (j < mask.size() && mask[j] != U';') FSaveLiterals = mask[j] != U'0', ++j;
        if (j < mask.size() && mask[j] == U';' && j + 1 < mask.size()) FBlank = mask[j + 1];
    }
    size_t p = 0;
    if (!positions.empty() && positions[0] == U'!') {
        FLeadingBlanks = true;
        p = 1;
    }
    for (; p < positions.size(); ++p) {
        char32_t c = positions[p];
        if (c == U'\\' && p + 1 < positions.size()) {
            FSlots.push_back({0, positions[++p]});
        } else if (IsPositionChar(c)) {
            FSlots.push_back({c, 0});
        } else if (c == U'>' || c == U'<') {
            // Case folding markers are not used by the editors; ignored.
        } else {
            FSlots.push_back({0, c});
        }
    }
    FText = EmptyText();
}

bool MaskEngine::IsLiteral(int pos) const { return pos >= 0 && pos < Length() && FSlots[size_t(pos)].kind == 0; }

bool MaskEngine::IsRequired(int pos) const {
    if (pos < 0 || pos >= Length()) return false;
    char32_t k = FSlots[size_t(pos)].kind;
    return k == U'0' || k == U'L' || k == U'A' || k == U'C';
}

std::u32string MaskEngine::EmptyText() const {
    std::u32string s;
    for (const Slot& sl : FSlots) s += sl.kind ? FBlank : sl.literal;
    return s;
}

void MaskEngine::Clear() { FText = EmptyText(); }

std::u32string MaskEngine::Text() const {
    if (FSaveLiterals) return FText;
    std::u32string s;
    for (int i = 0; i < Length(); ++i)
        if (!IsLiteral(i)) s += FText[size_t(i)];
    return s;
}

bool MaskEngine::Accepts(int pos, char32_t ch) const {
    if (pos < 0 || pos >= Length() || IsLiteral(pos)) return false;
    // An optional position may be typed blank.
    if ((ch == U' ' || ch == FBlank) && !IsRequired(pos)) return true;
    switch (FSlots[size_t(pos)].kind) {
    case U'0':
    case U'9': return IsDigit(ch);
    case U'#': return IsDigit(ch) || ch == U'+' || ch == U'-';
    case U'L':
    case U'l': return IsLetter(ch);
    case U'A':
    case U'a': return IsLetter(ch) || IsDigit(ch);
    default: return ch >= 32;
    }
}

void MaskEngine::SetText(const std::u32string& in) {
    FText = EmptyText();
    if (!HasMask()) return;
    // The text without literals when the literals are not kept.
    std::u32string text = in;
    if (!FSaveLiterals) {
        // Spread the characters over the editable positions only.
        std::u32string spread;
        size_t k = 0;
        for (int i = 0; i < Length(); ++i) {
            if (IsLiteral(i)) spread += FSlots[size_t(i)].literal;
            else spread += k < in.size() ? in[k++] : FBlank;
        }
        text = spread;
    }
    if (int(text.size()) == Length()) {
        for (int i = 0; i < Length(); ++i)
            if (!IsLiteral(i)) {
                char32_t c = text[size_t(i)];
                FText[size_t(i)] = Accepts(i, c) && c != U' ' ? c : FBlank;
            }
        return;
    }
    // Field by field between the literals: each mask field takes the text up
    // to the matching literal, aligned right with "!" and left without.
    size_t t = 0;
    int i = 0;
    while (i < Length()) {
        if (IsLiteral(i)) {
            if (t < text.size() && text[t] == FSlots[size_t(i)].literal) ++t;
            ++i;
            continue;
        }
        int start = i;
        while (i < Length() && !IsLiteral(i)) ++i;
        int width = i - start;
        char32_t stop = i < Length() ? FSlots[size_t(i)].literal : 0;
        std::u32string part;
        while (t < text.size() && (stop == 0 || text[t] != stop)) part += text[t++];
        if (int(part.size()) > width) part.resize(size_t(width));
        int offset = FLeadingBlanks ? width - int(part.size()) : 0;
        for (int k = 0; k < int(part.size()); ++k) {
            int pos = start + offset + k;
            FText[size_t(pos)] = Accepts(pos, part[size_t(k)]) && part[size_t(k)] != U' ' ? part[size_t(k)] : FBlank;
        }
    }
}

int MaskEngine::NextEditable(int pos) const {
    if (pos < 0) pos = 0;
    while (pos < Length() && IsLiteral(pos)) ++pos;
    return pos;
}

int MaskEngine::PrevEditable(int pos) const {
    --pos;
    while (pos >= 0 && IsLiteral(pos)) --pos;
    return pos;
}

int MaskEngine::CaretRight(int caret) const {
    if (caret >= Length()) return Length();
    int next = NextEditable(caret + 1);
    return next;
}

int MaskEngine::CaretLeft(int caret) const {
    int prev = PrevEditable(caret);
    return prev < 0 ? NextEditable(0) : prev;
}

void MaskEngine::ClearRange(int start, int length) {
    for (int i = start; i < start + length && i < Length(); ++i)
        if (i >= 0 && !IsLiteral(i)) FText[size_t(i)] = FBlank;
}

int MaskEngine::TypeChar(int caret, int selStart, int selLength, char32_t ch) {
    if (!HasMask()) return -1;
    int pos = selLength > 0 ? selStart : caret;
    pos = NextEditable(pos);
    // A typed literal steps over the same literal.
    if (selLength == 0 && IsLiteral(caret) && FSlots[size_t(caret)].literal == ch) return NextEditable(caret + 1);
    // The literal the caret has just stepped over may be typed too.
    if (selLength == 0 && !Accepts(pos, ch) && pos > 0 && IsLiteral(pos - 1) && FSlots[size_t(pos - 1)].literal == ch)
        return pos;
    if (pos >= Length() || !Accepts(pos, ch)) return -1;
    if (selLength > 0) ClearRange(selStart, selLength);
    FText[size_t(pos)] = ch == U' ' ? FBlank : ch;
    return NextEditable(pos + 1);
}

int MaskEngine::Backspace(int caret, int selStart, int selLength) {
    if (!HasMask()) return -1;
    if (selLength > 0) {
        ClearRange(selStart, selLength);
        return selStart;
    }
    int pos = PrevEditable(caret);
    if (pos < 0) return caret;
    FText[size_t(pos)] = FBlank;
    return pos;
}

int MaskEngine::Delete(int caret, int selStart, int selLength) {
    if (!HasMask()) return -1;
    if (selLength > 0) {
        ClearRange(selStart, selLength);
        return selStart;
    }
    int pos = NextEditable(caret);
    if (pos >= Length()) return caret;
    FText[size_t(pos)] = FBlank;
    return caret;
}

int MaskEngine::Paste(int caret, int selStart, int selLength, const std::u32string& text) {
    if (!HasMask()) return -1;
    std::u32string saved = FText;
    int pos = selLength > 0 ? selStart : caret;
    if (selLength > 0) ClearRange(selStart, selLength);
    for (char32_t ch : text) {
        if (pos >= Length()) break;
        if (IsLiteral(pos) && FSlots[size_t(pos)].literal == ch) {
            ++pos;
            continue;
        }
        pos = NextEditable(pos);
        if (pos >= Length()) break;
        if (!Accepts(pos, ch)) {
            FText = saved;
            return -1;
        }
        FText[size_t(pos)] = ch == U' ' ? FBlank : ch;
        ++pos;
    }
    return NextEditable(pos);
}

int MaskEngine::FirstMissing() const {
    for (int i = 0; i < Length(); ++i)
        if (IsRequired(i) && FText[size_t(i)] == FBlank) return i;
    return -1;
}

bool MaskEngine::Validate() const { return FirstMissing() < 0; }

}  // namespace controls
