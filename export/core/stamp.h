#pragma once
// The export stamp: the newest change moment the incremental export has
// handled, plus the transaction mark that catches rows committed late or
// stamped by a clock that is behind. Kept in the settings file as
// Data=dd/mm/yyyy, Hora=hh:mm:ss (whatever the process locale),
// MarcaTransacao=<oldest active transaction> and MarcaBase=<database identity>,
// all stored by one replacement of the file.

#include <compare>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace exports {

// A moment to the whole second.
struct Moment {
    int year = 0, month = 0, day = 0;
    int hour = 0, minute = 0, second = 0;
    auto operator<=>(const Moment&) const = default;
};

// "dd/mm/yyyy" and "hh:mm:ss".
std::string dateText(const Moment& m);
std::string timeText(const Moment& m);
// "yyyy-mm-dd hh:mm:ss", as the database reads it.
std::string sqlText(const Moment& m);
// The next whole second.
Moment nextSecond(Moment m);

// Reads "d/m/yyyy" (day and month of one or two digits) and "h:mm[:ss]"
// (leading blanks allowed). Anything else fails: a stamp of another format
// would be read the wrong way round.
std::optional<Moment> parseStamp(const std::string& date, const std::string& time);

// Reads the database's "yyyy-mm-dd hh:mm:ss.ffff", cutting the fraction
// (a change at 10:05:37.6 belongs to second 37, never 38).
std::optional<Moment> parseDatabaseMoment(const std::string& text);

class StampError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct StampRecord {
    Moment moment;
    std::string date, time;         // the texts as stored
    std::optional<long long> mark;  // MarcaTransacao
    std::string databaseIdentity;   // MarcaBase
};

// Reads the record; throws StampError naming the file and the texts when the
// date or time cannot be read. A missing or unreadable mark reads as none.
StampRecord readStamp(const std::string& settingsFile);

// The keys the stamp is kept in: Data, Hora, MarcaTransacao, MarcaBase.
const std::vector<std::string>& stampSettingsKeys();

// Stores the four keys in one replacement of the file. Throws StampError.
void storeStamp(const std::string& settingsFile, const Moment& moment, long long mark,
                const std::string& databaseIdentity);

}  // namespace exports
