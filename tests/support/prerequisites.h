#pragma once
// What some tests need from the machine beyond the build: a Firebird server
// and an X server. Outside CI a test without them skips, and the shared main
// makes ctest show the program as skipped; in CI (CI=true) it fails, so a
// broken CI machine cannot look like a green run.

#include <gtest/gtest.h>

namespace testsupport {

// The exit status of a program whose tests all passed or skipped, with at
// least one skipped; ctest is told about it with SKIP_RETURN_CODE.
constexpr int kSkippedStatus = 77;

bool inCi();
bool firebirdServerAnswers();  // localhost:3050 takes connections
bool xServerAnswers();         // DISPLAY names a server that takes connections

// RUN_ALL_TESTS()'s result turned into the program's exit status.
int exitStatus(int runAllTestsResult);

}  // namespace testsupport

// Skips the current test (fails it in CI) when `available` is false.
#define REQUIRE_PREREQUISITE(available, what)                                                                       \
    do {                                                                                                            \
        if (!(available)) {                                                                                         \
            if (::testsupport::inCi()) GTEST_FAIL() << what << " (CI=true: a missing prerequisite fails the test)"; \
            else GTEST_SKIP() << what;                                                                              \
        }                                                                                                           \
    } while (0)

#define REQUIRE_FIREBIRD_SERVER()                                        \
    REQUIRE_PREREQUISITE(::testsupport::firebirdServerAnswers(),         \
                         "no Firebird server answers on localhost:3050 " \
                         "(scripts/firebird-server.sh starts one)")

#define REQUIRE_X_SERVER()                                                                 \
    REQUIRE_PREREQUISITE(::testsupport::xServerAnswers(),                                  \
                         "no X server answers on DISPLAY (scripts/test.sh runs the tests " \
                         "inside xvfb-run)")
