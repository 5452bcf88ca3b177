#include "export/core/package_run.h"

#include "export/core/pipeline.h"

#include <cstdio>

namespace exports {

bool isYearMonth(std::string_view text) {
    if (text.size() != 7 || text[4] != '-') return false;
    for (size_t i : {0, 1, 2, 3, 5, 6})
        if (text[i] < '0' || text[i] > '9') return false;
    const int month = (text[5] - '0') * 10 + (text[6] - '0');
    return month >= 1 && month <= 12;
}

std::string previousMonth(std::time_t now) {
    std::tm local{};
    ::localtime_r(&now, &local);
    int year = local.tm_year + 1900, month = local.tm_mon;  // tm_mon is 0-based: this is last month
    if (month == 0) {
        month = 12;
        --year;
    }
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d", year, month);
    return text;
}

}  // namespace exports
