#pragma once
// The numeric edit's text rules: normalising a typed text, the locale-aware
// float parser with its error, the range rule, which keys keep the text a
// number, and the edit and display texts.

#include <stdexcept>
#include <string>

namespace controls {

class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct NumberSeparators {
    char decimal = ',';
    char thousand = '.';
};

std::string NormalizeNumberText(const std::string& text, NumberSeparators seps);

// The platform's decimal parser: blanks around, optional sign, digits with at
// most one decimal separator, optional exponent (its digits may be missing),
// nothing else, finite.
bool TryTextToFloat(const std::string& text, char decimalSeparator, long double& out);
// Raises EConvertError "'<text>' is not a valid floating point value".
long double TextToFloat(const std::string& text, char decimalSeparator);
std::string InvalidFloatMessage(const std::string& text);

struct NumberRange {
    long double min = 0;
    long double max = 0;
};
long double ClampToRange(long double value, NumberRange range);

// The edit text with every "?", CR and LF removed.
std::string ReadableNumberText(const std::string& editText);

// The value of an edit text: sign split off, "0" in front, normalised,
// converted, clamped. Raises EConvertError.
long double ValueFromText(const std::string& text, NumberRange range, NumberSeparators seps);

// The text after typing `key` over the selection (positions in characters of
// the UTF-32 text).
std::u32string ProspectiveText(const std::u32string& text, int selStart, int selLength, char32_t key);

// Whether a typed key keeps the text a number.
bool IsValidKey(char32_t key, const std::u32string& text, int selStart, int selLength, unsigned decimalPlaces,
                NumberRange range, NumberSeparators seps);

// The edit text of a value: pattern "0" or "0.##..." with decimalPlaces "#".
std::string FormatEditText(long double value, unsigned decimalPlaces, NumberSeparators seps);
// The text shown without focus: the display pattern with leading spaces
// removed, or 15 significant digits when the pattern is empty.
std::string FormatDisplayText(long double value, const std::string& displayFormat, NumberSeparators seps);

}  // namespace controls
