#pragma once
// Number patterns and the general number format, with the separators given
// by the caller (read from the locale at the moment of use).
//
// A pattern has up to three sections split by ";" (positive; negative;
// zero). In a section: "0" a digit always written, "#" a digit written only
// when significant, the first "." the decimal point, "," anywhere turns on
// grouping in threes, text in single or double quotes as it stands,
// "E+"/"E-"/"e+"/"e-" followed by "0"s scientific notation, any other
// character written where it stands.

#include <string>

namespace controls {

// Digits of |value| rounded half away from zero at 18 significant digits,
// as the classic run-time library does for extended floats.
std::string FormatFloat(const std::string& pattern, long double value, char decimalSeparator, char thousandSeparator);

// General format with `precision` significant digits: trailing zeros dropped,
// fixed notation for 1e-4 <= |v| < 10^precision, otherwise e.g. "1E20",
// "1,5E-5".
std::string FormatGeneral(long double value, int precision, char decimalSeparator);

}  // namespace controls
