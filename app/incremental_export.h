#pragma once
// "Gerar" and the unattended "/executa" run: every document changed after the
// selection stamp, restricted to the ticked kinds, written to the output
// folder; then the stamp moves to the newest change examined.
//
// The row moment is the whole DIG_DATAHORA truncated to whole seconds (what
// the stored stamp can hold). A NULL moment leaves its row unselected. The
// stored stamp is written once, after every row was examined, so a run that
// ends early is repeated from the same stamp and loses nothing.

#include "platform/datetime.h"
#include "platform/regional.h"

#include <compare>
#include <optional>
#include <string>
#include <string_view>

namespace app {

// A moment to the second, compared as (date, time of day).
struct Moment {
    long long day = 0;  // date serial
    int second = 0;     // of the day, 0 .. 86399
    auto operator<=>(const Moment&) const = default;
};

// Truncates a date serial to the whole second.
Moment momentOf(platform::DateTime value);

// Reads a stamp kept as a short-date text and a long-time text (also the
// reduced-seconds stamps of older versions, as they stand).
std::optional<Moment> parseStamp(const std::string& date, const std::string& time,
                                 const platform::FormatSettings& fs);
std::string stampDateText(const Moment& m, const platform::FormatSettings& fs);
std::string stampTimeText(const Moment& m, const platform::FormatSettings& fs);

// True when a character other than a blank (codes 0 to 32) is left after trimming.
bool hasNonBlank(std::string_view text);

// The documents' prefixes.
inline constexpr const char* kPrefixCancel = "CanNFe";
inline constexpr const char* kPrefixDocument = "NFe";

}  // namespace app
