#pragma once
// The month's package as a run: every document whose access key carries the
// month, read from the database into NFe-AAAA-MM.zip (see export/destinations/package/package.h),
// under the same lock as the exports.

#include "export/core/job.h"
#include "export/core/summary.h"

#include <ctime>
#include <string>
#include <string_view>

namespace exports {

struct PackageJob : ConnectionJob {
    std::string yearMonth;  // "AAAA-MM"
    std::string folder;     // where the archive goes, a file system path; empty: the output folder
};

// "AAAA-MM" with a month from 01 to 12.
bool isYearMonth(std::string_view text);

// The month before the one `now` falls in (local time), as "AAAA-MM".
std::string previousMonth(std::time_t now);


}  // namespace exports
