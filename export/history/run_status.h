#pragma once
// The last runs in words, for people and for monitoring: the "/status"
// command, the tray's tooltip and the window's status line.

#include "export/history/history.h"
#include "platform/regional.h"

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace exports {

// Exit statuses of "/status".
inline constexpr int kStatusOk = 0;         // the last run completed within the limit
inline constexpr int kStatusAttention = 1;  // it failed, or it is older than the limit
inline constexpr int kStatusUsage = 2;      // MINUTES is not a whole number
inline constexpr int kStatusNoRun = 3;      // nothing recorded

inline constexpr long kDefaultStatusMinutes = 1440;

// "10/12/2026 13:33:28" in the local time and the locale's formats.
std::string localTimeText(Clock::time_point t, const platform::FormatSettings& fs);

// One line: what ran, how and when it ended, the error, the counts, the
// stamp. With `now`, how long ago ("há 2 h 5 min"). UTF-8.
std::string describeRun(const RunRecord& run, const platform::FormatSettings& fs,
                        std::optional<Clock::time_point> now = std::nullopt);

// The run a monitor should judge: the newest one that did something. A run
// that found another export holding the lock did nothing; the one holding
// it records its own outcome.
const RunRecord* judgedRun(const std::vector<RunRecord>& newestFirst);

// Failed, interrupted, or documents refused: someone has to look.
bool needsAttention(Result result);

// What the desktop should be told about. With a mark, every run that needs
// attention and ended after it counts; without one (first start) only the
// judged run, so an old history does not bring up old news.
struct Announcement {
    const RunRecord* run = nullptr;         // the newest such run; null when nothing is due
    int earlier = 0;                        // further ones before it
    std::optional<Clock::time_point> mark;  // to store as announced: the newest run's end
};
Announcement pendingAnnouncement(const std::vector<RunRecord>& newestFirst,
                                 std::optional<Clock::time_point> announcedUntil);
// The notification's title and text for it. UTF-8.
std::string announcementSummary(const RunRecord& run);
std::string announcementBody(const Announcement& a, const platform::FormatSettings& fs);

// The last run in a few words for the tray's tip and the window's status
// line: what ran, how and when it ended, the error.
std::string trayRunText(const RunRecord& run, const platform::FormatSettings& fs);

// Whole minutes, 0 or more; nullopt for anything else.
std::optional<long> parseStatusMinutes(std::string_view text);

// "/status [MINUTES]": prints the judged run to `out` and returns the exit status.
int statusCommand(const std::string& historyPath, const std::vector<std::string>& arguments, std::ostream& out,
                  std::ostream& err, Clock::time_point now, const platform::FormatSettings& fs);

}  // namespace exports
