// The month a package run started without one takes: the one before the
// clock's, in local time.
#include "export/core/package_run.h"

#include <gtest/gtest.h>

#include <ctime>

namespace {

TEST(PackageRun, PreviousMonth) {
    struct Case {
        int year, month;
        const char* expected;
    };
    for (const Case c : {Case{2024, 3, "2024-02"}, Case{2024, 1, "2023-12"}, Case{2024, 12, "2024-11"}}) {
        std::tm t{};
        t.tm_year = c.year - 1900;
        t.tm_mon = c.month - 1;
        t.tm_mday = 1;
        t.tm_hour = 0;  // the first minute of the month is still this month
        t.tm_isdst = -1;
        EXPECT_EQ(exports::previousMonth(std::mktime(&t)), c.expected);
    }
}

}  // namespace
