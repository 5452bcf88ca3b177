#pragma once
// The masked-edit engine: the text of a masked field, typing over positions,
// the caret stepping over literals, Backspace/Delete leaving blanks and the
// check on exit. No window inside; the widget only forwards keys to it.
//
// Mask syntax: "<positions>[;<save literals>[;<blank char>]]". Positions:
//   0 required digit   9 optional digit   # optional digit or sign
//   L required letter  l optional letter  A required letter/digit
//   a optional letter/digit  C required any char  c optional any char
//   \x the literal x   any other character: a literal
// A leading "!" shows unfilled optional positions as leading blanks when a
// shorter field text is put in. ";1" keeps the literals in the text.

#include <string>
#include <vector>

namespace controls {

class MaskEngine {
public:
    MaskEngine() = default;
    explicit MaskEngine(const std::u32string& mask) { SetMask(mask); }

    void SetMask(const std::u32string& mask);
    bool HasMask() const { return !FSlots.empty(); }
    const std::u32string& Mask() const { return FMask; }
    char32_t BlankChar() const { return FBlank; }
    bool SaveLiterals() const { return FSaveLiterals; }
    bool LeadingBlanks() const { return FLeadingBlanks; }
    int Length() const { return int(FSlots.size()); }
    bool IsLiteral(int pos) const;
    bool IsRequired(int pos) const;

    // The text shown in the edit: every position, blanks where unfilled.
    const std::u32string& EditText() const { return FText; }
    // The text as read by the program: the edit text, without the literals
    // unless they are saved.
    std::u32string Text() const;
    // Puts a text in. A text as long as the mask (with literals) goes in
    // position by position; otherwise it is spread over the fields between
    // literals, padded on the left with "!" and on the right without.
    void SetText(const std::u32string& text);
    void Clear();
    std::u32string EmptyText() const;

    // Editing. pos/selection are positions in the edit text; each call
    // returns the new caret position, or -1 when the key was refused.
    int TypeChar(int caret, int selStart, int selLength, char32_t ch);
    int Backspace(int caret, int selStart, int selLength);
    int Delete(int caret, int selStart, int selLength);
    // Pastes characters one by one as if typed; literals in the pasted text
    // that match the mask's literals are stepped over. Returns the caret or -1.
    int Paste(int caret, int selStart, int selLength, const std::u32string& text);

    // Caret helpers: the next/previous position a character can go to.
    int NextEditable(int pos) const;  // pos itself when editable; Length() when none
    int PrevEditable(int pos) const;  // last editable < pos; -1 when none
    int CaretRight(int caret) const;
    int CaretLeft(int caret) const;

    // True when every required position is filled.
    bool Validate() const;
    // Index of the first required position left blank, -1 when none.
    int FirstMissing() const;

    bool Accepts(int pos, char32_t ch) const;

private:
    struct Slot {
        char32_t kind;     // mask character, or 0 for a literal
        char32_t literal;  // the literal's character
    };
    void ClearRange(int start, int length);
    std::u32string FMask;
    std::vector<Slot> FSlots;
    std::u32string FText;
    char32_t FBlank = U'_';
    bool FSaveLiterals = true;
    bool FLeadingBlanks = false;
};

}  // namespace controls
