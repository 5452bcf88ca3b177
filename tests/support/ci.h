#pragma once
// Whether the tests run in CI (CI=true), where a missing prerequisite is a
// failure rather than a skip. Header only, for test programs of any kind.

#include <cstdlib>
#include <string>

namespace testsupport {

inline bool ciRun() {
    const char* ci = std::getenv("CI");
    if (!ci) return false;
    const std::string v = ci;
    return !v.empty() && v != "0" && v != "false";
}

}  // namespace testsupport

// Qt Test's form: skips outside CI, fails in CI. `what` is a string literal.
#define QREQUIRE_PREREQUISITE(available, what)                                                           \
    do {                                                                                                 \
        if (!(available)) {                                                                              \
            if (::testsupport::ciRun()) QFAIL(what " (CI=true: a missing prerequisite fails the test)"); \
            QSKIP(what);                                                                                 \
        }                                                                                                \
    } while (0)
